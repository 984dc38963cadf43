#include "EditorView.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "ControlScale.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Rect {
    double x, y, w, h;
    bool contains(double px, double py) const { return px >= x && px < x + w && py >= y && py < y + h; }
};

struct Colour {
    double r, g, b;
};
constexpr Colour kBackground{0.11, 0.12, 0.14}, kPanel{0.15, 0.165, 0.19}, kGrid{0.24, 0.26, 0.30},
    kText{0.85, 0.87, 0.90}, kDim{0.55, 0.58, 0.63}, kAccent{0.95, 0.75, 0.35};
// Left and right channel, in the curves, the line marks and the figures.
constexpr Colour kChannel[2] = {{0.36, 0.66, 1.0}, {1.0, 0.52, 0.36}};

// The page: the picture, the figures beside it and two rows of controls.
constexpr Rect kPlot{12, 34, 556, 228};
constexpr Rect kFigures{580, 34, 228, 228};
constexpr double kCellWidth = 796.0 / 7, kCellHeight = 100, kRowTop[2] = {272, 376};
constexpr double kKnobRadius = 22;
constexpr double kStatusX = kPlot.x + kPlot.w - 10, kStatusY = kPlot.y + 10;

// Mix to parallel on the first row, low cut to rate max on the second,
// centred under it.
Rect cellOf(int port)
{
    if (port < static_cast<int>(kPortLowCut))
        return {12 + (port - kPortMix) * kCellWidth, kRowTop[0], kCellWidth, kCellHeight};
    return {12 + (port - kPortLowCut + 0.5) * kCellWidth, kRowTop[1], kCellWidth, kCellHeight};
}

void setColour(cairo_t* cr, Colour c, double alpha = 1.0)
{
    cairo_set_source_rgba(cr, c.r, c.g, c.b, alpha);
}

void roundedRect(cairo_t* cr, Rect r, double radius)
{
    cairo_new_sub_path(cr);
    cairo_arc(cr, r.x + r.w - radius, r.y + radius, radius, -kPi / 2, 0);
    cairo_arc(cr, r.x + r.w - radius, r.y + r.h - radius, radius, 0, kPi / 2);
    cairo_arc(cr, r.x + radius, r.y + r.h - radius, radius, kPi / 2, kPi);
    cairo_arc(cr, r.x + radius, r.y + radius, radius, kPi, 3 * kPi / 2);
    cairo_close_path(cr);
}

// Text with its left edge (align 0), centre (0.5) or right edge (1) at x
// and its baseline at y.
void text(cairo_t* cr, const char* s, double x, double y, double size, double align = 0.0, bool bold = false)
{
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
        bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
    cairo_text_extents_t extents;
    cairo_text_extents(cr, s, &extents);
    cairo_move_to(cr, x - align * extents.x_advance, y);
    cairo_show_text(cr, s);
}

void formatFigure(char* out, size_t size, double value, double scale, const char* format)
{
    if (std::isfinite(value))
        std::snprintf(out, size, format, value * scale);
    else
        std::snprintf(out, size, "\u2014");
}

// The time axis in steps of 1, 2 or 5 times a power of ten, about six of them.
double timeStep(double seconds)
{
    const double raw = seconds / 6, decade = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0})
        if (m * decade >= raw)
            return m * decade;
    return 10 * decade;
}

constexpr double kFloorDb = -90;

