// A scripted stand-in for the Win32 calls of the Windows backend: it records what the backend
// sends and answers with what the test sets up.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "device/windows/WindowsSystem.h"

namespace brev::test {

inline const HANDLE kFakeHandle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x1234));

struct FakeWindows {
    // GetLogicalDrives / GetDriveTypeW
    DWORD drives = 0;
    UINT driveType = DRIVE_REMOVABLE;
    std::vector<std::wstring> driveTypeRoots;

    // CreateFileW / CloseHandle
    DWORD openError = 0;  // nonzero: CreateFileW fails with it
    std::wstring openedPath;
    DWORD access = 0, share = 0, disposition = 0;
    int opens = 0, closes = 0;

    // IOCTL_STORAGE_QUERY_PROPERTY
    std::vector<uint8_t> descriptor;  // copied into the answer buffer
    bool identifyFails = false;
    std::vector<uint8_t> query, answerOnEntry;
    // The same control code for the adapter descriptor: its answer (empty: the call fails).
    std::vector<uint8_t> adapter;
    int adapterQueries = 0;

    // IOCTL_SCSI_PASS_THROUGH_DIRECT
    DWORD ioError = 0;  // nonzero: the call fails with it
    UCHAR scsiStatus = 0;
    std::vector<uint8_t> sense;
    // When set: the bytes a data-in phase brings, and DataTransferLength comes back as the count
    // moved (at most what was asked). Unset: the block's length is left as sent.
    std::optional<std::vector<uint8_t>> moved;
    std::vector<uint8_t> request;  // the block as it was sent
    bool sameBuffer = false;
    int passThroughCalls = 0;

    std::vector<DWORD> codes;  // every control code, in order

    WindowsSystem System() {
        WindowsSystem s;
        s.getLogicalDrives = [this] { return drives; };
        s.getDriveType = [this](const wchar_t* root) {
            driveTypeRoots.emplace_back(root);
            return driveType;
        };
        s.createFile = [this](const wchar_t* path, DWORD a, DWORD sh, DWORD d) {
            openedPath = path;
            access = a;
            share = sh;
            disposition = d;
            if (openError != 0) {
                ::SetLastError(openError);
                return INVALID_HANDLE_VALUE;
            }
            ++opens;
            return kFakeHandle;
        };
        s.closeHandle = [this](HANDLE h) {
            if (h == kFakeHandle) ++closes;
            return TRUE;
        };
        s.deviceIoControl = [this](HANDLE h, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                                   DWORD* returned) -> BOOL {
            codes.push_back(code);
            if (h != kFakeHandle) {
                ::SetLastError(ERROR_INVALID_HANDLE);
                return FALSE;
            }
            const auto* inBytes = static_cast<const uint8_t*>(in);
            auto* outBytes = static_cast<uint8_t*>(out);
            if (code == 0x2D1400 && inSize >= 4 && inBytes[0] == 1) {  // StorageAdapterProperty
                ++adapterQueries;
                if (adapter.empty()) {
                    ::SetLastError(ERROR_INVALID_FUNCTION);
                    return FALSE;
                }
                const std::size_t n = std::min<std::size_t>(outSize, adapter.size());
                std::memcpy(out, adapter.data(), n);
                *returned = static_cast<DWORD>(n);
                return TRUE;
            }
            if (code == 0x2D1400) {
                query.assign(inBytes, inBytes + inSize);
                answerOnEntry.assign(outBytes, outBytes + outSize);
                if (identifyFails) {
                    ::SetLastError(ERROR_INVALID_FUNCTION);
                    return FALSE;
                }
                std::memcpy(out, descriptor.data(), std::min<std::size_t>(outSize, descriptor.size()));
                *returned = static_cast<DWORD>(std::min<std::size_t>(outSize, descriptor.size()));
                return TRUE;
            }
            ++passThroughCalls;
            request.assign(inBytes, inBytes + inSize);
            sameBuffer = in == out && inSize == outSize;
            if (ioError != 0) {
                ::SetLastError(ioError);
                return FALSE;
            }
            outBytes[2] = scsiStatus;  // ScsiStatus
            uint32_t senseOffset = 0;
            std::memcpy(&senseOffset, outBytes + (sizeof(void*) == 8 ? 32 : 24), 4);
            if (!sense.empty()) std::memcpy(outBytes + senseOffset, sense.data(), sense.size());
            if (moved) {
                SCSI_PASS_THROUGH_DIRECT sptd;
                std::memcpy(&sptd, outBytes, sizeof sptd);
                const auto n =
                    static_cast<ULONG>(std::min<std::size_t>(moved->size(), sptd.DataTransferLength));
                if (sptd.DataIn == SCSI_IOCTL_DATA_IN && n > 0)
                    std::memcpy(sptd.DataBuffer, moved->data(), n);
                sptd.DataTransferLength = n;
                std::memcpy(outBytes, &sptd, sizeof sptd);
            }
            *returned = outSize;
            return TRUE;
        };
        return s;
    }
};

// A 551-byte device descriptor answer: bus type and the two strings at the given offsets
// (offset 0 writes no string).
inline std::vector<uint8_t> Descriptor(uint32_t bus, uint32_t vendorOffset, const std::string& vendor,
                                       uint32_t productOffset, const std::string& product) {
    std::vector<uint8_t> d(551, 0);
    auto put32 = [&](std::size_t at, uint32_t v) { std::memcpy(d.data() + at, &v, 4); };
    put32(0, 1);    // Version
    put32(4, 551);  // Size
    put32(12, vendorOffset);
    put32(16, productOffset);
    put32(28, bus);
    auto putText = [&](uint32_t at, const std::string& text) {
        if (at == 0 || at >= d.size()) return;
        std::memcpy(d.data() + at, text.data(), std::min<std::size_t>(text.size(), d.size() - at));
    };
    putText(vendorOffset, vendor);
    putText(productOffset, product);
    return d;
}

// An adapter descriptor answer (STORAGE_ADAPTER_DESCRIPTOR, 32 bytes) with the two limits.
inline std::vector<uint8_t> AdapterDescriptor(uint32_t maxTransferLength, uint32_t maxPhysicalPages) {
    std::vector<uint8_t> d(32, 0);
    auto put32 = [&](std::size_t at, uint32_t v) { std::memcpy(d.data() + at, &v, 4); };
    put32(0, 1);   // Version
    put32(4, 32);  // Size
    put32(8, maxTransferLength);
    put32(12, maxPhysicalPages);
    return d;
}

}  // namespace brev::test
