// A recording main window and hand-driven timers for the controller tests.
#pragma once

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app/CAppController.h"
#include "app/IMainWindow.h"

namespace brev::test {

// Every call the controller or a job makes, one string each ("AddDeviceItem sim0",
// "Tips 检查到设备接入", "Progress sim0 5", ...). Job calls come from job threads.
class RecordingWindow : public IMainWindow {
public:
    explicit RecordingWindow(CAppController& controller) : controller_(controller) {}

    bool Create() override {
        record("Create");
        // As the real window: the command line is examined while the window is created.
        const CommandLine& cl = controller_.commandLine();
        if (cl.consoleMode) events_.ConsoleDownload.Raise(cl.filePath);
        return createResult;
    }
    CWindowEvents& events() override { return events_; }
    void AddDeviceItem(const std::string& name, const std::string& tooltip) override {
        record("AddDeviceItem " + name);
        std::lock_guard<std::mutex> lock(mutex_);
        tooltips_[name] = tooltip;
    }
    std::string tooltip(const std::string& name) const {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = tooltips_.find(name);
        return it == tooltips_.end() ? std::string() : it->second;
    }
    void RemoveDeviceItem(const std::string& name) override { record("RemoveDeviceItem " + name); }
    void EnableOptionControls(bool enable) override {
        record(std::string("EnableOptionControls ") + (enable ? "1" : "0"));
    }
    int exFlashOption() const override { return exFlash; }
    PinTexts pinTexts() const override { return pins; }

    void PostProgressPos(const std::string& name, int percent) override {
        record("Progress " + name + " " + std::to_string(percent));
    }
    void PostProgressImage(const std::string& name, int state) override {
        record("Image " + name + " " + std::to_string(state));
    }
    void PostEnableControls(const std::string& name, int enable) override {
        record("Enable " + name + " " + std::to_string(enable));
    }
    void AddTipsText(const std::string& text, const std::string& device) override {
        (void)device;
        record("Tips " + text);
    }
    void ShowFileParseError(int code) override { record("FileError " + std::to_string(code)); }
    void ShowMessageBox(const std::string& text, const std::string& caption) override {
        record("Box " + caption + "|" + text);
    }
    void JobFinished(const std::string& name, const JobOutcome& outcome) override {
        record("Finished " + name + " " + (outcome.success ? "1" : "0"));
    }

    std::vector<std::string> calls() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    // The calls starting with `prefix`.
    std::vector<std::string> calls(const std::string& prefix) const {
        std::vector<std::string> out;
        for (auto& c : calls())
            if (c.starts_with(prefix)) out.push_back(c);
        return out;
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.clear();
    }

    int exFlash = 0;
    PinTexts pins = DefaultPinTexts();
    bool createResult = true;

private:
    void record(std::string call) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(std::move(call));
    }

    CAppController& controller_;
    CWindowEvents events_;
    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
    std::map<std::string, std::string> tooltips_;
};

// Timers that fire only when the test says so.
class FakeTimers : public ITimerService {
public:
    void SingleShot(std::chrono::milliseconds delay, std::function<void()> callback) override {
        pending_.emplace_back(delay, std::move(callback));
    }
    size_t pending() const { return pending_.size(); }
    std::chrono::milliseconds delayOf(size_t i) const { return pending_.at(i).first; }
    void FireAll() {
        auto due = std::move(pending_);
        pending_.clear();
        for (auto& t : due) t.second();
    }

private:
    std::vector<std::pair<std::chrono::milliseconds, std::function<void()>>> pending_;
};

}  // namespace brev::test
