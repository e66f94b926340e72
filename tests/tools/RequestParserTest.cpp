#include "RequestParser.h"
#include "Frame.h"

#include <gtest/gtest.h>

#include <random>

using namespace v38;
using namespace v38::sim;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes frameOf(const Bytes& payload) {
    Bytes frame(payload.size() + FrameOverhead);
    encodeFrame(payload.data(), int(payload.size()), frame.data());
    return frame;
}

Bytes joined(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

std::vector<Bytes> framesIn(const std::vector<ParsedBytes>& found) {
    std::vector<Bytes> frames;
    for (const ParsedBytes& part : found) {
        if (part.kind == ParsedBytes::Kind::Frame)
            frames.push_back(part.bytes);
    }
    return frames;
}

Bytes garbageIn(const std::vector<ParsedBytes>& found) {
    Bytes garbage;
    for (const ParsedBytes& part : found) {
        if (part.kind == ParsedBytes::Kind::Garbage)
            garbage.insert(garbage.end(), part.bytes.begin(), part.bytes.end());
    }
    return garbage;
}

const Bytes Probe = frameOf({'M'});
const Bytes ReadBlock3 = frameOf({'C', 3});
Bytes writeBlock(std::uint8_t fill) {
    Bytes payload{'K', 5};
    payload.resize(66, fill);
    return frameOf(payload);
}

TEST(RequestParser, FindsTheSameFramesWhateverTheChunks) {
    const Bytes stream = joined({Probe, ReadBlock3, writeBlock(0x00), frameOf({'S'})});
    const std::vector<Bytes> expected{Probe, ReadBlock3, writeBlock(0x00), frameOf({'S'})};

    // All at once, then split in two at every place, then byte by byte.
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        RequestParser parser;
        std::vector<ParsedBytes> found;
        parser.feed(stream.data(), cut, found);
        parser.feed(stream.data() + cut, stream.size() - cut, found);
        EXPECT_EQ(framesIn(found), expected) << "cut at " << cut;
        EXPECT_TRUE(garbageIn(found).empty());
        EXPECT_FALSE(parser.holdsBytes());
    }
    RequestParser parser;
    std::vector<ParsedBytes> found;
    for (std::uint8_t byte : stream)
        parser.feed(byte, found);
    EXPECT_EQ(framesIn(found), expected);
    EXPECT_EQ(found[1].payload(), (Bytes{'C', 3}));
}

TEST(RequestParser, SkipsGarbageBeforeAndBetweenFrames) {
    // Garbage that looks like the start of frames: lengths out of range, a length in
    // range whose CRC fails, and a damaged copy of a real frame.
    Bytes damaged = ReadBlock3;
    damaged[3] ^= 0x01;
    const Bytes noise{0xFF, 0x00, 0x00, 0x07, 0x12};
    const Bytes stream = joined({noise, Probe, damaged, ReadBlock3, {0x00}});

    RequestParser parser;
    std::vector<ParsedBytes> found;
    parser.feed(stream.data(), stream.size(), found);
    parser.lineIdle(found);
    EXPECT_EQ(framesIn(found), (std::vector<Bytes>{Probe, ReadBlock3}));
    EXPECT_EQ(garbageIn(found), joined({noise, damaged, {0x00}}));
    EXPECT_FALSE(parser.holdsBytes());
}

TEST(RequestParser, AFalseLengthGivesUpItsFrameWhenTheLineFallsSilent) {
    // 00 80 promises a 128-byte frame: the probe behind it is held until the line is idle.
    const Bytes stream = joined({{0x00, 0x80}, Probe});
    RequestParser parser;
    std::vector<ParsedBytes> found;
    parser.feed(stream.data(), stream.size(), found);
    EXPECT_TRUE(framesIn(found).empty());
    EXPECT_TRUE(parser.holdsBytes());

    parser.lineIdle(found);
    EXPECT_EQ(framesIn(found), std::vector<Bytes>{Probe});
    EXPECT_FALSE(parser.holdsBytes());
}

TEST(RequestParser, AfterAnyGarbageAndSilenceTheNextFrameIsFound) {
    std::mt19937 random(7);
    for (int round = 0; round < 500; ++round) {
        Bytes noise(random() % 200);
        for (std::uint8_t& b : noise)
            b = std::uint8_t(random());
        RequestParser parser;
        std::vector<ParsedBytes> found;
        parser.feed(noise.data(), noise.size(), found);
        parser.lineIdle(found);
        ASSERT_FALSE(parser.holdsBytes());
        found.clear();
        const Bytes frame = writeBlock(std::uint8_t(round));
        parser.feed(frame.data(), frame.size(), found);
        ASSERT_EQ(framesIn(found), std::vector<Bytes>{frame}) << "round " << round;
    }
}

} // namespace
