#include "ui/CMainWnd.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QThread>
#include <QWindow>
#include <cstdio>

#include "app/settings/SettingsFile.h"
#include "base/Parse.h"
#include "base/Utf8Path.h"
#include "device/CommandSet.h"
#include "image/ImageChecker.h"
#include "ops/Texts.h"
#include "ui/NativeDeviceEvents.h"

namespace brev::ui {

namespace {

constexpr const char* kCheckSprite = "imgs/100a_013.png";

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToUtf8(const QString& text) { return text.toUtf8().toStdString(); }

// A text of the window in the operator's language.
QString Tr(const char* source) { return FromUtf8(text::Tr(source)); }

enum class FileAccess { Missing, Unreadable, Readable };

// Whether the operator's firmware file can be used: it exists and can be opened for reading.
FileAccess CheckFileAccess(const std::string& path) {
    if (path.empty()) return FileAccess::Missing;
    const QFileInfo info(FromUtf8(path));
    if (!info.exists()) return FileAccess::Missing;
    QFile file(info.absoluteFilePath());
    if (!info.isFile() || !file.open(QIODevice::ReadOnly)) return FileAccess::Unreadable;
    return FileAccess::Readable;
}

// The column that holds the window's rows: the Window element's single VerticalLayout.
const SkinBoxLayout* ContentLayout(const QWidget* window) {
    const auto* layout = dynamic_cast<const SkinBoxLayout*>(window->layout());
    while (layout && layout->count() == 1 && layout->itemAt(0)->widget()) {
        const auto* inner = dynamic_cast<const SkinBoxLayout*>(layout->itemAt(0)->widget()->layout());
        if (!inner || inner->orientation() != Qt::Vertical) break;
        layout = inner;
    }
    return layout;
}

}  // namespace

std::string LogTimeStamp(std::chrono::system_clock::time_point utc) {
    using namespace std::chrono;
    const auto local = floor<seconds>(utc) + hours(8);
    const auto day = floor<days>(local);
    const year_month_day date{day};
    const hh_mm_ss<seconds> time{local - day};
    char text[64];
    std::snprintf(text, sizeof text, "%d-%u-%u %02d:%02d:%02d ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

QString FileDialogFolder(const std::filesystem::path& programFolder) {
    const QString program = QString::fromStdString(PathToUtf8(programFolder));
    const QString output = program + "/../../build/out";
    // A folder that is not there would be taken as a file name to fill in.
    return QFileInfo(output).isDir() ? output : program;
}

QString CheckImage(SkinButton::ImageState state, bool checked) {
    // Columns: unchecked, checked; rows: normal, hot (also focused), pushed, disabled.
    int row = 0;
    switch (state) {
        case SkinButton::Hot:
        case SkinButton::Focused:
            row = 1;
            break;
        case SkinButton::Pushed:
            row = 2;
            break;
        case SkinButton::Disabled:
            row = 3;
            break;
        default:
            row = 0;
            break;
    }
    const int x = checked ? 16 : 0;
    const int y = row * 16;
    return QString("file='%1' source='%2,%3,%4,%5' dest='0,7,16,23' corner='2,2,2,2' ")
        .arg(kCheckSprite)
        .arg(x)
        .arg(y)
        .arg(x + 16)
        .arg(y + 16);
}

// One row of the notification table: the first row whose type and control match handles it.
struct CMainWnd::Route {
    const char* type;
    const char* control;
    void (*action)(CMainWnd&, QWidget*);
};

const std::vector<CMainWnd::Route>& CMainWnd::Routes() {
    static const std::vector<Route> routes = {
        {"click", "btnAutoDownload", [](CMainWnd& w, QWidget*) { w.onAutoDownloadClick(); }},
        {"click", "btnSystemResetWhenFinisg", [](CMainWnd& w, QWidget*) { w.onResetClick(); }},
        {"click", "btnSelectFile", [](CMainWnd& w, QWidget*) { w.onSelectFileClick(); }},
        {"click", "btnClose", [](CMainWnd& w, QWidget*) { w.onCloseClick(); }},
        {"click", "btnMini", [](CMainWnd& w, QWidget*) { w.showMinimized(); }},
        {"click", "btnStartDownload", [](CMainWnd& w, QWidget* s) { w.onStartDownloadClick(s); }},
        {"click", "btnStartRead", [](CMainWnd& w, QWidget* s) { w.onStartReadClick(s); }},
        {"click", "btnInit", [](CMainWnd& w, QWidget*) { w.events_.TestInit.Raise(); }},
        {"click", "btnGetCrc16", [](CMainWnd& w, QWidget*) { w.events_.TestGetCrc16.Raise(); }},
        {"click", "btnSystemRest", [](CMainWnd& w, QWidget*) { w.events_.TestSystemReset.Raise(); }},
        {"click", "btnReadId", [](CMainWnd& w, QWidget*) { w.events_.TestReadFlashId.Raise(); }},
        {"click", "btnWriteByte", [](CMainWnd& w, QWidget*) { w.events_.TestWriteByte.Raise(); }},
        {"click", "btnWritePage", [](CMainWnd& w, QWidget*) { w.events_.TestWritePage.Raise(); }},
        {"click", "btnReadChipVer", [](CMainWnd& w, QWidget*) { w.events_.TestReadChipVer.Raise(); }},
        {"click", "btnErase4K", [](CMainWnd& w, QWidget*) { w.events_.TestErase4K.Raise(); }},
        {"click", "btnErase32K", [](CMainWnd& w, QWidget*) { w.events_.TestErase32K.Raise(); }},
        {"click", "btnErase64K", [](CMainWnd& w, QWidget*) { w.events_.TestErase64K.Raise(); }},
        {"click", "btnEraseChip", [](CMainWnd& w, QWidget*) { w.events_.TestEraseChip.Raise(); }},
        {"click", "btnRead", [](CMainWnd& w, QWidget*) { w.events_.TestRead.Raise(); }},
        {"click", "btnFastRead", [](CMainWnd& w, QWidget*) { w.events_.TestFastRead.Raise(); }},
        {"click", "btnCloseDev", [](CMainWnd& w, QWidget*) { w.events_.TestCloseDevice.Raise(); }},
        {"click", "btnEnEncrype",
         [](CMainWnd& w, QWidget*) { w.events_.TestSetKey.Raise(1, cmd::kDeviceKey); }},
        {"click", "btnDisEncrype", [](CMainWnd& w, QWidget*) { w.events_.TestSetKey.Raise(0, 0); }},
        {"click", "opTestZone",
         [](CMainWnd& w, QWidget*) {
             if (w.vlTestZone_ && w.opTestZone_) w.vlTestZone_->setVisible(w.opTestZone_->isChecked());
             w.fitHeight();
         }},
        {"click", "opChipZone", [](CMainWnd&, QWidget*) {}},
        {"click", "btnEraseOnly",
         [](CMainWnd& w, QWidget* s) {
             w.eraseOnly_ = !w.eraseOnly_;
             w.showCheck(qobject_cast<SkinButton*>(s), w.eraseOnly_);
         }},
        {"click", "btnEraseUse4K",
         [](CMainWnd& w, QWidget* s) {
             w.eraseUse4K_ = !w.eraseUse4K_;
             w.showCheck(qobject_cast<SkinButton*>(s), w.eraseUse4K_);
         }},
        {"click", "btnWriteRandon",
         [](CMainWnd& w, QWidget* s) {
             w.writeRandom_ = !w.writeRandom_;
             w.showCheck(qobject_cast<SkinButton*>(s), w.writeRandom_);
         }},
        {"click", "btnClearTips",
         [](CMainWnd& w, QWidget*) {
             if (w.richOpTips_) w.richOpTips_->clear();
         }},
        {"click", "opExFlash", [](CMainWnd& w, QWidget*) { w.onExFlashClick(); }},
        {"textchanged", "edClikDiv", [](CMainWnd& w, QWidget* s) { w.onBusParamChanged(s); }},
        {"textchanged", "edLineMode", [](CMainWnd& w, QWidget* s) { w.onBusParamChanged(s); }},
        {"textchanged", "edChipeSelIndirect", [](CMainWnd& w, QWidget* s) { w.onBusParamChanged(s); }},
        {"textchanged", "edChipSelDirect", [](CMainWnd& w, QWidget* s) { w.onBusParamChanged(s); }},
        {"textchanged", "edChipType", [](CMainWnd& w, QWidget* s) { w.onBusParamChanged(s); }},
    };
    return routes;
}

CMainWnd::CMainWnd(MainWndOptions options) : QWidget(nullptr), options_(std::move(options)) {
    if (!options_.clock) options_.clock = [] { return std::chrono::system_clock::now(); };
    if (!options_.taskbar) options_.taskbar = &MakeTaskbarProgress;
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint);
}

CMainWnd::~CMainWnd() { logReady_ = false; }

bool CMainWnd::Create() {
    QString error;
    const std::optional<SkinNode> layout = LoadSkinFile("main.xml", &error);
    if (!layout || layout->tag != "Window") {
        qWarning("brevload: cannot load the window layout: %s", qPrintable(error));
        return false;
    }
    windowInfo_ = BuildSkinWindow(*layout, this,
                                  [this](const QString& type, QWidget* sender) { notify(type, sender); });
    setFixedSize(windowInfo_.size);
    if (const SkinBoxLayout* content = ContentLayout(this)) baseContentHeight_ = content->contentLength();

    // The taskbar button exists only once the native window does.
    taskbarProgress_ = options_.taskbar(this);

    // Console mode must reach the controller before the start-up scan it serves.
    const CommandLine& cmd = options_.commandLine;
    consoleMode_ = cmd.consoleMode;
    showReadButton_ = cmd.showReadButton;
    if (consoleMode_) events_.ConsoleDownload.Raise(cmd.filePath);

    // One read of the settings file feeds the shared settings and the window's own fields.
    SharedSettings& shared = *options_.settings;
    WindowSettings saved;
    LoadSettings(options_.settingsFile, shared, saved);

    setWindowTitle("Brevantis Brevload");
    setWindowIcon(QIcon(QString(kSkinRoot) + "imgs/logo.png"));

    // A layout without these controls cannot be driven; refuse it rather than crash later.
    deviceZone_ = FindControl<SkinContainer>(this, "deviceZone");
    btnAutoDownload_ = FindControl<SkinButton>(this, "btnAutoDownload");
    btnSystemResetWhenFinisg_ = FindControl<SkinButton>(this, "btnSystemResetWhenFinisg");
    edFile_ = FindControl<QLineEdit>(this, "edFile");
    opTestZone_ = FindControl<SkinButton>(this, "opTestZone");
    vlTestZone_ = FindControl<QWidget>(this, "vlTestZone");
    edCS_ = FindControl<QLineEdit>(this, "edCS");
    edCLK_ = FindControl<QLineEdit>(this, "edCLK");
    edSI_ = FindControl<QLineEdit>(this, "edSI");
    edSO_ = FindControl<QLineEdit>(this, "edSO");
    richOpTips_ = FindControl<QPlainTextEdit>(this, "richOpTips");
    logReady_ = richOpTips_ != nullptr;
    if (!deviceZone_ || !btnAutoDownload_ || !btnSystemResetWhenFinisg_ || !edFile_ || !edCS_ || !edCLK_ ||
        !edSI_ || !edSO_) {
        qWarning("brevload: the window layout lacks a control the window needs");
        return false;
    }

    // The click action flips the negated value back and lines the dependent controls up.
    exFlash_ = saved.exFlash ? 0 : 1;
    onExFlashClick();

    edCS_->setText(FromUtf8(saved.cs));
    edCLK_->setText(FromUtf8(saved.clk));
    edSI_->setText(FromUtf8(saved.si));
    edSO_->setText(FromUtf8(saved.so));

    // -df: the bus parameters become editable; the edits start with the loaded bytes.
    if (cmd.manualBusParams) {
        if (QWidget* row = FindControl<QWidget>(this, "busParamLayout")) row->setVisible(true);
        const std::pair<const char*, uint8_t> bus[] = {
            {"edClikDiv", shared.busClkDiv.load()},
            {"edLineMode", shared.busLineMode.load()},
            {"edChipeSelIndirect", shared.busChipSelIndirect.load()},
            {"edChipSelDirect", shared.busChipSelDirect.load()},
            {"edChipType", shared.busChipType.load()},
        };
        for (const auto& [name, value] : bus)
            if (auto* edit = FindControl<QLineEdit>(this, name)) edit->setText(QString::number(value));
    }
    // --test-zone: the switch of the diagnostic buttons.
    for (const std::string& opt : cmd.longOptions)
        if (opt == "--test-zone")
            if (QWidget* row = FindControl<QWidget>(this, "testZoneSwitch")) row->setVisible(true);

    // In console mode the field shows the file the command line names.
    edFile_->setText(consoleMode_ ? FromUtf8(cmd.filePath) : FromUtf8(shared.downloadFilePath()));

    resetAfterDownloadFlag_ = shared.resetAfterDownloadFlag.load() ? 1 : 0;
    showCheck(btnSystemResetWhenFinisg_, resetAfterDownloadFlag_);
    autoDownloadFlag_ = shared.autoDownloadFlag.load() ? 1 : 0;
    showCheck(btnAutoDownload_, autoDownloadFlag_);

    // A saved file that is gone or unreadable is dropped silently: automatic downloads of a
    // missing file would only fail row after row.
    if (CheckFileAccess(shared.downloadFilePath()) != FileAccess::Readable) {
        autoDownloadFlag_ = 0;
        shared.autoDownloadFlag = 0;
        shared.setDownloadFilePath({});
        edFile_->clear();
        showCheck(btnAutoDownload_, false);
    }

    fitHeight();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), size());
        frame.moveCenter(screen->availableGeometry().center());
        frame.moveTop(std::max(frame.top(), screen->availableGeometry().top()));
        move(frame.topLeft());
    }
    show();
    repaint();
    return true;
}

