#include "ReplaceFile.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace v38 {

namespace {

bool writeAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

// The file a save through `path` must write: a symbolic link is followed to the path
// it names, resolved from the link's own folder, whether or not that file exists yet,
// so that the link itself is never replaced. Empty for a loop or an unreadable link.
std::filesystem::path linkTarget(const std::filesystem::path& path) {
    constexpr int MaxLinks = 40; // as the kernel allows
    std::filesystem::path target = path;
    for (int hops = 0; hops <= MaxLinks; ++hops) {
        std::error_code error;
        if (!std::filesystem::is_symlink(std::filesystem::symlink_status(target, error)))
            return target;
        const std::filesystem::path next = std::filesystem::read_symlink(target, error);
        if (error || next.empty())
            return {};
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    return {};
}

// A short name beside the target that no other file has, so that a name of the
// longest length can still be saved; O_EXCL makes the claim atomic.
int createTemporary(const std::filesystem::path& target, std::filesystem::path& temporary,
                    mode_t mode) {
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        temporary = target;
        temporary.replace_filename(".v38-" + std::to_string(::getpid()) + "-" +
                                   std::to_string(attempt));
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

bool syncAndClose(int fd) {
    const bool synced = ::fsync(fd) == 0;
    return (::close(fd) == 0) && synced;
}

// A writable file in a folder that takes no new file cannot be replaced, only
// overwritten: truncate it and write it where it is.
ReplaceResult writeInPlace(const std::filesystem::path& target, const std::uint8_t* data,
                           std::size_t size) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return ReplaceResult::CannotCreate;
    const bool written = writeAll(fd, data, size);
    return syncAndClose(fd) && written ? ReplaceResult::Replaced : ReplaceResult::WriteFailed;
}

} // namespace

bool namesDevice(const std::filesystem::path&) {
    return false;
}

ReplaceResult replaceFile(const std::filesystem::path& path, const std::uint8_t* data,
                          std::size_t size) {
    if (path.empty())
        return ReplaceResult::CannotCreate;
    const std::filesystem::path target = linkTarget(path);
    if (target.empty() || target.filename().empty())
        return ReplaceResult::CannotCreate;

    // Only a regular file is ever replaced: never a folder, a device or a pipe. A file
    // that we may not write stays as it is, although its folder would let us rename
    // over it.
    mode_t mode = 0666; // the umask applies to a new file
    struct stat info {};
    if (::lstat(target.c_str(), &info) == 0) {
        if (!S_ISREG(info.st_mode) || ::access(target.c_str(), W_OK) != 0)
            return ReplaceResult::CannotCreate;
        mode = info.st_mode & 07777;
    } else if (errno != ENOENT) {
        return ReplaceResult::CannotCreate;
    }

    std::filesystem::path temporary;
    const int fd = createTemporary(target, temporary, mode);
    if (fd < 0) {
        if (info.st_mode != 0 && (errno == EACCES || errno == EPERM))
            return writeInPlace(target, data, size);
        return ReplaceResult::CannotCreate;
    }
    if (info.st_mode != 0)
        (void)::fchmod(fd, mode); // keep an existing file's permissions

    bool ok = writeAll(fd, data, size);
    ok = syncAndClose(fd) && ok;
    ok = ok && ::rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temporary.c_str());
        return ReplaceResult::WriteFailed;
    }
    // Make the rename itself durable; a failure here no longer endangers the data.
    const std::filesystem::path folder =
        target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        (void)::fsync(dirFd);
        ::close(dirFd);
    }
    return ReplaceResult::Replaced;
}

} // namespace v38
