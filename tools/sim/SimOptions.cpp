#include "SimOptions.h"

#include <charconv>

namespace v38::sim {

namespace {
bool parseCount(const std::string& text, long long max, long long& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && value >= 0 && value <= max;
}

// MS, or MIN-MAX
bool parseRange(const std::string& text, int& low, int& high) {
    const std::size_t dash = text.find('-');
    long long a = 0, b = 0;
    const bool ok = dash == std::string::npos
                        ? parseCount(text, 600'000, a) && parseCount(text, 600'000, b)
                        : parseCount(text.substr(0, dash), 600'000, a) &&
                              parseCount(text.substr(dash + 1), 600'000, b) && a <= b;
    if (ok) {
        low = int(a);
        high = int(b);
    }
    return ok;
}
} // namespace

std::optional<SimOptions> parseSimOptions(const std::vector<std::string>& args,
                                          std::string& error) {
    SimOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        const auto number = [&](long long max, long long& out) {
            std::string text;
            if (!value(text))
                return false;
            if (!parseCount(text, max, out)) {
                error = arg + ": bad number '" + text + "'";
                return false;
            }
            return true;
        };
        std::string text;
        long long n = 0;
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--log") {
            options.log = true;
        } else if (arg == "--exit-with-stdin") {
            options.exitWithStdin = true;
        } else if (arg == "--image") {
            if (!value(options.imagePath))
                return std::nullopt;
        } else if (arg == "--link") {
            if (!value(options.linkPath))
                return std::nullopt;
        } else if (arg == "--baud") {
            if (!number(4'000'000, n))
                return std::nullopt;
            options.baud = int(n);
        } else if (arg == "--latency") {
            if (!number(60'000, n))
                return std::nullopt;
            options.latencyMs = int(n);
        } else if (arg == "--slow-ms") {
            if (!number(600'000, n))
                return std::nullopt;
            options.slowMs = int(n);
        } else if (arg == "--lag") {
            if (!value(text))
                return std::nullopt;
            if (!parseRange(text, options.lagMinMs, options.lagMaxMs)) {
                error = "--lag: bad time or range '" + text + "'";
                return std::nullopt;
            }
        } else if (arg == "--think") {
            if (!value(text))
                return std::nullopt;
            options.thinkToAllowance = text == "allowance";
            if (!options.thinkToAllowance &&
                !parseRange(text, options.thinkMinMs, options.thinkMaxMs)) {
                error = "--think: bad time or range '" + text + "'";
                return std::nullopt;
            }
        } else if (arg == "--replay") {
            if (!number(100, n))
                return std::nullopt;
            options.replayPercent = int(n);
        } else if (arg == "--half-duplex") {
            options.halfDuplex = true;
        } else if (arg == "--rx-batch") {
            if (!number(1000, n))
                return std::nullopt;
            options.rxBatchMs = int(n);
        } else if (arg == "--chunks") {
            options.chunks = true;
        } else if (arg == "--echo") {
            options.echo = true;
        } else if (arg == "--seed") {
            if (!number(0xFFFFFFFFLL, n))
                return std::nullopt;
            options.seed = std::uint32_t(n);
        } else if (arg == "--fault") {
            if (!value(text))
                return std::nullopt;
            std::string why;
            const std::optional<FaultRule> rule = parseFaultRule(text, why);
            if (!rule) {
                error = "--fault " + text + ": " + why;
                return std::nullopt;
            }
            options.faults.push_back(*rule);
        } else if (arg == "--random") {
            if (!value(text))
                return std::nullopt;
            std::string why;
            options.randomFaults = parseRandomFaults(text, why);
            if (!options.randomFaults) {
                error = "--random " + text + ": " + why;
                return std::nullopt;
            }
        } else {
            error = "unknown argument '" + arg + "'";
            return std::nullopt;
        }
    }
    return options;
}

std::string simUsage() {
    return R"(Usage: v38-lock-sim [options]

Stands in for a V38 lock on a pseudo-terminal. The first line of output is the
device to open (put it in V38_PORTS); the log and errors go to standard error.
It answers 'M' (probe), 'C' (read a block), 'K' (stage a block) and 'S' (commit
the eight staged blocks); anything else gets NAK. It does not listen from the end
of a request until the last byte of its answer is out: while it thinks (--latency,
--think) and while it answers, as on its half-duplex bus; bytes that come then are
lost to it. SIGTERM or SIGINT end it cleanly.

  --image FILE        the lock's memory: a configuration file, loaded at the start
                      (created with the default configuration when missing) and
                      replaced on every commit
  --link PATH         also make PATH a symbolic link to the device
  --baud N            line speed to emulate, 10 bits a byte (default 9600; 0: none)
  --latency MS        time from a request to its reply (default 3)
  --think MS|MIN-MAX|allowance
                      instead of --latency, a time drawn for each request, from
                      MIN to MAX ms; "allowance": from 0 up to all the time the
                      client allows for the answer's first bytes, less their
                      own time on the line (the whole of it for one request in
                      four): 77 ms less a probe answer's 8 bytes for 'M', 265
                      less 2 bytes for 'C', 365 for 'K', 165 for 'S'
  --fault KIND[:N][@REQ]
                      give the next N requests (default 1) that match REQ a fault;
                      REQ is M, C, K, S, C0..C7 or K0..K7 (default: any request).
                      KIND: silence, nak, crc (damaged CRC), length (length field
                      out of range), truncate (half a reply), slow (a reply later
                      than any client waits), lag (the request is taken in and
                      answered up to three times later than the client waits,
                      and requests heard meanwhile in their turn after it, each
                      as late again as drawn for it), chatter (the request is
                      answered, and the reply goes out once more at once; under
                      --random, a copy of it or an ACK up to 600 ms later, as from
                      another device on the line), twice (the request is taken
                      in and the lock itself answers it twice: at once by a
                      rule, under --random from 0 to 100 ms apart; it listens
                      again only after the second answer).
                      Repeatable; the first rule that matches applies. Apart
                      from lag, chatter and twice, a faulted request is never
                      acted upon.
  --random PERCENT[:KIND,...]
                      give each request a fault with this chance (default kinds:
                      all but slow, lag, chatter and twice)
  --lag MS|MIN-MAX    a late lock: hears every request, also while it is answering,
                      and answers each in order MS ms after it, or from MIN to MAX
                      ms, drawn for each request (0: at once, yet without the
                      lock's deafness while it answers)
  --replay PERCENT    another device on the line resends one of the lock's own
                      last 32 well-formed answers, unasked: drawn with this
                      chance when the PC starts sending (at a moment from the
                      start of its request to 5 ms after its end, or up to
                      600 ms later) and when the lock answers (up to 600 ms
                      later); it sends whatever the line is doing
  --half-duplex       the line is one pair (two wires) for every sender: a
                      request that any other byte overlaps (the lock's own
                      answer, a replayed or unasked frame) is lost to the lock,
                      and the lock's or another device's bytes that overlap
                      the PC's own are lost to the PC; the lock also hears
                      other devices' frames, and answers them as any request.
                      Without it the PC sends on a pair of its own (four
                      wires). Either way the lock and other devices share
                      theirs: their bytes that overlap are lost to the PC.
                      Collisions need --baud
  --echo              a converter that echoes: every byte the PC sends comes
                      back to it as it crosses the line (at the line's pace
                      with --baud), before any answer; a two-wire line, so
                      --half-duplex too
  --rx-batch MS       a converter's latency timer: bytes reach the PC only when
                      the timer, started by the first byte that waits, has run
                      MS, 2 MS, ... (it stops when a tick finds none), or at
                      once when 62 wait
  --chunks            bytes reach the PC in pieces of 1 to 8 bytes (a piece when
                      full or after 2 ms of quiet), 0.1 to 0.6 ms apart
  --seed N            seed of the random faults and the line's draws (default 1)
  --slow-ms MS        how late a slow reply comes (default 1500)
  --log               print every frame in hex on standard error
  --exit-with-stdin   end when standard input closes
  --help              this text
)";
}

} // namespace v38::sim
