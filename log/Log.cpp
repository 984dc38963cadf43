#include "Log.h"

#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::atomic<int> g_logLevel{0};

namespace {

// Taken once when the library loads, so a log line costs no extra call.
const uid_t g_hostUser = geteuid();

// The path lies in a directory every user can write to, so the file is only
// trusted when it is a regular file of our own with no other name (a hard
// link would let the log append to some other file), reached without a
// symbolic link. O_NONBLOCK keeps a FIFO planted at the path from blocking
// the open.
int openTrusted(int flags)
{
    const int fd = open(kLogPath, flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != g_hostUser || st.st_nlink != 1) {
        close(fd);
        return -1;
    }
    return fd;
}

// The decimal number at the start of the file, after any white space, as
// "%d" reads it, but held to the int range: a huge level still means "log
// everything" (and a huge negative one "nothing"). No number gives 1.
int levelFrom(FILE* file)
{
    int c = std::getc(file);
    while (c != EOF && std::isspace(c))
        c = std::getc(file);
    const bool negative = c == '-';
    if (c == '-' || c == '+')
        c = std::getc(file);
    if (c == EOF || !std::isdigit(c))
        return 1;
    long long magnitude = 0;
    constexpr long long kBeyond = static_cast<long long>(INT_MAX) + 2;
    for (; c != EOF && std::isdigit(c); c = std::getc(file))
        if (magnitude < kBeyond)
            magnitude = magnitude * 10 + (c - '0');
    const long long value = negative ? -magnitude : magnitude;
    return value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
}

} // namespace

void readLogLevel()
{
    const int fd = openTrusted(O_RDONLY);
    if (fd < 0) {
        g_logLevel.store(0, std::memory_order_relaxed);
        return;
    }
    FILE* file = fdopen(fd, "r");
    if (!file) {
        close(fd);
        g_logLevel.store(0, std::memory_order_relaxed);
        return;
    }
    const int level = levelFrom(file);
    std::fclose(file);
    g_logLevel.store(level, std::memory_order_relaxed);
    if (logWants(0))
        writeLogLine("### log is active now ### ");
}

void writeLogLine(const char* format, ...)
{
    int admittedLevel = g_logLevel.load(std::memory_order_relaxed);
    // Formatted on the stack and written with one call, so lines from
    // several instances interleave only as whole lines. The messages are
    // short; a longer one is cut rather than allocated for.
    char text[256];
    va_list args;
    va_start(args, format);
    int size = std::vsnprintf(text, sizeof text - 1, format, args);
    va_end(args);
    if (size < 0)
        return;
    if (size > static_cast<int>(sizeof text) - 2)
        size = static_cast<int>(sizeof text) - 2;
    text[size++] = '\n';

    // Never created here. A file that has gone (or can no longer be
    // trusted) switches the log off for the whole process, as if it had been
    // absent when the instance was created, so no later line tries to open
    // it again; the next instantiate reads the file anew. Only the level
    // this line was admitted under is switched off: an instantiate that has
    // read another one meanwhile keeps it.
    const int fd = openTrusted(O_WRONLY | O_APPEND);
    if (fd < 0) {
        g_logLevel.compare_exchange_strong(admittedLevel, 0, std::memory_order_relaxed);
        return;
    }
    ssize_t ignored = write(fd, text, static_cast<size_t>(size));
    (void)ignored;
    close(fd);
}
