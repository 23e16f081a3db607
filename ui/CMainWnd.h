// The main window: built from skin/main.xml, one row per device from skin/DeviceItem.xml.
// Keeps the option state, raises the window events towards the controller and applies the
// reports of the jobs, which may come from any thread, on the UI thread in posting order.
#pragma once

#include <QString>
#include <QWidget>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/CommandLine.h"
#include "app/IMainWindow.h"
#include "ops/SharedSettings.h"
#include "ui/SkinLoader.h"
#include "ui/TaskbarProgress.h"

class QLineEdit;
class QPlainTextEdit;

namespace brev::ui {

// The operation log's time stamp for a UTC time: UTC+8 as "%d-%d-%d %02d:%02d:%02d ".
std::string LogTimeStamp(std::chrono::system_clock::time_point utc);

// The check-sprite image string for one state of a check button.
QString CheckImage(SkinButton::ImageState state, bool checked);

// Where the file dialog opens: the build output folder beside the program when it exists,
// else the program folder itself.
QString FileDialogFolder(const std::filesystem::path& programFolder);

struct MainWndOptions {
    SharedSettings* settings = nullptr;  // not owned; outlives the window
    std::filesystem::path programFolder;
    std::filesystem::path settingsFile;  // confile.inf
    CommandLine commandLine;
    // Where the window's own problem reports go (the controller's notifier, which also prints
    // them in console mode); default: the window's message box.
    IJobNotifier* notifier = nullptr;
    std::function<std::chrono::system_clock::time_point()> clock;        // default: system clock
    std::function<std::unique_ptr<ITaskbarProgress>(QWidget*)> taskbar;  // default: the platform's
};

class CMainWnd : public QWidget, public IMainWindow {
    Q_OBJECT
public:
    explicit CMainWnd(MainWndOptions options);
    ~CMainWnd() override;

    // IMainWindow (UI thread)
    bool Create() override;
    CWindowEvents& events() override { return events_; }
    void AddDeviceItem(const std::string& name, const std::string& tooltip = {}) override;
    void RemoveDeviceItem(const std::string& name) override;
    void EnableOptionControls(bool enable) override;
    int exFlashOption() const override { return exFlash_; }
    PinTexts pinTexts() const override;

    // IJobNotifier (any thread)
    void PostProgressPos(const std::string& name, int percent) override;
    void PostProgressImage(const std::string& name, int state) override;
    void PostEnableControls(const std::string& name, int enable) override;
    void AddTipsText(const std::string& text, const std::string& device) override;
    void ShowFileParseError(int code) override;
    void ShowMessageBox(const std::string& text, const std::string& caption) override;

    // Option state, for the controller's automatic download and for tests.
    int autoDownloadFlag() const { return autoDownloadFlag_; }
    int resetAfterDownloadFlag() const { return resetAfterDownloadFlag_; }
    int eraseOnly() const { return eraseOnly_; }
    int eraseUse4K() const { return eraseUse4K_; }
    int writeRandom() const { return writeRandom_; }

    // The row named after a device (a horizontal layout directly in deviceZone), or null.
    SkinContainer* FindRow(const QString& name) const;
    QWidget* deviceZone() const { return deviceZone_; }

protected:
    // Every message box goes through here (one OK button, owned by the window).
    virtual void ShowBox(const QString& text, const QString& caption);
    // The file-open dialog; empty when cancelled.
    virtual QString ChooseFile(const QString& initialFolder);

    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    // Device arrivals the platform announces to the window itself become DeviceChanged.
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    struct Route;
    static const std::vector<Route>& Routes();

    void notify(const QString& type, QWidget* sender);
    void showCheck(SkinButton* button, bool checked);

    void onAutoDownloadClick();
    void onResetClick();
    void onExFlashClick();
    void onSelectFileClick();
    void onCloseClick();
    void onStartDownloadClick(QWidget* sender);
    void onStartReadClick(QWidget* sender);
    void onBusParamChanged(QWidget* sender);

    // The report handlers, on the UI thread.
    void applyProgressPos(const QString& name, int percent);
    void applyProgressImage(const QString& name, int state);
    void applyEnableControls(const QString& name, int enable);
    void appendTipsText(const QString& text);

    SkinProgress* findProgress(const QString& rowName) const;
    // Grows (or shrinks back) the window so the rows shown above and below fit.
    void fitHeight();
    void scrollToRow(QWidget* row);
    void setTaskbarState(ITaskbarProgress::State state);

    MainWndOptions options_;
    CWindowEvents events_;
    SkinWindowInfo windowInfo_;
    std::optional<SkinNode> rowLayout_;
    std::unique_ptr<ITaskbarProgress> taskbarProgress_;
    std::optional<QPoint> dragOffset_;
    int baseContentHeight_ = 0;  // what the layout needs with the optional rows as built

    bool consoleMode_ = false;
    bool showReadButton_ = false;
    int autoDownloadFlag_ = 0;
    int resetAfterDownloadFlag_ = 0;
    int exFlash_ = 0;
    int eraseOnly_ = 0;
    int eraseUse4K_ = 0;
    int writeRandom_ = 0;

    QWidget* deviceZone_ = nullptr;
    SkinButton* btnAutoDownload_ = nullptr;
    SkinButton* btnSystemResetWhenFinisg_ = nullptr;
    QLineEdit* edFile_ = nullptr;
    SkinButton* opTestZone_ = nullptr;
    QWidget* vlTestZone_ = nullptr;
    QLineEdit* edCS_ = nullptr;
    QLineEdit* edCLK_ = nullptr;
    QLineEdit* edSI_ = nullptr;
    QLineEdit* edSO_ = nullptr;
    QPlainTextEdit* richOpTips_ = nullptr;
    std::atomic<bool> logReady_{false};
};

}  // namespace brev::ui
