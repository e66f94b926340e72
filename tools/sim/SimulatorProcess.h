#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace v38::sim {

// A simulator running as a child process, for tests and benchmarks. It is started
// with --exit-with-stdin, so that it ends with us even when we die.
class SimulatorProcess {
public:
    // Starts `executable` with `args` and waits for the device on its first line. Its
    // standard error goes to `logPath` when given. Throws std::runtime_error when it
    // does not start or prints no device within a few seconds.
    SimulatorProcess(const std::string& executable, const std::vector<std::string>& args,
                     const std::string& logPath = {});
    ~SimulatorProcess();
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    const std::string& devicePath() const { return device_; }
    pid_t pid() const { return pid_; }

    // Ends it with SIGTERM and returns its exit status; -1 when a signal ended it.
    int stop();

private:
    pid_t pid_ = -1;
    int stdinFd_ = -1;
    std::string device_;
};

} // namespace v38::sim
