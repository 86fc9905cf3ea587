#include "app/callbacks.h"
#include "app/frame.h"
#include "bench/bench_support.h"
#include "bench/ship_generator.h"
#include "edit/folders.h"
#include "edit/pointer_edit.h"
#include "edit/recovery.h"
#include "edit/save_load.h"
#include "platform/process.h"
#include "platform/state_folder.h"
#include "render/cull.h"
#include "render/markers.h"

#include <GL/freeglut.h>

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

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
    // As the editor's process is prepared, down to how it keeps the memory the renderer frees.
    prepareProcess();
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

// Keeps of `s` only the triangles that may touch the editor's first view and the attachments
// whose markers or labels may: a ship that shows as much as `s` does, and nothing more.
void keepWhatShows(Ship& s)
{
    const WorldBox reach = viewReach(WindowView{ViewOrigin{}, WINDOW_SIZE, WINDOW_SIZE}, 16.0);
    const double margin = std::sqrt(ATTACH_RANGE_SQ) + MARKER_ARM_LENGTH + 10.0;
    const auto far = [&](const Triangle& t) { return !triangleMayTouch(t, reach); };
    s.triangles.erase(std::remove_if(s.triangles.begin(), s.triangles.end(), far),
                      s.triangles.end());
    const auto unseen = [&](const Attachment& a)
    {
        return a.x < reach.left - margin || a.x > reach.right + margin ||
               a.y < reach.bottom - margin || a.y > reach.top + margin;
    };
    s.attachments.erase(std::remove_if(s.attachments.begin(), s.attachments.end(), unseen),
                        s.attachments.end());
}

// The ship of a case as made, cut to what shows, or with its triangles in random order.
enum ShipVariant
{
    AS_MADE = 0,
    CUT_TO_VIEW = 1,
    SHUFFLED = 2,
};

