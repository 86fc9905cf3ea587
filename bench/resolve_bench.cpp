#include "bench/ship_generator.h"
#include "render/resolve.h"
#include "render/resolve_grid.h"

#include <benchmark/benchmark.h>

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
static void BM_ResolveNaive(benchmark::State& state)
{
    Ship s = makeBenchShip(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    int bound = 0;
    for (auto _ : state)
    {
        bound = 0;
        for (Attachment& a : s.attachments)
        {
            resolveAttachment(s.triangles, a);
            bound += a.triangle != NO_EDGE ? 1 : 0;
        }
        benchmark::DoNotOptimize(bound);
    }
    state.counters["bound"] = bound;
}
BENCHMARK(BM_ResolveNaive)->Apply(shipSizes);

// One frame's binding as the editor does it: the grid of edge midpoints, rebuilt per frame.
static void BM_Resolve(benchmark::State& state)
{
    Ship s = makeBenchShip(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    BindingGrid grid;
    for (auto _ : state)
    {
        resolveAttachments(grid, s.triangles, s.attachments);
        benchmark::DoNotOptimize(s.attachments.data());
    }
    int bound = 0;
    for (const Attachment& a : s.attachments)
    {
        bound += a.triangle != NO_EDGE ? 1 : 0;
    }
    state.counters["bound"] = bound;
}
BENCHMARK(BM_Resolve)->Apply(shipSizes);
