// Renders seeded random sessions through the built module, loaded with
// dlopen as a host loads it, so that builds for different processors can be
// compared bit for bit (tools/test.sh: x86-64 against aarch64 and armhf
// under qemu). Each session: a random sample rate; bursts of noise, clicks,
// steps and tiny (subnormal) noise at random levels, each followed by a tail
// of silence, the last one 10 s long with a decay short enough to fall
// through the flush-to-zero range; every control automated (ramps and
// jumps, within its range, beyond it, and now and then to a value no host
// should send); random block sizes, 0 included; the input sharing a buffer
// with an output, buffers that move between runs, and control ports moved
// between two arrays.
//
//   render_sessions MODULE OUT_DIR             writes OUT_DIR/session-NN.f32
//   render_sessions MODULE --against REF_DIR   compares with REF_DIR's files
//   [--sessions N]                             default 8
//
// The files hold the frames as they come, left and right interleaved, as
// raw floats. Every session prints a line with its length, its count of
// subnormal samples, the length of its final silence and a hash (FNV-1a,
// 64 bit) of its bits; --against prints the first frame that differs, and
// the exit code is 1 when any does. The random numbers, the signals and the
// control values come from integer arithmetic and exact float operations
// only, so every build makes the same sessions.
#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <lv2/core/lv2.h>

#include "../plugin/Ports.h"

