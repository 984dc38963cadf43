// Diagnostic log: "/tmp/plonkbrett.log" switches it on by existing when an
// instance is created, and the number at its start sets how much is written.
#pragma once

#include <atomic>

// Process-wide level shared by every instance. Written by instantiate, read
// by the audio threads, so it is an atomic accessed with relaxed order.
extern std::atomic<int> g_logLevel;

constexpr const char* kLogPath = "/tmp/plonkbrett.log";

// Reads the level from the log file and, when the file could be read,
// appends the activation line.
void readLogLevel();

// Whether a line of this level is to be written. Tested before any file
// access, so a switched-off log costs no system call.
inline bool logWants(int level)
{
    return level <= g_logLevel.load(std::memory_order_relaxed);
}

// Appends one formatted line; callers test logWants first. When the file
// has gone, the level goes to 0 for the process until the next instantiate.
void writeLogLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