// Opens the window and makes the case's ship in `variant`, or marks the case skipped and
// returns false.
bool setUpFrames(benchmark::State& state, int64_t variant = AS_MADE)
{
    if (!openWindow())
    {
        state.SkipWithError("no X display: run it through scripts/with-xvfb");
        return false;
    }
    Ship made = makeBenchShip(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    if (variant == CUT_TO_VIEW)
    {
        keepWhatShows(made);
    }
    else if (variant == SHUFFLED)
    {
        std::shuffle(made.triangles.begin(), made.triangles.end(), std::mt19937(7));
    }
    ShipFileContent content{std::move(made.triangles), std::move(made.attachments)};
    std::string error;
    if (!adoptShip(content, error))
    {
        state.SkipWithError(error.c_str());
        return false;
    }
    return true;
}

void countFrames(benchmark::State& state)
{
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
} // namespace

// One steady frame as the editor draws it, finished on the renderer (Mesa's software one
// under Xvfb), with nothing changed since the last. A warm-up frame first binds the ship just
// loaded, searching every attachment; untimed, as at the sizes where it takes longer than the
// benchmark's time it would otherwise be the only frame timed.
static void BM_Frame(benchmark::State& state)
{
    if (!setUpFrames(state, state.range(2)))
    {
        return;
    }
    onDisplay();
    glFinish();
    for (auto _ : state)
    {
        onDisplay();
        glFinish();
    }
    countFrames(state);
}
// Ship sizes as (triangles, attachments). The first three split the cost of a frame: the
// grid alone, the triangles without attachments, and unbound attachments alone. The ship of
// 1,000 triangles fills most of the view, and all of its attachments show: with 100 against
// none it gives what visible markers add to a frame. From 10,000 triangles on, the ship is
// wider than the view, which shows its middle: at 1,000,000 about a thousandth of it, 1,352
// triangles of which 294 cross its border. With `ship` 1, the ship is cut to what shows,
// which sets the frame of a large ship beside one that draws the very same; with 2 its
// triangles come in random order, as no hull is built, so list order says nothing of place.
static void frameSizes(benchmark::internal::Benchmark* b)
{
    for (const auto& [t, a] : {std::pair{0, 0},
                               {10000, 0},
                               {0, 1000},
                               {100, 10},
                               {1000, 0},
                               {1000, 100},
                               {10000, 1000},
                               {100000, 10000},
                               {1000000, 100000}})
    {
        b->Args({t, a, 0});
    }
    b->Args({1000000, 100000, CUT_TO_VIEW});
    b->Args({1000000, 100000, SHUFFLED});
    b->ArgNames({"triangles", "attachments", "ship"})->Unit(benchmark::kMillisecond)->UseRealTime();
}
BENCHMARK(BM_Frame)->Apply(frameSizes);

// A frame without its binding step: the attachments are bound once beforehand, and each
// frame draws, presents and finishes as BM_Frame does.
static void BM_FrameDrawing(benchmark::State& state)
{
    if (!setUpFrames(state, state.range(2)))
    {
        return;
    }
    onDisplay();
    glFinish();
    for (auto _ : state)
    {
        drawFrame(ship, editorView(editor));
        glutSwapBuffers();
        glFinish();
    }
    countFrames(state);
}
BENCHMARK(BM_FrameDrawing)->Apply(frameSizes);

// The first frame after the case's ship is loaded from its file: the load has prepared the
// binding, and this frame gives it to the attachments. Each iteration loads the ship anew,
// untimed; a load of the largest ship takes over a second, so the iterations are few.
static void BM_FirstFrame(benchmark::State& state)
{
    if (!setUpFrames(state))
    {
        return;
    }
    ScratchFolder folder;
    QuietStdout quiet;
    saveShip();
    // The renderer's own first-time work (the label glyphs) belongs to no load.
    onDisplay();
    glFinish();
    for (auto _ : state)
    {
        state.PauseTiming();
        loadShip();
        state.ResumeTiming();
        onDisplay();
        glFinish();
    }
    if (ship.triangles.size() != static_cast<std::size_t>(state.range(0)))
    {
        state.SkipWithError("the load did not give back the saved ship");
    }
}
BENCHMARK(BM_FirstFrame)
    ->Args({1000, 100})
    ->Args({10000, 1000})
    ->Args({100000, 10000})
    ->Args({1000000, 100000})
    ->ArgNames({"triangles", "attachments"})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->UseRealTime();

// Whole frames while a corner is dragged: before each frame the corner shared by the
// triangles in the middle of the ship moves one diagonal grid step, back and forth, through
// the editor's own drag step. The corner lies on the generator's 12.5 lattice, so the step
// never lands on another corner.
static void BM_FrameEditing(benchmark::State& state)
{
    if (!setUpFrames(state, state.range(2)))
    {
        return;
    }
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
    countFrames(state);
}
BENCHMARK(BM_FrameEditing)
    ->Args({1000, 100, 0})
    ->Args({10000, 1000, 0})
    ->Args({100000, 10000, 0})
    ->Args({1000000, 100000, 0})
    ->Args({1000000, 100000, CUT_TO_VIEW})
    ->ArgNames({"triangles", "attachments", "ship"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// BM_FrameEditing while recovery copies of the ship are written all along on the writer
// thread, into a scratch state folder: a frame only copies the ship into the snapshot when the
// writer is free. Its time per frame against BM_FrameEditing's at the same size is the cost
// of the copies to the frame (within 1.5 times is the aim at 1,000,000 triangles).
static void BM_FrameEditingWhileCopying(benchmark::State& state)
{
    if (!setUpFrames(state))
    {
        return;
    }
    static bool started = false;
    if (!started)
    {
        char folder[] = "/tmp/gantrix-bench-state-XXXXXX";
        if (mkdtemp(folder) == nullptr || setenv("XDG_STATE_HOME", folder, 1) != 0)
        {
            state.SkipWithError("cannot make a scratch state folder");
            return;
        }
        // Copies as often as they can be: after every change, once the writer is done with the
        // last one.
        startRecovery(0);
        started = true;
    }
    const Vec2 home = ship.triangles[ship.triangles.size() / 2].corners[0];
    const Vec2 away{home.x + 3.125, home.y + 3.125};
    onDisplay();
    glFinish();
    const int64_t since = static_cast<int64_t>(std::time(nullptr));
    bool moved = false;
    for (auto _ : state)
    {
        cornerDragStep(moved ? away : home, moved ? home : away);
        moved = !moved;
        onDisplay();
        glFinish();
    }
    countFrames(state);
    // The copies happened: the run's copy in the scratch state folder was written since the
    // frames began (waited for up to ten seconds, untimed, as the first copy of a large ship
    // may still be on its way).
    bool copied = false;
    for (int waited = 0; waited < 10000 && !copied; waited += 100)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        onDisplay();
        std::string top;
        std::string below;
        std::string folder;
        std::string error;
        std::vector<FolderFile> files;
        if (!recoveryFolder(top, below, error) || !makePrivateFolders(top, below, folder, error) ||
            !listFolderFiles(folder, files, error))
        {
            break;
        }
        for (const FolderFile& f : files)
        {
            copied = copied || f.modified >= since;
        }
    }
    if (!copied)
    {
        state.SkipWithError("no recovery copy was written while the frames were drawn");
    }
}
BENCHMARK(BM_FrameEditingWhileCopying)
    ->Args({100000, 10000})
    ->Args({1000000, 100000})
    ->ArgNames({"triangles", "attachments"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
