#include "app/callbacks.h"
#include "bench/ship_generator.h"

#include <GL/freeglut.h>

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace
{
// Opens the editor's window once, in this process, and gives it its first reshape.
bool openWindow()
{
    static int opened = -1;
    if (opened >= 0)
    {
        return opened == 1;
    }
    opened = 0;
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || display[0] == '\0')
    {
        return false;
    }
    int argc = 1;
    char name[] = "frame_bench";
    char* argv[] = {name, nullptr};
    createEditorWindow(&argc, argv);
    glutDisplayFunc([] {});
    glutReshapeFunc(onReshape);
    for (int i = 0; i < 20; i++)
    {
        glutMainLoopEvent();
    }
    onReshape(WINDOW_SIZE, WINDOW_SIZE);
    opened = 1;
    return true;
}
} // namespace

// One whole frame as the editor draws it, finished on the renderer (Mesa's software one
// under Xvfb), with every attachment bound anew.
static void BM_Frame(benchmark::State& state)
{
    if (!openWindow())
    {
        state.SkipWithError("no X display: run it through scripts/with-xvfb");
        return;
    }
    ship = makeBenchShip(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state)
    {
        onDisplay();
        glFinish();
    }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                               benchmark::Counter::kIsRate);
}
// The first three sizes split the cost of a frame: the grid alone, the triangles without
// attachments, and unbound attachments alone.
BENCHMARK(BM_Frame)
    ->Args({0, 0})
    ->Args({10000, 0})
    ->Args({0, 1000})
    ->Args({100, 10})
    ->Args({1000, 100})
    ->Args({10000, 1000})
    ->Args({100000, 10000})
    ->ArgNames({"triangles", "attachments"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
