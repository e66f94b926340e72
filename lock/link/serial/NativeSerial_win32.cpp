// Serial ports on Windows: the communications API on "\\.\COMn", synchronous I/O with
// total time-outs.
#include "PortInfo.h"
#include "SerialSystem.h"

#include <string>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace v38::serial {

namespace {
static_assert(sizeof(DCB) == 28, "DCBlength is 28");

HANDLE toHandle(PortHandle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

std::string systemText(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string out;
    if (length > 0) {
        const int size =
            ::WideCharToMultiByte(CP_UTF8, 0, text, int(length), nullptr, 0, nullptr, nullptr);
        out.resize(std::size_t(size > 0 ? size : 0));
        ::WideCharToMultiByte(CP_UTF8, 0, text, int(length), out.data(), size, nullptr, nullptr);
    }
    ::LocalFree(text);
    while (!out.empty() &&
           (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.'))
        out.pop_back();
    return out.empty() ? "error " + std::to_string(error) : out;
}

// A port that another program holds answers "access denied": COM ports are opened
// without sharing, and there are no per-user rights on them to speak of.
OpenError classify(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return OpenError::Absent;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return OpenError::InUse;
    default:
        return OpenError::Other;
    }
}

class Win32SerialSystem final : public SerialSystem {
public:
    PortHandle open(int port, OpenFailure& failure) override {
        // The \\.\ prefix reaches ports above COM9 too.
        const std::string name = "\\\\.\\COM" + std::to_string(port);
        const HANDLE handle = ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                            OPEN_EXISTING, 0, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            const DWORD error = ::GetLastError();
            failure = OpenFailure{classify(error), systemText(error), {}};
            return InvalidPortHandle;
        }
        // A COM port is a character device. Wine opens a port mapped to a missing path
        // and hands back a handle of no type: nothing is behind it.
        if (const DWORD type = ::GetFileType(handle); type != FILE_TYPE_CHAR) {
            ::CloseHandle(handle);
            failure = type == FILE_TYPE_UNKNOWN
                          ? OpenFailure{OpenError::Absent, {}, {}}
                          : OpenFailure{OpenError::Other, "not a serial device", {}};
            return InvalidPortHandle;
        }
        failure = OpenFailure{};
        return reinterpret_cast<PortHandle>(handle);
    }

    bool configure(PortHandle handle, const LineSettings& settings) override {
        DCB dcb{};
        dcb.DCBlength = sizeof(DCB);
        if (!::GetCommState(toHandle(handle), &dcb))
            return false;
        // Fields not set here keep what the driver returned (XON/XOFF limits and
        // characters, the error and event characters).
        dcb.DCBlength = sizeof(DCB);
        dcb.BaudRate = static_cast<DWORD>(settings.baud);
        dcb.fBinary = 1;
        dcb.fParity = 0; // a parity bit is sent but received bytes are not checked
        dcb.fOutxCtsFlow = 0;
        dcb.fOutxDsrFlow = 0;
        dcb.fDtrControl = settings.dtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
        dcb.fDsrSensitivity = 0;
        dcb.fOutX = 0;
        dcb.fInX = 0;
        dcb.fErrorChar = 0;
        dcb.fNull = 0;
        dcb.fRtsControl = settings.rts ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
        dcb.fAbortOnError = 0;
        dcb.ByteSize = static_cast<BYTE>(settings.dataBits);
        switch (settings.parity) {
        case Parity::None:
            dcb.Parity = NOPARITY;
            break;
        case Parity::Odd:
            dcb.Parity = ODDPARITY;
            break;
        case Parity::Even:
            dcb.Parity = EVENPARITY;
            break;
        }
        dcb.StopBits = settings.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
        return ::SetCommState(toHandle(handle), &dcb) != 0;
    }

    bool setQueues(PortHandle handle, std::uint32_t inQueue, std::uint32_t outQueue) override {
        return ::SetupComm(toHandle(handle), inQueue, outQueue) != 0;
    }

    bool setTimeouts(PortHandle handle, const Timeouts& timeouts) override {
        COMMTIMEOUTS commTimeouts{};
        commTimeouts.ReadIntervalTimeout = 0; // none between characters
        commTimeouts.ReadTotalTimeoutMultiplier = timeouts.readMultiplier;
        commTimeouts.ReadTotalTimeoutConstant = timeouts.readConstant;
        commTimeouts.WriteTotalTimeoutMultiplier = timeouts.writeMultiplier;
        commTimeouts.WriteTotalTimeoutConstant = timeouts.writeConstant;
        return ::SetCommTimeouts(toHandle(handle), &commTimeouts) != 0;
    }

    // The counts decide, not the success flags: a time-out or a failure reports what moved.
    std::uint32_t write(PortHandle handle, const std::uint8_t* data, std::uint32_t count) override {
        DWORD written = 0;
        ::WriteFile(toHandle(handle), data, count, &written, nullptr);
        return written;
    }

    std::uint32_t read(PortHandle handle, std::uint8_t* buffer, std::uint32_t count) override {
        DWORD received = 0;
        ::ReadFile(toHandle(handle), buffer, count, &received, nullptr);
        return received;
    }

    // Only as many bytes as the driver holds: ReadFile returns them without waiting.
    std::uint32_t readWaiting(PortHandle handle, std::uint8_t* buffer,
                              std::uint32_t count) override {
        DWORD errors = 0;
        COMSTAT status{};
        if (!::ClearCommError(toHandle(handle), &errors, &status) || status.cbInQue == 0)
            return 0;
        DWORD received = 0;
        ::ReadFile(toHandle(handle), buffer, count < status.cbInQue ? count : status.cbInQue,
                   &received, nullptr);
        return received;
    }

    // A removed device makes ReadFile fail at once rather than wait, and the WriteFile
    // of the next attempt fails too, which drops the port.
    bool hungUp(PortHandle) override { return false; }

    void close(PortHandle handle) override { ::CloseHandle(toHandle(handle)); }

    void sleep(std::uint32_t milliseconds) override { ::Sleep(milliseconds); }

    // The performance counter, not the tick count: GetTickCount64 moves in steps of about
    // 15.6 ms, longer than a whole probe exchange, so it cannot tell an answer from an
    // early one.
    std::uint64_t microseconds() override {
        LARGE_INTEGER count{};
        ::QueryPerformanceCounter(&count);
        const std::uint64_t ticks = static_cast<std::uint64_t>(count.QuadPart);
        const std::uint64_t perSecond = frequency();
        return ticks / perSecond * 1000000 + ticks % perSecond * 1000000 / perSecond;
    }

private:
    static std::uint64_t frequency() {
        static const std::uint64_t perSecond = [] {
            LARGE_INTEGER f{};
            ::QueryPerformanceFrequency(&f);
            return f.QuadPart > 0 ? static_cast<std::uint64_t>(f.QuadPart) : 1;
        }();
        return perSecond;
    }
};
} // namespace

SerialSystem& nativeSerialSystem() {
    static Win32SerialSystem system;
    return system;
}

} // namespace v38::serial