void paintPlot(cairo_t* cr, const EditorView& view)
{
    setColour(cr, kPanel);
    roundedRect(cr, kPlot, 6);
    cairo_fill(cr);
    const Rect area{kPlot.x + 40, kPlot.y + 12, kPlot.w - 52, kPlot.h - 36};
    const Preview* p = view.preview;
    const double seconds = p ? p->seconds : 3.0;
    auto px = [&](double t) { return area.x + area.w * t / seconds; };
    auto py = [&](double db) { return area.y + area.h * std::clamp(db, kFloorDb, 0.0) / kFloorDb; };

    cairo_set_line_width(cr, 1);
    char label[32];
    for (double db = 0; db >= kFloorDb; db -= 15) {
        setColour(cr, kGrid);
        cairo_move_to(cr, area.x, py(db));
        cairo_line_to(cr, area.x + area.w, py(db));
        cairo_stroke(cr);
        setColour(cr, kDim);
        std::snprintf(label, sizeof label, "%.0f", db);
        text(cr, label, area.x - 6, py(db) + 4, 10, 1.0);
    }
    const double step = timeStep(seconds);
    for (int k = 0; k * step <= seconds + 1e-9; ++k) {
        const double t = k * step;
        setColour(cr, kGrid);
        cairo_move_to(cr, px(t), area.y);
        cairo_line_to(cr, px(t), area.y + area.h);
        cairo_stroke(cr);
        setColour(cr, kDim);
        std::snprintf(label, sizeof label, step < 1 ? "%.1f s" : "%.0f s", t);
        text(cr, label, px(t), area.y + area.h + 15, 10, k == 0 ? 0.0 : 0.5);
    }
    setColour(cr, kDim);
    text(cr, "dB", kPlot.x + 8, kPlot.y + 14, 10);
    // The state of the picture at a glance: lit while a render is due.
    cairo_new_path(cr);
    cairo_arc(cr, kStatusX, kStatusY, 4, 0, 2 * kPi);
    setColour(cr, !p || view.stale ? kAccent : kGrid);
    cairo_fill(cr);
    if (!p) {
        text(cr, "rendering\u2026", area.x + area.w / 2, area.y + area.h / 2, 13, 0.5);
        return;
    }

    cairo_save(cr);
    cairo_rectangle(cr, area.x, area.y, area.w, area.h);
    cairo_clip(cr);
    for (int c = 0; c < 2; ++c) {
        // The short-time level, faint, and the energy decay curve over it.
        const std::vector<float>& envelope = p->envelopeDb[c];
        const double bin = seconds / static_cast<double>(envelope.size());
        for (size_t b = 0; b < envelope.size(); ++b) {
            const double x = px(static_cast<double>(b) * bin);
            b == 0 ? cairo_move_to(cr, x, py(envelope[b])) : cairo_line_to(cr, x, py(envelope[b]));
        }
        setColour(cr, kChannel[c], 0.45);
        cairo_set_line_width(cr, 1);
        cairo_stroke(cr);
        const std::vector<float>& decay = p->decayDb[c];
        for (size_t b = 0; b < decay.size(); ++b) {
            const double x = px(static_cast<double>(b) * bin);
            b == 0 ? cairo_move_to(cr, x, py(decay[b])) : cairo_line_to(cr, x, py(decay[b]));
        }
        setColour(cr, kChannel[c]);
        cairo_set_line_width(cr, 2);
        cairo_stroke(cr);
        // Each line's length: the left bank's from the top, the right's from the bottom.
        cairo_set_line_width(cr, 1.5);
        for (uint64_t k = 0; k < p->lineCount; ++k) {
            const double x = px(p->lineSeconds[c][k]);
            cairo_move_to(cr, x, c == 0 ? area.y : area.y + area.h);
            cairo_line_to(cr, x, c == 0 ? area.y + 9 : area.y + area.h - 9);
        }
        cairo_stroke(cr);
    }
    cairo_restore(cr);
    if (view.stale) {
        setColour(cr, kAccent);
        text(cr, "rendering\u2026", kStatusX - 10, kStatusY + 4, 10, 1.0);
    }
}

void paintFigures(cairo_t* cr, const EditorView& view)
{
    setColour(cr, kPanel);
    roundedRect(cr, kFigures, 6);
    cairo_fill(cr);
    const double x0 = kFigures.x + 12, col[2] = {kFigures.x + 148, kFigures.x + 216};
    setColour(cr, kText);
    text(cr, "Measured, wet only", x0, kFigures.y + 22, 12, 0.0, true);
    for (int c = 0; c < 2; ++c) {
        setColour(cr, kChannel[c]);
        text(cr, c == 0 ? "Left" : "Right", col[c], kFigures.y + 46, 11, 1.0, true);
    }
    struct Row {
        const char* name;
        double ChannelFigures::*field;
        double scale;
        const char* format;
    };
    constexpr Row rows[] = {
        {"T30", &ChannelFigures::t30, 1.0, "%.2f s"},
        {"Dense (0.9)", &ChannelFigures::denseAt, 1000.0, "%.0f ms"},
        {"Undelayed", &ChannelFigures::undelayedDb, 1.0, "%.1f dB"},
    };
    const Preview* p = view.preview;
    char value[32];
    double y = kFigures.y + 70;
    for (const Row& row : rows) {
        setColour(cr, kDim);
        text(cr, row.name, x0, y, 11);
        for (int c = 0; c < 2; ++c) {
            setColour(cr, kText);
            formatFigure(value, sizeof value, p ? p->figures[c].*row.field : NAN, row.scale, row.format);
            text(cr, value, col[c], y, 11, 1.0);
        }
        y += 22;
    }
    if (!p || p->lineCount == 0)
        return;
    setColour(cr, kDim);
    text(cr, "Lines", x0, y, 11);
    for (int c = 0; c < 2; ++c) {
        const double* s = p->lineSeconds[c];
        const auto [lo, hi] = std::minmax_element(s, s + p->lineCount);
        std::snprintf(value, sizeof value, p->lineCount > 1 ? "%.0f\u2013%.0f ms" : "%.0f ms", *lo * 1000,
            *hi * 1000);
        setColour(cr, kText);
        text(cr, value, col[c], y, 11, 1.0);
    }
    y += 30;
    setColour(cr, kDim);
    std::snprintf(value, sizeof value, "Impulse, %.0f s at %.0f Hz", p->seconds, p->rate);
    text(cr, value, x0, y, 10);
    text(cr, "Marks: each line's length", x0, y + 16, 10);
}

