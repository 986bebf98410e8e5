// A failing disk, for tests: preloaded into a program (LD_PRELOAD), it makes the calls that
// write files fail with an errno of the test's choosing, for files under one folder only.
//
// Set in the environment, read at every call (so a test may change them between steps):
//   PERCHBOX_FAULT_PATH    the folder (a path prefix); unset: nothing fails
//   PERCHBOX_FAULT_ERRNO   ENOSPC (default), EIO, EACCES or EROFS
//   PERCHBOX_FAULT_CALLS   which calls fail, comma-separated (default "write,fsync,rename,link"):
//                          write   write, pwrite, writev, pwritev, copy_file_range, sendfile,
//                                  fallocate, ftruncate
//                          fsync   fsync, fdatasync
//                          rename  rename, renameat, renameat2
//                          link    link, linkat, symlink
//                          create  open/openat/creat that create or write, mkdir, mkdirat
//   PERCHBOX_FAULT_AFTER   let this many matching calls succeed first (default 0)
//   PERCHBOX_FAULT_SWITCH  a file: faults only while it exists (a test turns a disk full and
//                          back while the program runs)
//   PERCHBOX_FAULT_LOG     a file that gets one line per fault injected ("<call> <path>")
// And a file that vanishes while a run goes on:
//   PERCHBOX_VANISH_ON     file names (separated by ':'): the first time a path with one of
//                          them as its last component is opened, renamed or linked…
//   PERCHBOX_VANISH        …these files (absolute paths, separated by ':') are removed, but
//                          the one in use.
// A write that is let through when it would cross the fault point is cut short (a short
// write), as a disk that fills up part-way does. The counter starts again whenever the
// settings change.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

enum { CALL_WRITE = 1, CALL_FSYNC = 2, CALL_RENAME = 4, CALL_LINK = 8, CALL_CREATE = 16 };

static atomic_long g_matching;
static atomic_ulong g_settingsHash;

static unsigned long hashOf(const char *s, unsigned long h)
{
    for (; s && *s; ++s)
        h = h * 131 + (unsigned char)*s;
    return h * 131 + 7;
}

static int callMask(const char *calls)
{
    if (!calls || !*calls)
        return CALL_WRITE | CALL_FSYNC | CALL_RENAME | CALL_LINK;
    int mask = 0;
    if (strstr(calls, "write")) mask |= CALL_WRITE;
    if (strstr(calls, "fsync")) mask |= CALL_FSYNC;
    if (strstr(calls, "rename")) mask |= CALL_RENAME;
    if (strstr(calls, "link")) mask |= CALL_LINK;
    if (strstr(calls, "create")) mask |= CALL_CREATE;
    return mask;
}

static int errnoNamed(const char *name)
{
    if (!name || !*name || !strcmp(name, "ENOSPC")) return ENOSPC;
    if (!strcmp(name, "EIO")) return EIO;
    if (!strcmp(name, "EACCES")) return EACCES;
    if (!strcmp(name, "EROFS")) return EROFS;
    if (!strcmp(name, "EDQUOT")) return EDQUOT;
    return ENOSPC;
}

static int pathUnder(const char *path, const char *prefix)
{
    if (!path || !prefix)
        return 0;
    const size_t n = strlen(prefix);
    return strncmp(path, prefix, n) == 0 && (path[n] == '\0' || path[n] == '/' || prefix[n - 1] == '/');
}

// The absolute form of `path` relative to `dirfd` (only as far as the test needs it).
static void absolutePath(int dirfd, const char *path, char *out, size_t size)
{
    out[0] = '\0';
    if (!path)
        return;
    if (path[0] == '/') {
        snprintf(out, size, "%s", path);
        return;
    }
    char base[PATH_MAX];
    if (dirfd == AT_FDCWD) {
        if (!getcwd(base, sizeof base))
            return;
    } else {
        char link[64];
        snprintf(link, sizeof link, "/proc/self/fd/%d", dirfd);
        const ssize_t len = readlink(link, base, sizeof base - 1);
        if (len <= 0)
            return;
        base[len] = '\0';
    }
    const size_t baseLength = strlen(base), pathLength = strlen(path);
    if (baseLength + 1 + pathLength >= size)
        return;
    memcpy(out, base, baseLength);
    out[baseLength] = '/';
    memcpy(out + baseLength + 1, path, pathLength + 1);
}

static int fdPath(int fd, char *out, size_t size)
{
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return 0;
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t len = readlink(link, out, size - 1);
    if (len <= 0)
        return 0;
    out[len] = '\0';
    return 1;
}

