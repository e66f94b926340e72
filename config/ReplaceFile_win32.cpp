#include "ReplaceFile.h"

#include <cwctype>
#include <string>
#include <windows.h>

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

// A writable file in a folder that takes no new file cannot be replaced, only
// overwritten: truncate it and write it where it is.
ReplaceResult writeInPlace(const std::wstring& target, const std::uint8_t* data, std::size_t size) {
    HANDLE file = CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return ReplaceResult::CannotCreate;
    DWORD written = 0;
    bool ok = WriteFile(file, data, DWORD(size), &written, nullptr) && written == size;
    ok = FlushFileBuffers(file) && ok;
    ok = CloseHandle(file) && ok;
    return ok ? ReplaceResult::Replaced : ReplaceResult::WriteFailed;
}

} // namespace

ReplaceResult replaceFile(const std::filesystem::path& path, const std::uint8_t* data,
                          std::size_t size) {
    if (path.empty() || namesDevice(path))
        return ReplaceResult::CannotCreate;
    const std::wstring target = path.wstring();

    // Only a regular, writable file is ever replaced: never a folder or a device.
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    const bool exists = std::filesystem::exists(status);
    if (exists) {
        const DWORD attributes = GetFileAttributesW(target.c_str());
        if (!std::filesystem::is_regular_file(status) || attributes == INVALID_FILE_ATTRIBUTES ||
            (attributes & FILE_ATTRIBUTE_READONLY))
            return ReplaceResult::CannotCreate;
    }

    // A short name beside the target, so that a name of the longest length can still
    // be saved.
    std::filesystem::path folder = path;
    folder.remove_filename();
    std::wstring temporary;
    HANDLE file = INVALID_HANDLE_VALUE;
    DWORD failure = 0;
    for (unsigned attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = (folder / (L".v38-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                               std::to_wstring(attempt)))
                        .wstring();
        file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        failure = file == INVALID_HANDLE_VALUE ? GetLastError() : 0;
        if (file == INVALID_HANDLE_VALUE && failure != ERROR_FILE_EXISTS)
            break;
    }
    if (file == INVALID_HANDLE_VALUE) {
        if (exists && failure == ERROR_ACCESS_DENIED)
            return writeInPlace(target, data, size);
        return ReplaceResult::CannotCreate;
    }

    DWORD written = 0;
    bool ok = WriteFile(file, data, DWORD(size), &written, nullptr) && written == size;
    ok = ok && FlushFileBuffers(file);
    ok = CloseHandle(file) && ok;
    ok = ok && MoveFileExW(temporary.c_str(), target.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) {
        DeleteFileW(temporary.c_str());
        return ReplaceResult::WriteFailed;
    }
    return ReplaceResult::Replaced;
}

} // namespace v38
