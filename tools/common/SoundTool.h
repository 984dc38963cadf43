// What the command-line sound tools share: number arguments, sound files
// that close themselves, mono input read chunk by chunk, and an output
// written under a temporary name that only a complete run renames into
// place (an error or an interrupt removes it).
#pragma once

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace soundtool {

inline double parseNumber(const std::string& text, const std::string& what)
{
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end || errno || !std::isfinite(v))
        throw std::runtime_error("'" + text + "' is not a number for " + what);
    return v;
}

// Walks the command line: each call of next() stops at an option (--help
// prints the usage and exits), value() takes the word after it, and
// everything that is not an option is collected in `positional`.
class Arguments {
public:
    Arguments(int argc, char** argv, const char* usage) : argc_(argc), argv_(argv), usage_(usage) {}

    bool next()
    {
        while (++at_ < argc_) {
            option_ = argv_[at_];
            if (option_ == "--help" || option_ == "-h") {
                std::fputs(usage_, stdout);
                std::exit(0);
            }
            if (option_.size() > 1 && option_[0] == '-')
                return true;
            positional.push_back(option_);
        }
        return false;
    }
    bool is(const char* name) const { return option_ == name; }
    std::string value()
    {
        if (at_ + 1 >= argc_)
            throw std::runtime_error(option_ + " needs a value");
        return argv_[++at_];
    }
    [[noreturn]] void unknown() const { throw std::runtime_error("unknown option " + option_ + " (see --help)"); }

    std::vector<std::string> positional;

private:
    int argc_;
    char** argv_;
    const char* usage_;
    int at_ = 0;
    std::string option_;
};

// SYMBOL=VALUE, as --set gives it.
inline std::pair<std::string, std::string> splitSetting(const std::string& text)
{
    const size_t eq = text.find('=');
    if (eq == std::string::npos || eq == 0)
        throw std::runtime_error("--set wants SYMBOL=VALUE, not '" + text + "'");
    return {text.substr(0, eq), text.substr(eq + 1)};
}

// Seconds of tail after the input, as --tail gives them.
inline double parseTail(const std::string& text)
{
    const double seconds = parseNumber(text, "--tail");
    if (seconds < 0 || seconds > 3600)
        throw std::runtime_error("--tail must lie in 0..3600 seconds");
    return seconds;
}

// Frames per run call, as --block gives them.
inline uint32_t parseBlock(const std::string& text)
{
    const double b = parseNumber(text, "--block");
    if (b < 1 || b > 65536 || b != std::floor(b))
        throw std::runtime_error("--block must be a whole number in 1..65536");
    return uint32_t(b);
}

struct SoundFile {
    SNDFILE* file = nullptr;
    SF_INFO info{};
    SoundFile() = default;
    SoundFile(const SoundFile&) = delete;
    SoundFile& operator=(const SoundFile&) = delete;
    ~SoundFile()
    {
        if (file)
            sf_close(file);
    }
};

// The frames a RIFF WAVE file's data chunk claims, or -1 when the path is
// no such WAV on disk (a pipe is never read twice) or its chunks cannot be
// followed to the data. libsndfile quietly reads only what is there, so
// this is how a cut file shows.
inline long long wavDeclaredFrames(const std::string& path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    std::ifstream file(path, std::ios::binary);
    auto le32 = [](const unsigned char* p) { return uint32_t(p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24); };
    unsigned char head[12], chunk[8], fmt[16];
    if (!file.read(reinterpret_cast<char*>(head), 12) || std::memcmp(head, "RIFF", 4) ||
        std::memcmp(head + 8, "WAVE", 4))
        return -1;
    uint32_t blockAlign = 0;
    while (file.read(reinterpret_cast<char*>(chunk), 8)) {
        const uint32_t size = le32(chunk + 4);
        if (!std::memcmp(chunk, "data", 4))
            return blockAlign ? (long long)(size / blockAlign) : -1;
        if (!std::memcmp(chunk, "fmt ", 4)) {
            if (size < 16 || !file.read(reinterpret_cast<char*>(fmt), 16))
                return -1;
            blockAlign = uint32_t(fmt[12] | fmt[13] << 8);
            file.seekg(std::streamoff(size) - 16 + (size & 1), std::ios::cur);
        } else {
            file.seekg(std::streamoff(size) + (size & 1), std::ios::cur);  // chunks are padded to even sizes
        }
    }
    return -1;
}

// The input, with a note on stderr when it has to be mixed down to mono and
// a warning when its data ends before its header says.
inline void openInput(SoundFile& in, const std::string& path, const char* tool)
{
    in.file = sf_open(path.c_str(), SFM_READ, &in.info);
    if (!in.file)
        throw std::runtime_error("cannot read " + path + ": " + sf_strerror(nullptr));
    if (in.info.samplerate <= 0 || in.info.channels <= 0)
        throw std::runtime_error("cannot read " + path + ": no audio");
    if (in.info.channels > 1)
        std::fprintf(stderr, "%s: note: %s has %d channels, mixed down to mono\n", tool, path.c_str(),
                     in.info.channels);
    const long long declared = wavDeclaredFrames(path);
    if (declared > in.info.frames)
        std::fprintf(stderr, "%s: warning: %s ends after %lld frames, its header says %lld (a cut file?); "
                     "using what is there\n", tool, path.c_str(), (long long)in.info.frames, declared);
}

