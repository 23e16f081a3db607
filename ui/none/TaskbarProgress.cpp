// Platforms without a taskbar progress.
#include "ui/TaskbarProgress.h"

namespace brev::ui {

std::unique_ptr<ITaskbarProgress> MakeTaskbarProgress(QWidget*) { return nullptr; }

}  // namespace brev::ui
