#include "bench/bench_support.h"
#include "bench/ship_generator.h"
#include "edit/save_load.h"
#include "shipfile/ship_file.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <utility>

namespace fs = std::filesystem;

namespace
{
// A tenth as many attachments as triangles, up to the largest ship a save and a load must
// each finish within a second.
void fileSizes(benchmark::internal::Benchmark* b)
{
    for (int triangles : {1000, 10000, 100000, 1000000})
    {
        b->Args({triangles, triangles / 10});
    }
    b->ArgNames({"triangles", "attachments"})->Unit(benchmark::kMillisecond);
}
} // namespace

// The whole save of the editor: format, write to a temporary file, flush to disk, rename.
static void BM_Save(benchmark::State& state)
{
    const int triangles = static_cast<int>(state.range(0));
    Ship made = makeBenchShip(triangles, static_cast<int>(state.range(1)));
    adoptShipLists(ship, std::move(made.triangles), std::move(made.attachments));
    ScratchFolder folder;
    QuietStdout quiet;
    for (auto _ : state)
    {
        saveShip();
    }
    state.SetBytesProcessed(state.iterations() *
                            static_cast<int64_t>(fs::file_size(SHIP_FILE_NAME)));
}
BENCHMARK(BM_Save)->Apply(fileSizes);

static bool discardPiece(void* context, const char*, size_t size)
{
    *static_cast<int64_t*>(context) += static_cast<int64_t>(size);
    return true;
}

// The formatting alone of what BM_Save writes, into a sink that keeps nothing.
static void BM_Format(benchmark::State& state)
{
    const Ship s =
        makeBenchShip(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    int64_t bytes = 0;
    for (auto _ : state)
    {
        writeShipText(s.triangles, s.attachments, PieceSink{discardPiece, &bytes});
    }
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_Format)->Apply(fileSizes);

// The whole load: read the file, check and parse all of it, replace the ship.
static void BM_Load(benchmark::State& state)
{
    const int triangles = static_cast<int>(state.range(0));
    Ship made = makeBenchShip(triangles, static_cast<int>(state.range(1)));
    adoptShipLists(ship, std::move(made.triangles), std::move(made.attachments));
    ScratchFolder folder;
    QuietStdout quiet;
    saveShip();
    const auto bytes = static_cast<int64_t>(fs::file_size(SHIP_FILE_NAME));
    for (auto _ : state)
    {
        loadShip();
    }
    if (ship.triangles.size() != static_cast<std::size_t>(triangles))
    {
        state.SkipWithError("the load did not give back the saved ship");
    }
    state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_Load)->Apply(fileSizes);

// The parse alone of what BM_Load reads, from the text in memory.
static void BM_Parse(benchmark::State& state)
{
    const Ship s =
        makeBenchShip(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    const std::string text = formatShipFile(s.triangles, s.attachments);
    for (auto _ : state)
    {
        ShipFileContent content;
        std::string error;
        if (!parseShipFile(text, content, error))
        {
            state.SkipWithError("the text did not parse");
            break;
        }
        benchmark::DoNotOptimize(content.triangles.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_Parse)->Apply(fileSizes);
