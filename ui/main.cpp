// brevload: the window program. Real devices through the platform backend, or simulated ones:
//   --simulate N          N simulated devices on a simulated bus (right-click adds or removes more)
//   --simulate-pc N       and N simulated devices running their PC-mode firmware
//   --download-all        start a download on every row once the window is up
//   --screenshot FILE     write the window to FILE (PNG) and exit
//   --screenshot-after MS after this many milliseconds (default 1500)
//   --test-zone           show the switch of the diagnostic buttons
//   --sim-max-transfer BYTES  the largest request a simulated device's path takes (default 122880)
//   --sim-fault DEVICE:KIND[:ARG...]  a fault injected into a simulated device (as brevload-cli)
//   --lang zh|en          the language of the window's texts (else the settings key "language",
//                         else the system's)
//   --sim-dir DIR         simulated flash kept in DIR between runs (NAME.flash)
//   --slots FILE          the fixture's slot labels ([slots] PORTPATH=LABEL); default: slots.ini
//                         beside the settings file
//   --records FILE, --no-records, --station NAME, --records-url URL
//                         the records of every job, as brevload-cli takes them
//   --help, --version     print and exit, without a window
// A simulated run keeps everything (settings, device programs, a sample image) in the station's
// private folder, removed at exit, so it never touches the operator's settings.
#include <QApplication>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <optional>
#include <ostream>

#include "app/CAppController.h"
#include "app/CommandLine.h"
#include "app/Console.h"
#include "app/Language.h"
#include "app/Station.h"
#include "app/lang/Translation.h"
#include "base/Parse.h"
#include "base/Utf8Path.h"
#include "ui/CMainWnd.h"

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
    uint32_t simMaxTransfer = sim::SimDeviceConfig::kDefaultMaxTransfer;
    std::vector<std::string> simFaults;
    std::string simDir;
    std::string slotsFile;
};

#ifndef BREVLOAD_VERSION
#define BREVLOAD_VERSION "0"
#endif

constexpr const char* kUsage =
    "Usage: brevload [-a] [-fFILE] [-cr] [-df] [options]\n"
    "Downloads firmware to the devices attached, from a window.\n"
    "\n"
    "  -a                     console mode: progress is printed on the console; with -fFILE every\n"
    "                         device present or arriving gets FILE downloaded\n"
    "  -fFILE                 the firmware file for console mode\n"
    "  -cr                    a Read button in every device row\n"
    "  -df                    manual bus parameters\n"
    "  --simulate N           N simulated devices instead of real ones\n"
    "  --simulate-pc N        and N simulated devices in PC mode\n"
    "  --sim-dir DIR          keep the simulated flash in DIR between runs\n"
    "  --download-all         start a download on every row once the window is up\n"
    "  --screenshot FILE      write the window to FILE (PNG) and exit\n"
    "  --screenshot-after MS  wait this many milliseconds before the screenshot (default 1500)\n"
    "  --test-zone            show the switch of the diagnostic buttons\n"
    "  --sim-max-transfer BYTES  the largest request a simulated device's path takes (default 122880)\n"
    "  --sim-fault DEVICE:KIND[:ARG...]  a fault injected into a simulated device (as brevload-cli)\n"
    "  --lang zh|en           the language of the window's texts\n"
    "  --slots FILE           slot labels of the fixture's ports (default: slots.ini beside the settings)\n"
    "  --records FILE         keep the records of every job in FILE (SQLite); default: records.sqlite\n"
    "                         beside the settings (simulated devices only into a file named here)\n"
    "  --no-records           keep no record of this run's jobs\n"
    "  --station NAME         the station's name in its records (default: the settings key station,\n"
    "                         else the host name)\n"
    "  --records-url URL      also push every record to this PostgreSQL database (postgresql://...;\n"
    "                         default: the settings key recordsUrl)\n"
    "  --help                 print this text and exit\n"
    "  --version              print the version and exit\n";

// --help or --version among the arguments: the text to print instead of opening the window.
std::optional<std::string> InfoRequest(const std::vector<std::string>& args) {
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--help") return std::string(kUsage);
        if (args[i] == "--version") return std::string("brevload ") + BREVLOAD_VERSION + "\n";
    }
    return std::nullopt;
}

// Each simulated device holds its flash in memory: as many as brevload-cli takes.
constexpr int kMaxSimulated = 64;

