#include "ConfigJson.h"

#include "HexText.h"
#include "PrefixEntry.h"
#include "ServiceCard.h"
#include "TextTable.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <set>
#include <string_view>
#include <vector>

namespace v38 {

namespace {
using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;

// A well-formed configuration nests three levels deep; refuse long before the
// parser's own stack matters.
constexpr int MaxDepth = 8;
// Values, keys and the parser's own quotes are shortened to this many characters, so
// that a refusal stays one readable line whatever the document holds.
constexpr std::size_t ShownLength = 40;
constexpr std::uint8_t OtherFlagBits = 0xFF & ~FlagsMask;

bool isErased(const std::uint8_t* bytes, std::size_t count) {
    return std::all_of(bytes, bytes + count, [](std::uint8_t b) { return b == Erased; });
}

// An entry that prefix and position say exactly: active, a prefix of 1..7 characters,
// and nothing after its end but 0xF nibbles.
bool isPlainEntry(const std::uint8_t bytes[4], PrefixEntry& entry) {
    entry = decodeEntry(bytes);
    if (entry.position == 0 || entry.text.empty())
        return false;
    std::uint8_t again[4];
    return encodeEntry(entry.position, entry.text, again) == EntryStored &&
           std::equal(again, again + 4, bytes);
}

OrderedJson exportEntries(const ConfigImage& image) {
    OrderedJson entries = OrderedJson::array();
    for (int i = 0; i < EntryCount; ++i) {
        const std::uint8_t* bytes = image.entry(i);
        PrefixEntry entry;
        if (isPlainEntry(bytes, entry))
            entries.push_back(
                {{"number", i + 1}, {"prefix", entry.text}, {"position", entry.position}});
        else if (!isErased(bytes, EntrySize))
            entries.push_back({{"number", i + 1}, {"hex", hexText(bytes, EntrySize)}});
    }
    return entries;
}

// Indented as usual, but one line per prefix entry, so that a change to an entry is a
// change to one line under version control.
std::string layout(const OrderedJson& document) {
    std::string out = "{";
    for (auto field = document.begin(); field != document.end(); ++field) {
        out += (field == document.begin() ? "\n  \"" : ",\n  \"") + field.key() + "\": ";
        if (field.key() == "prefixes" && !field.value().empty()) {
            out += "[";
            for (std::size_t i = 0; i < field.value().size(); ++i)
                out += (i ? ",\n    " : "\n    ") + field.value()[i].dump();
            out += "\n  ]";
            continue;
        }
        const std::string value = field.value().dump(2);
        for (char c : value)
            out += c == '\n' ? std::string("\n  ") : std::string(1, c);
    }
    return out + "\n}\n";
}

// --- import ---

// The rules a document can break, each with its text in English and in Polish; {} stands
// for a figure the refusal names.
enum class Rule {
    MustBeObject,
    UnknownField,
    Missing,
    WholeNumber,
    TimeRange,
    PrefixNumberRange,
    PositionRange,
    MustBeString,
    HexLength,
    HexDigitsOnly,
    TrueOrFalse,
    OtherBits,
    MustBeList,
    PrefixNumberTwice,
    HexOrPrefix,
    PrefixLength,
    PrefixAlphabet,
    ReadOnlyReading,
    Format,
    Version,
    TooLarge,
    TooDeep,
    KeyTwice,
    NotJson,
};

constexpr TextRow<Rule> RuleTexts[] = {
    {Rule::MustBeObject, "must be an object", "musi być obiektem"},
    {Rule::UnknownField, "unknown field", "nieznane pole"},
    {Rule::Missing, "missing", "brak"},
    {Rule::WholeNumber, "must be a whole number", "musi być liczbą całkowitą"},
    {Rule::TimeRange, "a time is 0..255", "czas to 0..255"},
    {Rule::PrefixNumberRange, "a prefix number is 1..100", "numer prefiksu to 1..100"},
    {Rule::PositionRange, "a position is 1..15", "pozycja to 1..15"},
    {Rule::MustBeString, "must be a string", "musi być napisem"},
    {Rule::HexLength, "must be {} hex digits ({} bytes), not {}",
     "liczba cyfr szesnastkowych musi wynosić {} ({} B), a wynosi {}"},
    {Rule::HexDigitsOnly, "must hold hex digits only", "może zawierać tylko cyfry szesnastkowe"},
    {Rule::TrueOrFalse, "must be true or false", "musi być true albo false"},
    {Rule::OtherBits, "may hold bits 6 and 7 only (C0)", "może zawierać tylko bity 6 i 7 (C0)"},
    {Rule::MustBeList, "must be a list", "musi być listą"},
    {Rule::PrefixNumberTwice, "this prefix number is given twice",
     "ten numer prefiksu podano dwukrotnie"},
    {Rule::HexOrPrefix, "an entry is either hex or prefix and position, not both",
     "wpis ma albo hex, albo prefix i position, nie oba naraz"},
    {Rule::PrefixLength, "a prefix has 1..7 characters", "prefiks ma od 1 do 7 znaków"},
    {Rule::PrefixAlphabet, "character {} is outside the prefix alphabet 0123456789:;<=>",
     "znak {} jest spoza alfabetu prefiksu 0123456789:;<=>"},
    {Rule::ReadOnlyReading, "read-only: the hex reads \"{}\"; change the hex instead",
     "tylko do odczytu: hex daje \"{}\"; zmień hex"},
    {Rule::Format, "must be \"{}\"", "musi być \"{}\""},
    {Rule::Version, "this v38ctl reads version {}", "ten v38ctl czyta wersję {}"},
    {Rule::TooLarge, "larger than {} KiB: no configuration document",
     "większy niż {} KiB: to nie dokument konfiguracji"},
    {Rule::TooDeep, "nested deeper than {} levels", "zagnieżdżenie głębsze niż {} poziomów"},
    {Rule::KeyTwice, "given twice", "podane dwukrotnie"},
    {Rule::NotJson, "not valid JSON: {}", "niepoprawny JSON: {}"},
};

static_assert(rowsInOrder(RuleTexts, std::size_t(Rule::NotJson) + 1),
              "one text for every rule, in the order of Rule");

// Where a document breaks which rule; put in words only at the end, in the language
// asked for.
struct Refusal {
    std::string where;
    std::string value; // as found, shortened; empty where the rule names none
    Rule rule;
    std::vector<std::string> figures;

