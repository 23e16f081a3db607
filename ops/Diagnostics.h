// The diagnostic single commands of the test area, on one test connection.
// Every command goes to selector 0. Runs synchronously on the UI thread; results are shown only
// as message boxes. A read that fails says so and writes no file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "device/CMutilMassStorage.h"
#include "device/MassDevice.h"
#include "ops/Jobs.h"

namespace brev {

class CTestConnection {
public:
    // `readDataPath` is where TestRead / TestFastRead write (readData.bin in the current directory).
    CTestConnection(const JobEnvironment& env, std::filesystem::path readDataPath = "readData.bin");

    void TestInit(const std::vector<PresentDevice>& presentDevices, const PatternList& vendorPatterns,
                  const PatternList& productPatterns);
    void TestGetCrc16();
    void TestSystemReset();
    void TestReadFlashId();
    void TestWriteByte();
    void TestWritePage();
    void TestReadChipVer();
    void TestErase4K();
    void TestErase32K();
    void TestErase64K();
    void TestEraseChip();
    void TestRead();
    void TestFastRead();
    void TestCloseDevice();
    void TestSetKey(int enable, int key);

    bool isOpen() const { return testDevice_ != nullptr; }

private:
    void box(const char* message) const;
    bool guard() const;  // shows "not initialised" when the connection is closed
    void send(const Cdb& cdb);
    void sendIn(const Cdb& cdb, uint32_t length);
    void writeFile(uint8_t sub);
    void readToFile(const Cdb& cdb);

    JobEnvironment env_;
    std::filesystem::path readDataPath_;
    std::unique_ptr<MassDevice> testDevice_;
};

}  // namespace brev
