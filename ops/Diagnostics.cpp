#include "ops/Diagnostics.h"

#include <new>
#include <vector>

#include "base/AtomicFile.h"
#include "base/Utf8Path.h"
#include "ops/JobFile.h"
#include "ops/Texts.h"

namespace brev {
namespace {

constexpr uint32_t kTestReadSize = 0x80000;
constexpr uint32_t kTestCrcLength = 0x10000;

}  // namespace

CTestConnection::CTestConnection(const JobEnvironment& env, std::filesystem::path readDataPath)
    : env_(env), readDataPath_(std::move(readDataPath)) {}

void CTestConnection::box(const char* message) const {
    if (env_.notifier != nullptr) env_.notifier->ShowMessageBox(text::Tr(message), "");
}

bool CTestConnection::guard() const {
    if (isOpen()) return true;
    box(text::kNotInitialized);
    return false;
}

void CTestConnection::send(const Cdb& cdb) { (void)testDevice_->TransferOut(cdb.data(), 0, nullptr); }

void CTestConnection::sendIn(const Cdb& cdb, uint32_t length) {
    std::vector<uint8_t> answer(length);
    (void)testDevice_->TransferIn(cdb.data(), length, answer.data());
}

void CTestConnection::TestInit(const std::vector<PresentDevice>& presentDevices,
                               const PatternList& vendorPatterns, const PatternList& productPatterns) {
    if (presentDevices.empty()) {
        box(text::kNoDeviceToOpen);
        return;
    }
    if (isOpen()) return;
    const PresentDevice& first = presentDevices.front();
    testDevice_ = std::make_unique<MassDevice>(env_.backend, first.devicePath, first.name, vendorPatterns,
                                               productPatterns);
    // From here on the connection counts as open, whether or not the device answers.
    if (testDevice_->Open() == 0) {
        box(text::kOpenFailedReplug);
        return;
    }
    const cmd::BusParams bus = env_.settings != nullptr ? env_.settings->bus() : cmd::BusParams{};
    send(cmd::InitBlock(bus));
}

void CTestConnection::TestGetCrc16() {
    if (guard()) sendIn(cmd::GetCrc16Block(kTestCrcLength, 0), 2);
}
void CTestConnection::TestSystemReset() {
    if (guard()) send(cmd::SystemResetBlock());
}
void CTestConnection::TestReadFlashId() {
    if (guard()) sendIn(cmd::ReadFlashIdBlock(), 4);
}
void CTestConnection::TestReadChipVer() {
    if (guard()) sendIn(cmd::ReadChipVerBlock(), 4);
}
void CTestConnection::TestErase4K() {
    if (guard()) send(cmd::Erase4KBlock(0));
}
void CTestConnection::TestErase32K() {
    if (guard()) send(cmd::Erase32KBlock(0));
}
void CTestConnection::TestErase64K() {
    if (guard()) send(cmd::Erase64KBlock(0));
}
void CTestConnection::TestEraseChip() {
    if (guard()) send(cmd::EraseChipBlock());
}
void CTestConnection::TestSetKey(int enable, int key) {
    if (guard()) send(cmd::SetKeyBlock(enable != 0, static_cast<uint16_t>(key)));  // a clear sends no key
}

void CTestConnection::TestWriteByte() { writeFile(cmd::WriteByte); }
void CTestConnection::TestWritePage() { writeFile(cmd::WritePage); }

void CTestConnection::writeFile(uint8_t sub) {
    if (!guard()) return;
    const std::string path = env_.settings != nullptr ? env_.settings->downloadFilePath() : std::string();
    JobFile file(PathFromUtf8(path));
    if (path.empty() || !file.isOpen()) {
        box(text::kFileNotReadable);
        return;
    }
    // The whole file goes in one transfer, whose length field is 32 bits.
    std::vector<uint8_t> data;
    try {
        if (file.length() > UINT32_MAX) throw std::bad_alloc();
        data.resize(static_cast<std::size_t>(file.length()));
    } catch (const std::bad_alloc&) {
        box(text::kFileTooLarge);
        return;
    }
    const auto length = static_cast<uint32_t>(data.size());
    if (length > 0 && !file.ReadAt(0, data.data(), length)) {
        box(text::kFileNotReadable);
        return;
    }
    const Cdb cdb = sub == cmd::WriteByte ? cmd::WriteByteBlock(length, 0) : cmd::WritePageBlock(length, 0);
    (void)testDevice_->TransferOut(cdb.data(), length, data.empty() ? nullptr : data.data());
}

void CTestConnection::TestRead() {
    if (guard()) readToFile(cmd::ReadBlock(kTestReadSize, 0));
}
void CTestConnection::TestFastRead() {
    if (guard()) readToFile(cmd::FastReadBlock(kTestReadSize, 0));
}

void CTestConnection::readToFile(const Cdb& cdb) {
    std::vector<uint8_t> data(kTestReadSize, 0);
    // A failed read leaves no file behind: zeros would look like a dump of an erased part.
    if (!testDevice_->TransferIn(cdb.data(), kTestReadSize, data.data())) {
        box(text::kTestReadFailed);
        return;
    }
    // Whole or not at all; nothing is shown either way.
    (void)WriteFileAtomically(readDataPath_, data.data(), data.size());
}

void CTestConnection::TestCloseDevice() {
    if (testDevice_) {
        testDevice_->Close();
        testDevice_.reset();
    }
}

}  // namespace brev
