// The main window on the offscreen platform: creation, options, rows, job reports, log, saving.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <fstream>
#include <thread>
#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// dbt.h needs windows.h first.
#include <dbt.h>

#include <QFileInfo>
#endif

#include "app/lang/Translation.h"
#include "app/settings/IniFile.h"
#include "image/ImageChecker.h"
#include "ui/CMainWnd.h"

namespace brev::ui {
namespace {

using Box = std::pair<QString, QString>;  // text, caption

struct TaskbarLog {
    std::vector<std::pair<int, int>> values;
    std::vector<ITaskbarProgress::State> states;
};

class RecordingTaskbar : public ITaskbarProgress {
public:
    explicit RecordingTaskbar(std::shared_ptr<TaskbarLog> log) : log_(std::move(log)) {}
    void SetProgressValue(int completed, int total) override { log_->values.emplace_back(completed, total); }
    void SetProgressState(State state) override { log_->states.push_back(state); }

private:
    std::shared_ptr<TaskbarLog> log_;
};

// The window with its message boxes and file dialog replaced by recorders.
class TestWnd : public CMainWnd {
public:
    using CMainWnd::CMainWnd;
    using CMainWnd::nativeEvent;
    std::vector<Box> boxes;
    std::vector<bool> boxesOnUiThread;
    QString nextFile;
    QString askedFolder;

protected:
    void ShowBox(const QString& text, const QString& caption) override {
        boxes.emplace_back(text, caption);
        boxesOnUiThread.push_back(QThread::currentThread() == qApp->thread());
    }
    QString ChooseFile(const QString& initialFolder) override {
        askedFolder = initialFolder;
        return nextFile;
    }
};

void Pump() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
}

class MainWndTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    std::filesystem::path folder() const { return dir.path().toStdString(); }
    std::filesystem::path settingsFile() const { return folder() / "confile.inf"; }

    void writeSettings(const std::string& body) { std::ofstream(settingsFile()) << "[setting]\n" << body; }
    std::string makeFile(const std::string& name) {
        const auto path = folder() / name;
        std::ofstream(path) << "data";
        return path.string();
    }

    TestWnd& open(CommandLine cmd = {}) {
        MainWndOptions o;
        o.settings = &settings;
        o.programFolder = folder();
        o.settingsFile = settingsFile();
        o.commandLine = std::move(cmd);
        o.clock = [this] { return now; };
        o.taskbar = [log = taskbar](QWidget*) { return std::make_unique<RecordingTaskbar>(log); };
        wnd = std::make_unique<TestWnd>(std::move(o));
        EXPECT_TRUE(wnd->Create());
        return *wnd;
    }

    template <typename T = QWidget>
    T* control(const char* name) const {
        T* c = FindControl<T>(wnd.get(), name);
        EXPECT_NE(c, nullptr) << name;
        return c;
    }
    SkinButton* button(const char* name) const { return control<SkinButton>(name); }
    bool shown(const char* name) const { return control(name)->isVisibleTo(wnd.get()); }
    SkinButton* rowButton(const char* row, const char* name) const {
        SkinContainer* r = wnd->FindRow(row);
        return r ? r->findChild<SkinButton*>(name) : nullptr;
    }
    SkinProgress* rowProgress(const char* row) const {
        SkinContainer* r = wnd->FindRow(row);
        return r ? r->findChild<SkinProgress*>("progressDownload") : nullptr;
    }
    void expectCheck(const char* name, bool checked) const {
        SkinButton* b = button(name);
        for (auto s : {SkinButton::Normal, SkinButton::Hot, SkinButton::Focused, SkinButton::Pushed,
                       SkinButton::Disabled})
            EXPECT_EQ(b->image(s), CheckImage(s, checked)) << name << " state " << s;
    }

    QTemporaryDir dir;
    SharedSettings settings;
    std::shared_ptr<TaskbarLog> taskbar = std::make_shared<TaskbarLog>();
    std::chrono::system_clock::time_point now = std::chrono::sys_days{std::chrono::year{2023} / 12 / 31} +
                                                std::chrono::hours(17) + std::chrono::minutes(30);
    std::unique_ptr<TestWnd> wnd;
};

TEST(CheckImageTest, ExactStringsOfTheCheckSprite) {
    const std::pair<SkinButton::ImageState, const char*> rows[] = {
        {SkinButton::Normal, "0,0,16,16"},    {SkinButton::Hot, "0,16,16,32"},
        {SkinButton::Focused, "0,16,16,32"},  {SkinButton::Pushed, "0,32,16,48"},
        {SkinButton::Disabled, "0,48,16,64"},
    };
    const std::pair<SkinButton::ImageState, const char*> checked[] = {
        {SkinButton::Normal, "16,0,32,16"},    {SkinButton::Hot, "16,16,32,32"},
        {SkinButton::Focused, "16,16,32,32"},  {SkinButton::Pushed, "16,32,32,48"},
        {SkinButton::Disabled, "16,48,32,64"},
    };
    const QString format = "file='imgs/100a_013.png' source='%1' dest='0,7,16,23' corner='2,2,2,2' ";
    for (const auto& [state, source] : rows) EXPECT_EQ(CheckImage(state, false), format.arg(source));
    for (const auto& [state, source] : checked) EXPECT_EQ(CheckImage(state, true), format.arg(source));
}

// Sizes at the ends of the int range are held to a bound: edges, paddings and sums of widths
// neither wrap nor go negative, so children keep their order and a bar fills its own part.
TEST(SkinLimitsTest, ExtremeSizesSaturateInsteadOfWrapping) {
    const SkinImage image = SkinImage::Parse("file='a.png' source='-2147483648,0,2147483647,10'");
    ASSERT_TRUE(image.source);
    EXPECT_GT(image.source->width(), 0);

    const auto node = ParseSkin(
        "<HorizontalLayout childpadding=\"2147483647\" inset=\"2147483647,0,2147483647,0\">"
        "<Control name=\"a\" width=\"2147483647\"/><Control name=\"b\" width=\"2147483647\"/>"
        "<Control name=\"c\"/></HorizontalLayout>");
    ASSERT_TRUE(node);
    std::unique_ptr<QWidget> row(BuildSkinElement(*node, nullptr, {}));
    ASSERT_TRUE(row);
    row->resize(300, 20);
    row->layout()->setGeometry(QRect(0, 0, 300, 20));
    const auto* a = row->findChild<QWidget*>("a");
    const auto* b = row->findChild<QWidget*>("b");
    const auto* c = row->findChild<QWidget*>("c");
    ASSERT_TRUE(a && b && c);
    EXPECT_GE(a->x(), 0);
    EXPECT_GT(b->x(), a->x());
    EXPECT_GE(c->x(), b->x());
    EXPECT_GE(c->width(), 0);
    EXPECT_GT(row->layout()->sizeHint().width(), 0);

    const auto bar = ParseSkin(R"(<Progress min="-2147483648" max="2147483647" value="0" width="100"/>)");
    ASSERT_TRUE(bar);
    std::unique_ptr<QWidget> progress(BuildSkinElement(*bar, nullptr, {}));
    progress->resize(100, 10);
    QImage canvas(100, 10, QImage::Format_ARGB32);
    progress->render(&canvas);  // the sanitizer build checks the fill arithmetic here
    EXPECT_EQ(static_cast<SkinProgress*>(progress.get())->value(), 0);
}

