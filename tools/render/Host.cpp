#include "Host.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <unistd.h>

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/presets/presets.h>
#include <lv2/urid/urid.h>

#include "../../plugin/Uri.h"

#ifndef STREUWOLKE_LV2_INSTALL_DIR
#define STREUWOLKE_LV2_INSTALL_DIR "lib/lv2"
#endif

namespace {

const char* const kBundleName = "plonkbrett-streuwolke.lv2";

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

bool isFile(const std::string& path)
{
    return access(path.c_str(), R_OK) == 0;
}

// The bundle that belongs to this executable: beside it in the build tree,
// or below the install prefix (<prefix>/bin/../lib/lv2/...).
std::string bundleBesideExecutable()
{
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0)
        return "";
    exe[n] = '\0';
    std::string dir(exe);
    dir.erase(dir.find_last_of('/'));
    const std::string installDir = STREUWOLKE_LV2_INSTALL_DIR;
    const std::string candidates[] = {
        dir + "/" + kBundleName,
        dir + "/lv2/" + kBundleName,  // the build tree
        (installDir[0] == '/' ? installDir : dir + "/../" + installDir) + "/" + kBundleName,
    };
    for (const std::string& c : candidates)
        if (isFile(c + "/manifest.ttl"))
            return c;
    return "";
}

} // namespace

// The world, the plug-in and a URID map for lilv's state API.
struct Host::World {
    LilvWorld* world = lilv_world_new();
    const LilvPlugin* plugin = nullptr;
    std::vector<std::string> uris;
    LV2_URID_Map map{this, &World::mapUri};

    static LV2_URID mapUri(LV2_URID_Map_Handle handle, const char* uri)
    {
        std::vector<std::string>& uris = static_cast<World*>(handle)->uris;
        const auto it = std::find(uris.begin(), uris.end(), uri);
        if (it != uris.end())
            return LV2_URID(it - uris.begin() + 1);
        uris.emplace_back(uri);
        return LV2_URID(uris.size());
    }

    ~World() { lilv_world_free(world); }

    void loadBundle(const std::string& dir)
    {
        char* real = realpath(dir.c_str(), nullptr);
        if (!real)
            throw std::runtime_error("no bundle folder " + dir);
        LilvNode* uri = lilv_new_file_uri(world, nullptr, (std::string(real) + "/").c_str());
        free(real);
        lilv_world_load_bundle(world, uri);
        lilv_node_free(uri);
    }
};

Host::Host(const std::string& bundleDir)
    : world_(new World)
{
    LilvWorld* world = world_->world;
    LilvNode* uri = lilv_new_uri(world, kPluginUri);
    auto find = [&] { return lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri); };
    if (!bundleDir.empty()) {
        world_->loadBundle(bundleDir);
    } else {
        const std::string beside = bundleBesideExecutable();
        if (std::getenv("LV2_PATH") || beside.empty())
            lilv_world_load_all(world);
        if (!find() && !beside.empty())
            world_->loadBundle(beside);
    }
    world_->plugin = find();
    lilv_node_free(uri);
    const LilvPlugin* plugin = world_->plugin;
    if (!plugin)
        throw std::runtime_error(std::string("plug-in ") + kPluginUri +
                                 " not found (use --bundle DIR or set LV2_PATH)");

    const uint32_t ports = lilv_plugin_get_num_ports(plugin);
    std::vector<float> min(ports), max(ports), def(ports);
    lilv_plugin_get_port_ranges_float(plugin, min.data(), max.data(), def.data());
    LilvNode* controlClass = lilv_new_uri(world, LV2_CORE__ControlPort);
    LilvNode* inputClass = lilv_new_uri(world, LV2_CORE__InputPort);
    for (uint32_t i = 0; i < ports; ++i) {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, i);
        if (!lilv_port_is_a(plugin, port, controlClass) || !lilv_port_is_a(plugin, port, inputClass))
            continue;
        LilvNode* name = lilv_port_get_name(plugin, port);
        controls_.push_back({lilv_node_as_string(lilv_port_get_symbol(plugin, port)),
                             name ? lilv_node_as_string(name) : "", i, min[i], max[i],
                             std::isnan(def[i]) ? min[i] : def[i]});
        lilv_node_free(name);
    }
    lilv_node_free(controlClass);
    lilv_node_free(inputClass);

    LilvNode* presetClass = lilv_new_uri(world, LV2_PRESETS__Preset);
    LilvNode* label = lilv_new_uri(world, LILV_NS_RDFS "label");
    LilvNode* comment = lilv_new_uri(world, LILV_NS_RDFS "comment");
    LilvNodes* related = lilv_plugin_get_related(plugin, presetClass);
    LILV_FOREACH (nodes, it, related) {
        const LilvNode* preset = lilv_nodes_get(related, it);
        lilv_world_load_resource(world, preset);
        LilvNode* text = lilv_world_get(world, preset, label, nullptr);
        LilvNode* description = lilv_world_get(world, preset, comment, nullptr);
        presets_.push_back({lilv_node_as_uri(preset), text ? lilv_node_as_string(text) : "",
                            description ? lilv_node_as_string(description) : ""});
        lilv_node_free(text);
        lilv_node_free(description);
    }
    lilv_nodes_free(related);
    lilv_node_free(comment);
    lilv_node_free(label);
    lilv_node_free(presetClass);
    std::sort(presets_.begin(), presets_.end(),
              [](const Preset& a, const Preset& b) { return a.uri < b.uri; });
}

