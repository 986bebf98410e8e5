// perchbox-remove-background MODEL: runs the background-removal network for Perchbox, which
// starts it with the C library set to hand out large blocks in huge pages (a setting it reads
// only as a process starts: the model's importer allocates a few hundred megabytes, and fresh
// memory touched a 4 KB page at a time made a cold removal a second slower). Speaks the
// protocol of RemovalProtocol.h on its standard input and output; leaves when its input ends.
#include "conversion/image/RemovalProtocol.h"
#include "conversion/image/SegmentationNetwork.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

bool reply(int fd, char code)
{
    return RemovalProtocol::writeFully(fd, &code, 1);
}

bool replyError(int fd, std::string text)
{
    if (text.size() > RemovalProtocol::kMaxErrorBytes)
        text.resize(RemovalProtocol::kMaxErrorBytes);
    const uint32_t length = uint32_t(text.size());
    return reply(fd, RemovalProtocol::kError) && RemovalProtocol::writeFully(fd, &length, sizeof length)
           && RemovalProtocol::writeFully(fd, text.data(), text.size());
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s MODEL\n(started by Perchbox to remove backgrounds)\n", argv[0]);
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN); // a closed socket is a failed write, then the end
    const std::string model = argv[1];
    SegmentationNetwork network;
    // Start on the model at once: the process is started when a removal is about to run. A
    // failure is reported to the first request, which tries again.
    network.load(model, nullptr);

    std::vector<uint8_t> rgb(SegmentationNetwork::kInputBytes);
    std::vector<float> mask(SegmentationNetwork::kMaskFloats);
    for (;;) {
        char op = 0;
        if (!RemovalProtocol::readFully(STDIN_FILENO, &op, 1))
            return 0;
        std::string error;
        bool ok = false;
        switch (op) {
        case RemovalProtocol::kLoad:
            ok = network.load(model, &error) && reply(STDOUT_FILENO, RemovalProtocol::kDone);
            break;
        case RemovalProtocol::kRemove:
            if (!RemovalProtocol::readFully(STDIN_FILENO, rgb.data(), rgb.size()))
                return 0;
            ok = network.run(model, rgb.data(), mask.data(), &error)
                 && reply(STDOUT_FILENO, RemovalProtocol::kMask)
                 && RemovalProtocol::writeFully(STDOUT_FILENO, mask.data(), mask.size() * sizeof(float));
            break;
        default:
            replyError(STDOUT_FILENO, "unknown request");
            return 2;
        }
        if (!ok && !error.empty() && !replyError(STDOUT_FILENO, error))
            return 0;
        if (!ok && error.empty())
            return 0; // the reply could not be written: Perchbox is gone
    }
}
