#include "OverwriteInPlace.h"
#include "ReplaceFile.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#ifdef __linux__
#include <sys/xattr.h>
#endif

namespace v38 {

namespace {

bool writeAll(int fd, std::uint64_t offset, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size, off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        offset += std::uint64_t(n);
        size -= std::size_t(n);
    }
    return true;
}

class PosixFile final : public OpenFile {
public:
    explicit PosixFile(int fd) : fd_(fd) {}
    long long readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) override {
        for (;;) {
            const ssize_t n = ::pread(fd_, buffer, size, off_t(offset));
            if (n >= 0 || errno != EINTR)
                return n;
        }
    }
    bool writeAt(std::uint64_t offset, const std::uint8_t* data, std::size_t size) override {
        return writeAll(fd_, offset, data, size);
    }
    bool resize(std::uint64_t size) override { return ::ftruncate(fd_, off_t(size)) == 0; }
    bool sync() override { return ::fsync(fd_) == 0; }

private:
    int fd_;
};

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

// A new file beside the target, readable and writable by us alone, under a name no
// other file has (O_EXCL makes the claim atomic): `wanted` when it is free, else a
// short one, so that beside a name of the longest length there is still room.
int createBeside(const std::filesystem::path& target, const std::string& wanted,
                 std::filesystem::path& created) {
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        created = target;
        created.replace_filename(attempt == 0 && !wanted.empty()
                                     ? wanted
                                     : ".v38-" + std::to_string(::getpid()) + "-" +
                                           std::to_string(attempt));
        const int fd =
            ::open(created.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0 || (errno != EEXIST && errno != ENAMETOOLONG))
            return fd;
    }
    return -1;
}

// Makes a rename or a new name in the target's folder survive a crash.
void syncFolder(const std::filesystem::path& target) {
    const std::filesystem::path folder =
        target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        (void)::fsync(fd);
        ::close(fd);
    }
}

// Extended attributes of `from` (ACLs are kept among them) set on the open file `to`.
// False when one of them cannot be read or set there.
bool copyAttributes(const std::filesystem::path& from, int to) {
#ifdef __linux__
    ssize_t length = ::listxattr(from.c_str(), nullptr, 0);
    if (length < 0)
        return errno == ENOTSUP; // a file system without them
    std::vector<char> names(std::size_t(length) + 1, '\0');
    length = ::listxattr(from.c_str(), names.data(), names.size() - 1);
    if (length < 0)
        return false;
    std::vector<char> value(64 * 1024); // the largest value Linux stores
    std::vector<char> present(value.size());
    for (const char* name = names.data(); name < names.data() + length;
         name += std::string(name).size() + 1) {
        const ssize_t size = ::getxattr(from.c_str(), name, value.data(), value.size());
        if (size < 0)
            return false;
        // A security label the new file already has is not set again: setting one can
        // need a permission that keeping it does not.
        const ssize_t own = ::fgetxattr(to, name, present.data(), present.size());
        if (own == size && std::equal(value.begin(), value.begin() + size, present.begin()))
            continue;
        if (::fsetxattr(to, name, value.data(), std::size_t(size), 0) != 0)
            return false;
    }
#else
    (void)from;
    (void)to;
#endif
    return true;
}

// Gives the new file `fd` what the replaced file is besides its contents: owner and
// group, extended attributes and ACLs, and mode (last: a change of owner clears the
// set-id bits). False when the system does not allow one of them.
bool takeOver(int fd, const std::filesystem::path& target, const struct stat& old) {
    struct stat mine {};
    if (::fstat(fd, &mine) != 0)
        return false;
    if ((mine.st_uid != old.st_uid || mine.st_gid != old.st_gid) &&
        ::fchown(fd, old.st_uid, old.st_gid) != 0)
        return false;
    return copyAttributes(target, fd) && ::fchmod(fd, old.st_mode & 07777) == 0;
}

// Overwrites the file where it stands, for a file that a rename would change or that
// its folder lets nobody replace. Its old contents are kept in a copy beside it until
// the new ones are synced; in a folder that takes no new file there is nowhere to keep
// one.
ReplaceResult writeInPlace(const std::filesystem::path& target, const std::uint8_t* data,
                           std::size_t size) {
    int fd = ::open(target.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    const bool readable = fd >= 0;
    if (!readable && errno == EACCES) // a file we may write but not read has no copy
        fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return ReplaceResult::CannotCreate;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return ReplaceResult::CannotCreate;
    }

    std::filesystem::path copyPath;
    const int copyFd =
        readable ? createBeside(target, target.filename().string() + ".v38-copy", copyPath) : -1;
    if (readable && copyFd < 0 && errno != EACCES && errno != EPERM) {
        ::close(fd);
        return ReplaceResult::WriteFailed; // no room for the copy: leave the file alone
    }
    PosixFile file(fd);
    PosixFile copy(copyFd);
    if (copyFd >= 0)
        syncFolder(target);
    const OverwriteResult result =
        overwriteKeepingCopy(file, copyFd >= 0 ? &copy : nullptr, data, size);
    const bool closed = ::close(fd) == 0;
    if (copyFd >= 0) {
        ::close(copyFd);
        if (result != OverwriteResult::Failed)
            ::unlink(copyPath.c_str());
    }
    return result == OverwriteResult::Written && closed ? ReplaceResult::Replaced
                                                        : ReplaceResult::WriteFailed;
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
    struct stat old {};
    const bool exists = ::lstat(target.c_str(), &old) == 0;
    if (exists && (!S_ISREG(old.st_mode) || ::access(target.c_str(), W_OK) != 0))
        return ReplaceResult::CannotCreate;
    if (!exists && errno != ENOENT)
        return ReplaceResult::CannotCreate;
    // A rename would leave the other names of the file with the old contents.
    if (exists && old.st_nlink > 1)
        return writeInPlace(target, data, size);

    std::filesystem::path temporary;
    const int fd = createBeside(target, {}, temporary);
    if (fd < 0) {
        if (exists && (errno == EACCES || errno == EPERM))
            return writeInPlace(target, data, size);
        return ReplaceResult::CannotCreate;
    }
    if (exists && !takeOver(fd, target, old)) {
        ::close(fd);
        ::unlink(temporary.c_str());
        return writeInPlace(target, data, size);
    }

    bool ok = writeAll(fd, 0, data, size);
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        ::unlink(temporary.c_str());
        return ReplaceResult::WriteFailed;
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        const int refused = errno;
        ::unlink(temporary.c_str());
        if (exists && (refused == EPERM || refused == EACCES || refused == EBUSY))
            return writeInPlace(target, data, size);
        return ReplaceResult::WriteFailed;
    }
    syncFolder(target); // a failure here no longer endangers the data
    return ReplaceResult::Replaced;
}

} // namespace v38
