// The pass-through contract (device/PassThrough.h) as one table of cases, run against every
// backend through a rig over that backend's seam. Portable: the Windows tests build it with MinGW.
//
// A rig is a class with:
//   std::unique_ptr<IPassThroughHandle> Open();     opens the one volume through its backend
//   std::optional<Arranged> Arrange(const ContractCase&, std::string& why);
//                                                   makes the seam answer as the case says; nothing
//                                                   (and `why`) when the backend cannot be made to
//   int Requests() const;                           requests that reached the OS call or the device
//   int OsCode(OsCode) const;                       the backend's value for a kind of error code
//   VolumeIdentity Identity() const;                what Identify must report
//   void DropBackend();                             destroys the backend object
//   std::optional<int> Closes() const;              OS handles closed so far; nothing without OS handles
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "device/PassThrough.h"

namespace brev::test {

// How the seam below the backend answers.
enum class Answer {
    Good,             // GOOD; a data-in phase moves in full
    ShortIn,          // GOOD, but a data-in phase moves only kShortMoved bytes
    ShortOut,         // GOOD, but a data-out phase moves only kShortMoved bytes
    CheckFixed,       // CHECK CONDITION, fixed-format sense kFixedSense
    CheckDescriptor,  // CHECK CONDITION, descriptor-format sense kDescriptorSense
    Timeout,          // no answer in time
    Gone,             // the device was unplugged before the request
    OsFailure,        // the OS call fails with an error of its own
};

// Kinds of osError, each backend has its own values.
enum class OsCode { None, InvalidArgument, Gone, Timeout, Failure };

// Whether the request may reach the OS call (or the simulated device).
enum class Reach { Never, Once, Either };

constexpr uint32_t kShortMoved = 5;

// ILLEGAL REQUEST, INVALID COMMAND OPERATION CODE.
inline const std::vector<uint8_t> kFixedSense = {0x70, 0, 0x05, 0,    0,    0, 0, 0x0A, 0,
                                                 0,    0, 0,    0x20, 0x00, 0, 0, 0,    0};
// NOT READY, INITIALIZING COMMAND REQUIRED.
inline const std::vector<uint8_t> kDescriptorSense = {0x72, 0x02, 0x04, 0x02, 0, 0, 0, 0};

struct ContractCase {
    const char* name;  // a test name: letters and digits only
    Answer answer;
    DataDirection dir;
    uint32_t length;
    bool nullData;
    bool nullCdb;
    // What Execute must return.
    TransferStatus status;
    uint8_t scsiStatus, senseKey, asc, ascq;
    OsCode osError;
    uint32_t residual;
    Reach reach;
    bool identifies;  // Identify afterwards succeeds
};

// What a rig arranged: the block to send and the bytes a data-in phase brings (all of them; a
// short transfer brings the first length - residual).
struct Arranged {
    std::array<uint8_t, kCdbSize> cdb{};
    std::vector<uint8_t> dataIn;
};

inline const std::vector<ContractCase>& ContractCases() {
    using enum Answer;
    using D = DataDirection;
    using S = TransferStatus;
    static const std::vector<ContractCase> cases = {
        {"GoodDataIn", Good, D::In, 8, false, false, S::Ok, 0, 0, 0, 0, OsCode::None, 0, Reach::Once, true},
        {"GoodDataOut", Good, D::Out, 8, false, false, S::Ok, 0, 0, 0, 0, OsCode::None, 0, Reach::Once, true},
        {"GoodNoData", Good, D::None, 0, true, false, S::Ok, 0, 0, 0, 0, OsCode::None, 0, Reach::Once, true},
        // Length 0 is no data phase, whatever the direction says.
        {"ZeroLengthInWithoutBuffer", Good, D::In, 0, true, false, S::Ok, 0, 0, 0, 0, OsCode::None, 0,
         Reach::Once, true},
        {"ShortDataIn", ShortIn, D::In, 8, false, false, S::Ok, 0, 0, 0, 0, OsCode::None, 8 - kShortMoved,
         Reach::Once, true},
        // What did not go out counts as much as what did not come in.
        {"ShortDataOut", ShortOut, D::Out, 8, false, false, S::Ok, 0, 0, 0, 0, OsCode::None, 8 - kShortMoved,
         Reach::Once, true},
        {"CheckConditionFixedSense", CheckFixed, D::In, 8, false, false, S::CheckCondition, 0x02, 0x05, 0x20,
         0x00, OsCode::None, 8, Reach::Once, true},
        {"CheckConditionDescriptorSense", CheckDescriptor, D::In, 8, false, false, S::CheckCondition, 0x02,
         0x02, 0x04, 0x02, OsCode::None, 8, Reach::Once, true},
        {"Timeout", Timeout, D::In, 8, false, false, S::Timeout, 0, 0, 0, 0, OsCode::Timeout, 8, Reach::Once,
         true},
        {"DeviceGone", Gone, D::In, 8, false, false, S::NoDevice, 0, 0, 0, 0, OsCode::Gone, 8, Reach::Either,
         false},
        {"OsError", OsFailure, D::Out, 8, false, false, S::OsError, 0, 0, 0, 0, OsCode::Failure, 8,
         Reach::Once, true},
        {"NoDirectionWithLength", Good, D::None, 8, false, false, S::OsError, 0, 0, 0, 0,
         OsCode::InvalidArgument, 8, Reach::Never, true},
        {"NullDataWithLength", Good, D::In, 8, true, false, S::OsError, 0, 0, 0, 0, OsCode::InvalidArgument,
         8, Reach::Never, true},
        {"NullCommandBlock", Good, D::None, 0, true, true, S::OsError, 0, 0, 0, 0, OsCode::InvalidArgument, 0,
         Reach::Never, true},
    };
    return cases;
}

inline const ContractCase& ContractCaseNamed(const std::string& name) {
    for (const auto& c : ContractCases())
        if (name == c.name) return c;
    throw std::invalid_argument("no contract case " + name);
}

// gtest prints a failing case by its name, not its bytes.
inline void PrintTo(const ContractCase& c, std::ostream* os) { *os << c.name; }

inline std::string ContractCaseName(const ::testing::TestParamInfo<ContractCase>& info) {
    return info.param.name;
}

template <class Rig>
void RunContractCase(const ContractCase& c) {
    Rig rig;
    auto handle = rig.Open();
    ASSERT_NE(handle, nullptr);
    std::string why;
    const std::optional<Arranged> arranged = rig.Arrange(c, why);
    if (!arranged) GTEST_SKIP() << why;

    constexpr uint8_t kUntouched = 0xEE;
    std::vector<uint8_t> buffer(c.length, kUntouched);
    if (c.dir == DataDirection::Out) {
        for (std::size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<uint8_t>(0x30 + i);
    }
    const int before = rig.Requests();
    const TransferResult r =
        handle->Execute(c.nullCdb ? nullptr : arranged->cdb.data(), c.dir,
                        c.nullData ? nullptr : buffer.data(), c.length, kPassThroughTimeoutMs);
    EXPECT_EQ(r.status, c.status) << TransferStatusText(r.status);
    EXPECT_EQ(r.scsiStatus, c.scsiStatus);
    EXPECT_EQ(r.senseKey, c.senseKey);
    EXPECT_EQ(r.asc, c.asc);
    EXPECT_EQ(r.ascq, c.ascq);
    EXPECT_EQ(r.osError, rig.OsCode(c.osError));
    EXPECT_EQ(r.residual, c.residual);
    if (c.reach != Reach::Either) {
        EXPECT_EQ(rig.Requests() - before, c.reach == Reach::Once ? 1 : 0);
    }

    if (r.ok() && c.dir == DataDirection::In && c.length > 0) {
        const std::size_t moved = c.length - r.residual;
        ASSERT_GE(arranged->dataIn.size(), moved);
        EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(moved)),
                  std::vector<uint8_t>(arranged->dataIn.begin(),
                                       arranged->dataIn.begin() + static_cast<std::ptrdiff_t>(moved)));
    }

