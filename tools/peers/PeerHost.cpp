#include "PeerHost.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <stdexcept>
#include <unordered_map>

#include <dirent.h>
#include <glob.h>
#include <unistd.h>
#if defined(__SSE__)
#include <xmmintrin.h>
#endif

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/log/log.h>
#include <lv2/options/options.h>
#include <lv2/parameters/parameters.h>
#include <lv2/resize-port/resize-port.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

namespace {

// Atom buffers hold at least this many bytes (more when a port asks for it
// with rsz:minimumSize); the plug-ins only ever see empty sequences.
const uint32_t kAtomCapacity = 8192;

// Where Ardour keeps the LV2 bundles it ships (a-reverb, a-comp, ...) when
// they are not in the common LV2 folders.
const char* const kArdourFolders[] = {
    "/usr/lib/ardour*/LV2",
    "/usr/lib/*/ardour*/LV2",
    "/usr/local/lib/ardour*/LV2",
    "/opt/Ardour*/lib/LV2",
};

std::string format(const char* fmt, double v)
{
    char text[64];
    std::snprintf(text, sizeof text, fmt, v);
    return text;
}

bool isPowerOf2(uint32_t n)
{
    return n && !(n & (n - 1));
}

// Sets flush-to-zero and denormals-are-zero for its scope and restores the
// caller's mode after, so the host leaves the thread as it found it.
struct DenormalGuard {
#if defined(__SSE__)
    unsigned saved = 0;
    bool active;
    explicit DenormalGuard(bool on) : active(on)
    {
        if (active) {
            saved = _mm_getcsr();
            _mm_setcsr(saved | 0x8040); // FTZ | DAZ
        }
    }
    ~DenormalGuard()
    {
        if (active)
            _mm_setcsr(saved);
    }
#else
    explicit DenormalGuard(bool) {}
#endif
};

// A lilv node that frees itself.
struct Node {
    LilvNode* node;
    Node(LilvWorld* world, const char* uri) : node(lilv_new_uri(world, uri)) {}
    ~Node() { lilv_node_free(node); }
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;
    operator const LilvNode*() const { return node; }
};

} // namespace

struct PeerHost::Impl {
    PeerSettings settings;
    LilvWorld* world = lilv_world_new();
    const LilvPlugin* plugin = nullptr;
    LilvInstance* instance = nullptr;
    bool active = false;
    std::string name;
    std::vector<PeerPort> ports;

    // URIDs: 1, 2, ... in the order asked for. A deque keeps the strings
    // (and the pointers unmap hands out) in place.
    std::unordered_map<std::string, LV2_URID> ids;
    std::deque<std::string> uris;
    LV2_URID_Map map{this, &Impl::mapUri};
    LV2_URID_Unmap unmap{this, &Impl::unmapUri};

    LV2_URID sequenceType = 0, chunkType = 0;
    int32_t blockLength = 0;
    int32_t sequenceSize = 0;
    float sampleRate = 0.0f;
    std::vector<LV2_Options_Option> options;

    LV2_Worker_Schedule schedule{this, &Impl::scheduleWork};
    const LV2_Worker_Interface* worker = nullptr;
    std::vector<std::vector<uint8_t>> pendingWork, responses, delivering;

    LV2_Log_Log log{this, &Impl::logPrintf, &Impl::logVprintf};
    LV2_State_Map_Path mapPath{this, &Impl::samePath, &Impl::samePath};
    LV2_State_Free_Path freePath{this, &Impl::freeString};

    std::vector<LV2_Feature> featureList;
    std::vector<const LV2_Feature*> features; // null-terminated

    std::vector<float> staging; // input of the next block
    size_t staged = 0;
    std::vector<std::vector<float>> audioIns, audioOuts, cvs;
    std::vector<std::vector<uint64_t>> atomIns, atomOuts; // 64-bit words keep atoms aligned
    std::vector<std::vector<float>> outputs;

    ~Impl()
    {
        // Deactivate only what was activated: some plug-ins assert on it.
        if (active)
            lilv_instance_deactivate(instance);
        if (instance)
            lilv_instance_free(instance);
        lilv_world_free(world);
    }

