// What the tool prints: the jobs' notifications (from their threads), its own messages and the
// summary. A terminal gets live progress bars redrawn in place, anything else plain lines,
// --json one object per line.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/Json.h"
#include "device/PassThrough.h"
#include "ops/JobNotifier.h"

namespace brev::cli {

enum class OutputMode { Terminal, Plain, Json };

// Time stamp of JSON events: UTC, milliseconds ("2024-05-01T08:00:00.123Z").
std::string IsoTimeNow();
// The operator text for an image result code; a short English text for codes the table lacks.
std::string ImageResultText(int code);
// An event object with its time stamp, event name and device ("" for none) filled in.
JsonObject JsonEvent(const char* event, const std::string& device = {});

class COutput : public IJobNotifier {
public:
    COutput(OutputMode mode, bool quiet, std::FILE* out = stdout, std::FILE* err = stderr);

    OutputMode mode() const { return mode_; }
    // Colours on a terminal (off when NO_COLOR is set).
    void SetColor(bool color);
    // Every line also goes to `log` (time-stamped, no escape codes; JSON lines as they are).
    // Not owned; null: no log.
    void SetLogFile(std::FILE* log);
    // The image of the jobs about to start, for their "start" events.
    void SetImage(const std::string& path, uint64_t size, std::optional<uint32_t> crc);
    // With `verbose`, a failed job's line ends with what failed, as the job described it.
    void SetVerbose(bool verbose);
    // Bytes moved to and from a device so far (for the bars' byte count and rate).
    void SetBytesSource(std::function<uint64_t(const std::string&)> source);
    // Called (on the job's thread) after a job's result has been recorded.
    void SetFinishedHook(std::function<void()> hook);

    // The fixture slot of device `name` (empty: none), shown with its name from now on.
    void NameSlot(const std::string& name, const std::string& slot);
    // A job is about to start on `name`; it gets a row (and a bar) of its own.
    void JobStarted(const std::string& name);
    // The job of the last JobStarted(name) could not start: the row counts as failed.
    void JobNotStarted(const std::string& name, const std::string& reason);
    // A device that was asked for but is not there: a failed row without a job.
    void DeviceMissing(const std::string& name, const std::string& reason);
    // A chosen device whose job was never started because the run was interrupted.
    void NotStartedInterrupted(const std::string& name);
    // Rows still running are marked interrupted; returns their devices' names (half-written).
    std::vector<std::string> AbandonRunning();

    // -v: one device command has completed (any thread): its name and outcome, with the sense
    // data when it failed.
    void CommandDone(const std::string& name, const uint8_t* cdb, const TransferResult& result);
    // Watch: a device of ours arrived / a device went away.
    void DeviceArrived(const std::string& name);
    void DeviceRemoved(const std::string& name);
    // The options a run works with and where each came from ("settings", "option", "default").
    void OptionsInEffect(const std::string& text, JsonObject json);

    // The tool's own log line (shown like a job's log line, not in quiet mode).
    void Message(const std::string& text, const std::string& device = {});
    // A problem the operator must see even in quiet mode: standard error (JSON: an "error" event).
    void Error(const std::string& text, const std::string& device = {});
    // A result line of a command without jobs (list, check, make-image): printed even in quiet
    // mode; JSON mode prints `json` (made with JsonEvent) instead of `text`.
    void Result(const std::string& text, JsonObject json);

    // Redraws the bars so rates stay current (terminal only).
    void Tick();
    // The table of every row (JSON: one "summary" event). Ends the live bars.
    void Summary();

    size_t Started() const;   // rows that got a job
    size_t Finished() const;  // rows whose job reported its end
    bool AnyFailed() const;   // a finished row failed, or a row never started
    size_t Rows() const;

    // IJobNotifier, from any thread.
    void PostProgressPos(const std::string& name, int percent) override;
    void PostProgressImage(const std::string& name, int state) override;
    void PostEnableControls(const std::string& name, int enable) override;
    void AddTipsText(const std::string& text, const std::string& device) override;
    void ShowFileParseError(int code) override;
    void ShowMessageBox(const std::string& text, const std::string& caption) override;
    void JobFinished(const std::string& name, const JobOutcome& outcome) override;

private:
    using Clock = std::chrono::steady_clock;
    struct Row {
        std::string name;
        bool started = false;
        bool finished = false;
        int percent = 0;
        int lastPrintedPercent = -1;
        int state = -1;  // ProgressState once the job showed one
        std::optional<JobOutcome> outcome;
        std::string note;  // why it failed without a job result
        Clock::time_point begin, end;
        uint64_t bytesAtBegin = 0;
    };

    // All below with mutex_ held.
    std::string slotOf(const std::string& name) const;
    std::string label(const std::string& name) const;  // DeviceLabel
    // Emits an event naming device `name`, with its slot added.
    void emitDeviceJson(JsonObject obj, const std::string& name);
    Row* current(const std::string& name);
    uint64_t bytes(const Row& row) const;
    bool failed(const Row& row) const;
    void emitJson(const JsonObject& obj);
    // Above the bars on a terminal; plain lines get a time stamp unless `stamped` is false.
    void printLine(const std::string& line, bool stamped = true);
    std::string eraseBars();  // the escape codes that remove the bars
    std::string drawBars();   // the bars' text
    void redrawThrottled(bool force);
    std::string barLine(const Row& row, size_t width) const;
    std::string finalLine(const Row& row) const;
    void write(const std::string& text);
    void writeErr(const std::string& line);            // one line to standard error
    std::string stamp(const std::string& line) const;  // the line with its time stamp (plain)
    void log(const std::string& text);                 // to the log file, one or more lines

    const OutputMode mode_;
    const bool quiet_;
    std::FILE* out_;
    std::FILE* err_;
    std::function<uint64_t(const std::string&)> bytesSource_;
    std::function<void()> finishedHook_;
    bool verbose_ = false;
    bool color_ = true;
    std::FILE* log_ = nullptr;
    bool outputBroken_ = false;  // a write failed (a closed pipe): the output stops, the jobs do not
    std::string imagePath_;
    uint64_t imageSize_ = 0;
    std::optional<uint32_t> imageCrc_;

    mutable std::mutex mutex_;
    std::vector<Row> rows_;
    std::map<std::string, size_t> currentRow_;  // a device's latest row
    std::map<std::string, std::string> slots_;  // by device name
    size_t barsDrawn_ = 0;
    Clock::time_point lastDraw_{};
    bool summarized_ = false;
};

}  // namespace brev::cli
