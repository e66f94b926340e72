#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace v38 {

enum class ReplaceResult {
    Replaced,
    CannotCreate, // not a regular file we may write, no file can be created beside it, or
                  // held open by another program that lets nobody write it
    WriteFailed,  // writing, syncing, closing or renaming failed
};

// Replaces the file at `path` with `size` bytes, or creates it readable and writable
// by its owner only (the file holds what it takes to make a service card; on Windows
// a new file takes its folder's security). The bytes go to a temporary file in the
// same folder, are flushed to the disk and put in the target's place, which keeps
// what the file is besides its contents: mode, owner and group, extended attributes
// and ACLs on POSIX; attributes, security and creation time on Windows. On any failure
// the target is as it was and no temporary file is left. A symbolic link is followed
// hop by hop and kept, and the path it names is written.
//
// A file that cannot be replaced without changing it (another hard link, an owner or
// an attribute we cannot give a new file, a folder that refuses the rename, a file
// another Windows program holds open but lets us write) is written in place instead,
// its old contents kept in a copy beside it until the new ones are on the disk and
// put back if the write fails. Where the folder takes no new file there is no copy,
// and a WriteFailed there can leave the file damaged.
ReplaceResult replaceFile(const std::filesystem::path& path, const std::uint8_t* data,
                          std::size_t size);

// True for a name that reaches a device instead of a file wherever it stands: on
// Windows CON, PRN, AUX, NUL, COM1..COM9 and LPT1..LPT9, with any extension. POSIX
// has no such names.
bool namesDevice(const std::filesystem::path& path);

} // namespace v38