    std::string text(TextLanguage language) const {
        return where + (value.empty() ? "" : " = " + value) + ": " +
               fillPattern(textIn(RuleTexts[std::size_t(rule)], language), figures.begin(),
                           figures.end());
    }
};

// At most `limit` bytes of UTF-8 text, cut between two characters, "..." where cut.
std::string shortened(const std::string& text, std::size_t limit = ShownLength) {
    if (text.size() <= limit)
        return text;
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end) + "...";
}

std::string shown(const Json& value) {
    return shortened(value.dump(-1, ' ', true));
}

// The root is "/", as a reader expects, although its JSON pointer is empty.
std::string where(const std::string& path) {
    return path.empty() ? "/" : path;
}

[[noreturn]] void refuse(const std::string& path, const Json& value, Rule rule,
                         std::vector<std::string> figures = {}) {
    throw Refusal{where(path), shown(value), rule, std::move(figures)};
}

[[noreturn]] void refuse(const std::string& path, Rule rule) {
    throw Refusal{where(path), {}, rule, {}};
}

// A key as a step of a JSON pointer, shortened; control characters, which a key may
// hold escaped, are not printed.
std::string pointerStep(const std::string& key) {
    std::string out = "/";
    for (char c : shortened(key)) {
        if (c == '~')
            out += "~0";
        else if (c == '/')
            out += "~1";
        else
            out += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
    }
    return out;
}

// Every field is known and every required one is there.
const Json& object(const Json& value, const std::string& path,
                   std::initializer_list<const char*> required,
                   std::initializer_list<const char*> optional = {}) {
    if (!value.is_object())
        refuse(path, value, Rule::MustBeObject);
    for (const auto& field : value.items()) {
        const auto known = [&](const char* name) { return field.key() == name; };
        if (std::none_of(required.begin(), required.end(), known) &&
            std::none_of(optional.begin(), optional.end(), known))
            refuse(path + pointerStep(field.key()), Rule::UnknownField);
    }
    for (const char* name : required) {
        if (!value.contains(name))
            refuse(path + "/" + name, Rule::Missing);
    }
    return value;
}

// A whole number, written as such or with a fraction of zero (10.0, 1e1): JSON does
// not tell them apart, and neither does the schema.
int integer(const Json& value, const std::string& path, int low, int high, Rule rule) {
    if (value.is_number_float()) {
        const double number = value.get<double>();
        if (!std::isfinite(number) || std::floor(number) != number)
            refuse(path, value, Rule::WholeNumber);
        if (number < low || number > high)
            refuse(path, value, rule);
        return static_cast<int>(number);
    }
    if (!value.is_number_integer())
        refuse(path, value, Rule::WholeNumber);
    // Numbers beyond the signed range come as unsigned; compare them as such.
    const bool inRange =
        value.is_number_unsigned()
            ? value.get<std::uint64_t>() <= std::uint64_t(high) &&
                  std::int64_t(value.get<std::uint64_t>()) >= low
            : value.get<std::int64_t>() >= low && value.get<std::int64_t>() <= high;
    if (!inRange)
        refuse(path, value, rule);
    return static_cast<int>(value.get<std::int64_t>());
}

const std::string& text(const Json& value, const std::string& path) {
    if (!value.is_string())
        refuse(path, value, Rule::MustBeString);
    return value.get_ref<const std::string&>();
}

void hexBytes(const Json& value, const std::string& path, std::uint8_t* out, std::size_t count) {
    const std::string& digits = text(value, path);
    if (digits.size() != 2 * count)
        refuse(path, value, Rule::HexLength,
               {std::to_string(2 * count), std::to_string(count), std::to_string(digits.size())});
    const auto digit = [&](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        refuse(path, value, Rule::HexDigitsOnly);
    };
    for (std::size_t i = 0; i < count; ++i)
        out[i] = std::uint8_t(digit(digits[2 * i]) << 4 | digit(digits[2 * i + 1]));
}

void importFlags(const Json& flags, ConfigImage& image) {
    object(flags, "/flags",
           {"doorSensor", "doorSensorOpenWhenClosed", "presenceSensorNC", "bankFormat",
            "halfStripe", "proximityServiceCards"},
           {"otherBits"});
    std::uint8_t byte = 0;
    for (const FlagName& flag : FlagNames) {
        const Json& value = flags[flag.name];
        if (!value.is_boolean())
            refuse(std::string("/flags/") + flag.name, value, Rule::TrueOrFalse);
        if (value.get<bool>())
            byte |= flag.flag;
    }
    if (flags.contains("otherBits")) {
        std::uint8_t other = 0;
        hexBytes(flags["otherBits"], "/flags/otherBits", &other, 1);
        if (other & ~OtherFlagBits)
            refuse("/flags/otherBits", flags["otherBits"], Rule::OtherBits);
        byte |= other;
    }
    image[offset::flags] = byte;
}

void importTimes(const Json& times, ConfigImage& image) {
    object(times, "/times", {TimeNames[0].name, TimeNames[1].name, TimeNames[2].name});
    for (const TimeName& time : TimeNames) {
        image[time.offset] = std::uint8_t(
            integer(times[time.name], std::string("/times/") + time.name, 0, 255, Rule::TimeRange));
    }
}

void importPrefixes(const Json& prefixes, ConfigImage& image) {
    if (!prefixes.is_array())
        refuse("/prefixes", prefixes, Rule::MustBeList);
    std::set<int> seen;
    for (std::size_t k = 0; k < prefixes.size(); ++k) {
        const std::string path = "/prefixes/" + std::to_string(k);
        const Json& entry = object(prefixes[k], path, {"number"}, {"prefix", "position", "hex"});
        const int number =
            integer(entry["number"], path + "/number", 1, EntryCount, Rule::PrefixNumberRange);
        if (!seen.insert(number).second)
            refuse(path + "/number", entry["number"], Rule::PrefixNumberTwice);
        std::uint8_t* bytes = image.entry(number - 1);
        if (entry.contains("hex")) {
            if (entry.contains("prefix") || entry.contains("position"))
                refuse(path, Rule::HexOrPrefix);
            hexBytes(entry["hex"], path + "/hex", bytes, EntrySize);
            continue;
        }
        if (!entry.contains("prefix") || !entry.contains("position"))
            refuse(path + (entry.contains("prefix") ? "/position" : "/prefix"), Rule::Missing);
        const std::string& prefix = text(entry["prefix"], path + "/prefix");
        // Characters, as a reader (and the schema) counts them, not UTF-8 bytes.
        const auto characters = std::count_if(prefix.begin(), prefix.end(), [](char c) {
            return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
        });
        if (prefix.empty() || characters > MaxPrefixLength)
            refuse(path + "/prefix", entry["prefix"], Rule::PrefixLength);
        if (const auto bad = std::find_if_not(prefix.begin(), prefix.end(), isPrefixChar);
            bad != prefix.end())
            refuse(path + "/prefix", entry["prefix"], Rule::PrefixAlphabet,
                   {std::to_string(bad - prefix.begin() + 1)});
        const int position =
            integer(entry["position"], path + "/position", 1, MaxPosition, Rule::PositionRange);
        encodeEntry(position, prefix, bytes);
    }
}

void importServiceCards(const Json& cards, ConfigImage& image) {
    object(cards, "/serviceCards", {"card1", "card2"});
    for (int k = 0; k < ServiceCardCount; ++k) {
        const std::string name = "card" + std::to_string(k + 1);
        const std::string path = "/serviceCards/" + name;
        const Json& card = object(cards[name], path, {"hex"}, {"magnetic", "proximity"});
        std::uint8_t bytes[ServiceCardSize];
        hexBytes(card["hex"], path + "/hex", bytes, ServiceCardSize);
        // The readings are there to be read; what is stored is the hex.
        const auto reading = [&](const char* field, const std::string& expected) {
            if (card.contains(field) && text(card[field], path + "/" + field) != expected)
                refuse(path + "/" + field, card[field], Rule::ReadOnlyReading, {expected});
        };
        reading("magnetic", magneticCardText(bytes));
        reading("proximity", proximityCardText(bytes));
        std::copy(bytes, bytes + ServiceCardSize, image.data() + serviceCardOffset(k));
    }
}

// Where the parser stands: one step per open object or array.
class ParsePath {
public:
    // An element (a value, an object, an array) begins.
    void element() {
        if (!steps_.empty() && steps_.back().array)
            ++steps_.back().index;
    }
    void open(bool array) {
        steps_.emplace_back();
        steps_.back().array = array;
    }
    void close() {
        if (!steps_.empty())
            steps_.pop_back();
    }
    // A key of the innermost object; false when that object has it already.
    bool key(const std::string& name) {
        if (steps_.empty())
            return true;
        steps_.back().key = name;
        steps_.back().hasKey = true;
        return steps_.back().keys.insert(name).second;
    }
    std::string text() const {
        std::string out;
        for (const Step& step : steps_) {
            if (step.array && step.index >= 0)
                out += "/" + std::to_string(step.index);
            else if (!step.array && step.hasKey)
                out += pointerStep(step.key);
        }
        return where(out);
    }

private:
    struct Step {
        bool array = false;
        long index = -1;
        bool hasKey = false;
        std::string key;
        std::set<std::string> keys;
    };
    std::vector<Step> steps_;
};

// Parses with limits that the document model does not give: nesting depth and
// repeated keys, which would otherwise silently keep the last value. A refusal names
// where the parser stood.
Json parse(std::string_view text) {
    if (text.size() > MaxConfigJsonSize)
        throw Refusal{"/", {}, Rule::TooLarge, {std::to_string(MaxConfigJsonSize / 1024)}};
    ParsePath path;
    const Json::parser_callback_t check = [&](int depth, Json::parse_event_t event, Json& parsed) {
        using Event = Json::parse_event_t;
        if (event == Event::object_start || event == Event::array_start || event == Event::value)
            path.element();
        if (depth > MaxDepth)
            throw Refusal{path.text(), {}, Rule::TooDeep, {std::to_string(MaxDepth)}};
        if (event == Event::object_start || event == Event::array_start)
            path.open(event == Event::array_start);
        else if (event == Event::object_end || event == Event::array_end)
            path.close();
        else if (event == Event::key && !path.key(parsed.get<std::string>()))
            throw Refusal{path.text(), {}, Rule::KeyTwice, {}};
        return true;
    };
    try {
        return Json::parse(text.begin(), text.end(), check);
    } catch (const Json::exception& error) {
        // parse_error, and out_of_range for a number beyond a double (1e400).
        // The library's text quotes what it read last, which may be any bytes at all.
        std::string what = error.what();
        what = what.substr(what.find(']') + 2);
        for (char& c : what) {
            if (static_cast<unsigned char>(c) >= 0x80 || static_cast<unsigned char>(c) < 0x20)
                c = '?';
        }
        throw Refusal{path.text(), {}, Rule::NotJson, {shortened(what, 4 * ShownLength)}};
    }
}
} // namespace

