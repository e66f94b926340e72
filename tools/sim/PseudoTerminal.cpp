#include "PseudoTerminal.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace v38::sim {

namespace {
[[noreturn]] void fail(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}
} // namespace

PseudoTerminal::PseudoTerminal() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0)
        fail("posix_openpt");
    try {
        if (::fcntl(master_, F_SETFD, FD_CLOEXEC) != 0 ||
            ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK) != 0)
            fail("fcntl");
        if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            fail("unlockpt");
        const char* name = ::ptsname(master_);
        if (!name)
            fail("ptsname");
        path_ = name;
        slave_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (slave_ < 0)
            fail("open " + path_);
        termios tio{};
        if (::tcgetattr(slave_, &tio) != 0)
            fail("tcgetattr");
        ::cfmakeraw(&tio);
        ::cfsetispeed(&tio, B9600);
        ::cfsetospeed(&tio, B9600);
        if (::tcsetattr(slave_, TCSANOW, &tio) != 0)
            fail("tcsetattr");
    } catch (...) {
        if (slave_ >= 0)
            ::close(slave_);
        ::close(master_);
        throw;
    }
}

PseudoTerminal::~PseudoTerminal() {
    if (!link_.empty()) {
        // Only our own link: another simulator may have taken the name over since.
        char target[PATH_MAX];
        const ssize_t size = ::readlink(link_.c_str(), target, sizeof target - 1);
        if (size >= 0 && std::string(target, std::size_t(size)) == path_)
            ::unlink(link_.c_str());
    }
    ::close(slave_);
    ::close(master_);
}

void PseudoTerminal::linkAs(const std::string& link) {
    struct stat info {};
    if (::lstat(link.c_str(), &info) == 0 && !S_ISLNK(info.st_mode)) {
        errno = EEXIST;
        fail(link);
    }
    // Made beside it and renamed over it, so that the name never points nowhere.
    const std::string temporary = link + ".tmp-" + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    if (::symlink(path_.c_str(), temporary.c_str()) != 0)
        fail(link);
    if (::rename(temporary.c_str(), link.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        errno = error;
        fail(link);
    }
    link_ = link;
}

} // namespace v38::sim
