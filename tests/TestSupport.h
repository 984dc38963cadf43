// What every test host here needs alike: a guard for the diagnostic log
// file, a file reader, white noise and a bit-exact sample comparison.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace support {

inline std::string readFile(const char* path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}
inline std::string readFile(const std::string& path) { return readFile(path.c_str()); }

inline bool pathExists(const char* path)
{
    struct stat st;
    return lstat(path, &st) == 0;
}

inline std::vector<float> whiteNoise(size_t frames, float level, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> uniform(-level, level);
    std::vector<float> signal(frames);
    for (float& x : signal)
        x = uniform(rng);
    return signal;
}

// Equal down to the last bit; with `anyNaN`, any two NaNs count as equal.
inline bool sameBits(float a, float b, bool anyNaN = false)
{
    return (anyNaN && std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

// Moves whatever is at the log path aside (file, link, anything) for the
// guard's lifetime and puts it back afterwards.
class LogFile {
public:
    static constexpr const char* kPath = "/tmp/plonkbrett.log";

    LogFile() : saved_(std::string(kPath) + ".test-saved." + std::to_string(getpid()))
    {
        moved_ = std::rename(kPath, saved_.c_str()) == 0;
    }
    ~LogFile()
    {
        unlink(kPath);
        if (moved_)
            std::rename(saved_.c_str(), kPath);
    }
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    static void switchOn(const std::string& text) { std::ofstream(kPath, std::ios::trunc) << text; }
    static void switchOff() { std::remove(kPath); }
    static bool exists() { return std::ifstream(kPath).good(); }
    static std::string text() { return readFile(kPath); }
    // Lines equal to the text, or starting with it.
    static int countLines(const std::string& what, bool prefix = false)
    {
        std::istringstream all(text());
        int n = 0;
        for (std::string line; std::getline(all, line);)
            n += prefix ? line.compare(0, what.size(), what) == 0 : line == what;
        return n;
    }

private:
    std::string saved_;
    bool moved_ = false;
};

} // namespace support
