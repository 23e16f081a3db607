// The application controller: owns the device list, turns arrivals and removals into rows,
// log lines and automatic downloads, and starts the jobs the window asks for.
// Everything here runs on the UI thread; jobs run on the station's registry threads. The engine
// under it (devices, settings, jobs) is the Station, shared with the command-line tool.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/IMainWindow.h"
#include "app/ProgramFolder.h"
#include "app/Station.h"
#include "device/CMutilMassStorage.h"
#include "ops/Diagnostics.h"
#include "ops/JobNotifier.h"
#include "ops/Jobs.h"

namespace brev {

// One-shot timers on the UI thread (QTimer in the window, a hand-driven fake in tests).
class ITimerService {
public:
    virtual ~ITimerService() = default;
    // Calls `callback` once on the UI thread after `delay`; never from inside this call.
    virtual void SingleShot(std::chrono::milliseconds delay, std::function<void()> callback) = 0;
};

class CAppController;

// What the controller is built from. Pointers are not owned and must outlive the controller.
struct AppServices {
    // The engine: devices, their arrivals, folders, settings, jobs.
    Station* station = nullptr;
    // Builds the main window; called once by Run(). The window may keep a reference to the
    // controller (settings(), folders(), commandLine()).
    std::function<std::unique_ptr<IMainWindow>(CAppController&)> createWindow;
    ITimerService* timers = nullptr;
    // The process's arguments (argument 0 included), as ParseCommandLine takes them.
    std::vector<std::string> arguments;
    // Where TestRead / TestFastRead write; default readData.bin in the current directory.
    std::filesystem::path readDataPath;
    // Console mode: attaches to the parent console and returns the stream to print on, or null
    // when there is none. Default: the platform's OpenParentConsole().
    std::function<std::ostream*()> openConsole;
    // The process-wide crash handler; tests turn it off.
    bool installCrashHandler = true;
    // Pause between an arrival and its automatic download.
    std::chrono::milliseconds autoDownloadDelay{1000};
};

class CAppController {
public:
    explicit CAppController(AppServices services);
    ~CAppController();  // waits for running jobs before the window goes away
    CAppController(const CAppController&) = delete;
    CAppController& operator=(const CAppController&) = delete;

    // Creates the window, subscribes to its events, shows the devices already attached and
    // applies the PC-mode state. False when the window could not be created.
    bool Run();
    // One arrival or removal.
    void OnDeviceChanged(const DeviceEvent& event);
    // Drains the station's event source and handles every event; the host calls it when the
    // source's Fd() is readable (or periodically when Fd() is -1).
    void PumpDeviceEvents();

    // Start operations, also reachable through the window's events.
    bool StartDownload(const std::string& name, int eraseOnly, int eraseUse4K, int writeRandom, int exFlash);
    bool StartRead(const std::string& name);
    void ConsoleDownload(const std::string& filePath);

    // Blocks until no job runs (before the window is torn down).
    void WaitForJobs();

    const std::vector<PresentDevice>& presentDevices() const { return presentDevices_; }
    bool pcModeActive() const { return pcModeActive_.load(); }
    int pcUpdateSupport() const { return station_.pcUpdateSupport(); }
    const PatternList& vendorPatterns() const { return station_.vendorPatterns(); }
    const PatternList& productPatterns() const { return station_.productPatterns(); }

    SharedSettings& settings() { return station_.settings(); }
    const ProgramFolders& folders() const { return station_.folders(); }
    const CommandLine& commandLine() const { return commandLine_; }
    CJobRegistry& registry() { return station_.registry(); }
    Station& station() { return station_; }
    IMainWindow* window() const { return window_.get(); }
    // Reports to the window and, in console mode, to the console too.
    IJobNotifier& notifier() { return notifier_; }
    bool consoleMode() const { return consoleMode_; }
    const std::string& consoleFilePath() const { return consoleFilePath_; }

private:
    // Forwards every job report to the window and, in console mode, prints it too.
    class ConsoleTee : public IJobNotifier {
    public:
        explicit ConsoleTee(CAppController& owner) : owner_(owner) {}
        void PostProgressPos(const std::string& name, int percent) override;
        void PostProgressImage(const std::string& name, int state) override;
        void PostEnableControls(const std::string& name, int enable) override;
        void AddTipsText(const std::string& text, const std::string& device) override;
        void ShowFileParseError(int code) override;
        void ShowMessageBox(const std::string& text, const std::string& caption) override;
        void JobFinished(const std::string& name, const JobOutcome& outcome) override;
        void SetStream(std::ostream* out);
        void print(const std::string& line);
        // The fixture slot named in a device's log lines; jobs report from their own threads.
        void SetSlot(const std::string& name, const std::string& slot);

    private:
        std::string line(const std::string& device, const std::string& text);
        CAppController& owner_;
        std::mutex mutex_;
        std::ostream* out_ = nullptr;
        std::mutex slotsMutex_;
        std::map<std::string, std::string> slots_;
    };

    JobEnvironment jobEnvironment();
    void subscribe();
    void log(const std::string& text, const std::string& device);
    void handleArrival(const VolumeRef& volume);
    void handleRemoval(const std::string& name);
    void updatePcMode();
    void scheduleDownload(const std::string& name, bool console);
    bool startConsoleDownload(const std::string& name);

    AppServices services_;
    Station& station_;
    CommandLine commandLine_;
    ConsoleTee notifier_{*this};
    std::unique_ptr<IMainWindow> window_;
    std::vector<PresentDevice> presentDevices_;
    std::set<std::string> pcModeDevices_;  // names in presentDevices_ served in PC mode
    std::atomic<bool> pcModeActive_{false};
    std::map<std::string, uint64_t> arrivalSerial_;  // tells a device's arrivals apart
    // Automatic downloads waiting for their pause to end, by device: true for console mode.
    std::map<std::string, bool> pendingDownloads_;
    bool scanned_ = false;  // Run() has listed the devices present at start
    bool consoleMode_ = false;
    std::string consoleFilePath_;
    std::unique_ptr<CTestConnection> testConnection_;
    // Timer callbacks check this so a late timer never touches a destroyed controller.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace brev
