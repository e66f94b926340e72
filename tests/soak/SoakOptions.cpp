#include "SoakOptions.h"

#include <charconv>

namespace v38::soak {

namespace {
bool parseNumber(const std::string& text, long long max, long long& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && value >= 0 && value <= max;
}
} // namespace

std::optional<SoakOptions> parseSoakOptions(const std::vector<std::string>& args,
                                            std::string& error) {
    SoakOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            continue;
        }
        if (arg == "--half-duplex" || arg == "--chunks" || arg == "--echo") {
            (arg == "--half-duplex" ? options.halfDuplex
             : arg == "--chunks"    ? options.chunks
                                    : options.echo) = true;
            continue;
        }
        if (i + 1 >= args.size()) {
            error = "unknown argument '" + arg + "' or a missing value";
            return std::nullopt;
        }
        const std::string& text = args[++i];
        if (arg == "--simulator") {
            options.simulator = text;
            continue;
        }
        if (arg == "--fault-kinds") {
            options.faultKinds = text;
            continue;
        }
        if (arg == "--lag") {
            options.lag = text;
            continue;
        }
        if (arg == "--think") {
            options.think = text;
            continue;
        }
        long long n = 0;
        const auto number = [&](long long max) {
            if (parseNumber(text, max, n))
                return true;
            error = arg + ": bad number '" + text + "'";
            return false;
        };
        if (arg == "--transfers") {
            if (!number(10'000'000))
                return std::nullopt;
            options.transfers = int(n);
        } else if (arg == "--seconds") {
            if (!number(7 * 24 * 3600))
                return std::nullopt;
            options.seconds = int(n);
        } else if (arg == "--seed") {
            if (!number(0xFFFFFFFFLL))
                return std::nullopt;
            options.seed = std::uint32_t(n);
        } else if (arg == "--fault-percent") {
            if (!number(100))
                return std::nullopt;
            options.faultPercent = int(n);
        } else if (arg == "--slow-ms") {
            if (!number(600'000))
                return std::nullopt;
            options.slowMs = int(n);
        } else if (arg == "--baud") {
            if (!number(4'000'000))
                return std::nullopt;
            options.baud = int(n);
        } else if (arg == "--replay") {
            if (!number(100))
                return std::nullopt;
            options.replayPercent = int(n);
        } else if (arg == "--rx-batch") {
            if (!number(1000))
                return std::nullopt;
            options.rxBatchMs = int(n);
        } else if (arg == "--stall-percent") {
            if (!number(100))
                return std::nullopt;
            options.stallPercent = int(n);
        } else if (arg == "--stall-ms") {
            if (!number(60'000))
                return std::nullopt;
            options.stallMs = int(n);
        } else {
            error = "unknown argument '" + arg + "'";
            return std::nullopt;
        }
    }
    return options;
}

std::string soakUsage() {
    return R"(Usage: v38-soak [options]

Reads from and writes to a simulated lock again and again, over a pseudo-terminal,
while the simulator injects random faults of every kind into its replies, and checks
after each transfer that what was reported is what happened. Prints the counts; the
exit status is 1 when any check failed, and the simulator's log and the link's trace
are then kept for inspection. Counts too the false failures (a write reported failed
that the lock took; a transfer that failed although the simulator injected no fault
while it ran) and the time of the transfers done; its last line sums it up for
scripts (scripts/soak-long.sh).

  --transfers N       at most N transfers (default 1000)
  --seconds S         start no transfer after S seconds (default 600)
  --seed N            seed of the transfers, the images and the faults (default 1)
  --fault-percent P   chance of a fault on each request (default 8)
  --fault-kinds LIST  the kinds of fault, separated by commas (default: all of
                      silence,nak,crc,length,truncate,slow,lag,chatter; a lag
                      answers from 0 to 3 times later than the link waits, and
                      the requests heard meanwhile in their turn; a chatter
                      sends a copy of the reply or an ACK unasked; also twice:
                      the lock answers a request twice)
  --slow-ms MS        how late a slow reply comes (default 1500)
  --lag MS|MIN-MAX    a late lock: every request answered that late, drawn for
                      each request from the range (default: in time)
  --baud N            the line speed the simulator emulates (default 0: none, a far
                      end faster than any line, as the link may find from the probe)
  --replay P          another device resends the lock's earlier answers: at P% of
                      the requests and answers, at a random moment around them
  --half-duplex       bytes of two senders that overlap on the line are lost to
                      every receiver (a request so overlapped never reaches the
                      lock); needs --baud
  --think MS|MIN-MAX|allowance
                      the lock thinks this long before each answer, deaf
                      meanwhile; "allowance": up to all the link allows it
  --rx-batch MS       a converter's latency timer: received bytes reach the link
                      every MS ms after the first that waits, or 62 at once
  --chunks            received bytes reach the link in pieces of 1 to 8 bytes
  --echo              a converter that echoes every byte the link sends
  (see v38-lock-sim --help for each in full)
  --stall-percent P   chance that the client is held up before a serial call
                      (default 1)
  --stall-ms MS       how long such a stall lasts at most (default 500)
  --simulator PATH    the v38-lock-sim program (default: the one built with this)
)";
}

} // namespace v38::soak
