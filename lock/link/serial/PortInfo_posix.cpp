// What identifies a serial device on Linux: its stable name under /dev/serial/by-id and,
// for USB converters, the vendor and product that sysfs reads from the device.
#include "PortInfo.h"
#include "PortList.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <unistd.h>

namespace v38::serial {

namespace {
std::string realPath(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

std::vector<std::string> entriesOf(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string firstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

std::string stableNameOf(const std::string& device, const std::string& real,
                         const std::string& byId) {
    if (device.rfind(byId + "/", 0) == 0)
        return device;
    for (const std::string& name : entriesOf(byId)) {
        if (realPath(byId + "/" + name) == real)
            return byId + "/" + name;
    }
    return {};
}

// The tty's device in sysfs sits below its USB interface, which sits below the USB
// device that carries idVendor and idProduct: walk up until they show.
void describeUsb(const std::string& real, const std::string& root, PortDevice& port) {
    const std::string devices = realPath(root + "/sys/devices");
    if (devices.empty())
        return;
    const std::string name = real.substr(real.rfind('/') + 1);
    std::string dir = realPath(root + "/sys/class/tty/" + name + "/device");
    while (dir.rfind(devices + "/", 0) == 0) {
        const std::string vendor = firstLine(dir + "/idVendor");
        const std::string product = firstLine(dir + "/idProduct");
        if (!vendor.empty() && !product.empty()) {
            port.usbId = vendor + ":" + product;
            const std::string maker = firstLine(dir + "/manufacturer");
            const std::string model = firstLine(dir + "/product");
            port.description = maker + (maker.empty() || model.empty() ? "" : " ") + model;
            return;
        }
        dir.erase(dir.rfind('/'));
    }
}

PortDevice describe(const std::string& device, int comNumber) {
    PortDevice port = describeDevice(device);
    port.comNumber = comNumber;
    return port;
}
} // namespace

std::vector<PortDevice> knownPorts() {
    std::vector<PortDevice> ports;
    const std::vector<std::string> devices = comPortDevices();
    std::vector<std::string> reached;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        ports.push_back(describe(devices[i], static_cast<int>(i) + 1));
        reached.push_back(realPath(devices[i]));
    }
    // A V38_PORTS list hides the devices it leaves out: no COM number reaches them.
    const char* list = std::getenv(PortListVariable);
    if (list && *list) {
        for (const std::string& device : presentSerialDevices()) {
            if (std::find(reached.begin(), reached.end(), realPath(device)) == reached.end())
                ports.push_back(describe(device, 0));
        }
    }
    return ports;
}

PortDevice describeDevice(const std::string& device, const std::string& root) {
    PortDevice port;
    port.device = device;
    const std::string real = realPath(device);
    if (real.empty())
        return port;
    port.stableName = stableNameOf(device, real, root + "/dev/serial/by-id");
    describeUsb(real, root, port);
    return port;
}

std::vector<std::string> programsHolding(const std::string& device) {
    std::vector<std::string> holders;
    const std::string real = realPath(device);
    if (real.empty())
        return holders;
    const std::string self = std::to_string(::getpid());
    for (const std::string& pid : entriesOf("/proc")) {
        if (pid == self || pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const std::string fds = "/proc/" + pid + "/fd";
        for (const std::string& fd : entriesOf(fds)) {
            char target[PATH_MAX];
            const ssize_t n = ::readlink((fds + "/" + fd).c_str(), target, sizeof target - 1);
            if (n > 0 && std::string(target, std::size_t(n)) == real) {
                holders.push_back(firstLine("/proc/" + pid + "/comm") + " (pid " + pid + ")");
                break;
            }
        }
    }
    return holders;
}

} // namespace v38::serial
