// The pass-through contract on the simulator's backend: a simulated device on a simulated bus.
#include <gtest/gtest.h>

#include <cerrno>

#include "device/sim/SimBus.h"
#include "tests/sim/SimHost.h"
#include "tests/support/BackendContract.h"

namespace brev::sim {
namespace {

using ::brev::test::Answer;
using ::brev::test::Arranged;
using ::brev::test::ContractCase;

class SimRig {
public:
    SimRig() { bus_->Attach("sim0", device_); }

    std::unique_ptr<IPassThroughHandle> Open() {
        OpenError err = OpenError::Other;
        auto handle = backend_->OpenVolume("sim0", SimBus::PathFor("sim0"), &err);
        EXPECT_EQ(err, OpenError::None);
        return handle;
    }

    // The device runs real commands: each answer is the one the chip gives to some command.
    std::optional<Arranged> Arrange(const ContractCase& c, std::string& why) {
        Arranged a;
        a.cdb = test::MakeCdb(cmd::Init);
        if (c.dir == DataDirection::Out) a.cdb = test::MakeCdb(cmd::WriteRam, c.length, kSimRamBase);
        if (c.dir == DataDirection::In && c.length > 0) a.cdb = test::MakeCdb(cmd::Read, c.length, 0);
        switch (c.answer) {
            case Answer::Good:
                if (c.dir == DataDirection::In && c.length > 0) {
                    a.dataIn = test::Pattern(c.length, 3);
                    device_->WriteNorRaw(0, a.dataIn);
                    const auto init = test::MakeCdb(cmd::Init);
                    if (!device_->HandleCommand(init.data(), DataDirection::None, nullptr, 0).ok()) {
                        why = "the device did not take Init";
                        return std::nullopt;
                    }
                }
                break;
            case Answer::ShortIn: {
                // The read runs; only its first bytes reach the host.
                a.dataIn = test::Pattern(c.length, 3);
                device_->WriteNorRaw(0, a.dataIn);
                const auto init = test::MakeCdb(cmd::Init);
                if (!device_->HandleCommand(init.data(), DataDirection::None, nullptr, 0).ok()) {
                    why = "the device did not take Init";
                    return std::nullopt;
                }
                FaultConfig faults;
                faults.shortIn = true;
                faults.shortSubCommand = cmd::Read;
                faults.shortBytes = ::brev::test::kShortMoved;
                device_->SetFaults(faults);
                break;
            }
            case Answer::ShortOut:
                why = "the simulated device takes every data-out phase it accepts in full";
                return std::nullopt;
            case Answer::CheckFixed:
                a.cdb[0] = 0x00;  // not one of the chip's commands
                break;
            case Answer::CheckDescriptor:
                break;  // a read before Init
            case Answer::Timeout: {
                FaultConfig faults;
                faults.timeoutNth = 1;
                device_->SetFaults(faults);
                break;
            }
            case Answer::Gone:
                bus_->Detach("sim0");
                break;
            case Answer::OsFailure: {
                // Refused on its way, as the system refuses a request (here: busy).
                FaultConfig faults;
                faults.refusal = FaultConfig::Refusal::SystemBusy;
                faults.refuseSubCommand = a.cdb[1];
                device_->SetFaults(faults);
                break;
            }
        }
        return a;
    }

    int Requests() const { return device_->commandCount(); }
    int OsCode(::brev::test::OsCode kind) const {
        return kind == ::brev::test::OsCode::InvalidArgument ? EINVAL
               : kind == ::brev::test::OsCode::Failure       ? EBUSY
                                                             : 0;
    }
    VolumeIdentity Identity() const {
        return {BusType::Usb, device_->config().vendor, device_->config().product};
    }
    void DropBackend() { backend_.reset(); }
    std::optional<int> Closes() const { return std::nullopt; }

private:
    std::shared_ptr<SimDevice> device_ = std::make_shared<SimDevice>();
    std::shared_ptr<SimBus> bus_ = std::make_shared<SimBus>();
    std::shared_ptr<IPassThroughBackend> backend_ = std::make_shared<SimBackend>(bus_);
};

BREV_BACKEND_CONTRACT_TESTS(SimContract, SimRig)

}  // namespace
}  // namespace brev::sim
