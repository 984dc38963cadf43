#include "Lv2Host.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <optional>
#include <unordered_map>

#include <dirent.h>
#include <glob.h>
#include <unistd.h>

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/log/log.h>
#include <lv2/options/options.h>
#include <lv2/parameters/parameters.h>
#include <lv2/presets/presets.h>
#include <lv2/resize-port/resize-port.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include "../../engine/FloatMode.h"
#include "../../plugin/Uri.h"

#ifndef STREUWOLKE_LV2_INSTALL_DIR
#define STREUWOLKE_LV2_INSTALL_DIR "lib/lv2"
#endif

namespace {

const char* const kBundleName = "plonkbrett-streuwolke.lv2";

// Where Ardour keeps the LV2 bundles it ships (a-reverb, a-comp, ...) when
// they are not in the common LV2 folders.
const char* const kArdourFolders[] = {
    "/usr/lib/ardour*/LV2",
    "/usr/lib/*/ardour*/LV2",
    "/usr/local/lib/ardour*/LV2",
    "/opt/Ardour*/lib/LV2",
};

// Atom buffers hold at least this many bytes (more when a port asks for it
// with rsz:minimumSize); the plug-ins only ever see empty sequences.
const uint32_t kAtomCapacity = 8192;

std::string format(const char* fmt, double v)
{
    char text[64];
    std::snprintf(text, sizeof text, fmt, v);
    return text;
}

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

bool isReadable(const std::string& path)
{
    return access(path.c_str(), R_OK) == 0;
}

bool isPowerOf2(uint32_t n)
{
    return n && !(n & (n - 1));
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
        if (isReadable(c + "/manifest.ttl"))
            return c;
    return "";
}

// The bundles in Ardour's folders.
std::vector<std::string> ardourBundles()
{
    std::vector<std::string> bundles;
    for (const char* pattern : kArdourFolders) {
        glob_t found{};
        if (glob(pattern, GLOB_ONLYDIR, nullptr, &found) == 0) {
            for (size_t i = 0; i < found.gl_pathc; ++i) {
                DIR* dir = opendir(found.gl_pathv[i]);
                if (!dir)
                    continue;
                while (const dirent* entry = readdir(dir)) {
                    const std::string bundle = std::string(found.gl_pathv[i]) + "/" + entry->d_name;
                    if (entry->d_name[0] != '.' && isReadable(bundle + "/manifest.ttl"))
                        bundles.push_back(bundle);
                }
                closedir(dir);
            }
        }
        globfree(&found);
    }
    return bundles;
}

// A lilv node that frees itself.
struct Node {
    LilvNode* node;
    Node(LilvWorld* world, const char* uri) : node(lilv_new_uri(world, uri)) {}
    ~Node() { lilv_node_free(node); }
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;
    operator const LilvNode*() const { return node; }
};

// The value a port starts with: its default, else its minimum, else 0.
float startValue(const Port& p)
{
    return std::isfinite(p.def) ? p.def : std::isfinite(p.min) ? p.min : 0.0f;
}

} // namespace

bool Port::admits(double v) const
{
    return std::isfinite(v) && !(std::isfinite(min) && v < min) && !(std::isfinite(max) && v > max);
}

std::string Port::range() const
{
    return format("%g", min) + ".." + format("%g", max);
}

// The lilv world with the one plug-in found in it, its ports and presets,
// and the URID map that lilv's state API and the instances use.
struct Plugin::World {
    LilvWorld* world = lilv_world_new();
    const LilvPlugin* plugin = nullptr;
    std::string uri, name;
    std::vector<Port> ports, controls;
    std::optional<std::vector<Preset>> presets;  // read when first asked for

    // URIDs: 1, 2, ... in the order asked for. A deque keeps the strings
    // (and the pointers unmap hands out) in place.
    std::unordered_map<std::string, LV2_URID> ids;
    std::deque<std::string> uris;
    LV2_URID_Map map{this, &World::mapUri};
    LV2_URID_Unmap unmap{this, &World::unmapUri};

    ~World() { lilv_world_free(world); }

