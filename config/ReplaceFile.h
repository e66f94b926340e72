#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

namespace v38 {

enum class ReplaceResult {
    Replaced,
    CannotCreate, // not a regular file we may write, no file can be created beside it, or
                  // held open by another program that lets nobody write it
    WriteFailed,  // writing, syncing, closing or renaming failed
};

// Why a file was refused that the system itself would have let us write.
enum class FileRefusal {
    None,
    NotARegularFile, // a device, a pipe or a socket where a file was expected
    ForeignLink,     // a link in a shared folder that neither we nor the folder's owner made
    ForeignFile,     // an existing file in a shared folder that another user owns
    CopyInTheWay,    // an in-place write, with a copy an interrupted save left beside the file
    Changed,         // the file was swapped for another while it was being saved
};

// What a file operation found besides its result, for the messages.
struct FileDetails {
    FileRefusal refusal = FileRefusal::None;
    int error = 0;                       // the system's error (errno) behind a failure
    std::string reason;                  // the system's reason as text, in UTF-8, where it
                                         // gives no errno (Windows)
    std::filesystem::path leftoverCopy;  // a copy an interrupted save left beside the file
    std::filesystem::path oldContentsIn; // after a failed write that could not be undone
};

// True for an error whose value is an errno, for FileDetails::error; Windows' own codes
// are told as text instead, in the user's language.
inline bool carriesErrno(const std::error_code& error) {
#ifdef _WIN32
    return error.category() == std::generic_category();
#else
    return error.category() == std::generic_category() ||
           error.category() == std::system_category();
#endif
}

// Replaces the file at `path` with `size` bytes, or creates it readable and writable
// by its owner only (the file holds what it takes to make a service card; on Windows
// a new file gets an owner-only ACL until it is in place). The bytes go to a file of
// our own in the same folder, private until they are on the disk, and it is put in the
// target's place, keeping what the file is besides its contents: mode, owner and group,
// extended attributes and ACLs on POSIX; attributes, security and creation time on
// Windows. On any failure the target is as it was and no temporary file is left.
//
// Every step works on the one folder it opened and on the file it examined: a folder
// swapped for a link half-way, or a file swapped for another, cannot turn the save onto
// something else. Symbolic links are followed and kept, the path they name is written;
// in a shared folder (sticky and writable by all, such as /tmp) a link is followed, and
// an existing file written, only when it is ours or the folder owner's, as the kernel's
// own protection of such folders has it.
//
// A file that cannot be replaced without changing it (another hard link, an owner or
// an attribute we cannot give a new file, a folder that refuses the rename, a file
// another Windows program holds open but lets us write) is written in place instead,
// its old contents kept in NAME.v38-copy beside it until the new ones are on the disk
// and put back if the write fails. That copy takes its name only once it is whole and
// synced, so a NAME.v38-copy is always a whole copy; while one exists (an earlier save
// was interrupted) no in-place write is started. Where the folder takes no new file
// there is no copy, and a WriteFailed there can leave the file damaged.
ReplaceResult replaceFile(const std::filesystem::path& path, const std::uint8_t* data,
                          std::size_t size, FileDetails* details = nullptr);

// The copy an interrupted save left beside `path` (or beside the file its links lead
// to), or an empty path when there is none.
std::filesystem::path leftoverCopy(const std::filesystem::path& path);

// The name of the copy that an in-place write of a file named `name` keeps.
std::string copyName(const std::string& name);

// True for a name that reaches a device instead of a file wherever it stands: on
// Windows CON, PRN, AUX, NUL, COM1..COM9 and LPT1..LPT9, with any extension. POSIX
// has no such names.
bool namesDevice(const std::filesystem::path& path);

} // namespace v38
