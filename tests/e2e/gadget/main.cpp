// brevload-gadget: makes this machine's USB device port look like a target chip in download
// mode (or running its PC-mode firmware), served by the simulated device model.
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <mutex>
#include <optional>
#include <string_view>

#include "base/Parse.h"
#include "device/sim/SimDevice.h"
#include "tests/e2e/gadget/ConfigFs.h"
#include "tests/e2e/gadget/FunctionFs.h"
#include "tests/e2e/gadget/MassStorageTarget.h"

namespace {

using namespace brev;

std::string Trimmed(const std::string& s) {
    const auto end = s.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : s.substr(0, end + 1);
}

// "0x82:3" -> sub-command 0x82, third time.
bool ParseFailOption(const std::string& text, sim::FaultConfig& faults) {
    const auto colon = text.find(':');
    if (colon == std::string::npos) return false;
    const std::string_view view(text);
    const auto sub = ParseInteger<uint8_t>(view.substr(0, colon), NumberBase::DecimalOrHex);
    const auto n = ParseInteger<int>(view.substr(colon + 1), NumberBase::DecimalOrHex);
    if (!sub || !n || *n < 1) return false;
    faults.failSubCommand = *sub;
    faults.failNth = *n;
    return true;
}

// "0x07:4096" -> data-in of sub-command 0x07 answers 4096 bytes.
bool ParseShortInOption(const std::string& text, gadget::TargetOptions& options) {
    const auto colon = text.find(':');
    if (colon == std::string::npos) return false;
    const std::string_view view(text);
    const auto sub = ParseInteger<uint8_t>(view.substr(0, colon), NumberBase::DecimalOrHex);
    const auto bytes = ParseInteger<uint32_t>(view.substr(colon + 1), NumberBase::DecimalOrHex);
    if (!sub || !bytes) return false;
    options.shortInSub = *sub;
    options.shortInBytes = *bytes;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Presents a simulated target device as a USB mass-storage interface through FunctionFS.\n"
        "With --udc it also makes the configfs gadget and binds it; otherwise mount FunctionFS\n"
        "yourself, start this program, and bind the UDC after the ready file appears."};
    std::string ffsDir, udc, name = "brevload", readyFile, vendor, product, serial, failOption, shortInOption,
                             timing = "zero";
    std::string configfsRoot = "/sys/kernel/config", norFile, exFlashFile;
    bool pcMode = false, verbose = false, crcSwap = false, highSpeed = false;
    uint32_t norSize = 0, exFlashSize = 0, blocks = 2048;
    int flipWrite = 0, dropAfter = 0, timeoutNth = 0;
    double timeScale = 1.0;
    app.add_option("--ffs", ffsDir, "FunctionFS mount point (default /dev/ffs-NAME with --udc)");
    app.add_option("--udc", udc, "make the configfs gadget and bind it to this UDC (e.g. dummy_udc.0)");
    app.add_option("--name", name, "gadget and FunctionFS instance name")->capture_default_str();
    app.add_option("--configfs", configfsRoot, "configfs mount point")->capture_default_str();
    app.add_option("--serial", serial, "USB serial number string (default: the name)");
    app.add_option("--vendor", vendor, "INQUIRY vendor string (8 characters, space-padded)");
    app.add_option("--product", product, "INQUIRY product string (16 characters, space-padded)");
    app.add_flag("--pc-mode", pcMode, "the chip runs its PC-mode firmware (product COMP_AUDIO)");
    app.add_option("--nor-size", norSize, "internal flash size in bytes");
    app.add_option("--ex-flash-size", exFlashSize, "external flash size in bytes");
    app.add_option("--flash", norFile,
                   "load the internal flash from FILE (if present) and save it there at exit");
    app.add_option("--ex-flash", exFlashFile, "the same for the external flash");
    app.add_option("--blocks", blocks, "512-byte blocks of the blank medium")->capture_default_str();
    app.add_option("--timing", timing, "device timing: zero or realistic")->capture_default_str();
    app.add_option("--time-scale", timeScale, "multiplies the realistic timing")->capture_default_str();
    app.add_option("--fail", failOption,
                   "SUB:N: the Nth command with sub-command SUB fails (CHECK CONDITION)");
    app.add_flag("--crc-swap", crcSwap, "answer the CRC commands with the bytes swapped");
    app.add_option("--flip-write", flipWrite, "flip one bit in the data of the Nth write");
    app.add_option("--drop-after", dropAfter, "leave the bus after N vendor commands");
    app.add_option("--timeout-nth", timeoutNth, "never answer the Nth vendor command");
    app.add_option("--short-in", shortInOption,
                   "SUB:BYTES: data-in of sub-command SUB answers only BYTES bytes (a short transfer)");
    app.add_flag("--high-speed", highSpeed, "no faster than high speed (with --udc), as on a USB 2.0 port");
    app.add_option("--ready-file", readyFile, "created once the device is ready (bound, with --udc)");
    app.add_flag("-v,--verbose", verbose, "log every command");
    CLI11_PARSE(app, argc, argv);

