#pragma once

#include "FaultPlan.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace v38::sim {

struct SimOptions {
    std::string imagePath; // empty: the image lives in memory only
    std::string linkPath;  // empty: no link
    int baud = 9600;       // 0: no line delays
    int latencyMs = 3;     // from the end of a request to the start of its reply
    int slowMs = 1500;     // from the end of a request to the start of a slow reply
    // A late lock when lagMinMs >= 0: every request is taken in and answered from
    // lagMinMs to lagMaxMs late, drawn for each request.
    int lagMinMs = -1;
    int lagMaxMs = -1;
    // A lock that thinks for a time drawn for each request instead of --latency: from
    // thinkMinMs to thinkMaxMs, or (thinkToAllowance) up to what the client allows it.
    int thinkMinMs = -1;
    int thinkMaxMs = -1;
    bool thinkToAllowance = false;
    int replayPercent = 0; // another device resending the lock's earlier frames
    bool halfDuplex = false;
    int rxBatchMs = 0; // a converter's latency timer
    bool chunks = false;
    bool echo = false;
    std::vector<FaultRule> faults;
    std::optional<RandomFaults> randomFaults;
    std::uint32_t seed = 1;
    bool log = false;
    bool exitWithStdin = false;
    bool help = false;
};

// The arguments after the program name. On a bad argument: nullopt and a message.
std::optional<SimOptions> parseSimOptions(const std::vector<std::string>& args, std::string& error);

std::string simUsage();

} // namespace v38::sim
