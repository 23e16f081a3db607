// A simulated bench for the job tests: a bus of simulated devices behind a tracing backend,
// a recording notifier, shared settings, a registry and a temporary program folder.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "base/Bytes.h"
#include "base/Utf8Path.h"
#include "device/CommandSet.h"
#include "device/Tracing.h"
#include "device/sim/SimBus.h"
#include "device/sim/SimDevice.h"
#include "image/ImageChecker.h"
#include "ops/JobNotifier.h"
#include "ops/Jobs.h"
#include "tests/support/Pattern.h"
#include "tests/support/TempDir.h"

namespace brev::testing {

using test::Pattern;

// One notification, flattened: kind is "pos", "image", "enable", "log", "box", "parse" or "finished".
struct Note {
    std::string kind;
    std::string name;  // row name, or the log line's device
    std::string text;  // log or box text
    int value = 0;     // percent, state, enable flag, parse code, success
    bool operator==(const Note&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Note& n) {
    return os << n.kind << "(" << n.name << "," << n.text << "," << n.value << ")";
}

class RecordingNotifier : public IJobNotifier {
public:
    void PostProgressPos(const std::string& name, int percent) override { add({"pos", name, "", percent}); }
    void PostProgressImage(const std::string& name, int state) override { add({"image", name, "", state}); }
    void PostEnableControls(const std::string& name, int enable) override {
        add({"enable", name, "", enable});
    }
    void AddTipsText(const std::string& text, const std::string& device) override {
        add({"log", device, text, 0});
    }
    void ShowFileParseError(int code) override { add({"parse", "", "", code}); }
    void ShowMessageBox(const std::string& text, const std::string& caption) override {
        add({"box", caption, text, 0});
    }
    void JobFinished(const std::string& name, const JobOutcome& outcome) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            outcomes_[name].push_back(outcome);
        }
        add({"finished", name, "", outcome.success ? 1 : 0});
    }

    // Called (outside the lock) for every note, on the notifying thread.
    std::function<void(const Note&)> hook;

    std::vector<Note> notes() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return notes_;
    }
    std::vector<Note> notesFor(const std::string& name) const {
        std::vector<Note> out;
        for (auto& n : notes()) {
            if (n.name == name) out.push_back(n);
        }
        return out;
    }
    std::vector<int> progress(const std::string& name) const { return values("pos", name); }
    std::vector<int> images(const std::string& name) const { return values("image", name); }
    std::vector<std::string> logs() const {
        std::vector<std::string> out;
        for (auto& n : notes()) {
            if (n.kind == "log") out.push_back(n.text);
        }
        return out;
    }
    std::vector<JobOutcome> outcomes(const std::string& name) const {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = outcomes_.find(name);
        return it == outcomes_.end() ? std::vector<JobOutcome>{} : it->second;
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        notes_.clear();
        outcomes_.clear();
    }

private:
    std::vector<int> values(const std::string& kind, const std::string& name) const {
        std::vector<int> out;
        for (auto& n : notes()) {
            if (n.kind == kind && n.name == name) out.push_back(n.value);
        }
        return out;
    }
    void add(Note n) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            notes_.push_back(n);
        }
        if (hook) hook(n);
    }

    mutable std::mutex mutex_;
    std::vector<Note> notes_;
    std::map<std::string, std::vector<JobOutcome>> outcomes_;
};

// Holds a job's thread at a point of the test's choosing: the job calls Reach(), the test waits
// for it with WaitReached() and lets it go on with Open().
class Gate {
public:
    void Reach() {
        std::unique_lock<std::mutex> lock(mutex_);
        reached_ = true;
        cv_.notify_all();
        cv_.wait(lock, [this] { return open_; });
    }
    void WaitReached() {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [this] { return reached_; });
    }
    void Open() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        cv_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool reached_ = false, open_ = false;
};

// A trace line split into its fields.
struct TraceEntry {
    std::string name, dir;
    std::vector<uint8_t> cdb;
    uint32_t length = 0;
    bool ok = false;
    uint8_t sub() const { return cdb.at(1); }
    uint32_t len() const { return brev::GetLe32(cdb.data() + 2); }
    uint32_t addr() const { return brev::GetLe32(cdb.data() + 6); }
};

