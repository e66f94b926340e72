#include "Console.h"

#include <cerrno>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

namespace v38::ctl {

namespace {
int outputError = 0;

#ifdef _WIN32
bool writeConsole(std::FILE* stream, std::string_view text) {
    const HANDLE handle = ::GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (text.empty() || handle == INVALID_HANDLE_VALUE || !::GetConsoleMode(handle, &mode))
        return false;
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    if (size <= 0)
        return false;
    std::wstring wide(std::size_t(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), wide.data(), size);
    std::fflush(stream); // what went through the C library first comes first
    DWORD written = 0;
    return ::WriteConsoleW(handle, wide.data(), DWORD(wide.size()), &written, nullptr) &&
           written == DWORD(wide.size());
}
#endif
} // namespace

void writeText(std::FILE* stream, std::string_view text) {
#ifdef _WIN32
    if (writeConsole(stream, text))
        return;
#endif
    if (std::fwrite(text.data(), 1, text.size(), stream) != text.size() && stream == stdout)
        outputError = errno;
}

int lastOutputError() {
    return outputError;
}

} // namespace v38::ctl