TEST(LogTimeStampTest, EightHoursAheadOfUtcAcrossTheYearEnd) {
    using namespace std::chrono;
    EXPECT_EQ(LogTimeStamp(sys_days{year{2023} / 12 / 31} + hours(17) + minutes(30)), "2024-1-1 01:30:00 ");
    EXPECT_EQ(LogTimeStamp(sys_days{year{2019} / 10 / 23} + hours(7) + seconds(2)), "2019-10-23 15:00:02 ");
    EXPECT_EQ(LogTimeStamp(sys_days{year{2024} / 2 / 28} + hours(16) + milliseconds(999)),
              "2024-2-29 00:00:00 ");
}

TEST_F(MainWndTest, LayoutHasEveryControlWithItsTextsAndVisibility) {
    open();
    EXPECT_EQ(wnd->size(), QSize(500, 600));
    EXPECT_EQ(wnd->minimumSize(), QSize(500, 600));
    EXPECT_EQ(wnd->maximumSize(), QSize(500, 600));
    EXPECT_TRUE(wnd->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(wnd->windowTitle(), "Brevantis Brevload");

    struct Row {
        const char* name;
        const char* text;
        const char* tooltip;
        bool visible;
    };
    const Row buttons[] = {
        {"btnSelectFile", "浏览", "选择一个下载数据源", true},
        {"btnAutoDownload", "自动下载文件", "按下PB9进入下载模式时，会自动下载", true},
        {"opExFlash", "外部FLASH", "", true},
        {"btnSystemResetWhenFinisg", "下载结束后复位硬件", "当下载完毕后，会复位设备以便检查设备的运行情况",
         true},
        {"btnAutoDownloadPCMode", "PC模式自动下载", "程序运行，切换模式进入PC模式时会自动下载程序", false},
        {"btnEraseOnly", "只擦除NorFlash", "只擦除NorFlash", true},
        {"btnEraseUse4K", "使用4K擦除", "默认使用64K擦除，当勾上这个选项后则使用4K擦除", true},
        {"btnWriteRandon", "写入512K随机数", "", false},
        {"opTestZone", "测试选项", "进行接口测试", false},
        {"btnClearTips", "清除记录", "清除记录", true},
        {"btnInit", "Init", "", false},
        {"btnGetCrc16", "GetCrc16", "", false},
        {"btnSystemRest", "SystemReset", "", false},
        {"btnReadId", "ReadFlashId", "", false},
        {"btnWriteByte", "WriteByte", "", false},
        {"btnWritePage", "WritePage", "", false},
        {"btnReadChipVer", "ReadChipVer", "", false},
        {"btnErase4K", "Erase4K", "", false},
        {"btnErase32K", "Erase32K", "", false},
        {"btnErase64K", "Erase64K", "", false},
        {"btnEraseChip", "EraseChip", "", false},
        {"btnRead", "Read", "", false},
        {"btnFastRead", "FastRead", "", false},
        {"btnEnEncrype", "设置密钥7B2D", "", false},
        {"btnDisEncrype", "取消密钥", "", false},
        {"btnCloseDev", "关闭设备", "", false},
        {"btnMini", "", "", true},
        {"btnClose", "", "", true},
    };
    for (const Row& r : buttons) {
        SkinButton* b = button(r.name);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->text(), QString::fromUtf8(r.text)) << r.name;
        EXPECT_EQ(b->toolTip(), QString::fromUtf8(r.tooltip)) << r.name;
        EXPECT_EQ(b->isVisibleTo(wnd.get()), r.visible) << r.name;
    }
    for (const char* name : {"btnMini", "btnClose"}) EXPECT_EQ(button(name)->size(), QSize(31, 30));
    for (const char* name : {"btnInit", "btnCloseDev"}) {
        EXPECT_EQ(button(name)->property("skinWidth").toInt(), 70);
        EXPECT_EQ(button(name)->property("skinHeight").toInt(), 30);
    }
    EXPECT_TRUE(button("opTestZone")->isOption());
    EXPECT_EQ(button("opTestZone")->image(SkinButton::Selected),
              "file='imgs/21000_014.png' dest='0,7,32,23'");
    EXPECT_FALSE(shown("vlTestZone"));
    EXPECT_FALSE(control<QLineEdit>("edFile")->isEnabled());
    EXPECT_EQ(control<QPlainTextEdit>("richOpTips")->height(), 200);
    EXPECT_TRUE(control<QPlainTextEdit>("richOpTips")->isReadOnly());
    EXPECT_FALSE(shown("busParamLayout"));

    QStringList labels;
    for (const QLabel* l : wnd->findChildren<QLabel*>()) labels << l->text();
    for (const char* text : {"Brevantis Brevload V1.0.9", "文件:", "CS", "CLK", "MOSI", "MISO", "操作记录:",
                             "1、点击设备区的盘符按钮进行下载  2、把鼠标放到控件上面以获得该控件的帮助 ",
                             "3、以参数-df启动进程，总线参数将变成手动设置",
                             "4、-a 参数表示以控制台模式运行，此时需要-f参数指定文件路径，如-fbv.up"})
        EXPECT_TRUE(labels.contains(QString::fromUtf8(text))) << text;
}

