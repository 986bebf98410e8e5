#include "conversion/image/RemovalHelperProcess.h"

#include "conversion/image/RemovalProtocol.h"
#include "conversion/image/SegmentationNetwork.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>

#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr char kTunables[] = "GLIBC_TUNABLES=";
constexpr char kHugeBlocks[] = "glibc.malloc.hugetlb=1";

// The environment of this process, with huge blocks added to the C library's settings.
std::vector<std::string> helperEnvironment()
{
    std::vector<std::string> env;
    bool tunablesSeen = false;
    for (char **e = environ; e && *e; ++e) {
        std::string entry = *e;
        if (entry.rfind(kTunables, 0) == 0) {
            tunablesSeen = true;
            if (entry.find("glibc.malloc.hugetlb") == std::string::npos)
                entry += (entry.size() > std::strlen(kTunables) ? ":" : "") + std::string(kHugeBlocks);
        }
        env.push_back(std::move(entry));
    }
    if (!tunablesSeen)
        env.push_back(std::string(kTunables) + kHugeBlocks);
    return env;
}

} // namespace

RemovalHelperProcess::~RemovalHelperProcess()
{
    stop();
}

bool RemovalHelperProcess::start(const std::string &program, const std::string &model, std::string *error)
{
    stop();
    int sockets[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0) {
        if (error)
            *error = std::string("Could not start the background-removal helper: ") + std::strerror(errno);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The helper's end becomes its standard input and output (dup2 clears close-on-exec).
    posix_spawn_file_actions_adddup2(&actions, sockets[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, sockets[1], STDOUT_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // The helper starts with the default signal dispositions and mask, whatever this thread has.
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    const std::vector<std::string> env = helperEnvironment();
    std::vector<char *> envp;
    for (const std::string &e : env)
        envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);
    char *argv[] = {const_cast<char *>(program.c_str()), const_cast<char *>(model.c_str()), nullptr};

    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(sockets[1]);
    if (rc != 0) {
        ::close(sockets[0]);
        if (error)
            *error = "Could not start the background-removal helper " + program + ": " + std::strerror(rc);
        return false;
    }
    m_pid = pid;
    m_socket = sockets[0];
    m_model = model;
    return true;
}

bool RemovalHelperProcess::isRunning()
{
    if (m_pid <= 0)
        return false;
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        stop();
        return false;
    }
    return true;
}

int RemovalHelperProcess::end(bool killFirst)
{
    if (m_socket >= 0) {
        ::close(m_socket);
        m_socket = -1;
    }
    int status = -1;
    if (m_pid > 0) {
        if (killFirst)
            ::kill(m_pid, SIGKILL);
        int reaped = 0;
        pid_t r;
        while ((r = ::waitpid(m_pid, &reaped, 0)) < 0 && errno == EINTR) {
        }
        if (r == m_pid)
            status = reaped;
        m_pid = -1;
    }
    m_model.clear();
    return status;
}

void RemovalHelperProcess::stop()
{
    end(true); // nothing of the helper's needs saving; its memory goes back at once
}

bool RemovalHelperProcess::lost(const std::string &what, std::string *error)
{
    const int status = end(false);
    m_endedBySignal = status >= 0 && WIFSIGNALED(status);
    std::string why = what;
    if (m_endedBySignal)
        why = "the background-removal helper was ended by signal " + std::to_string(WTERMSIG(status))
              + (WTERMSIG(status) == SIGKILL ? " (the system may have run out of memory)" : "");
    else if (status >= 0 && WIFEXITED(status))
        why = "the background-removal helper stopped (exit status " + std::to_string(WEXITSTATUS(status)) + ")";
    if (error)
        *error = why;
    return false;
}

bool RemovalHelperProcess::request(char op, const uint8_t *rgb, float *mask, std::string *error)
{
    m_endedBySignal = false;
    if (m_socket < 0)
        return lost("the background-removal helper is not running", error);
    if (!RemovalProtocol::writeFully(m_socket, &op, 1)
        || (rgb && !RemovalProtocol::writeFully(m_socket, rgb, SegmentationNetwork::kInputBytes)))
        return lost("the background-removal helper stopped", error);
    char answer = 0;
    if (!RemovalProtocol::readFully(m_socket, &answer, 1))
        return lost("the background-removal helper stopped", error);
    if (answer == RemovalProtocol::kError) {
        uint32_t length = 0;
        if (!RemovalProtocol::readFully(m_socket, &length, sizeof length) || length > RemovalProtocol::kMaxErrorBytes)
            return lost("the background-removal helper stopped", error);
        std::string text(length, '\0');
        if (!RemovalProtocol::readFully(m_socket, text.data(), length))
            return lost("the background-removal helper stopped", error);
        if (error)
            *error = text;
        return false;
    }
    const char expected = mask ? RemovalProtocol::kMask : RemovalProtocol::kDone;
    if (answer != expected) {
        stop();
        if (error)
            *error = "the background-removal helper gave an answer Perchbox does not understand";
        return false;
    }
    if (mask && !RemovalProtocol::readFully(m_socket, mask, SegmentationNetwork::kMaskFloats * sizeof(float)))
        return lost("the background-removal helper stopped", error);
    return true;
}

bool RemovalHelperProcess::load(std::string *error)
{
    return request(RemovalProtocol::kLoad, nullptr, nullptr, error);
}

bool RemovalHelperProcess::remove(const uint8_t *rgb, float *mask, std::string *error)
{
    return request(RemovalProtocol::kRemove, rgb, mask, error);
}
