// How jobs report: the window, the command-line tool and the tests each implement this.
// Every call may come from any thread; implementations must not block for long.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace brev {

enum ProgressState : int { ProgressLoading = 0, ProgressSuccess = 1, ProgressFail = 2 };

// What a finished job achieved, for summaries (the window ignores it).
struct JobOutcome {
    enum class Kind { Download, EraseOnly, RandomTest, ReadBack, Verify };
    Kind kind = Kind::Download;
    bool success = false;
    std::optional<uint32_t> flashId;  // as logged ("FLASH ID %X" or the external identity)
    uint64_t bytesWritten = 0;        // bytes written and verified (or read, for a read-back or verify)
    uint64_t bytesSkipped = 0;        // image bytes the device already held, left as they were
    // Why it failed, one of the codes in ops/Failure.h (empty on success), decided by the first
    // step that failed; `detail` names that step and how it failed, for logs.
    std::string reason;
    std::string detail;
};

class IJobNotifier {
public:
    virtual ~IJobNotifier() = default;
    virtual void PostProgressPos(const std::string& name, int percent) = 0;
    virtual void PostProgressImage(const std::string& name, int state) = 0;
    virtual void PostEnableControls(const std::string& name, int enable) = 0;
    // One operation-log line. `device` names the device the line is about (empty when none);
    // every line an operator reads names it (the controller puts it into the window's text).
    virtual void AddTipsText(const std::string& text, const std::string& device) = 0;
    // UI thread: the message box for an image result code (nothing for codes without a text).
    virtual void ShowFileParseError(int code) = 0;
    // A modal box with one OK button; from a job's thread it must not touch a widget directly.
    virtual void ShowMessageBox(const std::string& text, const std::string& caption) = 0;
    // The job for `name` has ended (after its last notification).
    virtual void JobFinished(const std::string& name, const JobOutcome& outcome) {
        (void)name;
        (void)outcome;
    }
};

}  // namespace brev