TEST_F(MainWndTest, TheWindowShowsItsTextsInTheInstalledLanguage) {
    struct Back {
        ~Back() { InstallLanguage(Language::Chinese); }
    } back;
    struct Text {
        const char* name;
        const char* chinese;
        const char* english;
    };
    const Text buttons[] = {
        {"btnSelectFile", "浏览", "Browse"},
        {"btnAutoDownload", "自动下载文件", "Auto download"},
        {"opExFlash", "外部FLASH", "External flash"},
        {"btnSystemResetWhenFinisg", "下载结束后复位硬件", "Reset after download"},
        {"btnEraseOnly", "只擦除NorFlash", "Erase NOR only"},
        {"btnEraseUse4K", "使用4K擦除", "Use 4K erase"},
        {"btnClearTips", "清除记录", "Clear log"},
        {"btnInit", "Init", "Init"},
    };
    for (const Language language : {Language::English, Language::Chinese}) {
        const bool english = language == Language::English;
        SCOPED_TRACE(english ? "en" : "zh");
        ASSERT_TRUE(InstallLanguage(language));
        open();
        for (const Text& t : buttons)
            EXPECT_EQ(button(t.name)->text(), english ? t.english : t.chinese) << t.name;
        EXPECT_EQ(button("btnSelectFile")->toolTip(),
                  english ? "Choose the file to download" : "选择一个下载数据源");
        QStringList labels;
        for (const QLabel* label : wnd->findChildren<QLabel*>()) labels << label->text();
        EXPECT_TRUE(labels.contains(english ? "File:" : "文件:")) << labels.join('|').toStdString();
        EXPECT_FALSE(labels.contains(english ? "文件:" : "File:"));

        wnd->AddDeviceItem("sdb");
        EXPECT_EQ(rowButton("sdb", "btnStartDownload")->toolTip(),
                  english ? "Click to download" : "点击下载");
        wnd->PostProgressImage("sdb", ProgressFail);
        Pump();
        EXPECT_EQ(wnd->boxes,
                  (std::vector<Box>{english ? Box{"Download failed", "Notice"} : Box{"下载失败", "提示"}}));
    }
}

TEST_F(MainWndTest, CreationWithoutSettingsFileUsesDefaults) {
    open();
    EXPECT_EQ(wnd->autoDownloadFlag(), 0);
    EXPECT_EQ(wnd->resetAfterDownloadFlag(), 0);
    EXPECT_EQ(wnd->exFlashOption(), 0);
    EXPECT_EQ(wnd->pinTexts(), DefaultPinTexts());
    EXPECT_EQ(control<QLineEdit>("edFile")->text(), "");
    EXPECT_FALSE(shown("exFlashLayout"));
    for (const char* name : {"btnAutoDownload", "opExFlash", "btnSystemResetWhenFinisg", "btnEraseOnly",
                             "btnEraseUse4K", "btnWriteRandon"})
        expectCheck(name, false);
    EXPECT_FALSE(std::filesystem::exists(settingsFile()));
}

TEST_F(MainWndTest, CreationFromSettingsFile) {
    const std::string file = makeFile("fw.up");
    writeSettings(
        "autoDownload=1\nresetSystemAfterDownload=1\nexFlash=2\ncs=PA1\nso=PC3\ndownloadFile=" + file + "\n");
    open();
    EXPECT_EQ(wnd->autoDownloadFlag(), 1);
    EXPECT_EQ(wnd->resetAfterDownloadFlag(), 1);
    EXPECT_EQ(wnd->exFlashOption(), 1);
    expectCheck("btnAutoDownload", true);
    expectCheck("btnSystemResetWhenFinisg", true);
    expectCheck("opExFlash", true);
    EXPECT_EQ(control<QLineEdit>("edFile")->text().toStdString(), file);
    EXPECT_TRUE(shown("exFlashLayout"));
    for (const char* name : {"btnSystemResetWhenFinisg", "btnEraseOnly", "btnEraseUse4K", "btnWriteRandon"})
        EXPECT_FALSE(control(name)->isEnabled()) << name;
    for (const char* name : {"edCS", "edCLK", "edSI", "edSO"})
        EXPECT_TRUE(control(name)->isEnabled()) << name;
    EXPECT_EQ(wnd->pinTexts(), (PinTexts{"PA1", "PB6", "PB7", "PC3"}));
}

TEST_F(MainWndTest, SavedFileThatIsGoneIsDroppedSilently) {
    writeSettings("autoDownload=1\ndownloadFile=" + (folder() / "deleted.up").string() + "\n");
    open();
    EXPECT_EQ(wnd->autoDownloadFlag(), 0);
    EXPECT_EQ(settings.autoDownloadFlag.load(), 0);
    EXPECT_EQ(settings.downloadFilePath(), "");
    EXPECT_EQ(control<QLineEdit>("edFile")->text(), "");
    expectCheck("btnAutoDownload", false);
    EXPECT_TRUE(wnd->boxes.empty());
}

TEST_F(MainWndTest, OptionClicksToggleStateAndImages) {
    open();
    struct Case {
        const char* name;
        std::function<int()> state;
    };
    const Case cases[] = {
        {"btnEraseOnly", [&] { return wnd->eraseOnly(); }},
        {"btnEraseUse4K", [&] { return wnd->eraseUse4K(); }},
        {"btnWriteRandon", [&] { return wnd->writeRandom(); }},
        {"btnSystemResetWhenFinisg", [&] { return wnd->resetAfterDownloadFlag(); }},
    };
    for (const Case& c : cases) {
        button(c.name)->click();
        EXPECT_EQ(c.state(), 1) << c.name;
        expectCheck(c.name, true);
        button(c.name)->click();
        EXPECT_EQ(c.state(), 0) << c.name;
        expectCheck(c.name, false);
    }
    // A real mouse click on a visible option, and the shared copy of the reset flag.
    QTest::mouseClick(button("btnSystemResetWhenFinisg"), Qt::LeftButton);
    EXPECT_EQ(settings.resetAfterDownloadFlag.load(), 1);
    expectCheck("btnSystemResetWhenFinisg", true);
}

TEST_F(MainWndTest, ExternalFlashTwiceRestoresControlsAndKeepsOptions) {
    open();
    button("btnEraseOnly")->click();
    button("opExFlash")->click();
    EXPECT_TRUE(shown("exFlashLayout"));
    EXPECT_FALSE(button("btnEraseOnly")->isEnabled());
    button("opExFlash")->click();
    EXPECT_FALSE(shown("exFlashLayout"));
    for (const char* name : {"btnSystemResetWhenFinisg", "btnEraseOnly", "btnEraseUse4K", "btnWriteRandon"})
        EXPECT_TRUE(control(name)->isEnabled()) << name;
    for (const char* name : {"edCS", "edCLK", "edSI", "edSO"})
        EXPECT_FALSE(control(name)->isEnabled()) << name;
    expectCheck("opExFlash", false);

    std::vector<std::tuple<std::string, int, int, int, int>> started;
    wnd->events().StartDownload.Subscribe(
        this, [&](const std::string& n, int a, int b, int c, int d) { started.emplace_back(n, a, b, c, d); });
    wnd->AddDeviceItem("E");
    rowButton("E", "btnStartDownload")->click();
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0], std::make_tuple(std::string("E"), 1, 0, 0, 0));

    // EnableOptionControls(true) undoes what external flash disabled, without touching the state.
    button("opExFlash")->click();
    wnd->EnableOptionControls(true);
    EXPECT_TRUE(button("btnEraseOnly")->isEnabled());
    EXPECT_EQ(wnd->exFlashOption(), 1);
    wnd->EnableOptionControls(false);
    for (const char* name :
         {"btnEraseOnly", "btnEraseUse4K", "btnSystemResetWhenFinisg", "btnWriteRandon", "opExFlash"})
        EXPECT_FALSE(control(name)->isEnabled()) << name;
    EXPECT_TRUE(button("btnAutoDownload")->isEnabled());
}

