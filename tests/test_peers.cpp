// Smoke check of the lilv host on a peer: 0.1 s of an impulse through
// Dragonfly Hall (it wants URID map, options and atom ports), two instances
// at once. The output must be finite, not silent and as long as the input.
// Exit code 77 (skipped) when the peer is not installed.
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "Lv2Host.h"

int main()
{
    RunSettings settings;
    settings.controls = {{"dry_level", 0.0f}};
    std::vector<float> in(4800, 0.0f); // not a whole number of blocks
    in[0] = 1.0f;
    try {
        const Plugin hall("https://github.com/michaelwillis/dragonfly-reverb");
        Instance a(hall, settings), b(hall, settings);
        for (Instance* host : {&a, &b}) {
            host->process(in.data(), in.size());
            host->finish();
            for (const std::vector<float>& out : host->outputs()) {
                double energy = 0.0;
                for (float v : out) {
                    if (!std::isfinite(v))
                        throw std::runtime_error("output is not finite");
                    energy += double(v) * v;
                }
                if (out.size() != in.size())
                    throw std::runtime_error("output has " + std::to_string(out.size()) + " frames, not 4800");
                if (energy < 1e-8)
                    throw std::runtime_error("output is silent");
            }
        }
        return 0;
    } catch (const std::exception& e) {
        const std::string message = e.what();
        std::fprintf(stderr, "test_peers: %s\n", message.c_str());
        return message.find(" not found ") != std::string::npos ? 77 : 1;
    }
}