static void logFault(const char *call, const char *path)
{
    const char *log = getenv("PERCHBOX_FAULT_LOG");
    if (!log || !*log)
        return;
    const int saved = errno;
    static int (*realOpen)(const char *, int, ...);
    if (!realOpen)
        realOpen = (int (*)(const char *, int, ...))dlsym(RTLD_NEXT, "open");
    const int fd = realOpen(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd >= 0) {
        char line[PATH_MAX + 64];
        const int n = snprintf(line, sizeof line, "%s %s\n", call, path);
        static ssize_t (*realWrite)(int, const void *, size_t);
        if (!realWrite)
            realWrite = (ssize_t(*)(int, const void *, size_t))dlsym(RTLD_NEXT, "write");
        if (n > 0)
            realWrite(fd, line, (size_t)n < sizeof line ? (size_t)n : sizeof line - 1);
        close(fd);
    }
    errno = saved;
}

// Whether this call fails: 0 to let it run, else the errno to fail with. For writes,
// `*bytes` may be lowered to make a short write at the fault point.
static int fault(int kind, const char *call, const char *path, size_t *bytes)
{
    const char *prefix = getenv("PERCHBOX_FAULT_PATH");
    if (!prefix || !*prefix || !path || !pathUnder(path, prefix))
        return 0;
    const char *calls = getenv("PERCHBOX_FAULT_CALLS");
    if (!(callMask(calls) & kind))
        return 0;
    const char *sw = getenv("PERCHBOX_FAULT_SWITCH");
    if (sw && *sw && access(sw, F_OK) != 0)
        return 0;
    const char *after = getenv("PERCHBOX_FAULT_AFTER");
    const char *err = getenv("PERCHBOX_FAULT_ERRNO");
    unsigned long h = hashOf(prefix, 1);
    h = hashOf(calls, h);
    h = hashOf(after, h);
    h = hashOf(err, h);
    h = hashOf(sw, h);
    if (atomic_exchange(&g_settingsHash, h) != h)
        atomic_store(&g_matching, 0);
    const long allowed = after && *after ? atol(after) : 0;
    const long n = atomic_fetch_add(&g_matching, 1);
    if (n < allowed)
        return 0;
    if (n == allowed && bytes && *bytes > 1) {
        // The disk fills up in the middle of this write.
        *bytes /= 2;
        return 0;
    }
    logFault(call, path);
    return errnoNamed(err);
}

static atomic_int g_vanished;

static int nameInList(const char *name, const char *list)
{
    const size_t n = strlen(name);
    for (const char *item = list; item && *item;) {
        const char *end = strchr(item, ':');
        const size_t length = end ? (size_t)(end - item) : strlen(item);
        if (length == n && strncmp(item, name, n) == 0)
            return 1;
        item = end ? end + 1 : NULL;
    }
    return 0;
}

// Removes the PERCHBOX_VANISH files (but the one in use) the first time a path named in
// PERCHBOX_VANISH_ON is used.
static void vanishOn(const char *path)
{
    const char *on = getenv("PERCHBOX_VANISH_ON");
    if (!on || !*on || !path || atomic_load(&g_vanished))
        return;
    const char *slash = strrchr(path, '/');
    const char *name = slash ? slash + 1 : path;
    if (!nameInList(name, on) || atomic_exchange(&g_vanished, 1))
        return;
    const char *list = getenv("PERCHBOX_VANISH");
    char buffer[8192];
    snprintf(buffer, sizeof buffer, "%s", list ? list : "");
    const int saved = errno;
    for (char *save = NULL, *item = strtok_r(buffer, ":", &save); item; item = strtok_r(NULL, ":", &save)) {
        const char *itemSlash = strrchr(item, '/');
        if (strcmp(itemSlash ? itemSlash + 1 : item, name) != 0 && unlink(item) == 0)
            logFault("vanished", item);
    }
    errno = saved;
}

