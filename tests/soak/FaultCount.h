#pragma once

#include <map>
#include <string>

namespace v38::soak {

// The faults that the simulator injected, by kind, as its log records them
// ("[fault crc]" behind the frame it spoiled or the reply it withheld).
std::map<std::string, int> countInjectedFaults(const std::string& logPath);

} // namespace v38::soak