Host::~Host() = default;

std::vector<float> Host::defaults() const
{
    std::vector<float> values;
    for (const Control& c : controls_)
        values.push_back(c.def);
    return values;
}

const Control* Host::findControl(const std::string& symbol) const
{
    for (const Control& c : controls_)
        if (c.symbol == symbol)
            return &c;
    return nullptr;
}

const Preset* Host::findPreset(const std::string& name) const
{
    const std::string wanted = lower(name);
    for (const Preset& p : presets_) {
        const std::string tail = p.uri.substr(p.uri.find_last_of("/#") + 1);
        if (lower(p.label) == wanted || lower(tail) == wanted)
            return &p;
    }
    return nullptr;
}

std::vector<std::string> Host::files() const
{
    LilvWorld* world = world_->world;
    const LilvPlugin* plugin = world_->plugin;
    std::vector<std::string> paths;
    auto add = [&](const LilvNode* uri) {
        if (char* path = lilv_file_uri_parse(lilv_node_as_uri(uri), nullptr)) {
            paths.emplace_back(path);
            lilv_free(path);
        }
    };
    const LilvNodes* data = lilv_plugin_get_data_uris(plugin);
    LILV_FOREACH (nodes, it, data)
        add(lilv_nodes_get(data, it));
    add(lilv_plugin_get_library_uri(plugin));
    LilvNode* manifest = lilv_new_uri(world, (std::string(lilv_node_as_uri(lilv_plugin_get_bundle_uri(plugin))) +
                                              "manifest.ttl").c_str());
    add(manifest);
    lilv_node_free(manifest);
    LilvNode* seeAlso = lilv_new_uri(world, LILV_NS_RDFS "seeAlso");
    for (const Preset& preset : presets_) {
        LilvNode* node = lilv_new_uri(world, preset.uri.c_str());
        LilvNodes* described = lilv_world_find_nodes(world, node, seeAlso, nullptr);
        LILV_FOREACH (nodes, it, described)
            add(lilv_nodes_get(described, it));
        lilv_nodes_free(described);
        lilv_node_free(node);
    }
    lilv_node_free(seeAlso);
    std::sort(paths.begin(), paths.end());
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
    return paths;
}

