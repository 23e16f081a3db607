// Serves a MassStorageTarget on a FunctionFS instance: writes the interface's descriptors and
// strings to ep0, answers the class requests there, and runs the Bulk-Only Transport on the two
// bulk endpoints on a thread of its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/gadget/MassStorageTarget.h"

namespace brev::gadget {

// Interface class 08 (mass storage), subclass 06 (SCSI transparent), protocol 50 (bulk-only),
// one bulk-in then one bulk-out endpoint, for full, high and super speed.
std::vector<uint8_t> MassStorageDescriptors();
// One string (the interface's name) in US English.
std::vector<uint8_t> MassStorageStrings(const std::string& interfaceName);

using LogFn = std::function<void(const std::string&)>;

class FunctionFsService {
public:
    enum class End { Stopped, OffBus, Failed };

    FunctionFsService(MassStorageTarget& target, std::string ffsDir, LogFn log, bool verbose);
    ~FunctionFsService();
    FunctionFsService(const FunctionFsService&) = delete;
    FunctionFsService& operator=(const FunctionFsService&) = delete;

    // Opens ep0 and writes descriptors and strings; after that the UDC may be bound.
    bool Open(std::string& error);
    // Serves until `stopFd` is readable (a signalfd), the device drops off the bus, or ep0 fails.
    // `onUnbind` runs on ep0's thread when the UDC is unbound (the device is unplugged).
    End Run(int stopFd, const std::function<void()>& onUnbind);
    // Closes every endpoint file; the kernel then takes the function off the bus.
    void Close();

private:
    void BulkLoop();
    void HandleEp0Events();
    void HandleSetup(const uint8_t* setup);
    void InterruptBulk();
    void HaltBulkIn();
    void Log(const std::string& line) const;

    MassStorageTarget& target_;
    std::string ffsDir_;
    LogFn log_;
    bool verbose_;
    int ep0_ = -1, in_ = -1, out_ = -1;
    int offBusEvent_ = -1;  // eventfd the bulk thread raises when the device leaves the bus
    std::thread bulk_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> resetPending_{false};
    std::atomic<bool> bulkDone_{false};
    std::function<void()> onUnbind_;
};

}  // namespace brev::gadget