void CMainWnd::notify(const QString& type, QWidget* sender) {
    if (!sender) return;
    const QString name = sender->objectName();
    for (const Route& route : Routes()) {
        if (type == QLatin1String(route.type) && name == QLatin1String(route.control)) {
            route.action(*this, sender);
            return;
        }
    }
}

void CMainWnd::showCheck(SkinButton* button, bool checked) {
    if (!button) return;
    for (auto state :
         {SkinButton::Normal, SkinButton::Hot, SkinButton::Focused, SkinButton::Pushed, SkinButton::Disabled})
        button->setImage(state, CheckImage(state, checked));
}

void CMainWnd::onAutoDownloadClick() {
    SharedSettings& shared = *options_.settings;
    if (autoDownloadFlag_) {
        autoDownloadFlag_ = 0;
        shared.autoDownloadFlag = 0;
        showCheck(btnAutoDownload_, false);
        return;
    }
    switch (CheckFileAccess(shared.downloadFilePath())) {
        case FileAccess::Readable:
            autoDownloadFlag_ = 1;
            shared.autoDownloadFlag = 1;
            showCheck(btnAutoDownload_, true);
            break;
        case FileAccess::Unreadable:
            shared.setDownloadFilePath({});
            edFile_->clear();
            ShowBox(Tr("文件不能访问"), QString());
            break;
        case FileAccess::Missing:
            ShowBox(Tr("请先选择一个文件"), QString());
            break;
    }
}