    VolumeIdentity id;
    id.vendor = "untouched";
    const bool identified = handle->Identify(id);
    EXPECT_EQ(identified, c.identifies);
    if (identified) {
        const VolumeIdentity want = rig.Identity();
        EXPECT_EQ(id.bus, want.bus);
        EXPECT_EQ(id.vendor, want.vendor);
        EXPECT_EQ(id.product, want.product);
    } else {
        EXPECT_EQ(id.vendor, "untouched");
        EXPECT_EQ(id.product, "");
    }
}

// Handles are independent of each other and of the backend object; each closes once.
template <class Rig>
void RunHandleLifetime() {
    Rig rig;
    auto first = rig.Open();
    auto second = rig.Open();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    std::string why;
    const std::optional<Arranged> arranged = rig.Arrange(ContractCaseNamed("GoodNoData"), why);
    ASSERT_TRUE(arranged) << why;
    rig.DropBackend();

    EXPECT_TRUE(
        first->Execute(arranged->cdb.data(), DataDirection::None, nullptr, 0, kPassThroughTimeoutMs).ok());
    EXPECT_EQ(rig.Closes().value_or(0), 0);
    first.reset();
    if (rig.Closes()) {
        EXPECT_EQ(*rig.Closes(), 1);
    }
    const int before = rig.Requests();
    EXPECT_TRUE(
        second->Execute(arranged->cdb.data(), DataDirection::None, nullptr, 0, kPassThroughTimeoutMs).ok());
    EXPECT_EQ(rig.Requests() - before, 1);
    VolumeIdentity id;
    EXPECT_TRUE(second->Identify(id));
    second.reset();
    if (rig.Closes()) {
        EXPECT_EQ(*rig.Closes(), 2);
    }
}

}  // namespace brev::test

// Instantiates the contract for one rig: a test per case of the table, and the handle lifetime test.
#define BREV_BACKEND_CONTRACT_TESTS(Suite, Rig)                                                \
    class Suite : public ::testing::TestWithParam<::brev::test::ContractCase> {};              \
    TEST_P(Suite, Holds) { ::brev::test::RunContractCase<Rig>(GetParam()); }                   \
    INSTANTIATE_TEST_SUITE_P(Table, Suite, ::testing::ValuesIn(::brev::test::ContractCases()), \
                             ::brev::test::ContractCaseName);                                  \
    TEST(Suite##Lifetime, HandlesAreIndependentAndCloseOnce) { ::brev::test::RunHandleLifetime<Rig>(); }
