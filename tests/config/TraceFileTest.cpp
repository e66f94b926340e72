// The link's trace: private files, and the service cards hidden however the bytes of
// the frames that carry them are cut into events.
#include "TraceFile.h"

#include "LinkTestSupport.h"
#include "crc16.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>
#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;
using namespace v38;

namespace {

using test::Bytes;
using test::frameAround;

Bytes block() {
    Bytes bytes(64, 0x11);
    for (std::size_t i = 20; i < 60; ++i)
        bytes[i] = std::uint8_t(0xC0 + i - 20);
    return bytes;
}

Bytes request(char command, std::uint8_t number, const Bytes& data = {}) {
    Bytes payload{std::uint8_t(command), number};
    payload.insert(payload.end(), data.begin(), data.end());
    return frameAround(payload);
}

// What crossed the line in one direction, and which of its bytes are the cards'.
struct Stream {
    Bytes bytes;
    std::vector<bool> cards;
    void add(const Bytes& frame, std::size_t cardsAt = 0) {
        for (std::size_t i = 0; i < frame.size(); ++i)
            cards.push_back(cardsAt > 0 && i >= cardsAt && i < cardsAt + 40);
        bytes.insert(bytes.end(), frame.begin(), frame.end());
    }
};

// One exchange: the request sent, then what came back (an echo first, when the
// converter echoes) cut into pieces by `cuts`.
struct Exchange {
    Bytes sent;
    Stream received;
};

std::vector<Exchange> session(bool echo) {
    const Bytes ack{0x00, 0x05, 0x06, 0xF2, 0x92};
    std::vector<Exchange> exchanges;
    const auto add = [&](const Bytes& sent, std::size_t sentCards, const Bytes& answer,
                         std::size_t answerCards) {
        Exchange e;
        e.sent = sent;
        if (echo)
            e.received.add(sent, sentCards);
        e.received.add(answer, answerCards);
        exchanges.push_back(e);
    };
    add(request('C', 5), 0, frameAround(Bytes(64, 0x22)), 0);
    add(request('C', 6), 0, frameAround(block()), 22);
    // An answer soon after may be a late one for the cards' block: its card place is
    // hidden too.
    add(request('C', 7), 0, frameAround(Bytes(64, 0x33)), 22);
    add(request('K', 6, block()), 24, ack, 0);
    add(request('K', 7, Bytes(64, 0x44)), 0, ack, 0);
    add(frameAround({'S'}), 0, ack, 0);
    add(frameAround({'M'}), 0, frameAround({0x00, 0xE8, 0x01, 0x9C}), 0);
    add(request('C', 0), 0, frameAround(Bytes(64, 0x55)), 0);
    return exchanges;
}

// Pieces of `size` bytes as a cutting rule makes them.
using Cutting = std::vector<std::size_t> (*)(std::size_t size);
std::vector<std::size_t> whole(std::size_t size) {
    return {size};
}
std::vector<std::size_t> byteByByte(std::size_t size) {
    return std::vector<std::size_t>(size, 1);
}
std::vector<std::size_t> headerThenRest(std::size_t size) {
    return size > 2 ? std::vector<std::size_t>{2, size - 2} : std::vector<std::size_t>{size};
}
std::vector<std::size_t> atTheCardsEdges(std::size_t size) {
    std::vector<std::size_t> pieces;
    std::size_t done = 0;
    for (std::size_t edge : {std::size_t(21), std::size_t(23), std::size_t(62), std::size_t(64)}) {
        if (edge > done && edge < size) {
            pieces.push_back(edge - done);
            done = edge;
        }
    }
    pieces.push_back(size - done);
    return pieces;
}
std::vector<std::size_t> randomly(std::size_t size) {
    static std::mt19937 random(26);
    std::vector<std::size_t> pieces;
    while (size > 0) {
        const std::size_t piece = std::min<std::size_t>(size, 1 + random() % 9);
        pieces.push_back(piece);
        size -= piece;
    }
    return pieces;
}

} // namespace

