#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

// What every fuzz target shares. FuzzSupport.cpp defines LLVMFuzzerInitialize: before the
// first input the process gets a QCoreApplication and XDG/HOME folders of its own inside
// $TMPDIR, so that no target ever reads or writes the user's real configuration.
namespace Fuzz {

// A private scratch folder for targets that need files (created at start-up).
QString scratchDir();

// Stops the run with a message: libFuzzer records the input as a crash.
[[noreturn]] void fail(const char *condition, const char *file, int line, const QByteArray &detail = {});

} // namespace Fuzz

// An invariant of the code under test: when it does not hold, the input is a finding.
#define FUZZ_CHECK(condition, ...)                                                                 \
    do {                                                                                           \
        if (!(condition))                                                                          \
            Fuzz::fail(#condition, __FILE__, __LINE__ __VA_OPT__(, ) __VA_ARGS__);                 \
    } while (0)
