// How the operator's log names a device, in the window and on the console alike: with several
// devices at work a bare "数据写入失败" cannot be attributed, and after a removal the line is
// the only trace of the device left.
#pragma once

#include <string>

namespace brev {

// "[sim0] 数据写入失败", "[sim0 A1] 设备移除" for a device in a fixture slot; a line about no
// device is the text alone. The text stays as it is.
inline std::string DeviceLogLine(const std::string& device, const std::string& text,
                                 const std::string& slot = {}) {
    if (device.empty()) return text;
    return "[" + device + (slot.empty() ? "" : " " + slot) + "] " + text;
}

}  // namespace brev