// The cards are hidden and nothing else: the same for every cutting of the received
// bytes, with and without an echo, and also in a copy of bytes thrown away.
TEST(TraceMask, HidesTheCardsAndOnlyThemHoweverTheBytesArriveCut) {
    const struct {
        const char* name;
        Cutting cut;
    } cuttings[] = {{"whole", whole},
                    {"byte by byte", byteByByte},
                    {"header, then the rest", headerThenRest},
                    {"at the cards' edges", atTheCardsEdges},
                    {"randomly", randomly}};
    for (bool echo : {false, true}) {
        for (const auto& cutting : cuttings) {
            SCOPED_TRACE(std::string(cutting.name) + (echo ? ", echoed" : ""));
            TraceMask mask;
            int n = 0;
            for (const Exchange& e : session(echo)) {
                SCOPED_TRACE("exchange " + std::to_string(n++));
                const std::vector<bool> sentHidden =
                    mask.hide("sent", e.sent.data(), e.sent.size());
                for (std::size_t i = 0; i < e.sent.size(); ++i) {
                    const bool card = e.sent[3] == 6 && e.sent[2] == 'K' && i >= 24 && i < 64;
                    EXPECT_EQ(sentHidden[i], card) << "sent byte " << i;
                }
                std::size_t at = 0;
                for (std::size_t piece : cutting.cut(e.received.bytes.size())) {
                    const std::vector<bool> hidden =
                        mask.hide("received", e.received.bytes.data() + at, piece);
                    for (std::size_t i = 0; i < piece; ++i)
                        EXPECT_EQ(hidden[i], e.received.cards[at + i])
                            << "received byte " << at + i;
                    at += piece;
                }
                // The link lists what it threw away: a copy of bytes just received.
                const std::size_t tail = std::min<std::size_t>(e.received.bytes.size(), 50);
                const std::vector<bool> copy = mask.hide(
                    "thrown away", e.received.bytes.data() + e.received.bytes.size() - tail, tail);
                for (std::size_t i = 0; i < tail; ++i)
                    EXPECT_EQ(copy[i], e.received.cards[e.received.bytes.size() - tail + i]);
            }
        }
    }
}

