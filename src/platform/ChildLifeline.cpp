#include "platform/ChildLifeline.h"

#include <cerrno>
#include <csignal>
#include <mutex>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

int g_lifeline[2] = {-1, -1};

// Closes every descriptor but `keep` (the watchdog must not hold the child's pipes open).
void closeAllBut(int keep)
{
    if (keep > 0)
        ::syscall(SYS_close_range, 0u, unsigned(keep - 1), 0u);
    if (::syscall(SYS_close_range, unsigned(keep + 1), ~0u, 0u) == 0)
        return;
    // Kernels before 5.9: one by one.
    const long max = ::sysconf(_SC_OPEN_MAX);
    for (long fd = 0; fd < (max > 0 ? max : 1024); ++fd)
        if (fd != keep)
            ::close(int(fd));
}

} // namespace

namespace ChildLifeline {

void prepare()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (::pipe2(g_lifeline, O_CLOEXEC) != 0)
            g_lifeline[0] = g_lifeline[1] = -1;
    });
}

void enterGroupWithWatchdog()
{
    ::setpgid(0, 0);
    const int lifeline = g_lifeline[0];
    if (lifeline < 0)
        return;
    const pid_t program = ::getpid();
    // Without fork handlers: this process is the child of a threaded one.
    const pid_t watchdog = pid_t(::syscall(SYS_clone, SIGCHLD, nullptr, nullptr, nullptr, nullptr));
    if (watchdog != 0)
        return; // the program (or a failed fork): go on to exec
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != program)
        ::_exit(0); // the program is already gone
    closeAllBut(lifeline);
    char byte;
    while (::read(lifeline, &byte, 1) < 0 && errno == EINTR) {
    }
    // End of file: we are gone. End the program and everything it started.
    ::kill(0, SIGKILL);
    ::_exit(0);
}

} // namespace ChildLifeline