std::string exportConfigJson(const ConfigImage& image) {
    OrderedJson flags;
    for (const FlagName& flag : FlagNames)
        flags[flag.name] = (image[offset::flags] & flag.flag) != 0;
    const std::uint8_t other = image[offset::flags] & OtherFlagBits;
    if (other)
        flags["otherBits"] = hexText(&other, 1);
    OrderedJson times;
    for (const TimeName& time : TimeNames)
        times[time.name] = image[time.offset];
    OrderedJson cards;
    for (int k = 0; k < ServiceCardCount; ++k) {
        const std::uint8_t* card = image.serviceCard(k);
        cards["card" + std::to_string(k + 1)] = {{"hex", hexText(card, ServiceCardSize)},
                                                 {"magnetic", magneticCardText(card)},
                                                 {"proximity", proximityCardText(card)}};
    }
    OrderedJson document = {{"format", ConfigJsonFormat},
                            {"version", ConfigJsonVersion},
                            {"flags", flags},
                            {"times", times},
                            {"prefixes", exportEntries(image)},
                            {"serviceCards", cards},
                            {"reserved", hexText(image.data() + offset::reserved, ReservedSize)}};
    return layout(document);
}

std::string importConfigJson(std::string_view text, ConfigImage& image, TextLanguage language) {
    try {
        const Json document = parse(text);
        // "$schema" is how editors tie a document to its schema; it means nothing here.
        object(document, "",
               {"format", "version", "flags", "times", "prefixes", "serviceCards", "reserved"},
               {"$schema"});
        if (document.contains("$schema") && !document["$schema"].is_string())
            refuse("/$schema", document["$schema"], Rule::MustBeString);
        if (document["format"] != ConfigJsonFormat)
            refuse("/format", document["format"], Rule::Format, {ConfigJsonFormat});
        if (document["version"] != ConfigJsonVersion)
            refuse("/version", document["version"], Rule::Version,
                   {std::to_string(ConfigJsonVersion)});
        ConfigImage read = ConfigImage::erased();
        importFlags(document["flags"], read);
        importTimes(document["times"], read);
        importPrefixes(document["prefixes"], read);
        importServiceCards(document["serviceCards"], read);
        hexBytes(document["reserved"], "/reserved", read.data() + offset::reserved, ReservedSize);
        image = read;
        return {};
    } catch (const Refusal& refusal) {
        return refusal.text(language);
    }
}

} // namespace v38
