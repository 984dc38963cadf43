// Peak memory of streuwolke-analyze on long stereo files at 48 kHz (steady
// noise peaking at -20 dBFS, written into $TMPDIR and removed afterwards): the tool,
// which reads a file in pieces and keeps a bounded part of it, beside the
// whole file read and analysed in memory as the tool did before (with
// today's measures, which already hold less than the old ones). Each runs
// in a child process; the figure is the child's peak resident set.
//   streuwolke_bench_analyze_memory [MINUTES...]   (default: 1 10 60)
// The whole-file road runs only up to 10 minutes (an hour would take some
// 10 GB).
#include <sndfile.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Analysis.h"
#include "SoundTool.h"

namespace {

constexpr int kRate = 48000;

void writeNoise(const std::string& path, double seconds)
{
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) {
        std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), sf_strerror(nullptr));
        std::exit(1);
    }
    std::vector<float> piece(2 * 65536);
    uint32_t state = 1;
    for (size_t left = size_t(seconds * kRate); left > 0;) {
        const size_t n = std::min<size_t>(left, 65536);
        for (size_t i = 0; i < 2 * n; ++i) {
            state = state * 1664525u + 22695477u;
            piece[i] = 0.1f * (float(state >> 8) / 8388608.0f - 1.0f);
        }
        sf_writef_float(f, piece.data(), sf_count_t(n));
        left -= n;
    }
    sf_close(f);
}

// Runs `work` in a child; its peak resident set in MB, or -1 when it failed.
template <typename Work>
double peakMegabytes(Work work)
{
    const pid_t child = fork();
    if (child == 0)
        _exit(work());
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return double(usage.ru_maxrss) / 1024.0;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<double> minutes;
    for (int i = 1; i < argc; ++i)
        minutes.push_back(std::atof(argv[i]));
    if (minutes.empty())
        minutes = {1, 10, 60};
    const char* tmp = std::getenv("TMPDIR");
    const std::string dir = std::string(tmp && *tmp ? tmp : "/tmp");
    std::printf("| file (stereo, 48 kHz) | size (MB) | streuwolke-analyze peak (MB) | whole file in memory, peak (MB) |\n");
    std::printf("|---|---|---|---|\n");
    for (double m : minutes) {
        const std::string path = dir + "/streuwolke-bench-analyze-" + std::to_string(getpid()) + ".wav";
        writeNoise(path, 60.0 * m);
        const double tool = peakMegabytes([&] {
            const std::string command = "'" STREUWOLKE_ANALYZE_TOOL "' --json '" + path + "' >/dev/null 2>&1";
            return std::system(command.c_str()) == 0 ? 0 : 1;
        });
        const double whole = m > 10 ? -1 : peakMegabytes([&] {
            const soundtool::Sound s = soundtool::readSound(path);
            return analyze(s.channels, s.rate).frames == s.channels[0].size() ? 0 : 1;
        });
        unlink(path.c_str());
        std::printf("| %g min | %.0f | %s | %s |\n", m, 60.0 * m * kRate * 8 / 1e6,
                    tool < 0 ? "failed" : std::to_string(int(tool + 0.5)).c_str(),
                    whole < 0 ? (m > 10 ? "not run" : "failed") : std::to_string(int(whole + 0.5)).c_str());
    }
    return 0;
}
