#include "render/cull.h"

WorldBox viewReach(const WindowView& view, double pixels)
{
    WorldBox box{-INFINITY, -INFINITY, INFINITY, INFINITY};
    if (view.width > 0 && view.height > 0)
    {
        const double left = static_cast<double>(view.origin.x);
        const double bottom = static_cast<double>(view.origin.y);
        // GL maps the world to the window in single precision, a few units in the seventh
        // digit of the view's coordinates off; far from the origin that is more than pixels.
        const double rounding = 1e-5 * (std::fabs(left) + std::fabs(bottom) + VIEW_SIZE);
        const double across = pixels * VIEW_SIZE / view.width + rounding;
        const double up = pixels * VIEW_SIZE / view.height + rounding;
        box = WorldBox{left - across, bottom - up, left + VIEW_SIZE + across,
                       bottom + VIEW_SIZE + up};
    }
    return box;
}

namespace
{
// Measures run `r` anew from its elements.
void measureRun(RunBoxes& runs, std::size_t r, const void* list, ElementPoints points)
{
    const std::size_t start = r << runs.shift;
    const std::size_t end = std::min(runs.covered, start + (std::size_t{1} << runs.shift));
    WorldBox box{INFINITY, INFINITY, -INFINITY, -INFINITY};
    bool unsafe = false;
    for (std::size_t i = start; i < end; i++)
    {
        Vec2 p[3];
        const int n = points(list, i, p);
        for (int k = 0; k < n; k++)
        {
            box.left = std::min(box.left, p[k].x);
            box.right = std::max(box.right, p[k].x);
            box.bottom = std::min(box.bottom, p[k].y);
            box.top = std::max(box.top, p[k].y);
            // The test of a single shape lets a NaN or huge point touch; so does its run's.
            unsafe = unsafe || !(std::fabs(p[k].x) + std::fabs(p[k].y) < SINGLE_PRECISION_SAFE);
        }
    }
    runs.boxes[r] = box;
    runs.unsafe[r] = unsafe;
}

std::size_t runCount(const RunBoxes& runs)
{
    return (runs.covered + (std::size_t{1} << runs.shift) - 1) >> runs.shift;
}
} // namespace

void updateRunBoxes(RunBoxes& runs, const void* list, std::size_t count, ElementPoints points,
                    const uint32_t* changed, int changedCount, const ShipChanges& record,
                    uint64_t stamp)
{
    // A record missed since the last update counts as everything.
    const bool everything = record.everything || record.from != runs.caughtUp;
    runs.caughtUp = stamp;
    int shift = runs.shift;
    while ((count >> shift) >= RunBoxes::MAX_RUNS)
    {
        shift++;
    }
    if (everything || count < runs.covered)
    {
        runs.shift = RunBoxes::SHORTEST_RUN_SHIFT;
        while ((count >> runs.shift) >= RunBoxes::MAX_RUNS)
        {
            runs.shift++;
        }
        runs.covered = count;
        for (std::size_t r = 0; r < runCount(runs); r++)
        {
            measureRun(runs, r, list, points);
        }
        return;
    }
    // Longer runs are two shorter ones joined.
    for (; runs.shift < shift; runs.shift++)
    {
        const std::size_t shorter = runCount(runs);
        for (std::size_t r = 0; 2 * r < shorter; r++)
        {
            WorldBox joined = runs.boxes[2 * r];
            bool unsafe = runs.unsafe[2 * r];
            if (2 * r + 1 < shorter)
            {
                const WorldBox& b = runs.boxes[2 * r + 1];
                joined = WorldBox{std::min(joined.left, b.left), std::min(joined.bottom, b.bottom),
                                  std::max(joined.right, b.right), std::max(joined.top, b.top)};
                unsafe = unsafe || runs.unsafe[2 * r + 1];
            }
            runs.boxes[r] = joined;
            runs.unsafe[r] = unsafe;
        }
    }
    runs.covered = count;
    std::size_t last = ~std::size_t{0};
    for (int n = 0; n < changedCount; n++)
    {
        const std::size_t r = std::size_t{changed[n]} >> runs.shift;
        if (r != last)
        {
            measureRun(runs, r, list, points);
            last = r;
        }
    }
}
