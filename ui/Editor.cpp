// The LV2 entry points of the editor: one static UI descriptor, an Xlib
// window of its own (embedded in the host's ui:parent, or a top-level
// window shown through the show interface), painted with cairo, driven by
// the host's idle calls. All of it runs on the host's UI thread; the only
// other thread is the preview worker, which touches neither X nor the
// host.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <cairo-xlib.h>
#include <cairo.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>

#include <lv2/atom/atom.h>
#include <lv2/options/options.h>
#include <lv2/parameters/parameters.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include "../log/Log.h"
#include "../plugin/Uri.h"
#include "ControlScale.h"
#include "EditorView.h"

namespace {

constexpr double kDefaultRate = 48000;
constexpr double kDragPixels = 200;        // pixels for the whole travel
constexpr double kFineFactor = 10;         // Shift or Control: ten times finer
constexpr Time kDoubleClickMs = 400;
constexpr double kClickSlop = 3;           // pixels a click may move
constexpr int kPageSteps = 10;             // Page Up and Down

// X errors on the editors' own connections (a window the host destroyed
// before cleanup, say) must not end the host, which is what Xlib's default
// handler does. The handler ignores them and passes every other display's
// errors to the handler it replaced; the last editor to go puts that one
// back, unless someone has replaced ours meanwhile.
std::mutex g_errorLock;
Display* g_displays[64];
int g_displayCount = 0;
XErrorHandler g_previousHandler = nullptr;

int onXError(Display* display, XErrorEvent* error)
{
    XErrorHandler previous;
    {
        std::lock_guard<std::mutex> lock(g_errorLock);
        for (int k = 0; k < g_displayCount; ++k)
            if (g_displays[k] == display)
                return 0;
        previous = g_previousHandler;
    }
    return previous ? previous(display, error) : 0;
}

bool watchDisplay(Display* display)
{
    std::lock_guard<std::mutex> lock(g_errorLock);
    if (g_displayCount == static_cast<int>(sizeof g_displays / sizeof g_displays[0]))
        return false;
    if (g_displayCount == 0)
        g_previousHandler = XSetErrorHandler(onXError);
    g_displays[g_displayCount++] = display;
    return true;
}

void unwatchDisplay(Display* display)
{
    std::lock_guard<std::mutex> lock(g_errorLock);
    for (int k = 0; k < g_displayCount; ++k)
        if (g_displays[k] == display)
            g_displays[k] = g_displays[--g_displayCount];
    if (g_displayCount == 0) {
        const XErrorHandler current = XSetErrorHandler(g_previousHandler);
        if (current != onXError)
            XSetErrorHandler(current);
        g_previousHandler = nullptr;
    }
}

// The render ignores the mix (the picture is wet only), so a new mix alone
// needs no new picture.
bool sameRender(const ControlValues& a, const ControlValues& b)
{
    for (uint32_t p = kFirstControlPort; p < kPortCount; ++p)
        if (p != kPortMix && !(a[p] == b[p]))
            return false;
    return true;
}

struct Editor {
    Display* display = nullptr;
    Window window = 0;
    bool topLevel = false;       // no ui:parent: the editor's own window
    bool windowGone = false;     // destroyed with the host's parent
    bool closed = false;         // the window manager's close button
    Atom deleteWindow = 0;
    cairo_surface_t* surface = nullptr;     // the window
    cairo_surface_t* backBuffer = nullptr;  // what is painted, then copied to it
    int width = 0, height = 0;
    bool needsPaint = true;

    LV2UI_Write_Function write = nullptr;
    LV2UI_Controller controller = nullptr;
    EditorView view;
    ControlValues requested{};
    std::unique_ptr<Preview> preview;
    std::unique_ptr<PreviewWorker> worker;

    int dragPort = -1;
    double dragY = 0, dragTravel = 0;
    bool dragFine = false;
    int clickPort = -1;
    Time clickTime = 0;

    void askForPreview()
    {
        if (preview && sameRender(preview->controls, view.values)) {
            view.stale = false;
            return;
        }
        view.stale = true;
        if (sameRender(requested, view.values))
            return;
        requested = view.values;
        worker->request(requested);
    }

    // A value the user set: shown, written to the host and rendered.
    void set(int port, float value)
    {
        value = clampToPort(kPorts[port], value);
        if (value == view.values[port])
            return;
        view.values[port] = value;
        needsPaint = true;
        write(controller, static_cast<uint32_t>(port), sizeof(float), 0, &value);
        askForPreview();
    }

    void resizeTo(int w, int h)
    {
        if (w == width && h == height)
            return;
        width = w, height = h;
        cairo_xlib_surface_set_size(surface, w < 1 ? 1 : w, h < 1 ? 1 : h);
        needsPaint = true;
    }

