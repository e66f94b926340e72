// Loading a configuration file from arbitrary bytes, from memory and through the file
// reader: a load that succeeds gives back exactly the file's first 512 bytes, one that
// fails leaves the image as it was, and both paths always agree.
#include "FuzzCheck.h"

#include "ConfigFile.h"
#include "crc16.h"

#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

using namespace v38;
using v38::fuzz::check;

namespace {

// An image that no decoder would produce by accident: a copy of it is easy to tell
// from a load.
ConfigImage marked() {
    ConfigImage image;
    for (std::size_t i = 0; i < ConfigImage::Size; ++i)
        image[i] = std::uint8_t(i * 7 + 3);
    return image;
}

// The bytes as a real file, without touching the disk: a memory file reached by path.
class MemoryFile {
public:
    MemoryFile() : fd_(::memfd_create("v38-fuzz", 0)) {
        check(fd_ >= 0, "a memory file can be made");
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    void fill(const std::uint8_t* data, std::size_t size) {
        check(::ftruncate(fd_, 0) == 0 && ::pwrite(fd_, data, size, 0) == ssize_t(size),
              "the memory file takes the input");
    }
    const std::string& path() const { return path_; }

private:
    int fd_;
    std::string path_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const bool checks = size >= ConfigFileSize && crc16(data, ConfigFileSize, Crc16Init) == 0;

    ConfigImage image = marked();
    const FileStatus status = decodeConfigFile(data, size, image);
    if (checks) {
        check(status == FileStatus::Ok, "a file whose first 514 bytes check is loaded");
        check(std::memcmp(image.data(), data, ConfigImage::Size) == 0,
              "a load gives back exactly the first 512 bytes");
        const ConfigFileBytes again = encodeConfigFile(image);
        check(std::memcmp(again.data(), data, ConfigFileSize) == 0,
              "saving what was loaded gives the same 514 bytes");
    } else {
        check(status == FileStatus::BadFile, "a short or damaged file is refused as bad");
        check(image == marked(), "a refused file leaves the image untouched");
    }

    static MemoryFile file;
    file.fill(data, size);
    ConfigImage fromFile = marked();
    check(readConfigFile(file.path(), fromFile) == status, "the file reader agrees");
    check(fromFile == image, "the file reader loads the same bytes");
    return 0;
}
