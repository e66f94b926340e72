#include "PortList.h"

#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sys/stat.h>

namespace v38::serial {

namespace {
bool exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

// Every ttyS node is made whether or not a UART stands behind it. Where sysfs tells,
// count only ports with a device whose serial core knows the UART type (0 = none).
bool hasSerialHardware(const std::string& name) {
    const std::string sysClass = "/sys/class/tty";
    if (!exists(sysClass))
        return true;
    const std::string node = sysClass + "/" + name;
    if (!exists(node + "/device"))
        return false;
    std::ifstream typeFile(node + "/type");
    if (!typeFile)
        return true;
    int type = 0;
    typeFile >> type;
    return typeFile && type != 0;
}

} // namespace

std::vector<std::string> presentSerialDevices() {
    std::vector<std::string> names;
    DIR* dev = ::opendir("/dev");
    if (!dev)
        return names;
    while (const dirent* entry = ::readdir(dev)) {
        const std::string name = entry->d_name;
        if (name.rfind("ttyS", 0) == 0 && !hasSerialHardware(name))
            continue;
        names.push_back(name);
    }
    ::closedir(dev);
    std::vector<std::string> paths;
    for (const std::string& name : orderSerialDevices(std::move(names)))
        paths.push_back("/dev/" + name);
    return paths;
}

std::vector<std::string> comPortDevices() {
    const char* list = std::getenv(PortListVariable);
    if (list && *list)
        return splitPortList(list);
    return presentSerialDevices();
}

std::string devicePathForPort(int port) {
    if (port < 1)
        return {};
    const std::vector<std::string> devices = comPortDevices();
    if (static_cast<std::size_t>(port) > devices.size())
        return {};
    return devices[static_cast<std::size_t>(port) - 1];
}

} // namespace v38::serial
