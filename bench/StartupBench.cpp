// SPDX-License-Identifier: MIT
// Measures the window's start-up: the time from launching the program to its
// main window being shown on the screen, and the peak memory at that moment.
//
// The measurement runs the program's start-up in a fresh process each time
// (so that loading Qt counts), and each run reports the time from just before
// exec to the end of the window's first paint, and its peak resident memory.
//
//   StartupBench [runs]     (under a display, Xvfb, or QT_QPA_PLATFORM=offscreen)
#include "Application.h"
#include "MessageBoxes.h"
#include "Pictures.h"
#include "Unit1.h"

#include <QTimer>
#include <QWindow>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

const char* const kStartVariable = "DBF_STARTUP_BENCH_T0";

long long MonotonicNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// Reports once the window has been exposed and painted.
class TShownWatcher : public QObject {
public:
    TShownWatcher(long long start, int fd) : FStart(start), FFd(fd) {}

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !FDone) {
            FDone = true;
            // After this paint has reached the screen.
            QTimer::singleShot(0, this, [this] { Report(); });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void Report()
    {
        const long long elapsed = MonotonicNanoseconds() - FStart;
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        const std::string line = std::to_string(elapsed) + " " + std::to_string(usage.ru_maxrss) + "\n";
        (void)!write(FFd, line.data(), line.size());
        QCoreApplication::exit(0);
    }

    long long FStart;
    int FFd;
    bool FDone = false;
};

// The child: the program's own start-up, as in DbfHeaderFix.cpp.
int RunStartUp(int argc, char* argv[], long long start, int fd)
{
    TApplication application(argc, argv);
    TApplication::setWindowIcon(TableIcon());
    InstallNotifyUserBox();
    TForm1 Form1;
    TShownWatcher watcher(start, fd);
    Form1.installEventFilter(&watcher);
    Form1.show();
    return TApplication::exec();
}

}  // namespace

int main(int argc, char* argv[])
{
    if (const char* start = std::getenv(kStartVariable)) {
        return RunStartUp(argc, argv, std::atoll(start), STDOUT_FILENO);
    }
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    std::vector<double> millis;
    std::vector<long> peaks;
    for (int run = 0; run < runs; ++run) {
        int out[2];
        if (pipe(out) != 0) return 1;
        const pid_t child = fork();
        if (child == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            close(out[1]);
            const std::string start = std::to_string(MonotonicNanoseconds());
            setenv(kStartVariable, start.c_str(), 1);
            execl("/proc/self/exe", argv[0], static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        char buffer[128] = {};
        const ssize_t got = read(out[0], buffer, sizeof buffer - 1);
        close(out[0]);
        int status = 0;
        waitpid(child, &status, 0);
        long long nanos = 0;
        long peak = 0;
        if (got <= 0 || std::sscanf(buffer, "%lld %ld", &nanos, &peak) != 2) {
            std::fprintf(stderr, "run %d: the window was not shown\n", run);
            return 1;
        }
        millis.push_back(static_cast<double>(nanos) / 1e6);
        peaks.push_back(peak);
    }
    std::sort(millis.begin(), millis.end());
    std::sort(peaks.begin(), peaks.end());
    std::printf("start-up to window shown: median %.1f ms, min %.1f ms, max %.1f ms over %d runs\n",
                millis[millis.size() / 2], millis.front(), millis.back(), runs);
    std::printf("peak resident memory: median %.1f MiB, max %.1f MiB\n",
                static_cast<double>(peaks[peaks.size() / 2]) / 1024.0, static_cast<double>(peaks.back()) / 1024.0);
    return 0;
}