inline TraceEntry ParseTrace(const std::string& line) {
    TraceEntry e;
    std::istringstream in(line);
    std::string hex, status;
    in >> e.name >> e.dir >> hex >> e.length >> status;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        e.cdb.push_back(std::stoi(hex.substr(i, 2), nullptr, 16));
    e.ok = status == "ok";
    return e;
}

// A compact form of a command for sequence checks: "SUB@ADDR+LEN" in hex, e.g. "05@10000+0".
inline std::string Brief(const TraceEntry& e) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02X@%X+%X", e.sub(), e.addr(), e.len());
    return buf;
}

inline std::string Brief(const Cdb& cdb) {
    TraceEntry e;
    e.cdb.assign(cdb.begin(), cdb.end());
    return Brief(e);
}

class OpsRig : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(dir_ / "brevload_files");
        ASSERT_TRUE(sim::WriteStandInPrograms(dir_ / "brevload_files"));
        bus_ = std::make_shared<sim::SimBus>();
        sink_ = std::make_shared<TraceSink>();
        env_.backend = std::make_shared<TracingBackend>(std::make_shared<sim::SimBackend>(bus_), sink_);
        env_.notifier = &notifier_;
        env_.settings = &settings_;
        env_.registry = registry_.get();
        env_.programFolder = dir_;
        env_.deviceProgramsDir = dir_ / "brevload_files";
        env_.tickCount = [] { return 1u; };
        env_.sleep = [](std::chrono::milliseconds) {};
    }
    void TearDown() override { registry_->WaitAll(); }

    std::shared_ptr<sim::SimDevice> Attach(const std::string& name, sim::SimDeviceConfig config = {}) {
        auto device = std::make_shared<sim::SimDevice>(std::move(config));
        bus_->Attach(name, device);
        present_.push_back({name, sim::SimBus::PathFor(name), device->config().product});
        return device;
    }

    // An update image with `data` after a header of `header` bytes; selected as the download file.
    std::filesystem::path WriteImage(const std::vector<uint8_t>& data, uint32_t header = 256,
                                     const std::string& file = "fw.up") {
        auto path = dir_ / file;
        EXPECT_TRUE(WriteUpdateImage(path, data, header));
        settings_.setDownloadFilePath(PathToUtf8(path));
        return path;
    }
    std::filesystem::path WriteRaw(const std::vector<uint8_t>& bytes, const std::string& file = "fw.bin") {
        auto path = dir_ / file;
        test::WriteBytes(path, bytes);
        settings_.setDownloadFilePath(PathToUtf8(path));
        return path;
    }

    bool Start(StartRequest request) {
        const bool started = StartDownloadJob(env_, present_, request);
        registry_->WaitAll();
        return started;
    }
    bool Download(const std::string& name, int eraseUse4K = 0, int exFlash = 0) {
        StartRequest r;
        r.deviceName = name;
        r.eraseUse4K = eraseUse4K;
        r.exFlash = exFlash;
        return Start(r);
    }

    std::vector<TraceEntry> Trace() const {
        std::vector<TraceEntry> out;
        for (auto& l : sink_->Lines()) out.push_back(ParseTrace(l));
        return out;
    }
    std::vector<std::string> Commands() const {
        std::vector<std::string> out;
        for (auto& e : Trace()) out.push_back(Brief(e));
        return out;
    }

    // Declared first: the folder outlives the registry, whose destructor waits for the jobs.
    test::TempDir tmp_{"brev-ops"};
    const std::filesystem::path dir_ = tmp_.path();
    std::shared_ptr<sim::SimBus> bus_;
    std::shared_ptr<TraceSink> sink_;
    RecordingNotifier notifier_;
    SharedSettings settings_;
    std::unique_ptr<CJobRegistry> registry_ = std::make_unique<CJobRegistry>();
    JobEnvironment env_;
    std::vector<PresentDevice> present_;
};

}  // namespace brev::testing
