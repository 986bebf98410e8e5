#include "conversion/image/RemovalProtocol.h"

#include <cerrno>

#include <sys/socket.h>
#include <unistd.h>

namespace RemovalProtocol {

namespace {

// Repeats `step` (one read or write of at most the bytes left, returning what it moved) until
// all `size` bytes have gone; false at the end of the stream or on an error.
template <typename Byte, typename Step>
bool whole(Byte *p, size_t size, Step step)
{
    while (size > 0) {
        const ssize_t n = step(p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

} // namespace

bool readFully(int fd, void *data, size_t size)
{
    return whole(static_cast<char *>(data), size, [fd](char *p, size_t n) { return ::read(fd, p, n); });
}

bool writeFully(int fd, const void *data, size_t size)
{
    bool socket = true;
    return whole(static_cast<const char *>(data), size, [fd, &socket](const char *p, size_t n) {
        // On a socket, a peer that is gone fails the write instead of raising SIGPIPE.
        if (socket) {
            const ssize_t sent = ::send(fd, p, n, MSG_NOSIGNAL);
            if (sent >= 0 || errno != ENOTSOCK)
                return sent;
            socket = false;
        }
        return ::write(fd, p, n);
    });
}

} // namespace RemovalProtocol