#define REAL(name) \
    static __typeof__(&name) real_##name; \
    if (!real_##name) real_##name = (__typeof__(&name))dlsym(RTLD_NEXT, #name)

static int fdFault(int kind, const char *call, int fd, size_t *bytes)
{
    if (!getenv("PERCHBOX_FAULT_PATH"))
        return 0;
    char path[PATH_MAX];
    if (!fdPath(fd, path, sizeof path))
        return 0;
    return fault(kind, call, path, bytes);
}

ssize_t write(int fd, const void *buf, size_t count)
{
    REAL(write);
    const int e = fdFault(CALL_WRITE, "write", fd, &count);
    if (e) { errno = e; return -1; }
    return real_write(fd, buf, count);
}

ssize_t pwrite(int fd, const void *buf, size_t count, off_t offset)
{
    REAL(pwrite);
    const int e = fdFault(CALL_WRITE, "pwrite", fd, &count);
    if (e) { errno = e; return -1; }
    return real_pwrite(fd, buf, count, offset);
}

ssize_t pwrite64(int fd, const void *buf, size_t count, off64_t offset)
{
    REAL(pwrite64);
    const int e = fdFault(CALL_WRITE, "pwrite64", fd, &count);
    if (e) { errno = e; return -1; }
    return real_pwrite64(fd, buf, count, offset);
}

ssize_t writev(int fd, const struct iovec *iov, int iovcnt)
{
    REAL(writev);
    const int e = fdFault(CALL_WRITE, "writev", fd, NULL);
    if (e) { errno = e; return -1; }
    return real_writev(fd, iov, iovcnt);
}

ssize_t pwritev(int fd, const struct iovec *iov, int iovcnt, off_t offset)
{
    REAL(pwritev);
    const int e = fdFault(CALL_WRITE, "pwritev", fd, NULL);
    if (e) { errno = e; return -1; }
    return real_pwritev(fd, iov, iovcnt, offset);
}

ssize_t copy_file_range(int in, loff_t *inOffset, int out, loff_t *outOffset, size_t length, unsigned int flags)
{
    REAL(copy_file_range);
    const int e = fdFault(CALL_WRITE, "copy_file_range", out, &length);
    if (e) { errno = e; return -1; }
    return real_copy_file_range(in, inOffset, out, outOffset, length, flags);
}

ssize_t sendfile(int out, int in, off_t *offset, size_t count)
{
    REAL(sendfile);
    const int e = fdFault(CALL_WRITE, "sendfile", out, &count);
    if (e) { errno = e; return -1; }
    return real_sendfile(out, in, offset, count);
}

ssize_t sendfile64(int out, int in, off64_t *offset, size_t count)
{
    REAL(sendfile64);
    const int e = fdFault(CALL_WRITE, "sendfile64", out, &count);
    if (e) { errno = e; return -1; }
    return real_sendfile64(out, in, offset, count);
}

int fallocate(int fd, int mode, off_t offset, off_t len)
{
    REAL(fallocate);
    const int e = fdFault(CALL_WRITE, "fallocate", fd, NULL);
    if (e) { errno = e; return -1; }
    return real_fallocate(fd, mode, offset, len);
}

int fallocate64(int fd, int mode, off64_t offset, off64_t len)
{
    REAL(fallocate64);
    const int e = fdFault(CALL_WRITE, "fallocate64", fd, NULL);
    if (e) { errno = e; return -1; }
    return real_fallocate64(fd, mode, offset, len);
}

int ftruncate(int fd, off_t length)
{
    REAL(ftruncate);
    const int e = length > 0 ? fdFault(CALL_WRITE, "ftruncate", fd, NULL) : 0;
    if (e) { errno = e; return -1; }
    return real_ftruncate(fd, length);
}

int ftruncate64(int fd, off64_t length)
{
    REAL(ftruncate64);
    const int e = length > 0 ? fdFault(CALL_WRITE, "ftruncate64", fd, NULL) : 0;
    if (e) { errno = e; return -1; }
    return real_ftruncate64(fd, length);
}

int fsync(int fd)
{
    REAL(fsync);
    const int e = fdFault(CALL_FSYNC, "fsync", fd, NULL);
    if (e) { errno = e; return -1; }
    return real_fsync(fd);
}

int fdatasync(int fd)
{
    REAL(fdatasync);
    const int e = fdFault(CALL_FSYNC, "fdatasync", fd, NULL);
    if (e) { errno = e; return -1; }
    return real_fdatasync(fd);
}

static int pairFault(int kind, const char *call, int fromDir, const char *from, int toDir, const char *to)
{
    vanishOn(from);
    if (!getenv("PERCHBOX_FAULT_PATH"))
        return 0;
    char a[PATH_MAX], b[PATH_MAX];
    absolutePath(fromDir, from, a, sizeof a);
    absolutePath(toDir, to, b, sizeof b);
    const char *prefix = getenv("PERCHBOX_FAULT_PATH");
    return fault(kind, call, pathUnder(b, prefix) ? b : a, NULL);
}

int rename(const char *from, const char *to)
{
    REAL(rename);
    const int e = pairFault(CALL_RENAME, "rename", AT_FDCWD, from, AT_FDCWD, to);
    if (e) { errno = e; return -1; }
    return real_rename(from, to);
}

int renameat(int fromDir, const char *from, int toDir, const char *to)
{
    REAL(renameat);
    const int e = pairFault(CALL_RENAME, "renameat", fromDir, from, toDir, to);
    if (e) { errno = e; return -1; }
    return real_renameat(fromDir, from, toDir, to);
}

int renameat2(int fromDir, const char *from, int toDir, const char *to, unsigned int flags)
{
    REAL(renameat2);
    const int e = pairFault(CALL_RENAME, "renameat2", fromDir, from, toDir, to);
    if (e) { errno = e; return -1; }
    return real_renameat2(fromDir, from, toDir, to, flags);
}

int link(const char *from, const char *to)
{
    REAL(link);
    const int e = pairFault(CALL_LINK, "link", AT_FDCWD, from, AT_FDCWD, to);
    if (e) { errno = e; return -1; }
    return real_link(from, to);
}

int linkat(int fromDir, const char *from, int toDir, const char *to, int flags)
{
    REAL(linkat);
    const int e = pairFault(CALL_LINK, "linkat", fromDir, from, toDir, to);
    if (e) { errno = e; return -1; }
    return real_linkat(fromDir, from, toDir, to, flags);
}

int symlink(const char *target, const char *path)
{
    REAL(symlink);
    const int e = pairFault(CALL_LINK, "symlink", AT_FDCWD, path, AT_FDCWD, path);
    if (e) { errno = e; return -1; }
    return real_symlink(target, path);
}

static int createFault(const char *call, int dirfd, const char *path, int flags)
{
    vanishOn(path);
    if (!getenv("PERCHBOX_FAULT_PATH"))
        return 0;
    if (!(flags & (O_CREAT | O_WRONLY | O_RDWR)) && (flags & O_TMPFILE) != O_TMPFILE)
        return 0;
    char full[PATH_MAX];
    absolutePath(dirfd, path, full, sizeof full);
    return fault(CALL_CREATE, call, full, NULL);
}

#define OPEN_MODE(flags, mode) \
    mode_t mode = 0; \
    if ((flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE) { \
        va_list args; \
        va_start(args, flags); \
        mode = va_arg(args, mode_t); \
        va_end(args); \
    }

int open(const char *path, int flags, ...)
{
    REAL(open);
    OPEN_MODE(flags, mode)
    const int e = createFault("open", AT_FDCWD, path, flags);
    if (e) { errno = e; return -1; }
    return real_open(path, flags, mode);
}

int open64(const char *path, int flags, ...)
{
    REAL(open64);
    OPEN_MODE(flags, mode)
    const int e = createFault("open64", AT_FDCWD, path, flags);
    if (e) { errno = e; return -1; }
    return real_open64(path, flags, mode);
}

int openat(int dirfd, const char *path, int flags, ...)
{
    REAL(openat);
    OPEN_MODE(flags, mode)
    const int e = createFault("openat", dirfd, path, flags);
    if (e) { errno = e; return -1; }
    return real_openat(dirfd, path, flags, mode);
}

int openat64(int dirfd, const char *path, int flags, ...)
{
    REAL(openat64);
    OPEN_MODE(flags, mode)
    const int e = createFault("openat64", dirfd, path, flags);
    if (e) { errno = e; return -1; }
    return real_openat64(dirfd, path, flags, mode);
}

int creat(const char *path, mode_t mode)
{
    REAL(creat);
    const int e = createFault("creat", AT_FDCWD, path, O_CREAT | O_WRONLY);
    if (e) { errno = e; return -1; }
    return real_creat(path, mode);
}

int mkdir(const char *path, mode_t mode)
{
    REAL(mkdir);
    const int e = createFault("mkdir", AT_FDCWD, path, O_CREAT);
    if (e) { errno = e; return -1; }
    return real_mkdir(path, mode);
}

int mkdirat(int dirfd, const char *path, mode_t mode)
{
    REAL(mkdirat);
    const int e = createFault("mkdirat", dirfd, path, O_CREAT);
    if (e) { errno = e; return -1; }
    return real_mkdirat(dirfd, path, mode);
}

FILE *fopen(const char *path, const char *mode)
{
    REAL(fopen);
    vanishOn(path);
    return real_fopen(path, mode);
}

FILE *fopen64(const char *path, const char *mode)
{
    REAL(fopen64);
    vanishOn(path);
    return real_fopen64(path, mode);
}

// The checked forms that fortified programs call when the flags are not known at compile time.
int __open_2(const char *path, int flags)
{
    REAL(__open_2);
    const int e = createFault("__open_2", AT_FDCWD, path, flags);
    if (e) { errno = e; return -1; }
    return real___open_2(path, flags);
}

int __open64_2(const char *path, int flags)
{
    REAL(__open64_2);
    const int e = createFault("__open64_2", AT_FDCWD, path, flags);
    if (e) { errno = e; return -1; }
    return real___open64_2(path, flags);
}

int __openat_2(int dirfd, const char *path, int flags)
{
    REAL(__openat_2);
    const int e = createFault("__openat_2", dirfd, path, flags);
    if (e) { errno = e; return -1; }
    return real___openat_2(dirfd, path, flags);
}

int __openat64_2(int dirfd, const char *path, int flags)
{
    REAL(__openat64_2);
    const int e = createFault("__openat64_2", dirfd, path, flags);
    if (e) { errno = e; return -1; }
    return real___openat64_2(dirfd, path, flags);
}