void CMainWnd::onResetClick() {
    resetAfterDownloadFlag_ = !resetAfterDownloadFlag_;
    showCheck(btnSystemResetWhenFinisg_, resetAfterDownloadFlag_);
    options_.settings->resetAfterDownloadFlag = resetAfterDownloadFlag_;
}

void CMainWnd::onExFlashClick() {
    exFlash_ = !exFlash_;
    const bool on = exFlash_ != 0;
    if (QWidget* pins = FindControl<QWidget>(this, "exFlashLayout")) pins->setVisible(on);
    fitHeight();
    for (const char* name : {"btnSystemResetWhenFinisg", "btnEraseOnly", "btnEraseUse4K", "btnWriteRandon"})
        if (QWidget* w = FindControl<QWidget>(this, name)) w->setEnabled(!on);
    for (QLineEdit* edit : {edCS_, edCLK_, edSI_, edSO_})
        if (edit) edit->setEnabled(on);
    showCheck(FindControl<SkinButton>(this, "opExFlash"), on);
}

void CMainWnd::fitHeight() {
    const SkinBoxLayout* content = ContentLayout(this);
    if (!content || baseContentHeight_ <= 0) return;
    // The rows shown beyond the layout's own add to the window's height, as far as the screen
    // allows; past that the device zone gives up room, down to its minimum, and never the rows.
    const int needed = content->contentLength();
    int height = windowInfo_.size.height() + std::max(0, needed - baseContentHeight_);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        height = std::min(height, std::max(windowInfo_.size.height(), screen->availableGeometry().height()));
    height = std::max(height, needed);
    if (height != this->height()) setFixedSize(windowInfo_.size.width(), height);
}

