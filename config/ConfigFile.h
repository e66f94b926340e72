#pragma once

#include "ConfigImage.h"
#include "ReplaceFile.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace v38 {

// A configuration file is the 512-byte image followed by its crc16, low byte first;
// no header, no version. crc16 over all 514 bytes of a good file is 0.
inline constexpr std::size_t ConfigFileSize = ConfigImage::Size + 2;
using ConfigFileBytes = std::array<std::uint8_t, ConfigFileSize>;

enum class FileStatus {
    Ok,
    CannotOpen,  // missing, a folder or a device, no permission
    BadFile,     // shorter than 514 bytes, or the CRC does not check
    WriteFailed, // the file could not be written whole
};

ConfigFileBytes encodeConfigFile(const ConfigImage& image);
// Checks the first 514 bytes of `data`; bytes after them are ignored. On failure
// `image` is untouched.
FileStatus decodeConfigFile(const std::uint8_t* data, std::size_t size, ConfigImage& image);

// Reads at most 514 bytes of the file, whatever its size. On failure `image` is untouched.
// `details`, when given, gets the system's reason for a failure and a copy an
// interrupted save left beside the file.
FileStatus readConfigFile(const std::filesystem::path& path, ConfigImage& image,
                          FileDetails* details = nullptr);

// Writes the file through replaceFile: a temporary file beside the target, synced and
// put in its place, so that a failed save leaves the old file as it was, except where
// the file must be written in place (see replaceFile).
FileStatus writeConfigFile(const std::filesystem::path& path, const ConfigImage& image,
                           FileDetails* details = nullptr);

} // namespace v38
