#pragma once

#include "CommErr.h"
#include "ConfigImage.h"
#include "Frame.h"
#include "Protocol.h"
#include "RS232.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

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

    // --- doubt and its check ---
    // A frame says nothing of the request it answers. Once an attempt has gone
    // unanswered, bytes came that no request asked for and were thrown away, or an
    // answer began before its request could have crossed the line, a reply may have
    // been paired with the wrong request: the transfer is doubtful from then on, until a
    // check's clean read-back or the next search opening a port anew, and is done only
    // once the check has confirmed it.
    bool doubtful() const { return doubtful_; }
    // Proves the line clear: sends the probe, whose answer has a shape no other answer
    // has, and reads whole frames until it comes. The lock answers in order, so every
    // frame before it answered an earlier request. False when it does not come.
    bool fence();
    // Between two fences, reads the eight blocks back and compares them with `expected`;
    // `blockRead` runs after each block. A read-back in which an answer came early, or
    // whose closing fence met other frames or failed, is made once more. The image
    // holds `expected` afterwards.
    bool readBackMatches(const ConfigImage& expected, const std::function<void(int)>& blockRead);

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

    enum class ReadBack { Same, Different, Doubtful, Failed };
    ReadBack readBackOnce(const ConfigImage& expected,
                          const std::function<void(int)>& blockRead);

    void doubt(std::string_view why);
    // Doubt from an answer that began before its request could have been heard whole.
    void doubtEarly(std::string_view why) {
        doubt(why);
        ++earlyAnswers_;
    }
    // Reads what came unasked before a request and throws it away; false when the line
    // does not go quiet.
    bool dropStaleInput();
    // Throws away `bytes` and whatever follows them until the line is quiet; false when
    // it does not go quiet.
    bool throwAway(const std::uint8_t* bytes, std::size_t size, std::string_view why);
    // Reads and throws away bytes, behind those already `thrown`, until the line has been
    // quiet for a byte's standard time-out, not before `until`; false when it still talks
    // at `giveUpAt`.
    bool readUntilQuiet(std::vector<std::uint8_t> thrown, std::uint64_t until,
                        std::uint64_t giveUpAt);
    // Waits out the answers still due to attempts that went unanswered: each may come
    // as late after its own sending as the accepted answer came after the first of
    // them began to go out. False when the line does not go quiet.
    bool awaitLateAnswers(std::uint64_t firstDueSentAt, std::uint64_t lastSentEnd);

    bool doubtful_ = false;
    // Answers that began before their request could have been heard whole: maybe no
    // answers at all, and their requests maybe never heard.
    int earlyAnswers_ = 0;
};

} // namespace v38
