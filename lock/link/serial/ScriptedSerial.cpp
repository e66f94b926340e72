#include "ScriptedSerial.h"

#include "HexText.h"
#include "LinkTiming.h"

#include <algorithm>
#include <cstdio>

namespace v38::serial {

PortScript& PortScript::reply(std::vector<std::uint8_t> bytes, std::uint64_t afterMs) {
    return react({Burst{afterMs, std::move(bytes)}});
}

PortScript& PortScript::react(Reaction reaction) {
    reactions.push_back(std::move(reaction));
    return *this;
}

PortScript& PortScript::silent() {
    return react({});
}

std::string hexBytes(const std::vector<std::uint8_t>& bytes) {
    return hexText(bytes.data(), bytes.size(), " ");
}

namespace {
std::string comName(int port) {
    return "COM" + std::to_string(port);
}

std::string describe(const LineSettings& line) {
    const char parity = line.parity == Parity::None ? 'N' : line.parity == Parity::Odd ? 'O' : 'E';
    return std::to_string(line.baud) + " " + std::to_string(line.dataBits) + parity +
           std::to_string(line.stopBits) + (line.dtr ? " DTR+" : " DTR-") +
           (line.rts ? " RTS+" : " RTS-");
}

std::string describe(const Timeouts& t) {
    return "read " + std::to_string(t.readMultiplier) + "x+" + std::to_string(t.readConstant) +
           " write " + std::to_string(t.writeMultiplier) + "x+" + std::to_string(t.writeConstant);
}
} // namespace

PortScript& ScriptedSerial::port(int n) {
    return scripts_[n];
}

void ScriptedSerial::stallBefore(std::size_t call, std::uint64_t ms) {
    stalls_[call] = ms;
}

void ScriptedSerial::setWriteReturn(WriteReturn when, std::uint64_t lateMs) {
    writeReturn_ = when;
    writeLateUs_ = lateMs * 1000;
}

void ScriptedSerial::tick() {
    const auto stall = stalls_.find(calls_++);
    if (stall != stalls_.end()) {
        trace_.push_back("stall " + std::to_string(stall->second));
        nowUs_ += stall->second * 1000;
    }
}

ScriptedSerial::OpenPort* ScriptedSerial::openAt(int port) {
    for (auto& entry : open_)
        if (entry.second.port == port)
            return &entry.second;
    return nullptr;
}

const ScriptedSerial::OpenPort* ScriptedSerial::openAt(int port) const {
    for (const auto& entry : open_)
        if (entry.second.port == port)
            return &entry.second;
    return nullptr;
}

std::uint64_t ScriptedSerial::lineUs(const OpenPort& open, std::size_t bytes) const {
    return timesTheLine_ ? timing::lineUs(bytes, open.baud) : 0;
}

std::uint64_t ScriptedSerial::lineUs(int port, std::size_t bytes) const {
    const OpenPort* open = openAt(port);
    return open ? lineUs(*open, bytes) : 0;
}

int ScriptedSerial::openPort() const {
    return open_.empty() ? 0 : open_.begin()->second.port;
}

ScriptedSerial::OpenPort* ScriptedSerial::find(PortHandle handle, const char* call) {
    const auto it = open_.find(handle);
    if (it != open_.end())
        return &it->second;
    ++misuse_;
    trace_.push_back(std::string(call) + " on a handle that is not open");
    return nullptr;
}

PortHandle ScriptedSerial::open(int port, OpenFailure& failure) {
    tick();
    const auto script = scripts_.find(port);
    const bool inUse = std::any_of(open_.begin(), open_.end(),
                                   [port](const auto& entry) { return entry.second.port == port; });
    if (script == scripts_.end() || script->second.busy || inUse) {
        trace_.push_back("open " + comName(port) + " failed");
        failure =
            OpenFailure{script == scripts_.end() ? OpenError::Absent : OpenError::InUse, {}, {}};
        return InvalidPortHandle;
    }
    trace_.push_back("open " + comName(port));
    failure = OpenFailure{};
    const PortHandle handle = nextHandle_++;
    open_[handle].port = port;
    return handle;
}

bool ScriptedSerial::configure(PortHandle handle, const LineSettings& settings) {
    tick();
    OpenPort* open = find(handle, "configure");
    if (!open)
        return false;
    const bool ok = !scripts_[open->port].configureFails;
    trace_.push_back("configure " + comName(open->port) + " " + describe(settings) +
                     (ok ? "" : " failed"));
    if (ok)
        open->baud = settings.baud;
    return ok;
}

bool ScriptedSerial::setQueues(PortHandle handle, std::uint32_t inQueue, std::uint32_t outQueue) {
    tick();
    OpenPort* open = find(handle, "setQueues");
    if (!open)
        return false;
    const bool ok = !scripts_[open->port].queuesFail;
    trace_.push_back("queues " + comName(open->port) + " " + std::to_string(inQueue) + "/" +
                     std::to_string(outQueue) + (ok ? "" : " failed"));
    return ok;
}

bool ScriptedSerial::setTimeouts(PortHandle handle, const Timeouts& timeouts) {
    tick();
    OpenPort* open = find(handle, "setTimeouts");
    if (!open)
        return false;
    const bool ok = ++open->timeoutsCalls != scripts_[open->port].failingTimeoutsCall;
    trace_.push_back("timeouts " + comName(open->port) + " " + describe(timeouts) +
                     (ok ? "" : " failed"));
    if (ok)
        open->timeouts = timeouts;
    return ok;
}

std::uint32_t ScriptedSerial::write(PortHandle handle, const std::uint8_t* data,
                                    std::uint32_t count) {
    tick();
    OpenPort* open = find(handle, "write");
    if (!open)
        return 0;
    PortScript& script = scripts_[open->port];
    const bool whole = ++open->writeCalls != script.shortWriteCall;
    const std::uint32_t written = whole ? count : count / 2;
    // The bytes go out behind those still queued, one after the other at the line's pace.
    WriteRecord record;
    record.port = open->port;
    record.at = now();
    record.bytes.assign(data, data + count);
    record.written = written;
    record.lineStartUs = std::max(nowUs_, open->txFreeUs);
    record.lineEndUs = record.lineStartUs + lineUs(*open, written);
    open->txFreeUs = record.lineEndUs;
    writes_.push_back(std::move(record));
    const WriteRecord& sent = writes_.back();
    trace_.push_back("write " + comName(open->port) + " " + hexBytes(sent.bytes) +
                     (whole ? "" : " short"));
    if (echo_) {
        std::vector<Arrival> echo(written);
        for (std::uint32_t i = 0; i < written; ++i)
            echo[i] = {sent.lineStartUs + lineUs(*open, i + 1), data[i]};
        enqueue(*open, std::move(echo));
    }
    const std::uint64_t returnsAt =
        writeReturn_ == WriteReturn::AfterLine ? sent.lineEndUs + writeLateUs_ : nowUs_;
    // Half a request is no request: the far end does not answer it.
    if (whole && !script.reactions.empty()) {
        deliver(*open, script.reactions.front());
        script.reactions.pop_front();
    } else if (whole && script.respond) {
        deliver(*open, script.respond(sent.bytes));
    }
    nowUs_ = std::max(nowUs_, returnsAt);
    return written;
}

void ScriptedSerial::arrive(int port, const std::vector<Arrival>& bytes) {
    if (OpenPort* open = openAt(port))
        enqueue(*open, bytes);
}

std::uint64_t ScriptedSerial::transmit(int port, std::uint64_t startUs,
                                       const std::vector<std::uint8_t>& bytes) {
    std::vector<Arrival> arrivals(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i)
        arrivals[i] = {startUs + lineUs(port, i + 1), bytes[i]};
    arrive(port, arrivals);
    return startUs + lineUs(port, bytes.size());
}

void ScriptedSerial::enqueue(OpenPort& open, std::vector<Arrival> bytes) {
    const auto earlier = [](const Arrival& a, const Arrival& b) { return a.atUs < b.atUs; };
    // A latency timer hands over what came since its last expiry, all at once.
    if (batchUs_ > 0)
        for (Arrival& arrival : bytes)
            arrival.atUs = (arrival.atUs + batchUs_ - 1) / batchUs_ * batchUs_;
    const std::size_t queued = open.input.size();
    open.input.insert(open.input.end(), bytes.begin(), bytes.end());
    // Most far ends answer in order: sort only when something overtakes.
    const auto added = open.input.begin() + static_cast<std::ptrdiff_t>(queued);
    if (!std::is_sorted(added, open.input.end(), earlier) ||
        (queued > 0 && added != open.input.end() && earlier(*added, *(added - 1))))
        std::stable_sort(open.input.begin(), open.input.end(), earlier);
}

void ScriptedSerial::deliver(OpenPort& open, const Reaction& reaction) {
    std::vector<Arrival> bytes;
    for (const Burst& burst : reaction) {
        for (const std::uint8_t byte : burst.bytes)
            bytes.push_back({nowUs_ + burst.afterMs * 1000, byte});
    }
    enqueue(open, std::move(bytes));
}

std::uint32_t ScriptedSerial::read(PortHandle handle, std::uint8_t* buffer, std::uint32_t count) {
    tick();
    OpenPort* open = find(handle, "read");
    if (!open)
        return 0;
    ReadRecord record;
    record.port = open->port;
    record.at = now();
    record.asked = count;
    record.timeouts = open->timeouts;
    const std::uint64_t deadline =
        nowUs_ +
        (std::uint64_t(count) * open->timeouts.readMultiplier + open->timeouts.readConstant) * 1000;
    std::uint64_t lastArrival = nowUs_;
    while (record.bytes.size() < count && !open->input.empty() &&
           open->input.front().atUs <= deadline) {
        lastArrival = std::max(lastArrival, open->input.front().atUs);
        record.bytes.push_back(open->input.front().byte);
        open->input.pop_front();
    }
    nowUs_ = record.bytes.size() == count ? lastArrival : deadline;
    record.done = now();
    std::copy(record.bytes.begin(), record.bytes.end(), buffer);
    trace_.push_back("read " + comName(open->port) + " " + std::to_string(count) + " -> " +
                     std::to_string(record.bytes.size()));
    reads_.push_back(std::move(record));
    return static_cast<std::uint32_t>(reads_.back().bytes.size());
}

std::uint32_t ScriptedSerial::readWaiting(PortHandle handle, std::uint8_t* buffer,
                                          std::uint32_t count) {
    tick();
    OpenPort* open = find(handle, "readWaiting");
    if (!open)
        return 0;
    std::uint32_t taken = 0;
    while (taken < count && !open->input.empty() && open->input.front().atUs <= nowUs_) {
        buffer[taken++] = open->input.front().byte;
        open->input.pop_front();
    }
    trace_.push_back("waiting " + comName(open->port) + " " + std::to_string(count) + " -> " +
                     std::to_string(taken));
    return taken;
}

void ScriptedSerial::close(PortHandle handle) {
    tick();
    OpenPort* open = find(handle, "close");
    if (!open)
        return;
    // What the port still held is gone with it.
    trace_.push_back("close " + comName(open->port));
    open_.erase(handle);
}

void ScriptedSerial::sleep(std::uint32_t milliseconds) {
    tick();
    trace_.push_back("sleep " + std::to_string(milliseconds));
    nowUs_ += std::uint64_t(milliseconds) * 1000;
}

} // namespace v38::serial