    static LV2_URID mapUri(LV2_URID_Map_Handle handle, const char* uri)
    {
        World& self = *static_cast<World*>(handle);
        const auto it = self.ids.find(uri);
        if (it != self.ids.end())
            return it->second;
        self.uris.emplace_back(uri);
        const LV2_URID id = LV2_URID(self.uris.size());
        self.ids.emplace(uri, id);
        return id;
    }

    static const char* unmapUri(LV2_URID_Unmap_Handle handle, LV2_URID id)
    {
        const World& self = *static_cast<const World*>(handle);
        return id >= 1 && id <= self.uris.size() ? self.uris[id - 1].c_str() : nullptr;
    }

    LV2_URID urid(const char* uri) { return mapUri(this, uri); }

    // A port value of a state (a preset, the default state) as a float;
    // false for a type that is no number.
    bool toFloat(LV2_URID type, const void* value, float& out)
    {
        if (type == urid(LV2_ATOM__Float))
            out = *static_cast<const float*>(value);
        else if (type == urid(LV2_ATOM__Double))
            out = float(*static_cast<const double*>(value));
        else if (type == urid(LV2_ATOM__Int) || type == urid(LV2_ATOM__Bool))
            out = float(*static_cast<const int32_t*>(value));
        else if (type == urid(LV2_ATOM__Long))
            out = float(*static_cast<const int64_t*>(value));
        else
            return false;
        return true;
    }

    void loadBundle(const std::string& dir)
    {
        char* real = realpath(dir.c_str(), nullptr);
        if (!real)
            throw std::runtime_error("no bundle folder " + dir);
        LilvNode* node = lilv_new_file_uri(world, nullptr, (std::string(real) + "/").c_str());
        free(real);
        lilv_world_load_bundle(world, node);
        lilv_node_free(node);
    }

    bool find()
    {
        Node node(world, uri.c_str());
        plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), node);
        return plugin;
    }

    void readPorts()
    {
        const uint32_t count = lilv_plugin_get_num_ports(plugin);
        std::vector<float> min(count), max(count), def(count);
        lilv_plugin_get_port_ranges_float(plugin, min.data(), max.data(), def.data());
        Node audio(world, LV2_CORE__AudioPort), control(world, LV2_CORE__ControlPort);
        Node atom(world, LV2_ATOM__AtomPort), cv(world, LV2_CORE__CVPort);
        Node input(world, LV2_CORE__InputPort), output(world, LV2_CORE__OutputPort);
        Node scaled(world, LV2_CORE__sampleRate), minimumSize(world, LV2_RESIZE_PORT__minimumSize);
        Node optional(world, LV2_CORE__connectionOptional);
        for (uint32_t i = 0; i < count; ++i) {
            const LilvPort* port = lilv_plugin_get_port_by_index(plugin, i);
            Port p;
            p.index = i;
            p.symbol = lilv_node_as_string(lilv_port_get_symbol(plugin, port));
            LilvNode* portName = lilv_port_get_name(plugin, port);
            p.name = portName ? lilv_node_as_string(portName) : "";
            lilv_node_free(portName);
            p.input = lilv_port_is_a(plugin, port, input);
            if (!p.input && !lilv_port_is_a(plugin, port, output))
                throw std::runtime_error("port " + p.symbol + " is neither an input nor an output");
            p.kind = lilv_port_is_a(plugin, port, audio)     ? Port::Kind::Audio
                     : lilv_port_is_a(plugin, port, control) ? Port::Kind::Control
                     : lilv_port_is_a(plugin, port, atom)    ? Port::Kind::Atom
                     : lilv_port_is_a(plugin, port, cv)      ? Port::Kind::Cv
                                                             : Port::Kind::Other;
            p.min = min[i];
            p.max = max[i];
            p.def = def[i];
            p.rateRelative = lilv_port_has_property(plugin, port, scaled);
            p.value = startValue(p);
            if (LilvScalePoints* points = lilv_port_get_scale_points(plugin, port)) {
                LILV_FOREACH (scale_points, it, points) {
                    const LilvScalePoint* point = lilv_scale_points_get(points, it);
                    p.scalePoints.emplace_back(lilv_node_as_float(lilv_scale_point_get_value(point)),
                                               lilv_node_as_string(lilv_scale_point_get_label(point)));
                }
                lilv_scale_points_free(points);
                // lilv keeps them in the order of their addresses in memory.
                std::stable_sort(p.scalePoints.begin(), p.scalePoints.end(),
                                 [](const auto& a, const auto& b) { return a.first < b.first; });
            }
            if (p.kind == Port::Kind::Atom) {
                LilvNodes* sizes = lilv_port_get_value(plugin, port, minimumSize);
                LILV_FOREACH (nodes, it, sizes)
                    p.minimumSize = std::max(p.minimumSize, lilv_node_as_int(lilv_nodes_get(sizes, it)));
                lilv_nodes_free(sizes);
            }
            if (p.kind == Port::Kind::Other && !lilv_port_has_property(plugin, port, optional))
                throw std::runtime_error("port " + p.symbol + " has a type this host does not know");
            if (p.isControlInput())
                controls.push_back(p);
            ports.push_back(std::move(p));
        }
    }

    const std::vector<Preset>& readPresets()
    {
        if (presets)
            return *presets;
        presets.emplace();
        Node presetClass(world, LV2_PRESETS__Preset);
        Node label(world, LILV_NS_RDFS "label"), comment(world, LILV_NS_RDFS "comment");
        LilvNodes* related = lilv_plugin_get_related(plugin, presetClass);
        LILV_FOREACH (nodes, it, related) {
            const LilvNode* preset = lilv_nodes_get(related, it);
            lilv_world_load_resource(world, preset);
            LilvNode* text = lilv_world_get(world, preset, label, nullptr);
            LilvNode* description = lilv_world_get(world, preset, comment, nullptr);
            presets->push_back({lilv_node_as_uri(preset), text ? lilv_node_as_string(text) : "",
                                description ? lilv_node_as_string(description) : ""});
            lilv_node_free(text);
            lilv_node_free(description);
        }
        lilv_nodes_free(related);
        std::sort(presets->begin(), presets->end(), [](const Preset& a, const Preset& b) { return a.uri < b.uri; });
        return *presets;
    }
};

