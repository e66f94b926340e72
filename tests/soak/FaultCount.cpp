#include "FaultCount.h"

#include <fstream>

namespace v38::soak {

std::map<std::string, int> countInjectedFaults(const std::string& logPath) {
    static const std::string Mark = "[fault ";
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

} // namespace v38::soak
