// Requests that fit the path: a data phase above the handle's limit goes out in pieces when its
// command addresses its data, and not at all otherwise.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "base/Bytes.h"
#include "device/CommandSet.h"
#include "device/MassDevice.h"
#include "tests/device/FakeBackend.h"
#include "tests/support/Pattern.h"

namespace brev {
namespace {

using test::FakeBackend;
using test::FakeVolume;

// A memory behind a path that refuses, as the kernel does, any request above `limit`; reads and
// writes of every addressed command go to `mem`.
struct LimitedPath {
    uint32_t limit;
    std::vector<uint8_t> mem = test::Pattern(0x100000, 7);
    int failAtRequest = 0;  // this request (1-based) is rejected by the device
    int requests = 0;

    test::Handler handler() {
        return [this](const uint8_t* cdb, DataDirection dir, uint8_t* data, uint32_t length) {
            TransferResult r;
            if (length > limit) {
                r.status = TransferStatus::OsError;
                r.osError = EINVAL;
                r.residual = length;
                return r;
            }
            if (++requests == failAtRequest) {
                r = test::Status(TransferStatus::CheckCondition, 0x02);
                r.residual = length;  // a rejected command moved nothing
                return r;
            }
            const uint32_t addr = GetLe32(cdb + 6);
            if (length > 0 && uint64_t{addr} + length <= mem.size()) {
                if (dir == DataDirection::In) std::memcpy(data, &mem[addr], length);
                if (dir == DataDirection::Out) std::memcpy(&mem[addr], data, length);
            }
            return r;
        };
    }
};

struct Piece {
    uint32_t len, addr;
    bool operator==(const Piece&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Piece& p) {
    return os << "{len " << p.len << ", addr 0x" << std::hex << p.addr << std::dec << "}";
}

// One device on a path with the given limit.
struct Rig {
    explicit Rig(uint32_t limit) {
        path.limit = limit;
        FakeVolume vol{"E", "\\\\.\\E:"};
        vol.maxTransfer = limit;
        vol.handler = path.handler();
        fake->Add(vol);
        EXPECT_EQ(dev.Open(), 1);
        EXPECT_EQ(dev.maxTransfer(), limit);
    }
    // Length and address of each block that reached the handle, in order.
    std::vector<Piece> Pieces() const {
        std::vector<Piece> out;
        for (const auto& s : fake->sent()) out.push_back({GetLe32(&s.cdb[2]), GetLe32(&s.cdb[6])});
        return out;
    }