// Where a frame starts cannot be told (a false length, a CRC that fails, an answer cut
// off by the next request): every received byte is hidden until the next request, so
// that no card byte is shown; the cards' block once far behind, bytes show again.
TEST(TraceMask, HidesAllReceivedBytesWhereFramesCannotBeTold) {
    Bytes answer = frameAround(block());
    const struct {
        const char* name;
        Bytes received;
        std::size_t cutAfter; // then the next request goes out (0: not cut)
    } cases[] = {
        {"a length that cannot be",
         [] {
             Bytes b = frameAround(block());
             b[1] = 0x02;
             return b;
         }(),
         0},
        {"a length too short",
         [] {
             Bytes b = frameAround(block());
             b[1] = 0x10;
             return b;
         }(),
         0},
        {"a length too long",
         [] {
             Bytes b = frameAround(block());
             b[1] = 0x80;
             return b;
         }(),
         0},
        {"a damaged CRC, then a stray copy",
         [&] {
             Bytes b = answer;
             b[67] ^= 0xFF;
             b.insert(b.end(), answer.begin() + 1, answer.end());
             return b;
         }(),
         0},
        {"cut off by the next request", answer, 30},
        {"noise before the answer",
         [&] {
             Bytes b{0x00};
             b.insert(b.end(), answer.begin(), answer.end());
             return b;
         }(),
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TraceMask mask;
        const Bytes c6 = request('C', 6);
        mask.hide("sent", c6.data(), c6.size());
        const Bytes& r = c.received;
        const std::size_t first = c.cutAfter ? c.cutAfter : r.size();
        std::vector<bool> hidden = mask.hide("received", r.data(), first);
        if (c.cutAfter) {
            mask.hide("sent", c6.data(), c6.size());
            const std::vector<bool> rest =
                mask.hide("received", r.data() + first, r.size() - first);
            hidden.insert(hidden.end(), rest.begin(), rest.end());
        }
        // Every byte of the block's card place, wherever it went, is hidden.
        const auto shown = [&](std::uint8_t value) {
            for (std::size_t i = 0; i < r.size(); ++i)
                if (r[i] == value && !hidden[i])
                    return true;
            return false;
        };
        for (std::uint8_t v = 0xC0; v < 0xC0 + 40; ++v)
            EXPECT_FALSE(shown(v)) << std::hex << int(v);
    }
    // Far from the cards' block, an unreadable stream is shown as it is.
    TraceMask mask;
    for (char block : {6, 7, 0, 1, 2}) {
        const Bytes r = request('C', std::uint8_t(block));
        mask.hide("sent", r.data(), r.size());
    }
    const Bytes noise{0x00, 0x01, 0xC5, 0xC6};
    EXPECT_EQ(mask.hide("received", noise.data(), noise.size()), std::vector<bool>(4, false));
    // Bytes of another event that were never received are hidden near the cards' block.
    const Bytes unknown{0xC7, 0xC8};
    EXPECT_EQ(mask.hide("thrown away", unknown.data(), 2), std::vector<bool>(2, false));
    const Bytes c6 = request('C', 6);
    mask.hide("sent", c6.data(), c6.size());
    EXPECT_EQ(mask.hide("thrown away", unknown.data(), 2), std::vector<bool>(2, true));
}

#ifndef _WIN32
namespace {

class TraceFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device entropy;
        folder = fs::temp_directory_path() / ("v38-trace-" + std::to_string(entropy()));
        ASSERT_TRUE(fs::create_directory(folder));
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    static std::string text(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    fs::path folder;
};

} // namespace

// A trace is the user's alone: created 0600, appended to only where it is a regular
// file of the user's own, never through a symbolic link; the cards show as ** unless
// asked for.
TEST_F(TraceFileTest, IsPrivateAndHidesTheCardsUnlessAskedTo) {
    const fs::path own = folder / "own.log";
    const Bytes k6 = request('K', 6, block());
    for (bool showCards : {false, true}) {
        TraceFile trace(own, "test", showCards);
        ASSERT_TRUE(trace.isOpen()) << trace.failure();
        trace.note(5, "sent", k6.data(), k6.size());
    }
    struct stat info {};
    ASSERT_EQ(::stat(own.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    const std::string written = text(own);
    const std::size_t second = written.find("# ", 1);
    ASSERT_NE(second, std::string::npos) << written;
    const std::string hiddenRun = written.substr(0, second);
    const std::string shownRun = written.substr(second);
    EXPECT_NE(hiddenRun.find("00 46 4B 06 11"), std::string::npos) << hiddenRun;
    EXPECT_NE(hiddenRun.find("11 ** **"), std::string::npos) << hiddenRun;
    EXPECT_EQ(hiddenRun.find("C0"), std::string::npos) << hiddenRun;
    EXPECT_NE(shownRun.find("11 C0 C1"), std::string::npos) << shownRun;
    EXPECT_NE(shownRun.find("(service cards shown)"), std::string::npos) << shownRun;

    fs::create_symlink(own, folder / "link.log");
    fs::create_directory(folder / "dir.log");
    ASSERT_EQ(::mkfifo((folder / "fifo.log").c_str(), 0600), 0);
    const fs::path others = folder / "others.log";
    std::ofstream(others) << "theirs\n";
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(others.c_str(), 65534, 65534), 0);
    }
    for (const fs::path& refused : {folder / "link.log", folder / "dir.log", folder / "fifo.log",
                                    root ? others : folder / "dir.log"}) {
        TraceFile trace(refused, "test");
        EXPECT_FALSE(trace.isOpen()) << refused;
        EXPECT_FALSE(trace.failure().empty()) << refused;
        EXPECT_NE(trace.failure(TextLanguage::Polish), trace.failure()) << "said in Polish";
    }
    EXPECT_EQ(text(own), written);
    EXPECT_EQ(text(others), "theirs\n");
}
#endif
