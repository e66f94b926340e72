// The frame receiver fed arbitrary replies through the scripted serial double: one of
// transact, command, probe, readBlock, writeBlock or finishWrite against a far end
// whose every answer, its timing and the port's faults come from the input.
//
// Input: 5 header bytes, then bursts. Header: operation, its argument, the request
// length, the extra time, port faults. Each burst: a count, a control byte (bits 0-5:
// delay in 8 ms steps after the request; bit 6: wrap the bytes into a frame with the
// right length and CRC; bit 7: last burst of this reply), then the bytes.
#include "FuzzCheck.h"
#include "LinkTiming.h"

#include "V38Bank.h"
#include "crc16.h"
#include "serial/ScriptedSerial.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

using namespace v38;
using v38::fuzz::check;

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int LockPort = 1;
constexpr std::uint32_t CharTimeMs = timing::charTimeMs(timing::LockBaud);
constexpr std::uint32_t ConstantMs = timing::TimeoutConstantMs;

enum class Operation { Transact, Command, Probe, ReadBlock, WriteBlock, FinishWrite, Count };

// Built here from crc16 alone, independently of the frame code under test.
Bytes frameAround(const Bytes& payload) {
    const std::size_t size = payload.size() + 4;
    Bytes frame(size);
    frame[0] = std::uint8_t(size >> 8);
    frame[1] = std::uint8_t(size & 0xFF);
    std::copy(payload.begin(), payload.end(), frame.begin() + 2);
    const std::uint16_t crc = crc16(frame.data(), size - 2, Crc16Init);
    frame[size - 2] = std::uint8_t(crc & 0xFF);
    frame[size - 1] = std::uint8_t(crc >> 8);
    return frame;
}

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return pos_ >= size_; }
    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    Bytes bytes(std::size_t count) {
        count = std::min(count, size_ - std::min(pos_, size_));
        Bytes out(data_ + pos_, data_ + pos_ + count);
        pos_ += count;
        return out;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// Reads the far end's replies from the input into the port's script.
void scriptReplies(Input& input, serial::PortScript& script) {
    serial::Reaction reaction;
    while (!input.empty()) {
        const std::size_t count = input.byte();
        const std::uint8_t control = input.byte();
        Bytes bytes = input.bytes(count);
        if (control & 0x40)
            bytes = frameAround(bytes);
        reaction.push_back({std::uint64_t(control & 0x3F) * 8, std::move(bytes)});
        if (control & 0x80) {
            script.react(std::move(reaction));
            reaction.clear();
        }
    }
    if (!reaction.empty())
        script.react(std::move(reaction));
}

// Every byte the receiver took from the line, in the order it took them. Bursts of
// different delays interleave on the line, so this is not the script's order.
Bytes bytesTaken(const serial::ScriptedSerial& line) {
    Bytes taken;
    for (const serial::ReadRecord& read : line.reads())
        taken.insert(taken.end(), read.bytes.begin(), read.bytes.end());
    return taken;
}

// True when `stream` holds a whole frame of `payloadSize` payload bytes whose payload
// starts with `start`: whatever the receiver accepts must be a frame it took whole.
bool holdsFrame(const Bytes& stream, std::size_t payloadSize, const std::uint8_t* start,
                std::size_t startSize, bool nakAllowed = true) {
    const std::size_t size = payloadSize + 4;
    for (std::size_t p = 0; p + size <= stream.size(); ++p) {
        const std::uint8_t* frame = stream.data() + p;
        if (std::size_t(frame[0] * 256 + frame[1]) != size || crc16(frame, size, Crc16Init) != 0)
            continue;
        if (!nakAllowed && payloadSize == 1 && frame[2] == NAK)
            continue;
        if (std::equal(start, start + startSize, frame + 2))
            return true;
    }
    return false;
}

bool holdsAck(const Bytes& stream) {
    const std::uint8_t ack = ACK;
    return holdsFrame(stream, 1, &ack, 1);
}

bool holdsProbeAnswer(const Bytes& stream) {
    const std::uint8_t start[] = {0x00, 0xE8};
    return holdsFrame(stream, 4, start, sizeof start);
}

// Reading until the line is quiet gives up after the time of four whole frames, and a
// byte's standard allowance may pass before it notices.
std::uint64_t quietBound() {
    return timing::babbleMs(CharTimeMs) + CharTimeMs + ConstantMs;
}

// The most time one exchange may take on the virtual clock: three attempts, each with
// stale input read until quiet, a header read and the rest of a started header, a body
// read and a damaged answer read until quiet (writes take no virtual time); then, after
// attempts that gave up waiting, the wait for their late answers: at most 2 s from the
// last request on, and the time to read the line quiet behind it.
std::uint64_t exchangeBound(int extraTime) {
    const std::uint64_t header =
        2 * CharTimeMs + ConstantMs + std::uint64_t(extraTime) + timing::LatencyMarginMs;
    const std::uint64_t rest = CharTimeMs + ConstantMs + (MaxFrame - 2) * CharTimeMs + ConstantMs;
    const std::uint64_t lateAnswers = timing::MaxLateMs + ConstantMs + quietBound();
    return timing::Attempts * (quietBound() + header + rest + quietBound()) + lateAnswers;
}

struct Run {
    bool threw = false;
    int result = -1;
    Bytes request; // the frame that every write must carry; empty: nothing may be sent
    int extraTime = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input input(data, size);
    const auto operation = Operation(input.byte() % int(Operation::Count));
    const std::uint8_t argument = input.byte();
    const int requestLength = input.byte() % (MaxPayload + 3); // 0..130: both bad ends too
    const int extraTime = input.byte() * 2;
    const std::uint8_t faults = input.byte();

    serial::ScriptedSerial line;
    serial::PortScript& script = line.port(LockPort);
    // Counted from the open, which itself sets the time-outs once.
    script.failingTimeoutsCall = (faults & 0x07) ? (faults & 0x07) + 1 : 0;
    script.shortWriteCall = (faults >> 3) & 0x03;
    const bool portOpen = !(faults & 0x20);
    scriptReplies(input, script);

    V38Bank bank(line);
    for (std::size_t i = 0; i < ConfigImage::Size; ++i)
        bank.image()[i] = std::uint8_t(i * 37 + 11);
    if (portOpen)
        check(bank.channel().openPort(LockPort, LockBaud, LockFrameFlags, LockLineFlags, LockQueueSize,
                            LockQueueSize),
              "the scripted port opens");
    const ConfigImage before = bank.image();
    const std::uint64_t started = line.now();
    const std::size_t traceStart = line.trace().size();

    // The reply buffer of transact with guard bytes on both sides.
    constexpr std::size_t Guard = 16;
    std::array<std::uint8_t, Guard + MaxPayload + Guard> replyBuffer;
    for (std::size_t i = 0; i < replyBuffer.size(); ++i)
        replyBuffer[i] = std::uint8_t(0xA0 ^ i);
    const auto untouchedReply = replyBuffer;
    const int expected = argument % (MaxPayload + 1);
    const int block = argument % (BlockCount + 2) - 1; // -1..8: both bad ends too
    const Bytes payload(std::size_t(std::max(requestLength, 0)), 0x43);

    Run run;
    try {
        switch (operation) {
        case Operation::Transact:
            run.extraTime = extraTime;
            if (requestLength >= 1 && requestLength <= MaxPayload)
                run.request = frameAround(payload);
            run.result = bank.transact(requestLength, payload.data(), expected,
                                       replyBuffer.data() + Guard, extraTime);
            break;
        case Operation::Command:
            run.extraTime = extraTime;
            if (requestLength >= 1 && requestLength <= MaxPayload)
                run.request = frameAround(payload);
            bank.command(requestLength, payload.data(), extraTime);
            break;
        case Operation::Probe:
            run.request = {0x00, 0x05, 0x4D, 0xB2, 0xA5};
            run.result = bank.probe() ? 1 : 0;
            break;
        case Operation::ReadBlock:
            run.extraTime = timing::ReadBlockExtraMs;
            if (isBlock(block))
                run.request = frameAround({ReadBlockRequest, std::uint8_t(block)});
            {
                const Block data = bank.readBlock(block);
                if (isBlock(block))
                    std::copy(data.begin(), data.end(), bank.image().block(block));
            }
            break;
        case Operation::WriteBlock:
            run.extraTime = timing::WriteBlockExtraMs;
            if (isBlock(block)) {
                run.request = {WriteBlockRequest, std::uint8_t(block)};
                run.request.insert(run.request.end(), before.block(block),
                                   before.block(block) + BlockSize);
                run.request = frameAround(run.request);
            }
            {
                Block data{};
                if (isBlock(block))
                    std::copy_n(before.block(block), BlockSize, data.begin());
                bank.writeBlock(block, data);
            }
            break;
        case Operation::FinishWrite:
            run.extraTime = timing::FinishWriteExtraMs;
            run.request = frameAround({FinishWriteRequest});
            bank.finishWrite();
            break;
        case Operation::Count:
            break;
        }
    } catch (const CommErr&) {
        run.threw = true;
    }

    // What went out: nothing but the one request frame, at most three times.
    check(line.misuse() == 0, "no call on a handle that is not open");
    check(line.writes().size() <= 3, "at most three requests");
    if (run.request.empty())
        check(line.writes().empty(), "a refused argument sends nothing");
    for (const serial::WriteRecord& write : line.writes())
        check(write.bytes == run.request, "every attempt sends the same request frame");
    if (operation == Operation::Probe)
        check(line.writes().size() <= 1, "a probe makes one attempt");

    // Time: bounded by the time-outs, whatever the far end does.
    const std::uint64_t spent = line.now() - started;
    if (operation == Operation::Probe)
        check(spent <= quietBound() + 2 * (8 * CharTimeMs + ConstantMs) + timing::LatencyMarginMs,
              "a probe reads stale input until quiet, then waits for its 8-byte answer and "
              "for the rest of one that began");
    else
        check(spent <= exchangeBound(run.extraTime), "an exchange ends within its time-outs");

    // The port: consistent, and when still open, back on the standard time-outs.
    check((bank.portNumber() == 0) == (bank.channel().portHandle() == serial::InvalidPortHandle),
          "port number and handle agree");
    check(bank.portNumber() == 0 || bank.portNumber() == LockPort, "no other port was opened");
    check(line.openPort() == bank.portNumber(), "the channel and the system agree on the port");
    if (!portOpen) {
        check(bank.portNumber() == 0 && line.writes().empty() && spent == 0,
              "without a port nothing is sent and nothing is waited for");
        if (operation == Operation::Probe)
            check(run.result == 0, "without a port no lock answers");
        else if (!run.request.empty())
            check(run.threw, "without a port every exchange fails");
    }
    // A probe's answer gets a converter's margin on top of the standard time-outs, no
    // more: only a read's constant is raised, and a raised read ends within the answer's
    // allowance and the margin, however the answer (and an echo before it) is split.
    if (operation == Operation::Probe) {
        const std::string com = "timeouts COM" + std::to_string(LockPort) + " read 2x+";
        for (std::size_t i = traceStart; i < line.trace().size(); ++i) {
            const std::string& entry = line.trace()[i]; // "... failed" when refused
            check(entry.rfind("timeouts", 0) != 0 ||
                      (entry.rfind(com, 0) == 0 && entry.find(" write 2x+61") != std::string::npos),
                  "a probe raises no time-out but its reads' constant");
        }
        if (!line.writes().empty()) {
            // The deadline is kept in microseconds and a time-out rounded up to the next ms.
            const std::uint64_t answerBy = line.writes()[0].at + ProbeAnswerSize * CharTimeMs +
                                           ConstantMs + timing::LatencyMarginMs + 1;
            for (const serial::ReadRecord& read : line.reads()) {
                const serial::Timeouts& in = read.timeouts;
                check(in.readConstant <= ConstantMs ||
                          read.at + read.asked * in.readMultiplier + in.readConstant <= answerBy,
                      "a probe's raised read ends within the answer's allowance and the margin");
            }
        }
    }
    if (bank.portNumber() != 0) {
        std::uint8_t ignored = 0;
        bank.channel().receiveBytes(0, &ignored);
        const serial::Timeouts in = line.reads().back().timeouts;
        check(in.readMultiplier == CharTimeMs && in.readConstant == ConstantMs &&
                  in.writeMultiplier == CharTimeMs && in.writeConstant == ConstantMs,
              "the standard time-outs hold after an exchange");
    }

    // What came back: only a whole frame that was read, and nowhere but where it belongs.
    const Bytes stream = bytesTaken(line);
    const bool succeeded = !run.threw;
    switch (operation) {
    case Operation::Transact: {
        const std::uint8_t* reply = replyBuffer.data() + Guard;
        if (run.request.empty()) {
            check(succeeded && run.result == 0, "a bad request length gives 0 at once");
        } else if (succeeded) {
            check(run.result >= 1 && run.result <= MaxPayload, "a reply payload is 1..128 bytes");
            const std::size_t copied = std::size_t(std::min(expected, run.result));
            check(holdsFrame(stream, std::size_t(run.result), reply, copied, expected == 1),
                  "the reply is the payload of a whole frame that the far end sent");
            const std::size_t behind = Guard + copied;
            check(std::memcmp(replyBuffer.data() + behind, untouchedReply.data() + behind,
                              replyBuffer.size() - behind) == 0,
                  "nothing is written behind the copied payload");
        }
        if (!succeeded)
            check(replyBuffer == untouchedReply, "a failed exchange leaves the reply untouched");
        check(std::equal(replyBuffer.begin(), replyBuffer.begin() + Guard, untouchedReply.begin()),
              "nothing is written before the reply");
        break;
    }
    case Operation::Command:
    case Operation::WriteBlock:
    case Operation::FinishWrite:
        if (succeeded && !run.request.empty())
            check(holdsAck(stream), "a command succeeds only on an ACK that the far end sent");
        if (operation == Operation::Command && run.request.empty())
            check(run.threw, "a command with a bad length fails");
        break;
    case Operation::Probe:
        if (run.result == 1)
            check(holdsProbeAnswer(stream), "a probe succeeds only on an answer the far end sent");
        break;
    case Operation::ReadBlock:
        if (succeeded && isBlock(block)) {
            check(holdsFrame(stream, BlockSize, bank.image().block(block), BlockSize),
                  "a block read is the payload of a whole 68-byte frame that the far end sent");
            for (std::size_t i = 0; i < ConfigImage::Size; ++i)
                if (i < blockOffset(block) || i >= blockOffset(block) + BlockSize)
                    check(bank.image()[i] == before[i], "a block read changes only its 64 bytes");
        }
        break;
    case Operation::Count:
        break;
    }
    if (operation != Operation::ReadBlock || run.threw || !isBlock(block))
        check(bank.image() == before, "the image changes only by a successful block read");
    check(!portOpen || bank.channel().charTime() == CharTimeMs, "the time per character stays");
    return 0;
}
