#include "device/windows/WindowsSystem.h"

// clang-format off
#include <setupapi.h>
#include <cfgmgr32.h>
// clang-format on

#include <cwchar>
#include <vector>

#include "device/windows/StorageDescriptor.h"

namespace brev {

namespace {

// GUID_DEVINTERFACE_DISK, spelled out so no GUID library has to define it.
constexpr GUID kDiskInterface = {
    0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};

bool DeviceNumberOf(HANDLE h, STORAGE_DEVICE_NUMBER& number) {
    DWORD returned = 0;
    return ::DeviceIoControl(h, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof number,
                             &returned, nullptr) != FALSE;
}

// The disk's device node: the disk interface whose device number is the volume's.
bool DiskNodeOf(const STORAGE_DEVICE_NUMBER& volume, DEVINST& node) {
    HDEVINFO set =
        ::SetupDiGetClassDevsW(&kDiskInterface, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return false;
    bool found = false;
    SP_DEVICE_INTERFACE_DATA item{};
    item.cbSize = sizeof item;
    for (DWORD i = 0; !found && ::SetupDiEnumDeviceInterfaces(set, nullptr, &kDiskInterface, i, &item); ++i) {
        DWORD size = 0;
        ::SetupDiGetDeviceInterfaceDetailW(set, &item, nullptr, 0, &size, nullptr);
        if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) continue;
        std::vector<uint8_t> buffer(size);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        SP_DEVINFO_DATA info{};
        info.cbSize = sizeof info;
        if (!::SetupDiGetDeviceInterfaceDetailW(set, &item, detail, size, nullptr, &info)) continue;
        // No access asked: enough for the device number, and no other program is disturbed.
        HANDLE disk = ::CreateFileW(detail->DevicePath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        if (disk == INVALID_HANDLE_VALUE) continue;
        STORAGE_DEVICE_NUMBER number{};
        if (DeviceNumberOf(disk, number) && number.DeviceType == volume.DeviceType &&
            number.DeviceNumber == volume.DeviceNumber) {
            node = info.DevInst;
            found = true;
        }
        ::CloseHandle(disk);
    }
    ::SetupDiDestroyDeviceInfoList(set);
    return found;
}

// Above the disk (USBSTOR\...) the first node enumerated by USB that is a whole device, not one
// interface of a composite device (USB\VID_...&PID_...&MI_00).
std::string UsbLocationPath(HANDLE volume) {
    STORAGE_DEVICE_NUMBER number{};
    DEVINST node = 0;
    if (!DeviceNumberOf(volume, number) || !DiskNodeOf(number, node)) return {};
    DEVINST parent = 0;
    while (::CM_Get_Parent(&parent, node, 0) == CR_SUCCESS) {
        node = parent;
        wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
        if (::CM_Get_Device_IDW(node, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) return {};
        const bool usb = ::_wcsnicmp(id, L"USB\\", 4) == 0;
        if (!usb || std::wcsstr(id, L"&MI_") != nullptr) continue;
        ULONG size = 0;
        ULONG type = 0;
        ::CM_Get_DevNode_Registry_PropertyW(node, CM_DRP_LOCATION_PATHS, &type, nullptr, &size, 0);
        if (size == 0) return {};
        std::vector<wchar_t> paths(size / sizeof(wchar_t) + 1, L'\0');
        if (::CM_Get_DevNode_Registry_PropertyW(node, CM_DRP_LOCATION_PATHS, &type, paths.data(), &size, 0) !=
            CR_SUCCESS)
            return {};
        return FirstMultiString(paths.data(), paths.size());
    }
    return {};
}

}  // namespace

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
    s.usbLocationPath = UsbLocationPath;
    return s;
}

}  // namespace brev
