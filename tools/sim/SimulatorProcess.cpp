#include "SimulatorProcess.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace v38::sim {

namespace {
constexpr int StartTimeoutMs = 5000;

// The first line the child prints, or an empty string when none came in time.
std::string firstLine(int fd) {
    std::string line;
    for (;;) {
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, StartTimeoutMs) <= 0)
            return {};
        char c = 0;
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return {};
        if (c == '\n')
            return line;
        line.push_back(c);
    }
}
} // namespace

SimulatorProcess::SimulatorProcess(const std::string& executable,
                                   const std::vector<std::string>& args,
                                   const std::string& logPath) {
    int input[2];
    int output[2];
    if (::pipe2(input, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    if (::pipe2(output, O_CLOEXEC) != 0) {
        ::close(input[0]);
        ::close(input[1]);
        throw std::runtime_error("pipe");
    }
    std::vector<std::string> words{executable, "--exit-with-stdin"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    if (!logPath.empty())
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, logPath.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int spawned =
        ::posix_spawn(&pid_, executable.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(input[0]);
    ::close(output[1]);
    stdinFd_ = input[1];
    if (spawned != 0) {
        pid_ = -1;
        ::close(output[0]);
        ::close(stdinFd_);
        throw std::runtime_error("cannot start " + executable);
    }
    // A lock answers in its own time whatever the PC is doing. On a loaded machine the
    // simulator might not, and a probe allows 77 ms: give it the edge where we may.
    ::setpriority(PRIO_PROCESS, id_t(pid_), -10);
    device_ = firstLine(output[0]);
    ::close(output[0]);
    if (device_.empty()) {
        stop();
        ::close(stdinFd_);
        throw std::runtime_error(executable + " printed no device");
    }
}

SimulatorProcess::~SimulatorProcess() {
    stop();
    if (stdinFd_ >= 0)
        ::close(stdinFd_);
}

int SimulatorProcess::stop() {
    if (pid_ <= 0)
        return -1;
    ::kill(pid_, SIGTERM);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace v38::sim
