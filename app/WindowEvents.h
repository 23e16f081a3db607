// The events the main window raises towards the controller: multicast callback lists,
// raised on the UI thread.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "device/PassThrough.h"

namespace brev {

template <typename... Args>
class CEvent {
public:
    using Callback = std::function<void(Args...)>;
    // At most one callback per context object; a second subscription replaces the first.
    void Subscribe(const void* context, Callback callback) {
        for (auto& entry : subscribers_) {
            if (entry.first == context) {
                entry.second = std::move(callback);
                return;
            }
        }
        subscribers_.emplace_back(context, std::move(callback));
    }
    void Unsubscribe(const void* context) {
        std::erase_if(subscribers_, [context](const auto& e) { return e.first == context; });
    }
    void Raise(Args... args) const {
        auto copy = subscribers_;  // a callback may subscribe or unsubscribe
        for (auto& entry : copy) entry.second(args...);
    }

private:
    std::vector<std::pair<const void*, Callback>> subscribers_;
};

struct CWindowEvents {
    CEvent<const DeviceEvent&> DeviceChanged;
    // name, eraseOnly, eraseUse4K, writeRandom, exFlash
    CEvent<const std::string&, int, int, int, int> StartDownload;
    CEvent<const std::string&> StartRead;
    CEvent<const std::string&> ConsoleDownload;
    CEvent<> TestInit, TestGetCrc16, TestSystemReset, TestReadFlashId, TestWriteByte, TestWritePage,
        TestReadChipVer, TestErase4K, TestErase32K, TestErase64K, TestEraseChip, TestRead, TestFastRead,
        TestCloseDevice;
    CEvent<int, int> TestSetKey;  // enable, key
};

}  // namespace brev
