#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace v38::serial {

// How COM numbers map to devices on POSIX: COM1, COM2, ... are the entries of the
// colon-separated V38_PORTS list when it is set and not empty, otherwise the serial
// devices present, in the order /dev/ttyS* (real hardware only), /dev/ttyUSB*,
// /dev/ttyACM*, natural order within each family.
inline constexpr const char* PortListVariable = "V38_PORTS";

// Splits a colon-separated list; an empty entry keeps its place (that COM number has
// no device), so the numbers of the entries after it do not shift.
std::vector<std::string> splitPortList(std::string_view list);

// Orders device names as COM numbers are given: by family (ttyS, ttyUSB, ttyACM),
// then naturally (ttyUSB2 before ttyUSB10). Names of other families are dropped.
std::vector<std::string> orderSerialDevices(std::vector<std::string> names);

// True when a sorts before b with runs of digits compared as numbers.
bool naturalLess(std::string_view a, std::string_view b);

#ifndef _WIN32
// The serial devices present, in COM-number order, whatever V38_PORTS says.
std::vector<std::string> presentSerialDevices();
// The device paths standing for COM1, COM2, ... right now.
std::vector<std::string> comPortDevices();
// The device of COM<port>, or an empty string when there is none.
std::string devicePathForPort(int port);
#endif

} // namespace v38::serial