Plugin::Plugin(const std::string& uri)
    : Plugin(uri, Search::Installed, "")
{
}

Plugin Plugin::ours(const std::string& bundleDir)
{
    return Plugin(kPluginUri, Search::Ours, bundleDir);
}

Plugin::Plugin(const std::string& uri, Search search, const std::string& bundleDir)
    : world_(new World)
{
    World& w = *world_;
    if (!w.world)
        throw std::runtime_error("lilv cannot make a world");
    w.uri = uri;
    if (search == Search::Ours) {
        if (!bundleDir.empty()) {
            w.loadBundle(bundleDir);
        } else {
            const std::string beside = bundleBesideExecutable();
            if (std::getenv("LV2_PATH") || beside.empty())
                lilv_world_load_all(w.world);
            if (!w.find() && !beside.empty())
                w.loadBundle(beside);
        }
        if (!w.find())
            throw PluginNotFound("plug-in " + uri + " not found (use --bundle DIR or set LV2_PATH)");
    } else {
        lilv_world_load_all(w.world);
        // Ardour's own folders only when the common path lacks the plug-in,
        // so a bundle found in both does not make lilv warn of duplicates.
        if (!w.find()) {
            for (const std::string& bundle : ardourBundles())
                w.loadBundle(bundle);
        }
        if (!w.find())
            throw PluginNotFound("plug-in " + uri + " not found (not installed? lv2ls lists what lilv sees)");
    }
    LilvNode* name = lilv_plugin_get_name(w.plugin);
    w.name = name ? lilv_node_as_string(name) : uri;
    lilv_node_free(name);
    w.readPorts();
}

Plugin::~Plugin() = default;

std::string Plugin::uri() const
{
    return world_->uri;
}

std::string Plugin::name() const
{
    return world_->name;
}

std::string Plugin::libraryPath() const
{
    const LilvNode* library = lilv_plugin_get_library_uri(world_->plugin);
    char* path = library ? lilv_file_uri_parse(lilv_node_as_uri(library), nullptr) : nullptr;
    const std::string result = path ? path : "";
    lilv_free(path);
    return result;
}

