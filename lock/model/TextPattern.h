#pragma once

#include <string>
#include <string_view>

namespace v38 {

// A message pattern with its figures put in: each "{}" takes the next of [first, last);
// a "{}" left without one stays as it is.
template <typename Iterator>
std::string fillPattern(std::string_view pattern, Iterator first, Iterator last) {
    std::string out;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern.substr(i, 2) == "{}" && first != last) {
            out += *first++;
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

} // namespace v38
