#include "conversion/image/RemovalProtocol.h"

#include <cerrno>

#include <sys/socket.h>
#include <unistd.h>

namespace RemovalProtocol {

bool readFully(int fd, void *data, size_t size)
{
    auto *p = static_cast<char *>(data);
    while (size > 0) {
        const ssize_t n = ::read(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

bool writeFully(int fd, const void *data, size_t size)
{
    const auto *p = static_cast<const char *>(data);
    bool socket = true;
    while (size > 0) {
        // On a socket, a peer that is gone fails the write instead of raising SIGPIPE.
        ssize_t n = socket ? ::send(fd, p, size, MSG_NOSIGNAL) : ::write(fd, p, size);
        if (n < 0 && errno == ENOTSOCK) {
            socket = false;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

} // namespace RemovalProtocol