std::vector<std::string> Plugin::files() const
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
    const std::string bundle = lilv_node_as_uri(lilv_plugin_get_bundle_uri(plugin));
    add(Node(world, (bundle + "manifest.ttl").c_str()));
    Node seeAlso(world, LILV_NS_RDFS "seeAlso");
    for (const Preset& preset : presets()) {
        Node node(world, preset.uri.c_str());
        LilvNodes* described = lilv_world_find_nodes(world, node, seeAlso, nullptr);
        LILV_FOREACH (nodes, it, described)
            add(lilv_nodes_get(described, it));
        lilv_nodes_free(described);
    }
    std::sort(paths.begin(), paths.end());
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
    return paths;
}

const std::vector<Port>& Plugin::ports() const
{
    return world_->ports;
}

const std::vector<Port>& Plugin::controls() const
{
    return world_->controls;
}

std::vector<float> Plugin::defaults() const
{
    std::vector<float> values;
    for (const Port& c : controls())
        values.push_back(c.value);
    return values;
}

const Port* Plugin::findControl(const std::string& symbol) const
{
    for (const Port& c : controls())
        if (c.symbol == symbol)
            return &c;
    return nullptr;
}

const std::vector<Preset>& Plugin::presets() const
{
    return world_->readPresets();
}

const Preset* Plugin::findPreset(const std::string& name) const
{
    const std::string wanted = lower(name);
    for (const Preset& p : presets()) {
        const std::string tail = p.uri.substr(p.uri.find_last_of("/#") + 1);
        if (lower(p.label) == wanted || lower(tail) == wanted)
            return &p;
    }
    return nullptr;
}

std::vector<std::pair<size_t, float>> Plugin::presetValues(const Preset& preset) const
{
    struct Sink {
        const Plugin* plugin;
        std::vector<std::pair<size_t, float>> values;
        std::string error;
    } sink{this, {}, {}};

    World& w = *world_;
    LilvState* state = lilv_state_new_from_world(w.world, &w.map, Node(w.world, preset.uri.c_str()));
    if (!state)
        throw std::runtime_error("preset " + preset.uri + " cannot be loaded");

    auto set = [](const char* symbol, void* data, const void* value, uint32_t, uint32_t type) {
        Sink& sink = *static_cast<Sink*>(data);
        const Port* control = sink.plugin->findControl(symbol);
        float v;
        if (!sink.plugin->world_->toFloat(type, value, v))
            sink.error = std::string("value of ") + symbol + " has an unknown type";
        else if (!control)
            sink.error = std::string("unknown control ") + symbol;
        else
            sink.values.emplace_back(control - sink.plugin->controls().data(), v);
    };
    lilv_state_emit_port_values(state, set, &sink);
    lilv_state_free(state);
    if (!sink.error.empty())
        throw std::runtime_error("preset " + preset.label + ": " + sink.error);
    return sink.values;
}

struct Instance::Impl {
    Plugin::World& plugin;
    RunSettings settings;
    LilvInstance* instance = nullptr;
    bool active = false;
    std::vector<Port> ports;  // at the instance's rate; controls hold their values

    LV2_URID sequenceType = 0, chunkType = 0;
    int32_t minBlockLength = 0, maxBlockLength = 0;
    int32_t sequenceSize = int32_t(kAtomCapacity);
    float sampleRate = 0.0f;
    std::vector<LV2_Options_Option> options;

    LV2_Worker_Schedule schedule{this, &Impl::scheduleWork};
    const LV2_Worker_Interface* worker = nullptr;
    std::vector<std::vector<uint8_t>> pendingWork, responses, delivering;

    LV2_Log_Log log{this, &Impl::logPrintf, &Impl::logVprintf};
    LV2_State_Map_Path mapPath{this, &Impl::samePath, &Impl::samePath};
    LV2_State_Free_Path freePath{this, &Impl::freeString};

    std::vector<LV2_Feature> featureList;
    std::vector<const LV2_Feature*> features;  // null-terminated