std::vector<std::pair<size_t, float>> Host::presetValues(const Preset& preset)
{
    struct Sink {
        Host* host;
        std::vector<std::pair<size_t, float>> values;
        std::string error;
    } sink{this, {}, {}};

    LilvNode* node = lilv_new_uri(world_->world, preset.uri.c_str());
    LilvState* state = lilv_state_new_from_world(world_->world, &world_->map, node);
    lilv_node_free(node);
    if (!state)
        throw std::runtime_error("preset " + preset.uri + " cannot be loaded");

    auto set = [](const char* symbol, void* data, const void* value, uint32_t, uint32_t type) {
        Sink& sink = *static_cast<Sink*>(data);
        LV2_URID_Map& map = sink.host->world_->map;
        const Control* control = sink.host->findControl(symbol);
        float v;
        if (type == map.map(map.handle, LV2_ATOM__Float))
            v = *static_cast<const float*>(value);
        else if (type == map.map(map.handle, LV2_ATOM__Double))
            v = float(*static_cast<const double*>(value));
        else if (type == map.map(map.handle, LV2_ATOM__Int) || type == map.map(map.handle, LV2_ATOM__Bool))
            v = float(*static_cast<const int32_t*>(value));
        else if (type == map.map(map.handle, LV2_ATOM__Long))
            v = float(*static_cast<const int64_t*>(value));
        else {
            sink.error = std::string("value of ") + symbol + " has an unknown type";
            return;
        }
        if (!control)
            sink.error = std::string("unknown control ") + symbol;
        else
            sink.values.emplace_back(control - sink.host->controls_.data(), v);
    };
    lilv_state_emit_port_values(state, set, &sink);
    lilv_state_free(state);
    if (!sink.error.empty())
        throw std::runtime_error("preset " + preset.label + ": " + sink.error);
    return sink.values;
}

struct Processor::Instance {
    LilvInstance* instance = nullptr;
    uint32_t block;
    std::vector<float> controls, in, left, right;

    ~Instance()
    {
        if (instance) {
            lilv_instance_deactivate(instance);
            lilv_instance_free(instance);
        }
    }
};

Processor::Processor(Host& host, double rate, const std::vector<float>& controls, uint32_t block)
    : instance_(new Instance)
{
    Instance& self = *instance_;
    self.block = block;
    self.controls = controls;
    self.in.resize(block);
    self.left.resize(block);
    self.right.resize(block);
    self.instance = lilv_plugin_instantiate(host.world_->plugin, rate, nullptr);
    if (!self.instance)
        throw std::runtime_error("the plug-in cannot be instantiated");

    // Ports 0, 1 and 2 are the audio input and the two outputs.
    lilv_instance_connect_port(self.instance, 0, self.in.data());
    lilv_instance_connect_port(self.instance, 1, self.left.data());
    lilv_instance_connect_port(self.instance, 2, self.right.data());
    for (size_t i = 0; i < host.controls().size(); ++i)
        lilv_instance_connect_port(self.instance, host.controls()[i].index, &self.controls[i]);
    lilv_instance_activate(self.instance);
}

Processor::~Processor() = default;

void Processor::process(const float* in, float* left, float* right, size_t frames)
{
    Instance& self = *instance_;
    for (size_t done = 0; done < frames;) {
        const uint32_t n = uint32_t(std::min<size_t>(self.block, frames - done));
        std::copy(in + done, in + done + n, self.in.begin());
        lilv_instance_run(self.instance, n);
        std::copy(self.left.begin(), self.left.begin() + n, left + done);
        std::copy(self.right.begin(), self.right.begin() + n, right + done);
        done += n;
    }
}

void Processor::setControls(const std::vector<float>& controls)
{
    std::copy(controls.begin(), controls.end(), instance_->controls.begin());
}

std::vector<float> render(Host& host, double rate, const std::vector<float>& controls,
                          const std::vector<float>& input, size_t tailFrames, uint32_t block)
{
    Processor processor(host, rate, controls, block);
    std::vector<float> in(input);
    in.resize(input.size() + tailFrames, 0.0f);
    std::vector<float> left(in.size()), right(in.size());
    processor.process(in.data(), left.data(), right.data(), in.size());
    std::vector<float> out(2 * in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        out[2 * i] = left[i];
        out[2 * i + 1] = right[i];
    }
    return out;
}
