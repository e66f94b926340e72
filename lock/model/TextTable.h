#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace v38 {

// The language a text is said in: a run, or a window, speaks one throughout.
enum class TextLanguage { English, Polish };

// A table of texts in English and in Polish, one row per value of the enum `Id`, in the
// enum's order; "{}" in a text stands for a figure put in when it is said.
template <typename Id> struct TextRow {
    Id id;
    const char* english;
    const char* polish;
};

// The row's text in `language`.
template <typename Id> constexpr const char* textIn(const TextRow<Id>& row, TextLanguage language) {
    return language == TextLanguage::Polish ? row.polish : row.english;
}

// True when the rows follow the enum's order and there is one for each of its `count`
// values: for a static_assert beside the table.
template <typename Id, std::size_t N>
constexpr bool rowsInOrder(const TextRow<Id> (&rows)[N], std::size_t count) {
    for (std::size_t i = 0; i < N; ++i) {
        if (rows[i].id != Id(i))
            return false;
    }
    return N == count;
}

// A text with its figures put in: each "{}" takes the next of [first, last); a "{}" left
// without one stays as it is.
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
