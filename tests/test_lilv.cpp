// The plug-in as a host finds it through lilv: the Turtle description read
// from LV2_PATH, the library loaded and driven with the Turtle's defaults.
#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <lilv/lilv.h>
#include <lv2/core/lv2.h>
#include <lv2/port-props/port-props.h>

#include "Harness.h"
#include "engine/FloatMode.h"
#include "plugin/Uri.h"

namespace {

class Lilv : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        world = lilv_world_new();
        lilv_world_load_all(world);
        LilvNode* uri = lilv_new_uri(world, kPluginUri);
        plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
        lilv_node_free(uri);
    }
    static void TearDownTestSuite() { lilv_world_free(world); }

    void SetUp() override { ASSERT_NE(plugin, nullptr) << kPluginUri << " not found on LV2_PATH"; }

    LilvNode* node(const char* uri) { return owned.emplace_back(lilv_new_uri(world, uri)).get(); }

    struct NodeFree {
        void operator()(LilvNode* n) const { lilv_node_free(n); }
    };
    std::vector<std::unique_ptr<LilvNode, NodeFree>> owned;

    static LilvWorld* world;
    static const LilvPlugin* plugin;
};
LilvWorld* Lilv::world = nullptr;
const LilvPlugin* Lilv::plugin = nullptr;

using Stereo = std::pair<std::vector<float>, std::vector<float>>;

// Which port buffers coincide: separate buffers, or the input sharing its
// buffer with one of the outputs, as hosts that process in place do.
enum class Layout { Separate, InOnLeft, InOnRight };

// Runs `input` through a fresh instance at `rate` in blocks of 256, every
// control at the Turtle's default. At frame `restartAt` (a block start) the
// host switches the plug-in off and on: deactivate, activate.
Stereo render(const LilvPlugin* plugin, double rate, const std::vector<float>& input, Layout layout = Layout::Separate,
    size_t restartAt = SIZE_MAX)
{
    std::vector<float> lows(kPortCount), highs(kPortCount), controls(kPortCount);
    lilv_plugin_get_port_ranges_float(plugin, lows.data(), highs.data(), controls.data());
    LilvInstance* instance = lilv_plugin_instantiate(plugin, rate, nullptr);
    EXPECT_NE(instance, nullptr);
    if (!instance)
        return {};
    constexpr uint32_t kBlock = 256;
    float in[kBlock], left[kBlock], right[kBlock];
    float* inBuffer = layout == Layout::InOnLeft ? left : layout == Layout::InOnRight ? right : in;
    for (uint32_t port = 0; port < kPortCount; ++port)
        lilv_instance_connect_port(instance, port, &controls[port]);
    lilv_instance_connect_port(instance, kPortInput, inBuffer);
    lilv_instance_connect_port(instance, kPortOutputLeft, left);
    lilv_instance_connect_port(instance, kPortOutputRight, right);
    lilv_instance_activate(instance);
    Stereo out;
    for (size_t at = 0; at < input.size(); at += kBlock) {
        const uint32_t frames = static_cast<uint32_t>(std::min<size_t>(kBlock, input.size() - at));
        if (at == restartAt) {
            lilv_instance_deactivate(instance);
            lilv_instance_activate(instance);
        }
        std::memcpy(inBuffer, &input[at], frames * sizeof(float));
        lilv_instance_run(instance, frames);
        out.first.insert(out.first.end(), left, left + frames);
        out.second.insert(out.second.end(), right, right + frames);
    }
    lilv_instance_deactivate(instance);
    lilv_instance_free(instance);
    return out;
}

double energy(const std::vector<float>& x, size_t from, size_t to)
{
    double sum = 0;
    for (size_t i = from; i < to; ++i)
        sum += double(x[i]) * x[i];
    return sum;
}