// "--name value" or "--name=value". False with a reason when a number is not one.
bool ParseHostOptions(const std::vector<std::string>& args, HostOptions& o, std::string& error) {
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
        auto number = [&](int& out, int most) {
            const std::string text = take();
            const std::optional<int> v = ParseInteger<int>(text);
            if (!v || *v < 0 || *v > most) {
                error = name + ": '" + text + "' is not a number from 0 to " + std::to_string(most);
                return false;
            }
            out = *v;
            return true;
        };
        if (name == "--simulate") {
            if (!number(o.simulate, kMaxSimulated)) return false;
            o.simulated = true;
        } else if (name == "--simulate-pc") {
            if (!number(o.simulatePc, kMaxSimulated)) return false;
            o.simulated = true;
        } else if (name == "--download-all") {
            o.downloadAll = true;
        } else if (name == "--sim-max-transfer") {
            const std::string text = take();
            const std::optional<uint32_t> v = ParseInteger<uint32_t>(text);
            if (!v) {
                error = name + ": '" + text + "' is not a number of bytes";
                return false;
            }
            o.simMaxTransfer = *v;
        } else if (name == "--sim-fault") {
            o.simFaults.push_back(take());
        } else if (name == "--screenshot") {
            o.screenshot = take();
        } else if (name == "--sim-dir") {
            o.simDir = take();
        } else if (name == "--slots") {
            o.slotsFile = take();
        } else if (name == "--screenshot-after") {
            if (!number(o.screenshotAfterMs, 99999)) return false;
        }
    }
    return true;
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
#ifdef SIGPIPE
    // A console that went away (a closed pipe) must not end the running downloads; the write
    // fails instead and the console is dropped.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    const std::vector<std::string> arguments = ProcessArguments(argc, argv);
    if (const std::optional<std::string> info = InfoRequest(arguments)) {
        if (std::ostream* out = OpenParentConsole()) {
            *out << *info;
            out->flush();
        }
        return 0;
    }

    // Bad numbers are refused before Qt starts, so also where no window could open.
    HostOptions host;
    std::string error;
    if (!ParseHostOptions(arguments, host, error)) {
        std::fprintf(stderr, "brevload: %s\n", error.c_str());
        return 1;
    }
    const CommandLine commandLine = ParseCommandLine(arguments);
    if (!commandLine.error.empty()) {
        std::fprintf(stderr, "brevload: %s\n", commandLine.error.c_str());
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName("brevload");

    StationOptions stationOptions;
    if (host.simulated) {
        SimFleetOptions fleet;
        fleet.downloadDevices = host.simulate;
        fleet.pcDevices = host.simulatePc;
        // Typical timings, each device a little slower than the one before.
        fleet.realistic = true;
        fleet.slowerPerDevice = 0.35;
        fleet.maxTransfer = host.simMaxTransfer;
        fleet.faults = host.simFaults;
        fleet.flashDir = PathFromUtf8(host.simDir);
        stationOptions.simulation = fleet;
    }
    stationOptions.slotsFile = PathFromUtf8(host.slotsFile);
    ApplyRecordOptions(commandLine, stationOptions);
    const std::unique_ptr<Station> station = Station::Open(std::move(stationOptions), error);
    if (!station) {
        std::fprintf(stderr, "brevload: %s\n", error.c_str());
        return 1;
    }
    SimFleet* const fleet = station->fleet();

    // Before the skin is loaded: its texts are translated as they are read.
    const std::optional<Language> language =
        ChooseProcessLanguage(arguments, &station->folders().settingsFile, error);
    if (!language) {
        std::fprintf(stderr, "brevload: %s\n", error.c_str());
        return 1;
    }
    if (!InstallLanguage(*language)) std::fprintf(stderr, "brevload: the English texts cannot be loaded\n");

    AppServices services;
    services.station = station.get();
    services.arguments = arguments;
    QtTimerService timers;
    services.timers = &timers;

    ui::CMainWnd* window = nullptr;
    services.createWindow = [&window](CAppController& controller) -> std::unique_ptr<IMainWindow> {
        ui::MainWndOptions options;
        options.settings = &controller.settings();
        options.programFolder = controller.folders().programFolder;
        options.settingsFile = controller.folders().settingsFile;
        options.commandLine = controller.commandLine();
        options.notifier = &controller.notifier();
        auto created = std::make_unique<ui::CMainWnd>(std::move(options));
        window = created.get();
        return created;
    };

    CAppController controller(std::move(services));
    if (!controller.Run() || !window) return 1;

    // Arrivals and removals: watched on the UI thread.
    std::unique_ptr<QSocketNotifier> eventNotifier;
    QTimer eventPoll;
    if (IDeviceEventSource* source = station->Events()) {
        if (source->Fd() >= 0) {
            eventNotifier = std::make_unique<QSocketNotifier>(source->Fd(), QSocketNotifier::Read);
            QObject::connect(eventNotifier.get(), &QSocketNotifier::activated,
                             [&controller] { controller.PumpDeviceEvents(); });
        } else {
            QObject::connect(&eventPoll, &QTimer::timeout, [&controller] { controller.PumpDeviceEvents(); });
            eventPoll.start(250);
        }
    }

    if (fleet) {
        window->AddTipsText("Simulation: right-click the window to attach or detach devices", {});
        window->setContextMenuPolicy(Qt::CustomContextMenu);
        QObject::connect(
            window, &QWidget::customContextMenuRequested, window, [window, fleet](const QPoint& pos) {
                QMenu menu(window);
                menu.addAction("Attach a simulated device", [fleet] { fleet->AttachAnother(false); });
                menu.addAction("Attach a simulated PC-mode device", [fleet] { fleet->AttachAnother(true); });
                menu.addSeparator();
                for (const std::string& name : fleet->bus()->Names())
                    menu.addAction(QString::fromStdString("Detach " + name),
                                   [fleet, name] { fleet->bus()->Detach(name); });
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
    if (fleet) fleet->DetachAll();
    eventNotifier.reset();
    controller.WaitForJobs();
    return status;
}
