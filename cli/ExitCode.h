// The tool's exit statuses; scripts rely on these numbers.
#pragma once

namespace brev::cli {

enum class ExitCode : int {
    Ok = 0,             // every device succeeded (or the command needed none)
    DeviceFailed = 1,   // at least one device failed
    Usage = 2,          // bad usage, or an image that fails its check
    NoDevice = 3,       // no device to work on
    Interrupted = 130,  // stopped by Ctrl-C, SIGTERM or SIGHUP (as shells report SIGINT)
};

inline int ToInt(ExitCode code) { return static_cast<int>(code); }

}  // namespace brev::cli