TEST_F(MainWndTest, OptionsGreyedByExternalFlashDoNotAct) {
    open();
    for (const char* name : {"btnEraseOnly", "btnEraseUse4K", "btnWriteRandon"}) button(name)->click();
    button("opExFlash")->click();
    std::vector<std::tuple<std::string, int, int, int, int>> started;
    wnd->events().StartDownload.Subscribe(
        this, [&](const std::string& n, int a, int b, int c, int d) { started.emplace_back(n, a, b, c, d); });
    wnd->AddDeviceItem("E");
    rowButton("E", "btnStartDownload")->click();
    // Checked but greyed: an external-flash download, not an erase of the internal flash.
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0], std::make_tuple(std::string("E"), 0, 0, 0, 1));
    expectCheck("btnEraseOnly", true);  // the mark stays for when external flash is turned off

    button("opExFlash")->click();
    rowButton("E", "btnStartDownload")->click();
    ASSERT_EQ(started.size(), 2u);
    EXPECT_EQ(started[1], std::make_tuple(std::string("E"), 1, 1, 1, 0));
}

TEST_F(MainWndTest, AutomaticDownloadNeedsAReadableFile) {
    open();
    button("btnAutoDownload")->click();
    ASSERT_EQ(wnd->boxes, (std::vector<Box>{{"请先选择一个文件", ""}}));
    EXPECT_EQ(wnd->autoDownloadFlag(), 0);
    expectCheck("btnAutoDownload", false);

    // A folder exists but cannot be read as a file.
    wnd->nextFile = QString::fromStdString(folder().string());
    button("btnSelectFile")->click();
    EXPECT_EQ(wnd->askedFolder.toStdString(), folder().string());  // no build/out beside it
    button("btnAutoDownload")->click();
    ASSERT_EQ(wnd->boxes.size(), 2u);
    EXPECT_EQ(wnd->boxes[1], Box("文件不能访问", ""));
    EXPECT_EQ(settings.downloadFilePath(), "");
    EXPECT_EQ(control<QLineEdit>("edFile")->text(), "");
    EXPECT_EQ(wnd->autoDownloadFlag(), 0);

    const std::string file = makeFile("fw.up");
    wnd->nextFile = QString::fromStdString(file);
    button("btnSelectFile")->click();
    EXPECT_EQ(control<QLineEdit>("edFile")->text().toStdString(), file);
    EXPECT_EQ(settings.downloadFilePath(), file);
    EXPECT_EQ(wnd->autoDownloadFlag(), 0);  // choosing does not turn it on
    button("btnAutoDownload")->click();
    EXPECT_EQ(wnd->boxes.size(), 2u);
    EXPECT_EQ(wnd->autoDownloadFlag(), 1);
    EXPECT_EQ(settings.autoDownloadFlag.load(), 1);
    expectCheck("btnAutoDownload", true);
    button("btnAutoDownload")->click();
    EXPECT_EQ(settings.autoDownloadFlag.load(), 0);
    expectCheck("btnAutoDownload", false);

    wnd->nextFile.clear();  // cancelled dialog changes nothing
    button("btnSelectFile")->click();
    EXPECT_EQ(settings.downloadFilePath(), file);
}

TEST_F(MainWndTest, PinFieldsAreCheckedBeforeADownload) {
    writeSettings("exFlash=1\n");
    open();
    int raised = 0;
    wnd->events().StartDownload.Subscribe(this, [&](const std::string&, int, int, int, int) { ++raised; });
    wnd->AddDeviceItem("sdb");
    control<QLineEdit>("edSO")->clear();
    rowButton("sdb", "btnStartDownload")->click();
    EXPECT_EQ(raised, 0);
    EXPECT_EQ(wnd->boxes, (std::vector<Box>{{"请输入正确的IO配置", ""}}));
    control<QLineEdit>("edSO")->setText("x");
    rowButton("sdb", "btnStartDownload")->click();
    EXPECT_EQ(raised, 1);
    EXPECT_EQ(wnd->boxes.size(), 1u);
}

TEST_F(MainWndTest, RowsAreCreatedFoundAndRemovedByWholeName) {
    open();
    std::vector<std::string> downloads;
    wnd->events().StartDownload.Subscribe(
        this, [&](const std::string& n, int, int, int, int) { downloads.push_back(n); });
    wnd->AddDeviceItem("sdb");
    wnd->AddDeviceItem("sdc");
    ASSERT_NE(wnd->FindRow("sdb"), nullptr);
    ASSERT_NE(wnd->FindRow("sdc"), nullptr);
    EXPECT_EQ(wnd->FindRow("s"), nullptr);
    EXPECT_EQ(rowButton("sdc", "btnStartDownload")->text(), "sdc");
    EXPECT_EQ(rowButton("sdc", "btnStartDownload")->toolTip(), "点击下载");
    EXPECT_EQ(rowButton("sdc", "btnStartDownload")->property("skinWidth").toInt(), 30);
    EXPECT_FALSE(rowButton("sdc", "btnStartRead")->isVisibleTo(wnd.get()));
    EXPECT_TRUE(wnd->FindRow("sdc")->isVisibleTo(wnd.get()));
    EXPECT_EQ(rowProgress("sdc")->text(), "0%");
    EXPECT_EQ(rowProgress("sdc")->value(), 0);
    EXPECT_EQ(rowProgress("sdc")->foreImage(), "imgs/progressLoading.png");

    QTest::mouseClick(rowButton("sdc", "btnStartDownload"), Qt::LeftButton);
    EXPECT_EQ(downloads, std::vector<std::string>{"sdc"});

    wnd->RemoveDeviceItem("sdx");  // unknown: nothing
    EXPECT_TRUE(taskbar->states.empty());
    wnd->RemoveDeviceItem("sdb");
    EXPECT_EQ(wnd->FindRow("sdb"), nullptr);
    ASSERT_NE(wnd->FindRow("sdc"), nullptr);
    EXPECT_EQ(taskbar->states, std::vector<ITaskbarProgress::State>{ITaskbarProgress::State::NoProgress});
    Pump();
    EXPECT_EQ(wnd->deviceZone()->findChildren<SkinContainer*>(QString(), Qt::FindDirectChildrenOnly).size(),
              1);
}

