#include "OverwriteInPlace.h"
#include "ReplaceFile.h"

#include <chrono>
#include <cwctype>
#include <random>
#include <string>
#include <system_error>
#include <vector>
#include <windows.h>
// After windows.h:
#include <aclapi.h>
#include <sddl.h>
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

// A file's identity: the volume and the file's number on it.
struct Identity {
    DWORD volume = 0;
    DWORD high = 0;
    DWORD low = 0;
    DWORD attributes = 0;
    bool operator==(const Identity& o) const {
        return volume == o.volume && high == o.high && low == o.low;
    }
};

bool identify(HANDLE file, Identity& identity) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info))
        return false;
    identity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow,
                info.dwFileAttributes};
    return true;
}

// The file a name reaches now, itself and never what a link there names, without
// keeping it open: false with the error when there is none.
bool identifyName(const std::filesystem::path& path, Identity& identity) {
    HANDLE file = CreateFileW(
        path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool known = identify(file, identity);
    CloseHandle(file);
    return known;
}

// Security that lets only the user who runs us in: for a file that holds card data
// until it is in its place. Null where it cannot be made (then a file takes its
// folder's security, as before).
class PrivateSecurity {
public:
    PrivateSecurity() {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
            return;
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        std::vector<std::uint8_t> user(size);
        const bool known = GetTokenInformation(token, TokenUser, user.data(), size, &size);
        CloseHandle(token);
        LPWSTR sid = nullptr;
        if (!known ||
            !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid))
            return;
        // Protected: nothing inherited from the folder; the user alone, with full access.
        const std::wstring text = L"D:P(A;;FA;;;" + std::wstring(sid) + L")";
        LocalFree(sid);
        if (ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1,
                                                                 &descriptor_, nullptr))
            attributes_ = {sizeof attributes_, descriptor_, FALSE};
    }
    ~PrivateSecurity() {
        if (descriptor_)
            LocalFree(descriptor_);
    }
    PrivateSecurity(const PrivateSecurity&) = delete;
    PrivateSecurity& operator=(const PrivateSecurity&) = delete;
    SECURITY_ATTRIBUTES* get() { return descriptor_ ? &attributes_ : nullptr; }

private:
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
    SECURITY_ATTRIBUTES attributes_{};
};

// A name no one can guess, for a file of ours in a folder others may write.
std::wstring randomName() {
    static std::random_device entropy;
    static const wchar_t digits[] = L"0123456789abcdefghijklmnopqrstuvwxyz";
    std::wstring name = L".v38-";
    for (int i = 0; i < 12; ++i)
        name += digits[entropy() % 36];
    return name;
}

