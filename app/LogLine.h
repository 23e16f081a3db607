// How the operator's log names a device, in the window and on the console alike: with several
// devices at work a bare "数据写入失败" cannot be attributed, and after a removal the line is
// the only trace of the device left.
#pragma once

#include <string>

namespace brev {

// "[sim0] 数据写入失败"; a line about no device is the text alone. The text stays as it is.
inline std::string DeviceLogLine(const std::string& device, const std::string& text) {
    return device.empty() ? text : "[" + device + "] " + text;
}

}  // namespace brev
