#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace v38 {

enum class ReplaceResult {
    Replaced,
    CannotCreate, // the target is not a regular file, or no file can be created beside it
    WriteFailed,  // writing, syncing, closing or renaming failed
};

// Replaces the file at `path` with `size` bytes, or creates it: the bytes go to a
// temporary file in the same folder, are flushed to the disk and renamed over the
// target. On any failure the target is as it was and no temporary file is left.
// A symbolic link is kept and the path it names is written. A writable file in a
// folder that takes no new file is overwritten in place instead; if that write fails
// the result is WriteFailed and the file may be damaged.
ReplaceResult replaceFile(const std::filesystem::path& path, const std::uint8_t* data,
                          std::size_t size);

// True for a name that reaches a device instead of a file wherever it stands: on
// Windows CON, PRN, AUX, NUL, COM1..COM9 and LPT1..LPT9, with any extension. POSIX
// has no such names.
bool namesDevice(const std::filesystem::path& path);

} // namespace v38
