#include "ConfigOutput.h"

#include "ConfigInput.h"
#include "FileMessages.h"
#include "Messages.h"
#include "ReplaceFile.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <system_error>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
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

std::string failed(const char* message, const std::string& shown, const std::string& reason = {}) {
    return message + shown + "\n" + (reason.empty() ? std::string() : reason + "\n");
}

std::string writeStream(std::FILE* stream, std::string_view bytes, const std::string& shown) {
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
    const int error = errno;
    return written && std::fflush(stream) == 0
               ? std::string()
               : failed(WriteFailedMessage, shown,
                        systemReason(written ? errno : error, currentLanguage()));
}

std::string cannotOpen(const std::string& name, const std::string& reason) {
    return fileStatusMessage(FileStatus::CannotOpen, name) + reason + "\n";
}

// How long a pipe may take to get its reader: a reader started beside v38ctl in the
// same command line is there by then.
constexpr int ReaderWaitMs = 2000;

#ifdef _WIN32
// A device (NUL, CON) or a named pipe, opened as it is: nothing created or truncated.
// Empty `stream` with no error: not a stream, so a file to replace.
std::string openStream(const std::string& name, std::FILE*& stream) {
    stream = nullptr;
    const std::filesystem::path path = fs::path(name);
    std::error_code error;
    const fs::file_status status = fs::symlink_status(path, error);
    if (!namesDevice(path) && (!fs::exists(status) || fs::is_regular_file(status) ||
                               fs::is_directory(status) || fs::is_symlink(status)))
        return {};
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return cannotOpen(name, std::system_category().message(int(GetLastError())));
    const DWORD type = GetFileType(handle);
    if (type != FILE_TYPE_CHAR && type != FILE_TYPE_PIPE) {
        CloseHandle(handle);
        return cannotOpen(name, say(Msg::NotDeviceOrPipe));
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
    stream = fd >= 0 ? ::_fdopen(fd, "wb") : nullptr;
    if (!stream) {
        const int error = errno;
        fd >= 0 ? (void)::_close(fd) : (void)CloseHandle(handle);
        return cannotOpen(name, systemReason(error, currentLanguage()));
    }
    return {};
}
#else
bool isStreamType(mode_t mode) {
    return S_ISFIFO(mode) || S_ISCHR(mode) || S_ISSOCK(mode);
}

// A link that no one but us and root could have put there or could change: /dev/stdout,
// /dev/fd/N, a link of our own in a folder of our own.
bool isOwnLink(const std::string& name, const struct stat& link) {
    if (link.st_uid != ::geteuid() && link.st_uid != 0)
        return false;
    struct stat folder {};
    const fs::path parent = fs::path(name).parent_path();
    if (::stat(parent.empty() ? "." : parent.c_str(), &folder) != 0)
        return false;
    const bool othersWrite = (folder.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    return (folder.st_uid == ::geteuid() || folder.st_uid == 0) &&
           (!othersWrite || (folder.st_mode & S_ISVTX));
}

// A pipe, a device or a socket, opened as it is: never created or truncated, no link
// followed that another user could have put there, and checked by its descriptor
// before a byte is written. A pipe that gets no reader within two seconds is refused.
// Empty `stream` with no error: not a stream, so a file to replace.
std::string openStream(const std::string& name, std::FILE*& stream) {
    stream = nullptr;
    struct stat seen {};
    if (::lstat(name.c_str(), &seen) != 0)
        return {}; // a file to create, or one that cannot be: replaceFile says which
    int follow = O_NOFOLLOW;
    if (S_ISLNK(seen.st_mode)) {
        struct stat reached {};
        if (::stat(name.c_str(), &reached) != 0 || !isStreamType(reached.st_mode))
            return {}; // a link to a file: replaceFile follows it by its own rules
        if (!isOwnLink(name, seen))
            return cannotOpen(name, say(Msg::ForeignStreamLink));
        seen = reached;
        follow = 0;
    } else if (!isStreamType(seen.st_mode)) {
        return {};
    }
    if (S_ISSOCK(seen.st_mode))
        return cannotOpen(name, say(Msg::SocketNotFile));
    int fd = -1;
    for (int waited = 0;; waited += 50) {
        fd = ::open(name.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | follow);
        if (fd >= 0 || errno != ENXIO || !S_ISFIFO(seen.st_mode) || waited >= ReaderWaitMs)
            break;
        ::usleep(50 * 1000);
    }
    if (fd < 0) {
        if (errno == ENXIO && S_ISFIFO(seen.st_mode))
            return cannotOpen(name, say(Msg::PipeWithoutReader));
        if (errno == ELOOP)
            return cannotOpen(name, say(Msg::SwappedForLink));
        return cannotOpen(name, systemReason(errno, currentLanguage()));
    }
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || !isStreamType(opened.st_mode) ||
        opened.st_dev != seen.st_dev || opened.st_ino != seen.st_ino) {
        ::close(fd);
        return cannotOpen(name, say(Msg::SwappedWhileOpened));
    }
    // Written as any output is, waiting for a slow reader.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    stream = ::fdopen(fd, "w");
    if (!stream) {
        const int error = errno;
        ::close(fd);
        return cannotOpen(name, systemReason(error, currentLanguage()));
    }
    return {};
}
#endif
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
    std::FILE* stream = nullptr;
    if (std::string error = openStream(name, stream); !error.empty())
        return error;
    if (stream) {
        std::string error = writeStream(stream, bytes, name);
        if (std::fclose(stream) != 0 && error.empty())
            error = failed(WriteFailedMessage, name, systemReason(errno, currentLanguage()));
        return error;
    }
    FileDetails details;
    const ReplaceResult result =
        replaceFile(fs::path(name), reinterpret_cast<const std::uint8_t*>(bytes.data()),
                    bytes.size(), &details);
    std::fputs(leftoverCopyNotice(details, name, currentLanguage()).c_str(), stderr);
    switch (result) {
    case ReplaceResult::Replaced:
        return {};
    case ReplaceResult::CannotCreate:
        return cannotOpen(name, fileFailureReason(details, currentLanguage()));
    case ReplaceResult::WriteFailed:
        break;
    }
    return failed(WriteFailedMessage, name, fileFailureReason(details, currentLanguage()));
}

} // namespace v38::ctl
