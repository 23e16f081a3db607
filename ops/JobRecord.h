// What a job is, as kept in the station's records. The ops layer only describes jobs; where
// and how they are kept is the recorder's business (the app layer).
#pragma once

#include <cstdint>
#include <string>

#include "ops/JobNotifier.h"

namespace brev {

struct JobRecordStart {
    std::string operation;  // download, erase, random-test, read, verify
    std::string path;       // internal, external, pc-mode; empty when no path applies
    int eraseUse4K = 0;
    std::string pins;  // "CS,CLK,MOSI,MISO" of the external flash; empty otherwise
    std::string deviceName;
    std::string slot;
    std::string portPath;
    std::string serial;
    std::string imagePath;  // empty for jobs without an image
    int64_t headerLength = 0;
};

class IJobRecorder {
public:
    virtual ~IJobRecorder() = default;
    // On the job's thread as it begins: a token for Finished, 0 when nothing was kept. Must never
    // fail the job.
    virtual int64_t Started(const JobRecordStart& start) = 0;
    virtual void Finished(int64_t token, const JobOutcome& outcome) = 0;
};

}  // namespace brev
