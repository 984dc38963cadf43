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

// Appends one formatted line when level <= g_logLevel. The level test comes
// before any file access, so a switched-off log costs no system call.
void writeLogLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

template <typename... Args>
inline void logLine(int level, const char* format, Args... args)
{
    if (level > g_logLevel.load(std::memory_order_relaxed))
        return;
    writeLogLine(format, args...);
}
