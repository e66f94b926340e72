#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace v38 {

// Bytes as upper-case hex digit pairs, `separator` between two bytes.
std::string hexText(const std::uint8_t* bytes, std::size_t count, std::string_view separator = {});

} // namespace v38
