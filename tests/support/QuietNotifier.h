// A job notifier that shows nothing: for tests that look at results, not at the window.
#pragma once

#include <string>

#include "ops/JobNotifier.h"

namespace brev::test {

class QuietNotifier : public IJobNotifier {
public:
    void PostProgressPos(const std::string&, int) override {}
    void PostProgressImage(const std::string&, int) override {}
    void PostEnableControls(const std::string&, int) override {}
    void AddTipsText(const std::string&, const std::string&) override {}
    void ShowFileParseError(int) override {}
    void ShowMessageBox(const std::string&, const std::string&) override {}
};

}  // namespace brev::test
