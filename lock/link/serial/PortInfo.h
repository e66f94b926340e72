#pragma once

#include <string>
#include <vector>

namespace v38::serial {

// A serial port the system knows of and what identifies it.
struct PortDevice {
    int comNumber = 0;      // 0: a port no COM number reaches
    std::string device;     // the device path on POSIX, \\.\COMn on Windows
    std::string stableName; // POSIX: its name under /dev/serial/by-id
    std::string usbId;      // POSIX: vendor:product, four hex digits each, on USB
    std::string
        description; // Windows: the device list's friendly name; POSIX: USB maker and product
};

// Every serial port that is present or mapped, ordered by COM number, those without
// one last. On POSIX COM1, COM2, ... follow comPortDevices() (V38_PORTS included);
// on Windows the device list and HARDWARE\DEVICEMAP\SERIALCOMM are merged.
std::vector<PortDevice> knownPorts();

#ifndef _WIN32
// What identifies one device. `root` is put before /dev/serial/by-id and /sys: empty
// for the system itself, a folder that mimics them in tests.
PortDevice describeDevice(const std::string& device, const std::string& root = {});
#endif

// The programs that hold the device open, as "name (pid N)"; empty where the system
// does not tell (Windows) or lets us see nobody else's files.
std::vector<std::string> programsHolding(const std::string& device);

} // namespace v38::serial
