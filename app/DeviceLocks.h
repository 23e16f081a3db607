// The platform's device locks (see ops/DeviceLock.h): other brevload processes see them, and a
// process that ends, however it ends, leaves none held.
#pragma once

#include <filesystem>
#include <memory>

#include "ops/DeviceLock.h"

namespace brev {

// Locks in `folder` (made when missing); empty: the system's shared place, chosen at the first
// lock (Linux: /run/lock/brevload, else $XDG_RUNTIME_DIR/brevload; Windows: named mutexes in
// the global namespace, else the session's). Simulated devices pass their own folder so that
// unrelated simulated runs never meet.
std::shared_ptr<IDeviceLocks> MakePlatformDeviceLocks(const std::filesystem::path& folder = {});

}  // namespace brev
