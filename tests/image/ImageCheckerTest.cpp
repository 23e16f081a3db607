#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "base/Bytes.h"
#include "base/Utf8Path.h"
#include "image/Crc16.h"
#include "image/ImageChecker.h"
#include "tests/support/Pattern.h"
#include "tests/support/TempDir.h"

namespace brev {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

class ImageCheckerTest : public ::testing::Test {
protected:
    fs::path Write(const std::string& name, const Bytes& bytes) {
        const fs::path path = dir_ / PathFromUtf8(name);
        test::WriteBytes(path, bytes);
        return path;
    }
    test::TempDir tmp_{"brev-image"};
    const fs::path dir_ = tmp_.path();
};

struct ImageCase {
    const char* name;
    std::function<Bytes()> build;
    int expected;
};

TEST_F(ImageCheckerTest, EveryResultCodeFromItsFixture) {
    const Bytes data = test::Pattern(1000, 1);
    const auto valid = [&] { return MakeUpdateImage(data, 256); };
    const std::vector<ImageCase> cases = {
        {"valid", valid, ImageOk},
        {"minimal header, one data byte", [] { return MakeUpdateImage(Bytes{0x5A}, 22); }, ImageOk},
        // Larger than one streaming chunk, not a multiple of it.
        {"multi-chunk data", [] { return MakeUpdateImage(test::Pattern(200 * 1024 + 5, 2), 512); }, ImageOk},
        {"multi-chunk data, last byte flipped",
         [] {
             Bytes image = MakeUpdateImage(test::Pattern(200 * 1024 + 5, 2), 512);
             image.back() ^= 0x01;
             return image;
         },
         ImageCrcMismatch},
        {"byte 5 arbitrary",
         [&] {
             Bytes image = valid();
             image[5] = 0xA7;
             return image;
         },
         ImageOk},
        {"header only", [] { return MakeUpdateImage(Bytes{}, 256); }, ImageTooSmall},
        {"header length beyond file size",
         [&] {
             Bytes image = valid();
             PutLe32(image.data() + 6, static_cast<uint32_t>(image.size() + 1));
             return image;
         },
         ImageTooSmall},
        {"21-byte file with the magic",
         [&] {
             Bytes image = valid();
             image.resize(21);
             return image;
         },
         ImageTooSmall},
        {"empty file", [] { return Bytes{}; }, ImageTooSmall},
        {"lower-case magic",
         [&] {
             Bytes image = valid();
             for (int i = 0; i < 5; ++i) {
                 image[static_cast<size_t>(i)] = static_cast<uint8_t>(image[static_cast<size_t>(i)] | 0x20);
             }
             return image;
         },
         ImageBadHeader},
        {"wrong magic and header length beyond size",
         [&] {
             Bytes image = valid();
             image[0] = 'X';
             PutLe32(image.data() + 6, 0xFFFFFFFF);
             return image;
         },
         ImageBadHeader},
        {"trailing bytes after the data",
         [&] {
             Bytes image = valid();
             image.push_back(0);
             return image;
         },
         ImageLengthMismatch},
        {"wrong length and wrong CRC",
         [&] {
             Bytes image = valid();
             PutLe32(image.data() + 16, static_cast<uint32_t>(data.size() - 1));
             image[20] ^= 0xFF;
             return image;
         },
         ImageLengthMismatch},
        {"CRC stored big-endian",
         [&] {
             Bytes image = valid();
             std::swap(image[20], image[21]);
             return image;
         },
         ImageCrcMismatch},
        {"one data byte changed",
         [&] {
             Bytes image = valid();
             image[256 + 500] ^= 0x80;
             return image;
         },
         ImageCrcMismatch},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes image = c.build();
        if (std::string(c.name) == "CRC stored big-endian") {
            ASSERT_NE(image[20], image[21]) << "fixture must have two different CRC bytes";
        }
        CImageChecker checker;
        EXPECT_EQ(checker.Check(Write("image.up", image)), c.expected);
    }
}

TEST_F(ImageCheckerTest, UnreadablePathsReportOpenFailed) {
    CImageChecker checker;
    EXPECT_EQ(checker.Check(dir_ / "missing.up"), ImageOpenFailed);
    EXPECT_EQ(checker.Check(dir_), ImageOpenFailed);
}

TEST_F(ImageCheckerTest, NonAsciiFileName) {
    CImageChecker checker;
    EXPECT_EQ(checker.Check(Write("固件_测试.up", MakeUpdateImage(test::Pattern(300, 3), 256))), ImageOk);
}

TEST_F(ImageCheckerTest, HeaderLengthAndBytesFollowTheLastHeaderRead) {
    CFormateVersion_0 fresh(dir_ / "none.up");
    EXPECT_EQ(fresh.GetHeaderLength(), 256u);
    EXPECT_EQ(fresh.GetHeaderByte10(), 0);

    Bytes image = MakeUpdateImage(test::Pattern(4096, 4), 512);
    image[10] = 0x10;
    image[11] = 0x11;
    image[12] = 0x12;
    image[13] = 0x13;
    image[14] = 0x14;
    CImageChecker checker;
    ASSERT_EQ(checker.Check(Write("ok.up", image)), ImageOk);
    const auto parser = checker.parser();
    EXPECT_EQ(parser->GetHeaderLength(), 512u);
    EXPECT_EQ(parser->GetHeaderByte10(), 0x10);
    EXPECT_EQ(parser->GetHeaderByte11(), 0x11);
    EXPECT_EQ(parser->GetHeaderByte12(), 0x12);
    EXPECT_EQ(parser->GetHeaderByte14(), 0x14);
    EXPECT_FALSE(parser->QueryFlag());

    // A failed check still reports the header it read, and uses a new parser.
    image[image.size() - 1] ^= 0xFF;
    ASSERT_EQ(checker.Check(Write("bad.up", image)), ImageCrcMismatch);
    EXPECT_NE(checker.parser(), parser);
    EXPECT_EQ(checker.parser()->GetHeaderLength(), 512u);

    // A missing file leaves the parser's last header in place.
    CFormateVersion_0 reused(dir_ / "ok.up");
    ASSERT_EQ(reused.Parse(), ImageOk);
    reused.imagePath = dir_ / "gone.up";
    EXPECT_EQ(reused.Parse(), ImageOpenFailed);
    EXPECT_EQ(reused.GetHeaderLength(), 512u);

    // A file too small to hold a header clears it.
    reused.imagePath = Write("tiny.up", Bytes(21, 0));
    EXPECT_EQ(reused.Parse(), ImageTooSmall);
    EXPECT_EQ(reused.GetHeaderLength(), 256u);
    EXPECT_EQ(reused.GetHeaderByte14(), 0);
}

// A download verifies its blocks against these: they must be the checked data's, and gone
// when a check fails.
TEST_F(ImageCheckerTest, OnlyASuccessfulCheckKeepsTheDataCrcs) {
    const Bytes data = test::Pattern(70000, 5);
    Bytes image = MakeUpdateImage(data, 300);
    CFormateVersion_0 parser(Write("ok.up", image));
    ASSERT_EQ(parser.Parse(), ImageOk);
    const auto crcs = parser.GetBlockCrcs();
    ASSERT_NE(crcs, nullptr);
    EXPECT_EQ(crcs->dataLength(), data.size());
    EXPECT_EQ(crcs->BlockCrc(0x10000, data.size() - 0x10000),
              Crc16Ccitt(data.data() + 0x10000, static_cast<int64_t>(data.size() - 0x10000)));

    image.back() ^= 1;
    parser.imagePath = Write("bad.up", image);
    EXPECT_EQ(parser.Parse(), ImageCrcMismatch);
    EXPECT_EQ(parser.GetBlockCrcs(), nullptr);
}

TEST_F(ImageCheckerTest, BaseParserAnswersNothing) {
    CForamteVersionBase base(dir_ / "x.up");
    EXPECT_EQ(base.Parse(), ImageOk);
    EXPECT_EQ(base.GetHeaderLength(), 0u);
    EXPECT_EQ(base.GetHeaderByte11(), 0);
    EXPECT_FALSE(base.QueryFlag());
}

// A file beyond 4 GiB whose size, cut to 32 bits, would match the header: the sizes must
// be compared in 64 bits. The file is sparse, so nothing large is written or read.
TEST_F(ImageCheckerTest, FileBeyondFourGiBIsNotWrappedAround) {
    const uint64_t wrappedSize = 100;
    Bytes image = MakeUpdateImage(Bytes(wrappedSize - 22, 0), 22);
    const fs::path path = Write("huge.up", image);
    std::error_code ec;
    fs::resize_file(path, (uint64_t{1} << 32) + wrappedSize, ec);
    if (ec) {
        GTEST_SKIP() << "cannot make a sparse file here: " << ec.message();
    }
    CImageChecker checker;
    EXPECT_EQ(checker.Check(path), ImageLengthMismatch);
    EXPECT_EQ(checker.parser()->GetHeaderLength(), 22u);
}

TEST(ImageErrorTableTest, HoldsExactlyCodesOneToFive) {
    std::vector<int> codes;
    for (const auto& [code, text] : ImageErrorTable()) {
        codes.push_back(code);
        EXPECT_EQ(ImageErrorText(code), text);
    }
    EXPECT_EQ(codes, (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(ImageErrorText(ImageOpenFailed), std::nullopt);
    EXPECT_EQ(ImageErrorText(ImageOk), std::nullopt);
    EXPECT_EQ(ImageErrorText(ImageCrcMismatch), "烧录数据CRC与计算结果不符");
}

TEST(MakeUpdateImageTest, LayoutOfTheBuiltHeader) {
    const Bytes data = test::Pattern(77, 5);
    const Bytes image = MakeUpdateImage(data, 64);
    ASSERT_EQ(image.size(), 64u + 77u);
    EXPECT_EQ(std::string(image.begin(), image.begin() + 5), "CONFI");
    EXPECT_EQ(image[6], 64);
    EXPECT_EQ(image[16], 77);
    const uint16_t crc = Crc16Ccitt(data.data(), 77);
    EXPECT_EQ(image[20], crc & 0xFF);
    EXPECT_EQ(image[21], crc >> 8);
    EXPECT_TRUE(std::all_of(image.begin() + 22, image.begin() + 64, [](uint8_t b) { return b == 0; }));
    EXPECT_TRUE(std::equal(data.begin(), data.end(), image.begin() + 64));
    EXPECT_EQ(MakeUpdateImage(data, 3).size(), 22u + 77u);
}

}  // namespace
}  // namespace brev
