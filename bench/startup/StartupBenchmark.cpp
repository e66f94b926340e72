// Start-up of the configurator against a minimal Qt Widgets window: the time from
// starting the process to the main window's first paint, and the resident memory
// right after it. Each figure is the median of several runs of a child process.
//
//   bench_startup [RUNS]     (QT_QPA_PLATFORM=offscreen unless a display is set)
#include "Application.h"
#include "Startup.h"

#include <QApplication>
#include <QLabel>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

long residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

// Reports once, after the first paint of `window` has been handled.
class FirstPaint : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint && !seen_) {
            seen_ = true;
            QTimer::singleShot(0, [] {
                std::printf("painted %ld\n", residentKiB());
                std::fflush(stdout);
                QCoreApplication::quit();
            });
        }
        return false;
    }

private:
    bool seen_ = false;
};

int probeVestibar(int argc, char** argv) {
    v38::Application application(argc, argv);
    v38::Windows windows;
    FirstPaint painted;
    windows.MainWin.installEventFilter(&painted);
    windows.MainWin.show();
    return application.exec();
}

int probeMinimal(int argc, char** argv) {
    QApplication application(argc, argv);
    QLabel window(QStringLiteral("Vestibar"));
    window.resize(844, 572);
    FirstPaint painted;
    window.installEventFilter(&painted);
    window.show();
    return application.exec();
}

struct Sample {
    double milliseconds = 0;
    long kib = -1;
};

// Starts this program as a probe and times it until it reports its first paint.
bool runProbe(const char* self, const char* which, Sample& sample) {
    int out[2];
    if (::pipe(out) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char* args[] = {const_cast<char*>(self), const_cast<char*>("--probe"), const_cast<char*>(which),
                    nullptr};
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, self, &actions, nullptr, args, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (spawned != 0) {
        ::close(out[0]);
        return false;
    }
    std::string reply;
    char buffer[128];
    ssize_t n = 0;
    while (reply.find('\n') == std::string::npos && (n = ::read(out[0], buffer, sizeof buffer)) > 0)
        reply.append(buffer, std::size_t(n));
    const auto painted = std::chrono::steady_clock::now();
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (reply.rfind("painted ", 0) != 0)
        return false;
    sample.milliseconds = std::chrono::duration<double, std::milli>(painted - start).count();
    sample.kib = std::strtol(reply.c_str() + 8, nullptr, 10);
    return true;
}

template <typename T> T median(std::vector<T> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--probe") == 0) {
        int qtArgc = 1;
        return std::strcmp(argv[2], "vestibar") == 0 ? probeVestibar(qtArgc, argv)
                                                     : probeMinimal(qtArgc, argv);
    }
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY") &&
        !std::getenv("WAYLAND_DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);

    std::printf("start-up to first paint, median of %d runs, QT_QPA_PLATFORM=%s\n", runs,
                std::getenv("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM") : "(default)");
    std::printf("%-24s %14s %16s\n", "program", "first paint", "resident after");
    for (const char* which : {"minimal", "vestibar"}) {
        std::vector<double> times;
        std::vector<long> sizes;
        for (int r = 0; r < runs; ++r) {
            Sample sample;
            if (!runProbe(argv[0], which, sample)) {
                std::fprintf(stderr, "bench_startup: the %s probe failed\n", which);
                return 1;
            }
            times.push_back(sample.milliseconds);
            sizes.push_back(sample.kib);
        }
        std::printf("%-24s %11.1f ms %12.1f MiB\n",
                    std::strcmp(which, "vestibar") == 0 ? "vestibar (5 windows)"
                                                        : "minimal Qt window",
                    median(times), double(median(sizes)) / 1024.0);
    }
    return 0;
}
