// What one update of the editor's picture costs, in milliseconds of one
// core: rendering the impulse response through the engine and run cycle,
// the whole preview (render, envelopes and the analysis tool's figures of
// both channels), painting the editor at its natural size into an image,
// and the sum of the last two, which is what a control change costs.
// Settings: the defaults (a 2.5 s response), a 10 s decay (the longest
// response, 12 s) and one parallel line with a short decay (2 s).
#include <benchmark/benchmark.h>

#include <cairo.h>

#include "ui/EditorView.h"
#include "ui/Preview.h"

namespace {

constexpr double kRate = 48000;

ControlValues setting(int which)
{
    ControlValues c = defaultControls();
    if (which == 1)
        c[kPortDecay] = 10000;
    if (which == 2)
        c[kPortLines] = 1, c[kPortParallel] = 1, c[kPortDecay] = 300;
    return c;
}

const char* kNames[] = {"defaults", "decay 10 s", "1 line, 300 ms"};

void render(benchmark::State& state)
{
    const ControlValues c = setting(static_cast<int>(state.range(0)));
    const size_t frames = static_cast<size_t>(previewSeconds(c[kPortDecay]) * kRate);
    for (auto _ : state)
        benchmark::DoNotOptimize(renderImpulse(c, kRate, frames).left.data());
    state.SetLabel(kNames[state.range(0)]);
}

void preview(benchmark::State& state)
{
    const ControlValues c = setting(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        Preview p;
        benchmark::DoNotOptimize(makePreview(c, kRate, p));
    }
    state.SetLabel(kNames[state.range(0)]);
}

// paint (0) or preview and paint (1), at the defaults.
void paint(benchmark::State& state, bool withPreview)
{
    const ControlValues c = setting(0);
    Preview p;
    makePreview(c, kRate, p);
    EditorView view;
    view.preview = &p;
    cairo_surface_t* image =
        cairo_image_surface_create(CAIRO_FORMAT_RGB24, static_cast<int>(kPageWidth), static_cast<int>(kPageHeight));
    for (auto _ : state) {
        if (withPreview)
            makePreview(c, kRate, p);
        cairo_t* cr = cairo_create(image);
        paintEditor(cr, static_cast<int>(kPageWidth), static_cast<int>(kPageHeight), view);
        cairo_destroy(cr);
        cairo_surface_flush(image);
    }
    cairo_surface_destroy(image);
    state.SetLabel("defaults, 820 x 480");
}

BENCHMARK(render)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(preview)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(paint, paint, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(paint, update, true)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
