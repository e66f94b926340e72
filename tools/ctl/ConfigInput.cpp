#include "ConfigInput.h"

#include "ConfigFile.h"
#include "ConfigJson.h"
#include "FileMessages.h"
#include "Messages.h"
#include "ReplaceFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace fs = std::filesystem;

namespace v38::ctl {

namespace {
constexpr std::string_view Utf8Mark = "\xEF\xBB\xBF";

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isText(std::string_view bytes) {
    return std::none_of(bytes.begin(), bytes.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return (b < 0x20 && !isBlank(c)) || b == 0x7F;
    });
}

// A text in UTF-16, as some editors save: a byte-order mark, or ASCII characters with
// a zero byte before or after each, for the first four characters.
bool isUtf16(std::string_view bytes) {
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (bytes.size() >= 2 && ((at(0) == 0xFF && at(1) == 0xFE) || (at(0) == 0xFE && at(1) == 0xFF)))
        return true;
    const auto zeroAt = [&](std::size_t zero) {
        if (bytes.size() < 8)
            return false;
        for (std::size_t i = 0; i < 8; i += 2) {
            const unsigned char c = at(i + 1 - zero);
            if (at(i + zero) != 0 || c == 0 || c >= 0x80)
                return false;
        }
        return true;
    };
    return zeroAt(0) || zeroAt(1);
}

// What bytes that are neither a document nor a configuration file look like, so that
// the user knows what to do with them.
std::string lookOf(std::string_view bytes) {
    if (bytes.empty())
        return say(Msg::LookEmpty);
    if (isUtf16(bytes))
        return say(Msg::LookUtf16);
    if (isText(bytes.substr(0, 4096)))
        return say(Msg::LookText);
    if (bytes.size() < ConfigFileSize)
        return say(Msg::LookShort, {std::to_string(bytes.size()), std::to_string(ConfigFileSize)});
    return say(Msg::LookBadCrc);
}

bool readAll(std::istream& in, std::string& bytes) {
    // One byte past the largest document is enough to refuse it as too large.
    bytes.assign(MaxConfigJsonSize + 1, '\0');
    in.read(bytes.data(), std::streamsize(bytes.size()));
    bytes.resize(std::size_t(in.gcount()));
    return !in.bad();
}

// Files and pipes (a document reached through /dev/fd/N) are read; folders and
// devices are not, so that a serial port is never read from (or blocked on). Empty
// when `name` may be read, else why not.
std::string unreadable(const std::string& name) {
    std::error_code error;
    const fs::file_status status = fs::status(name, error);
    if (status.type() == fs::file_type::not_found)
        return systemReason(ENOENT, currentLanguage());
    if (error)
        return systemReason(error, currentLanguage());
    if (fs::is_directory(status))
        return systemReason(EISDIR, currentLanguage());
    if (namesDevice(name) || fs::is_character_file(status) || fs::is_block_file(status))
        return say(Msg::DeviceNotRead);
    return {};
}
} // namespace

std::string standardInputName() {
    return say(Msg::StandardInput);
}

std::string standardOutputName() {
    return say(Msg::StandardOutput);
}

std::string shownInputName(const std::string& name) {
    return name == "-" ? standardInputName() : name;
}

bool decodeConfiguration(std::string_view bytes, const std::string& shown, ConfigImage& image,
                         std::string& error) {
    std::string_view text = bytes;
    if (text.substr(0, Utf8Mark.size()) == Utf8Mark)
        text.remove_prefix(Utf8Mark.size());
    const auto start = std::find_if_not(text.begin(), text.end(), isBlank);
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    // A list is no document either, but import says so better than a look would.
    const bool document = start != text.end() && (*start == '{' || *start == '[');
    if (document && !isUtf16(bytes)) {
        const std::string reason = importConfigJson(text, image, currentLanguage());
        if (reason.empty())
            return true;
        // A configuration file may begin with the bytes of '{' too (flags 0x7B).
        if (decodeConfigFile(data, bytes.size(), image) == FileStatus::Ok)
            return true;
        error = shown + ": " + reason + "\n";
        return false;
    }
    if (decodeConfigFile(data, bytes.size(), image) == FileStatus::Ok)
        return true;
    error = BadFileMessage + shown + ": " + lookOf(bytes) + "\n";
    return false;
}

bool loadConfiguration(const std::string& name, ConfigImage& image, std::string& error) {
    const std::string shown = shownInputName(name);
    std::string bytes;
    std::string reason;
    bool read = false;
    if (name == "-") {
#ifdef _WIN32
        ::_setmode(::_fileno(stdin), _O_BINARY);
#endif
        read = readAll(std::cin, bytes);
    } else if (reason = unreadable(name); reason.empty()) {
        errno = 0;
        std::ifstream in(fs::path(name), std::ios::binary);
        read = in.is_open() && readAll(in, bytes);
        if (!read)
            reason = systemReason(errno ? errno : EIO, currentLanguage());
        FileDetails found;
        found.leftoverCopy = leftoverCopy(name);
        std::fputs(leftoverCopyNotice(found, name, currentLanguage()).c_str(), stderr);
    }
    if (!read) {
        error = fileStatusMessage(FileStatus::CannotOpen, shown) +
                (reason.empty() ? std::string() : reason + "\n");
        return false;
    }
    return decodeConfiguration(bytes, shown, image, error);
}

} // namespace v38::ctl