    std::vector<float> staging;  // input of the next run call
    size_t staged = 0;
    std::vector<std::vector<float>> audioIns, audioOuts, cvs;
    std::vector<std::vector<uint64_t>> atomIns, atomOuts;  // 64-bit words keep atoms aligned
    std::vector<std::vector<float>> outputs;

    Impl(Plugin::World& world, const RunSettings& s) : plugin(world), settings(s) {}

    ~Impl()
    {
        // Deactivate only what was activated: some plug-ins assert on it.
        if (active)
            lilv_instance_deactivate(instance);
        if (instance)
            lilv_instance_free(instance);
    }

    LV2_URID urid(const char* uri) { return plugin.urid(uri); }

    // The worker runs the work at once, in the calling thread (mostly inside
    // run); the responses wait for deliverResponses() after that run. Work
    // asked for before the instance exists waits for it.
    static LV2_Worker_Status scheduleWork(LV2_Worker_Schedule_Handle handle, uint32_t size, const void* data)
    {
        Impl& self = *static_cast<Impl*>(handle);
        if (!self.worker || !self.worker->work) {
            const uint8_t* bytes = static_cast<const uint8_t*>(data);
            self.pendingWork.emplace_back(bytes, bytes + size);
            return LV2_WORKER_SUCCESS;
        }
        return self.worker->work(lilv_instance_get_handle(self.instance), &Impl::respond, &self, size, data);
    }

    static LV2_Worker_Status respond(LV2_Worker_Respond_Handle handle, uint32_t size, const void* data)
    {
        Impl& self = *static_cast<Impl*>(handle);
        const uint8_t* bytes = static_cast<const uint8_t*>(data);
        self.responses.emplace_back(bytes, bytes + size);
        return LV2_WORKER_SUCCESS;
    }

    void deliverResponses()
    {
        if (!worker || !worker->work_response)
            return;
        // A response may schedule more work, which may respond again.
        while (!responses.empty()) {
            delivering.swap(responses);
            for (const std::vector<uint8_t>& r : delivering)
                worker->work_response(lilv_instance_get_handle(instance), uint32_t(r.size()), r.data());
            delivering.clear();
        }
    }

    static int logVprintf(LV2_Log_Handle handle, LV2_URID type, const char* fmt, va_list args)
    {
        Impl& self = *static_cast<Impl*>(handle);
        // Errors and warnings only: the notes and traces some plug-ins
        // print would bury the tool's own messages.
        if (type != self.urid(LV2_LOG__Error) && type != self.urid(LV2_LOG__Warning))
            return 0;
        std::fprintf(stderr, "%s: ", self.plugin.name.c_str());
        return std::vfprintf(stderr, fmt, args);
    }

    static int logPrintf(LV2_Log_Handle handle, LV2_URID type, const char* fmt, ...)
    {
        va_list args;
        va_start(args, fmt);
        const int n = logVprintf(handle, type, fmt, args);
        va_end(args);
        return n;
    }

    // Paths stay absolute: the host saves no state that could move.
    static char* samePath(LV2_State_Map_Path_Handle, const char* path) { return strdup(path); }
    static void freeString(LV2_State_Free_Path_Handle, char* path) { free(path); }

    // The ports at the instance's rate: lv2:sampleRate ranges in Hz.
    void scalePorts()
    {
        ports = plugin.ports;
        for (Port& p : ports) {
            if (p.rateRelative) {
                const float rate = float(settings.rate);
                p.min *= rate;
                p.max *= rate;
                p.def *= rate;
                p.rateRelative = false;
                p.value = startValue(p);
            }
            if (p.kind == Port::Kind::Atom)
                sequenceSize = std::max(sequenceSize, p.minimumSize);
        }
    }

    bool mentionsFeature(const char* uri)
    {
        Node feature(plugin.world, uri);
        LilvNodes* required = lilv_plugin_get_required_features(plugin.plugin);
        LilvNodes* optional = lilv_plugin_get_optional_features(plugin.plugin);
        const bool found = lilv_nodes_contains(required, feature) || lilv_nodes_contains(optional, feature);
        lilv_nodes_free(required);
        lilv_nodes_free(optional);
        return found;
    }