// The Turtle against the library's port table (plugin/Ports.h): index,
// symbol, name and kind of every port, and each control's range, default
// and scale.
TEST_F(Lilv, PortsMatchTheLibrarysTable)
{
    ASSERT_EQ(lilv_plugin_get_num_ports(plugin), uint32_t(kPortCount));
    for (uint32_t index = 0; index < kPortCount; ++index) {
        const PortInfo& row = kPorts[index];
        SCOPED_TRACE(row.symbol);
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, index);
        ASSERT_NE(port, nullptr);
        EXPECT_STREQ(lilv_node_as_string(lilv_port_get_symbol(plugin, port)), row.symbol);
        LilvNode* name = lilv_port_get_name(plugin, port);
        EXPECT_STREQ(name ? lilv_node_as_string(name) : "", row.name);
        lilv_node_free(name);
        const bool audio = !row.setting, input = index != kPortOutputLeft && index != kPortOutputRight;
        EXPECT_EQ(lilv_port_is_a(plugin, port, node(audio ? LV2_CORE__AudioPort : LV2_CORE__ControlPort)), true);
        EXPECT_EQ(lilv_port_is_a(plugin, port, node(input ? LV2_CORE__InputPort : LV2_CORE__OutputPort)), true);
        EXPECT_EQ(lilv_port_is_a(plugin, port, node(input ? LV2_CORE__OutputPort : LV2_CORE__InputPort)), false);
        if (audio)
            continue;
        LilvNode *def = nullptr, *min = nullptr, *max = nullptr;
        lilv_port_get_range(plugin, port, &def, &min, &max);
        ASSERT_TRUE(def && min && max);
        EXPECT_EQ(lilv_node_as_float(min), row.minimum);
        EXPECT_EQ(lilv_node_as_float(max), row.maximum);
        EXPECT_EQ(lilv_node_as_float(def), row.fallback);
        EXPECT_TRUE(row.minimum <= row.fallback && row.fallback <= row.maximum && row.minimum < row.maximum);
        for (LilvNode* n : {def, min, max})
            lilv_node_free(n);
        EXPECT_EQ(lilv_port_has_property(plugin, port, node(LV2_PORT_PROPS__logarithmic)),
            row.scale == PortScale::Logarithmic);
        EXPECT_EQ(lilv_port_has_property(plugin, port, node(LV2_CORE__integer)), row.scale == PortScale::Integer);
        EXPECT_EQ(lilv_port_has_property(plugin, port, node(LV2_CORE__toggled)), row.scale == PortScale::Toggle);
    }
    EXPECT_STREQ(lilv_node_as_uri(lilv_plugin_class_get_uri(lilv_plugin_get_class(plugin))), LV2_CORE__ReverbPlugin);
    LilvNodes* required = lilv_plugin_get_required_features(plugin);
    EXPECT_EQ(lilv_nodes_size(required), 0u);
    lilv_nodes_free(required);
}

// What a host shows for each control: a name and a one-line comment.
TEST_F(Lilv, ControlsHaveNameAndComment)
{
    for (uint32_t index = kFirstControlPort; index < kPortCount; ++index) {
        SCOPED_TRACE(kPorts[index].symbol);
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, index);
        LilvNode* name = lilv_port_get_name(plugin, port);
        EXPECT_NE(name, nullptr);
        lilv_node_free(name);
        LilvNode* comment = lilv_port_get(plugin, port, node(LILV_NS_RDFS "comment"));
        ASSERT_NE(comment, nullptr);
        EXPECT_EQ(std::strchr(lilv_node_as_string(comment), '\n'), nullptr);
        lilv_node_free(comment);
    }
}

TEST_F(Lilv, InstantiatesAtCommonRatesWithoutExtensions)
{
    // A rate that is no positive float is refused, the LV2 way.
    for (double rate : {0.0, -48000.0, std::nan(""), HUGE_VAL, -HUGE_VAL, 1e39})
        EXPECT_EQ(lilv_plugin_instantiate(plugin, rate, nullptr), nullptr) << rate;
    for (double rate : {44100.0, 48000.0}) {
        SCOPED_TRACE(rate);
        LilvInstance* instance = lilv_plugin_instantiate(plugin, rate, nullptr);
        ASSERT_NE(instance, nullptr);
        EXPECT_STREQ(lilv_instance_get_uri(instance), kPluginUri);
        for (const char* uri : {"http://lv2plug.in/ns/ext/state#interface", "http://lv2plug.in/ns/ext/worker#interface",
                                "http://lv2plug.in/ns/ext/options#interface", ""})
            EXPECT_EQ(lilv_instance_get_extension_data(instance, uri), nullptr) << uri;
        lilv_instance_free(instance);
    }
}

