#pragma once

#include "LinkTrace.h"

#include <cstdio>
#include <filesystem>
#include <string>

namespace v38 {

// The link's trace as a text file for support: one line per event, the time in seconds
// to the millisecond since the first event, the event, and the bytes in hex, e.g.
//     0.105  sent  00 05 4D B2 A5
// Lines are appended (several runs may share a file), each run starting with a line
// that says what started it; every line is flushed at once, so that a program that
// hangs or dies leaves its trace complete.
class TraceFile : public LinkTrace {
public:
    // Opens `path` for appending; isOpen() tells whether that worked. `title` begins
    // the run, e.g. "v38ctl read backup.bin".
    TraceFile(const std::filesystem::path& path, const std::string& title);
    ~TraceFile() override;
    TraceFile(const TraceFile&) = delete;
    TraceFile& operator=(const TraceFile&) = delete;

    bool isOpen() const { return file_ != nullptr; }
    void note(std::uint64_t ms, std::string_view event, const std::uint8_t* bytes,
              std::size_t size) override;

private:
    std::FILE* file_ = nullptr;
    bool started_ = false;
    std::uint64_t startMs_ = 0;
};

} // namespace v38