    void makeFeatures()
    {
        sequenceType = urid(LV2_ATOM__Sequence);
        chunkType = urid(LV2_ATOM__Chunk);
        maxBlockLength = int32_t(settings.block);
        minBlockLength = settings.fixedBlocks ? maxBlockLength : 1;
        sampleRate = float(settings.rate);
        const LV2_URID intType = urid(LV2_ATOM__Int);
        auto option = [&](const char* key, LV2_URID type, const void* value) {
            options.push_back({LV2_OPTIONS_INSTANCE, 0, urid(key), sizeof(int32_t), type, value});
        };
        option(LV2_BUF_SIZE__minBlockLength, intType, &minBlockLength);
        option(LV2_BUF_SIZE__maxBlockLength, intType, &maxBlockLength);
        option(LV2_BUF_SIZE__nominalBlockLength, intType, &maxBlockLength);
        option(LV2_BUF_SIZE__sequenceSize, intType, &sequenceSize);
        option(LV2_PARAMETERS__sampleRate, urid(LV2_ATOM__Float), &sampleRate);
        options.push_back({LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr});

        featureList = {
            {LV2_URID__map, &plugin.map},
            {LV2_URID__unmap, &plugin.unmap},
            {LV2_OPTIONS__options, options.data()},
            {LV2_BUF_SIZE__boundedBlockLength, nullptr},
            {LV2_WORKER__schedule, &schedule},
            {LV2_LOG__log, &log},
        };
        if (settings.fixedBlocks) {
            featureList.push_back({LV2_BUF_SIZE__fixedBlockLength, nullptr});
            if (isPowerOf2(settings.block))
                featureList.push_back({LV2_BUF_SIZE__powerOf2BlockLength, nullptr});
        }
        // The state features only for plug-ins that ask for them: a host
        // that offers loadDefaultState promises to load that state.
        if (mentionsFeature(LV2_STATE__loadDefaultState))
            featureList.push_back({LV2_STATE__loadDefaultState, nullptr});
        if (mentionsFeature(LV2_STATE__mapPath)) {
            featureList.push_back({LV2_STATE__mapPath, &mapPath});
            featureList.push_back({LV2_STATE__freePath, &freePath});
        }
        for (const LV2_Feature& f : featureList)
            features.push_back(&f);
        features.push_back(nullptr);
    }

    bool offers(const char* feature) const
    {
        return std::any_of(featureList.begin(), featureList.end(),
                           [&](const LV2_Feature& f) { return !std::strcmp(f.URI, feature); });
    }

    void checkRequirements()
    {
        // Features that ask nothing of a host that runs separate buffers.
        const char* const harmless[] = {LV2_CORE__isLive, LV2_CORE__inPlaceBroken, LV2_CORE__hardRTCapable};
        LilvNodes* required = lilv_plugin_get_required_features(plugin.plugin);
        LILV_FOREACH (nodes, it, required) {
            const std::string uri = lilv_node_as_uri(lilv_nodes_get(required, it));
            bool known = offers(uri.c_str());
            for (const char* h : harmless)
                known = known || uri == h;
            if (!known) {
                lilv_nodes_free(required);
                throw std::runtime_error(plugin.name + " needs the feature " + uri + ", which this host lacks");
            }
        }
        lilv_nodes_free(required);

        Node requiredOption(plugin.world, LV2_OPTIONS__requiredOption);
        LilvNodes* wanted =
            lilv_world_find_nodes(plugin.world, lilv_plugin_get_uri(plugin.plugin), requiredOption, nullptr);
        LILV_FOREACH (nodes, it, wanted) {
            const LV2_URID key = urid(lilv_node_as_uri(lilv_nodes_get(wanted, it)));
            if (std::none_of(options.begin(), options.end(), [&](const LV2_Options_Option& o) { return o.key == key; })) {
                const std::string uri = lilv_node_as_uri(lilv_nodes_get(wanted, it));
                lilv_nodes_free(wanted);
                throw std::runtime_error(plugin.name + " needs the option " + uri + ", which this host lacks");
            }
        }
        lilv_nodes_free(wanted);
    }

