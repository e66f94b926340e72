#pragma once

#include "CommErr.h"
#include "ConfigImage.h"
#include "Frame.h"
#include "Protocol.h"
#include "RS232.h"

#include <cstddef>
#include <cstdint>

namespace v38 {

// Line settings of the lock: 9600 baud, 8N1, DTR and RTS on, 264-byte driver queues.
inline constexpr std::int32_t LockBaud = 9600;
inline constexpr std::uint8_t LockFrameFlags = 0x03;
inline constexpr std::uint8_t LockLineFlags = 0x03;
inline constexpr std::uint32_t LockQueueSize = 264;
inline constexpr std::uint32_t AllComPorts = 0xFFFF; // COM1..COM16

// What came back to one probe: up to 8 bytes.
struct ProbeAnswer {
    std::uint8_t bytes[ProbeAnswerSize] = {};
    std::uint32_t received = 0;
};

// The lock module: the serial port (its RS232 base) and the configuration image,
// with the data operations on entries and cards and the lock's commands.
class V38Bank : public RS232 {
public:
    V38Bank();
    explicit V38Bank(serial::SerialSystem& system);

    ConfigImage image;

    // --- data side ---
    // All 512 bytes erased, then the flags byte set to DefaultFlags.
    void resetImage();
    // Copies the 20 raw bytes of card 1 (even k) or card 2 (odd k) to out.
    void getServiceCard(int k, std::uint8_t out[20]) const;
    // Decodes entry i into a position (0 = inactive) and a zero-terminated text of at
    // most 7 characters; for i outside 0..99 both outputs are left untouched.
    void getEntry(int i, int& position, char text[8]) const;
    // Encodes and stores entry i: 0 stored, 1 index or position out of range,
    // 2 a character outside the prefix alphabet (1 and 2 store nothing).
    int setEntry(int i, int position, const char* text);

    // --- frames ---
    // Sends a request of `length` payload bytes and returns the reply's payload length
    // once its length and CRC are right, copying up to `expected` payload bytes to
    // `reply` (written only on success, never beyond what the lock sent). A NAK is
    // asked again unless `expected` is 1. Three attempts; then CommErr. `length`
    // outside 1..128: 0, nothing sent.
    int transact(int length, const std::uint8_t* payload, int expected, std::uint8_t* reply,
                 int extraTime);
    // A request whose only good answer is ACK; anything else throws CommErr.
    void command(int length, const std::uint8_t* payload, int extraTime);

    // --- lock commands and discovery ---
    // Makes COM<port> the open port with the lock's line settings and lets it settle;
    // the port already open is used as it is.
    bool selectPort(int port);
    // One 'M' request on the open port; true on the lock's whole 8-byte answer.
    bool probe();
    // The same, keeping what came back, so that a diagnosis can show it.
    bool probe(ProbeAnswer& answer);
    // Tries the ports of the mask (bit k = COM k+1) in ascending order; the first one
    // whose lock answers stays open.
    bool findLock(std::uint32_t mask);
    // Block b (0..7) is image bytes 64b..64b+63; other numbers send nothing. readBlock
    // replaces the block only with a reply of exactly 64 bytes and throws CommErr
    // otherwise; writeBlock and finishWrite throw CommErr on anything but ACK.
    void readBlock(int block);
    void writeBlock(int block);
    void finishWrite();

private:
    // What one attempt allows from the start of sending a request of `requestSize`
    // bytes to the end of the wait for `replyBytes` of its answer.
    std::uint32_t exchangeAllowance(std::size_t requestSize, std::uint32_t replyBytes,
                                    int extraTime) const;
    // Reads and drops bytes until the line has been quiet for `quietMs`, once for each
    // answer still due; false when it does not go quiet within the time of that many
    // frames. The standard time-outs hold afterwards.
    bool drainLateAnswers(std::uint32_t quietMs, int answersDue);
};

} // namespace v38