    void paint()
    {
        needsPaint = false;
        if (windowGone || width < 1 || height < 1)
            return;
        // Painted into an image of the window's size, then copied in one
        // piece: no flicker, and no text drawn on the X server's side
        // (cairo's Xlib glyph caches outlive the connection).
        if (!backBuffer || cairo_image_surface_get_width(backBuffer) != width ||
            cairo_image_surface_get_height(backBuffer) != height) {
            cairo_surface_destroy(backBuffer);
            backBuffer = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
        }
        cairo_t* cr = cairo_create(backBuffer);
        paintEditor(cr, width, height, view);
        cairo_destroy(cr);
        cairo_surface_flush(backBuffer);
        cr = cairo_create(surface);
        cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
        cairo_set_source_surface(cr, backBuffer, 0, 0);
        cairo_paint(cr);
        cairo_destroy(cr);
        cairo_surface_flush(surface);
    }

    void press(const XButtonEvent& e)
    {
        const int port = controlAt(width, height, e.x, e.y);
        const bool fine = e.state & (ShiftMask | ControlMask);
        if (e.button == Button1) {
            XSetInputFocus(display, window, RevertToParent, e.time);
            if (port < 0)
                return;
            view.focus = port;
            needsPaint = true;
            const PortInfo& info = kPorts[port];
            if (port == clickPort && e.time - clickTime < kDoubleClickMs) {
                clickPort = -1;
                dragPort = -1;
                set(port, info.fallback);
                return;
            }
            clickPort = port;
            clickTime = e.time;
            if (info.scale == PortScale::Toggle) {
                set(port, stepBy(info, view.values[port], 1, false));
                return;
            }
            dragPort = port;
            dragY = e.y;
            dragTravel = travelOf(info, view.values[port]);
            dragFine = fine;
        } else if ((e.button == Button4 || e.button == Button5) && port >= 0) {
            set(port, stepBy(kPorts[port], view.values[port], e.button == Button4 ? 1 : -1, fine));
        }
    }

    void drag(const XMotionEvent& e)
    {
        if (dragPort < 0)
            return;
        const bool fine = e.state & (ShiftMask | ControlMask);
        const PortInfo& info = kPorts[dragPort];
        // A press that became a drag is no first half of a double-click.
        if (std::fabs(e.y - dragY) > kClickSlop)
            clickPort = -1;
        if (fine != dragFine) {
            // The modifier changes the rate from here on, not the value.
            dragTravel += (dragY - e.y) / (kDragPixels * (dragFine ? kFineFactor : 1));
            dragY = e.y;
            dragFine = fine;
        }
        const double travel = dragTravel + (dragY - e.y) / (kDragPixels * (fine ? kFineFactor : 1));
        set(dragPort, valueAtTravel(info, travel));
    }

    void key(XKeyEvent& e)
    {
        const KeySym sym = XLookupKeysym(&e, 0);
        const bool fine = e.state & (ShiftMask | ControlMask);
        const int first = kFirstControlPort, count = kPortCount - kFirstControlPort;
        const PortInfo& info = kPorts[view.focus];
        const float value = view.values[view.focus];
        needsPaint = true;
        switch (sym) {
        case XK_Tab:
        case XK_ISO_Left_Tab: {
            const int back = (e.state & ShiftMask) || sym == XK_ISO_Left_Tab ? count - 1 : 1;
            view.focus = first + (view.focus - first + back) % count;
            break;
        }
        case XK_Up:
        case XK_Right: set(view.focus, stepBy(info, value, 1, fine)); break;
        case XK_Down:
        case XK_Left: set(view.focus, stepBy(info, value, -1, fine)); break;
        case XK_Page_Up: set(view.focus, stepBy(info, value, kPageSteps, false)); break;
        case XK_Page_Down: set(view.focus, stepBy(info, value, -kPageSteps, false)); break;
        case XK_Home: set(view.focus, info.minimum); break;
        case XK_End: set(view.focus, info.maximum); break;
        case XK_Delete:
        case XK_BackSpace: set(view.focus, info.fallback); break;
        case XK_space:
        case XK_Return:
            if (info.scale == PortScale::Toggle)
                set(view.focus, stepBy(info, value, 1, false));
            break;
        default: break;
        }
    }

