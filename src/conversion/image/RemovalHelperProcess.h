#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

// The background-removal helper (perchbox-remove-background) as a child process: started with
// the C library handing out large blocks in huge pages, fed one request at a time over a
// socket. The network lives in the helper, so freeing it is ending the process.
//
// Not thread-safe: one caller at a time.
class RemovalHelperProcess
{
public:
    RemovalHelperProcess() = default;
    ~RemovalHelperProcess();
    RemovalHelperProcess(const RemovalHelperProcess &) = delete;
    RemovalHelperProcess &operator=(const RemovalHelperProcess &) = delete;

    // Starts `program` on `model` (it begins loading at once). False, with the reason, when
    // it cannot be started.
    bool start(const std::string &program, const std::string &model, std::string *error);
    // True while the helper runs; one that ended meanwhile (say, killed while idle) is reaped.
    bool isRunning();
    const std::string &model() const { return m_model; }
    // The helper's process id, or -1 when none was started (or it was stopped).
    pid_t processId() const { return m_pid; }

    // Each waits for the helper's answer. On false the helper is gone (stopped, with the reason
    // it ended in `error`) unless `error` holds the helper's own report of a failed request.
    bool load(std::string *error);
    // `rgb`: 1024 × 1024 × 3 bytes; `mask`: 1024 × 1024 floats.
    bool remove(const uint8_t *rgb, float *mask, std::string *error);

    // Ends the helper (and frees its memory) at once.
    void stop();

    // True when the last request failed because a signal ended the helper: killed from
    // outside (while idle, to free memory, say), not a failure of its own.
    bool lastEndedBySignal() const { return m_endedBySignal; }

private:
    bool request(char op, const uint8_t *rgb, float *mask, std::string *error);
    // Closes the socket and reaps the helper, killing it first when `killFirst`; its wait
    // status, or -1 when there was none to reap.
    int end(bool killFirst);
    // Ends the helper after a failed request; false, with the reason it ended (or `what`).
    bool lost(const std::string &what, std::string *error);

    pid_t m_pid = -1;
    int m_socket = -1;
    std::string m_model;
    bool m_endedBySignal = false;
};