namespace {

struct Random {
    uint64_t state;
    uint64_t next()  // splitmix64
    {
        uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    uint32_t below(uint32_t n) { return static_cast<uint32_t>(next() % n); }
    bool chance(uint32_t inN) { return below(inN) == 0; }
    float unit() { return static_cast<float>(next() >> 40) * 0x1p-24f; }  // [0, 1), exact
    float between(float lo, float hi) { return lo + (hi - lo) * unit(); }
    float bipolar() { return 2.0f * unit() - 1.0f; }
};

constexpr uint32_t kBlocks[] = {0, 1, 2, 3, 15, 16, 17, 31, 64, 100, 128, 255, 256, 333, 512, 1000, 1024, 4096};
constexpr uint32_t kMaxBlock = 4096;
constexpr float kRates[] = {22050, 44100, 48000, 96000};

float hostile(Random& rng)
{
    constexpr float kValues[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
        -std::numeric_limits<float>::infinity(), -3e38f, 3e38f, -1e6f, 1e6f, 0.0f, -1.0f, 1e-40f};
    return kValues[rng.below(std::size(kValues))];
}

// One control's automation: a ramp toward a target over some blocks, or a
// jump.
struct Lane {
    float value = 0, target = 0;
    uint32_t steps = 0;
};

class Session {
public:
    Session(const LV2_Descriptor* d, uint32_t seed) : d_(d), rng_{0x5eed0000ULL + seed}
    {
        rate_ = kRates[rng_.below(std::size(kRates))];
        const LV2_Feature* const features[] = {nullptr};
        handle_ = d_->instantiate(d_, rate_, "", features);
        if (!handle_) {
            std::fprintf(stderr, "render_sessions: instantiate at %g Hz failed\n", rate_);
            std::exit(2);
        }
        for (uint32_t p = kFirstControlPort; p < kPortCount; ++p) {
            lanes_[p].value = rng_.between(kPorts[p].minimum, kPorts[p].maximum);
            controls_[0][p] = controls_[1][p] = lanes_[p].value;
            d_->connect_port(handle_, p, &controls_[0][p]);
        }
        d_->activate(handle_);
    }
    ~Session()
    {
        d_->deactivate(handle_);
        d_->cleanup(handle_);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    float rate() const { return rate_; }

    // Calls out(frames, interleaved) for every block rendered.
    template <typename Out>
    void play(Out&& out)
    {
        const uint32_t bursts = 2 + rng_.below(2);
        for (uint32_t b = 0; b < bursts; ++b) {
            const bool last = b + 1 == bursts;
            const uint32_t kind = b == 0 ? 1 + rng_.below(3) : 1 + rng_.below(4);  // the first one loud
            const float level = kind == 4 ? rng_.between(1e-44f, 1e-38f) : rng_.between(0.001f, 4.0f);
            phase(seconds(rng_.between(0.02f, 0.5f)), kind, level, 8, out);
            if (last) {
                // Held controls and a decay of at most 0.5 s: ten seconds take
                // the tail through the subnormal range down to zero.
                hold(kPortMix, rng_.between(20, 100));
                hold(kPortDecay, rng_.between(50, 500));
                phase(seconds(10.0f), 0, 0.0f, 0, out);
            } else {
                phase(seconds(rng_.between(0.5f, 3.0f)), 0, 0.0f, 16, out);
            }
        }
    }

private:
    uint64_t seconds(float s) const { return static_cast<uint64_t>(s * rate_); }

    void hold(uint32_t port, float value) { lanes_[port] = Lane{value, value, 0}; }

    // A new automation for one control: mostly a ramp or jump within the
    // range, sometimes beyond it, now and then a hostile jump.
    void automate(uint32_t p)
    {
        Lane& lane = lanes_[p];
        const float lo = kPorts[p].minimum, hi = kPorts[p].maximum, span = hi - lo;
        const uint32_t what = rng_.below(16);
        if (what == 0) {
            lane = Lane{hostile(rng_), 0, 0};
            return;
        }
        lane.target = what < 3 ? (rng_.chance(2) ? lo - span * rng_.unit() : hi + span * rng_.unit())
                               : rng_.between(lo, hi);
        lane.steps = rng_.chance(3) ? 0 : 1 + rng_.below(64);
        if (lane.steps == 0 || !std::isfinite(lane.value))  // a jump, or leaving a value no ramp starts from
            lane.value = lane.target, lane.steps = 0;
    }

    // `frames` frames of one kind of input (0 silence, 1 noise, 2 clicks,
    // 3 a square wave, 4 tiny noise); each block starts a new automation on
    // one control in `automation` (none when 0).
    template <typename Out>
    void phase(uint64_t frames, uint32_t kind, float level, uint32_t automation, Out& out)
    {
        const uint32_t period = 20 + rng_.below(2000);
        while (frames > 0) {
            const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kBlocks[rng_.below(std::size(kBlocks))], frames));
            for (uint32_t p = kFirstControlPort; p < kPortCount; ++p) {
                Lane& lane = lanes_[p];
                if (automation && rng_.chance(automation * (kPortCount - kFirstControlPort)))
                    automate(p);
                else if (lane.steps > 0)
                    lane.value += (lane.target - lane.value) / static_cast<float>(lane.steps--);
            }
            // The control ports move between two arrays that hold the same values.
            const int side = rng_.chance(4) ? 1 - side_ : side_;
            for (uint32_t p = kFirstControlPort; p < kPortCount; ++p) {
                controls_[side][p] = lanes_[p].value;
                if (side != side_)
                    d_->connect_port(handle_, p, &controls_[side][p]);
            }
            side_ = side;

            // Separate buffers, the input on the left or on the right output,
            // at odd offsets that change from block to block.
            const size_t shift = rng_.below(101);
            size_t left = shift, right = kMaxBlock + 128 + shift, in = 2 * kMaxBlock + 256 + shift;
            switch (rng_.below(4)) {
            case 1: in = left; break;
            case 2: in = right; break;
            default: break;
            }
            for (uint32_t i = 0; i < n; ++i, ++clock_) {
                float x = 0.0f;
                switch (kind) {
                case 1: x = level * rng_.bipolar(); break;
                case 2: x = clock_ % period == 0 ? level : 0.0f; break;
                case 3: x = (clock_ / period) % 2 ? level : -level; break;
                case 4: x = level * rng_.bipolar(); break;
                default: break;
                }
                pool_[in + i] = x;
            }
            d_->connect_port(handle_, kPortInput, &pool_[in]);
            d_->connect_port(handle_, kPortOutputLeft, &pool_[left]);
            d_->connect_port(handle_, kPortOutputRight, &pool_[right]);
            d_->run(handle_, n);
            for (uint32_t i = 0; i < n; ++i) {
                frame_[2 * i] = pool_[left + i];
                frame_[2 * i + 1] = pool_[right + i];
            }
            out(n, frame_.data());
            frames -= n;
        }
    }

