// Runs a program and reports its peak resident memory.
//   usage: peak_rss REPORT-FILE PROGRAM [ARGS...]
// Standard output passes through; the exit status is the program's (128 + the
// signal if a signal ended it). SIGTERM, SIGINT and SIGHUP sent here are
// passed on to the program. The program is started from this small process
// rather than straight from a test, because a forked child counts its parent's
// pages as its own until it starts a new program.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <initializer_list>

namespace {

volatile pid_t running = 0;

extern "C" void pass_on(int signal_number) {
    if (running > 0) {
        kill(running, signal_number);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: peak_rss REPORT-FILE PROGRAM [ARGS...]\n", stderr);
        return 126;
    }
    // Signals that come before the program is known are held until they can
    // be passed on.
    sigset_t passed, before;
    sigemptyset(&passed);
    for (const int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&passed, s);
    sigprocmask(SIG_BLOCK, &passed, &before);
    const pid_t child = fork();
    if (child == 0) {
        sigprocmask(SIG_SETMASK, &before, nullptr);
        execvp(argv[2], argv + 2);
        _exit(127);
    }
    running = child;
    for (const int s : {SIGTERM, SIGINT, SIGHUP}) std::signal(s, pass_on);
    sigprocmask(SIG_SETMASK, &before, nullptr);
    int status = 0;
    rusage usage{};
    if (child < 0) {
        return 126;
    }
    while (wait4(child, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            return 126;
        }
    }
    if (std::FILE* report = std::fopen(argv[1], "w")) {
        std::fprintf(report, "%ld\n", usage.ru_maxrss);
        std::fclose(report);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
