#include "app/CAppController.h"

#include <algorithm>

#include "app/Console.h"
#include "app/CrashHandler.h"
#include "app/LogLine.h"
#include "app/settings/SettingsFile.h"
#include "image/ImageChecker.h"
#include "ops/Texts.h"

namespace brev {
namespace {

constexpr const char* kDeviceAtStart = "检测到设备已插入";
constexpr const char* kDeviceArrived = "检查到设备接入";
constexpr const char* kDeviceRemoved = "设备移除";

}  // namespace

// --- console tee -------------------------------------------------------------------------

void CAppController::ConsoleTee::SetStream(std::ostream* out) {
    std::lock_guard<std::mutex> lock(mutex_);
    out_ = out;
}

void CAppController::ConsoleTee::print(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!out_) return;
    *out_ << line << std::endl;
    // A console that went away (a closed pipe, a closed terminal) is no console any more.
    if (!*out_) out_ = nullptr;
}

void CAppController::ConsoleTee::SetSlot(const std::string& name, const std::string& slot) {
    std::lock_guard<std::mutex> lock(slotsMutex_);
    if (slot.empty()) {
        slots_.erase(name);
    } else {
        slots_[name] = slot;
    }
}

std::string CAppController::ConsoleTee::line(const std::string& device, const std::string& text) {
    std::lock_guard<std::mutex> lock(slotsMutex_);
    auto it = slots_.find(device);
    return DeviceLogLine(device, text, it == slots_.end() ? std::string() : it->second);
}

void CAppController::ConsoleTee::PostProgressPos(const std::string& name, int percent) {
    if (auto* w = owner_.window_.get()) w->PostProgressPos(name, percent);
    print(line(name, std::to_string(percent) + "%"));
}

void CAppController::ConsoleTee::PostProgressImage(const std::string& name, int state) {
    if (auto* w = owner_.window_.get()) w->PostProgressImage(name, state);
}

void CAppController::ConsoleTee::PostEnableControls(const std::string& name, int enable) {
    if (auto* w = owner_.window_.get()) w->PostEnableControls(name, enable);
}

void CAppController::ConsoleTee::AddTipsText(const std::string& text, const std::string& device) {
    // The window's line names the device too (the window adds only the time stamp).
    const std::string named = line(device, text);
    if (auto* w = owner_.window_.get()) w->AddTipsText(named, device);
    print(named);
}

void CAppController::ConsoleTee::ShowFileParseError(int code) {
    if (auto* w = owner_.window_.get()) w->ShowFileParseError(code);
    if (auto message = ImageErrorText(code)) print(text::Tr(std::string(*message)));
}

void CAppController::ConsoleTee::ShowMessageBox(const std::string& text, const std::string& caption) {
    if (auto* w = owner_.window_.get()) w->ShowMessageBox(text, caption);
    print(text);
}

void CAppController::ConsoleTee::JobFinished(const std::string& name, const JobOutcome& outcome) {
    if (auto* w = owner_.window_.get()) w->JobFinished(name, outcome);
    print(line(name, outcome.success ? "succeeded" : "FAILED"));
}

// --- controller ----------------------------------------------------------------------------

CAppController::CAppController(AppServices services)
    : services_(std::move(services)), station_(*services_.station) {
    if (!services_.openConsole) services_.openConsole = OpenParentConsole;
    if (services_.readDataPath.empty()) services_.readDataPath = "readData.bin";
    commandLine_ = ParseCommandLine(services_.arguments);
    testConnection_ = std::make_unique<CTestConnection>(jobEnvironment(), services_.readDataPath);

    if (services_.installCrashHandler) InstallCrashHandler();
}

CAppController::~CAppController() {
    *alive_ = false;
    station_.SetProblemReporter({});
    WaitForJobs();
    testConnection_.reset();
    if (window_) {
        CWindowEvents& ev = window_->events();
        ev.DeviceChanged.Unsubscribe(this);
        ev.StartDownload.Unsubscribe(this);
        ev.StartRead.Unsubscribe(this);
        ev.ConsoleDownload.Unsubscribe(this);
        for (CEvent<>* e :
             {&ev.TestInit, &ev.TestGetCrc16, &ev.TestSystemReset, &ev.TestReadFlashId, &ev.TestWriteByte,
              &ev.TestWritePage, &ev.TestReadChipVer, &ev.TestErase4K, &ev.TestErase32K, &ev.TestErase64K,
              &ev.TestEraseChip, &ev.TestRead, &ev.TestFastRead, &ev.TestCloseDevice})
            e->Unsubscribe(this);
        ev.TestSetKey.Unsubscribe(this);
    }
}

JobEnvironment CAppController::jobEnvironment() { return station_.Environment(&notifier_); }