void CMainWnd::scrollToRow(QWidget* row) {
    // The zone sits in a scroll area (zone <- viewport <- area).
    QWidget* viewport = deviceZone_->parentWidget();
    auto* area = viewport ? qobject_cast<QScrollArea*>(viewport->parentWidget()) : nullptr;
    if (!area) return;
    // After the row's layout pass: the zone takes its new length, then the area scrolls.
    QMetaObject::invokeMethod(
        area,
        [area, zoneRef = QPointer<QWidget>(deviceZone_), rowRef = QPointer<QWidget>(row)] {
            QWidget* zone = zoneRef.data();
            QWidget* shown = rowRef.data();
            QWidget* port = area->viewport();
            if (!zone || !shown || !port || shown->isHidden()) return;
            QLayout* layout = zone->layout();
            if (layout) layout->activate();
            zone->resize(port->width(), std::max(port->height(), zone->minimumSizeHint().height()));
            if (layout) layout->setGeometry(zone->rect());
            area->ensureWidgetVisible(shown, 0, 0);
        },
        Qt::QueuedConnection);
}

void CMainWnd::onSelectFileClick() {
    const QString chosen = ChooseFile(FileDialogFolder(options_.programFolder));
    if (chosen.isEmpty()) return;
    edFile_->setText(chosen);
    options_.settings->setDownloadFilePath(ToUtf8(chosen));
}

