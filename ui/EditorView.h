// What the editor shows and where: the picture of the impulse response with
// its figures on top, the thirteen controls below. Everything is laid out on
// a fixed page of kPageWidth x kPageHeight units that is scaled, centred, to
// whatever size the window has. Paints on any cairo surface, so the
// benchmark paints without a display.
#pragma once

#include <cairo.h>

#include "Preview.h"

constexpr double kPageWidth = 820;
constexpr double kPageHeight = 480;

struct EditorView {
    ControlValues values = defaultControls();
    int focus = kPortDecay;           // the control the arrow keys move
    bool focused = false;             // the window has the keyboard
    const Preview* preview = nullptr; // none until the first render arrives
    bool stale = false;               // the controls moved on since it was rendered
};

// From the window's pixels to page units and back.
struct PageTransform {
    double scale = 1, x = 0, y = 0;  // device = page * scale + (x, y)
};
PageTransform pageTransform(int width, int height);

// The control under a window pixel, or -1.
int controlAt(int width, int height, double x, double y);

void paintEditor(cairo_t* cr, int width, int height, const EditorView& view);