    const LV2_Descriptor* d_;
    Random rng_;
    float rate_ = 48000;
    LV2_Handle handle_ = nullptr;
    Lane lanes_[kPortCount];
    float controls_[2][kPortCount] = {};
    int side_ = 0;
    uint64_t clock_ = 0;
    std::vector<float> pool_ = std::vector<float>(3 * kMaxBlock + 384);
    std::vector<float> frame_ = std::vector<float>(2 * kMaxBlock);
};

uint32_t bitsOf(float x)
{
    uint32_t u;
    std::memcpy(&u, &x, sizeof u);
    return u;
}

int usage()
{
    std::fprintf(stderr, "usage: render_sessions MODULE (OUT_DIR | --against REF_DIR) [--sessions N]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    std::string module, dir;
    bool against = false;
    int sessions = 8;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--against" && i + 1 < argc)
            against = true, dir = argv[++i];
        else if (arg == "--sessions" && i + 1 < argc)
            sessions = std::atoi(argv[++i]);
        else if (module.empty())
            module = arg;
        else if (dir.empty())
            dir = arg;
        else
            return usage();
    }
    if (module.empty() || dir.empty() || sessions < 1)
        return usage();

    void* library = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    auto entry = library ? reinterpret_cast<const LV2_Descriptor* (*)(uint32_t)>(dlsym(library, "lv2_descriptor"))
                         : nullptr;
    const LV2_Descriptor* descriptor = entry ? entry(0) : nullptr;
    if (!descriptor) {
        std::fprintf(stderr, "render_sessions: cannot load %s: %s\n", module.c_str(), library ? "no descriptor" : dlerror());
        return 2;
    }

    if (!against)
        mkdir(dir.c_str(), 0777);  // may be there already
    int differing = 0;
    for (int s = 0; s < sessions; ++s) {
        char path[4096];
        std::snprintf(path, sizeof path, "%s/session-%02d.f32", dir.c_str(), s);
        FILE* file = std::fopen(path, against ? "rb" : "wb");
        if (!file) {
            std::fprintf(stderr, "render_sessions: cannot open %s\n", path);
            return 2;
        }
        Session session(descriptor, static_cast<uint32_t>(s));
        uint64_t frames = 0, blocks = 0, subnormals = 0, silent = 0, differ = 0, first = 0;
        uint64_t hash = 0xcbf29ce484222325ULL;
        bool shortReference = false;
        std::string firstText;
        std::vector<float> reference(2 * kMaxBlock);
        session.play([&](uint32_t n, const float* frame) {
            if (against) {
                const size_t got = std::fread(reference.data(), sizeof(float), 2 * n, file);
                if (got < 2 * n) {
                    shortReference = true;
                    std::fill(reference.begin() + static_cast<std::ptrdiff_t>(got), reference.begin() + 2 * n, 0.0f);
                }
            } else {
                std::fwrite(frame, sizeof(float), 2 * n, file);
            }
            for (uint32_t i = 0; i < n; ++i) {
                bool quiet = true;
                for (int c = 0; c < 2; ++c) {
                    const float x = frame[2 * i + c];
                    const uint32_t bits = bitsOf(x);
                    for (int k = 0; k < 4; ++k)
                        hash = (hash ^ ((bits >> (8 * k)) & 0xff)) * 0x100000001b3ULL;
                    subnormals += x != 0.0f && (bits & 0x7f800000u) == 0;
                    quiet = quiet && x == 0.0f;
                }
                silent = quiet ? silent + 1 : 0;
                if (against && (bitsOf(frame[2 * i]) != bitsOf(reference[2 * i]) ||
                                bitsOf(frame[2 * i + 1]) != bitsOf(reference[2 * i + 1]))) {
                    if (differ++ == 0) {
                        first = frames + i;
                        const int c = bitsOf(frame[2 * i]) != bitsOf(reference[2 * i]) ? 0 : 1;
                        char text[256];
                        std::snprintf(text, sizeof text, "%s: 0x%08" PRIx32 " (%g) here, 0x%08" PRIx32 " (%g) in the reference",
                                      c ? "right" : "left", bitsOf(frame[2 * i + c]), frame[2 * i + c],
                                      bitsOf(reference[2 * i + c]), reference[2 * i + c]);
                        firstText = text;
                    }
                }
            }
            frames += n;
            ++blocks;
        });
        if (against && !shortReference && std::fgetc(file) != EOF)
            shortReference = true;  // the reference is longer
        std::fclose(file);
        std::printf("session %02d: %g Hz, %" PRIu64 " frames in %" PRIu64 " blocks, %" PRIu64
                    " subnormal samples, last %" PRIu64 " frames silent, fnv1a64 %016" PRIx64 "\n",
                    s, static_cast<double>(session.rate()), frames, blocks, subnormals, silent, hash);
        if (differ > 0 || shortReference) {
            ++differing;
            if (shortReference)
                std::printf("  the reference %s has another length\n", path);
            if (differ > 0)
                std::printf("  first difference at frame %" PRIu64 " (%.4f s), %s; %" PRIu64 " of %" PRIu64
                            " frames differ\n",
                            first, static_cast<double>(first) / session.rate(), firstText.c_str(), differ, frames);
        }
    }
    if (against && differing)
        std::printf("DIFFERENT: %d of %d sessions differ from %s\n", differing, sessions, dir.c_str());
    else if (against)
        std::printf("identical: all %d sessions bit for bit as in %s\n", sessions, dir.c_str());
    return differing ? 1 : 0;
}
