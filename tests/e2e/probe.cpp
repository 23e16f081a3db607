// brevload-e2e-probe: the guest's view of the gadgets through the Linux backend, used by the
// end-to-end scenarios: what a scan finds, hot-plug events, flash read-back, the test area's
// single commands, and the round-trip benchmark.
#include <poll.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "device/CMutilMassStorage.h"
#include "device/CommandSet.h"
#include "device/MassDevice.h"
#include "device/linux/LinuxBackend.h"
#include "device/sim/SimDevice.h"
#include "image/Crc16.h"
#include "ops/Diagnostics.h"
#include "ops/JobNotifier.h"
#include "ops/SharedSettings.h"

namespace {

using namespace brev;
using Clock = std::chrono::steady_clock;

int Usage() {
    std::fprintf(stderr,
                 "usage: brevload-e2e-probe scan VENDOR PRODUCT\n"
                 "       brevload-e2e-probe monitor SECONDS\n"
                 "       brevload-e2e-probe readback NAME ADDR LENGTH FILE\n"
                 "       brevload-e2e-probe bench NAME COMMANDS MIB\n"
                 "       brevload-e2e-probe sense NAME\n"
                 "       brevload-e2e-probe test-area NAME read|write-page FILE\n"
                 "       brevload-e2e-probe crc FILE OFFSET LENGTH\n"
                 "       brevload-e2e-probe programs DIR\n");
    return 2;
}

const char* TypeText(DriveType t) {
    switch (t) {
        case DriveType::Removable:
            return "removable";
        case DriveType::Fixed:
            return "fixed";
        case DriveType::CdRom:
            return "cdrom";
        default:
            return "other";
    }
}

// Every SCSI disk with what the backend reports, then the scanner's matches.
int Scan(const std::string& vendor, const std::string& product) {
    auto backend = MakeLinuxBackend();
    for (const auto& v : backend->ListVolumes()) {
        OpenError err = OpenError::None;
        VolumeIdentity id;
        auto handle = backend->OpenVolume(v.name, v.path, &err);
        const bool identified = handle && handle->Identify(id);
        std::printf("volume %s type=%s bus=%s vendor=\"%s\" product=\"%s\"%s\n", v.name.c_str(),
                    TypeText(backend->QueryDriveType(v.name, v.path)),
                    !identified              ? "?"
                    : id.bus == BusType::Usb ? "usb"
                                             : "other",
                    id.vendor.c_str(), id.product.c_str(), handle ? "" : " (cannot open)");
    }
    CMutilMassStorage scanner(backend, {product}, {vendor});
    scanner.Scan();
    for (const auto& d : scanner.devices()) std::printf("found %s\n", d.name.c_str());
    return 0;
}

int Monitor(double seconds) {
    auto monitor = MakeLinuxHotplugMonitor();
    if (!monitor) {
        std::printf("monitor unavailable\n");
        return 1;
    }
    std::printf("monitor ready\n");
    std::fflush(stdout);
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        pollfd p{monitor->Fd(), POLLIN, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (::poll(&p, 1, int(std::max<long long>(left, 0))) <= 0) continue;
        for (const auto& e : monitor->ReadEvents()) {
            std::printf("%s %s\n", e.kind == DeviceEvent::Kind::Arrival ? "arrival" : "removal",
                        e.volume.name.c_str());
            std::fflush(stdout);
        }
    }
    return 0;
}

// Any device the backend can open, no identity check: the scenarios name it.
bool OpenAny(MassDevice& device) {
    if (device.Open() == 1) return true;
    std::fprintf(stderr, "cannot open %s\n", device.name().c_str());
    return false;
}

bool Send(MassDevice& device, const Cdb& cdb, DataDirection dir, uint8_t* data, uint32_t length) {
    const bool ok = dir == DataDirection::In ? device.TransferIn(cdb.data(), length, data)
                                             : device.TransferOut(cdb.data(), length, data);
    if (!ok) {
        std::fprintf(stderr, "command %02X %02X failed: %s\n", cdb[0], cdb[1],
                     TransferStatusText(device.lastTransfer().status));
    }
    return ok;
}

int Readback(const std::string& name, uint32_t addr, uint32_t length, const std::string& file) {
    MassDevice device(MakeLinuxBackend(), "/dev/" + name, name, {""}, {""});
    if (!OpenAny(device) || !Send(device, cmd::InitBlock({}), DataDirection::None, nullptr, 0)) return 1;
    std::vector<uint8_t> data(length);
    constexpr uint32_t kStep = 64 * 1024;
    for (uint32_t done = 0; done < length; done += kStep) {
        const uint32_t n = std::min(kStep, length - done);
        if (!Send(device, cmd::ReadBlock(n, addr + done), DataDirection::In, data.data() + done, n)) return 1;
    }
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    return out ? 0 : 1;
}

int Bench(const std::string& name, int commands, int mib) {
    MassDevice device(MakeLinuxBackend(), "/dev/" + name, name, {""}, {""});
    if (!OpenAny(device) || !Send(device, cmd::InitBlock({}), DataDirection::None, nullptr, 0)) return 1;
    std::array<uint8_t, 2> crc{};
    auto start = Clock::now();
    for (int i = 0; i < commands; ++i) {
        if (!Send(device, cmd::GetCrc16Block(256, 0), DataDirection::In, crc.data(), 2)) return 1;
    }
    double s = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("BENCH GetCrc16: %d commands in %.2f s = %.0f commands/s\n", commands, s, commands / s);

    constexpr uint32_t kBlock = 64 * 1024, kSpan = 4u << 20;  // within the smallest flash the model has
    std::vector<uint8_t> block(kBlock);
    for (uint32_t i = 0; i < kBlock; ++i) block[i] = uint8_t(i * 7);
    const int blocks = mib * 16;
    start = Clock::now();
    for (int i = 0; i < blocks; ++i) {
        const uint32_t addr = uint32_t(i) * kBlock % kSpan;
        if (!Send(device, cmd::WritePageBlock(kBlock, addr), DataDirection::Out, block.data(), kBlock))
            return 1;
    }
    s = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("BENCH WritePage 64 KiB: %d MiB in %.2f s = %.2f MB/s (%.0f commands/s)\n", mib, s,
                mib * 1048576.0 / 1e6 / s, blocks / s);
    return 0;
}

// A sub-command the chip does not know: how a rejected command comes back through SG_IO.
int Sense(const std::string& name) {
    MassDevice device(MakeLinuxBackend(), "/dev/" + name, name, {""}, {""});
    if (!OpenAny(device)) return 1;
    std::array<uint8_t, 4> answer{};
    const bool ok = device.TransferIn(cmd::Block(0, 0x7F, 4).data(), 4, answer.data());
    const TransferResult& r = device.lastTransfer();
    std::printf("%s %s sense %02X/%02X/%02X\n", ok ? "accepted" : "rejected",
                r.status == TransferStatus::CheckCondition ? "check-condition" : TransferStatusText(r.status),
                r.senseKey, r.asc, r.ascq);
    return 0;
}

// The test area reports only through message boxes: print them.
class BoxPrinter : public IJobNotifier {
public:
    void PostProgressPos(const std::string&, int) override {}
    void PostProgressImage(const std::string&, int) override {}
    void PostEnableControls(const std::string&, int) override {}
    void AddTipsText(const std::string&, const std::string&) override {}
    void ShowFileParseError(int) override {}
    void ShowMessageBox(const std::string& text, const std::string&) override {
        std::printf("box: %s\n", text.c_str());
        ++boxes;
    }
    int boxes = 0;
};

// One test-area command on the device: "read" writes its 512 KiB read to FILE, "write-page"
// sends FILE in one WritePage at address 0. Fails when the test area showed a box.
int TestArea(const std::string& name, const std::string& what, const std::string& file) {
    BoxPrinter boxes;
    SharedSettings settings;
    settings.setDownloadFilePath(file);
    JobEnvironment env;
    env.backend = MakeLinuxBackend();
    env.notifier = &boxes;
    env.settings = &settings;
    CTestConnection connection(env, file);
    connection.TestInit({PresentDevice{name, "/dev/" + name, ""}}, VendorPatterns(), ProductPatterns(true));
    if (what == "read") {
        connection.TestRead();
    } else if (what == "write-page") {
        connection.TestWritePage();
    } else {
        return Usage();
    }
    connection.TestCloseDevice();
    return boxes.boxes == 0 ? 0 : 1;
}

uint32_t Number(const char* text) { return uint32_t(std::strtoul(text, nullptr, 0)); }

int Crc(const std::string& file, uint32_t offset, uint32_t length) {
    std::ifstream in(file, std::ios::binary);
    std::vector<uint8_t> data(length);
    if (!in.seekg(offset) || !in.read(reinterpret_cast<char*>(data.data()), std::streamsize(length))) {
        std::fprintf(stderr, "cannot read %u bytes at %u from %s\n", length, offset, file.c_str());
        return 1;
    }
    std::printf("%04X\n", Crc16Ccitt(data.data(), length));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> a(argv + 1, argv + argc);
    if (a.size() == 3 && a[0] == "scan") return Scan(a[1], a[2]);
    if (a.size() == 2 && a[0] == "monitor") return Monitor(std::atof(argv[2]));
    if (a.size() == 5 && a[0] == "readback") return Readback(a[1], Number(argv[3]), Number(argv[4]), a[4]);
    if (a.size() == 4 && a[0] == "bench") return Bench(a[1], int(Number(argv[3])), int(Number(argv[4])));
    if (a.size() == 2 && a[0] == "sense") return Sense(a[1]);
    if (a.size() == 4 && a[0] == "test-area") return TestArea(a[1], a[2], a[3]);
    if (a.size() == 4 && a[0] == "crc") return Crc(a[1], Number(argv[3]), Number(argv[4]));
    if (a.size() == 2 && a[0] == "programs") return brev::sim::WriteStandInPrograms(a[1]) ? 0 : 1;
    return Usage();
}
