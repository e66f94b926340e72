#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace v38::soak {

struct SoakOptions {
    int transfers = 1000;   // at most this many transfers
    int seconds = 600;      // and no new transfer after this long
    std::uint32_t seed = 1; // drives the transfers, the images and the simulator's faults
    int faultPercent = 8;   // chance of a fault on each request
    int slowMs = 1500;      // how late a slow reply comes
    std::string faultKinds = "silence,nak,crc,length,truncate,slow,lag,chatter";
    std::string lag;       // the simulator's --lag: every request late (MS or MIN-MAX)
    int baud = 0;          // the line speed the simulator emulates; 0: none
    int stallPercent = 1;  // chance of a stall of the client before each serial call
    int stallMs = 500;     // how long a stall lasts at most
    int replayPercent = 0; // the simulator's --replay
    bool halfDuplex = false;
    std::string think; // the simulator's --think
    int rxBatchMs = 0;
    bool chunks = false;
    bool echo = false;
    std::string simulator; // the v38-lock-sim program
    bool help = false;
};

// The arguments after the program name; nullopt and a message on a bad one.
std::optional<SoakOptions> parseSoakOptions(const std::vector<std::string>& args,
                                            std::string& error);

std::string soakUsage();

} // namespace v38::soak
