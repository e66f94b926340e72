#include "HexText.h"

namespace v38 {

std::string hexText(const std::uint8_t* bytes, std::size_t count, std::string_view separator) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(count * (2 + separator.size()));
    for (std::size_t i = 0; i < count; ++i) {
        if (i != 0)
            out += separator;
        out += Digits[bytes[i] >> 4];
        out += Digits[bytes[i] & 0xF];
    }
    return out;
}

} // namespace v38