// Where `w` lies inside the visible part of the device zone's scroll area.
bool ShownInDeviceZone(const CMainWnd& wnd, const QWidget* w) {
    const QWidget* viewport = wnd.deviceZone()->parentWidget();
    const QRect inViewport(w->mapTo(viewport, QPoint(0, 0)), w->size());
    return inViewport.intersects(viewport->rect());
}

TEST_F(MainWndTest, ANewRowIsScrolledIntoView) {
    open();
    for (const char* name : {"sim0", "sim1", "sim2", "sim3", "sim4"}) {
        wnd->AddDeviceItem(name);
        Pump();
        EXPECT_TRUE(ShownInDeviceZone(*wnd, wnd->FindRow(name))) << name;
    }
    EXPECT_FALSE(ShownInDeviceZone(*wnd, wnd->FindRow("sim0")));  // the zone really scrolled
}

TEST_F(MainWndTest, NothingIsCutWithEveryOptionalRowShown) {
    CommandLine cmd;
    cmd.manualBusParams = true;
    cmd.longOptions = {"--test-zone"};
    open(cmd);
    QTest::mouseClick(button("opTestZone"), Qt::LeftButton);
    Pump();
    ASSERT_TRUE(shown("vlTestZone"));
    const QRect inside = wnd->rect();
    const auto expectInside = [&](const char* when) {
        for (const QWidget* w : wnd->findChildren<QWidget*>()) {
            if (!w->isVisibleTo(wnd.get()) || w->parentWidget() == wnd->deviceZone()) continue;
            if (!qobject_cast<const QLabel*>(w) && !qobject_cast<const QPlainTextEdit*>(w) &&
                !qobject_cast<const SkinButton*>(w))
                continue;
            const QRect r(w->mapTo(wnd.get(), QPoint(0, 0)), w->size());
            EXPECT_TRUE(inside.contains(r)) << when << ": " << w->objectName().toStdString() << " "
                                            << w->property("text").toString().toStdString();
            // A label's text fits its box: on its lines when it wraps, on one line otherwise.
            if (const auto* label = qobject_cast<const QLabel*>(w)) {
                if (label->wordWrap()) {
                    EXPECT_LE(label->heightForWidth(label->width()), label->height())
                        << label->text().toStdString();
                } else {
                    EXPECT_LE(label->sizeHint().width(), label->width()) << label->text().toStdString();
                }
            }
        }
    };
    expectInside("as built");
    // Help lines of translation length.
    int helpLines = 0;
    for (QLabel* label : wnd->findChildren<QLabel*>()) {
        if (label->text().startsWith(QString::fromUtf8("1、"))) {
            label->setText(
                "1. Click the button of a device in the device area to download to it  "
                "2. Rest the mouse on a control to see its help");
            ++helpLines;
        }
    }
    EXPECT_EQ(helpLines, 1);
    expectInside("longer help");
    EXPECT_GE(wnd->deviceZone()->parentWidget()->height(), 60);

    // Closing the test zone gives the room back.
    QTest::mouseClick(button("opTestZone"), Qt::LeftButton);
    Pump();
    EXPECT_LT(wnd->height(), inside.height());
    EXPECT_GE(wnd->height(), 600);
}

TEST_F(MainWndTest, ButtonTextsFit) {
    CommandLine cmd;
    cmd.showReadButton = true;
    cmd.longOptions = {"--test-zone"};
    open(cmd);
    QTest::mouseClick(button("opTestZone"), Qt::LeftButton);
    for (const char* name : {"sim0", "sim10", "sdaa"}) wnd->AddDeviceItem(name);
    const auto expectFit = [&](const char* when) {
        Pump();
        for (const SkinButton* b : wnd->findChildren<SkinButton*>()) {
            if (!b->isVisibleTo(wnd.get())) continue;
            EXPECT_LE(b->sizeHint().width(), b->width()) << when << ": " << b->text().toStdString();
            EXPECT_LE(b->mapTo(wnd.get(), QPoint(b->width() - 1, 0)).x(), wnd->width() - 1)
                << when << ": " << b->text().toStdString();
        }
    };
    expectFit("as built");
    // Texts of translation length.
    const std::pair<const char*, const char*> longer[] = {
        {"btnEnEncrype", "Set key 7B2D"},
        {"btnEraseOnly", "Erase NorFlash only"},
        {"btnSystemResetWhenFinisg", "Reset device after download"},
        {"btnAutoDownload", "Download automatically"},
        {"btnDisEncrype", "Clear key"},
        {"btnCloseDev", "Close device"},
        {"btnClearTips", "Clear log"},
        {"btnSelectFile", "Browse..."},
    };
    for (const auto& [name, text] : longer) button(name)->setText(text);
    expectFit("longer texts");
}

TEST(FileDialogFolderTest, OpensInTheProgramFolderWhenTheOutputFolderIsMissing) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::filesystem::path program = std::filesystem::path(dir.path().toStdString()) / "a" / "b";
    std::filesystem::create_directories(program);
    EXPECT_EQ(FileDialogFolder(program).toStdString(), program.string());
    std::filesystem::create_directories(program / ".." / ".." / "build" / "out");
    EXPECT_EQ(FileDialogFolder(program).toStdString(), program.string() + "/../../build/out");
}

TEST_F(MainWndTest, ReadButtonsWithCr) {
    CommandLine cmd;
    cmd.showReadButton = true;
    open(cmd);
    std::vector<std::string> reads;
    wnd->events().StartRead.Subscribe(this, [&](const std::string& n) { reads.push_back(n); });
    wnd->AddDeviceItem("E");
    wnd->AddDeviceItem("F");
    for (const char* row : {"E", "F"}) {
        SkinButton* read = rowButton(row, "btnStartRead");
        ASSERT_NE(read, nullptr);
        EXPECT_TRUE(read->isVisibleTo(wnd.get())) << row;
        EXPECT_EQ(read->text(), "Read");
    }
    rowButton("F", "btnStartRead")->click();
    EXPECT_EQ(reads, std::vector<std::string>{"F"});
}

