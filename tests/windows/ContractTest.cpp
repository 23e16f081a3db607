// The pass-through contract on the Windows backend, over the scripted Win32 calls.
#include <gtest/gtest.h>

#include <numeric>

#include "device/windows/WindowsBackend.h"
#include "tests/support/BackendContract.h"
#include "tests/windows/FakeWindows.h"

namespace brev {
namespace {

using test::Answer;
using test::Arranged;
using test::ContractCase;

constexpr char kVendor[] = "BRVNTIS ";
constexpr char kProduct[] = "DEVICE          ";

class WindowsRig {
public:
    WindowsRig() {
        fake_.descriptor = test::Descriptor(7, 100, kVendor, 200, kProduct);
        backend_ = MakeWindowsBackend(fake_.System());
    }

    std::unique_ptr<IPassThroughHandle> Open() {
        OpenError err = OpenError::Other;
        auto handle = backend_->OpenVolume("E", "\\\\.\\E:", &err);
        EXPECT_EQ(err, OpenError::None);
        return handle;
    }

    std::optional<Arranged> Arrange(const ContractCase& c, std::string&) {
        Arranged a;
        std::iota(a.cdb.begin(), a.cdb.end(), uint8_t{0xA0});
        a.dataIn = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
        fake_.ioError = 0;
        fake_.scsiStatus = 0;
        fake_.sense.clear();
        fake_.moved.reset();
        switch (c.answer) {
            case Answer::Good:
                if (c.dir == DataDirection::In) fake_.moved = a.dataIn;
                break;
            case Answer::ShortIn:
            case Answer::ShortOut:
                // DataTransferLength comes back as the count moved, in either direction.
                fake_.moved = std::vector<uint8_t>(a.dataIn.begin(), a.dataIn.begin() + test::kShortMoved);
                break;
            case Answer::CheckFixed:
            case Answer::CheckDescriptor:
                fake_.scsiStatus = 0x02;
                fake_.sense = c.answer == Answer::CheckFixed ? test::kFixedSense : test::kDescriptorSense;
                fake_.moved = std::vector<uint8_t>();
                break;
            case Answer::Timeout:
                fake_.ioError = ERROR_SEM_TIMEOUT;
                break;
            case Answer::Gone:
                fake_.ioError = ERROR_DEVICE_NOT_CONNECTED;
                fake_.identifyFails = true;
                break;
            case Answer::OsFailure:
                fake_.ioError = ERROR_IO_DEVICE;
                break;
        }
        return a;
    }

    int Requests() const { return fake_.passThroughCalls; }

    int OsCode(test::OsCode kind) const {
        switch (kind) {
            case test::OsCode::InvalidArgument:
                return ERROR_INVALID_PARAMETER;
            case test::OsCode::Gone:
                return ERROR_DEVICE_NOT_CONNECTED;
            case test::OsCode::Timeout:
                return ERROR_SEM_TIMEOUT;
            case test::OsCode::Failure:
                return ERROR_IO_DEVICE;
            default:
                return 0;
        }
    }

    VolumeIdentity Identity() const { return {BusType::Usb, kVendor, kProduct}; }
    void DropBackend() { backend_.reset(); }
    std::optional<int> Closes() const { return fake_.closes; }

private:
    test::FakeWindows fake_;
    std::shared_ptr<IPassThroughBackend> backend_;
};

BREV_BACKEND_CONTRACT_TESTS(WindowsContract, WindowsRig)

}  // namespace
}  // namespace brev