    void handle(XEvent& e)
    {
        switch (e.type) {
        case Expose: needsPaint = true; break;
        case ConfigureNotify: resizeTo(e.xconfigure.width, e.xconfigure.height); break;
        case DestroyNotify:
            if (e.xdestroywindow.window == window)
                windowGone = true;
            break;
        case ButtonPress: press(e.xbutton); break;
        case ButtonRelease:
            if (e.xbutton.button == Button1)
                dragPort = -1;
            break;
        case MotionNotify:
            while (XCheckTypedWindowEvent(display, window, MotionNotify, &e)) {
            }
            drag(e.xmotion);
            break;
        case KeyPress: key(e.xkey); break;
        case FocusIn:
        case FocusOut:
            view.focused = e.type == FocusIn;
            needsPaint = true;
            break;
        case ClientMessage:
            if (static_cast<Atom>(e.xclient.data.l[0]) == deleteWindow)
                closed = true;
            break;
        default: break;
        }
    }

    int idle()
    {
        while (XPending(display)) {
            XEvent e;
            XNextEvent(display, &e);
            handle(e);
        }
        std::unique_ptr<Preview> arrived;
        if (worker->take(arrived)) {
            preview = std::move(arrived);
            view.preview = preview.get();
            view.stale = !sameRender(preview->controls, view.values);
            needsPaint = true;
        }
        if (needsPaint)
            paint();
        XFlush(display);
        return closed || windowGone ? 1 : 0;
    }
};

const LV2_Feature* findFeature(const LV2_Feature* const* features, const char* uri)
{
    for (const LV2_Feature* const* f = features; f && *f; ++f)
        if (std::strcmp((*f)->URI, uri) == 0)
            return *f;
    return nullptr;
}

// The host's scale factor and sample rate, where its options give them.
void readOptions(const LV2_Feature* const* features, double& scale, double& rate)
{
    const LV2_Feature* mapFeature = findFeature(features, LV2_URID__map);
    const LV2_Feature* optionsFeature = findFeature(features, LV2_OPTIONS__options);
    if (!mapFeature || !mapFeature->data || !optionsFeature || !optionsFeature->data)
        return;
    const LV2_URID_Map* map = static_cast<const LV2_URID_Map*>(mapFeature->data);
    const LV2_URID scaleKey = map->map(map->handle, LV2_UI__scaleFactor);
    const LV2_URID rateKey = map->map(map->handle, LV2_PARAMETERS__sampleRate);
    const LV2_URID floatType = map->map(map->handle, LV2_ATOM__Float);
    for (const LV2_Options_Option* o = static_cast<const LV2_Options_Option*>(optionsFeature->data); o->key; ++o) {
        if (o->type != floatType || o->size != sizeof(float) || !o->value)
            continue;
        const double value = *static_cast<const float*>(o->value);
        if (o->key == scaleKey && value >= 0.5 && value <= 8)
            scale = value;
        else if (o->key == rateKey && value >= 1000 && value <= 1e6)
            rate = value;
    }
}

// UI thread, like every callback here but lv2ui_descriptor and
// extension_data; no two of them run at once.
LV2UI_Handle instantiate(const LV2UI_Descriptor*, const char* pluginUri, const char*, LV2UI_Write_Function write,
    LV2UI_Controller controller, LV2UI_Widget* widget, const LV2_Feature* const* features)
{
    if (!pluginUri || std::strcmp(pluginUri, kPluginUri) != 0 || !write || !widget)
        return nullptr;
    // The editor's engine never writes the diagnostic log: only the
    // plug-in's instances do.
    g_logLevel.store(INT_MIN, std::memory_order_relaxed);

    double scale = 1, rate = kDefaultRate;
    readOptions(features, scale, rate);
    const LV2_Feature* parentFeature = findFeature(features, LV2_UI__parent);
    const LV2_Feature* resizeFeature = findFeature(features, LV2_UI__resize);

    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return nullptr;
    if (!watchDisplay(display)) {
        XCloseDisplay(display);
        return nullptr;
    }
    auto editor = std::make_unique<Editor>();
    editor->display = display;
    editor->write = write;
    editor->controller = controller;
    // Without a parent (hosts of the show interface) the editor opens a
    // window of its own.
    editor->topLevel = !(parentFeature && parentFeature->data);
    const Window parent = editor->topLevel ? DefaultRootWindow(display)
                                           : static_cast<Window>(reinterpret_cast<uintptr_t>(parentFeature->data));
    const int w = static_cast<int>(std::lround(kPageWidth * scale));
    const int h = static_cast<int>(std::lround(kPageHeight * scale));
    const int screen = DefaultScreen(display);
    editor->window = XCreateSimpleWindow(display, parent, 0, 0, w, h, 0, 0, BlackPixel(display, screen));
    XSelectInput(display, editor->window,
        ExposureMask | StructureNotifyMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
            KeyPressMask | FocusChangeMask);
    XStoreName(display, editor->window, "Plonkbrett Streuwolke");
    XClassHint classHint = {const_cast<char*>("streuwolke-editor"), const_cast<char*>("Streuwolke")};
    XSetClassHint(display, editor->window, &classHint);
    if (editor->topLevel) {
        editor->deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
        XSetWMProtocols(display, editor->window, &editor->deleteWindow, 1);
    } else {
        XMapRaised(display, editor->window);
    }
    editor->surface = cairo_xlib_surface_create(display, editor->window, DefaultVisual(display, screen), w, h);
    editor->width = w, editor->height = h;
    // The size it would like, as suil and window managers read it: the page
    // at the host's scale, shrinking to a quarter of it at least.
    XSizeHints* hints = XAllocSizeHints();
    if (hints) {
        hints->flags = PSize | PBaseSize | PMinSize;
        hints->width = hints->base_width = w;
        hints->height = hints->base_height = h;
        hints->min_width = w / 4;
        hints->min_height = h / 4;
        XSetWMNormalHints(display, editor->window, hints);
        XFree(hints);
    }
    // The same through ui:resize, for hosts that still give that (LV2 has
    // deprecated it, so the Turtle does not ask for it).
    if (resizeFeature && resizeFeature->data) {
        const LV2UI_Resize* resize = static_cast<const LV2UI_Resize*>(resizeFeature->data);
        if (resize->ui_resize)
            resize->ui_resize(resize->handle, w, h);
    }
    editor->worker = std::make_unique<PreviewWorker>(rate);
    editor->askForPreview();
    XFlush(display);
    *widget = reinterpret_cast<LV2UI_Widget>(static_cast<uintptr_t>(editor->window));
    return editor.release();
}

void destroyEditor(Editor* editor)
{
    editor->worker.reset();
    // cairo keeps a record of the display until its device is finished.
    cairo_device_t* device = cairo_device_reference(cairo_surface_get_device(editor->surface));
    cairo_surface_destroy(editor->surface);
    cairo_surface_destroy(editor->backBuffer);
    cairo_device_finish(device);
    cairo_device_destroy(device);
    // The host may have destroyed its parent, and with it this window,
    // already: the error handler takes the BadWindow.
    if (!editor->windowGone)
        XDestroyWindow(editor->display, editor->window);
    XSync(editor->display, False);
    unwatchDisplay(editor->display);
    XCloseDisplay(editor->display);
    delete editor;
}

// UI thread. Waits for the worker, which stops a render between two blocks.
void cleanup(LV2UI_Handle handle)
{
    destroyEditor(static_cast<Editor*>(handle));
}

// UI thread. A control moved by the host: automation, a preset, another
// editor, or the echo of this editor's own write.
void portEvent(LV2UI_Handle handle, uint32_t port, uint32_t size, uint32_t format, const void* buffer)
{
    Editor* editor = static_cast<Editor*>(handle);
    if (format != 0 || size != sizeof(float) || !buffer || port < kFirstControlPort || port >= kPortCount)
        return;
    float value;
    std::memcpy(&value, buffer, sizeof value);
    if (value == editor->view.values[port] || std::isnan(value))
        return;
    editor->view.values[port] = value;
    editor->needsPaint = true;
    editor->askForPreview();
}

// UI thread, as often as the host likes (about 30 times a second), or never.
int idle(LV2UI_Handle handle)
{
    return static_cast<Editor*>(handle)->idle();
}

// UI thread.
int show(LV2UI_Handle handle)
{
    Editor* editor = static_cast<Editor*>(handle);
    editor->closed = false;
    XMapRaised(editor->display, editor->window);
    XFlush(editor->display);
    return 0;
}

// UI thread.
int hide(LV2UI_Handle handle)
{
    Editor* editor = static_cast<Editor*>(handle);
    XUnmapWindow(editor->display, editor->window);
    XFlush(editor->display);
    return 0;
}

const LV2UI_Idle_Interface kIdle = {idle};
const LV2UI_Show_Interface kShow = {show, hide};

// Discovery class: any thread, any time. No resize interface: LV2 has
// deprecated it. A host sizes the editor's window as it does any X window,
// and the editor follows (ConfigureNotify).
const void* extensionData(const char* uri)
{
    if (std::strcmp(uri, LV2_UI__idleInterface) == 0)
        return &kIdle;
    if (std::strcmp(uri, LV2_UI__showInterface) == 0)
        return &kShow;
    return nullptr;
}

const LV2UI_Descriptor kDescriptor = {kEditorUri, instantiate, cleanup, portEvent, extensionData};

} // namespace

// Discovery class.
LV2_SYMBOL_EXPORT const LV2UI_Descriptor* lv2ui_descriptor(uint32_t index)
{
    return index == 0 ? &kDescriptor : nullptr;
}