    static LV2_URID mapUri(LV2_URID_Map_Handle handle, const char* uri)
    {
        Impl& self = *static_cast<Impl*>(handle);
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
        const Impl& self = *static_cast<const Impl*>(handle);
        return id >= 1 && id <= self.uris.size() ? self.uris[id - 1].c_str() : nullptr;
    }

    LV2_URID urid(const char* uri) { return mapUri(this, uri); }

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
        std::fprintf(stderr, "%s: ", self.name.empty() ? self.settings.uri.c_str() : self.name.c_str());
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

    void loadBundle(const std::string& dir)
    {
        LilvNode* uri = lilv_new_file_uri(world, nullptr, (dir + "/").c_str());
        lilv_world_load_bundle(world, uri);
        lilv_node_free(uri);
    }

    const LilvPlugin* find()
    {
        Node uri(world, settings.uri.c_str());
        return lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
    }

    void findPlugin()
    {
        lilv_world_load_all(world);
        plugin = find();
        if (plugin)
            return;
        // Ardour's own folder only when the common path lacks the plug-in,
        // so a bundle found in both does not make lilv warn of duplicates.
        for (const char* pattern : kArdourFolders) {
            glob_t found{};
            if (glob(pattern, GLOB_ONLYDIR, nullptr, &found) == 0) {
                for (size_t i = 0; i < found.gl_pathc; ++i) {
                    DIR* dir = opendir(found.gl_pathv[i]);
                    if (!dir)
                        continue;
                    while (const dirent* entry = readdir(dir)) {
                        const std::string bundle = std::string(found.gl_pathv[i]) + "/" + entry->d_name;
                        if (entry->d_name[0] != '.' && access((bundle + "/manifest.ttl").c_str(), R_OK) == 0)
                            loadBundle(bundle);
                    }
                    closedir(dir);
                }
            }
            globfree(&found);
        }
        plugin = find();
        if (!plugin)
            throw PeerNotFound("plug-in " + settings.uri + " not found (not installed? lv2ls lists what lilv sees)");
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
        sequenceSize = int32_t(kAtomCapacity);
        for (uint32_t i = 0; i < count; ++i) {
            const LilvPort* port = lilv_plugin_get_port_by_index(plugin, i);
            PeerPort p;
            p.index = i;
            p.symbol = lilv_node_as_string(lilv_port_get_symbol(plugin, port));
            LilvNode* name = lilv_port_get_name(plugin, port);
            p.name = name ? lilv_node_as_string(name) : "";
            lilv_node_free(name);
            p.input = lilv_port_is_a(plugin, port, input);
            if (!p.input && !lilv_port_is_a(plugin, port, output))
                throw std::runtime_error("port " + p.symbol + " is neither an input nor an output");
            p.kind = lilv_port_is_a(plugin, port, audio)     ? PeerPort::Kind::Audio
                     : lilv_port_is_a(plugin, port, control) ? PeerPort::Kind::Control
                     : lilv_port_is_a(plugin, port, atom)    ? PeerPort::Kind::Atom
                     : lilv_port_is_a(plugin, port, cv)      ? PeerPort::Kind::Cv
                                                             : PeerPort::Kind::Other;
            // lv2:sampleRate ranges are given as fractions of the rate.
            const float scale = lilv_port_has_property(plugin, port, scaled) ? float(settings.rate) : 1.0f;
            p.min = min[i] * scale;
            p.max = max[i] * scale;
            p.def = def[i] * scale;
            p.value = std::isfinite(p.def) ? p.def : std::isfinite(p.min) ? p.min : 0.0f;
            if (LilvScalePoints* points = lilv_port_get_scale_points(plugin, port)) {
                LILV_FOREACH (scale_points, it, points) {
                    const LilvScalePoint* point = lilv_scale_points_get(points, it);
                    p.scalePoints.emplace_back(lilv_node_as_float(lilv_scale_point_get_value(point)),
                                               lilv_node_as_string(lilv_scale_point_get_label(point)));
                }
                lilv_scale_points_free(points);
            }
            if (p.kind == PeerPort::Kind::Atom) {
                LilvNodes* sizes = lilv_port_get_value(plugin, port, minimumSize);
                LILV_FOREACH (nodes, it, sizes)
                    sequenceSize = std::max(sequenceSize, lilv_node_as_int(lilv_nodes_get(sizes, it)));
                lilv_nodes_free(sizes);
            }
            if (p.kind == PeerPort::Kind::Other) {
                Node optional(world, LV2_CORE__connectionOptional);
                if (!lilv_port_has_property(plugin, port, optional))
                    throw std::runtime_error("port " + p.symbol + " has a type this host does not know");
            }
            ports.push_back(std::move(p));
        }
    }

