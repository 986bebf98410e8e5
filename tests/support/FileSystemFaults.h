#pragma once

// Plays a file system that lacks some calls, for the whole test program: while a fault is
// set, renameat2() and link() answer with that errno, as NFS and FUSE mounts do (EINVAL or
// ENOSYS for RENAME_NOREPLACE, EPERM for hard links). The definitions below take the place
// of the C library's for every caller in the program, so the code under test needs no hook.
// Include this header in exactly one source file of a test program.

#include <atomic>
#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace FileSystemFaults {
inline std::atomic<int> renameAt2Errno{0};
inline std::atomic<int> linkErrno{0};

// Sets the faults for one scope.
struct Scope {
    Scope(int renameAt2Error, int linkError)
    {
        renameAt2Errno = renameAt2Error;
        linkErrno = linkError;
    }
    ~Scope()
    {
        renameAt2Errno = 0;
        linkErrno = 0;
    }
    Scope(const Scope &) = delete;
    Scope &operator=(const Scope &) = delete;
};
} // namespace FileSystemFaults

extern "C" int renameat2(int olddirfd, const char *oldpath, int newdirfd, const char *newpath,
                         unsigned int flags) noexcept
{
    if (const int e = FileSystemFaults::renameAt2Errno.load()) {
        errno = e;
        return -1;
    }
    return int(::syscall(SYS_renameat2, olddirfd, oldpath, newdirfd, newpath, flags));
}

extern "C" int link(const char *oldpath, const char *newpath) noexcept
{
    if (const int e = FileSystemFaults::linkErrno.load()) {
        errno = e;
        return -1;
    }
    return int(::syscall(SYS_linkat, AT_FDCWD, oldpath, AT_FDCWD, newpath, 0));
}