// A new file beside the target under an unpredictable name (CREATE_NEW makes the claim
// atomic), readable and writable by us alone until it is in its place.
HANDLE createBeside(const std::filesystem::path& target, std::filesystem::path& created) {
    PrivateSecurity security;
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        created = target;
        created.replace_filename(randomName());
        // Shared for deletion only, so that it can be renamed while still open (the copy of
        // an in-place write takes its name once synced); its owner-only security keeps
        // everyone else out.
        HANDLE file = CreateFileW(created.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE,
                                  security.get(), CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        const DWORD failure = GetLastError();
        if (file != INVALID_HANDLE_VALUE ||
            (failure != ERROR_FILE_EXISTS && failure != ERROR_ALREADY_EXISTS)) {
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
        name.replace_filename(randomName() + L"-old");
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

std::string reasonOf(DWORD error) {
    return error == 0 ? std::string() : std::system_category().message(int(error));
}

// Puts `replacement` in the place of the existing file `target` with the call made for
// it, which keeps the replaced file's attributes, security and creation time, as long
// as the name still reaches the file examined (`examined`). Virus scanners, indexers
// and cloud clients open new files for a moment, so a replacement refused as held is
// tried again for about two seconds.
bool replaceExisting(const std::filesystem::path& target, const std::filesystem::path& replacement,
                     const Identity& examined, FileDetails& details) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point giveUp = Clock::now() + std::chrono::seconds(2);
    DWORD pause = 20;
    for (;;) {
        Identity now;
        if (!identifyName(target, now) || !(now == examined) ||
            (now.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            details.refusal = FileRefusal::Changed;
            return false;
        }
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
        details.reason = reasonOf(failure);
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
// copy beside it, named NAME.v38-copy only once it is whole, until the new ones are on
// the disk. The file opened must be the one examined, and no link.
ReplaceResult writeInPlace(const std::filesystem::path& target, const Identity& examined,
                           const std::uint8_t* data, std::size_t size, FileDetails& details) {
    std::filesystem::path copyPath = target;
    copyPath.replace_filename(target.filename().wstring() + L".v38-copy");
    if (GetFileAttributesW(copyPath.c_str()) != INVALID_FILE_ATTRIBUTES) {
        details.refusal = FileRefusal::CopyInTheWay;
        details.leftoverCopy = copyPath;
        return ReplaceResult::CannotCreate; // that copy may be all that is left of a file
    }
    constexpr DWORD Shared = FILE_SHARE_READ | FILE_SHARE_WRITE; // what the holder may do
    constexpr DWORD Flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    HANDLE file = CreateFileW(target.c_str(), GENERIC_READ | GENERIC_WRITE, Shared, nullptr,
                              OPEN_EXISTING, Flags, nullptr);
    const bool readable = file != INVALID_HANDLE_VALUE;
    if (!readable) // a holder that lets others write but not read: no copy
        file = CreateFileW(target.c_str(), GENERIC_WRITE, Shared, nullptr, OPEN_EXISTING, Flags,
                           nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        details.reason = reasonOf(GetLastError());
        return ReplaceResult::CannotCreate;
    }
    Identity opened;
    if (!identify(file, opened) || !(opened == examined)) {
        CloseHandle(file);
        details.refusal = FileRefusal::Changed;
        return ReplaceResult::CannotCreate;
    }

    std::filesystem::path unfinished;
    HANDLE copyFile = readable ? createBeside(target, unfinished) : INVALID_HANDLE_VALUE;
    const bool hasCopy = copyFile != INVALID_HANDLE_VALUE;
    if (readable && !hasCopy && GetLastError() != ERROR_ACCESS_DENIED) {
        details.reason = reasonOf(GetLastError());
        CloseHandle(file);
        return ReplaceResult::WriteFailed; // no room for the copy: leave the file alone
    }
    // The copy, synced, takes its name before the file is touched.
    class Copy final : public OpenFile {
    public:
        Copy(HANDLE handle, const std::filesystem::path& from, const std::filesystem::path& to)
            : file_(handle), from_(from), to_(to) {}
        long long readAt(std::uint64_t o, std::uint8_t* b, std::size_t n) override {
            return file_.readAt(o, b, n);
        }
        bool writeAt(std::uint64_t o, const std::uint8_t* d, std::size_t n) override {
            return file_.writeAt(o, d, n);
        }
        bool resize(std::uint64_t n) override { return file_.resize(n); }
        bool sync() override {
            named = file_.sync() &&
                    MoveFileExW(from_.c_str(), to_.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
            return named;
        }
        bool named = false;

    private:
        WindowsFile file_;
        const std::filesystem::path& from_;
        const std::filesystem::path& to_;
    };
    WindowsFile written(file);
    Copy copy(copyFile, unfinished, copyPath);
    const OverwriteResult result =
        overwriteKeepingCopy(written, hasCopy ? &copy : nullptr, data, size);
    const DWORD failure = GetLastError();
    const bool closed = CloseHandle(file);
    if (hasCopy) {
        CloseHandle(copyFile);
        if (result == OverwriteResult::Failed && copy.named)
            details.oldContentsIn = copyPath;
        else
            DeleteFileW(copy.named ? copyPath.c_str() : unfinished.c_str());
    }
    if (result == OverwriteResult::Written && closed)
        return ReplaceResult::Replaced;
    details.reason = reasonOf(failure);
    return ReplaceResult::WriteFailed;
}

ReplaceResult save(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size,
                   FileDetails& details) {
    if (path.empty() || namesDevice(path))
        return ReplaceResult::CannotCreate;
    const std::filesystem::path target = linkTarget(path);
    if (target.empty() || target.filename().empty() || namesDevice(target))
        return ReplaceResult::CannotCreate;
    details.leftoverCopy = leftoverCopy(target);

    // Only a regular, writable file is ever replaced: never a folder or a device. What is
    // examined is the file itself, never what a link put there since names.
    Identity examined;
    const bool exists = identifyName(target, examined);
    if (!exists && GetLastError() != ERROR_FILE_NOT_FOUND) {
        details.reason = reasonOf(GetLastError());
        return ReplaceResult::CannotCreate; // a file we cannot look at, or no such folder
    }
    const DWORD attributes = examined.attributes;
    if (exists && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        details.refusal = FileRefusal::Changed; // a link where the links ended a moment ago
        return ReplaceResult::CannotCreate;
    }
    if (exists && (attributes &
                   (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DEVICE))) {
        details.reason = reasonOf(ERROR_ACCESS_DENIED);
        return ReplaceResult::CannotCreate;
    }

    std::filesystem::path temporary;
    HANDLE file = createBeside(target, temporary);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD failure = GetLastError();
        if (exists && failure == ERROR_ACCESS_DENIED)
            return writeInPlace(target, examined, data, size, details);
        details.reason = reasonOf(failure);
        return failure == ERROR_DISK_FULL || failure == ERROR_HANDLE_DISK_FULL
                   ? ReplaceResult::WriteFailed
                   : ReplaceResult::CannotCreate;
    }
    WindowsFile written(file);
    bool ok = written.writeAt(0, data, size) && written.sync();
    const DWORD writeFailure = GetLastError();
    ok = CloseHandle(file) && ok;
    if (ok && exists) {
        // ReplaceFileW carries the attributes and the security over itself; set the
        // attributes beforehand too, so that a system whose replacement does not still
        // keeps them.
        constexpr DWORD Kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                               FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
        SetFileAttributesW(temporary.c_str(),
                           (attributes & Kept) ? (attributes & Kept) : FILE_ATTRIBUTE_NORMAL);
        if (replaceExisting(target, temporary, examined, details))
            return ReplaceResult::Replaced;
        DeleteFileW(temporary.c_str());
        if (details.refusal == FileRefusal::Changed)
            return ReplaceResult::CannotCreate;
        return writeInPlace(target, examined, data, size, details);
    }
    // A new file: never over one that appeared since.
    if (!ok || !MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
        const DWORD failure = ok ? GetLastError() : writeFailure;
        DeleteFileW(temporary.c_str());
        details.reason = reasonOf(failure);
        if (failure == ERROR_ALREADY_EXISTS || failure == ERROR_FILE_EXISTS) {
            details.refusal = FileRefusal::Changed;
            return ReplaceResult::CannotCreate;
        }
        return ReplaceResult::WriteFailed;
    }
    // In its place, a new file takes its folder's security, as every new file does.
    ACL empty;
    if (InitializeAcl(&empty, sizeof empty, ACL_REVISION))
        SetNamedSecurityInfoW(const_cast<LPWSTR>(target.c_str()), SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, &empty, nullptr);
    return ReplaceResult::Replaced;
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
    FileDetails ignored;
    FileDetails& into = details ? *details : ignored;
    into = FileDetails();
    return save(path, data, size, into);
}

} // namespace v38
