#pragma once

#include "LinkTrace.h"

#include "TextTable.h"

#include <cstdio>
#include <deque>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace v38 {

// Which bytes of a trace would show the service cards, found as the bytes go by: a
// 'K' frame for the block that holds them (sent, or its echo received) and any frame
// received shortly after a 'C' or 'K' request for that block. Only the cards' place in
// such frames is hidden, never a length or a CRC; where it cannot tell where a frame
// starts (a length that cannot be, a CRC that fails, a frame cut off by the next
// request), it hides every received byte until the next request.
class TraceMask {
public:
    // For the bytes of one event, in order, whether each is to be hidden. "sent" and
    // "received" (and a time-out's bytes) are the line's own; the bytes of any other
    // event are taken for a copy of bytes received just before.
    std::vector<bool> hide(std::string_view event, const std::uint8_t* bytes, std::size_t size);

private:
    struct Frame {
        enum class State { Start, Length, Body, Lost };
        State state = State::Start;
        std::size_t at = 0;     // the next byte's place in the frame
        std::size_t length = 0; // the whole frame's, once both length bytes are in
        std::uint8_t high = 0;
        std::uint8_t command = 0;
        std::uint8_t block = 0;
        std::uint16_t crc = 0;
    };
    bool hideSent(std::uint8_t byte);
    bool hideReceived(std::uint8_t byte);
    // Feeds `byte` to `frame`; false when it cannot be part of a frame.
    static bool advance(Frame& frame, std::uint8_t byte);
    static bool isCardBlock(const Frame& frame);
    bool cardsNear() const;

    Frame sent_;
    Frame received_;
    int requestsSinceCards_ = 1000; // requests sent since the last one for the cards' block
    std::deque<std::pair<std::uint8_t, bool>> history_; // received bytes, hidden or not
};

// Why a trace file was not opened, told in a language when it is said.
enum class TraceRefusal { None, Link, NotARegularFile, ForeignFile };
struct TraceFailure {
    int error = 0; // the system's errno
    TraceRefusal refusal = TraceRefusal::None;
    std::string told; // the system's reason as text, where it gives no errno (Windows)
};

// The link's trace as a text file for support: one line per event, the time in seconds
// to the millisecond since the first event, the event, and the bytes in hex, e.g.
//     0.105  sent  00 05 4D B2 A5
// Lines are appended (several runs may share a file), each run starting with a line
// that says what started it; every line is flushed at once, so that a program that
// hangs or dies leaves its trace complete. The service cards' bytes are shown as **
// unless `showCards`.
//
// The file is private: a new one is readable and writable by its owner only, and an
// existing one is appended to only when it is a regular file of the user's own, reached
// without a symbolic link at its last name.
class TraceFile : public LinkTrace {
public:
    // Opens `path` for appending; isOpen() tells whether that worked, and failure()
    // why not, in the language asked. `title` begins the run, e.g. "v38ctl read backup.bin".
    TraceFile(const std::filesystem::path& path, const std::string& title, bool showCards = false);
    ~TraceFile() override;
    TraceFile(const TraceFile&) = delete;
    TraceFile& operator=(const TraceFile&) = delete;

    bool isOpen() const { return file_ != nullptr; }
    std::string failure(TextLanguage language = TextLanguage::English) const;
    void note(std::uint64_t ms, std::string_view event, const std::uint8_t* bytes,
              std::size_t size) override;

private:
    std::FILE* file_ = nullptr;
    TraceFailure failure_;
    bool showCards_ = false;
    TraceMask mask_;
    bool started_ = false;
    std::uint64_t startMs_ = 0;
};

} // namespace v38
