// A small LV2 UI host for the editor's tests: loads the UI library with
// dlopen, gives it a parent window (or none), the resize, URID map and
// options features, calls its idle interface and relays between a script
// and the UI:
//   stdin   "set PORT VALUE"  a port event, as automation or a preset sends it
//           "resize W H"      the host resizes the parent and the editor's window
//           "idle on|off"     whether the host calls idle at all
//           "show" / "hide"   the show interface
//           "quit"
//   stdout  "ready WINDOW W H" once the editor is up, "write PORT VALUE" for
//           every value it writes, "size W H" for every size it asks for.
// Usage: editor_host MODULE [--scale S] [--no-parent] [--cycles N]
// With --cycles it opens and closes the editor N times on its own, sending a
// few port events each time (for valgrind), and reads no commands.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cairo.h>
#include <dlfcn.h>
#include <fontconfig/fontconfig.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <lv2/atom/atom.h>
#include <lv2/options/options.h>
#include <lv2/parameters/parameters.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

namespace {

constexpr const char* kPlugin = "https://plonkbrett.org/plugins/plonkbrett-streuwolke";

std::vector<std::string> g_uris;

LV2_URID mapUri(LV2_URID_Map_Handle, const char* uri)
{
    for (size_t k = 0; k < g_uris.size(); ++k)
        if (g_uris[k] == uri)
            return static_cast<LV2_URID>(k + 1);
    g_uris.emplace_back(uri);
    return static_cast<LV2_URID>(g_uris.size());
}

void writePort(LV2UI_Controller, uint32_t port, uint32_t size, uint32_t format, const void* buffer)
{
    if (format == 0 && size == sizeof(float))
        std::printf("write %u %.9g\n", port, static_cast<double>(*static_cast<const float*>(buffer)));
    else
        std::printf("write %u format %u size %u\n", port, format, size);
    std::fflush(stdout);
}

struct Host {
    Display* display = nullptr;
    Window parent = 0;
};

int askSize(LV2UI_Feature_Handle handle, int width, int height)
{
    Host* host = static_cast<Host*>(handle);
    if (host->display && width > 0 && height > 0) {
        XResizeWindow(host->display, host->parent, static_cast<unsigned>(width), static_cast<unsigned>(height));
        XFlush(host->display);
    }
    std::printf("size %d %d\n", width, height);
    std::fflush(stdout);
    return 0;
}

struct Ui {
    const LV2UI_Descriptor* descriptor = nullptr;
    LV2UI_Handle handle = nullptr;
    Window widget = 0;
    const LV2UI_Idle_Interface* idle = nullptr;
    const LV2UI_Show_Interface* show = nullptr;
};

bool open(Ui& ui, const LV2UI_Descriptor* descriptor, Host& host, float scale, const char* bundle)
{
    static LV2_URID_Map map = {nullptr, mapUri};
    static LV2UI_Resize resize = {nullptr, askSize};
    resize.handle = &host;
    static float rate = 48000;
    static float scaleValue;
    scaleValue = scale;
    const LV2_URID floatType = mapUri(nullptr, LV2_ATOM__Float);
    LV2_Options_Option options[] = {
        {LV2_OPTIONS_INSTANCE, 0, mapUri(nullptr, LV2_UI__scaleFactor), sizeof(float), floatType, &scaleValue},
        {LV2_OPTIONS_INSTANCE, 0, mapUri(nullptr, LV2_PARAMETERS__sampleRate), sizeof(float), floatType, &rate},
        {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr},
    };
    LV2_Feature mapFeature = {LV2_URID__map, &map};
    LV2_Feature parentFeature = {LV2_UI__parent, reinterpret_cast<void*>(host.parent)};
    LV2_Feature resizeFeature = {LV2_UI__resize, &resize};
    LV2_Feature optionsFeature = {LV2_OPTIONS__options, options};
    std::vector<const LV2_Feature*> features = {&mapFeature, &resizeFeature, &optionsFeature};
    if (host.parent)
        features.push_back(&parentFeature);
    features.push_back(nullptr);
    LV2UI_Widget widget = nullptr;
    ui.descriptor = descriptor;
    ui.handle = descriptor->instantiate(descriptor, kPlugin, bundle, writePort, nullptr, &widget, features.data());
    if (!ui.handle)
        return false;
    ui.widget = static_cast<Window>(reinterpret_cast<uintptr_t>(widget));
    if (descriptor->extension_data) {
        ui.idle = static_cast<const LV2UI_Idle_Interface*>(descriptor->extension_data(LV2_UI__idleInterface));
        ui.show = static_cast<const LV2UI_Show_Interface*>(descriptor->extension_data(LV2_UI__showInterface));
    }
    return true;
}

void portEvent(Ui& ui, uint32_t port, float value)
{
    ui.descriptor->port_event(ui.handle, port, sizeof value, 0, &value);
}

// Calls idle until the editor's status mark (page units 558, 44 at scale 1)
// is dark: its picture shows its settings. At most a minute (valgrind is slow).
bool showsPicture(Host& host, Ui& ui)
{
    for (int k = 0; k < 3000; ++k) {
        ui.idle->idle(ui.handle);
        usleep(20000);
        if (k < 2)
            continue;  // the port events before must reach the picture first
        XImage* image = XGetImage(host.display, ui.widget, 558, 44, 1, 1, AllPlanes, ZPixmap);
        const unsigned long rgb = image ? XGetPixel(image, 0, 0) & 0xffffff : 0;
        if (image)
            XDestroyImage(image);
        if (rgb == 0x3d424c)
            return true;
    }
    std::fprintf(stderr, "editor_host: the editor's picture did not become current\n");
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: editor_host MODULE [--scale S] [--no-parent] [--cycles N]\n");
        return 2;
    }
    float scale = 1;
    bool withParent = true;
    int cycles = 0;
    for (int k = 2; k < argc; ++k) {
        if (!std::strcmp(argv[k], "--scale") && k + 1 < argc)
            scale = std::strtof(argv[++k], nullptr);
        else if (!std::strcmp(argv[k], "--no-parent"))
            withParent = false;
        else if (!std::strcmp(argv[k], "--cycles") && k + 1 < argc)
            cycles = std::atoi(argv[++k]);
    }
    void* module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    auto entry = module ? reinterpret_cast<LV2UI_DescriptorFunction>(dlsym(module, "lv2ui_descriptor")) : nullptr;
    const LV2UI_Descriptor* descriptor = entry ? entry(0) : nullptr;
    if (!descriptor) {
        std::fprintf(stderr, "editor_host: cannot load %s: %s\n", argv[1], dlerror());
        return 2;
    }
    std::string bundle = argv[1];
    bundle.resize(bundle.rfind('/') + 1);

