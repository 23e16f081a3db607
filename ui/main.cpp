// brevload: the window program. Real devices through the platform backend, or simulated ones:
//   --simulate N          N simulated devices on a simulated bus (right-click adds or removes more)
//   --simulate-pc N       and N simulated devices running their PC-mode firmware
//   --download-all        start a download on every row once the window is up
//   --screenshot FILE     write the window to FILE (PNG) and exit
//   --screenshot-after MS after this many milliseconds (default 1500)
//   --test-zone           show the switch of the diagnostic buttons
// A simulated run keeps everything (settings, device programs, a sample image) in a folder of
// its own that is removed at exit, so it never touches the operator's settings.
#include <QApplication>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <optional>
#include <random>

#include "app/CAppController.h"
#include "app/CommandLine.h"
#include "app/ProgramFolder.h"
#include "device/sim/SimBus.h"
#include "device/sim/SimDevice.h"
#include "image/ImageChecker.h"
#include "base/Utf8Path.h"
#include "ui/CMainWnd.h"

#ifdef _WIN32
#include "device/windows/WindowsBackend.h"
#else
#include "device/linux/LinuxBackend.h"
#endif

namespace {

using namespace brev;

class QtTimerService : public ITimerService {
public:
    void SingleShot(std::chrono::milliseconds delay, std::function<void()> callback) override {
        QTimer::singleShot(delay, qApp, std::move(callback));
    }
};

struct HostOptions {
    int simulate = 0;
    int simulatePc = 0;
    bool simulated = false;
    bool downloadAll = false;
    std::string screenshot;
    int screenshotAfterMs = 1500;
};

// "--name value" or "--name=value".
HostOptions ParseHostOptions(const std::vector<std::string>& args) {
    HostOptions o;
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        auto take = [&]() -> std::string {
            if (value) return *value;
            return i + 1 < args.size() ? args[++i] : std::string();
        };
        auto number = [&](int fallback) {
            const std::string text = take();
            char* end = nullptr;
            const long v = std::strtol(text.c_str(), &end, 10);
            return end != text.c_str() && *end == '\0' && v >= 0 && v < 100 * 1000 ? static_cast<int>(v)
                                                                                   : fallback;
        };
        if (name == "--simulate") {
            o.simulate = number(1);
            o.simulated = true;
        } else if (name == "--simulate-pc") {
            o.simulatePc = number(1);
            o.simulated = true;
        } else if (name == "--download-all") {
            o.downloadAll = true;
        } else if (name == "--screenshot") {
            o.screenshot = take();
        } else if (name == "--screenshot-after") {
            o.screenshotAfterMs = number(o.screenshotAfterMs);
        }
    }
    return o;
}

// A self-contained program folder for a simulated run: device programs, a mode file that
// allows PC mode when asked, and settings that name a sample image.
bool PrepareSimulatedFolder(const std::filesystem::path& root, bool pcMode, ProgramFolders& folders) {
    folders = FoldersUnder(root);
    if (!sim::WriteStandInPrograms(folders.deviceProgramsDir)) return false;
    if (pcMode) std::ofstream(folders.modeFile) << "[MODE]\npc_update_support=1\n";
    std::vector<uint8_t> data(512 * 1024);
    std::mt19937 random(1234);
    for (auto& b : data) b = static_cast<uint8_t>(random());
    const auto image = root / "sample.up";
    if (!WriteUpdateImage(image, data)) return false;
    std::ofstream(folders.settingsFile) << "[setting]\ndownloadFile=" << PathToUtf8(image) << "\n";
    return true;
}

std::shared_ptr<sim::SimDevice> MakeSimDevice(bool pcMode, int index) {
    sim::SimDeviceConfig config = pcMode ? sim::SimDeviceConfig::PcMode() : sim::SimDeviceConfig{};
    // Typical timings, each device a little slower than the one before.
    config.timing = sim::TimingProfile::Realistic(1.0 + 0.35 * index);
    return std::make_shared<sim::SimDevice>(config);
}

std::string FreeSimName(const sim::SimBus& bus) {
    const auto names = bus.Names();
    for (int i = 0;; ++i) {
        std::string name = "sim" + std::to_string(i);
        if (std::find(names.begin(), names.end(), name) == names.end()) return name;
    }
}

