// The pass-through contract on the Linux backend, over the fake sysfs tree and SG_IO.
#include <gtest/gtest.h>

#include <cerrno>
#include <numeric>

#include "tests/linux/FakeLinux.h"
#include "tests/support/BackendContract.h"

namespace brev {
namespace {

using test::Answer;
using test::Arranged;
using test::ContractCase;

class LinuxRig {
public:
    LinuxRig() {
        test::FakeDisk disk;
        disk.name = "sdb";
        fake_.Add(disk);
        LinuxSystem sys = fake_.System();
        calls_.Install(sys);
        backend_ = MakeLinuxBackend(sys);
    }

    std::unique_ptr<IPassThroughHandle> Open() {
        OpenError err = OpenError::Other;
        auto handle = backend_->OpenVolume("sdb", fake_.devRoot() + "/sdb", &err);
        EXPECT_EQ(err, OpenError::None);
        return handle;
    }

    std::optional<Arranged> Arrange(const ContractCase& c, std::string&) {
        Arranged a;
        std::iota(a.cdb.begin(), a.cdb.end(), uint8_t{0xA0});
        a.dataIn = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
        auto& answer = calls_.answer;
        answer = {};
        calls_.outMoved.reset();
        switch (c.answer) {
            case Answer::Good:
                answer.dataIn = a.dataIn;
                break;
            case Answer::ShortIn:
                answer.dataIn.assign(a.dataIn.begin(), a.dataIn.begin() + test::kShortMoved);
                break;
            case Answer::ShortOut:
                calls_.outMoved = test::kShortMoved;
                break;
            case Answer::CheckFixed:
            case Answer::CheckDescriptor:
                answer.status = 0x02;
                answer.driverStatus = 0x08;  // DRIVER_SENSE
                answer.sense = c.answer == Answer::CheckFixed ? test::kFixedSense : test::kDescriptorSense;
                break;
            case Answer::Timeout:
                answer.hostStatus = 0x03;  // DID_TIME_OUT
                break;
            case Answer::Gone:
                fake_.Remove("sdb");
                answer.errnoValue = ENODEV;
                break;
            case Answer::OsFailure:
                answer.errnoValue = EIO;
                break;
        }
        return a;
    }

    int Requests() const { return static_cast<int>(calls_.requests.size()); }

    int OsCode(test::OsCode kind) const {
        switch (kind) {
            case test::OsCode::InvalidArgument:
                return EINVAL;
            case test::OsCode::Gone:
                return ENODEV;
            case test::OsCode::Failure:
                return EIO;
            default:
                return 0;  // a time-out comes in the host byte, not as an errno
        }
    }

    VolumeIdentity Identity() const {
        const test::FakeDisk disk;
        return {BusType::Usb, disk.vendor, disk.product};
    }

    void DropBackend() { backend_.reset(); }
    std::optional<int> Closes() const { return static_cast<int>(calls_.closes.size()); }

private:
    test::FakeSysfs fake_;
    test::FakeCalls calls_;
    std::shared_ptr<IPassThroughBackend> backend_;
};

BREV_BACKEND_CONTRACT_TESTS(LinuxContract, LinuxRig)

}  // namespace
}  // namespace brev