TEST_F(MainWndTest, ProgressReportsFromAWorker) {
    open();
    wnd->AddDeviceItem("sdb");
    wnd->AddDeviceItem("sdc");
    std::thread worker([&] {
        for (int p : {0, 50, 100}) wnd->PostProgressPos("sdb", p);
        wnd->PostProgressPos("", 7);  // nothing for an empty name
    });
    worker.join();
    Pump();
    EXPECT_EQ(rowProgress("sdb")->value(), 100);
    EXPECT_EQ(rowProgress("sdb")->text(), "% 100");
    EXPECT_EQ(rowProgress("sdc")->value(), 0);
    EXPECT_EQ(rowProgress("sdc")->text(), "0%");
    EXPECT_EQ(taskbar->values, (std::vector<std::pair<int, int>>{{0, 100}, {50, 100}, {100, 100}}));

    // A removed row: no row changes, the taskbar still moves.
    wnd->RemoveDeviceItem("sdc");
    wnd->PostProgressPos("sdc", 42);
    Pump();
    EXPECT_EQ(taskbar->values.back(), std::make_pair(42, 100));
}

TEST_F(MainWndTest, ProgressImagesAndTheFailureBox) {
    open();
    wnd->AddDeviceItem("sdb");
    wnd->AddDeviceItem("sdc");
    std::thread([&] {
        wnd->PostProgressImage("sdb", ProgressSuccess);
        wnd->PostProgressImage("sdc", ProgressFail);
        wnd->PostProgressImage("sdb", 7);
        wnd->PostProgressImage("gone", ProgressFail);
    }).join();
    Pump();
    EXPECT_EQ(rowProgress("sdb")->foreImage(), "imgs/progressSucess.png");
    EXPECT_EQ(rowProgress("sdc")->foreImage(), "imgs/progressFail.png");
    EXPECT_EQ(wnd->boxes, (std::vector<Box>{{"下载失败", "提示"}}));
    EXPECT_EQ(taskbar->states, (std::vector<ITaskbarProgress::State>{ITaskbarProgress::State::Normal,
                                                                     ITaskbarProgress::State::Error}));

    wnd->PostProgressImage("sdc", ProgressLoading);
    Pump();
    EXPECT_EQ(rowProgress("sdc")->foreImage(), "imgs/progressLoading.png");
}

TEST_F(MainWndTest, EnableControlsAffectsOnlyItsRow) {
    open();
    wnd->AddDeviceItem("E");
    wnd->AddDeviceItem("F");
    std::thread([&] { wnd->PostEnableControls("E", 0); }).join();
    Pump();
    EXPECT_FALSE(rowButton("E", "btnStartDownload")->isEnabled());
    EXPECT_TRUE(rowButton("F", "btnStartDownload")->isEnabled());
    wnd->PostEnableControls("E", 5);
    Pump();
    EXPECT_TRUE(rowButton("E", "btnStartDownload")->isEnabled());
}

TEST_F(MainWndTest, LogLinesFromThreadsKeepTheirOrderAndTimeStamp) {
    open();
    for (const char* text : {"one", "two", "三"})
        std::thread([&, text] { wnd->AddTipsText(text, "E"); }).join();
    auto* log = control<QPlainTextEdit>("richOpTips");
    EXPECT_EQ(log->toPlainText(), "");  // applied on the UI thread only
    Pump();
    EXPECT_EQ(log->toPlainText(),
              QString::fromUtf8("2024-1-1 01:30:00 one\n2024-1-1 01:30:00 two\n2024-1-1 01:30:00 三\n"));

    button("btnClearTips")->click();
    EXPECT_EQ(log->toPlainText(), "");
    wnd->AddTipsText("again", "");
    Pump();
    EXPECT_EQ(log->toPlainText(), "2024-1-1 01:30:00 again\n");
}

TEST_F(MainWndTest, BoxesFromJobThreadsShowOnTheUiThread) {
    open();
    std::thread([&] {
        wnd->ShowMessageBox("text", "");
        wnd->ShowFileParseError(ImageCrcMismatch);
        wnd->ShowFileParseError(0);  // no text for this code
    }).join();
    EXPECT_TRUE(wnd->boxes.empty());
    Pump();
    ASSERT_EQ(wnd->boxes.size(), 2u);
    EXPECT_EQ(wnd->boxes[0], Box("text", ""));
    EXPECT_EQ(wnd->boxes[1].second, "文件解析错误");
    EXPECT_EQ(wnd->boxesOnUiThread, (std::vector<bool>{true, true}));
}

TEST_F(MainWndTest, CloseButtonSavesEverySetting) {
    writeSettings("chipType=257\n");
    open();
    button("btnEraseOnly")->click();  // not persisted
    button("opExFlash")->click();
    control<QLineEdit>("edCLK")->setText("PA9");
    const std::string file = makeFile("fw.bin");
    wnd->nextFile = QString::fromStdString(file);
    button("btnSelectFile")->click();
    button("btnSystemResetWhenFinisg")->click();  // disabled by external flash: no effect
    button("btnClose")->click();
    Pump();
    EXPECT_FALSE(wnd->isVisible());

    const auto ini = IniFile::Load(settingsFile());
    ASSERT_TRUE(ini);
    const std::pair<const char*, std::string> expected[] = {
        {"autoDownload", "0"},  {"resetSystemAfterDownload", "0"},
        {"downloadFile", file}, {"clkDiv", "0"},
        {"lineMode", "0"},      {"chipSelIndirect", "0"},
        {"chipSelDirect", "0"}, {"chipType", "1"},
        {"exFlash", "1"},       {"cs", "PB5"},
        {"clk", "PA9"},         {"si", "PB7"},
        {"so", "PB8"},
    };
    for (const auto& [key, value] : expected) EXPECT_EQ(ini->Get("setting", key), value) << key;
}

TEST_F(MainWndTest, FailedSaveShowsTheReasonAndStillCloses) {
    // The settings file's folder is a plain file: no save can succeed there, not even as root.
    const std::filesystem::path blocked = makeFile("blocked");
    MainWndOptions o;
    o.settings = &settings;
    o.programFolder = folder();
    o.settingsFile = blocked / "confile.inf";
    TestWnd w(std::move(o));
    ASSERT_TRUE(w.Create());
    FindControl<SkinButton>(&w, "btnClose")->click();
    Pump();
#ifdef _WIN32
    // Windows names the missing folder rather than the file in the way.
    const std::string reason = std::system_category().message(ERROR_PATH_NOT_FOUND);
#else
    const std::string reason = std::make_error_code(std::errc::not_a_directory).message();
#endif
    EXPECT_EQ(w.boxes, (std::vector<Box>{{QString::fromStdString("保存设置失败：" + reason), ""}}));
    EXPECT_FALSE(w.isVisible());
}