    bool mentionsFeature(const char* uri)
    {
        Node feature(world, uri);
        LilvNodes* required = lilv_plugin_get_required_features(plugin);
        LilvNodes* optional = lilv_plugin_get_optional_features(plugin);
        const bool found = lilv_nodes_contains(required, feature) || lilv_nodes_contains(optional, feature);
        lilv_nodes_free(required);
        lilv_nodes_free(optional);
        return found;
    }

    void makeFeatures()
    {
        sequenceType = urid(LV2_ATOM__Sequence);
        chunkType = urid(LV2_ATOM__Chunk);
        blockLength = int32_t(settings.block);
        sampleRate = float(settings.rate);
        const LV2_URID intType = urid(LV2_ATOM__Int);
        auto option = [&](const char* key, LV2_URID type, const void* value) {
            options.push_back({LV2_OPTIONS_INSTANCE, 0, urid(key), sizeof(int32_t), type, value});
        };
        option(LV2_BUF_SIZE__minBlockLength, intType, &blockLength);
        option(LV2_BUF_SIZE__maxBlockLength, intType, &blockLength);
        option(LV2_BUF_SIZE__nominalBlockLength, intType, &blockLength);
        option(LV2_BUF_SIZE__sequenceSize, intType, &sequenceSize);
        option(LV2_PARAMETERS__sampleRate, urid(LV2_ATOM__Float), &sampleRate);
        options.push_back({LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr});

        featureList = {
            {LV2_URID__map, &map},
            {LV2_URID__unmap, &unmap},
            {LV2_OPTIONS__options, options.data()},
            {LV2_BUF_SIZE__boundedBlockLength, nullptr},
            {LV2_BUF_SIZE__fixedBlockLength, nullptr},
            {LV2_WORKER__schedule, &schedule},
            {LV2_LOG__log, &log},
        };
        if (isPowerOf2(settings.block))
            featureList.push_back({LV2_BUF_SIZE__powerOf2BlockLength, nullptr});
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

    void checkRequirements()
    {
        // Features that ask nothing of a host that runs separate buffers.
        const char* const harmless[] = {LV2_CORE__isLive, LV2_CORE__inPlaceBroken, LV2_CORE__hardRTCapable};
        LilvNodes* required = lilv_plugin_get_required_features(plugin);
        LILV_FOREACH (nodes, it, required) {
            const std::string uri = lilv_node_as_uri(lilv_nodes_get(required, it));
            bool known = std::any_of(featureList.begin(), featureList.end(),
                                     [&](const LV2_Feature& f) { return uri == f.URI; });
            for (const char* h : harmless)
                known = known || uri == h;
            if (!known) {
                lilv_nodes_free(required);
                throw std::runtime_error(name + " needs the feature " + uri + ", which this host lacks");
            }
        }
        lilv_nodes_free(required);

        Node requiredOption(world, LV2_OPTIONS__requiredOption);
        LilvNodes* wanted = lilv_world_find_nodes(world, lilv_plugin_get_uri(plugin), requiredOption, nullptr);
        LILV_FOREACH (nodes, it, wanted) {
            const LV2_URID key = urid(lilv_node_as_uri(lilv_nodes_get(wanted, it)));
            if (std::none_of(options.begin(), options.end(), [&](const LV2_Options_Option& o) { return o.key == key; })) {
                const std::string uri = lilv_node_as_uri(lilv_nodes_get(wanted, it));
                lilv_nodes_free(wanted);
                throw std::runtime_error(name + " needs the option " + uri + ", which this host lacks");
            }
        }
        lilv_nodes_free(wanted);
    }

    void connectPorts()
    {
        const size_t block = settings.block;
        const size_t atomWords = (size_t(sequenceSize) + 7) / 8;
        staging.assign(block, 0.0f);
        for (PeerPort& p : ports) {
            void* buffer = nullptr;
            switch (p.kind) {
            case PeerPort::Kind::Audio: {
                auto& list = p.input ? audioIns : audioOuts;
                list.emplace_back(block, 0.0f);
                buffer = list.back().data();
                break;
            }
            case PeerPort::Kind::Control:
                buffer = &p.value;
                break;
            case PeerPort::Kind::Atom: {
                auto& list = p.input ? atomIns : atomOuts;
                list.emplace_back(atomWords, 0);
                buffer = list.back().data();
                break;
            }
            case PeerPort::Kind::Cv:
                cvs.emplace_back(block, 0.0f); // inputs stay at zero
                buffer = cvs.back().data();
                break;
            case PeerPort::Kind::Other:
                break; // connection optional, left unconnected
            }
            lilv_instance_connect_port(instance, p.index, buffer);
        }
        if (audioOuts.empty() || audioOuts.size() > 2)
            throw std::runtime_error(name + " has " + std::to_string(audioOuts.size()) +
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
        LilvState* state = lilv_state_new_from_world(world, &map, lilv_plugin_get_uri(plugin));
        if (!state)
            return;
        auto set = [](const char* symbol, void* data, const void* value, uint32_t, uint32_t type) {
            Impl& self = *static_cast<Impl*>(data);
            for (PeerPort& p : self.ports) {
                if (p.symbol != symbol || p.kind != PeerPort::Kind::Control || !p.input)
                    continue;
                if (type == self.urid(LV2_ATOM__Float))
                    p.value = *static_cast<const float*>(value);
                else if (type == self.urid(LV2_ATOM__Double))
                    p.value = float(*static_cast<const double*>(value));
                else if (type == self.urid(LV2_ATOM__Int) || type == self.urid(LV2_ATOM__Bool))
                    p.value = float(*static_cast<const int32_t*>(value));
                else if (type == self.urid(LV2_ATOM__Long))
                    p.value = float(*static_cast<const int64_t*>(value));
            }
        };
        lilv_state_restore(state, instance, set, this, 0, features.data());
        lilv_state_free(state);
    }

    // One run call over the port buffers as they are.
    void runPlugin()
    {
        resetAtoms();
        deliverResponses(); // from work scheduled outside run
        lilv_instance_run(instance, settings.block);
        deliverResponses();
        if (worker && worker->end_run)
            worker->end_run(lilv_instance_get_handle(instance));
    }

    void runBlock(size_t keep)
    {
        for (std::vector<float>& in : audioIns)
            std::copy(staging.begin(), staging.end(), in.begin());
        runPlugin();
        for (size_t c = 0; c < audioOuts.size(); ++c)
            outputs[c].insert(outputs[c].end(), audioOuts[c].begin(), audioOuts[c].begin() + keep);
    }
};

PeerHost::PeerHost(const PeerSettings& settings)
    : impl_(new Impl)
{
    Impl& self = *impl_;
    self.settings = settings;
    if (!(settings.rate >= 1000 && settings.rate <= 1536000))
        throw std::runtime_error("sample rate " + format("%g", settings.rate) + " is out of range");
    if (settings.block < 1 || settings.block > 65536)
        throw std::runtime_error("block length " + std::to_string(settings.block) + " is out of range 1..65536");
    if (!self.world)
        throw std::runtime_error("lilv cannot make a world");

    self.findPlugin();
    LilvNode* name = lilv_plugin_get_name(self.plugin);
    self.name = name ? lilv_node_as_string(name) : settings.uri;
    lilv_node_free(name);
    self.readPorts();
    self.makeFeatures();
    self.checkRequirements();
    auto applyControls = [&] {
        for (const auto& [symbol, value] : settings.controls)
            setControl(symbol, value);
    };
    applyControls(); // before instantiation, so a wrong symbol fails fast

    self.instance = lilv_plugin_instantiate(self.plugin, settings.rate, self.features.data());
    if (!self.instance)
        throw std::runtime_error(self.name + " cannot be instantiated");
    self.worker = static_cast<const LV2_Worker_Interface*>(
        lilv_instance_get_extension_data(self.instance, LV2_WORKER__interface));
    std::vector<std::vector<uint8_t>> early;
    early.swap(self.pendingWork);
    for (const std::vector<uint8_t>& work : early)
        Impl::scheduleWork(&self, uint32_t(work.size()), work.data());

    self.connectPorts();
    if (std::any_of(self.featureList.begin(), self.featureList.end(),
                    [](const LV2_Feature& f) { return !std::strcmp(f.URI, LV2_STATE__loadDefaultState); })) {
        self.loadDefaultState();
        applyControls(); // the given values win over the state's
    }
    lilv_instance_activate(self.instance);
    self.active = true;
}

PeerHost::~PeerHost() = default;

void PeerHost::process(const float* in, size_t frames)
{
    Impl& self = *impl_;
    const DenormalGuard guard(self.settings.flushDenormals);
    const size_t block = self.settings.block;
    while (frames > 0) {
        const size_t n = std::min(block - self.staged, frames);
        std::copy(in, in + n, self.staging.begin() + self.staged);
        self.staged += n;
        in += n;
        frames -= n;
        if (self.staged == block) {
            self.runBlock(block);
            self.staged = 0;
        }
    }
}

void PeerHost::finish()
{
    Impl& self = *impl_;
    if (self.staged == 0)
        return;
    const DenormalGuard guard(self.settings.flushDenormals);
    std::fill(self.staging.begin() + self.staged, self.staging.end(), 0.0f);
    self.runBlock(self.staged);
    self.staged = 0;
}

void PeerHost::setBlockInput(const float* in)
{
    for (std::vector<float>& buffer : impl_->audioIns)
        std::copy(in, in + buffer.size(), buffer.begin());
}

void PeerHost::runBlock()
{
    const DenormalGuard guard(impl_->settings.flushDenormals);
    impl_->runPlugin();
}

const float* PeerHost::blockOutput(size_t c) const
{
    return impl_->audioOuts.at(c).data();
}

void PeerHost::setControl(const std::string& symbol, float value)
{
    for (PeerPort& p : impl_->ports) {
        if (p.symbol != symbol)
            continue;
        if (p.kind != PeerPort::Kind::Control || !p.input)
            throw std::runtime_error(symbol + " is not a control input of " + impl_->name);
        if (!std::isfinite(value) || (std::isfinite(p.min) && value < p.min) ||
            (std::isfinite(p.max) && value > p.max))
            throw std::runtime_error("value " + format("%g", value) + " for " + symbol + " is outside " +
                                     format("%g", p.min) + ".." + format("%g", p.max));
        p.value = value;
        return;
    }
    throw std::runtime_error(impl_->name + " has no control " + symbol);
}

const std::vector<std::vector<float>>& PeerHost::outputs() const
{
    return impl_->outputs;
}

void PeerHost::clearOutputs()
{
    for (std::vector<float>& o : impl_->outputs)
        o.clear();
}

std::string PeerHost::name() const
{
    return impl_->name;
}

std::string PeerHost::uri() const
{
    return impl_->settings.uri;
}

std::string PeerHost::libraryPath() const
{
    const LilvNode* library = lilv_plugin_get_library_uri(impl_->plugin);
    char* path = library ? lilv_file_uri_parse(lilv_node_as_uri(library), nullptr) : nullptr;
    const std::string result = path ? path : "";
    lilv_free(path);
    return result;
}

size_t PeerHost::audioInputCount() const
{
    return impl_->audioIns.size();
}

const std::vector<PeerPort>& PeerHost::ports() const
{
    return impl_->ports;
}
