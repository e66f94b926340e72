#pragma once

#include <cstdint>
#include <vector>

namespace v38::sim {

// What the parser found on the line, in the order the bytes came.
struct ParsedBytes {
    enum class Kind {
        Frame,   // a whole frame, CRC checked: length field, payload, CRC
        Garbage, // bytes that belong to no frame, dropped to find the next one
    };
    Kind kind;
    std::vector<std::uint8_t> bytes;

    // The payload of a frame (the bytes between the length field and the CRC).
    std::vector<std::uint8_t> payload() const;
};

// Cuts the byte stream of the line into frames, whatever the chunks the bytes arrive
// in. A frame carries neither address nor start mark, so after garbage the parser
// tries every following byte as the start of a frame until a length field and a CRC
// agree. A length field that promises more bytes than ever come would hold the frame
// behind it hostage: when the line falls silent, `lineIdle` gives up on it.
class RequestParser {
public:
    void feed(std::uint8_t byte, std::vector<ParsedBytes>& out);
    void feed(const std::uint8_t* data, std::size_t size, std::vector<ParsedBytes>& out);
    // Nothing more of a pending frame is coming: find what frames the held bytes
    // contain and drop the rest.
    void lineIdle(std::vector<ParsedBytes>& out);
    // True while bytes of an unfinished frame are held.
    bool holdsBytes() const { return !held_.empty(); }

private:
    void scan(bool idle, std::vector<ParsedBytes>& out);
    void dropFirst(std::size_t count);
    void flushGarbage(std::vector<ParsedBytes>& out);

    std::vector<std::uint8_t> held_;    // at most one frame's worth, 132 bytes
    std::vector<std::uint8_t> garbage_; // dropped bytes not yet reported
};

} // namespace v38::sim
