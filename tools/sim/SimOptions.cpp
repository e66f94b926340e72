#include "SimOptions.h"

#include <charconv>

namespace v38::sim {

namespace {
bool parseCount(const std::string& text, long long max, long long& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && value >= 0 && value <= max;
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
            // MS, or MIN-MAX
            const std::size_t dash = text.find('-');
            long long low = 0, high = 0;
            const bool ok = dash == std::string::npos
                                ? parseCount(text, 600'000, low) && parseCount(text, 600'000, high)
                                : parseCount(text.substr(0, dash), 600'000, low) &&
                                      parseCount(text.substr(dash + 1), 600'000, high) &&
                                      low <= high;
            if (!ok) {
                error = "--lag: bad time or range '" + text + "'";
                return std::nullopt;
            }
            options.lagMinMs = int(low);
            options.lagMaxMs = int(high);
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
the eight staged blocks); anything else gets NAK. SIGTERM or SIGINT end it cleanly.

  --image FILE        the lock's memory: a configuration file, loaded at the start
                      (created with the default configuration when missing) and
                      replaced on every commit
  --link PATH         also make PATH a symbolic link to the device
  --baud N            line speed to emulate, 10 bits a byte (default 9600; 0: none)
  --latency MS        time from a request to its reply (default 3)
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
                      another device on the line).
                      Repeatable; the first rule that matches applies. Apart
                      from lag and chatter, a faulted request is never acted upon.
  --random PERCENT[:KIND,...]
                      give each request a fault with this chance (default kinds:
                      all but slow, lag and chatter)
  --lag MS|MIN-MAX    a late lock: hears every request, also while it is answering,
                      and answers each in order MS ms after it, or from MIN to MAX
                      ms, drawn for each request (0: at once, yet without the
                      lock's deafness while it answers)
  --seed N            seed of the random faults (default 1)
  --slow-ms MS        how late a slow reply comes (default 1500)
  --log               print every frame in hex on standard error
  --exit-with-stdin   end when standard input closes
  --help              this text
)";
}

} // namespace v38::sim
