#include "PortList.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace v38::serial {

namespace {
// Families in the order their devices get COM numbers.
constexpr std::array<std::string_view, 3> Families = {"ttyS", "ttyUSB", "ttyACM"};

bool isDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// Index of the family of a device name (basename, "ttyUSB0"), or -1. The rest of the
// name must be a number, so that ttyS0 is no ttyUSB and ttySAC0 belongs to none.
int familyOf(std::string_view name) {
    for (std::size_t f = 0; f < Families.size(); ++f) {
        const std::string_view family = Families[f];
        if (name.size() <= family.size() || name.substr(0, family.size()) != family)
            continue;
        const std::string_view rest = name.substr(family.size());
        if (std::all_of(rest.begin(), rest.end(), isDigit))
            return static_cast<int>(f);
    }
    return -1;
}

std::string_view baseName(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}
} // namespace

std::vector<std::string> splitPortList(std::string_view list) {
    std::vector<std::string> entries;
    std::size_t start = 0;
    for (;;) {
        const std::size_t colon = list.find(':', start);
        entries.emplace_back(list.substr(start, colon - start));
        if (colon == std::string_view::npos)
            break;
        start = colon + 1;
    }
    return entries;
}

bool naturalLess(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            std::size_t endA = i;
            std::size_t endB = j;
            while (endA < a.size() && isDigit(a[endA]))
                ++endA;
            while (endB < b.size() && isDigit(b[endB]))
                ++endB;
            // Compare the numbers without converting them: skip leading zeros, then a
            // longer run is larger, and runs of equal length compare as text.
            std::size_t startA = i;
            std::size_t startB = j;
            while (startA + 1 < endA && a[startA] == '0')
                ++startA;
            while (startB + 1 < endB && b[startB] == '0')
                ++startB;
            const std::string_view numberA = a.substr(startA, endA - startA);
            const std::string_view numberB = b.substr(startB, endB - startB);
            if (numberA.size() != numberB.size())
                return numberA.size() < numberB.size();
            if (numberA != numberB)
                return numberA < numberB;
            // Equal values: fewer leading zeros first, so the order stays strict.
            if (endA - i != endB - j)
                return endA - i < endB - j;
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

std::vector<std::string> orderSerialDevices(std::vector<std::string> names) {
    names.erase(std::remove_if(names.begin(), names.end(),
                               [](const std::string& n) { return familyOf(baseName(n)) < 0; }),
                names.end());
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const std::string_view nameA = baseName(a);
        const std::string_view nameB = baseName(b);
        const int familyA = familyOf(nameA);
        const int familyB = familyOf(nameB);
        if (familyA != familyB)
            return familyA < familyB;
        return naturalLess(nameA, nameB);
    });
    return names;
}

} // namespace v38::serial