bool CAppController::Run() {
    if (window_ || !services_.createWindow) return false;
    window_ = services_.createWindow(*this);
    if (!window_) return false;
    // The window raises ConsoleDownload while it is being created.
    window_->events().ConsoleDownload.Subscribe(this,
                                                [this](const std::string& path) { ConsoleDownload(path); });
    if (!window_->Create()) return false;
    station_.SetProblemReporter([this](const std::string& text) { log(text, {}); });

    // Whatever is already queued describes devices the scan below finds anyway.
    if (IDeviceEventSource* events = station_.Events()) (void)events->ReadEvents();
    for (PresentDevice& device : station_.Scan()) {
        if (!FindPresentDevice(presentDevices_, device.name)) presentDevices_.push_back(std::move(device));
    }
    subscribe();
    for (const PresentDevice& device : presentDevices_) {
        notifier_.SetSlot(device.name, device.slot);
        window_->AddDeviceItem(device.name, DeviceTip(device));
        log(text::Tr(kDeviceAtStart), device.name);
    }

    // At start a device counts as served in PC mode only when the mode file allows PC updates;
    // an arrival later goes by its product alone.
    if (station_.pcUpdateSupport() != 0) {
        for (const PresentDevice& device : presentDevices_) {
            if (IsPcModeProduct(device.productId)) pcModeDevices_.insert(device.name);
        }
    }
    if (!pcModeDevices_.empty()) {
        window_->EnableOptionControls(false);
        pcModeActive_ = true;
    }
    scanned_ = true;

    if (consoleMode_ && !consoleFilePath_.empty()) {
        for (const PresentDevice& device : presentDevices_) {
            if (!pcModeDevices_.contains(device.name)) startConsoleDownload(device.name);
        }
    }
    return true;
}

void CAppController::subscribe() {
    CWindowEvents& ev = window_->events();
    ev.DeviceChanged.Subscribe(this, [this](const DeviceEvent& e) { OnDeviceChanged(e); });
    ev.StartDownload.Subscribe(
        this, [this](const std::string& name, int eraseOnly, int eraseUse4K, int writeRandom, int exFlash) {
            StartDownload(name, eraseOnly, eraseUse4K, writeRandom, exFlash);
        });
    ev.StartRead.Subscribe(this, [this](const std::string& name) { StartRead(name); });
    auto test = [this](CEvent<>& e, void (CTestConnection::*op)()) {
        e.Subscribe(this, [this, op] { (testConnection_.get()->*op)(); });
    };
    ev.TestInit.Subscribe(
        this, [this] { testConnection_->TestInit(presentDevices_, vendorPatterns(), productPatterns()); });
    test(ev.TestGetCrc16, &CTestConnection::TestGetCrc16);
    test(ev.TestSystemReset, &CTestConnection::TestSystemReset);
    test(ev.TestReadFlashId, &CTestConnection::TestReadFlashId);
    test(ev.TestWriteByte, &CTestConnection::TestWriteByte);
    test(ev.TestWritePage, &CTestConnection::TestWritePage);
    test(ev.TestReadChipVer, &CTestConnection::TestReadChipVer);
    test(ev.TestErase4K, &CTestConnection::TestErase4K);
    test(ev.TestErase32K, &CTestConnection::TestErase32K);
    test(ev.TestErase64K, &CTestConnection::TestErase64K);
    test(ev.TestEraseChip, &CTestConnection::TestEraseChip);
    test(ev.TestRead, &CTestConnection::TestRead);
    test(ev.TestFastRead, &CTestConnection::TestFastRead);
    test(ev.TestCloseDevice, &CTestConnection::TestCloseDevice);
    ev.TestSetKey.Subscribe(this, [this](int enable, int key) { testConnection_->TestSetKey(enable, key); });
}

void CAppController::log(const std::string& text, const std::string& device) {
    notifier_.AddTipsText(text, device);
}

void CAppController::PumpDeviceEvents() {
    IDeviceEventSource* events = station_.Events();
    if (!events) return;
    for (const DeviceEvent& event : events->ReadEvents()) OnDeviceChanged(event);
}

void CAppController::OnDeviceChanged(const DeviceEvent& event) {
    if (!window_) return;
    switch (event.kind) {
        case DeviceEvent::Kind::Arrival:
            handleArrival(event.volume);
            break;
        case DeviceEvent::Kind::Removal:
            handleRemoval(event.volume.name);
            break;
    }
}

