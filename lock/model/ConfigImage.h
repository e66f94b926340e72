#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace v38 {

// Byte offsets of the fields of the 512-byte configuration image.
namespace offset {
inline constexpr std::size_t flags = 0;
inline constexpr std::size_t boltPulse = 1;      // 0.1 s units
inline constexpr std::size_t entryLockout = 2;   // 10 s units
inline constexpr std::size_t matLockout = 3;     // 10 s units
inline constexpr std::size_t prefixes = 4;       // 100 entries of 4 bytes
inline constexpr std::size_t serviceCards = 404; // 2 cards of 20 bytes
inline constexpr std::size_t reserved = 444;     // 68 bytes carried along, never interpreted
} // namespace offset

// Bits of the flags byte; bits 6 and 7 are always written as 0.
enum Flag : std::uint8_t {
    DoorSensor = 0x01,
    DoorSensorOpenWhenClosed = 0x02,
    PresenceSensorNC = 0x04,
    BankFormat = 0x08,
    HalfStripe = 0x10,
    ProximityServiceCards = 0x20,
};
inline constexpr std::uint8_t FlagsMask = 0x3F;
inline constexpr std::uint8_t DefaultFlags = DoorSensor | BankFormat | HalfStripe; // 0x19

inline constexpr std::uint8_t Erased = 0xFF;

inline constexpr int EntryCount = 100;
inline constexpr std::size_t EntrySize = 4;
inline constexpr int ServiceCardCount = 2;
inline constexpr std::size_t ServiceCardSize = 20;
inline constexpr std::size_t ReservedSize = 68;

// The image travels to and from the lock as eight blocks of 64 bytes; no entry or
// card straddles a block boundary.
inline constexpr int BlockCount = 8;
inline constexpr std::size_t BlockSize = 64;

constexpr std::size_t entryOffset(int i) {
    return offset::prefixes + EntrySize * std::size_t(i);
}
constexpr std::size_t serviceCardOffset(int k) {
    return offset::serviceCards + ServiceCardSize * std::size_t(k & 1);
}
constexpr std::size_t blockOffset(int b) {
    return BlockSize * std::size_t(b);
}
constexpr bool isBlock(int b) {
    return b >= 0 && b < BlockCount;
}
constexpr bool isEntry(int i) {
    return i >= 0 && i < EntryCount;
}

// The configuration image: the same 512 bytes stand in the lock's memory, travel on
// the line and fill a configuration file. Behaves like std::array<std::uint8_t, 512>.
struct ConfigImage : std::array<std::uint8_t, 512> {
    static constexpr std::size_t Size = 512;

    // Every byte erased: the state of a freshly built V38Bank.
    static ConfigImage erased() {
        ConfigImage image;
        image.fill(Erased);
        return image;
    }
    // The default configuration: everything erased but the flags byte.
    static ConfigImage defaults() {
        ConfigImage image = erased();
        image[offset::flags] = DefaultFlags;
        return image;
    }

    std::uint8_t* block(int b) { return data() + blockOffset(b); }
    const std::uint8_t* block(int b) const { return data() + blockOffset(b); }
    std::uint8_t* entry(int i) { return data() + entryOffset(i); }
    const std::uint8_t* entry(int i) const { return data() + entryOffset(i); }
    const std::uint8_t* serviceCard(int k) const { return data() + serviceCardOffset(k); }
};

static_assert(sizeof(ConfigImage) == ConfigImage::Size);
static_assert(offset::prefixes + EntrySize * EntryCount == offset::serviceCards);
static_assert(offset::serviceCards + ServiceCardSize * ServiceCardCount == offset::reserved);
static_assert(offset::reserved + ReservedSize == ConfigImage::Size);
static_assert(BlockSize * BlockCount == ConfigImage::Size);

} // namespace v38