void CMainWnd::onCloseClick() {
    WindowSettings window;
    window.exFlash = exFlash_ != 0;
    const PinTexts pins = pinTexts();
    window.cs = pins[0];
    window.clk = pins[1];
    window.si = pins[2];
    window.so = pins[3];
    std::string error;
    if (!SaveSettings(options_.settingsFile, *options_.settings, window, &error)) {
        IJobNotifier& report = options_.notifier ? *options_.notifier : static_cast<IJobNotifier&>(*this);
        report.ShowMessageBox(text::FillText(text::kSettingsSaveFailed, error), std::string());
    }
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void CMainWnd::onStartDownloadClick(QWidget* sender) {
    auto* button = qobject_cast<SkinButton*>(sender);
    if (!button) return;
    if (exFlash_ == 1) {
        for (const QLineEdit* edit : {edCS_, edCLK_, edSI_, edSO_}) {
            if (edit->text().isEmpty()) {
                ShowBox(Tr(text::kEnterPinConfig), QString());
                return;
            }
        }
    }
    // A greyed option (external flash greys three) keeps its check mark but must not act.
    const auto active = [this](const char* name, int value) {
        const QWidget* option = FindControl<QWidget>(this, name);
        return option && option->isEnabled() ? value : 0;
    };
    events_.StartDownload.Raise(ToUtf8(button->text()), active("btnEraseOnly", eraseOnly_),
                                active("btnEraseUse4K", eraseUse4K_), active("btnWriteRandon", writeRandom_),
                                exFlash_);
}

void CMainWnd::onStartReadClick(QWidget* sender) {
    const QWidget* row = sender->parentWidget();
    if (row) events_.StartRead.Raise(ToUtf8(row->objectName()));
}

void CMainWnd::onBusParamChanged(QWidget* sender) {
    auto* edit = qobject_cast<QLineEdit*>(sender);
    if (!edit) return;
    const std::string text = ToUtf8(edit->text());
    std::size_t end = 0;
    const int64_t value = ParseLeadingInteger<int64_t>(text, &end);
    if (end != text.size()) {
        // Only the number stays; setting it notifies again, and that stores it.
        const QString number = QString::number(value);
        edit->setText(number);
        edit->setCursorPosition(static_cast<int>(number.size()));
        return;
    }
    const auto byte = static_cast<uint8_t>(value & 0xFF);
    SharedSettings& shared = *options_.settings;
    const QString name = edit->objectName();
    if (name == "edClikDiv")
        shared.busClkDiv = byte;
    else if (name == "edLineMode")
        shared.busLineMode = byte;
    else if (name == "edChipeSelIndirect")
        shared.busChipSelIndirect = byte;
    else if (name == "edChipSelDirect")
        shared.busChipSelDirect = byte;
    else if (name == "edChipType")
        shared.busChipType = byte;
}

// --- rows ---

SkinContainer* CMainWnd::FindRow(const QString& name) const {
    if (!deviceZone_ || name.isEmpty()) return nullptr;
    auto* row = deviceZone_->findChild<SkinContainer*>(name, Qt::FindDirectChildrenOnly);
    return row && row->kind() == SkinContainer::Kind::Horizontal ? row : nullptr;
}

SkinProgress* CMainWnd::findProgress(const QString& rowName) const {
    const SkinContainer* row = FindRow(rowName);
    return row ? row->findChild<SkinProgress*>("progressDownload") : nullptr;
}

void CMainWnd::AddDeviceItem(const std::string& name, const std::string& tooltip) {
    if (!deviceZone_) return;
    if (!rowLayout_) {
        QString error;
        rowLayout_ = LoadSkinFile("DeviceItem.xml", &error);
        if (!rowLayout_) {
            qWarning("brevload: cannot load the row layout: %s", qPrintable(error));
            return;
        }
    }
    QWidget* row = BuildSkinElement(*rowLayout_, deviceZone_,
                                    [this](const QString& type, QWidget* sender) { notify(type, sender); });
    if (!row) return;
    const QString rowName = FromUtf8(name);
    if (auto* download = row->findChild<SkinButton*>("btnStartDownload")) {
        download->setText(rowName);
        if (!tooltip.empty()) download->setToolTip(FromUtf8(tooltip));
    }
    if (showReadButton_)
        if (auto* read = row->findChild<SkinButton*>("btnStartRead")) read->setVisible(true);
    row->setObjectName(rowName);
    row->show();
    scrollToRow(row);
}

void CMainWnd::RemoveDeviceItem(const std::string& name) {
    SkinContainer* row = FindRow(FromUtf8(name));
    if (!row) return;
    // The row may be inside one of its own notifications: unlink it now, delete it later.
    row->hide();
    if (QLayout* layout = deviceZone_->layout()) layout->removeWidget(row);
    row->setObjectName(QString());
    row->deleteLater();
    setTaskbarState(ITaskbarProgress::State::NoProgress);
}

void CMainWnd::EnableOptionControls(bool enable) {
    for (const char* name :
         {"btnEraseOnly", "btnEraseUse4K", "btnSystemResetWhenFinisg", "btnWriteRandon", "opExFlash"})
        if (QWidget* w = FindControl<QWidget>(this, name)) w->setEnabled(enable);
}

PinTexts CMainWnd::pinTexts() const {
    PinTexts pins = DefaultPinTexts();
    const QLineEdit* edits[] = {edCS_, edCLK_, edSI_, edSO_};
    for (std::size_t i = 0; i < pins.size(); ++i)
        if (edits[i]) pins[i] = ToUtf8(edits[i]->text());
    return pins;
}

// --- reports from jobs ---
// Each report is a queued call carrying the whole device name (or the log text), so the UI
// thread applies them in the order they were posted and no text is lost.

void CMainWnd::PostProgressPos(const std::string& name, int percent) {
    if (name.empty()) return;
    QMetaObject::invokeMethod(
        this, [this, n = FromUtf8(name), percent] { applyProgressPos(n, percent); }, Qt::QueuedConnection);
}

void CMainWnd::PostProgressImage(const std::string& name, int state) {
    if (name.empty()) return;
    QMetaObject::invokeMethod(
        this, [this, n = FromUtf8(name), state] { applyProgressImage(n, state); }, Qt::QueuedConnection);
}

void CMainWnd::PostEnableControls(const std::string& name, int enable) {
    if (name.empty()) return;
    QMetaObject::invokeMethod(
        this, [this, n = FromUtf8(name), enable] { applyEnableControls(n, enable); }, Qt::QueuedConnection);
}

void CMainWnd::AddTipsText(const std::string& text, const std::string& device) {
    (void)device;
    if (!logReady_) return;
    QMetaObject::invokeMethod(
        this, [this, t = FromUtf8(text)] { appendTipsText(t); }, Qt::QueuedConnection);
}

void CMainWnd::ShowFileParseError(int code) {
    const auto error = ImageErrorText(code);
    if (!error) return;
    const QString message = FromUtf8(text::Tr(std::string(*error))), caption = Tr("文件解析错误");
    if (QThread::currentThread() == thread())
        ShowBox(message, caption);
    else
        QMetaObject::invokeMethod(
            this, [this, message, caption] { ShowBox(message, caption); }, Qt::QueuedConnection);
}

void CMainWnd::ShowMessageBox(const std::string& text, const std::string& caption) {
    const QString t = FromUtf8(text), c = FromUtf8(caption);
    if (QThread::currentThread() == thread())
        ShowBox(t, c);
    else
        QMetaObject::invokeMethod(
            this, [this, t, c] { ShowBox(t, c); }, Qt::QueuedConnection);
}

void CMainWnd::applyProgressPos(const QString& name, int percent) {
    if (SkinProgress* bar = findProgress(name)) {
        bar->setValue(percent);
        bar->setText(QString::asprintf("%% %d", percent));
    }
    if (taskbarProgress_) taskbarProgress_->SetProgressValue(percent, 100);
}

void CMainWnd::applyProgressImage(const QString& name, int state) {
    SkinProgress* bar = findProgress(name);
    if (!bar) return;
    switch (state) {
        case ProgressFail:
            bar->setForeImage("imgs/progressFail.png");
            setTaskbarState(ITaskbarProgress::State::Error);
            ShowBox(Tr("下载失败"), Tr("提示"));
            break;
        case ProgressSuccess:
            bar->setForeImage("imgs/progressSucess.png");
            setTaskbarState(ITaskbarProgress::State::Normal);
            break;
        case ProgressLoading:
            bar->setForeImage("imgs/progressLoading.png");
            setTaskbarState(ITaskbarProgress::State::Normal);
            break;
        default:
            break;
    }
}

void CMainWnd::applyEnableControls(const QString& name, int enable) {
    if (SkinContainer* row = FindRow(name)) row->setEnabled(enable != 0);
}

void CMainWnd::appendTipsText(const QString& text) {
    if (!richOpTips_) return;
    const QString line = FromUtf8(LogTimeStamp(options_.clock())) + text + "\n";
    QTextCursor cursor(richOpTips_->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(line);
    richOpTips_->verticalScrollBar()->setValue(richOpTips_->verticalScrollBar()->maximum());
}

void CMainWnd::setTaskbarState(ITaskbarProgress::State state) {
    if (taskbarProgress_) taskbarProgress_->SetProgressState(state);
}

// --- window behaviour ---

void CMainWnd::ShowBox(const QString& text, const QString& caption) {
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, this);
    box.exec();
}

QString CMainWnd::ChooseFile(const QString& initialFolder) {
    QFileDialog dialog(this, QString(), initialFolder);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters({"up file(*.up)", "bin file(*.bin)", "all file(*.*)"});
    dialog.selectNameFilter("up file(*.up)");
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}

void CMainWnd::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        close();  // like the system close: nothing is saved
        return;
    }
    QWidget::keyPressEvent(event);
}

