#include "serial/PortList.h"
#include "serial/PortInfo.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace v38::serial {
namespace {

using Names = std::vector<std::string>;

TEST(PortListTest, DevicesAreNumberedByFamilyThenInNaturalOrder) {
    const Names present = {"ttyUSB10", "ttyS1", "ttyACM0", "ttyUSB2", "ttyS10",   "console",
                           "ttyS2",    "tty0",  "ttyUSB1", "ttySAC0", "ttyACM10", "ttyACM9"};
    EXPECT_EQ(orderSerialDevices(present), (Names{"ttyS1", "ttyS2", "ttyS10", "ttyUSB1", "ttyUSB2",
                                                  "ttyUSB10", "ttyACM0", "ttyACM9", "ttyACM10"}));
    EXPECT_EQ(orderSerialDevices({"/dev/ttyUSB3", "/dev/ttyS0"}),
              (Names{"/dev/ttyS0", "/dev/ttyUSB3"}));
}

TEST(PortListTest, NaturalOrderComparesRunsOfDigitsAsNumbers) {
    EXPECT_TRUE(naturalLess("ttyS2", "ttyS10"));
    EXPECT_FALSE(naturalLess("ttyS10", "ttyS2"));
    EXPECT_TRUE(naturalLess("a9b", "a10a"));
    EXPECT_TRUE(naturalLess("a1", "a01"));  // equal values: fewer zeros first,
    EXPECT_FALSE(naturalLess("a01", "a1")); // so the order stays strict
    EXPECT_FALSE(naturalLess("x", "x"));
    EXPECT_TRUE(naturalLess("x", "x0"));
    EXPECT_TRUE(naturalLess("a99999999999999999999", "a100000000000000000000"));
}

TEST(PortListTest, AColonListKeepsThePlaceOfEmptyEntries) {
    EXPECT_EQ(splitPortList("/dev/pts/3"), (Names{"/dev/pts/3"}));
    EXPECT_EQ(splitPortList("/a:/b"), (Names{"/a", "/b"}));
    EXPECT_EQ(splitPortList("/a::/c:"), (Names{"/a", "", "/c", ""}));
}

#ifndef _WIN32
TEST(PortListTest, TheEnvironmentListNumbersThePortsFromOne) {
    const char* saved = std::getenv(PortListVariable);
    const std::string restore = saved ? saved : "";
    ::setenv(PortListVariable, "/dev/serial/by-id/lock:/tmp/second", 1);
    EXPECT_EQ(devicePathForPort(1), "/dev/serial/by-id/lock");
    EXPECT_EQ(devicePathForPort(2), "/tmp/second");
    EXPECT_EQ(devicePathForPort(3), "");
    EXPECT_EQ(devicePathForPort(0), "");
    if (saved)
        ::setenv(PortListVariable, restore.c_str(), 1);
    else
        ::unsetenv(PortListVariable);
}

// A converter as Linux shows it: the node, its by-id link, and in sysfs the tty below the
// USB interface below the USB device that has the ids and names.
TEST(PortListTest, AUsbDeviceIsKnownByItsStableNameAndItsIds) {
    namespace fs = std::filesystem;
    char pattern[] = "/tmp/v38-sysfs-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const fs::path root = pattern;
    const fs::path usb = root / "sys/devices/pci0000:00/usb1/1-2";
    const fs::path tty = usb / "1-2:1.0/ttyUSB0/tty/ttyUSB0";
    fs::create_directories(tty);
    fs::create_directories(root / "sys/class/tty/ttyUSB0");
    fs::create_symlink(tty.parent_path().parent_path(), root / "sys/class/tty/ttyUSB0/device");
    for (const auto& [name, text] : {std::pair{"idVendor", "1234"},
                                     {"idProduct", "5678"},
                                     {"manufacturer", "Example"},
                                     {"product", "RS485 Converter"}})
        std::ofstream(usb / name) << text << "\n";
    fs::create_directories(root / "dev/serial/by-id");
    std::ofstream(root / "dev/ttyUSB0").put('\0');
    const std::string stable = (root / "dev/serial/by-id/usb-Example_RS485-if00-port0").string();
    fs::create_symlink("../../ttyUSB0", stable);

    for (const std::string& device : {(root / "dev/ttyUSB0").string(), stable}) {
        const PortDevice port = describeDevice(device, root.string());
        EXPECT_EQ(port.device, device);
        EXPECT_EQ(port.stableName, stable);
        EXPECT_EQ(port.usbId, "1234:5678");
        EXPECT_EQ(port.description, "Example RS485 Converter");
    }
    fs::remove(usb / "idProduct");
    EXPECT_EQ(describeDevice(root / "dev/ttyUSB0", root.string()).usbId, "");
    fs::remove_all(root);
}
#endif

} // namespace
} // namespace v38::serial
