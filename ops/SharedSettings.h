// The settings that jobs read while they run. Written on the UI thread, read by jobs:
// atomics, so there is no data race.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "device/CommandSet.h"

namespace brev {

struct SharedSettings {
    std::atomic<int> autoDownloadFlag{0};
    std::atomic<int> resetAfterDownloadFlag{0};
    // Internal-flash downloads leave blocks the device already holds byte for byte.
    std::atomic<int> skipUnchanged{0};
    std::atomic<uint8_t> busClkDiv{0};
    std::atomic<uint8_t> busLineMode{0};
    std::atomic<uint8_t> busChipSelIndirect{0};
    std::atomic<uint8_t> busChipSelDirect{0};
    std::atomic<uint8_t> busChipType{0};

    cmd::BusParams bus() const {
        return {busClkDiv.load(), busLineMode.load(), busChipSelIndirect.load(), busChipSelDirect.load(),
                busChipType.load()};
    }
    std::string downloadFilePath() const {
        std::lock_guard<std::mutex> lock(pathMutex_);
        return downloadFilePath_;
    }
    void setDownloadFilePath(std::string path) {
        std::lock_guard<std::mutex> lock(pathMutex_);
        downloadFilePath_ = std::move(path);
    }

private:
    mutable std::mutex pathMutex_;
    std::string downloadFilePath_;
};

}  // namespace brev
