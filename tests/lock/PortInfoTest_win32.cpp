// The ports of the Windows device list, with their friendly names, through SetupAPI:
// a port entered in the list for the test is found with its name and COM number.
#include "serial/PortInfo.h"

#include <gtest/gtest.h>

#include <algorithm>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <setupapi.h> // needs windows.h first

using namespace v38::serial;

namespace {
const GUID PortsClass = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// A device of class Ports that exists for as long as the object does.
class ListedPort {
public:
    ListedPort(const wchar_t* friendlyName, const wchar_t* portName) {
        set_ = ::SetupDiCreateDeviceInfoList(&PortsClass, nullptr);
        info_.cbSize = sizeof info_;
        if (!::SetupDiCreateDeviceInfoW(set_, L"ROOT\\PORTS\\3838", &PortsClass, nullptr, nullptr,
                                        0, &info_) ||
            !::SetupDiRegisterDeviceInfo(set_, &info_, 0, nullptr, nullptr, nullptr))
            return;
        registered_ = true;
        ::SetupDiSetDeviceRegistryPropertyW(set_, &info_, SPDRP_FRIENDLYNAME,
                                            reinterpret_cast<const BYTE*>(friendlyName),
                                            DWORD((wcslen(friendlyName) + 1) * sizeof(wchar_t)));
        const HKEY key = ::SetupDiCreateDevRegKeyW(set_, &info_, DICS_FLAG_GLOBAL, 0, DIREG_DEV,
                                                   nullptr, nullptr);
        if (key != INVALID_HANDLE_VALUE) {
            ::RegSetValueExW(key, L"PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>(portName),
                             DWORD((wcslen(portName) + 1) * sizeof(wchar_t)));
            ::RegCloseKey(key);
        }
    }
    ~ListedPort() {
        if (registered_)
            ::SetupDiRemoveDevice(set_, &info_);
        ::SetupDiDestroyDeviceInfoList(set_);
    }
    bool registered() const { return registered_; }

private:
    HDEVINFO set_;
    SP_DEVINFO_DATA info_{};
    bool registered_ = false;
};

TEST(PortInfo, FindsTheFriendlyNameOfAListedPortBeyondCom16) {
    const ListedPort port(L"USB Serial Port (COM27)", L"COM27");
    if (!port.registered())
        GTEST_SKIP() << "the device list takes no entry from this user";
    const std::vector<PortDevice> ports = knownPorts();
    const auto found = std::find_if(ports.begin(), ports.end(),
                                    [](const PortDevice& p) { return p.comNumber == 27; });
    ASSERT_NE(found, ports.end());
    EXPECT_EQ(found->device, "\\\\.\\COM27");
    EXPECT_EQ(found->description, "USB Serial Port (COM27)");
    EXPECT_TRUE(
        std::is_sorted(ports.begin(), ports.end(), [](const PortDevice& a, const PortDevice& b) {
            return a.comNumber < b.comNumber;
        }));
}

} // namespace
