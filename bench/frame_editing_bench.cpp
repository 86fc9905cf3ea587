#include "app/callbacks.h"
#include "bench/ship_generator.h"
#include "edit/pointer_edit.h"

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
    char name[] = "frame_editing_bench";
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

// Whole frames while a corner is dragged: before each frame the corner shared by the
// triangles in the middle of the ship moves one diagonal grid step, back and forth, through
// the editor's own drag step. The corner lies on the generator's 12.5 lattice, so the step
// never lands on another corner.
static void BM_FrameEditing(benchmark::State& state)
{
    if (!openWindow())
    {
        state.SkipWithError("no X display: run it through scripts/with-xvfb");
        return;
    }
    ship = makeBenchShip(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    const Vec2 home = ship.triangles[ship.triangles.size() / 2].corners[0];
    const Vec2 away{home.x + 3.125, home.y + 3.125};
    onDisplay();
    glFinish();
    bool moved = false;
    for (auto _ : state)
    {
        cornerDragStep(moved ? away : home, moved ? home : away);
        moved = !moved;
        onDisplay();
        glFinish();
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FrameEditing)
    ->Args({100000, 10000})
    ->Args({1000000, 100000})
    ->ArgNames({"triangles", "attachments"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