// The window as the operator sees it, with its rounded corners transparent.
bool SaveScreenshot(QWidget& window, const QString& file, int radius) {
    QImage content(window.size(), QImage::Format_ARGB32_Premultiplied);
    content.fill(Qt::transparent);
    window.render(&content);
    QImage shaped(window.size(), QImage::Format_ARGB32_Premultiplied);
    shaped.fill(Qt::transparent);
    QPainter painter(&shaped);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QBrush(content));
    painter.drawRoundedRect(QRectF(shaped.rect()), radius, radius);
    painter.end();
    return shaped.save(file, "PNG");
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("brevload");

    const std::vector<std::string> arguments = ProcessArguments(argc, argv);
    const HostOptions host = ParseHostOptions(arguments);

    AppServices services;
    services.arguments = arguments;
    QtTimerService timers;
    services.timers = &timers;

    std::shared_ptr<sim::SimBus> bus;
    std::unique_ptr<IDeviceEventSource> monitor;
    std::optional<QTemporaryDir> simFolder;
    if (host.simulated) {
        simFolder.emplace();
        if (!simFolder->isValid() || !PrepareSimulatedFolder(PathFromUtf8(simFolder->path().toStdString()),
                                                             host.simulatePc > 0, services.folders)) {
            std::fprintf(stderr, "brevload: cannot prepare the simulated devices' folder\n");
            return 1;
        }
        bus = std::make_shared<sim::SimBus>();
        for (int i = 0; i < host.simulate; ++i) bus->Attach(FreeSimName(*bus), MakeSimDevice(false, i));
        for (int i = 0; i < host.simulatePc; ++i) bus->Attach(FreeSimName(*bus), MakeSimDevice(true, i));
        bus->ReadEvents();  // the start-up scan lists these
        services.backend = std::make_shared<sim::SimBackend>(bus);
        services.deviceEvents = bus.get();
    } else {
        services.folders = CurrentProgramFolders();
#ifdef _WIN32
        services.backend = MakeWindowsBackend();  // arrivals come through the window's DeviceChanged
#else
        services.backend = MakeLinuxBackend();
        monitor = MakeLinuxHotplugMonitor();
        services.deviceEvents = monitor.get();
#endif
    }

    ui::CMainWnd* window = nullptr;
    services.createWindow = [&window](CAppController& controller) -> std::unique_ptr<IMainWindow> {
        ui::MainWndOptions options;
        options.settings = &controller.settings();
        options.programFolder = controller.folders().programFolder;
        options.settingsFile = controller.folders().settingsFile;
        options.commandLine = controller.commandLine();
        auto created = std::make_unique<ui::CMainWnd>(std::move(options));
        window = created.get();
        return created;
    };

    CAppController controller(std::move(services));
    if (!controller.Run() || !window) return 1;

    // Arrivals and removals: watched on the UI thread.
    std::unique_ptr<QSocketNotifier> eventNotifier;
    QTimer eventPoll;
    if (IDeviceEventSource* source = bus ? static_cast<IDeviceEventSource*>(bus.get()) : monitor.get()) {
        if (source->Fd() >= 0) {
            eventNotifier = std::make_unique<QSocketNotifier>(source->Fd(), QSocketNotifier::Read);
            QObject::connect(eventNotifier.get(), &QSocketNotifier::activated,
                             [&controller] { controller.PumpDeviceEvents(); });
        } else {
            QObject::connect(&eventPoll, &QTimer::timeout, [&controller] { controller.PumpDeviceEvents(); });
            eventPoll.start(250);
        }
    }

    if (bus) {
        window->AddTipsText("Simulation: right-click the window to attach or detach devices", {});
        window->setContextMenuPolicy(Qt::CustomContextMenu);
        QObject::connect(
            window, &QWidget::customContextMenuRequested, window, [window, &bus](const QPoint& pos) {
                QMenu menu(window);
                menu.addAction("Attach a simulated device", [&bus] {
                    const auto count = static_cast<int>(bus->Names().size());
                    bus->Attach(FreeSimName(*bus), MakeSimDevice(false, count % 3));
                });
                menu.addAction("Attach a simulated PC-mode device",
                               [&bus] { bus->Attach(FreeSimName(*bus), MakeSimDevice(true, 0)); });
                menu.addSeparator();
                for (const std::string& name : bus->Names())
                    menu.addAction(QString::fromStdString("Detach " + name),
                                   [&bus, name] { bus->Detach(name); });
                menu.exec(window->mapToGlobal(pos));
            });
    }

    if (host.downloadAll) {
        QTimer::singleShot(200, window, [window] {
            for (auto* row : window->deviceZone()->findChildren<ui::SkinContainer*>(
                     QString(), Qt::FindDirectChildrenOnly))
                if (auto* button = row->findChild<ui::SkinButton*>("btnStartDownload")) button->click();
        });
    }
    if (!host.screenshot.empty()) {
        QTimer::singleShot(host.screenshotAfterMs, window, [window, &host] {
            const QString file = QString::fromStdString(host.screenshot);
            if (!SaveScreenshot(*window, file, 5))
                std::fprintf(stderr, "brevload: cannot write %s\n", host.screenshot.c_str());
            QApplication::exit(0);
        });
    }

    const int status = QApplication::exec();
    // Simulated jobs end at once when their devices leave; real ones are waited for.
    if (bus)
        for (const std::string& name : bus->Names()) bus->Detach(name);
    eventNotifier.reset();
    controller.WaitForJobs();
    return status;
}
