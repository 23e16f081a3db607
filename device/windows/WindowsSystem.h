// The Win32 calls the Windows backend makes, gathered in one seam so tests can check the
// request bytes and script the answers without a device.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// clang-format off
#include <windows.h>
// These need <windows.h> first.
#include <dbt.h>
#include <ntddscsi.h>
#include <winioctl.h>
// clang-format on

#include <functional>
#include <string>

namespace brev {

struct WindowsSystem {
    // Same contracts as the Win32 functions: failures leave their code for GetLastError().
    std::function<HANDLE(const wchar_t* path, DWORD access, DWORD share, DWORD disposition)> createFile;
    std::function<BOOL(HANDLE h, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                       DWORD* returned)>
        deviceIoControl;
    std::function<BOOL(HANDLE h)> closeHandle;
    std::function<UINT(const wchar_t* root)> getDriveType;
    std::function<DWORD()> getLogicalDrives;
    // The location path of the USB device the open volume sits on
    // ("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)#USB(3)"); empty when it sits on none or the
    // system cannot tell.
    std::function<std::string(HANDLE volume)> usbLocationPath;

    // The real calls.
    static WindowsSystem Real();
};

}  // namespace brev