    void connectPorts()
    {
        const size_t block = settings.block;
        const size_t atomWords = (size_t(sequenceSize) + 7) / 8;
        staging.assign(block, 0.0f);
        for (Port& p : ports) {
            void* buffer = nullptr;
            switch (p.kind) {
            case Port::Kind::Audio: {
                auto& list = p.input ? audioIns : audioOuts;
                list.emplace_back(block, 0.0f);
                buffer = list.back().data();
                break;
            }
            case Port::Kind::Control:
                buffer = &p.value;
                break;
            case Port::Kind::Atom: {
                auto& list = p.input ? atomIns : atomOuts;
                list.emplace_back(atomWords, 0);
                buffer = list.back().data();
                break;
            }
            case Port::Kind::Cv:
                cvs.emplace_back(block, 0.0f);  // inputs stay at zero
                buffer = cvs.back().data();
                break;
            case Port::Kind::Other:
                break;  // connection optional, left unconnected
            }
            lilv_instance_connect_port(instance, p.index, buffer);
        }
        if (audioOuts.empty() || audioOuts.size() > 2)
            throw std::runtime_error(plugin.name + " has " + std::to_string(audioOuts.size()) +
                                     " audio outputs; this host takes one or two");
        outputs.resize(audioOuts.size());
    }

    // Empty sequences into the plug-in, whole chunks for it to write into.
    void resetAtoms()
    {
        for (std::vector<uint64_t>& b : atomIns) {
            auto* seq = reinterpret_cast<LV2_Atom_Sequence*>(b.data());
            seq->atom.size = sizeof(LV2_Atom_Sequence_Body);
            seq->atom.type = sequenceType;
            seq->body.unit = 0;
            seq->body.pad = 0;
        }
        for (std::vector<uint64_t>& b : atomOuts) {
            auto* atom = reinterpret_cast<LV2_Atom*>(b.data());
            atom->size = uint32_t(b.size() * sizeof(uint64_t) - sizeof(LV2_Atom));
            atom->type = chunkType;
        }
    }

    void loadDefaultState()
    {
        LilvState* state = lilv_state_new_from_world(plugin.world, &plugin.map, lilv_plugin_get_uri(plugin.plugin));
        if (!state)
            return;
        auto set = [](const char* symbol, void* data, const void* value, uint32_t, uint32_t type) {
            Impl& self = *static_cast<Impl*>(data);
            for (Port& p : self.ports)
                if (p.symbol == symbol && p.isControlInput())
                    self.plugin.toFloat(type, value, p.value);
        };
        lilv_state_restore(state, instance, set, this, 0, features.data());
        lilv_state_free(state);
    }

    void setControl(const std::string& symbol, float value)
    {
        for (Port& p : ports) {
            if (p.symbol != symbol)
                continue;
            if (!p.isControlInput())
                throw std::runtime_error(symbol + " is not a control input of " + plugin.name);
            if (!p.admits(value))
                throw std::runtime_error("value " + format("%g", value) + " for " + symbol + " is outside " +
                                         p.range());
            p.value = value;
            return;
        }
        throw std::runtime_error(plugin.name + " has no control " + symbol);
    }

    void applyControls()
    {
        for (const auto& [symbol, value] : settings.controls)
            setControl(symbol, value);
    }

    // One run call of `frames` over the port buffers as they are.
    void runPlugin(uint32_t frames)
    {
        std::optional<ScopedFlushDenormals> flush;
        if (settings.flushDenormals)
            flush.emplace();
        resetAtoms();
        deliverResponses();  // from work scheduled outside run
        lilv_instance_run(instance, frames);
        deliverResponses();
        if (worker && worker->end_run)
            worker->end_run(lilv_instance_get_handle(instance));
    }

    // The staged input through one run call of `frames` (with fixed blocks
    // the whole block, padded), keeping the output of the first `keep`.
    void runStaged(uint32_t frames, size_t keep)
    {
        for (std::vector<float>& in : audioIns)
            std::copy(staging.begin(), staging.begin() + frames, in.begin());
        runPlugin(frames);
        for (size_t c = 0; c < audioOuts.size(); ++c)
            outputs[c].insert(outputs[c].end(), audioOuts[c].begin(), audioOuts[c].begin() + keep);
        staged = 0;
    }
};