    if (ffsDir.empty() && udc.empty()) {
        std::cerr << "brevload-gadget: give --ffs DIR, or --udc UDC to set up the gadget\n";
        return 2;
    }
    if (ffsDir.empty()) ffsDir = "/dev/ffs-" + name;
    if (serial.empty()) serial = name;

    sim::SimDeviceConfig config = pcMode ? sim::SimDeviceConfig::PcMode() : sim::SimDeviceConfig{};
    if (!vendor.empty()) config.vendor = vendor;
    if (!product.empty()) config.product = product;
    if (norSize != 0) config.norSize = norSize;
    if (exFlashSize != 0) config.exFlashSize = exFlashSize;
    if (timing == "realistic") {
        config.timing = sim::TimingProfile::Realistic(timeScale);
    } else if (timing != "zero") {
        std::cerr << "brevload-gadget: --timing is zero or realistic\n";
        return 2;
    }
    if (!failOption.empty() && !ParseFailOption(failOption, config.faults)) {
        std::cerr << "brevload-gadget: --fail wants SUB:N, e.g. 0x82:3\n";
        return 2;
    }
    gadget::TargetOptions targetOptions;
    targetOptions.blockCount = blocks;
    if (!shortInOption.empty() && !ParseShortInOption(shortInOption, targetOptions)) {
        std::cerr << "brevload-gadget: --short-in wants SUB:BYTES, e.g. 0x07:4096\n";
        return 2;
    }
    config.faults.crcByteSwap = crcSwap;
    config.faults.flipBitInWriteNth = flipWrite;
    config.faults.dropAfterCommands = dropAfter;
    config.faults.timeoutNth = timeoutNth;

    std::mutex logMutex;
    const std::string prefix = "brevload-gadget[" + name + "]: ";
    auto log = [&](const std::string& line) {
        std::lock_guard lock(logMutex);
        std::cerr << prefix << line << std::endl;
    };

    sim::SimDevice device(config);
    if ((!norFile.empty() && !device.LoadNor(norFile)) ||
        (!exFlashFile.empty() && !device.LoadExFlash(exFlashFile))) {
        log("a flash file has the wrong size or cannot be read");
        return 1;
    }
    gadget::MassStorageTarget target(device, targetOptions);

    // Signals go to the signalfd; SIGUSR1 only interrupts the bulk thread's endpoint I/O.
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &mask, nullptr);
    sigdelset(&mask, SIGUSR1);
    const int stopFd = signalfd(-1, &mask, SFD_CLOEXEC);
    if (stopFd < 0) {
        log("cannot create a signalfd");
        return 1;
    }

    std::optional<gadget::ConfigFsGadget> configured;
    std::string error;
    if (!udc.empty()) {
        gadget::GadgetSetup setup;
        setup.configfsRoot = configfsRoot;
        setup.name = name;
        setup.ffsDir = ffsDir;
        setup.manufacturer = Trimmed(config.vendor);
        setup.product = Trimmed(config.product);
        setup.serial = serial;
        if (highSpeed) setup.maxSpeed = "high-speed";
        configured.emplace(setup);
        if (!configured->Create(error)) {
            log(error);
            return 1;
        }
    }
    int status = 0;
    {
        gadget::FunctionFsService service(target, ffsDir, log, verbose);
        if (!service.Open(error)) {
            log(error);
            return 1;
        }
        if (configured && !configured->Bind(udc, error)) {
            log(error);
            return 1;
        }
        if (!readyFile.empty()) std::ofstream(readyFile) << ::getpid() << '\n';
        log("serving " + Trimmed(config.vendor) + " " + Trimmed(config.product) + " on " + ffsDir);

        const auto end = service.Run(stopFd, [&device] { device.PowerCycle(); });
        if (end == gadget::FunctionFsService::End::OffBus) log("the device dropped off the bus");
        if (end == gadget::FunctionFsService::End::Failed) status = 1;
        if (configured) configured->Unbind();
    }
    if (configured) configured->Remove();
    ::close(stopFd);

    if ((!norFile.empty() && !device.SaveNor(norFile)) ||
        (!exFlashFile.empty() && !device.SaveExFlash(exFlashFile))) {
        log("cannot save the flash files");
        status = 1;
    }
    log("stopped");
    return status;
}
