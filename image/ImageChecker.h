// The update image (*.up): a header starting with "CONFI" that carries the header length,
// the data length and the CRC of the data, followed by the data that goes into flash.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "image/BlockCrcTable.h"

namespace brev {

enum ImageResult : int {
    ImageOpenFailed = -1,  // missing or unreadable file
    ImageOk = 0,
    ImageTooSmall = 1,
    ImageBadHeader = 2,
    ImageLengthMismatch = 3,
    ImageCrcMismatch = 4,
    ImageUnknownVersion = 5,
};

// Header layout (all fields little-endian).
inline constexpr char kImageMagic[5] = {'C', 'O', 'N', 'F', 'I'};
inline constexpr uint32_t kImageFixedHeaderSize = 22;
inline constexpr uint32_t kImageHeaderLengthOffset = 6;
inline constexpr uint32_t kImageDataLengthOffset = 16;
inline constexpr uint32_t kImageDataCrcOffset = 20;
// What a parser that holds no header reports as the header length.
inline constexpr uint32_t kImageDefaultHeaderLength = 256;

// Operator texts for codes 1 to 5, built on first use and read-only afterwards.
const std::map<int, std::string>& ImageErrorTable();
// The text for a code, or nothing for a code outside the table (-1, 0).
std::optional<std::string_view> ImageErrorText(int code);

class CForamteVersionBase {
public:
    explicit CForamteVersionBase(std::filesystem::path path) : imagePath(std::move(path)) {}
    virtual ~CForamteVersionBase() = default;
    CForamteVersionBase(const CForamteVersionBase&) = delete;
    CForamteVersionBase& operator=(const CForamteVersionBase&) = delete;

    // Reads and checks the file; returns an ImageResult code.
    virtual int Parse() { return ImageOk; }
    virtual uint32_t GetHeaderLength() const { return 0; }
    virtual uint8_t GetHeaderByte11() const { return 0; }
    virtual uint8_t GetHeaderByte12() const { return 0; }
    virtual uint8_t GetHeaderByte14() const { return 0; }
    virtual bool QueryFlag() const { return false; }
    virtual uint8_t GetHeaderByte10() const { return 0; }
    // Granule CRCs of the data a successful check read; empty otherwise.
    virtual std::shared_ptr<const BlockCrcTable> GetBlockCrcs() const { return nullptr; }

    std::filesystem::path imagePath;
};

// Version 0, used for every file. Reads the header and streams the data through the CRC
// in fixed-size chunks, so any file size is checked in bounded memory.
class CFormateVersion_0 : public CForamteVersionBase {
public:
    using CForamteVersionBase::CForamteVersionBase;

    int Parse() override;
    // The header's length field once a header has been read (even by a failed check), else 256.
    uint32_t GetHeaderLength() const override;
    uint8_t GetHeaderByte11() const override;
    uint8_t GetHeaderByte12() const override;
    uint8_t GetHeaderByte14() const override;
    uint8_t GetHeaderByte10() const override;
    std::shared_ptr<const BlockCrcTable> GetBlockCrcs() const override { return blockCrcs_; }

private:
    uint8_t HeaderByte(size_t offset) const;

    // The fixed header fields of the last file read; empty while none is held.
    std::optional<std::array<uint8_t, kImageFixedHeaderSize>> header_;
    std::shared_ptr<const BlockCrcTable> blockCrcs_;
};

class CImageChecker {
public:
    // Checks the file with a fresh parser, which replaces the one held before.
    int Check(const std::filesystem::path& path);
    const std::shared_ptr<CForamteVersionBase>& parser() const { return parser_; }

private:
    std::shared_ptr<CForamteVersionBase> parser_;
};

// Builds a valid image: magic, byte 5 zero, header length, data length, data CRC, the rest
// of the header zero, then the data. A header size below 22 is raised to 22. Returns an
// empty vector when the data does not fit the 32-bit length field.
std::vector<uint8_t> MakeUpdateImage(std::span<const uint8_t> data, uint32_t headerSize = 256);

// Writes MakeUpdateImage(data, headerSize) to a file, whole or not at all (an old file stays
// as it was); false when it cannot be written, with the system's reason in `error` when given.
bool WriteUpdateImage(const std::filesystem::path& path, std::span<const uint8_t> data,
                      uint32_t headerSize = 256, std::error_code* error = nullptr);

}  // namespace brev
