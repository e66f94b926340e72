#pragma once

#include <fcntl.h>
#include <stdexcept>
#include <stdlib.h>
#include <string>
#include <unistd.h>

// A serial port with nothing behind it: a pseudo-terminal whose other end we hold
// open and never answer on.
class SilentPort {
public:
    SilentPort() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            throw std::runtime_error("no pseudo-terminal");
        path_ = ::ptsname(master_);
    }
    ~SilentPort() { ::close(master_); }
    SilentPort(const SilentPort&) = delete;
    SilentPort& operator=(const SilentPort&) = delete;

    const std::string& path() const { return path_; }

private:
    int master_ = -1;
    std::string path_;
};