void paintKnob(cairo_t* cr, double cx, double cy, double travel)
{
    constexpr double kStart = 0.75 * kPi, kSweep = 1.5 * kPi;
    cairo_new_path(cr);  // the text before leaves a current point
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_width(cr, 5);
    setColour(cr, kGrid);
    cairo_arc(cr, cx, cy, kKnobRadius, kStart, kStart + kSweep);
    cairo_stroke(cr);
    setColour(cr, kAccent);
    cairo_arc(cr, cx, cy, kKnobRadius, kStart, kStart + kSweep * travel);
    cairo_stroke(cr);
    const double a = kStart + kSweep * travel;
    setColour(cr, kText);
    cairo_set_line_width(cr, 2.5);
    cairo_move_to(cr, cx + 0.35 * kKnobRadius * std::cos(a), cy + 0.35 * kKnobRadius * std::sin(a));
    cairo_line_to(cr, cx + 0.85 * kKnobRadius * std::cos(a), cy + 0.85 * kKnobRadius * std::sin(a));
    cairo_stroke(cr);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
}

// Lines: one pip per line, the active ones lit.
void paintCount(cairo_t* cr, double cx, double cy, const PortInfo& port, float value)
{
    const int count = static_cast<int>(port.maximum), lit = static_cast<int>(clampToPort(port, value));
    constexpr double kPip = 9, kGap = 3;
    const double x0 = cx - (count * kPip + (count - 1) * kGap) / 2;
    cairo_new_path(cr);
    for (int k = 0; k < count; ++k) {
        roundedRect(cr, {x0 + k * (kPip + kGap), cy - 10, kPip, 20}, 2);
        setColour(cr, k < lit ? kAccent : kGrid);
        cairo_fill(cr);
    }
}

// Parallel: a switch, the thumb right when on.
void paintSwitch(cairo_t* cr, double cx, double cy, bool on)
{
    const Rect track{cx - 22, cy - 11, 44, 22};
    cairo_new_path(cr);
    roundedRect(cr, track, 11);
    setColour(cr, on ? kAccent : kGrid);
    cairo_fill(cr);
    setColour(cr, kText);
    cairo_arc(cr, on ? cx + 11 : cx - 11, cy, 8, 0, 2 * kPi);
    cairo_fill(cr);
}

void paintControl(cairo_t* cr, int port, const EditorView& view)
{
    const PortInfo& info = kPorts[port];
    const Rect cell = cellOf(port);
    const double cx = cell.x + cell.w / 2, cy = cell.y + 50;
    const float value = view.values[port];
    if (port == view.focus && view.focused) {
        setColour(cr, kAccent, 0.8);
        cairo_set_line_width(cr, 1);
        roundedRect(cr, {cell.x + 3, cell.y + 1, cell.w - 6, cell.h - 2}, 6);
        cairo_stroke(cr);
    }
    setColour(cr, kDim);
    text(cr, info.name, cx, cell.y + 17, 11, 0.5);
    switch (info.scale) {
    case PortScale::Toggle: paintSwitch(cr, cx, cy, clampToPort(info, value) > 0); break;
    case PortScale::Integer: paintCount(cr, cx, cy, info, value); break;
    default: paintKnob(cr, cx, cy + 2, travelOf(info, value)); break;
    }
    char shown[32];
    formatValue(info, value, shown, sizeof shown);
    setColour(cr, kText);
    text(cr, shown, cx, cell.y + 92, 12, 0.5);
}

} // namespace

PageTransform pageTransform(int width, int height)
{
    PageTransform t;
    t.scale = std::max(1e-3, std::min(width / kPageWidth, height / kPageHeight));
    t.x = (width - kPageWidth * t.scale) / 2;
    t.y = (height - kPageHeight * t.scale) / 2;
    return t;
}

int controlAt(int width, int height, double x, double y)
{
    const PageTransform t = pageTransform(width, height);
    const double px = (x - t.x) / t.scale, py = (y - t.y) / t.scale;
    for (int port = kFirstControlPort; port < static_cast<int>(kPortCount); ++port)
        if (cellOf(port).contains(px, py))
            return port;
    return -1;
}

void paintEditor(cairo_t* cr, int width, int height, const EditorView& view)
{
    cairo_save(cr);
    setColour(cr, kBackground);
    cairo_paint(cr);
    const PageTransform t = pageTransform(width, height);
    cairo_translate(cr, t.x, t.y);
    cairo_scale(cr, t.scale, t.scale);
    setColour(cr, kText);
    text(cr, "Plonkbrett Streuwolke", 14, 23, 15, 0.0, true);
    setColour(cr, kDim);
    text(cr, "impulse response: energy decay and level of each channel", 806, 23, 11, 1.0);
    paintPlot(cr, view);
    paintFigures(cr, view);
    for (int port = kFirstControlPort; port < static_cast<int>(kPortCount); ++port)
        paintControl(cr, port, view);
    cairo_restore(cr);
}
