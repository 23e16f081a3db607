#include "cli/DownloadStart.h"

#include <fstream>
#include <system_error>

#include "base/Utf8Path.h"
#include "image/ImageChecker.h"
#include "ops/JobFile.h"

namespace brev::cli {

bool CheckDownloadFile(CommandContext& ctx, const std::string& file) {
    // Asked for but not there, the reset program would be skipped without a word.
    if (ctx.session->settings().resetAfterDownloadFlag.load() != 0) {
        const std::filesystem::path reset = ctx.session->env().deviceProgramsDir / "reset.bin";
        if (!JobFile(reset).isOpen()) {
            ctx.output.Error(
                PathToUtf8(reset) +
                ": the reset program cannot be read, so none would run after the download: put it "
                "there (see brevload-cli doctor) or download with --no-reset-after");
            return false;
        }
    }
    if (ctx.session->exFlash() != 0) {
        // Written whole, header and all: only readability matters.
        if (!JobFile(PathFromUtf8(file)).isOpen()) {
            ctx.output.Error(file + ": the file cannot be opened");
            return false;
        }
        std::error_code ec;
        const uint64_t size = std::filesystem::file_size(PathFromUtf8(file), ec);
        ctx.output.SetImage(file, ec ? 0 : size, std::nullopt);  // a raw file carries no CRC
        return true;
    }
    CImageChecker checker;
    const int code = checker.Check(PathFromUtf8(file));
    if (code == ImageOk) {
        // The header's data CRC (checked just now) identifies the image in the start events.
        std::error_code ec;
        const uint64_t size = std::filesystem::file_size(PathFromUtf8(file), ec);
        std::ifstream in(PathFromUtf8(file), std::ios::binary);
        uint8_t crc[2] = {};
        in.seekg(kImageDataCrcOffset);
        const bool crcRead = static_cast<bool>(in.read(reinterpret_cast<char*>(crc), sizeof crc));
        ctx.output.SetImage(
            file, ec ? 0 : size,
            crcRead ? std::optional<uint32_t>(static_cast<uint32_t>(crc[0] | (crc[1] << 8))) : std::nullopt);
        return true;
    }
    ctx.output.Error(file + ": image check failed: " + std::to_string(code) + " " + ImageResultText(code));
    return false;
}

JobRunner::StartFn DownloadStarter(Session& session, const std::string& file) {
    // Jobs take the shared download path, as the window's do.
    session.settings().setDownloadFilePath(file);
    return [&session, file](const PresentDevice& device, const std::vector<PresentDevice>& present) {
        StartRequest request;
        request.deviceName = device.name;
        request.eraseUse4K = session.eraseUse4K();
        request.exFlash = session.exFlash();
        request.pins = session.pins();
        request.filePath = file;
        return StartDownloadJob(session.env(), present, request);
    };
}

}  // namespace brev::cli
