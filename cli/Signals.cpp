#include "cli/Signals.h"

namespace brev::cli {

std::atomic<StopSignals*> StopSignals::active_{nullptr};

}  // namespace brev::cli
