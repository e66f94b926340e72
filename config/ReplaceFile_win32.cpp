#include "OverwriteInPlace.h"
#include "ReplaceFile.h"

#include <chrono>
#include <cwctype>
#include <string>
#include <vector>
#include <windows.h>
#include <winioctl.h>

namespace v38 {

// CON, PRN, AUX, NUL, COM1..COM9 and LPT1..LPT9 name devices in every folder, with any
// extension, even where the file system reports no such file. Refused by name, so that
// no device is ever opened, for reading or for writing.
bool namesDevice(const std::filesystem::path& path) {
    std::wstring stem = path.filename().wstring();
    stem = stem.substr(0, stem.find(L'.'));
    while (!stem.empty() && (stem.back() == L' ' || stem.back() == L':'))
        stem.pop_back();
    for (wchar_t& c : stem)
        c = wchar_t(std::towupper(c));
    if (stem == L"CON" || stem == L"PRN" || stem == L"AUX" || stem == L"NUL")
        return true;
    return stem.size() == 4 &&
           (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0) &&
           stem[3] >= L'1' && stem[3] <= L'9';
}

namespace {

class WindowsFile final : public OpenFile {
public:
    explicit WindowsFile(HANDLE file) : file_(file) {}
    long long readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) override {
        OVERLAPPED at = place(offset);
        DWORD read = 0;
        if (ReadFile(file_, buffer, DWORD(size), &read, &at))
            return read;
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    }
    bool writeAt(std::uint64_t offset, const std::uint8_t* data, std::size_t size) override {
        while (size > 0) {
            OVERLAPPED at = place(offset);
            DWORD written = 0;
            if (!WriteFile(file_, data, DWORD(size), &written, &at) || written == 0)
                return false;
            data += written;
            offset += written;
            size -= written;
        }
        return true;
    }
    bool resize(std::uint64_t size) override {
        LARGE_INTEGER end;
        end.QuadPart = LONGLONG(size);
        return SetFilePointerEx(file_, end, nullptr, FILE_BEGIN) && SetEndOfFile(file_);
    }
    bool sync() override { return FlushFileBuffers(file_); }

private:
    static OVERLAPPED place(std::uint64_t offset) {
        OVERLAPPED at{};
        at.Offset = DWORD(offset);
        at.OffsetHigh = DWORD(offset >> 32);
        return at;
    }
    HANDLE file_;
};

// The reparse data of a symbolic link, as FSCTL_GET_REPARSE_POINT gives it.
struct SymbolicLinkData {
    DWORD tag;
    WORD dataLength;
    WORD reserved;
    WORD substituteOffset;
    WORD substituteLength;
    WORD printOffset;
    WORD printLength;
    ULONG flags;
    WCHAR names[1];
};

// What the symbolic link `link` names, as written in it. False when `link` is no
// symbolic link (other reparse points, such as a cloud file's placeholder, are files
// of their own).
bool readSymbolicLink(const std::filesystem::path& link, std::filesystem::path& next,
                      bool& relative) {
    HANDLE handle = CreateFileW(
        link.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    std::vector<std::uint8_t> buffer(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
    DWORD got = 0;
    const bool read = DeviceIoControl(handle, FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer.data(),
                                      DWORD(buffer.size()), &got, nullptr);
    CloseHandle(handle);
    const auto* data = reinterpret_cast<const SymbolicLinkData*>(buffer.data());
    if (!read || got < offsetof(SymbolicLinkData, names) || data->tag != IO_REPARSE_TAG_SYMLINK)
        return false;
    // The name shown to people is the plain path; the other one is in the kernel's
    // form ("\??\C:\...").
    const bool printed = data->printLength > 0;
    std::wstring name(data->names + (printed ? data->printOffset : data->substituteOffset) / 2,
                      (printed ? data->printLength : data->substituteLength) / 2);
    if (!printed && name.compare(0, 4, L"\\??\\") == 0)
        name[1] = L'\\';
    next = name;
    relative = (data->flags & SYMLINK_FLAG_RELATIVE) != 0;
    return true;
}

// The file a save through `path` must write: a symbolic link is followed hop by hop to
// the path it names, resolved from the link's own folder, whether or not that file
// exists yet, so that the link itself is never replaced. Empty for a loop.
std::filesystem::path linkTarget(const std::filesystem::path& path) {
    constexpr int MaxLinks = 63; // as the system allows
    std::filesystem::path target = path;
    for (int hops = 0; hops <= MaxLinks; ++hops) {
        const DWORD attributes = GetFileAttributesW(target.c_str());
        std::filesystem::path next;
        bool relative = false;
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
            !readSymbolicLink(target, next, relative))
            return target;
        target = relative ? target.parent_path() / next : next;
    }
    return {};
}

// A new file beside the target, under a name no other file has (CREATE_NEW makes the
// claim atomic): `wanted` when it is free, else a short one, so that beside a name of
// the longest length there is still room. A new file takes its folder's security.
HANDLE createBeside(const std::filesystem::path& target, const std::wstring& wanted,
                    std::filesystem::path& created) {
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        created = target;
        created.replace_filename(attempt == 0 && !wanted.empty()
                                     ? wanted
                                     : L".v38-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                           std::to_wstring(attempt));
        HANDLE file = CreateFileW(created.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        const DWORD failure = GetLastError();
        if (file != INVALID_HANDLE_VALUE ||
            (failure != ERROR_FILE_EXISTS && failure != ERROR_ALREADY_EXISTS &&
             failure != ERROR_FILENAME_EXCED_RANGE)) {
            SetLastError(failure);
            return file;
        }
    }
    return INVALID_HANDLE_VALUE;
}

// A name beside the target that no file has now, for ReplaceFileW to move the old file
// to while it puts the new one in its place.
std::filesystem::path freeNameBeside(const std::filesystem::path& target) {
    std::filesystem::path name = target;
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        name.replace_filename(L".v38-" + std::to_wstring(GetCurrentProcessId()) + L"-old" +
                              std::to_wstring(attempt));
        if (GetFileAttributesW(name.c_str()) == INVALID_FILE_ATTRIBUTES &&
            GetLastError() == ERROR_FILE_NOT_FOUND)
            return name;
    }
    return {};
}

// Refusals that another program holding one of the two files for a moment causes.
bool heldByAnother(DWORD failure) {
    switch (failure) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_ACCESS_DENIED:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
    case ERROR_UNABLE_TO_REMOVE_REPLACED:
    case ERROR_UNABLE_TO_MOVE_REPLACEMENT:
    case ERROR_UNABLE_TO_MOVE_REPLACEMENT_2:
        return true;
    default:
        return false;
    }
}

// Puts `replacement` in the place of the existing file `target` with the call made for
// it, which keeps the replaced file's attributes, security and creation time. Virus
// scanners, indexers and cloud clients open new files for a moment, so a replacement
// refused as held is tried again for about two seconds.
bool replaceExisting(const std::filesystem::path& target,
                     const std::filesystem::path& replacement) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point giveUp = Clock::now() + std::chrono::seconds(2);
    DWORD pause = 20;
    for (;;) {
        // Moved aside rather than deleted, so that a failure half-way leaves it.
        const std::filesystem::path backup = freeNameBeside(target);
        if (backup.empty())
            return false;
        if (ReplaceFileW(target.c_str(), replacement.c_str(), backup.c_str(),
                         REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
            DeleteFileW(backup.c_str());
            return true;
        }
        const DWORD failure = GetLastError();
        if (GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES)
            MoveFileExW(backup.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH);
        if (!heldByAnother(failure) || Clock::now() >= giveUp)
            return false;
        Sleep(pause);
        pause = pause < 200 ? pause * 2 : pause;
    }
}

// Overwrites the file where it stands, as a plain open for writing would, for a file
// another program holds open but lets others write. Its old contents are kept in a
// copy beside it until the new ones are on the disk.
ReplaceResult writeInPlace(const std::filesystem::path& target, const std::uint8_t* data,
                           std::size_t size) {
    constexpr DWORD Shared = FILE_SHARE_READ | FILE_SHARE_WRITE; // what the holder may do
    HANDLE file = CreateFileW(target.c_str(), GENERIC_READ | GENERIC_WRITE, Shared, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool readable = file != INVALID_HANDLE_VALUE;
    if (!readable) // a holder that lets others write but not read: no copy
        file = CreateFileW(target.c_str(), GENERIC_WRITE, Shared, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return ReplaceResult::CannotCreate;

    std::filesystem::path copyPath;
    HANDLE copyFile =
        readable ? createBeside(target, target.filename().wstring() + L".v38-copy", copyPath)
                 : INVALID_HANDLE_VALUE;
    const bool hasCopy = copyFile != INVALID_HANDLE_VALUE;
    if (readable && !hasCopy && GetLastError() != ERROR_ACCESS_DENIED) {
        CloseHandle(file);
        return ReplaceResult::WriteFailed; // no room for the copy: leave the file alone
    }
    WindowsFile written(file);
    WindowsFile copy(copyFile);
    const OverwriteResult result =
        overwriteKeepingCopy(written, hasCopy ? &copy : nullptr, data, size);
    const bool closed = CloseHandle(file);
    if (hasCopy) {
        CloseHandle(copyFile);
        if (result != OverwriteResult::Failed)
            DeleteFileW(copyPath.c_str());
    }
    return result == OverwriteResult::Written && closed ? ReplaceResult::Replaced
                                                        : ReplaceResult::WriteFailed;
}

} // namespace

std::string copyName(const std::string& name) {
    return name + ".v38-copy";
}

std::filesystem::path leftoverCopy(const std::filesystem::path& path) {
    std::filesystem::path file = linkTarget(path);
    if (file.empty() || file.filename().empty())
        return {};
    file.replace_filename(file.filename().wstring() + L".v38-copy");
    return GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES ? file
                                                                        : std::filesystem::path();
}

ReplaceResult replaceFile(const std::filesystem::path& path, const std::uint8_t* data,
                          std::size_t size, FileDetails* details) {
    (void)details;
    if (path.empty() || namesDevice(path))
        return ReplaceResult::CannotCreate;
    const std::filesystem::path target = linkTarget(path);
    if (target.empty() || target.filename().empty() || namesDevice(target))
        return ReplaceResult::CannotCreate;

    // Only a regular, writable file is ever replaced: never a folder or a device.
    const DWORD attributes = GetFileAttributesW(target.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (!exists && GetLastError() != ERROR_FILE_NOT_FOUND)
        return ReplaceResult::CannotCreate; // a file we cannot look at, or no such folder
    if (exists &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DEVICE)))
        return ReplaceResult::CannotCreate;

    std::filesystem::path temporary;
    HANDLE file = createBeside(target, {}, temporary);
    if (file == INVALID_HANDLE_VALUE) {
        if (exists && GetLastError() == ERROR_ACCESS_DENIED)
            return writeInPlace(target, data, size);
        return ReplaceResult::CannotCreate;
    }
    WindowsFile written(file);
    bool ok = written.writeAt(0, data, size) && written.sync();
    ok = CloseHandle(file) && ok;
    if (ok && exists) {
        // ReplaceFileW carries the attributes over itself; set them beforehand too, so
        // that a system whose replacement does not still keeps them.
        constexpr DWORD Kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                               FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
        SetFileAttributesW(temporary.c_str(),
                           (attributes & Kept) ? (attributes & Kept) : FILE_ATTRIBUTE_NORMAL);
        if (replaceExisting(target, temporary))
            return ReplaceResult::Replaced;
        DeleteFileW(temporary.c_str());
        return writeInPlace(target, data, size);
    }
    ok = ok && MoveFileExW(temporary.c_str(), target.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) {
        DeleteFileW(temporary.c_str());
        return ReplaceResult::WriteFailed;
    }
    return ReplaceResult::Replaced;
}

} // namespace v38
