#pragma once

#include <string>

namespace v38::sim {

// A pseudo-terminal whose slave end stands for the lock's serial port. The master end
// is the lock's side of the line. We keep a slave descriptor of our own open, so that
// a client closing the port hangs nothing up and the next one finds the line as it
// left it; it is set raw at once, so that nothing is echoed before a client sets it up.
class PseudoTerminal {
public:
    // Throws std::system_error when the system has no pseudo-terminal to give.
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    int masterFd() const { return master_; }
    // The slave's device, e.g. /dev/pts/3: what a client opens.
    const std::string& devicePath() const { return path_; }

    // Makes `link` a symbolic link to the device, replacing an older link there (but no
    // other kind of file). The link is removed with the terminal. Throws on failure.
    void linkAs(const std::string& link);

private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
    std::string link_;
};

} // namespace v38::sim
