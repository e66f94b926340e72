#include "FaultCount.h"

#include <fstream>

namespace v38::soak {

namespace {
const std::string Mark = "[fault ";
}

std::map<std::string, int> countInjectedFaults(const std::string& logPath) {
    std::map<std::string, int> counts;
    std::ifstream log(logPath);
    std::string line;
    while (std::getline(log, line)) {
        const std::size_t at = line.find(Mark);
        if (at == std::string::npos)
            continue;
        const std::size_t start = at + Mark.size();
        const std::size_t end = line.find_first_of(",]", start);
        if (end != std::string::npos)
            ++counts[line.substr(start, end - start)];
    }
    return counts;
}

bool FaultWatch::faultSinceLastLook() {
    std::ifstream log(path_);
    log.seekg(offset_);
    bool fault = false;
    std::string line;
    // Only whole lines: the simulator may be writing the last one.
    while (std::getline(log, line) && !log.eof()) {
        offset_ += static_cast<long long>(line.size()) + 1;
        fault = fault || line.find(Mark) != std::string::npos;
    }
    return fault;
}

} // namespace v38::soak
