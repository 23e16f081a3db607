// brevload: the window program. Real devices through the platform backend, or simulated ones:
//   --simulate N          N simulated devices on a simulated bus (right-click adds or removes more)
//   --simulate-pc N       and N simulated devices running their PC-mode firmware
//   --download-all        start a download on every row once the window is up
//   --screenshot FILE     write the window to FILE (PNG) and exit
//   --screenshot-after MS after this many milliseconds (default 1500)
//   --test-zone           show the switch of the diagnostic buttons
//   --lang zh|en          the language of the window's texts (else the settings key "language",
//                         else the system's)
// A simulated run keeps everything (settings, device programs, a sample image) in the station's
// private folder, removed at exit, so it never touches the operator's settings.
#include <QApplication>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <optional>

#include "app/CAppController.h"
#include "app/CommandLine.h"
#include "app/Language.h"
#include "app/Station.h"
#include "app/lang/Translation.h"
#include "base/Parse.h"
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
};

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
        auto number = [&](int& out) {
            const std::string text = take();
            const std::optional<int> v = ParseInteger<int>(text);
            if (!v || *v < 0 || *v >= 100 * 1000) {
                error = name + ": '" + text + "' is not a number from 0 to 99999";
                return false;
            }
            out = *v;
            return true;
        };
        if (name == "--simulate") {
            if (!number(o.simulate)) return false;
            o.simulated = true;
        } else if (name == "--simulate-pc") {
            if (!number(o.simulatePc)) return false;
            o.simulated = true;
        } else if (name == "--download-all") {
            o.downloadAll = true;
        } else if (name == "--screenshot") {
            o.screenshot = take();
        } else if (name == "--screenshot-after") {
            if (!number(o.screenshotAfterMs)) return false;
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
    QApplication app(argc, argv);
    QApplication::setApplicationName("brevload");

    const std::vector<std::string> arguments = ProcessArguments(argc, argv);
    HostOptions host;
    std::string error;
    if (!ParseHostOptions(arguments, host, error)) {
        std::fprintf(stderr, "brevload: %s\n", error.c_str());
        return 1;
    }

    StationOptions stationOptions;
    if (host.simulated) {
        SimFleetOptions fleet;
        fleet.downloadDevices = host.simulate;
        fleet.pcDevices = host.simulatePc;
        // Typical timings, each device a little slower than the one before.
        fleet.realistic = true;
        fleet.slowerPerDevice = 0.35;
        stationOptions.simulation = fleet;
    }
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