    LimitedPath path{0};
    std::shared_ptr<FakeBackend> fake = std::make_shared<FakeBackend>();
    MassDevice dev{fake, "\\\\.\\E:", "E", {"BRVNTIS"}, {"DEVICE"}};
};

TEST(TransferSplit, AddressedCommandsGoOutAsConsecutivePiecesThatFit) {
    struct Case {
        const char* what;
        uint32_t limit;
        uint8_t sub;
        uint32_t length, addr;
        std::vector<Piece> pieces;
    };
    const Case cases[] = {
        {"read of 512 KiB, 64 KiB per request",
         0x10000,
         cmd::Read,
         0x80000,
         0,
         {{0x10000, 0},
          {0x10000, 0x10000},
          {0x10000, 0x20000},
          {0x10000, 0x30000},
          {0x10000, 0x40000},
          {0x10000, 0x50000},
          {0x10000, 0x60000},
          {0x10000, 0x70000}}},
        {"fast read, a short last piece",
         122880,
         cmd::FastRead,
         300000,
         0x1000,
         {{122880, 0x1000}, {122880, 0x1000 + 122880}, {54240, 0x1000 + 245760}}},
        {"page write",
         122880,
         cmd::WritePage,
         200000,
         0x20000,
         {{122880, 0x20000}, {77120, 0x20000 + 122880}}},
        {"byte write", 0x10000, cmd::WriteByte, 0x10001, 0, {{0x10000, 0}, {1, 0x10000}}},
        {"RAM write", 0x8000, cmd::WriteRam, 0x9000, 0x808000, {{0x8000, 0x808000}, {0x1000, 0x810000}}},
        {"external write", 0x8000, cmd::LoaderWrite, 0x9000, 0, {{0x8000, 0}, {0x1000, 0x8000}}},
        {"a limit off the sector size: whole sectors",
         1000,
         cmd::Read,
         1500,
         0,
         {{512, 0}, {512, 512}, {476, 1024}}},
        {"64 KiB fits 120 KiB: one request", 122880, cmd::WritePage, 0x10000, 0x30000, {{0x10000, 0x30000}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig(c.limit);

        const bool in = c.sub == cmd::Read || c.sub == cmd::FastRead;
        const uint32_t memAt = c.addr >= rig.path.mem.size() ? 0 : c.addr;  // RAM addresses: not in mem
        std::vector<uint8_t> buffer = in ? std::vector<uint8_t>(c.length, 0xEE) : test::Pattern(c.length, 9);
        const Cdb block = cmd::Block(0, c.sub, c.length, c.addr);
        const bool ok = in ? rig.dev.TransferIn(block.data(), c.length, buffer.data())
                           : rig.dev.TransferOut(block.data(), c.length, buffer.data());
        ASSERT_TRUE(ok) << TransferStatusText(rig.dev.lastTransfer().status);
        EXPECT_EQ(rig.dev.lastTransfer().residual, 0u);
        EXPECT_EQ(rig.Pieces(), c.pieces);
        for (const auto& s : rig.fake->sent()) {
            // Everything but length and address as the caller built it.
            EXPECT_EQ(s.cdb[0], 0xC0);
            EXPECT_EQ(s.cdb[1], c.sub);
            EXPECT_EQ(s.dir, in ? DataDirection::In : DataDirection::Out);
            EXPECT_EQ(s.length, GetLe32(&s.cdb[2]));
        }
        if (c.addr == memAt) {
            // The bytes landed where one request would have put them.
            const std::vector<uint8_t> at(rig.path.mem.begin() + memAt,
                                          rig.path.mem.begin() + memAt + c.length);
            EXPECT_EQ(buffer, at);
        }
    }
}

TEST(TransferSplit, ACommandThatCannotBeSplitAndDoesNotFitFailsUnsentNamingTheLimit) {
    Rig rig(122880);
    std::vector<uint8_t> buffer(200000);
    struct Case {
        const char* what;
        Cdb block;
        DataDirection dir;
    };
    Cdb noGroup = cmd::Block(0, cmd::Read, 200000, 0);
    noGroup[0] = 0x28;
    const Case cases[] = {
        {"no address for its data", cmd::ReadChipVerBlock(), DataDirection::In},
        {"length field not the data phase", cmd::ReadBlock(100000, 0), DataDirection::In},
        {"read sent as data-out", cmd::ReadBlock(200000, 0), DataDirection::Out},
        {"not the vendor group", noGroup, DataDirection::In},
        {"pieces would run past the address space", cmd::ReadBlock(200000, 0xFFFF0000), DataDirection::In},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const bool ok = c.dir == DataDirection::In
                            ? rig.dev.TransferIn(c.block.data(), 200000, buffer.data())
                            : rig.dev.TransferOut(c.block.data(), 200000, buffer.data());
        EXPECT_FALSE(ok);
        EXPECT_EQ(rig.dev.lastTransfer().status, TransferStatus::OsError);
        EXPECT_EQ(rig.dev.lastTransfer().osError, EINVAL);
        EXPECT_EQ(rig.dev.lastTransfer().residual, 200000u);
        EXPECT_NE(rig.dev.lastTransferNote().find("122880"), std::string::npos) << rig.dev.lastTransferNote();
        EXPECT_TRUE(rig.fake->sent().empty());
    }
    // The next transfer starts without the old note.
    ASSERT_TRUE(rig.dev.TransferIn(cmd::ReadBlock(4, 0).data(), 4, buffer.data()));
    EXPECT_EQ(rig.dev.lastTransferNote(), "");
}

TEST(TransferSplit, AFailingPieceEndsTheTransferAndCountsTheRestAsNotMoved) {
    Rig rig(0x10000);
    rig.path.failAtRequest = 2;
    std::vector<uint8_t> buffer(0x30000);
    EXPECT_FALSE(rig.dev.TransferIn(cmd::ReadBlock(0x30000, 0).data(), 0x30000, buffer.data()));
    EXPECT_EQ(rig.dev.lastTransfer().status, TransferStatus::CheckCondition);
    EXPECT_EQ(rig.Pieces(), (std::vector<Piece>{{0x10000, 0}, {0x10000, 0x10000}}));
    EXPECT_EQ(rig.dev.lastTransfer().residual, 0x20000u);
}

TEST(TransferSplit, WithoutAKnownLimitNothingIsSplit) {
    Rig rig(0);
    rig.path.limit = UINT32_MAX;
    std::vector<uint8_t> buffer(0x80000);
    ASSERT_TRUE(rig.dev.TransferIn(cmd::ReadBlock(0x80000, 0).data(), 0x80000, buffer.data()));
    EXPECT_EQ(rig.Pieces(), (std::vector<Piece>{{0x80000, 0}}));
}

}  // namespace
}  // namespace brev
