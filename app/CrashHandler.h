// The process-wide crash handler: a fatal fault leaves "mindmp.dmp" in the current directory
// (a minidump on Windows, a text report with a backtrace on Linux), then the process ends
// the way it would have without the handler.
#pragma once

namespace brev {

void InstallCrashHandler();

inline constexpr const char* kCrashDumpFile = "mindmp.dmp";

}  // namespace brev
