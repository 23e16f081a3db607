#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <QString>
#include <QXmlStreamReader>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "app/lang/Translation.h"
#include "ops/JobReport.h"
#include "ops/Texts.h"

namespace brev {
namespace {

namespace fs = std::filesystem;

const fs::path kSourceDir = BREVLOAD_SOURCE_DIR;

// Every test leaves the process in Chinese, the texts as written.
class Translation : public ::testing::Test {
protected:
    void TearDown() override { InstallLanguage(Language::Chinese); }
};

struct OperatorText {
    const char* constant;  // the ops/Texts.h constant, or null for a text of the window, app or skin
    const char* chinese;
};

// Every operator text, byte for byte as the operator sees it in Chinese.
const OperatorText kTexts[] = {
    {text::kChooseAccessibleFile, "需要选择一个可访问的文件"},
    {text::kChooseFileBox, "请选择一个文件"},
    {text::kBadFileFormat, "文件格式不正确"},
    {text::kCannotAccessFile, "无法访问文件"},
    {text::kDeviceBusy, "设备%s正在操作中，请等待完成"},
    {text::kEnterPinConfig, "请输入正确的IO配置"},
    {text::kReadFlashIdFailed, "读取FLASH ID失败"},
    {text::kExternalFlashId, "外部 FLASH ID %x"},
    {text::kWritingData, "正在写入数据..."},
    {text::kVerifyingData, "正在校验数据..."},
    {text::kErasing, "正在擦除..."},
    {text::kFileReadFailed, "读取文件失败"},
    {text::kDownloadDoneReattach, "数据写入完成，若想再次升级，请重新接入设备"},
    {text::kDownloadDone, "数据写入完成"},
    {text::kDownloadDoneRestart, "数据写入完成，请重启设备"},
    {text::kDownloadFailed, "数据写入失败"},
    {text::kDeviceInitFailed, "设备初始化失败"},
    {text::kNorErased, "Nor Flash已经擦除完毕"},
    {text::kNorEraseFailed, "Nor Flash擦除失败"},
    {text::kRandomTestPassed, "随机数据测试通过"},
    {text::kRandomTestFailed, "随机数据测试失败"},
    {text::kReadFileBusy, "文件%s正在写入中，请等待读取完成"},
    {text::kNoDeviceToOpen, "没有设备，无法打开"},
    {text::kOpenFailedReplug, "打开失败，重新拔插后操作"},
    {text::kNotInitialized, "没有初始化"},
    {text::kFileNotReadable, "文件不能读取"},
    {text::kFileTooLarge, "数据量太大，内存分配失败"},
    {text::kTestReadFailed, "读取数据失败，没有保存文件"},
    {text::kSettingsSaveFailed, "保存设置失败：%s"},
    // Image check results.
    {nullptr, "文件太小了，必须是不合格式的"},
    {nullptr, "文件头不符合格式要求"},
    {nullptr, "烧录数据长度与计算结果不符"},
    {nullptr, "烧录数据CRC与计算结果不符"},
    {nullptr, "未知的表头版本格式"},
    // Device arrival and removal in the log.
    {nullptr, "检测到设备已插入"},
    {nullptr, "检查到设备接入"},
    {nullptr, "设备移除"},
    // The window's own boxes and captions.
    {nullptr, "文件不能访问"},
    {nullptr, "请先选择一个文件"},
    {nullptr, "文件解析错误"},
    {nullptr, "下载失败"},
    {nullptr, "提示"},
    // The skin.
    {nullptr, "点击下载"},
    {nullptr, "文件:"},
    {nullptr, "浏览"},
    {nullptr, "选择一个下载数据源"},
    {nullptr, "自动下载文件"},
    {nullptr, "按下PB9进入下载模式时，会自动下载"},
    {nullptr, "外部FLASH"},
    {nullptr, "下载结束后复位硬件"},
    {nullptr, "当下载完毕后，会复位设备以便检查设备的运行情况"},
    {nullptr, "PC模式自动下载"},
    {nullptr, "程序运行，切换模式进入PC模式时会自动下载程序"},
    {nullptr, "只擦除NorFlash"},
    {nullptr, "使用4K擦除"},
    {nullptr, "默认使用64K擦除，当勾上这个选项后则使用4K擦除"},
    {nullptr, "写入512K随机数"},
    {nullptr, "测试选项"},
    {nullptr, "进行接口测试"},
    {nullptr, "设置密钥7B2D"},
    {nullptr, "取消密钥"},
    {nullptr, "关闭设备"},
    {nullptr, "操作记录:"},
    {nullptr, "清除记录"},
    {nullptr, "1、点击设备区的盘符按钮进行下载  2、把鼠标放到控件上面以获得该控件的帮助 "},
    {nullptr, "3、以参数-df启动进程，总线参数将变成手动设置"},
    {nullptr, "4、-a 参数表示以控制台模式运行，此时需要-f参数指定文件路径，如-fbv.up"},
};

// The conversions (%X, %x, %s) of a pattern, in order.
std::string Conversions(const std::string& pattern) {
    std::string out;
    for (std::size_t i = 0; i + 1 < pattern.size(); ++i)
        if (pattern[i] == '%') out += pattern.substr(i, 2);
    return out;
}

TEST_F(Translation, ChineseShowsEveryTextAsWrittenAndEnglishHasItsOwn) {
    ASSERT_TRUE(InstallLanguage(Language::Chinese));
    for (const OperatorText& t : kTexts) {
        SCOPED_TRACE(t.chinese);
        if (t.constant != nullptr) {
            EXPECT_EQ(std::string(t.constant), t.chinese);
        }
        EXPECT_EQ(text::Tr(t.chinese), t.chinese);
    }
    ASSERT_TRUE(InstallLanguage(Language::English));
    for (const OperatorText& t : kTexts) {
        SCOPED_TRACE(t.chinese);
        const std::string english = text::Tr(t.chinese);
        EXPECT_FALSE(english.empty());
        EXPECT_NE(english, t.chinese);
        EXPECT_EQ(english, EnglishTranslation(t.chinese));
        EXPECT_EQ(Conversions(english), Conversions(t.chinese));
    }
}

class Recorder : public IJobNotifier {
public:
    void PostProgressPos(const std::string&, int) override {}
    void PostProgressImage(const std::string&, int) override {}
    void PostEnableControls(const std::string&, int) override {}
    void AddTipsText(const std::string& text, const std::string& device) override {
        lines.push_back("log " + device + ": " + text);
    }
    void ShowFileParseError(int) override {}
    void ShowMessageBox(const std::string& text, const std::string& caption) override {
        lines.push_back("box " + caption + ": " + text);
    }
    std::vector<std::string> lines;
};

void Emit(const JobReport& report) {
    report.log(text::kBadFileFormat);
    report.log(text::FillText(text::kDeviceBusy, std::string("sim0")));
    report.log(text::FillText(text::kExternalFlashId, 0xEF4017u));
    report.log(text::FillText(text::kFlashId, 0xC84016u));
    report.box(text::kCannotAccessFile);
}

TEST_F(Translation, JobsReportInTheInstalledLanguagePatternsTranslatedBeforeTheyAreFilled) {
    Recorder notifier;
    const JobReport report(&notifier, "sim0");
    ASSERT_TRUE(InstallLanguage(Language::English));
    Emit(report);
    EXPECT_EQ(notifier.lines, (std::vector<std::string>{
                                  "log sim0: Incorrect file format",
                                  "log sim0: Device sim0 is busy; wait until it has finished",
                                  "log sim0: External FLASH ID ef4017",
                                  "log sim0: FLASH ID C84016",
                                  "box : Cannot access the file",
                              }));
    notifier.lines.clear();
    ASSERT_TRUE(InstallLanguage(Language::Chinese));
    Emit(report);
    EXPECT_EQ(notifier.lines, (std::vector<std::string>{
                                  "log sim0: 文件格式不正确",
                                  "log sim0: 设备sim0正在操作中，请等待完成",
                                  "log sim0: 外部 FLASH ID ef4017",
                                  "log sim0: FLASH ID C84016",
                                  "box : 无法访问文件",
                              }));
}

// --- the catalog against the sources -----------------------------------------------------------

bool HasChinese(const QString& text) {
    static const QRegularExpression cjk("[\\x{3000}-\\x{303f}\\x{4e00}-\\x{9fff}\\x{ff00}-\\x{ffef}]");
    return cjk.match(text).hasMatch();
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// The Chinese string literals of a C++ file, comment lines aside.
std::vector<std::string> ChineseLiterals(const fs::path& file) {
    static const QRegularExpression literal(R"re("((?:[^"\\\n]|\\.)*)")re");
    std::vector<std::string> out;
    std::istringstream in(ReadFile(file));
    for (std::string line; std::getline(in, line);) {
        const QString code = QString::fromStdString(line);
        if (code.trimmed().startsWith("//")) continue;
        for (auto it = literal.globalMatch(code); it.hasNext();) {
            const QString text = it.next().captured(1);
            if (HasChinese(text)) out.push_back(text.toStdString());
        }
    }
    return out;
}

// The text and tooltip attributes of a skin file.
std::vector<std::string> SkinTexts(const fs::path& file) {
    std::vector<std::string> out;
    QXmlStreamReader xml(QByteArray::fromStdString(ReadFile(file)));
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) continue;
        for (const char* key : {"text", "tooltip"}) {
            const QString value = xml.attributes().value(key).toString();
            if (HasChinese(value)) out.push_back(value.toStdString());
        }
    }
    EXPECT_FALSE(xml.hasError()) << file << ": " << xml.errorString().toStdString();
    return out;
}

// The source texts of the catalog, with the context each is under.
std::vector<std::pair<std::string, std::string>> CatalogSources() {
    std::vector<std::pair<std::string, std::string>> out;
    QXmlStreamReader xml(QByteArray::fromStdString(ReadFile(kSourceDir / "lang" / "brevload_en.ts")));
    QString context;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) continue;
        if (xml.name() == u"name") context = xml.readElementText();
        if (xml.name() == u"source")
            out.emplace_back(context.toStdString(), xml.readElementText().toStdString());
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    return out;
}

void ExpectEnglish(const std::string& source, const std::string& where) {
    const std::string english = EnglishTranslation(source.c_str());
    EXPECT_FALSE(english.empty()) << where << ": no English for \"" << source << "\"";
    EXPECT_NE(english, source) << where << ": the English is the Chinese \"" << source << "\"";
}

TEST_F(Translation, EveryTextOfTheCatalogHasItsEnglish) {
    const auto sources = CatalogSources();
    ASSERT_GE(sources.size(), std::size(kTexts));
    for (const auto& [context, source] : sources) {
        EXPECT_EQ(context, kTranslationContext) << source;
        ExpectEnglish(source, "lang/brevload_en.ts");
    }
}

TEST_F(Translation, EveryChineseTextOfTheSourcesAndTheSkinIsInTheCatalog) {
    // The skin's font family, not a text anyone reads.
    const std::set<std::string> notTexts = {"宋体"};
    int found = 0;
    for (const char* dir : {"image", "device", "ops", "app", "ui", "cli"}) {
        for (const auto& entry : fs::recursive_directory_iterator(kSourceDir / dir)) {
            const fs::path& path = entry.path();
            if (path.extension() != ".cpp" && path.extension() != ".h") continue;
            for (const std::string& text : ChineseLiterals(path)) {
                if (notTexts.count(text) != 0) continue;
                ++found;
                ExpectEnglish(text, fs::relative(path, kSourceDir).string());
            }
        }
    }
    for (const char* skin : {"main.xml", "DeviceItem.xml"}) {
        for (const std::string& text : SkinTexts(kSourceDir / "ui" / "skin" / skin)) {
            ++found;
            ExpectEnglish(text, std::string("ui/skin/") + skin);
        }
    }
    // The walk itself must see the texts: every entry of the table above is somewhere.
    EXPECT_GE(found, static_cast<int>(std::size(kTexts)));
}

}  // namespace
}  // namespace brev
