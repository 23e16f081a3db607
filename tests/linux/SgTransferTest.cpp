// The SG_IO request the backend builds and how it reads the answer.
#include <gtest/gtest.h>

#include <array>
#include <numeric>

#include "tests/linux/FakeLinux.h"

namespace brev {
namespace {

using test::FakeCalls;
using test::FakeDisk;
using test::FakeSysfs;

class SgTransfer : public ::testing::Test {
protected:
    void SetUp() override {
        FakeDisk d;
        d.name = "sdb";
        fake_.Add(d);
        LinuxSystem sys = fake_.System();
        calls_.Install(sys);
        backend_ = std::make_unique<LinuxBackend>(sys);
        handle_ = backend_->OpenVolume("sdb", fake_.devRoot() + "/sdb", nullptr);
        ASSERT_NE(handle_, nullptr);
        std::iota(cdb_.begin(), cdb_.end(), uint8_t{0xA0});
    }

    TransferResult Run(DataDirection dir, uint8_t* data, uint32_t length) {
        return handle_->Execute(cdb_.data(), dir, data, length, kPassThroughTimeoutMs);
    }

    FakeSysfs fake_;
    FakeCalls calls_;
    std::unique_ptr<LinuxBackend> backend_;
    std::unique_ptr<IPassThroughHandle> handle_;
    std::array<uint8_t, kCdbSize> cdb_{};
};

TEST_F(SgTransfer, RequestFieldsForEachDirection) {
    std::array<uint8_t, 8> inBuf{};
    std::array<uint8_t, 5> outBuf{1, 2, 3, 4, 5};
    calls_.answer.dataIn = {9, 8, 7, 6, 5, 4, 3, 2};
    struct Case {
        DataDirection dir;
        uint8_t* data;
        uint32_t length;
        int sgDirection;
    };
    const Case cases[] = {
        {DataDirection::In, inBuf.data(), 8, SG_DXFER_FROM_DEV},
        {DataDirection::Out, outBuf.data(), 5, SG_DXFER_TO_DEV},
        {DataDirection::None, nullptr, 0, SG_DXFER_NONE},
        {DataDirection::Out, nullptr, 0, SG_DXFER_NONE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sgDirection);
        calls_.requests.clear();
        EXPECT_TRUE(Run(c.dir, c.data, c.length).ok());
        ASSERT_EQ(calls_.requests.size(), 1u);
        const auto& rec = calls_.requests[0];
        EXPECT_EQ(rec.hdr.interface_id, 'S');
        EXPECT_EQ(rec.hdr.dxfer_direction, c.sgDirection);
        EXPECT_EQ(rec.hdr.cmd_len, 16);
        EXPECT_EQ(rec.cdb, std::vector<uint8_t>(cdb_.begin(), cdb_.end()));
        EXPECT_EQ(rec.hdr.dxfer_len, c.length);
        EXPECT_EQ(rec.hdr.dxferp, c.length == 0 ? nullptr : c.data);
        EXPECT_EQ(rec.hdr.timeout, 10000u);
        EXPECT_EQ(rec.hdr.mx_sb_len, 32);
        EXPECT_NE(rec.hdr.sbp, nullptr);
        EXPECT_EQ(rec.hdr.iovec_count, 0);
    }
    EXPECT_EQ(inBuf, (std::array<uint8_t, 8>{9, 8, 7, 6, 5, 4, 3, 2}));
}

TEST_F(SgTransfer, NoTimeOutGivenIsSentAsTheDefault) {
    // SG_IO would read 0 as the kernel's own default, which no other backend shares.
    ASSERT_TRUE(handle_->Execute(cdb_.data(), DataDirection::None, nullptr, 0, 0).ok());
    EXPECT_EQ(calls_.requests.at(0).hdr.timeout, kPassThroughTimeoutMs);
}

TEST_F(SgTransfer, DataOutSendsTheCallersBytes) {
    std::array<uint8_t, 5> outBuf{1, 2, 3, 4, 5};
    ASSERT_TRUE(Run(DataDirection::Out, outBuf.data(), 5).ok());
    EXPECT_EQ(calls_.requests.at(0).dataOut, std::vector<uint8_t>(outBuf.begin(), outBuf.end()));
}

TEST_F(SgTransfer, DataPhaseWithoutBufferOrDirectionIsRefusedUnsent) {
    std::array<uint8_t, 4> buf{};
    EXPECT_EQ(Run(DataDirection::In, nullptr, 4).status, TransferStatus::OsError);
    EXPECT_EQ(Run(DataDirection::None, buf.data(), 4).status, TransferStatus::OsError);
    EXPECT_TRUE(calls_.requests.empty());
}

TEST_F(SgTransfer, AnswersMapToResults) {
    struct Case {
        const char* what;
        test::ScriptedAnswer answer;
        TransferStatus status;
        uint8_t scsiStatus, senseKey, asc, ascq;
        int osError;
    };
    // Fixed sense: ILLEGAL REQUEST, INVALID COMMAND OPERATION CODE.
    const std::vector<uint8_t> fixed = {0x70, 0, 0x05, 0, 0, 0, 0, 0x0a, 0, 0, 0, 0, 0x20, 0x00};
    // Descriptor sense: NOT READY, MEDIUM NOT PRESENT.
    const std::vector<uint8_t> descriptor = {0x72, 0x02, 0x3a, 0x01, 0, 0, 0, 0};
    const Case cases[] = {
        {"good", {}, TransferStatus::Ok, 0, 0, 0, 0, 0},
        {"check condition, fixed sense",
         {0, 0x02, 0, 0x08, fixed, {}},
         TransferStatus::CheckCondition,
         0x02,
         5,
         0x20,
         0,
         0},
        {"check condition, descriptor sense",
         {0, 0x02, 0, 0x08, descriptor, {}},
         TransferStatus::CheckCondition,
         0x02,
         2,
         0x3a,
         1,
         0},
        {"driver sense flag alone",
         {0, 0, 0, 0x08, fixed, {}},
         TransferStatus::CheckCondition,
         0x02,
         5,
         0x20,
         0,
         0},
        {"busy status", {0, 0x08, 0, 0, {}, {}}, TransferStatus::CheckCondition, 0x08, 0, 0, 0, 0},
        {"host error (DID_ERROR)", {0, 0, 0x07, 0, {}, {}}, TransferStatus::HostError, 0, 0, 0, 0, 0},
        {"host time-out", {0, 0, 0x03, 0, {}, {}}, TransferStatus::Timeout, 0, 0, 0, 0, 0},
        {"host no connect", {0, 0, 0x01, 0, {}, {}}, TransferStatus::NoDevice, 0, 0, 0, 0, 0},
        {"driver error", {0, 0, 0, 0x04, {}, {}}, TransferStatus::HostError, 0, 0, 0, 0, 0},
        {"driver time-out", {0, 0, 0, 0x06, {}, {}}, TransferStatus::Timeout, 0, 0, 0, 0, 0},
        {"ioctl ENODEV", {ENODEV, 0, 0, 0, {}, {}}, TransferStatus::NoDevice, 0, 0, 0, 0, ENODEV},
        {"ioctl ENXIO", {ENXIO, 0, 0, 0, {}, {}}, TransferStatus::NoDevice, 0, 0, 0, 0, ENXIO},
        {"ioctl ETIMEDOUT", {ETIMEDOUT, 0, 0, 0, {}, {}}, TransferStatus::Timeout, 0, 0, 0, 0, ETIMEDOUT},
        {"ioctl EIO", {EIO, 0, 0, 0, {}, {}}, TransferStatus::OsError, 0, 0, 0, 0, EIO},
    };
    std::array<uint8_t, 4> buf{};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        calls_.answer = c.answer;
        const TransferResult r = Run(DataDirection::In, buf.data(), 4);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.scsiStatus, c.scsiStatus);
        EXPECT_EQ(r.senseKey, c.senseKey);
        EXPECT_EQ(r.asc, c.asc);
        EXPECT_EQ(r.ascq, c.ascq);
        EXPECT_EQ(r.osError, c.osError);
    }
}

}  // namespace
}  // namespace brev
