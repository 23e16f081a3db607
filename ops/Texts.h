// Operator texts of the flash operations, byte-exact (UTF-8). A pattern with %X, %x or %s
// is filled by FillText; nothing here goes through printf. Every text here must have its English
// translation in lang/brevload_en.ts (a test checks it).
#pragma once

#include <cstdint>
#include <string>

namespace brev::text {

// Starting a download.
inline constexpr const char* kChooseAccessibleFile = "需要选择一个可访问的文件";
inline constexpr const char* kChooseFileBox = "请选择一个文件";
inline constexpr const char* kBadFileFormat = "文件格式不正确";
inline constexpr const char* kCannotAccessFile = "无法访问文件";
inline constexpr const char* kDeviceBusy = "设备%s正在操作中，请等待完成";
inline constexpr const char* kEnterPinConfig = "请输入正确的IO配置";

// Writing.
inline constexpr const char* kReadFlashIdFailed = "读取FLASH ID失败";
inline constexpr const char* kFlashId = "FLASH ID %X";
inline constexpr const char* kExternalFlashId = "外部 FLASH ID %x";
inline constexpr const char* kWritingData = "正在写入数据...";
inline constexpr const char* kVerifyingData = "正在校验数据...";
inline constexpr const char* kBlocksUnchanged = "%s个数据块未改变";
inline constexpr const char* kErasing = "正在擦除...";
inline constexpr const char* kFileReadFailed = "读取文件失败";
inline constexpr const char* kDownloadDoneReattach = "数据写入完成，若想再次升级，请重新接入设备";
inline constexpr const char* kDownloadDone = "数据写入完成";
inline constexpr const char* kDownloadDoneRestart = "数据写入完成，请重启设备";
inline constexpr const char* kSpacer = "      ";
inline constexpr const char* kDownloadFailed = "数据写入失败";

// Erase-only and random-data test.
inline constexpr const char* kDeviceInitFailed = "设备初始化失败";
inline constexpr const char* kNorErased = "Nor Flash已经擦除完毕";
inline constexpr const char* kNorEraseFailed = "Nor Flash擦除失败";
inline constexpr const char* kRandomTestPassed = "随机数据测试通过";
inline constexpr const char* kRandomTestFailed = "随机数据测试失败";

// Read-back.
inline constexpr const char* kReadFileBusy = "文件%s正在写入中，请等待读取完成";

// Diagnostic commands.
inline constexpr const char* kNoDeviceToOpen = "没有设备，无法打开";
inline constexpr const char* kOpenFailedReplug = "打开失败，重新拔插后操作";
inline constexpr const char* kNotInitialized = "没有初始化";
inline constexpr const char* kFileNotReadable = "文件不能读取";
inline constexpr const char* kFileTooLarge = "数据量太大，内存分配失败";
inline constexpr const char* kTestReadFailed = "读取数据失败，没有保存文件";

// Settings.
inline constexpr const char* kSettingsSaveFailed = "保存设置失败：%s";

// The operator's language. The texts above are the source texts; a face installs a translator
// once at start, before any job thread runs, and every text shown goes through Tr. Without a
// translator (or for a text it does not know) the source text is shown as written.
using Translator = std::string (*)(const char* source);
void SetTranslator(Translator translator);
std::string Tr(const char* source);
std::string Tr(const std::string& source);

// Translates `pattern`, then replaces the first %X (upper-case hex), %x (lower-case hex) or %s in `pattern`.
std::string FillText(const char* pattern, uint32_t value);
std::string FillText(const char* pattern, const std::string& value);

}  // namespace brev::text