    Host host;
    if (withParent) {
        host.display = XOpenDisplay(nullptr);
        if (!host.display) {
            std::fprintf(stderr, "editor_host: no display\n");
            return 2;
        }
        host.parent = XCreateSimpleWindow(host.display, DefaultRootWindow(host.display), 0, 0, 100, 100, 0, 0, 0);
        XStoreName(host.display, host.parent, "editor_host");
        XMapRaised(host.display, host.parent);
        XSync(host.display, False);
    }

    if (cycles > 0) {
        for (int c = 0; c < cycles; ++c) {
            Ui ui;
            if (!host.display || !open(ui, descriptor, host, scale, bundle.c_str()) || !ui.idle)
                return 3;
            // The first picture, then the picture of two port events, then a
            // third event still rendering when the editor closes.
            if (!showsPicture(host, ui) || (portEvent(ui, 5, 300.0f), portEvent(ui, 4, 3.0f), !showsPicture(host, ui)))
                return 4;
            portEvent(ui, 9, 1.0f);
            ui.idle->idle(ui.handle);
            descriptor->cleanup(ui.handle);
        }
        if (host.display)
            XCloseDisplay(host.display);
        // The library stays loaded, so valgrind names its frames, and the
        // process-wide caches of cairo and fontconfig are emptied, so what
        // is left is what the editor left.
        cairo_debug_reset_static_data();
        FcFini();
        return 0;
    }

    Ui ui;
    if (!open(ui, descriptor, host, scale, bundle.c_str())) {
        std::printf("no editor\n");
        std::fflush(stdout);
        return 3;
    }
    std::printf("ready %lu\n", static_cast<unsigned long>(ui.widget));
    std::fflush(stdout);
    bool idling = true;
    std::string pending;
    for (;;) {
        pollfd input = {STDIN_FILENO, POLLIN, 0};
        if (poll(&input, 1, 15) > 0) {
            char chunk[256];
            const ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
            if (n <= 0)
                break;
            pending.append(chunk, static_cast<size_t>(n));
        }
        bool quit = false;
        for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
            const std::string line = pending.substr(0, end);
            unsigned port;
            float value;
            int w, h;
            char word[16];
            if (std::sscanf(line.c_str(), "set %u %f", &port, &value) == 2)
                portEvent(ui, port, value);
            else if (std::sscanf(line.c_str(), "resize %d %d", &w, &h) == 2 && host.display) {
                XResizeWindow(host.display, host.parent, static_cast<unsigned>(w), static_cast<unsigned>(h));
                XResizeWindow(host.display, ui.widget, static_cast<unsigned>(w), static_cast<unsigned>(h));
                XSync(host.display, False);
            } else if (std::sscanf(line.c_str(), "idle %15s", word) == 1)
                idling = !std::strcmp(word, "on");
            else if (line == "show" && ui.show)
                ui.show->show(ui.handle);
            else if (line == "hide" && ui.show)
                ui.show->hide(ui.handle);
            else if (line == "quit")
                quit = true;
        }
        if (quit)
            break;
        if (idling && ui.idle && ui.idle->idle(ui.handle) != 0) {
            std::printf("closed\n");
            std::fflush(stdout);
        }
    }
    descriptor->cleanup(ui.handle);
    if (host.display)
        XCloseDisplay(host.display);
    dlclose(module);
    std::printf("done\n");
    return 0;
}
