// run on the audio thread: no heap allocation, no free, and no system call
// but the diagnostic log's own. Allocations are counted by replacing the C
// allocator in this executable (operator new and delete end there, and so
// do the loaded module's calls), on every architecture; system calls by a
// seccomp filter that traps every one of them in a child process while it
// drives the instance. The trap reads x86-64 registers and repeats calls
// with the syscall instruction, so it exists on x86-64 only; elsewhere the
// system call tests skip and say so.
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "Harness.h"

using namespace support;

// ---- allocation counting ------------------------------------------------

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);
}

namespace {
std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};
std::atomic<long> g_frees{0};

void* counted(void* p)
{
    if (g_counting.load(std::memory_order_relaxed))
        g_allocations.fetch_add(1, std::memory_order_relaxed);
    return p;
}
void countFree(void* p)
{
    if (p && g_counting.load(std::memory_order_relaxed))
        g_frees.fetch_add(1, std::memory_order_relaxed);
}
} // namespace

extern "C" {
void* malloc(size_t n) { return counted(__libc_malloc(n)); }
void* calloc(size_t n, size_t size) { return counted(__libc_calloc(n, size)); }
void* realloc(void* p, size_t n) { return counted(__libc_realloc(p, n)); }
void* memalign(size_t alignment, size_t n) { return counted(__libc_memalign(alignment, n)); }
void* aligned_alloc(size_t alignment, size_t n) { return counted(__libc_memalign(alignment, n)); }
int posix_memalign(void** out, size_t alignment, size_t n)
{
    *out = counted(__libc_memalign(alignment, n));
    return *out ? 0 : ENOMEM;
}
void free(void* p)
{
    countFree(p);
    __libc_free(p);
}
}

namespace {

// What the child reports to the test through shared memory.
struct Report {
    long setupAllocations;  // instantiate's, which must be seen
    long allocations, frees, runs;
    long calls[512];  // system calls made inside the window, by number (x86-64 only)
    long forbidden;   // of those, calls outside the admitted set
    long firstForbidden;
};

constexpr int kNoTrap = 3;  // the child's exit code when no filter could be set

// ---- system call counting (x86-64) ---------------------------------------

#if defined(__x86_64__)

// The signal handler repeats an admitted call with this sixth argument,
// which no call of the plug-in uses, and the filter lets exactly those pass.
constexpr uint64_t kPassMark = 0x600dca115eccf00dULL;

Report* g_report = nullptr;
bool g_logAdmitted = false;
long g_logFd = -1;

// For each line the log opens its file, checks it (fstat), writes the line
// and closes the file again.
bool belongsToLog(long nr, const greg_t* reg)
{
    const auto text = [](greg_t address) { return reinterpret_cast<const char*>(address); };
    switch (nr) {
    case SYS_openat: return std::strcmp(text(reg[REG_RSI]), LogFile::kPath) == 0;
    case SYS_open: return std::strcmp(text(reg[REG_RDI]), LogFile::kPath) == 0;
    case SYS_fstat:
    case SYS_newfstatat:
    case SYS_close: return reg[REG_RDI] == g_logFd;
    case SYS_write: return reg[REG_RDI] == g_logFd && std::strncmp(text(reg[REG_RSI]), "fdbk: ", 6) == 0;
    default: return false;
    }
}

long rawSyscall(long nr, long a, long b, long c, long d, long e, long f)
{
    register long r10 __asm__("r10") = d;
    register long r8 __asm__("r8") = e;
    register long r9 __asm__("r9") = f;
    long result;
    __asm__ volatile("syscall"
                     : "=a"(result)
                     : "a"(nr), "D"(a), "S"(b), "d"(c), "r"(r10), "r"(r8), "r"(r9)
                     : "rcx", "r11", "memory");
    return result;
}

void onTrappedCall(int, siginfo_t* info, void* context)
{
    greg_t* reg = static_cast<ucontext_t*>(context)->uc_mcontext.gregs;
    const long nr = info->si_syscall;
    g_report->calls[std::clamp(nr, 0L, 511L)]++;
    if (g_logAdmitted && belongsToLog(nr, reg)) {
        reg[REG_RAX] = rawSyscall(nr, reg[REG_RDI], reg[REG_RSI], reg[REG_RDX], reg[REG_R10], reg[REG_R8],
                                  static_cast<long>(kPassMark));
        if (nr == SYS_openat || nr == SYS_open)
            g_logFd = reg[REG_RAX];
        return;
    }
    if (g_report->forbidden++ == 0)
        g_report->firstForbidden = nr;
    reg[REG_RAX] = -ENOSYS;
}

// From here on every system call of this thread traps, except the marked
// repeats, the return from the handler and the final exit.
void trapEverySystemCall()
{
    constexpr uint32_t argLow = offsetof(seccomp_data, args[5]);
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, argLow),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<uint32_t>(kPassMark), 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, argLow + 4),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<uint32_t>(kPassMark >> 32), 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_rt_sigreturn, 2, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_exit_group, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRAP),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    const sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    struct sigaction action {};
    action.sa_sigaction = onTrappedCall;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    if (sigaction(SIGSYS, &action, nullptr) != 0 || prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
        _exit(kNoTrap);
}

#endif

// ---- the measurement -----------------------------------------------------

// How the log file stands in the window: absent, there, or there when the
// instance is made and deleted before the window opens.
enum class Log { off, on, deleted };