void CAppController::handleArrival(const VolumeRef& volume) {
    const std::optional<PresentDevice> found = station_.Probe(volume);
    if (!found) return;  // not one of ours, or not reachable (a permission problem is logged)
    const std::string& product = found->productId;
    bool pcMode = IsPcModeProduct(product);
    ++arrivalSerial_[volume.name];

    if (PresentDevice* it = FindPresentDevice(presentDevices_, volume.name)) {
        // A second arrival for a listed name (a missed removal): refresh, but keep one row.
        it->devicePath = volume.path;
        it->productId = product;
        it->location = found->location;
        it->slot = found->slot;
        notifier_.SetSlot(volume.name, found->slot);
        if (pcMode) {
            pcModeDevices_.insert(volume.name);
        } else {
            pcModeDevices_.erase(volume.name);
        }
        updatePcMode();
        // The arrival replaced the one whose download was waiting: wait again for this one, so
        // the device gets exactly one download.
        if (auto pending = pendingDownloads_.find(volume.name); pending != pendingDownloads_.end() && !pcMode)
            scheduleDownload(volume.name, pending->second);
        return;
    }

    presentDevices_.push_back(*found);
    notifier_.SetSlot(volume.name, found->slot);
    window_->AddDeviceItem(volume.name, DeviceTip(*found));
    log(text::Tr(kDeviceArrived), volume.name);

    if (pcMode) {
        pcModeDevices_.insert(volume.name);
        updatePcMode();
    } else if (consoleMode_ && !consoleFilePath_.empty()) {
        scheduleDownload(volume.name, true);
    } else if (station_.settings().autoDownloadFlag.load() != 0) {
        scheduleDownload(volume.name, false);
    }
}

void CAppController::handleRemoval(const std::string& name) {
    if (std::erase_if(presentDevices_, [&](const PresentDevice& d) { return d.name == name; }) == 0) return;
    log(text::Tr(kDeviceRemoved), name);  // still with its slot: the line is what is left of it
    notifier_.SetSlot(name, {});
    window_->RemoveDeviceItem(name);
    pcModeDevices_.erase(name);
    updatePcMode();
}

void CAppController::updatePcMode() {
    bool active = !pcModeDevices_.empty();
    bool was = pcModeActive_.exchange(active);
    if (active != was) window_->EnableOptionControls(!active);
}

void CAppController::scheduleDownload(const std::string& name, bool console) {
    const uint64_t serial = arrivalSerial_[name];
    pendingDownloads_[name] = console;
    auto fire = [this, alive = std::weak_ptr<bool>(alive_), name, serial, console] {
        auto token = alive.lock();
        if (!token || !*token) return;
        // Only the latest arrival of a device that is still attached gets its download.
        if (arrivalSerial_[name] != serial) return;
        pendingDownloads_.erase(name);
        if (!FindPresentDevice(presentDevices_, name)) return;
        if (console) {
            startConsoleDownload(name);
        } else {
            StartDownload(name, 0, 0, 0, window_->exFlashOption());
        }
    };
    if (services_.timers) {
        services_.timers->SingleShot(services_.autoDownloadDelay, std::move(fire));
    } else {
        fire();
    }
}

bool CAppController::StartDownload(const std::string& name, int eraseOnly, int eraseUse4K, int writeRandom,
                                   int exFlash) {
    StartRequest request;
    request.deviceName = name;
    request.eraseOnly = eraseOnly;
    request.eraseUse4K = eraseUse4K;
    request.writeRandom = writeRandom;
    request.exFlash = exFlash;
    if (window_) request.pins = window_->pinTexts();
    // Console mode shows the command line's file in the file field: every download writes that one.
    if (consoleMode_ && !consoleFilePath_.empty()) request.filePath = consoleFilePath_;
    return StartDownloadJob(jobEnvironment(), presentDevices_, request);
}

bool CAppController::startConsoleDownload(const std::string& name) {
    StartRequest request;
    request.deviceName = name;
    request.exFlash = window_->exFlashOption();
    request.pins = window_->pinTexts();
    request.filePath = consoleFilePath_;
    bool started = StartDownloadJob(jobEnvironment(), presentDevices_, request);
    if (!started) notifier_.print(DeviceLogLine(name, "download not started"));
    return started;
}

bool CAppController::StartRead(const std::string& name) {
    return StartReadBack(jobEnvironment(), presentDevices_, name);
}

void CAppController::ConsoleDownload(const std::string& filePath) {
    consoleFilePath_ = filePath;
    if (!consoleMode_) {  // attach once, however often the window asks
        consoleMode_ = true;
        std::ostream* out = services_.openConsole();
        if (out) {
            *out << kConsoleBanner;
            out->flush();
            if (!*out) out = nullptr;
        }
        notifier_.SetStream(out);
    }
    // Raised after start-up: serve the devices already listed now.
    if (scanned_ && !consoleFilePath_.empty()) {
        for (const PresentDevice& device : presentDevices_) {
            if (!pcModeDevices_.contains(device.name)) startConsoleDownload(device.name);
        }
    }
}

void CAppController::WaitForJobs() { station_.registry().WaitAll(); }

}  // namespace brev
