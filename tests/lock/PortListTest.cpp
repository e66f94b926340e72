#include "serial/PortList.h"

#include <gtest/gtest.h>

#include <cstdlib>

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
#endif

} // namespace
} // namespace v38::serial
