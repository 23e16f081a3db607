#include "image/ImageChecker.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <system_error>

#include "base/AtomicFile.h"
#include "base/Bytes.h"
#include "image/Crc16.h"

namespace brev {
namespace {

// The data is streamed through the CRC in chunks of this size.
constexpr size_t kCrcChunkSize = 64 * 1024;
static_assert(kCrcChunkSize % BlockCrcTable::kGranule == 0, "chunks must end on granules");

}  // namespace

const std::map<int, std::string>& ImageErrorTable() {
    static const std::map<int, std::string> table = {
        {ImageTooSmall, "文件太小了，必须是不合格式的"},     {ImageBadHeader, "文件头不符合格式要求"},
        {ImageLengthMismatch, "烧录数据长度与计算结果不符"}, {ImageCrcMismatch, "烧录数据CRC与计算结果不符"},
        {ImageUnknownVersion, "未知的表头版本格式"},
    };
    return table;
}

std::optional<std::string_view> ImageErrorText(int code) {
    const auto& table = ImageErrorTable();
    const auto it = table.find(code);
    if (it == table.end()) {
        return std::nullopt;
    }
    return std::string_view(it->second);
}

int CFormateVersion_0::Parse() {
    // Only regular files: a directory or a FIFO would open and then fail or block on read.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(imagePath, ec)) {
        return ImageOpenFailed;
    }
    std::ifstream in(imagePath, std::ios::binary);
    if (!in) {
        return ImageOpenFailed;
    }
    header_.reset();
    blockCrcs_.reset();

    in.seekg(0, std::ios::end);
    const std::streamoff end = in.tellg();
    in.seekg(0, std::ios::beg);
    if (end < 0 || !in) {
        return ImageOpenFailed;
    }
    const auto fileSize = static_cast<uint64_t>(end);
    // Refused before any field is read.
    if (fileSize < kImageFixedHeaderSize) {
        return ImageTooSmall;
    }

    std::array<uint8_t, kImageFixedHeaderSize> header{};
    if (!in.read(reinterpret_cast<char*>(header.data()), header.size())) {
        return ImageOpenFailed;
    }
    header_ = header;

    if (std::memcmp(header.data(), kImageMagic, sizeof(kImageMagic)) != 0) {
        return ImageBadHeader;
    }
    const uint64_t headerLength = GetLe32(&header[kImageHeaderLengthOffset]);
    if (headerLength >= fileSize) {
        return ImageTooSmall;
    }
    const uint64_t dataLength = fileSize - headerLength;
    if (GetLe32(&header[kImageDataLengthOffset]) != dataLength) {
        return ImageLengthMismatch;
    }

    in.seekg(static_cast<std::streamoff>(headerLength), std::ios::beg);
    std::vector<uint8_t> chunk(static_cast<size_t>(std::min<uint64_t>(dataLength, kCrcChunkSize)));
    // Granule CRCs for whatever a download can address; anything larger is only checked.
    auto table = dataLength <= UINT32_MAX ? std::make_shared<BlockCrcTable>() : nullptr;
    uint16_t crc = kCrc16CcittInit;
    uint64_t remaining = dataLength;
    while (remaining > 0) {
        const auto n = static_cast<size_t>(std::min<uint64_t>(remaining, chunk.size()));
        // A short read means the file changed or failed under us: unreadable, not a CRC fault.
        if (!in.read(reinterpret_cast<char*>(chunk.data()), static_cast<std::streamsize>(n))) {
            return ImageOpenFailed;
        }
        if (table) {
            table->Append(chunk.data(), n);
        } else {
            crc = Crc16CcittUpdate(crc, chunk.data(), n);
        }
        remaining -= n;
    }
    if (table) crc = table->DataCrc();
    if (crc != GetLe16(&header[kImageDataCrcOffset])) {
        return ImageCrcMismatch;
    }
    blockCrcs_ = std::move(table);
    return ImageOk;
}

uint32_t CFormateVersion_0::GetHeaderLength() const {
    return header_ ? GetLe32(&(*header_)[kImageHeaderLengthOffset]) : kImageDefaultHeaderLength;
}

uint8_t CFormateVersion_0::HeaderByte(size_t offset) const { return header_ ? (*header_)[offset] : 0; }

uint8_t CFormateVersion_0::GetHeaderByte10() const { return HeaderByte(10); }
uint8_t CFormateVersion_0::GetHeaderByte11() const { return HeaderByte(11); }
uint8_t CFormateVersion_0::GetHeaderByte12() const { return HeaderByte(12); }
uint8_t CFormateVersion_0::GetHeaderByte14() const { return HeaderByte(14); }

int CImageChecker::Check(const std::filesystem::path& path) {
    // Version 0 serves every file; no header byte selects another parser.
    parser_ = std::make_shared<CFormateVersion_0>(path);
    return parser_->Parse();
}

std::vector<uint8_t> MakeUpdateImage(std::span<const uint8_t> data, uint32_t headerSize) {
    if (data.size() > UINT32_MAX) {
        return {};
    }
    headerSize = std::max(headerSize, kImageFixedHeaderSize);
    std::vector<uint8_t> image(static_cast<size_t>(headerSize) + data.size(), 0);
    std::memcpy(image.data(), kImageMagic, sizeof(kImageMagic));
    PutLe32(&image[kImageHeaderLengthOffset], headerSize);
    PutLe32(&image[kImageDataLengthOffset], static_cast<uint32_t>(data.size()));
    const uint16_t crc = Crc16Ccitt(data.data(), static_cast<int64_t>(data.size()));
    PutLe16(&image[kImageDataCrcOffset], crc);
    std::copy(data.begin(), data.end(), image.begin() + headerSize);
    return image;
}

bool WriteUpdateImage(const std::filesystem::path& path, std::span<const uint8_t> data, uint32_t headerSize,
                      std::error_code* error) {
    const std::vector<uint8_t> image = MakeUpdateImage(data, headerSize);
    const std::error_code ec = image.empty() ? std::make_error_code(std::errc::file_too_large)
                                             : WriteFileAtomically(path, image.data(), image.size());
    if (error) *error = ec;
    return !ec;
}

}  // namespace brev
