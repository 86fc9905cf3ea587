#include "bench/ship_generator.h"
#include "bind/binding.h"
#include "edit/save_load.h"
#include "tests/bind_plain.h"

#include <benchmark/benchmark.h>
#include <string>
#include <utility>
#include <vector>

// Ship sizes as (triangles, attachments).
static void shipSizes(benchmark::internal::Benchmark* b)
{
    for (const auto& [t, a] : {std::pair{100, 10}, {1000, 100}, {10000, 1000}, {100000, 10000}})
    {
        b->Args({t, a});
    }
    b->ArgNames({"triangles", "attachments"})->Unit(benchmark::kMicrosecond);
}

// One frame's binding of every attachment with the one-by-one scan over all edges.
static void BM_BindOneByOne(benchmark::State& state)
{
    Ship s = makeBenchShip(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    int bound = 0;
    for (auto _ : state)
    {
        bound = 0;
        for (Attachment& a : s.attachments)
        {
            bindOneByOne(s.triangles, a);
            bound += a.triangle != NO_EDGE ? 1 : 0;
        }
        benchmark::DoNotOptimize(bound);
    }
    state.counters["bound"] = bound;
}
BENCHMARK(BM_BindOneByOne)->Apply(shipSizes);

// Adds one small triangle at x = 2e9, far beyond the rest of the ship, when `outlier` is set.
static void addOutlier(Ship& s, bool outlier)
{
    if (outlier)
    {
        Triangle t;
        t.corners[0] = Vec2{2.0e9, 0.0};
        t.corners[1] = Vec2{2.0e9 + 12.5, 0.0};
        t.corners[2] = Vec2{2.0e9, 12.5};
        s.triangles.push_back(t);
    }
}

static int boundCount(const Ship& s)
{
    int bound = 0;
    for (const Attachment& a : s.attachments)
    {
        bound += a.triangle != NO_EDGE ? 1 : 0;
    }
    return bound;
}

// Makes the case's ship the editor's, as a load does, and binds it in a first frame.
static void useCaseShip(benchmark::State& state)
{
    Ship made = makeBenchShip(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    addOutlier(made, state.range(2) != 0);
    ShipFileContent content{std::move(made.triangles), std::move(made.attachments)};
    std::string error;
    if (!adoptShip(content, error))
    {
        state.SkipWithError(error.c_str());
    }
    bindFrame(ship);
    forgetShipChanges(ship);
}

// The binding of a loaded ship from scratch: its cells filed as a load prepares them, and
// every attachment searched in the first frame; on the ship alone and with one far-flung
// triangle added.
static void BM_BindLoaded(benchmark::State& state)
{
    useCaseShip(state);
    for (auto _ : state)
    {
        prepareBinding(ship.triangles, ship.attachments);
        adoptPreparedBinding(ship);
        bindFrame(ship);
        benchmark::DoNotOptimize(ship.attachments.data());
    }
    forgetShipChanges(ship);
    state.counters["bound"] = boundCount(ship);
}
BENCHMARK(BM_BindLoaded)
    ->Args({100, 10, 0})
    ->Args({1000, 100, 0})
    ->Args({10000, 1000, 0})
    ->Args({100000, 10000, 0})
    ->Args({20000, 20000, 0})
    ->Args({20000, 20000, 1})
    ->Args({1000000, 100000, 0})
    ->Args({1000000, 100000, 1})
    ->ArgNames({"triangles", "attachments", "outlier"})
    ->Unit(benchmark::kMillisecond);

// The binding step's cases: many attachments with and without a far-flung triangle, and the
// largest ship.
static void bindSizes(benchmark::internal::Benchmark* b)
{
    b->Args({1000, 100, 0})->Args({20000, 20000, 0})->Args({20000, 20000, 1});
    b->Args({1000000, 100000, 0});
    b->ArgNames({"triangles", "attachments", "outlier"})->Unit(benchmark::kMicrosecond);
}

// The editor's binding step on a ship that stays as it is from frame to frame.
static void BM_BindSteady(benchmark::State& state)
{
    useCaseShip(state);
    for (auto _ : state)
    {
        bindFrame(ship);
        forgetShipChanges(ship);
        benchmark::DoNotOptimize(ship.attachments.data());
    }
    state.counters["bound"] = boundCount(ship);
}
BENCHMARK(BM_BindSteady)->Apply(bindSizes);

// The editor's binding step while a corner shared by several triangles in the middle of
// the ship moves one diagonal grid step before every frame, back and forth. The corner lies
// on the generator's 12.5 lattice, so the step never lands on another corner.
static void BM_BindEditing(benchmark::State& state)
{
    useCaseShip(state);
    const Vec2 home = ship.triangles[ship.triangles.size() / 2].corners[0];
    std::vector<std::pair<std::size_t, int>> shared;
    for (std::size_t i = 0; i < ship.triangles.size(); i++)
    {
        for (int k = 0; k < 3; k++)
        {
            const Vec2& c = ship.triangles[i].corners[k];
            if (c.x == home.x && c.y == home.y)
            {
                shared.emplace_back(i, k);
            }
        }
    }
    bool away = false;
    for (auto _ : state)
    {
        away = !away;
        for (const auto& [i, k] : shared)
        {
            Triangle t = ship.triangles[i];
            t.corners[k] = away ? Vec2{home.x + 3.125, home.y + 3.125} : home;
            writeTriangle(ship, i, t);
        }
        bindFrame(ship);
        forgetShipChanges(ship);
        benchmark::DoNotOptimize(ship.attachments.data());
    }
    state.counters["corners"] = static_cast<double>(shared.size());
    state.counters["bound"] = boundCount(ship);
}
BENCHMARK(BM_BindEditing)->Apply(bindSizes);
