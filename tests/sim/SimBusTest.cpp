// The simulated bus and backend, held to the contract of an OS backend.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "device/sim/SimBus.h"
#include "image/Crc16.h"
#include "tests/sim/SimHost.h"

#ifndef _WIN32
#include <poll.h>
#endif

namespace brev::sim::test {
namespace {

using Kind = DeviceEvent::Kind;

bool Readable(int fd) {
#ifndef _WIN32
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
#else
    (void)fd;
    return false;
#endif
}

std::vector<std::pair<Kind, std::string>> Drain(SimBus& bus) {
    std::vector<std::pair<Kind, std::string>> out;
    for (const auto& e : bus.ReadEvents()) {
        EXPECT_EQ(e.volume.path, SimBus::PathFor(e.volume.name));
        out.emplace_back(e.kind, e.volume.name);
    }
    return out;
}

TransferResult Send(IPassThroughHandle& h, const Block& b) {
    return h.Execute(b.data(), DataDirection::None, nullptr, 0, kPassThroughTimeoutMs);
}

TEST(SimBus, RaisesArrivalAndRemovalLikeAnOsBackend) {
    auto bus = std::make_shared<SimBus>();
    SimBackend backend(bus);
#ifndef _WIN32
    ASSERT_GE(bus->Fd(), 0);
#endif
    EXPECT_FALSE(Readable(bus->Fd()));

    bus->Attach("sim1", std::make_shared<SimDevice>());
    bus->Attach("sim0", std::make_shared<SimDevice>(SimDeviceConfig::PcMode()));
#ifndef _WIN32
    EXPECT_TRUE(Readable(bus->Fd()));
#endif
    EXPECT_EQ(Drain(*bus),
              (std::vector<std::pair<Kind, std::string>>{{Kind::Arrival, "sim1"}, {Kind::Arrival, "sim0"}}));
    EXPECT_FALSE(Readable(bus->Fd()));

    const auto volumes = backend.ListVolumes();
    ASSERT_EQ(volumes.size(), 2u);
    EXPECT_EQ(volumes[0].name, "sim0");
    EXPECT_EQ(volumes[1].path, "sim:sim1");
    EXPECT_EQ(backend.QueryDriveType("sim0", "sim:sim0"), DriveType::Removable);
    EXPECT_EQ(backend.QueryDriveType("sim7", "sim:sim7"), DriveType::NoRootDir);

    OpenError err = OpenError::None;
    auto handle = backend.OpenVolume("sim0", "sim:sim0", &err);
    ASSERT_NE(handle, nullptr);
    VolumeIdentity id;
    ASSERT_TRUE(handle->Identify(id));
    EXPECT_EQ(id.bus, BusType::Usb);
    EXPECT_EQ(id.vendor, "BRVNTIS ");
    EXPECT_EQ(id.product, "COMP_AUDIO      ");

    bus->Detach("sim0");
    bus->Detach("sim0");  // a second removal of the same volume raises nothing
    EXPECT_EQ(Drain(*bus), (std::vector<std::pair<Kind, std::string>>{{Kind::Removal, "sim0"}}));
    EXPECT_EQ(backend.QueryDriveType("sim0", "sim:sim0"), DriveType::NoRootDir);
    EXPECT_EQ(backend.OpenVolume("sim0", "sim:sim0", &err), nullptr);
    EXPECT_EQ(err, OpenError::NotFound);
    EXPECT_EQ(backend.OpenVolume("sim1", "sim:other", &err), nullptr);
}

TEST(SimBus, HandlesDieWithTheirAttachmentAndStayDead) {
    auto bus = std::make_shared<SimBus>();
    SimBackend backend(bus);
    auto dev = std::make_shared<SimDevice>();
    bus->Attach("sim0", dev);
    auto old = backend.OpenVolume("sim0", "sim:sim0", nullptr);
    ASSERT_NE(old, nullptr);
    ASSERT_TRUE(Send(*old, MakeCdb(cmd::Init, 9)).ok());

    bus->Detach("sim0");
    EXPECT_EQ(Send(*old, MakeCdb(cmd::Init, 9)).status, TransferStatus::NoDevice);
    VolumeIdentity id;
    EXPECT_FALSE(old->Identify(id));

    bus->Attach("sim0", dev);  // plugged in again: powered up afresh
    EXPECT_FALSE(dev->initialized());
    EXPECT_EQ(Send(*old, MakeCdb(cmd::Init, 9)).status, TransferStatus::NoDevice);
    auto fresh = backend.OpenVolume("sim0", "sim:sim0", nullptr);
    ASSERT_NE(fresh, nullptr);
    EXPECT_TRUE(Send(*fresh, MakeCdb(cmd::Init, 9)).ok());
}

TEST(SimBus, ADeviceThatDropsOffLeavesTheBus) {
    auto bus = std::make_shared<SimBus>();
    SimBackend backend(bus);
    SimDeviceConfig config;
    config.faults.dropAfterCommands = 1;
    bus->Attach("sim0", std::make_shared<SimDevice>(config));
    Drain(*bus);
    auto handle = backend.OpenVolume("sim0", "sim:sim0", nullptr);
    ASSERT_NE(handle, nullptr);
    EXPECT_TRUE(Send(*handle, MakeCdb(cmd::Init, 9)).ok());
    EXPECT_EQ(Drain(*bus), (std::vector<std::pair<Kind, std::string>>{{Kind::Removal, "sim0"}}));
    EXPECT_TRUE(bus->Names().empty());
    EXPECT_EQ(Send(*handle, MakeCdb(cmd::Init, 9)).status, TransferStatus::NoDevice);
}

TEST(SimBus, ARequestAboveThePathsLimitIsRefusedUnsent) {
    auto bus = std::make_shared<SimBus>();
    SimBackend backend(bus);
    SimDeviceConfig config;
    config.maxTransfer = 0x10000;
    auto dev = std::make_shared<SimDevice>(config);
    bus->Attach("sim0", dev);
    auto handle = backend.OpenVolume("sim0", "sim:sim0", nullptr);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(handle->MaxTransferLength(), 0x10000u);
    ASSERT_TRUE(Send(*handle, MakeCdb(cmd::Init, 9)).ok());

    for (const uint32_t length : {0x10000u, 0x10001u}) {
        SCOPED_TRACE(length);
        std::vector<uint8_t> buffer(length);
        const auto read = MakeCdb(cmd::Read, length, 0);
        const int before = dev->commandCount();
        const auto r = handle->Execute(read.data(), DataDirection::In, buffer.data(), length, 1000);
        const bool fits = length <= 0x10000;
        EXPECT_EQ(r.status, fits ? TransferStatus::Ok : TransferStatus::OsError);
        EXPECT_EQ(r.osError, fits ? 0 : EINVAL);
        EXPECT_EQ(r.residual, fits ? 0u : length);
        EXPECT_EQ(dev->commandCount() - before, fits ? 1 : 0);
    }
}

// SystemReset and the reset program restart the chip: it leaves the bus and, once booted,
// arrives again; handles of the old attachment stay dead.
TEST(SimBus, AResetDeviceLeavesAndArrivesAgain) {
    using Events = std::vector<std::pair<Kind, std::string>>;
    const struct {
        const char* what;
        bool resetProgram;
        bool intoPcMode;
        double rebootUs;
    } cases[] = {
        {"SystemReset, back at once", false, false, 1},
        {"SystemReset, back after 50 ms", false, false, 50'000},
        {"reset program, into PC mode", true, true, 1},
        {"SystemReset, into PC mode after 30 ms", false, true, 30'000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto bus = std::make_shared<SimBus>();
        SimBackend backend(bus);
        SimDeviceConfig config;
        config.resetIntoPcMode = c.intoPcMode;
        config.timing.rebootUs = c.rebootUs;
        auto dev = std::make_shared<SimDevice>(config);
        bus->Attach("sim0", dev);
        Drain(*bus);
        auto handle = backend.OpenVolume("sim0", "sim:sim0", nullptr);
        ASSERT_NE(handle, nullptr);
        ASSERT_TRUE(Send(*handle, MakeCdb(cmd::Init, 9)).ok());

        const auto started = std::chrono::steady_clock::now();
        if (c.resetProgram) {
            auto program = StandInResetProgram();
            program.erase(program.begin(), program.begin() + 256);  // the host skips the header
            const auto load = MakeCdb(cmd::WriteRam, uint32_t(program.size()), cmd::kResetProgramLoadAddr);
            ASSERT_TRUE(
                handle
                    ->Execute(load.data(), DataDirection::Out, program.data(), uint32_t(program.size()), 1000)
                    .ok());
            EXPECT_TRUE(Send(*handle, MakeCdb(cmd::Execute, 0, cmd::kResetProgramExecAddr)).ok());
        } else {
            EXPECT_TRUE(Send(*handle, MakeCdb(cmd::SystemReset)).ok());  // answered before it goes
        }
        EXPECT_EQ(Send(*handle, MakeCdb(cmd::Init, 9)).status, TransferStatus::NoDevice);

        Events events = Drain(*bus);
        while (events.size() < 2 && std::chrono::steady_clock::now() - started < std::chrono::seconds(5)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            for (auto& e : Drain(*bus)) events.push_back(e);
        }
        EXPECT_EQ(events, (Events{{Kind::Removal, "sim0"}, {Kind::Arrival, "sim0"}}));
        EXPECT_GE(std::chrono::steady_clock::now() - started,
                  std::chrono::microseconds(static_cast<int64_t>(c.rebootUs)));
        EXPECT_EQ(dev->resetCount(), 1);

        EXPECT_EQ(Send(*handle, MakeCdb(cmd::Init, 9)).status, TransferStatus::NoDevice);
        auto fresh = backend.OpenVolume("sim0", "sim:sim0", nullptr);
        ASSERT_NE(fresh, nullptr);
        VolumeIdentity id;
        ASSERT_TRUE(fresh->Identify(id));
        EXPECT_EQ(id.product, c.intoPcMode ? "COMP_AUDIO      " : "DEVICE          ");
        // In PC mode it answers the firmware's update commands, not the chip's.
        EXPECT_EQ(Send(*fresh, MakeCdb(cmd::Init, 9)).ok(), !c.intoPcMode);
        EXPECT_EQ(Send(*fresh, MakeCdb(cmd::PcStartErase)).ok(), c.intoPcMode);
    }
}

TEST(SimBus, ABareModelWithoutABootTimeStaysOnTheBusThroughAReset) {
    auto bus = std::make_shared<SimBus>();
    SimBackend backend(bus);
    auto dev = std::make_shared<SimDevice>();
    bus->Attach("sim0", dev);
    Drain(*bus);
    auto handle = backend.OpenVolume("sim0", "sim:sim0", nullptr);
    ASSERT_NE(handle, nullptr);
    ASSERT_TRUE(Send(*handle, MakeCdb(cmd::SystemReset)).ok());
    EXPECT_EQ(dev->resetCount(), 1);
    EXPECT_TRUE(Send(*handle, MakeCdb(cmd::Init, 9)).ok());
    EXPECT_TRUE(Drain(*bus).empty());
}

TEST(SimBus, ADevicePluggedInWhileAResetOneBootsKeepsTheName) {
    auto bus = std::make_shared<SimBus>();
    SimBackend backend(bus);
    SimDeviceConfig config;
    config.timing.rebootUs = 30'000;
    auto dev = std::make_shared<SimDevice>(config);
    bus->Attach("sim0", dev);
    auto handle = backend.OpenVolume("sim0", "sim:sim0", nullptr);
    ASSERT_NE(handle, nullptr);
    ASSERT_TRUE(Send(*handle, MakeCdb(cmd::SystemReset)).ok());
    // Another device plugged in under the name while the first one boots keeps it.
    auto other = std::make_shared<SimDevice>(SimDeviceConfig::PcMode());
    bus->Attach("sim0", other);
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
    EXPECT_EQ(bus->Find("sim0"), other);
}

TEST(SimBus, HostsOnSeveralThreadsShareOneDevice) {
    auto bus = std::make_shared<SimBus>();
    SimBackend backend(bus);
    auto dev = std::make_shared<SimDevice>();
    bus->Attach("sim0", dev);
    constexpr uint32_t kThreads = 4, kBlocks = 8, kBlock = 4096;
    std::vector<int> verified(kThreads, 0);
    std::vector<std::thread> threads;
    for (uint32_t t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            auto h = backend.OpenVolume("sim0", "sim:sim0", nullptr);
            if (!h || !Send(*h, MakeCdb(cmd::Init, 9)).ok()) return;
            for (uint32_t b = 0; b < kBlocks; ++b) {
                const uint32_t addr = (t * kBlocks + b) * kBlock;
                auto data = Pattern(kBlock, addr);
                auto crcIn = std::vector<uint8_t>(2);
                const auto write = MakeCdb(cmd::WritePage, kBlock, addr);
                const auto crc = MakeCdb(cmd::GetCrc16, kBlock, addr);
                if (Send(*h, MakeCdb(cmd::Erase4K, 0, addr)).ok() &&
                    h->Execute(write.data(), DataDirection::Out, data.data(), kBlock, 1000).ok() &&
                    h->Execute(crc.data(), DataDirection::In, crcIn.data(), 2, 1000).ok() &&
                    uint16_t(crcIn[0] | crcIn[1] << 8) == Crc16Ccitt(data.data(), kBlock))
                    ++verified[t];
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(verified, std::vector<int>(kThreads, int(kBlocks)));
    EXPECT_EQ(dev->commandCount(), int(kThreads * (1 + 3 * kBlocks)));
}

}  // namespace
}  // namespace brev::sim::test
