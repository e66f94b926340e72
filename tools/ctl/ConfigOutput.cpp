#include "ConfigOutput.h"

#include "ConfigInput.h"
#include "FileMessages.h"
#include "Messages.h"
#include "ReplaceFile.h"

#include <cctype>
#include <cstdio>
#include <filesystem>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace v38::ctl {

namespace {
bool isStandardOutputTerminal() {
#ifdef _WIN32
    return ::_isatty(::_fileno(stdout)) != 0;
#else
    return ::isatty(STDOUT_FILENO) != 0;
#endif
}

// An existing target that is not a regular file: a device or a pipe.
bool isStream(const std::string& name) {
    if (namesDevice(name))
        return true;
    std::error_code error;
    const fs::file_status status = fs::status(name, error);
    return !error && fs::exists(status) && !fs::is_regular_file(status) &&
           !fs::is_directory(status);
}

bool isTerminalDevice(const std::string& name) {
#ifdef _WIN32
    (void)name;
    return false;
#else
    std::error_code error;
    if (!fs::is_character_file(name, error))
        return false;
    const int fd = ::open(name.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool terminal = ::isatty(fd) != 0;
    ::close(fd);
    return terminal;
#endif
}

std::string failed(const char* message, const std::string& shown) {
    return message + shown + "\n";
}

std::string writeStream(std::FILE* stream, std::string_view bytes, const std::string& shown) {
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
    return written && std::fflush(stream) == 0 ? std::string() : failed(WriteFailedMessage, shown);
}
} // namespace

bool isJsonName(const std::string& name) {
    constexpr std::string_view suffix = ".json";
    if (name.size() < suffix.size())
        return false;
    std::string end = name.substr(name.size() - suffix.size());
    for (char& c : end)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return end == suffix;
}

std::string terminalRefusal(const std::string& name, bool binary) {
    if (!binary)
        return {};
    if (name == "-" ? isStandardOutputTerminal() : isTerminalDevice(name))
        return say(Msg::TerminalRefusal, {name == "-" ? standardOutputName() : name}) + "\n";
    return {};
}

std::string sameFileRefusal(const std::string& input, const std::string& output) {
    if (input == "-" || output == "-")
        return {};
    std::error_code error;
    if (!fs::equivalent(input, output, error) || error)
        return {};
    return say(Msg::SameFileRefusal, {output}) + "\n";
}

std::string writeOutput(const std::string& name, std::string_view bytes) {
    if (name == "-") {
#ifdef _WIN32
        ::_setmode(::_fileno(stdout), _O_BINARY);
#endif
        return writeStream(stdout, bytes, standardOutputName());
    }
    if (isStream(name)) {
        std::FILE* stream = std::fopen(name.c_str(), "wb");
        if (!stream)
            return fileStatusMessage(FileStatus::CannotOpen, name);
        std::string error = writeStream(stream, bytes, name);
        if (std::fclose(stream) != 0 && error.empty())
            error = failed(WriteFailedMessage, name);
        return error;
    }
    switch (replaceFile(name, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size())) {
    case ReplaceResult::Replaced:
        return {};
    case ReplaceResult::CannotCreate:
        return fileStatusMessage(FileStatus::CannotOpen, name);
    case ReplaceResult::WriteFailed:
        break;
    }
    return failed(WriteFailedMessage, name);
}

} // namespace v38::ctl