TEST_F(MainWndTest, FailedSaveGoesThroughTheGivenNotifier) {
    class Recorder : public IJobNotifier {
    public:
        void PostProgressPos(const std::string&, int) override {}
        void PostProgressImage(const std::string&, int) override {}
        void PostEnableControls(const std::string&, int) override {}
        void AddTipsText(const std::string&, const std::string&) override {}
        void ShowFileParseError(int) override {}
        void ShowMessageBox(const std::string& text, const std::string&) override { texts.push_back(text); }
        std::vector<std::string> texts;
    } recorder;
    const std::filesystem::path blocked = makeFile("blocked");
    MainWndOptions o;
    o.settings = &settings;
    o.programFolder = folder();
    o.settingsFile = blocked / "confile.inf";
    o.notifier = &recorder;
    TestWnd w(std::move(o));
    ASSERT_TRUE(w.Create());
    FindControl<SkinButton>(&w, "btnClose")->click();
    ASSERT_EQ(recorder.texts.size(), 1u);
    EXPECT_TRUE(recorder.texts[0].starts_with("保存设置失败："));
    EXPECT_TRUE(w.boxes.empty());  // the notifier decides how to show it
}

TEST_F(MainWndTest, EscapeClosesWithoutSaving) {
    open();
    button("opExFlash")->click();
    QTest::keyClick(wnd.get(), Qt::Key_Escape);
    Pump();
    EXPECT_FALSE(wnd->isVisible());
    EXPECT_FALSE(std::filesystem::exists(settingsFile()));
}

TEST_F(MainWndTest, ManualBusParametersWithDf) {
    writeSettings("chipType=257\nclkDiv=300\n");
    CommandLine cmd;
    cmd.manualBusParams = true;
    open(cmd);
    EXPECT_TRUE(shown("busParamLayout"));
    Pump();  // the rows above the device zone push it down rather than being cut off
    const auto bottomOf = [&](const char* name) {
        return control(name)->mapTo(wnd.get(), QPoint(0, control(name)->height())).y();
    };
    EXPECT_LE(bottomOf("busParamLayout"),
              wnd->deviceZone()->parentWidget()->mapTo(wnd.get(), QPoint(0, 0)).y());
    EXPECT_EQ(control<QLineEdit>("edChipType")->text(), "1");
    EXPECT_EQ(control<QLineEdit>("edClikDiv")->text(), "44");

    struct Case {
        const char* edit;
        const char* typed;
        const char* shownText;
        std::function<uint8_t()> stored;
    };
    const Case cases[] = {
        {"edChipType", "12x", "12", [&] { return settings.busChipType.load(); }},
        {"edLineMode", "-1", "-1", [&] { return settings.busLineMode.load(); }},
        {"edChipSelDirect", "258", "258", [&] { return settings.busChipSelDirect.load(); }},
        {"edChipeSelIndirect", "abc", "0", [&] { return settings.busChipSelIndirect.load(); }},
        {"edClikDiv", "", "", [&] { return settings.busClkDiv.load(); }},
    };
    const uint8_t want[] = {12, 255, 2, 0, 0};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        auto* edit = control<QLineEdit>(cases[i].edit);
        edit->setText(cases[i].typed);
        EXPECT_EQ(edit->text(), cases[i].shownText) << cases[i].edit;
        EXPECT_EQ(cases[i].stored(), want[i]) << cases[i].edit;
    }
    EXPECT_EQ(control<QLineEdit>("edChipType")->cursorPosition(), 2);
}

TEST_F(MainWndTest, TestZoneAndItsEvents) {
    CommandLine cmd;
    cmd.longOptions = {"--test-zone"};
    open(cmd);
    EXPECT_TRUE(shown("opTestZone"));
    QTest::mouseClick(button("opTestZone"), Qt::LeftButton);
    EXPECT_TRUE(shown("vlTestZone"));

    std::vector<std::string> raised;
    CWindowEvents& ev = wnd->events();
    const std::pair<const char*, CEvent<>*> plain[] = {
        {"btnInit", &ev.TestInit},
        {"btnGetCrc16", &ev.TestGetCrc16},
        {"btnSystemRest", &ev.TestSystemReset},
        {"btnReadId", &ev.TestReadFlashId},
        {"btnWriteByte", &ev.TestWriteByte},
        {"btnWritePage", &ev.TestWritePage},
        {"btnReadChipVer", &ev.TestReadChipVer},
        {"btnErase4K", &ev.TestErase4K},
        {"btnErase32K", &ev.TestErase32K},
        {"btnErase64K", &ev.TestErase64K},
        {"btnEraseChip", &ev.TestEraseChip},
        {"btnRead", &ev.TestRead},
        {"btnFastRead", &ev.TestFastRead},
        {"btnCloseDev", &ev.TestCloseDevice},
    };
    for (const auto& [name, event] : plain)
        event->Subscribe(this, [&raised, n = name] { raised.push_back(n); });
    std::vector<std::pair<int, int>> keys;
    ev.TestSetKey.Subscribe(this, [&](int on, int key) { keys.emplace_back(on, key); });
    for (const auto& [name, event] : plain) {
        button(name)->click();
        ASSERT_FALSE(raised.empty()) << name;
        EXPECT_EQ(raised.back(), name);
    }
    EXPECT_EQ(raised.size(), std::size(plain));
    button("btnEnEncrype")->click();
    button("btnDisEncrype")->click();
    EXPECT_EQ(keys, (std::vector<std::pair<int, int>>{{1, 0x7B2D}, {0, 0}}));

    QTest::mouseClick(button("opTestZone"), Qt::LeftButton);
    EXPECT_FALSE(shown("vlTestZone"));
}

TEST_F(MainWndTest, ConsoleModeRaisesConsoleDownloadAndShowsTheCommandLineFile) {
    const std::string saved = makeFile("saved.up");
    writeSettings("downloadFile=" + saved + "\n");
    CommandLine cmd;
    cmd.consoleMode = true;
    cmd.filePath = "bv.up";
    std::vector<std::string> console;
    MainWndOptions o;
    o.settings = &settings;
    o.programFolder = folder();
    o.settingsFile = settingsFile();
    o.commandLine = cmd;
    TestWnd w(std::move(o));
    w.events().ConsoleDownload.Subscribe(this, [&](const std::string& p) { console.push_back(p); });
    ASSERT_TRUE(w.Create());
    EXPECT_EQ(console, std::vector<std::string>{"bv.up"});
    EXPECT_EQ(FindControl<QLineEdit>(&w, "edFile")->text(), "bv.up");
    EXPECT_EQ(settings.downloadFilePath(), saved);
}

// --- the skin loader on its own ---

