#include "device/windows/WindowsSystem.h"

namespace brev {

WindowsSystem WindowsSystem::Real() {
    WindowsSystem s;
    s.createFile = [](const wchar_t* path, DWORD access, DWORD share, DWORD disposition) {
        return ::CreateFileW(path, access, share, nullptr, disposition, 0, nullptr);
    };
    s.deviceIoControl = [](HANDLE h, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                           DWORD* returned) {
        return ::DeviceIoControl(h, code, in, inSize, out, outSize, returned, nullptr);
    };
    s.closeHandle = [](HANDLE h) { return ::CloseHandle(h); };
    s.getDriveType = [](const wchar_t* root) { return ::GetDriveTypeW(root); };
    s.getLogicalDrives = [] { return ::GetLogicalDrives(); };
    return s;
}

}  // namespace brev
