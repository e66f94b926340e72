#pragma once

#include "CommErr.h"
#include "ConfigImage.h"
#include "Frame.h"
#include "LineLedger.h"
#include "LinkTiming.h"
#include "Protocol.h"
#include "RS232.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

namespace v38 {

// Line settings of the lock: 9600 baud, 8N1, DTR and RTS on, 264-byte driver queues.
using timing::LockBaud;
inline constexpr std::uint8_t LockFrameFlags = 0x03;
inline constexpr std::uint8_t LockLineFlags = 0x03;
inline constexpr std::uint32_t LockQueueSize = 264;
inline constexpr std::uint32_t AllComPorts = 0xFFFF; // COM1..COM16

// What came back to one probe: up to 8 bytes.
struct ProbeAnswer {
    std::uint8_t bytes[ProbeAnswerSize] = {};
    std::uint32_t received = 0;
    bool echo = false; // the probe's own bytes came back before them
};

using Block = std::array<std::uint8_t, BlockSize>;

// How a fence ended (docs/link.md, 5).
enum class FenceOutcome {
    Clear,         // the probe's answer, and nothing before or behind it
    AfterFrames,   // the probe's answer, after whole frames that answered earlier requests
    Garbage,       // the probe's answer, after bytes that were no frame or behind it
    NoAnswer,      // no answer to the probe: nothing is proven
};

// The lock module: its serial channel, the configuration image, and the lock's
// requests over the channel, with an account of the line (the ledger) that tells
// whether every reply answered the request it was taken for.
class V38Bank {
public:
    V38Bank();
    explicit V38Bank(serial::SerialSystem& system);

    ConfigImage& image() { return image_; }
    const ConfigImage& image() const { return image_; }
    // All 512 bytes erased, then the flags byte set to DefaultFlags.
    void resetImage();

    // --- the port ---
    int portNumber() const { return port_.portNumber(); }
    void closePort() { port_.closePort(); }
    const serial::OpenFailure& openFailure() const { return port_.openFailure(); }
    // Frames, events and what the link made of them go to `trace` (none: off).
    void setTrace(LinkTrace* trace);
    // The channel itself, for the tests and the diagnosis of ports.
    RS232& channel() { return port_; }
    const RS232& channel() const { return port_; }
    const LineLedger& ledger() const { return ledger_; }

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
    // Block b (0..7): image bytes 64b..64b+63. readBlock returns the block only from a
    // reply of exactly 64 bytes and throws CommErr otherwise; writeBlock and finishWrite
    // throw CommErr on anything but ACK. Other block numbers send nothing: readBlock
    // returns an erased block.
    Block readBlock(int block);
    void writeBlock(int block, const Block& data);
    void finishWrite();

    // --- doubt and its check (docs/link.md) ---
    // Some sign, since the port was opened or the line was last proven in step, that a
    // reply may have been taken for the wrong request.
    bool doubtful() const { return ledger_.doubtful(); }
    // Sends the probe, whose answer has a shape no other answer has, and reads whole
    // frames until it comes. The lock answers in order, so every frame before it
    // answered an earlier request.
    FenceOutcome fence();
    // Between two fences, reads the eight blocks in `order` (forward 0..7 or backward
    // 7..0); `blockRead` runs after each block with the count read so far. Clean only
    // when no answer in it came too soon and its closing fence met nothing but its own
    // answer (docs/link.md, 6); one that is not clean is made once more.
    enum class Order { Forward, Backward };
    struct Reading {
        bool clean = false;
        ConfigImage image = ConfigImage::erased();
    };
    Reading readBetweenFences(Order order, const std::function<void(int)>& blockRead);
    // A write's check: the lock's image read back between fences equals `expected`.
    bool readBackMatches(const ConfigImage& expected, const std::function<void(int)>& blockRead);
    // Whether the port's converter echoes what the PC sends (found at the probe).
    bool echoes() const { return echo_; }

private:
    enum class Answer { Reply, Refused, Garbled, Unanswered };
    struct Attempt {
        Answer answer = Answer::Unanswered;
        int payloadSize = 0;       // of a reply
        std::uint64_t sentAt = 0;  // when the request began to go out
        std::uint64_t sentEnd = 0; // and when it was out
    };
    // One attempt of transact: the request out, its reply into `frame`.
    Attempt attemptExchange(const std::uint8_t* request, std::size_t requestSize, int expected,
                            int extraTime, std::uint8_t* frame);

    // How reading one frame ended, once its first `have` bytes are in.
    enum class FrameRead { Whole, BrokeOff, BadLength, Damaged };
    // Reads the rest of the frame whose first `have` (1 or 2) bytes are in `frame`, by
    // its length field; `size` is the frame's whole length once known.
    FrameRead completeFrame(std::uint8_t* frame, std::uint32_t& have, int& size);

    Reading readOnceBetweenFences(Order order, const std::function<void(int)>& blockRead);

    // Puts a request on the line; with an echoing converter, reads its echo and compares
    // it byte for byte. False when the echo was wrong or short: thrown away, recorded.
    bool sendRequest(const std::uint8_t* request, std::size_t size);
    // Reads up to `count` bytes, waiting until `deadlineUs` and at least the standard
    // allowance for them.
    std::uint32_t receiveWithin(std::uint8_t* buffer, std::uint32_t count,
                                std::uint64_t deadlineUs);
    // When the answer to a request of `requestSize` bytes sent at `sentAtUs`, with
    // `firstBytes` bytes expected first and `extraMs` to think, must have begun.
    std::uint64_t answerDeadlineUs(std::uint64_t sentAtUs, std::size_t requestSize,
                                   std::uint32_t firstBytes, int extraMs) const;
    // True when `held` bytes of an answer, all in by now, cannot all have crossed the
    // line since a request of `requestSize` bytes sent at `sentAtUs` was heard whole
    // (docs/link.md, 3).
    bool cameTooSoon(std::uint64_t sentAtUs, std::size_t requestSize, std::size_t held) const;

    void note(LineEvent event, std::string_view detail);
    // Whether the line's pace can be relied on: the system times the line and the first
    // probe on the port did not show otherwise.
    bool lineTimed() const;
    std::uint64_t now() const { return port_.system().milliseconds(); }
    std::uint64_t nowUs() const { return port_.system().microseconds(); }

    // Reads what came unasked before a request and throws it away; false when the line
    // does not go quiet.
    bool dropStaleInput();
    // Throws away `bytes` and whatever follows them until the line is quiet; false when
    // it does not go quiet.
    bool throwAway(const std::uint8_t* bytes, std::size_t size, LineEvent why,
                   std::string_view detail);
    // Reads and throws away bytes, behind those already `thrown`, until the line has been
    // quiet for a byte's standard time-out, not before `until`; false when it still talks
    // at `giveUpAt`.
    bool readUntilQuiet(std::vector<std::uint8_t> thrown, std::uint64_t until,
                        std::uint64_t giveUpAt);
    // Waits out the answers still due to attempts that went unanswered: each may come
    // as late after its own sending as the accepted answer came after the first of
    // them began to go out. False when the line does not go quiet.
    bool awaitLateAnswers(std::uint64_t firstDueSentAt, std::uint64_t lastSentEnd);

    RS232 port_;
    LineLedger ledger_;
    LineLedger::Mark portMark_ = 0; // where the open port's account begins
    bool freshPort_ = false;         // opened anew and not yet probed
    bool echo_ = false;              // its converter echoes what the PC sends
    ConfigImage image_;
};

} // namespace v38