#ifdef _WIN32
// What Windows broadcasts to top-level windows when a volume comes or goes reaches the controller
// as DeviceChanged; every other message passes by.
TEST_F(MainWndTest, VolumeBroadcastsToTheWindowBecomeDeviceEvents) {
    TestWnd& w = open();
    std::vector<DeviceEvent> raised;
    w.events().DeviceChanged.Subscribe(this, [&](const DeviceEvent& e) { raised.push_back(e); });
    DEV_BROADCAST_VOLUME volume{};
    volume.dbcv_size = sizeof volume;
    volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    volume.dbcv_unitmask = DWORD{1} << ('F' - 'A');
    auto send = [&](const char* type, UINT message, WPARAM event) {
        MSG msg{};
        msg.hwnd = reinterpret_cast<HWND>(w.winId());
        msg.message = message;
        msg.wParam = event;
        msg.lParam = reinterpret_cast<LPARAM>(&volume);
        qintptr result = 0;
        w.nativeEvent(type, &msg, &result);
    };
    send("windows_generic_MSG", WM_DEVICECHANGE, DBT_DEVICEARRIVAL);
    send("windows_generic_MSG", WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE);
    send("windows_generic_MSG", WM_DEVICECHANGE, DBT_DEVICEQUERYREMOVE);
    send("windows_generic_MSG", WM_SETTINGCHANGE, DBT_DEVICEARRIVAL);
    send("windows_dispatcher_MSG", WM_DEVICECHANGE, DBT_DEVICEARRIVAL);
    ASSERT_EQ(raised.size(), 2u);
    EXPECT_EQ(raised[0].kind, DeviceEvent::Kind::Arrival);
    EXPECT_EQ(raised[0].volume.name, "F");
    EXPECT_EQ(raised[1].kind, DeviceEvent::Kind::Removal);
    EXPECT_EQ(raised[1].volume.path, "\\\\.\\F:");
}

// On Windows the taskbar progress is the system's own COM object (ITaskbarList3), never the stand-in
// of other platforms.
TEST(WindowsTaskbarTest, TheTaskbarListIsTheSystems) {
    QWidget window;
    window.winId();
    const std::unique_ptr<ITaskbarProgress> progress = MakeTaskbarProgress(&window);
    ASSERT_NE(progress, nullptr);
    progress->SetProgressState(ITaskbarProgress::State::Normal);
    progress->SetProgressValue(3, 10);
    progress->SetProgressState(ITaskbarProgress::State::NoProgress);
}
#endif

TEST(SkinLoaderTest, ParsesImageStrings) {
    const SkinImage full =
        SkinImage::Parse("file='imgs/100a_013.png' source='0,16,16,32' dest='0,7,16,23' corner='2,2,2,2' ");
    EXPECT_EQ(full.file, "imgs/100a_013.png");
    EXPECT_EQ(full.source, QRect(0, 16, 16, 16));
    EXPECT_EQ(full.dest, QRect(0, 7, 16, 16));
    EXPECT_EQ(full.corner, QMargins(2, 2, 2, 2));
    const SkinImage bare = SkinImage::Parse("imgs/logo.png");
    EXPECT_EQ(bare.file, "imgs/logo.png");
    EXPECT_FALSE(bare.source.has_value());
    EXPECT_TRUE(SkinImage::Parse("").isNull());
    EXPECT_FALSE(LoadSkinPixmap("imgs/100a_013.png").isNull());
    EXPECT_EQ(LoadSkinPixmap("imgs/100a_013.png").size(), QSize(32, 64));
    EXPECT_EQ(LoadSkinPixmap("imgs/100a_010.png").height(), 80);
}

TEST(SkinLoaderTest, RejectsUnknownElementsAndBadXml) {
    QString error;
    EXPECT_FALSE(ParseSkin("<Window><Slider/></Window>", &error));
    EXPECT_TRUE(error.contains("Slider"));
    EXPECT_FALSE(ParseSkin("<Window><Label></Window>", &error));
    EXPECT_FALSE(ParseSkin("", &error));
    const auto node =
        ParseSkin(R"(<HorizontalLayout name="r"><Label text="a" width="5"/><Edit/></HorizontalLayout>)");
    ASSERT_TRUE(node);
    ASSERT_EQ(node->children.size(), 2u);
    EXPECT_EQ(node->children[0].attr("width"), "5");
}

TEST(SkinLoaderTest, LayoutGivesFixedSizesAndSharesTheRest) {
    const auto node = ParseSkin(R"(<HorizontalLayout inset="10,5,10,5" childpadding="2">
        <Button name="a" width="30" height="20"/><Progress name="b"/><Label name="c" width="40"/>
        <Label name="hidden" width="99" visible="false"/></HorizontalLayout>)");
    ASSERT_TRUE(node);
    QWidget host;
    QWidget* row = BuildSkinElement(*node, &host, {});
    ASSERT_NE(row, nullptr);
    row->setGeometry(0, 0, 200, 40);
    row->layout()->activate();
    row->layout()->setGeometry(row->rect());
    EXPECT_EQ(FindControl<QWidget>(row, "a")->geometry(), QRect(10, 10, 30, 20));
    EXPECT_EQ(FindControl<QWidget>(row, "b")->geometry(), QRect(42, 5, 106, 30));
    EXPECT_EQ(FindControl<QWidget>(row, "c")->geometry(), QRect(150, 5, 40, 30));

    // An autosize layout takes what its visible children need; a flexible sibling the rest.
    const auto column = ParseSkin(R"(<VerticalLayout>
        <VerticalLayout name="auto" autosize="true" inset="0,4,0,4"><Control height="30"/>
          <Control name="gone" height="30" visible="false"/><Control height="30"/></VerticalLayout>
        <VerticalLayout name="rest" minheight="10"/><Control height="20"/></VerticalLayout>)");
    ASSERT_TRUE(column);
    QWidget* col = BuildSkinElement(*column, &host, {});
    col->setGeometry(0, 0, 100, 200);
    col->layout()->setGeometry(col->rect());
    EXPECT_EQ(FindControl<QWidget>(col, "auto")->geometry(), QRect(0, 0, 100, 68));
    EXPECT_EQ(FindControl<QWidget>(col, "rest")->geometry(), QRect(0, 68, 100, 112));
}

}  // namespace
}  // namespace brev::ui

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
#ifdef _WIN32
    // Windows' offscreen platform reads fonts only from a folder: the build puts copies beside
    // the program. Qt's messages go to the debugger unless told otherwise.
    if (qEnvironmentVariableIsEmpty("QT_QPA_FONTDIR")) {
        wchar_t self[MAX_PATH];
        const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
        if (n > 0 && n < MAX_PATH)
            qputenv("QT_QPA_FONTDIR",
                    (QFileInfo(QString::fromWCharArray(self, static_cast<int>(n))).absolutePath() + "/fonts")
                        .toLocal8Bit());
    }
    if (qEnvironmentVariableIsEmpty("QT_FORCE_STDERR_LOGGING")) qputenv("QT_FORCE_STDERR_LOGGING", "1");
#endif
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
