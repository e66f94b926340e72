// What identifies a serial port on Windows: the friendly name of its entry in the
// device list (class Ports), and the ports that HARDWARE\DEVICEMAP\SERIALCOMM maps,
// which also holds ports without an entry there (and Wine's mapped ports).
#include "PortInfo.h"

#include <algorithm>
#include <cstdlib>
#include <map>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <setupapi.h> // needs windows.h first

namespace v38::serial {

namespace {
// The device setup class "Ports" (COM and LPT).
const GUID PortsClass = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

std::string utf8(const wchar_t* text, int length = -1) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return {};
    std::string out(std::size_t(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), size, nullptr, nullptr);
    if (length < 0)
        out.pop_back(); // the terminator
    return out;
}

// "COM5" gives 5; anything else (an LPT port, a name of a driver's own) gives 0.
int comNumberOf(const std::string& name) {
    if (name.size() < 4 || name.size() > 6 || _strnicmp(name.c_str(), "COM", 3) != 0 ||
        name.find_first_not_of("0123456789", 3) != std::string::npos)
        return 0;
    return std::atoi(name.c_str() + 3);
}

std::string stringValue(HKEY key, const wchar_t* name) {
    wchar_t value[256] = {};
    DWORD size = sizeof value - sizeof(wchar_t);
    DWORD type = 0;
    if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return {};
    return utf8(value);
}

void addPort(std::map<int, PortDevice>& ports, int number, const std::string& description) {
    if (number <= 0)
        return;
    PortDevice& port = ports[number];
    port.comNumber = number;
    port.device = "\\\\.\\COM" + std::to_string(number);
    if (!description.empty())
        port.description = description;
}

void addDeviceList(std::map<int, PortDevice>& ports) {
    const HDEVINFO set = ::SetupDiGetClassDevsW(&PortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    for (DWORD i = 0; ::SetupDiEnumDeviceInfo(set, i, &info); ++i) {
        const HKEY key =
            ::SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE)
            continue;
        const int number = comNumberOf(stringValue(key, L"PortName"));
        ::RegCloseKey(key);
        wchar_t name[256] = {};
        DWORD type = 0;
        std::string friendly;
        if (::SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_FRIENDLYNAME, &type,
                                                reinterpret_cast<BYTE*>(name),
                                                sizeof name - sizeof(wchar_t), nullptr) &&
            type == REG_SZ)
            friendly = utf8(name);
        addPort(ports, number, friendly);
    }
    ::SetupDiDestroyDeviceInfoList(set);
}

void addSerialComm(std::map<int, PortDevice>& ports) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ,
                        &key) != ERROR_SUCCESS)
        return;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256;
        wchar_t value[64] = {};
        DWORD size = sizeof value - sizeof(wchar_t);
        DWORD type = 0;
        const LONG result = ::RegEnumValueW(key, i, name, &nameLength, nullptr, &type,
                                            reinterpret_cast<BYTE*>(value), &size);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result == ERROR_SUCCESS && type == REG_SZ)
            addPort(ports, comNumberOf(utf8(value)), {});
    }
    ::RegCloseKey(key);
}
} // namespace

std::vector<PortDevice> knownPorts() {
    std::map<int, PortDevice> ports;
    addDeviceList(ports);
    addSerialComm(ports);
    std::vector<PortDevice> list;
    for (const auto& entry : ports)
        list.push_back(entry.second);
    return list;
}

// Windows does not tell who holds a port without a kernel handle walk; the open's
// "access denied" says enough.
std::vector<std::string> programsHolding(const std::string&) {
    return {};
}

} // namespace v38::serial
