#include "platform/BackgroundPriority.h"

#include <cerrno>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// On Linux a thread's nice value is set through its thread id.
id_t currentThreadId()
{
    return id_t(::syscall(SYS_gettid));
}

constexpr int kBackgroundNice = 10;

} // namespace

BackgroundPriority::BackgroundPriority()
{
    errno = 0;
    const int previous = ::getpriority(PRIO_PROCESS, currentThreadId());
    if (previous == -1 && errno != 0)
        return;
    m_previous = previous;
    if (previous >= kBackgroundNice)
        return;
    m_changed = ::setpriority(PRIO_PROCESS, currentThreadId(), kBackgroundNice) == 0;
}

BackgroundPriority::~BackgroundPriority()
{
    // Going back up needs no privilege only as far as the limit allows; a pool thread that
    // cannot is simply left a background thread.
    if (m_changed)
        (void)::setpriority(PRIO_PROCESS, currentThreadId(), m_previous);
}
