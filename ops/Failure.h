// Why a job failed: a fixed code for scripts and summaries, and a detail for people.
// The first step that fails decides both; what fails after it (clean-up, a later command on a
// device already gone) does not overwrite them.
#pragma once

#include <cstdint>
#include <string>

#include "device/MassDevice.h"
#include "ops/JobNotifier.h"

namespace brev::reason {

inline constexpr const char* kOpenFailed = "open-failed";
inline constexpr const char* kPermission = "permission";
inline constexpr const char* kInitFailed = "init-failed";
inline constexpr const char* kFlashIdFailed = "flash-id-failed";
inline constexpr const char* kNoExternalFlash = "no-external-flash";
inline constexpr const char* kEraseFailed = "erase-failed";
inline constexpr const char* kWriteFailed = "write-failed";
inline constexpr const char* kVerifyMismatch = "verify-mismatch";
inline constexpr const char* kReadFailed = "read-failed";
inline constexpr const char* kShortTransfer = "short-transfer";
inline constexpr const char* kFileUnreadable = "file-unreadable";
inline constexpr const char* kFileChanged = "file-changed";
inline constexpr const char* kOutputUnwritable = "output-unwritable";
inline constexpr const char* kDeviceRemoved = "device-removed";
inline constexpr const char* kTimeout = "timeout";
inline constexpr const char* kBusy = "busy";
inline constexpr const char* kInterrupted = "interrupted";

}  // namespace brev::reason

namespace brev {

// Sets the reason and detail unless an earlier failure already did.
void SetFailure(JobOutcome& outcome, const char* reason, const std::string& detail);

// After Open() returned 0: permission, busy or open-failed, with the backend's hint.
void SetOpenFailure(JobOutcome& outcome, const MassDevice& device);

// After a command (or a command sequence such as a verified block write) on `device` failed.
// The device's last command names the step; how it failed picks the reason: a device gone,
// a time-out, a short transfer, a busy device or an interrupted request speak for themselves,
// a rejected or undelivered command gets the reason of its step (`stepReason` when the step is
// not one of the flash commands). A sequence whose last command went through failed its
// comparison: verify-mismatch, with `block` (the block's index) and the block's address.
void SetCommandFailure(JobOutcome& outcome, const MassDevice& device, const char* stepReason,
                       int64_t block = -1);

// A failed step of a job on `device`: SetOpenFailure when the device is not open (the step
// needed it opened first), else SetCommandFailure.
void SetDeviceFailure(JobOutcome& outcome, const MassDevice& device, const char* stepReason,
                      int64_t block = -1);

// "Init: check condition, illegal request: invalid command operation code (05/20/00)",
// "LoaderWrite at 0x1000 (4096 bytes): device removed".
std::string DescribeCommand(const std::array<uint8_t, kCdbSize>& cdb, const TransferResult& result);
// How a transfer failed, in words (the part after the step's name above).
std::string DescribeTransfer(const TransferResult& result);
// "0x1F000": addresses in details.
std::string HexText(uint32_t value);
// The system's text for a transfer's osError (errno, or GetLastError() on Windows).
std::string SystemErrorText(int code);
// The text for an errno value of the C and C++ libraries (file operations).
std::string ErrnoText(int code);

}  // namespace brev