void CMainWnd::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && event->position().y() < windowInfo_.captionHeight) {
        if (windowHandle() && windowHandle()->startSystemMove()) return;
        dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
        return;
    }
    QWidget::mousePressEvent(event);
}

void CMainWnd::mouseMoveEvent(QMouseEvent* event) {
    if (dragOffset_ && (event->buttons() & Qt::LeftButton)) {
        move(event->globalPosition().toPoint() - *dragOffset_);
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void CMainWnd::mouseReleaseEvent(QMouseEvent* event) {
    dragOffset_.reset();
    QWidget::mouseReleaseEvent(event);
}

void CMainWnd::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(),
                     windowInfo_.background.isValid() ? windowInfo_.background : palette().window().color());
}

void CMainWnd::resizeEvent(QResizeEvent* event) {
    // Offscreen rendering (tests, screenshots) has no window shape.
    if (windowInfo_.cornerRadius > 0 && QGuiApplication::platformName() != "offscreen") {
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()), windowInfo_.cornerRadius, windowInfo_.cornerRadius);
        setMask(QRegion(path.toFillPolygon().toPolygon()));
    }
    QWidget::resizeEvent(event);
}

bool CMainWnd::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
    if (const auto event = DecodeNativeDeviceEvent(eventType, message)) events_.DeviceChanged.Raise(*event);
    return QWidget::nativeEvent(eventType, message, result);
}

}  // namespace brev::ui
