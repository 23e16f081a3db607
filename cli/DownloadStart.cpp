#include "cli/DownloadStart.h"

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
        return true;
    }
    CImageChecker checker;
    const int code = checker.Check(PathFromUtf8(file));
    if (code == ImageOk) return true;
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