Instance::Instance(const Plugin& plugin, const RunSettings& settings)
    : impl_(new Impl(*plugin.world_, settings))
{
    Impl& self = *impl_;
    if (!(settings.rate >= 1000 && settings.rate <= 1536000))
        throw std::runtime_error("sample rate " + format("%g", settings.rate) + " is out of range");
    if (settings.block < 1 || settings.block > 65536)
        throw std::runtime_error("block length " + std::to_string(settings.block) + " is out of range 1..65536");

    self.scalePorts();
    self.makeFeatures();
    self.checkRequirements();
    self.applyControls();  // before instantiation, so a wrong symbol fails fast

    self.instance = lilv_plugin_instantiate(self.plugin.plugin, settings.rate, self.features.data());
    if (!self.instance)
        throw std::runtime_error(self.plugin.name + " cannot be instantiated");
    self.worker = static_cast<const LV2_Worker_Interface*>(
        lilv_instance_get_extension_data(self.instance, LV2_WORKER__interface));
    std::vector<std::vector<uint8_t>> early;
    early.swap(self.pendingWork);
    for (const std::vector<uint8_t>& work : early)
        Impl::scheduleWork(&self, uint32_t(work.size()), work.data());

    self.connectPorts();
    if (self.offers(LV2_STATE__loadDefaultState)) {
        self.loadDefaultState();
        self.applyControls();  // the given values win over the state's
    }
    lilv_instance_activate(self.instance);
    self.active = true;
}

Instance::~Instance() = default;

void Instance::process(const float* in, size_t frames)
{
    Impl& self = *impl_;
    const size_t block = self.settings.block;
    while (frames > 0) {
        const size_t n = std::min(block - self.staged, frames);
        std::copy(in, in + n, self.staging.begin() + self.staged);
        self.staged += n;
        in += n;
        frames -= n;
        if (self.staged == block)
            self.runStaged(uint32_t(block), block);
    }
    if (!self.settings.fixedBlocks && self.staged > 0)
        self.runStaged(uint32_t(self.staged), self.staged);
}

void Instance::finish()
{
    Impl& self = *impl_;
    if (self.staged == 0)
        return;
    std::fill(self.staging.begin() + self.staged, self.staging.end(), 0.0f);
    self.runStaged(self.settings.block, self.staged);
}

void Instance::setBlockInput(const float* in)
{
    for (std::vector<float>& buffer : impl_->audioIns)
        std::copy(in, in + buffer.size(), buffer.begin());
}

void Instance::runBlock()
{
    impl_->runPlugin(impl_->settings.block);
}

const float* Instance::blockOutput(size_t c) const
{
    return impl_->audioOuts.at(c).data();
}

void Instance::setControl(const std::string& symbol, float value)
{
    impl_->setControl(symbol, value);
}

void Instance::setControls(const std::vector<float>& values)
{
    const std::vector<Port>& controls = impl_->plugin.controls;
    for (size_t i = 0; i < controls.size() && i < values.size(); ++i)
        impl_->ports[controls[i].index].value = values[i];
}

const std::vector<std::vector<float>>& Instance::outputs() const
{
    return impl_->outputs;
}

void Instance::clearOutputs()
{
    for (std::vector<float>& o : impl_->outputs)
        o.clear();
}

size_t Instance::audioInputCount() const
{
    return impl_->audioIns.size();
}

const std::vector<Port>& Instance::ports() const
{
    return impl_->ports;
}

std::vector<float> render(const Plugin& plugin, double rate, const std::vector<float>& controls,
                          const std::vector<float>& input, size_t tailFrames, uint32_t block)
{
    Instance instance(plugin, {rate, block, {}, false, false});
    instance.setControls(controls);
    std::vector<float> in(input);
    in.resize(input.size() + tailFrames, 0.0f);
    instance.process(in.data(), in.size());
    const std::vector<std::vector<float>>& outputs = instance.outputs();
    std::vector<float> out(2 * in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        out[2 * i] = outputs[0][i];
        out[2 * i + 1] = outputs[1][i];
    }
    return out;
}
