#pragma once

#include <map>
#include <string>
#include <utility>

namespace v38::soak {

// The faults that the simulator injected, by kind, as its log records them
// ("[fault crc]" behind the frame it spoiled or the reply it withheld).
std::map<std::string, int> countInjectedFaults(const std::string& logPath);

// Follows the log as it grows: whether the simulator injected a fault of any kind in
// the lines written since the last call.
class FaultWatch {
public:
    explicit FaultWatch(std::string logPath) : path_(std::move(logPath)) {}
    bool faultSinceLastLook();

private:
    std::string path_;
    long long offset_ = 0; // the start of the first line not yet looked at
};

} // namespace v38::soak
