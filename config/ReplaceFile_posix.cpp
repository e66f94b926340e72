#include "OverwriteInPlace.h"
#include "ReplaceFile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>
#ifdef __linux__
#include <sys/xattr.h>
#endif

namespace v38 {

namespace {

#ifdef O_PATH
constexpr int LookUpOnly = O_PATH; // needs no read permission, only the right to pass
#else
constexpr int LookUpOnly = O_RDONLY;
#endif
constexpr int MaxLinks = 40; // as the kernel allows

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    // Closes, reporting whether the close succeeded.
    bool close() { return ::close(std::exchange(fd_, -1)) == 0; }

private:
    int fd_;
};

bool writeAll(int fd, std::uint64_t offset, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size, off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            errno = ENOSPC;
        if (n <= 0)
            return false;
        data += n;
        offset += std::uint64_t(n);
        size -= std::size_t(n);
    }
    return true;
}

class PosixFile : public OpenFile {
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

protected:
    int fd_;
};

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A folder that everyone may write and only owners may delete from, such as /tmp: what
// others put there is not to be trusted.
bool isSharedFolder(const struct stat& folder) {
    return (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
}

// The kernel's rule for such folders (fs.protected_symlinks and protected_regular):
// what is there counts as ours when we or the folder's owner own it.
bool trusted(const struct stat& folder, uid_t owner) {
    return !isSharedFolder(folder) || owner == ::geteuid() || owner == folder.st_uid;
}

// The folder a file stands in, opened, and the file's name in it.
struct Place {
    Descriptor folder;
    struct stat folderInfo {};
    std::string name;
    std::filesystem::path shown; // the folder as a path, for messages

    std::filesystem::path pathOf(const std::string& file) const {
        return (shown / file).lexically_normal();
    }
};

std::deque<std::string> components(const std::string& path) {
    std::deque<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    // Empty names and "." stand for the folder itself; kept last, they make the path
    // name a folder, which no file can replace.
    const bool folderOnly = !parts.empty() && (parts.back().empty() || parts.back() == ".");
    parts.erase(std::remove_if(parts.begin(), parts.end(),
                               [](const std::string& p) { return p.empty() || p == "."; }),
                parts.end());
    if (folderOnly)
        parts.push_back(".");
    return parts;
}

Descriptor openRoot(bool absolute) {
    return Descriptor(::open(absolute ? "/" : ".", LookUpOnly | O_DIRECTORY | O_CLOEXEC));
}

// What the symbolic link `name` in `folder` says, when it is a link and one that may be
// followed; `refused` when it belongs to another user in a shared folder.
enum class LinkLook { NotALink, Link, Refused, Failed };
LinkLook readLink(int folder, const struct stat& folderInfo, const std::string& name,
                  std::string& text) {
#ifdef O_PATH
    // The link itself, held open, so that what is checked is what is read.
    const Descriptor link(::openat(folder, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!link)
        return errno == ENOENT ? LinkLook::NotALink : LinkLook::Failed;
    struct stat info {};
    if (::fstat(link.get(), &info) != 0)
        return LinkLook::Failed;
    if (!S_ISLNK(info.st_mode))
        return LinkLook::NotALink;
    const int at = link.get();
    const char* const named = "";
#else
    struct stat info {};
    if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? LinkLook::NotALink : LinkLook::Failed;
    if (!S_ISLNK(info.st_mode))
        return LinkLook::NotALink;
    const int at = folder;
    const char* const named = name.c_str();
#endif
    if (!trusted(folderInfo, info.st_uid))
        return LinkLook::Refused;
    std::vector<char> buffer(PATH_MAX + 1);
    const ssize_t length = ::readlinkat(at, named, buffer.data(), buffer.size());
    if (length <= 0 || std::size_t(length) >= buffer.size()) {
        errno = length == 0 ? ENOENT : errno;
        return LinkLook::Failed;
    }
    text.assign(buffer.data(), std::size_t(length));
    return LinkLook::Link;
}

// Walks `path` name by name from the root or the working folder, opening each folder
// without following links and following each link itself, so that the kernel's rule
// for shared folders holds wherever it is switched off and every step rests on a folder
// held open. Ends at the folder of the file to write and that file's name, which is no
// link. False with errno set, or with `refusal` when a link was refused.
bool resolve(const std::filesystem::path& path, Place& place, FileRefusal& refusal) {
    const std::string text = path.string();
    std::deque<std::string> rest = components(text);
    Descriptor folder = openRoot(!text.empty() && text[0] == '/');
    if (!folder || rest.empty())
        return false;
    std::filesystem::path shown = text[0] == '/' ? "/" : "";
    struct stat folderInfo {};
    int links = 0;
    while (!rest.empty()) {
        const std::string name = rest.front();
        rest.pop_front();
        if (::fstat(folder.get(), &folderInfo) != 0)
            return false;
        if ((name == "." || name == "..") && rest.empty()) {
            errno = EISDIR;
            return false;
        }
        if (name == ".")
            continue;
        if (name == "..") {
            folder = Descriptor(::openat(folder.get(), "..", LookUpOnly | O_DIRECTORY | O_CLOEXEC));
            if (!folder)
                return false;
            shown /= "..";
            continue;
        }
        std::string target;
        switch (readLink(folder.get(), folderInfo, name, target)) {
        case LinkLook::Failed:
            return false;
        case LinkLook::Refused:
            refusal = FileRefusal::ForeignLink;
            errno = EACCES;
            return false;
        case LinkLook::Link: {
            if (++links > MaxLinks) {
                errno = ELOOP;
                return false;
            }
            std::deque<std::string> hop = components(target);
            if (hop.empty()) { // the link names the root
                hop.push_back(".");
            }
            rest.insert(rest.begin(), hop.begin(), hop.end());
            if (target[0] == '/') {
                if (!(folder = openRoot(true)))
                    return false;
                shown = "/";
            }
            continue;
        }
        case LinkLook::NotALink:
            break;
        }
        if (rest.empty()) {
            place.name = name;
            break;
        }
        folder = Descriptor(::openat(folder.get(), name.c_str(),
                                     LookUpOnly | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!folder)
            return false;
        shown /= name;
    }
    if (place.name.empty()) {
        errno = EISDIR;
        return false;
    }
    place.shown = shown;
    if (place.name.size() > NAME_MAX) {
        errno = ENAMETOOLONG;
        return false;
    }
    // Opened for reading where we may, so that the folder can be synced.
    Descriptor readable(::openat(folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    place.folder = readable ? std::move(readable) : std::move(folder);
    return ::fstat(place.folder.get(), &place.folderInfo) == 0;
}

// Makes a new name or a rename in the folder survive a crash. Where the folder could
// only be opened to pass through, it is left to the file system.
void syncFolder(const Place& place) {
    (void)::fsync(place.folder.get());
}

// A name no other file has and no one can guess, for a file of ours in a folder others
// may write.
std::string randomName() {
    static std::random_device entropy;
    static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string name = ".v38-";
    for (int i = 0; i < 12; ++i)
        name += digits[entropy() % 36];
    return name;
}

// A new file of ours in the folder, readable and writable by us alone. Where the file
// system allows it the file has no name until it is whole (nothing is left behind by a
// crash); otherwise it gets an unpredictable one, claimed atomically.
struct NewFile {
    Descriptor fd;
    std::string name; // empty while it has none
};

bool createFile(const Place& place, NewFile& file) {
#ifdef O_TMPFILE
    file.fd = Descriptor(::openat(place.folder.get(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (file.fd)
        return true;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        return false;
#endif
    for (int attempt = 0; attempt < 100; ++attempt) {
        file.name = randomName();
        file.fd = Descriptor(::openat(place.folder.get(), file.name.c_str(),
                                      O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (file.fd || errno != EEXIST)
            break;
    }
    if (!file.fd)
        file.name.clear();
    return bool(file.fd);
}

// Gives the new file `name` in the folder, failing when that name exists.
bool nameFile(const Place& place, NewFile& file, const std::string& name) {
    if (!file.name.empty()) {
        if (::linkat(place.folder.get(), file.name.c_str(), place.folder.get(), name.c_str(), 0) !=
            0)
            return false;
        (void)::unlinkat(place.folder.get(), file.name.c_str(), 0);
        file.name = name;
        return true;
    }
#ifdef __linux__
    // A nameless file gets its name through its descriptor: directly where we hold the
    // privilege for it, else through /proc.
    if (::linkat(file.fd.get(), "", place.folder.get(), name.c_str(), AT_EMPTY_PATH) != 0) {
        if (errno != ENOENT && errno != EPERM)
            return false;
        const std::string self = "/proc/self/fd/" + std::to_string(file.fd.get());
        if (::linkat(AT_FDCWD, self.c_str(), place.folder.get(), name.c_str(), AT_SYMLINK_FOLLOW) !=
            0)
            return false;
    }
    file.name = name;
    return true;
#else
    errno = ENOTSUP;
    return false;
#endif
}

// Removes what a failed save created.
void discard(const Place& place, NewFile& file) {
    file.fd.reset();
    if (!file.name.empty())
        (void)::unlinkat(place.folder.get(), file.name.c_str(), 0);
    file.name.clear();
}

// Extended attributes of the open file `from` (ACLs are kept among them) set on the
// open file `to`. False when one of them cannot be read or set there.
bool copyAttributes(int from, int to) {
#ifdef __linux__
    ssize_t length = ::flistxattr(from, nullptr, 0);
    if (length < 0)
        return errno == ENOTSUP; // a file system without them
    std::vector<char> names(std::size_t(length) + 1, '\0');
    length = ::flistxattr(from, names.data(), names.size() - 1);
    if (length < 0)
        return false;
    std::vector<char> value(64 * 1024); // the largest value Linux stores
    std::vector<char> present(value.size());
    for (const char* name = names.data(); name < names.data() + length;
         name += std::strlen(name) + 1) {
        const ssize_t size = ::fgetxattr(from, name, value.data(), value.size());
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

// Gives the new file `fd` what the replaced file `target` is besides its contents:
// owner and group, extended attributes and ACLs, and mode (last: a change of owner
// clears the set-id bits). False when the system does not allow one of them.
bool takeOver(int fd, int target, const struct stat& old) {
    struct stat mine {};
    if (::fstat(fd, &mine) != 0)
        return false;
    if ((mine.st_uid != old.st_uid || mine.st_gid != old.st_gid) &&
        ::fchown(fd, old.st_uid, old.st_gid) != 0)
        return false;
    return copyAttributes(target, fd) && ::fchmod(fd, old.st_mode & 07777) == 0;
}

// Failures that say the disk, not the file, is the trouble.
bool diskTrouble(int error) {
    return error == ENOSPC || error == EDQUOT || error == EIO || error == EFBIG;
}

// The copy of an in-place write, written whole and synced before it takes its name.
class Copy final : public PosixFile {
public:
    Copy(const Place& place, NewFile& file, const std::string& name)
        : PosixFile(file.fd.get()), place_(place), file_(file), name_(name) {}
    bool sync() override {
        if (::fsync(fd_) != 0 || !nameFile(place_, file_, name_))
            return false;
        syncFolder(place_);
        return true;
    }

private:
    const Place& place_;
    NewFile& file_;
    const std::string& name_;
};

// Overwrites the open file `target` where it stands, for a file that a rename would
// change or that its folder lets nobody replace. Its old contents are kept in a copy
// beside it until the new ones are synced; in a folder that takes no new file there is
// nowhere to keep one.
ReplaceResult writeInPlace(const Place& place, Descriptor target, bool readable,
                           const std::uint8_t* data, std::size_t size, FileDetails& details) {
    const std::string copyAs = copyName(place.name);
    struct stat info {};
    if (::fstatat(place.folder.get(), copyAs.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
        details.refusal = FileRefusal::CopyInTheWay;
        details.leftoverCopy = place.pathOf(copyAs);
        return ReplaceResult::CannotCreate; // that copy may be all that is left of a file
    }
    NewFile copyFile;
    if (readable && !createFile(place, copyFile) && errno != EACCES && errno != EPERM &&
        errno != EROFS) {
        details.error = errno;
        return ReplaceResult::WriteFailed; // no room for the copy: leave the file alone
    }
    PosixFile file(target.get());
    Copy copy(place, copyFile, copyAs);
    const OverwriteResult result =
        overwriteKeepingCopy(file, copyFile.fd ? &copy : nullptr, data, size);
    const int failure = errno;
    const bool closed = target.close();
    if (result == OverwriteResult::Failed && copyFile.name == copyAs) {
        details.oldContentsIn = place.pathOf(copyAs);
    } else {
        discard(place, copyFile);
        syncFolder(place);
    }
    if (result == OverwriteResult::Written && closed)
        return ReplaceResult::Replaced;
    details.error = result == OverwriteResult::Written ? errno : failure;
    return ReplaceResult::WriteFailed;
}

ReplaceResult save(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size,
                   FileDetails& details) {
    Place place;
    if (path.empty() || !resolve(path, place, details.refusal)) {
        details.error = path.empty() ? ENOENT : errno;
        return ReplaceResult::CannotCreate;
    }
    const int folder = place.folder.get();
    struct stat copyInfo {};
    if (::fstatat(folder, copyName(place.name).c_str(), &copyInfo, AT_SYMLINK_NOFOLLOW) == 0)
        details.leftoverCopy = place.pathOf(copyName(place.name));

    // Only a regular file is ever replaced: never a folder, a device or a pipe, opened
    // without following a link put there since, and read, written and compared as the
    // one file examined. A file that we may not write stays as it is, although its
    // folder would let us rename over it.
    struct stat old {};
    const bool exists = ::fstatat(folder, place.name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists && errno != ENOENT) {
        details.error = errno;
        return ReplaceResult::CannotCreate;
    }
    Descriptor target;
    bool readable = true;
    if (exists) {
        if (!S_ISREG(old.st_mode)) {
            if (S_ISDIR(old.st_mode))
                details.error = EISDIR;
            else
                details.refusal = FileRefusal::NotARegularFile;
            return ReplaceResult::CannotCreate;
        }
        if (!trusted(place.folderInfo, old.st_uid)) {
            details.refusal = FileRefusal::ForeignFile;
            return ReplaceResult::CannotCreate;
        }
        constexpr int Flags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
        target = Descriptor(::openat(folder, place.name.c_str(), O_RDWR | Flags));
        if (!target && errno == EACCES) { // a file we may write but not read has no copy
            readable = false;
            target = Descriptor(::openat(folder, place.name.c_str(), O_WRONLY | Flags));
        }
        struct stat opened {};
        if (!target || ::fstat(target.get(), &opened) != 0) {
            details.error = errno;
            return ReplaceResult::CannotCreate;
        }
        if (!sameFile(opened, old) || !S_ISREG(opened.st_mode)) {
            details.refusal = FileRefusal::Changed;
            return ReplaceResult::CannotCreate;
        }
        old = opened;
        // A rename would leave the other names of the file with the old contents.
        if (old.st_nlink > 1)
            return writeInPlace(place, std::move(target), readable, data, size, details);
    }

    NewFile file;
    if (!createFile(place, file)) {
        const int failure = errno;
        if (exists && (failure == EACCES || failure == EPERM || failure == EROFS))
            return writeInPlace(place, std::move(target), readable, data, size, details);
        details.error = failure;
        return diskTrouble(failure) ? ReplaceResult::WriteFailed : ReplaceResult::CannotCreate;
    }
    // A file with a name is synced while it is still ours alone, and only then takes the
    // replaced file's owner, attributes and mode, synced once more; a nameless one, which
    // no one else can reach, takes them first and is synced once.
    const bool nameless = file.name.empty();
    const bool written = writeAll(file.fd.get(), 0, data, size);
    if (!written || (!nameless && ::fsync(file.fd.get()) != 0)) {
        details.error = errno;
        discard(place, file);
        return ReplaceResult::WriteFailed;
    }
    if (exists && !takeOver(file.fd.get(), target.get(), old)) {
        discard(place, file);
        return writeInPlace(place, std::move(target), readable, data, size, details);
    }
    if (((exists || nameless) && ::fsync(file.fd.get()) != 0) ||
        (nameless && !nameFile(place, file, exists ? randomName() : place.name))) {
        const int failure = errno;
        details.error = failure;
        discard(place, file);
        return failure == EEXIST ? ReplaceResult::CannotCreate : ReplaceResult::WriteFailed;
    }
    if (file.name == place.name) { // a new file, named in the one step that made it whole
        syncFolder(place);
        return file.fd.close() ? ReplaceResult::Replaced : ReplaceResult::WriteFailed;
    }
    // The name must still reach the file examined: one swapped in since is not replaced.
    struct stat now {};
    const bool present = ::fstatat(folder, place.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists ? !present || !sameFile(now, old) : present || errno != ENOENT) {
        discard(place, file);
        details.refusal = FileRefusal::Changed;
        return ReplaceResult::CannotCreate;
    }
    if (::renameat(folder, file.name.c_str(), folder, place.name.c_str()) != 0) {
        const int refused = errno;
        discard(place, file);
        if (exists && (refused == EPERM || refused == EACCES || refused == EBUSY))
            return writeInPlace(place, std::move(target), readable, data, size, details);
        details.error = refused;
        return ReplaceResult::WriteFailed;
    }
    file.name.clear();
    syncFolder(place); // a failure here no longer endangers the data
    return file.fd.close() ? ReplaceResult::Replaced : ReplaceResult::WriteFailed;
}

} // namespace

bool namesDevice(const std::filesystem::path&) {
    return false;
}

std::string copyName(const std::string& name) {
    constexpr std::string_view suffix = ".v38-copy";
    // Beside a name of the longest length the copy's name keeps its start.
    return name.substr(0, std::min(name.size(), std::size_t(NAME_MAX) - suffix.size())) +
           std::string(suffix);
}

std::filesystem::path leftoverCopy(const std::filesystem::path& path) {
    std::error_code error;
    std::filesystem::path file = path;
    for (int hops = 0; hops <= MaxLinks; ++hops) {
        if (file.filename().empty())
            return {};
        const std::filesystem::path copy = file.parent_path() / copyName(file.filename().string());
        if (std::filesystem::exists(std::filesystem::symlink_status(copy, error)))
            return copy;
        if (!std::filesystem::is_symlink(std::filesystem::symlink_status(file, error)))
            return {};
        const std::filesystem::path next = std::filesystem::read_symlink(file, error);
        if (error)
            return {};
        file = next.is_absolute() ? next : file.parent_path() / next;
    }
    return {};
}

ReplaceResult replaceFile(const std::filesystem::path& path, const std::uint8_t* data,
                          std::size_t size, FileDetails* details) {
    FileDetails ignored;
    FileDetails& into = details ? *details : ignored;
    into = FileDetails();
    return save(path, data, size, into);
}

} // namespace v38
