// How a job's thread talks to its notifier: every line names the job's device.
#pragma once

#include <string>
#include <utility>

#include "ops/JobNotifier.h"
#include "ops/Texts.h"

namespace brev {

class JobReport {
public:
    // `quietWhenUnnamed`: send no per-row notification when the device name is empty.
    JobReport(IJobNotifier* notifier, std::string deviceName, bool quietWhenUnnamed = false)
        : notifier_(notifier),
          name_(std::move(deviceName)),
          rowsOff_(notifier_ == nullptr || (quietWhenUnnamed && name_.empty())) {}

    // Texts are shown in the operator's language (a filled pattern is already translated).
    void log(const std::string& text) const {
        if (notifier_ != nullptr) notifier_->AddTipsText(text::Tr(text), name_);
    }
    void progress(int percent) const {
        if (!rowsOff_) notifier_->PostProgressPos(name_, percent);
    }
    void image(int state) const {
        if (!rowsOff_) notifier_->PostProgressImage(name_, state);
    }
    void row(int enable) const {
        if (!rowsOff_) notifier_->PostEnableControls(name_, enable);
    }
    void box(const std::string& text) const {
        if (notifier_ != nullptr) notifier_->ShowMessageBox(text::Tr(text), "");
    }
    const std::string& name() const { return name_; }

private:
    IJobNotifier* notifier_;
    std::string name_;
    bool rowsOff_;
};

}  // namespace brev