// In a child process (a seccomp filter cannot be taken back): one instance,
// made and connected before the window; inside it `runs` calls of run with
// every control moving on every call, now and then to a hostile value. With
// trapCalls (x86-64 only) every system call in the window is counted too.
Report measure(Log log, long runs, bool trapCalls)
{
    const bool logOn = log != Log::off;  // at instantiate
    auto* report = static_cast<Report*>(
        mmap(nullptr, sizeof(Report), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    EXPECT_NE(static_cast<void*>(report), MAP_FAILED);
    const pid_t child = fork();
    if (child == 0) {
        // instantiate allocates: counting it proves that the module's calls
        // reach this allocator.
        (void)descriptor();
        g_counting = true;
        Instance instance;
        g_counting = false;
        report->setupAllocations = g_allocations.exchange(0);
        g_frees = 0;
        const std::vector<float> input = whiteNoise(4096, 0.5f, 1);
        std::vector<float> left(4096), right(4096);
        instance.connectAudio(input.data(), left.data(), right.data());
        instance.run(256);
        if (log == Log::deleted)
            unlink(LogFile::kPath);
        std::mt19937 rng(11);
        constexpr uint32_t kSizes[] = {0, 1, 15, 16, 17, 64, 256, 511, 4096};

        if (trapCalls) {
#if defined(__x86_64__)
            g_report = report;
            g_logAdmitted = logOn;
            // One of the host's other threads draws random numbers all along:
            // a plug-in that touched the C library's generator would take its
            // lock against it and wait in futex calls. The thread dies with
            // the child.
            std::thread([] {
                for (;;)
                    (void)rand();
            }).detach();
            trapEverySystemCall();
#else
            (void)logOn;  // only the trap admits the log's calls
            _exit(kNoTrap);
#endif
        }
        g_counting = true;
        for (long i = 0; i < runs; ++i) {
            instance.randomControls(rng);
            if (rng() % 8 == 0)
                instance.hostileControl(rng);
            instance.run(kSizes[rng() % std::size(kSizes)]);
        }
        g_counting = false;
        report->allocations = g_allocations;
        report->frees = g_frees;
        report->runs = runs;
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    const bool trapUnavailable = WIFEXITED(status) && WEXITSTATUS(status) == kNoTrap;
    EXPECT_TRUE(trapUnavailable || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) << "child status " << status;
    Report result = *report;
    if (trapUnavailable)
        result.runs = -1;
    munmap(report, sizeof(Report));
    return result;
}

// With the log file on or off: `runs` calls measured, none of which may
// allocate or free. False when this system does not permit the trap.
class RealTimeSafety : public testing::Test {
protected:
    bool measureRuns(Log state, long runs, bool trapCalls)
    {
        state == Log::off ? LogFile::switchOff() : LogFile::switchOn("1\n");
        report = measure(state, runs, trapCalls);
        EXPECT_GT(report.setupAllocations, 0) << "the module's allocations do not reach the counting allocator";
        EXPECT_EQ(report.allocations, 0);
        EXPECT_EQ(report.frees, 0);
        return report.runs >= 0;
    }
    LogFile log;
    Report report{};
};

// Allocations alone, on every architecture.
TEST_F(RealTimeSafety, RunWithoutLogAllocatesNothing)
{
    ASSERT_TRUE(measureRuns(Log::off, 3000, false));
    std::printf("%ld runs without log: %ld allocations, %ld frees\n", report.runs, report.allocations, report.frees);
}

TEST_F(RealTimeSafety, RunWithLogAllocatesNothing)
{
    ASSERT_TRUE(measureRuns(Log::on, 300, false));
    std::printf("%ld runs with log: %ld allocations, %ld frees\n", report.runs, report.allocations, report.frees);
}

#if defined(__x86_64__)

long total(const Report& report)
{
    long sum = 0;
    for (const long n : report.calls)
        sum += n;
    return sum;
}

TEST_F(RealTimeSafety, RunWithoutLogCallsNoSystemCall)
{
    if (!measureRuns(Log::off, 3000, true))
        GTEST_SKIP() << "this system does not permit seccomp filters";
    EXPECT_EQ(total(report), 0) << "first call: " << report.firstForbidden;
    std::printf("%ld runs without log: %ld allocations, %ld frees, %ld system calls\n", report.runs,
                report.allocations, report.frees, total(report));
}

// Every log line costs exactly one open, fstat, write and close of
// the log file, and nothing else is called.
TEST_F(RealTimeSafety, RunWithLogCallsOnlyTheLogsOwnSystemCalls)
{
    if (!measureRuns(Log::on, 300, true))
        GTEST_SKIP() << "this system does not permit seccomp filters";
    const long lines = report.calls[SYS_write];
    EXPECT_EQ(report.forbidden, 0) << "first forbidden call: " << report.firstForbidden;
    EXPECT_GT(lines, 1000);
    for (const long nr : {long{SYS_openat}, long{SYS_newfstatat}, long{SYS_write}, long{SYS_close}})
        EXPECT_EQ(report.calls[nr], lines) << "system call " << nr;
    std::printf("%ld runs with log: %ld allocations, %ld lines, %ld system calls (open, fstat, write, close per "
                "line), %ld others\n",
                report.runs, report.allocations, lines, total(report), report.forbidden);
}

// A log deleted under a running instance costs one failed open, then
// logging is off for the process.
TEST_F(RealTimeSafety, LogDeletedWhileRunningCostsOneFileCall)
{
    if (!measureRuns(Log::deleted, 300, true))
        GTEST_SKIP() << "this system does not permit seccomp filters";
    EXPECT_LE(total(report), 1) << "open calls: " << report.calls[SYS_openat];
}

#else

TEST_F(RealTimeSafety, SystemCallsAreCountedOnX86_64Only)
{
    GTEST_SKIP() << "system calls of run not counted on this architecture: the seccomp trap reads x86-64 "
                    "registers and repeats calls with the syscall instruction (allocations are counted above)";
}

#endif

} // namespace
