#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "device/windows/WindowsBackend.h"
#include "tests/windows/FakeWindows.h"

namespace brev {
namespace {

using test::FakeWindows;

// Where the driver expects each field of the request block.
struct Layout {
    uint16_t length;  // Length: the size of SCSI_PASS_THROUGH_DIRECT
    std::size_t dataBufferAt;
    std::size_t senseInfoOffsetAt;
    uint32_t senseInfoOffset;
    std::size_t cdbAt;
};
#ifdef _WIN64
constexpr Layout kLayout{56, 24, 32, 60, 36};
#else
constexpr Layout kLayout{44, 20, 24, 48, 28};  // not built by default: no i686 compiler installed
#endif

std::unique_ptr<IPassThroughHandle> OpenFake(FakeWindows& fake) {
    OpenError err = OpenError::Other;
    auto handle = MakeWindowsBackend(fake.System())->OpenVolume("E", "\\\\.\\E:", &err);
    EXPECT_EQ(err, OpenError::None);
    return handle;
}

std::array<uint8_t, 16> Cdb() {
    std::array<uint8_t, 16> cdb{};
    for (std::size_t i = 0; i < cdb.size(); ++i) cdb[i] = static_cast<uint8_t>(0xA0 + i);
    return cdb;
}

struct BlockCase {
    const char* what;
    DataDirection dir;
    uint32_t length;
    bool withBuffer;
    uint32_t timeoutMs;
    uint8_t dataIn;
    uint32_t sentLength;
    uint32_t timeoutSeconds;
};

TEST(WindowsTransfer, RequestBlockIsZeroExceptTheFieldsOfTheTable) {
    const BlockCase cases[] = {
        {"data in", DataDirection::In, 512, true, kPassThroughTimeoutMs, 1, 512, 10},
        {"data out", DataDirection::Out, 4, true, kPassThroughTimeoutMs, 0, 4, 10},
        {"no data", DataDirection::None, 0, false, kPassThroughTimeoutMs, 0, 0, 10},
        {"out, length 0, null buffer", DataDirection::Out, 0, false, kPassThroughTimeoutMs, 0, 0, 10},
        {"sub-second time-out", DataDirection::In, 8, true, 500, 1, 8, 1},
        {"no time-out given", DataDirection::In, 8, true, 0, 1, 8, 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeWindows fake;
        auto handle = OpenFake(fake);
        ASSERT_TRUE(handle);
        std::vector<uint8_t> data(c.length ? c.length : 1, 0x5A);
        uint8_t* buffer = c.withBuffer ? data.data() : nullptr;
        const auto cdb = Cdb();

        const TransferResult r = handle->Execute(cdb.data(), c.dir, buffer, c.length, c.timeoutMs);
        EXPECT_EQ(r.status, TransferStatus::Ok);
        ASSERT_EQ(fake.codes, std::vector<DWORD>{0x4D014u});
        EXPECT_TRUE(fake.sameBuffer) << "the block is both input and output";

        std::vector<uint8_t> expected(kLayout.senseInfoOffset + 32, 0);
        auto put = [&](std::size_t at, const void* v, std::size_t n) {
            std::memcpy(expected.data() + at, v, n);
        };
        put(0, &kLayout.length, 2);
        expected[4] = 1;   // TargetId
        expected[6] = 16;  // CdbLength
        expected[7] = 26;  // SenseInfoLength
        expected[8] = c.dataIn;
        put(12, &c.sentLength, 4);
        put(16, &c.timeoutSeconds, 4);
        const uintptr_t pointer = reinterpret_cast<uintptr_t>(buffer);
        put(kLayout.dataBufferAt, &pointer, sizeof pointer);
        put(kLayout.senseInfoOffsetAt, &kLayout.senseInfoOffset, 4);
        put(kLayout.cdbAt, cdb.data(), cdb.size());

        // The platform block may end in alignment padding, which must be zero as well.
        ASSERT_GE(fake.request.size(), expected.size());
        expected.resize(fake.request.size(), 0);
        EXPECT_EQ(fake.request, expected);
    }
}

struct StatusCase {
    const char* what;
    DWORD ioError;
    UCHAR scsiStatus;
    std::vector<uint8_t> sense;
    TransferStatus status;
    int osError;
    uint8_t senseKey, asc, ascq;
};

TEST(WindowsTransfer, OnlyADeliveredGoodStatusSucceeds) {
    std::vector<uint8_t> fixed(18, 0);
    fixed[0] = 0x70;
    fixed[2] = 0x05;  // ILLEGAL REQUEST
    fixed[12] = 0x24;
    fixed[13] = 0x01;
    const std::vector<uint8_t> descriptor = {0x72, 0x06, 0x29, 0x02};

    const StatusCase cases[] = {
        {"good", 0, 0x00, {}, TransferStatus::Ok, 0, 0, 0, 0},
        {"check condition, fixed sense", 0, 0x02, fixed, TransferStatus::CheckCondition, 0, 5, 0x24, 0x01},
        {"check condition, descriptor sense", 0, 0x02, descriptor, TransferStatus::CheckCondition, 0, 6, 0x29,
         2},
        {"busy", 0, 0x08, {}, TransferStatus::CheckCondition, 0, 0, 0, 0},
        {"device gone",
         ERROR_DEVICE_NOT_CONNECTED,
         0,
         {},
         TransferStatus::NoDevice,
         ERROR_DEVICE_NOT_CONNECTED,
         0,
         0,
         0},
        {"file gone", ERROR_FILE_NOT_FOUND, 0, {}, TransferStatus::NoDevice, ERROR_FILE_NOT_FOUND, 0, 0, 0},
        {"not ready", ERROR_NOT_READY, 0, {}, TransferStatus::NoDevice, ERROR_NOT_READY, 0, 0, 0},
        {"time-out", ERROR_SEM_TIMEOUT, 0, {}, TransferStatus::Timeout, ERROR_SEM_TIMEOUT, 0, 0, 0},
        {"other failure", ERROR_IO_DEVICE, 0, {}, TransferStatus::OsError, ERROR_IO_DEVICE, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeWindows fake;
        fake.ioError = c.ioError;
        fake.scsiStatus = c.scsiStatus;
        fake.sense = c.sense;
        auto handle = OpenFake(fake);
        ASSERT_TRUE(handle);
        std::array<uint8_t, 64> data{};
        const TransferResult r =
            handle->Execute(Cdb().data(), DataDirection::In, data.data(), data.size(), kPassThroughTimeoutMs);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.ok(), c.status == TransferStatus::Ok);
        EXPECT_EQ(r.scsiStatus, c.ioError ? 0 : c.scsiStatus);
        EXPECT_EQ(r.osError, c.osError);
        EXPECT_EQ(r.senseKey, c.senseKey);
        EXPECT_EQ(r.asc, c.asc);
        EXPECT_EQ(r.ascq, c.ascq);
    }
}

TEST(WindowsTransfer, DataPhaseWithoutABufferIsRefusedBeforeTheDriver) {
    FakeWindows fake;
    auto handle = OpenFake(fake);
    ASSERT_TRUE(handle);
    const TransferResult r =
        handle->Execute(Cdb().data(), DataDirection::In, nullptr, 16, kPassThroughTimeoutMs);
    EXPECT_EQ(r.status, TransferStatus::OsError);
    EXPECT_EQ(fake.passThroughCalls, 0);
}

}  // namespace
}  // namespace brev