// Up to mono.size() frames of the input, mixed down; how many were read.
inline size_t readMono(SoundFile& in, const std::string& path, std::vector<float>& raw, std::vector<float>& mono)
{
    const int channels = in.info.channels;
    raw.resize(mono.size() * size_t(channels));
    const size_t n = size_t(sf_readf_float(in.file, raw.data(), sf_count_t(mono.size())));
    if (sf_error(in.file))
        throw std::runtime_error("cannot read " + path + ": " + sf_strerror(in.file));
    for (size_t i = 0; i < n; ++i) {
        float sum = 0.0f;
        for (int c = 0; c < channels; ++c)
            sum += raw[i * size_t(channels) + size_t(c)];
        mono[i] = channels == 1 ? sum : sum / float(channels);
    }
    return n;
}

// The temporary output of this process, removed on an error or an interrupt.
inline char g_partialPath[4096];

inline void removePartialAndExit(int signal)
{
    if (g_partialPath[0])
        unlink(g_partialPath);
    _exit(128 + signal);
}

inline void removePartial()
{
    if (g_partialPath[0])
        unlink(g_partialPath);
    g_partialPath[0] = '\0';
}

// Call first in main: an interrupt leaves no half-written file.
inline void removePartialOnInterrupt()
{
    std::signal(SIGINT, removePartialAndExit);
    std::signal(SIGTERM, removePartialAndExit);
}

// A file this run reads, which its output must not replace.
struct ReadFile {
    std::string path;
    std::string what;  // "the input", "a file of the plug-in bundle", ...
};

// The file that OUT names, through any links: a link is written through
// and keeps pointing at the new output, and /dev/stdout redirected to a
// file writes that file. Refused before anything is written: an OUT that
// is one of the files the run reads (by any path, hard or symbolic link),
// one that exists but is no regular file (a folder, a terminal, a pipe),
// and a link to nothing.
inline std::string outputPath(const std::string& out, const std::vector<ReadFile>& reads)
{
    struct stat target;
    if (stat(out.c_str(), &target) != 0) {
        struct stat link;
        if (lstat(out.c_str(), &link) == 0)
            throw std::runtime_error("cannot write " + out + ": a link to nothing");
        return out;  // a new file; a missing folder shows when it is opened
    }
    if (!S_ISREG(target.st_mode))
        throw std::runtime_error("cannot write " + out + ": not a regular file");
    for (const ReadFile& r : reads) {
        struct stat st;
        if (stat(r.path.c_str(), &st) == 0 && st.st_dev == target.st_dev && st.st_ino == target.st_ino)
            throw std::runtime_error("will not write " + out + ": it is " + r.what + " (" + r.path +
                                     "); choose another OUT");
    }
    char* real = realpath(out.c_str(), nullptr);
    if (!real) {
        const int error = errno;
        throw std::runtime_error("cannot write " + out + ": " + std::strerror(error));
    }
    const std::string path = real;
    std::free(real);
    return path;
}

// A 32-bit float WAV beside `path` under a temporary name that this process
// creates afresh: whatever already has that name is never opened, nor
// removed by an interrupt.
inline void openPartialOutput(SoundFile& out, const std::string& path, int rate, int channels)
{
    char partial[sizeof g_partialPath];
    std::snprintf(partial, sizeof partial, "%s.partial-%d", path.c_str(), int(getpid()));
    out.info.samplerate = rate;
    out.info.channels = channels;
    out.info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    const int fd = open(partial, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int error = errno;
        throw std::runtime_error("cannot write " + path + ": " +
                                 (error == EEXIST ? std::string(partial) + " is in the way" : std::strerror(error)));
    }
    std::memcpy(g_partialPath, partial, sizeof partial);
    out.file = sf_open_fd(fd, SFM_WRITE, &out.info, SF_TRUE);
    if (!out.file) {
        removePartial();
        throw std::runtime_error("cannot write " + path + ": " + sf_strerror(nullptr));
    }
}

inline void writeFrames(SoundFile& out, const std::string& path, const float* interleaved, size_t frames)
{
    if (sf_writef_float(out.file, interleaved, sf_count_t(frames)) != sf_count_t(frames))
        throw std::runtime_error("cannot write " + path + ": " + sf_strerror(out.file));
}

// Closes the complete output and renames it to `path`.
inline void commitOutput(SoundFile& out, const std::string& path)
{
    sf_close(out.file);
    out.file = nullptr;
    if (std::rename(g_partialPath, path.c_str()) != 0)
        throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
    g_partialPath[0] = '\0';
}

// A whole sound file, one vector per channel.
struct Sound {
    double rate = 0;
    std::vector<std::vector<float>> channels;
};

inline Sound readSound(const std::string& path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file)
        throw std::runtime_error("cannot read " + path + ": " + sf_strerror(nullptr));
    std::vector<float> interleaved(size_t(info.frames) * size_t(std::max(info.channels, 0)));
    const sf_count_t got = sf_readf_float(file, interleaved.data(), info.frames);
    const std::string error = sf_error(file) ? sf_strerror(file) : "";
    sf_close(file);
    if (!error.empty() || got != info.frames || info.samplerate <= 0 || info.channels <= 0)
        throw std::runtime_error("cannot read " + path + ": " + (error.empty() ? "no audio" : error));
    Sound s;
    s.rate = info.samplerate;
    s.channels.assign(size_t(info.channels), std::vector<float>(size_t(info.frames)));
    for (size_t i = 0; i < size_t(info.frames); ++i)
        for (size_t c = 0; c < s.channels.size(); ++c)
            s.channels[c][i] = interleaved[i * s.channels.size() + c];
    return s;
}

// The mean of the channels, as readMono mixes the input down.
inline std::vector<float> mixDown(const Sound& s)
{
    std::vector<float> mono(s.channels[0].size(), 0.0f);
    for (const auto& c : s.channels)
        for (size_t i = 0; i < mono.size(); ++i)
            mono[i] += c[i];
    for (float& v : mono)
        v /= float(s.channels.size());
    return mono;
}

} // namespace soundtool
