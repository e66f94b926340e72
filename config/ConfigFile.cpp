#include "ConfigFile.h"

#include "ReplaceFile.h"
#include "crc16.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <system_error>

namespace v38 {

ConfigFileBytes encodeConfigFile(const ConfigImage& image) {
    ConfigFileBytes bytes{};
    std::copy(image.begin(), image.end(), bytes.begin());
    const std::uint16_t crc = crc16(image.data(), image.size(), Crc16Init);
    bytes[ConfigImage::Size] = static_cast<std::uint8_t>(crc & 0xFF);
    bytes[ConfigImage::Size + 1] = static_cast<std::uint8_t>(crc >> 8);
    return bytes;
}

FileStatus decodeConfigFile(const std::uint8_t* data, std::size_t size, ConfigImage& image) {
    if (size < ConfigFileSize || crc16(data, ConfigFileSize, Crc16Init) != 0)
        return FileStatus::BadFile;
    std::copy(data, data + ConfigImage::Size, image.begin());
    return FileStatus::Ok;
}

FileStatus readConfigFile(const std::filesystem::path& path, ConfigImage& image,
                          FileDetails* details) {
    FileDetails ignored;
    FileDetails& into = details ? *details : ignored;
    into = FileDetails();
    into.leftoverCopy = leftoverCopy(path);
    // Folders, devices and pipes are not configuration files: refuse them before
    // opening, so that a device is never read from (or blocked on).
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (namesDevice(path) || !std::filesystem::is_regular_file(status)) {
        if (status.type() == std::filesystem::file_type::not_found)
            into.error = ENOENT;
        else if (std::filesystem::is_directory(status))
            into.error = EISDIR;
        else if (!error)
            into.refusal = FileRefusal::NotARegularFile;
        else if (carriesErrno(error))
            into.error = error.value();
        else
            into.reason = error.message();
        return FileStatus::CannotOpen;
    }
    errno = 0;
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) {
        into.error = errno ? errno : EACCES;
        return FileStatus::CannotOpen;
    }
    ConfigFileBytes bytes{};
    file.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
    return decodeConfigFile(bytes.data(), std::size_t(file.gcount()), image);
}

FileStatus writeConfigFile(const std::filesystem::path& path, const ConfigImage& image,
                           FileDetails* details) {
    const ConfigFileBytes bytes = encodeConfigFile(image);
    switch (replaceFile(path, bytes.data(), bytes.size(), details)) {
    case ReplaceResult::Replaced:
        return FileStatus::Ok;
    case ReplaceResult::CannotCreate:
        return FileStatus::CannotOpen;
    case ReplaceResult::WriteFailed:
        break;
    }
    return FileStatus::WriteFailed;
}

} // namespace v38
