// The progress shown on the window's taskbar button, where the platform has one.
#pragma once

#include <memory>

class QWidget;

namespace brev::ui {

class ITaskbarProgress {
public:
    enum class State { NoProgress, Normal, Error };
    virtual ~ITaskbarProgress() = default;
    virtual void SetProgressValue(int completed, int total) = 0;
    virtual void SetProgressState(State state) = 0;
};

// The platform's taskbar progress for `window` (its native window must exist); null when the
// platform has none (Linux) or it cannot be obtained.
std::unique_ptr<ITaskbarProgress> MakeTaskbarProgress(QWidget* window);

}  // namespace brev::ui
