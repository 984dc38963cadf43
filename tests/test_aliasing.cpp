// Buffer sharing as LV2 hosts do it: the input may be connected to the same
// buffer as either output, and connect_port may move any buffer between two
// runs. None of this may change a single output frame.
#include <cstring>

#include <gtest/gtest.h>

#include "Harness.h"

using namespace support;

namespace {

constexpr size_t kPool = 3 * 4200;
constexpr uint32_t kBlocks[] = {0, 1, 15, 16, 17, 100, 256, 1024, 333, 4096};

struct Placement {
    size_t in, left, right;  // offsets into the host's buffer pool
};

enum class Sharing { kFixed, kMoving, kInputIsLeft, kInputIsRight };

Placement place(Sharing sharing, size_t block)
{
    const size_t shift = (block * 37) % 101;  // odd offsets: no alignment to rely on
    switch (sharing) {
    case Sharing::kFixed: return {0, 4200, 8400};
    case Sharing::kMoving: return {8400 - shift, shift, 4200 + 2 * shift};
    case Sharing::kInputIsLeft: return {shift, shift, 4200 + shift};
    case Sharing::kInputIsRight: return {4200 + shift, shift, 4200 + shift};
    }
    return {};
}

// A host loop: copy the block's input into its buffer, run, copy out. The
// controls change now and then; in every mode but the fixed one the control
// ports move too, between two arrays that hold the same values.
Stereo host(Sharing sharing, const std::vector<float>& input)
{
    Instance instance;
    std::array<float, kPortCount> moved{};
    std::vector<float> pool(kPool);
    Stereo out{std::vector<float>(input.size()), std::vector<float>(input.size())};
    size_t start = 0;
    for (size_t block = 0; start < input.size(); ++block) {
        const size_t n = std::min<size_t>(kBlocks[block % std::size(kBlocks)], input.size() - start);
        if (block % 12 == 5) {
            std::mt19937 rng(static_cast<uint32_t>(block));
            instance.randomControls(rng);
        }
        moved = instance.controls;
        if (sharing != Sharing::kFixed)
            for (uint32_t p = kFirstControlPort; p < kPortCount; ++p)
                instance.connect(p, block % 2 ? &moved[p] : &instance.controls[p]);

        const Placement at = place(sharing, block);
        std::copy_n(&input[start], n, &pool[at.in]);
        instance.connectAudio(&pool[at.in], &pool[at.left], &pool[at.right]);
        instance.run(static_cast<uint32_t>(n));
        std::copy_n(&pool[at.left], n, &out.left[start]);
        std::copy_n(&pool[at.right], n, &out.right[start]);
        start += n;
    }
    return out;
}

TEST(Aliasing, SharedAndMovingBuffersGiveTheSameFrames)
{
    const std::vector<float> input = whiteNoise(96000, 0.5f, 3);
    const Stereo fixed = host(Sharing::kFixed, input);
    for (const Sharing sharing : {Sharing::kMoving, Sharing::kInputIsLeft, Sharing::kInputIsRight}) {
        const Stereo out = host(sharing, input);
        EXPECT_EQ(0, std::memcmp(out.left.data(), fixed.left.data(), input.size() * sizeof(float)))
            << "left, sharing mode " << static_cast<int>(sharing);
        EXPECT_EQ(0, std::memcmp(out.right.data(), fixed.right.data(), input.size() * sizeof(float)))
            << "right, sharing mode " << static_cast<int>(sharing);
    }
}

} // namespace