// One descriptor, and loading the library leaves the host thread's
// floating-point mode as it was.
TEST_F(Lilv, LibraryOffersOneDescriptor)
{
    char* path = lilv_file_uri_parse(lilv_node_as_uri(lilv_plugin_get_library_uri(plugin)), nullptr);
    const auto modeBefore = floatMode();
    void* module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    lilv_free(path);
    ASSERT_NE(module, nullptr) << dlerror();
    EXPECT_EQ(floatMode(), modeBefore) << "loading the library changed the host thread's denormal mode";
    auto entry = reinterpret_cast<LV2_Descriptor_Function>(dlsym(module, "lv2_descriptor"));
    ASSERT_NE(entry, nullptr);
    ASSERT_NE(entry(0), nullptr);
    EXPECT_STREQ(entry(0)->URI, kPluginUri);
    EXPECT_EQ(entry(1), nullptr);
    EXPECT_EQ(entry(UINT32_MAX), nullptr);
    dlclose(module);
}

// An impulse at the defaults rings out on both channels, and the channels
// differ: the reverb is stereo.
TEST_F(Lilv, ImpulseDecaysInStereo)
{
    constexpr double kRate = 48000;
    std::vector<float> impulse(static_cast<size_t>(5 * kRate));
    impulse[0] = 1.0f;
    const auto [left, right] = render(plugin, kRate, impulse);
    ASSERT_EQ(left.size(), impulse.size());
    const size_t second = size_t(kRate), end = impulse.size();
    double difference = 0;
    for (size_t i = 0; i < end; ++i) {
        ASSERT_TRUE(std::isfinite(left[i]) && std::isfinite(right[i])) << "frame " << i;
        difference = std::max(difference, double(std::fabs(left[i] - right[i])));
    }
    for (const auto* channel : {&left, &right}) {
        const double tail = energy(*channel, 1, second);  // past the dry impulse
        EXPECT_GT(tail, 1e-3);
        EXPECT_LT(energy(*channel, end - second, end), 1e-6 * tail);
    }
    EXPECT_GT(difference, 1e-3);
}

// A host may hand the input and an output the same buffer; every frame must
// come out as with separate buffers.
TEST_F(Lilv, InPlaceProcessingMatchesSeparateBuffers)
{
    constexpr double kRate = 44100;
    std::vector<float> input = support::whiteNoise(static_cast<size_t>(kRate / 2), 0.5f, 1);
    input.resize(static_cast<size_t>(kRate));  // then half a second of tail
    const Stereo separate = render(plugin, kRate, input);
    ASSERT_EQ(separate.first.size(), input.size());
    for (Layout layout : {Layout::InOnLeft, Layout::InOnRight}) {
        SCOPED_TRACE(layout == Layout::InOnLeft ? "input on left" : "input on right");
        const Stereo shared = render(plugin, kRate, input, layout);
        ASSERT_EQ(shared.first.size(), input.size());
        for (size_t i = 0; i < input.size(); ++i) {
            ASSERT_EQ(shared.first[i], separate.first[i]) << "left, frame " << i;
            ASSERT_EQ(shared.second[i], separate.second[i]) << "right, frame " << i;
        }
    }
}

// A host that switches the plug-in off and on again hears no old tail:
// silence in gives exact zeros out.
TEST_F(Lilv, SwitchedOffAndOnItForgetsItsTail)
{
    constexpr size_t kRestart = 256 * 188;
    std::vector<float> input = support::whiteNoise(kRestart, 0.5f, 2);
    input.resize(2 * kRestart);
    const Stereo out = render(plugin, 48000, input, Layout::Separate, kRestart);
    ASSERT_EQ(out.first.size(), input.size());
    EXPECT_GT(energy(out.first, kRestart - 4800, kRestart), 1e-3);
    for (size_t i = kRestart; i < input.size(); ++i)
        ASSERT_TRUE(out.first[i] == 0.0f && out.second[i] == 0.0f) << "frame " << i;
}

} // namespace
