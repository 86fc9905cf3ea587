#include "bind/binding.h"

#include "point_cells.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <iterator>
#include <utility>

namespace
{
// Cell sizes are powers of two between these, in world units: about the ship's median edge,
// so that a cell holds a few midpoints, and a search stays within 17 by 17 cells.
constexpr double MIN_CELL_SIZE = 4.0;
constexpr double MAX_CELL_SIZE = 64.0;
constexpr double DEFAULT_CELL_SIZE = 8.0;
constexpr std::size_t CELL_SIZE_SAMPLE = 1024;

// Midpoints that came or went in a frame, checked one by one against each attachment near
// them up to this many; past it, every attachment near their box is searched again.
constexpr int MAX_MOVED_CHECKED = 96;
// Attachments near the moved midpoints are found through this many cells at most; a larger
// area is cheaper to find by looking at every attachment.
constexpr std::size_t MAX_CELLS_QUERIED = 4096;
// A box of the view is looked up through this many cells at most: about the view's at the
// smallest cells, where a window of a few pixels makes a pixel many world units.
constexpr std::size_t MAX_CELLS_SHOWN = 16384;
// Triangles near a view, listed by their midpoints: more are cheaper to find by their runs.
constexpr std::size_t MAX_TRIANGLES_SHOWN = 65536;

struct Binding
{
    PointCells midpoints;   // id: 3 * triangle + edge
    PointCells attachments; // id: the attachment's index, at its position when last bound
    // This frame's attachments to search again; once searched, those a box may show.
    std::vector<uint32_t> searched;
    std::vector<uint32_t> listedIn; // per attachment, the last frame that listed it, or 0
    // A load's bindings, found as it prepares the ship, which its first frame gives to the
    // attachments: until then they keep the fields they came with.
    std::vector<std::pair<int32_t, int32_t>> parked;
    // The widest or highest of the triangles' boxes since the ship was last filed whole.
    double widestTriangle = 0.0;
    std::vector<uint32_t> shownTriangles; // room for a view's worth of triangles
    uint32_t frame = 0;                   // counts frames from 1
    uint64_t adoptedAt = ~uint64_t{0};    // the ship's edit count when this binding was adopted
    uint64_t caughtUp = 0;                // the ship's edit count at the last frame
};

// The midpoints that came or went this frame, and their box.
struct Moved
{
    Vec2 points[MAX_MOVED_CHECKED];
    int count = 0; // how many came or went, listed or not
    double minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;

    void note(Vec2 m)
    {
        if (!canBind(m))
        {
            return;
        }
        minX = std::min(minX, m.x);
        minY = std::min(minY, m.y);
        maxX = std::max(maxX, m.x);
        maxY = std::max(maxY, m.y);
        if (count < MAX_MOVED_CHECKED)
        {
            points[count] = m;
        }
        count++;
    }
};

// The editor starts with an empty ship and a little room, so that its first edits need not
// grow the binding.
constexpr std::size_t STARTING_ROOM = 64;

void reserve(Binding& b, std::size_t triangles, std::size_t attachments)
{
    reservePointCells(b.midpoints, 3 * triangles);
    reservePointCells(b.attachments, attachments);
    b.searched.reserve(attachments);
    b.listedIn.reserve(attachments);
    b.shownTriangles.reserve(MAX_TRIANGLES_SHOWN);
}

// Whether a load may build its binding in the memory of `b`: the room is there, and not so much
// more that it should be given back.
bool fits(const Binding& b, std::size_t triangles, std::size_t attachments)
{
    return fitsPointCells(b.midpoints, 3 * triangles) &&
           fitsPointCells(b.attachments, attachments) && b.searched.capacity() >= attachments &&
           b.listedIn.capacity() >= attachments && b.shownTriangles.capacity() > 0;
}

Binding startingBinding()
{
    Binding b;
    reserve(b, STARTING_ROOM, STARTING_ROOM);
    return b;
}

Binding editorBinding = startingBinding();

// The median edge of a sample of triangles, rounded down to a power of two, so that a few
// far-flung or huge triangles leave the cells as the rest of the ship wants them.
double chooseCellSize(const std::vector<Triangle>& triangles)
{
    static double lengths[3 * CELL_SIZE_SAMPLE + 3];
    std::size_t n = 0;
    const std::size_t step = std::max<std::size_t>(1, triangles.size() / CELL_SIZE_SAMPLE);
    for (std::size_t i = 0; i < triangles.size() && n + 3 <= std::size(lengths); i += step)
    {
        for (int k = 0; k < 3; k++)
        {
            const Vec2 p = triangles[i].corners[k];
            const Vec2 q = triangles[i].corners[nextCorner(k)];
            const double length = std::hypot(q.x - p.x, q.y - p.y);
            if (std::isfinite(length) && length > 0.0)
            {
                lengths[n++] = length;
            }
        }
    }
    if (n == 0)
    {
        return DEFAULT_CELL_SIZE;
    }
    std::nth_element(lengths, lengths + n / 2, lengths + n);
    double size = MIN_CELL_SIZE;
    while (size * 2.0 <= lengths[n / 2] && size < MAX_CELL_SIZE)
    {
        size *= 2.0;
    }
    return size;
}

// The smallest distance so far, how many midpoints have it, and the edge of the first. A search
// may, rarely, be shown a midpoint twice: seeing the one nearest again is no tie.
struct Nearest
{
    double best = ATTACH_RANGE_SQ;
    int count = 0;
    uint32_t edge = 0;

    void consider(uint32_t id, Vec2 m, Vec2 at)
    {
        const double d = squaredDistance(m, at);
        if (d < best)
        {
            best = d;
            count = 1;
            edge = id;
        }
        else if (d == best && count > 0 && !(count == 1 && id == edge))
        {
            count++;
        }
    }
};

// Binds `a` as the one-by-one rule would, from the midpoints in the cells around it.
void bindNearest(const PointCells& cells, Attachment& a)
{
    // The one-by-one rule binds exactly when a single edge holds the smallest distance and it
    // is below the range; edges at or beyond the range never matter. A non-finite position is
    // at no finite distance from anything and never binds.
    Nearest n;
    const Vec2 at{a.x, a.y};
    const auto consider = [&](uint32_t id, Vec2 m) { n.consider(id, m, at); };
    if (canBind(at) && std::fabs(a.x) < FAR_COORDINATE + BIND_REACH &&
        std::fabs(a.y) < FAR_COORDINATE + BIND_REACH)
    {
        // Rings of cells are searched outward. A midpoint in ring r is at least (r - 1) cells
        // away along one axis; cell bounds are exact and so is that distance's square, so the
        // search stops when no midpoint of the ring can be nearer than the best so far, nor
        // tie with it.
        const uint32_t cx = cellCoordinate(a.x, cells.inverseCellSize);
        const uint32_t cy = cellCoordinate(a.y, cells.inverseCellSize);
        forEachInCell(cells, cx, cy, consider);
        for (uint32_t r = 1;; r++)
        {
            const double gap = static_cast<double>(r - 1) * cells.cellSize;
            const double bound = gap * gap;
            if (bound > n.best || (n.count == 0 && bound >= n.best))
            {
                break;
            }
            for (uint32_t y = cy - r; y <= cy + r; y++)
            {
                // Whole rows at the ring's top and bottom, its two ends between.
                const bool edgeRow = y == cy - r || y == cy + r;
                for (uint32_t x = cx - r; x <= cx + r; x += edgeRow ? 1 : 2 * r)
                {
                    forEachInCell(cells, x, y, consider);
                }
            }
        }
    }
    // Far midpoints are out of range of anything well inside FAR_COORDINATE.
    if (canBind(at) && !(std::fabs(a.x) < FAR_COORDINATE - BIND_REACH &&
                         std::fabs(a.y) < FAR_COORDINATE - BIND_REACH))
    {
        for (uint32_t id = cells.farHead; id != NO_POINT; id = cells.points[id].next)
        {
            consider(id, cells.points[id].at);
        }
    }
    a.triangle = n.count == 1 ? static_cast<int>(n.edge / 3) : NO_EDGE;
    a.edge = n.count == 1 ? static_cast<int>(n.edge % 3) : NO_EDGE;
}

// Whether a midpoint that came or went may have been in range of `a`, and so change its
// binding. The box test keeps the rounding on its side: when minX - a.x rounds to BIND_REACH or
// more, every m.x - a.x with m.x >= minX does too, and its square exceeds the range.
bool mayChange(const Attachment& a, const Moved& moved)
{
    if (moved.minX - a.x >= BIND_REACH || moved.maxX - a.x <= -BIND_REACH ||
        moved.minY - a.y >= BIND_REACH || moved.maxY - a.y <= -BIND_REACH)
    {
        return false;
    }
    if (moved.count > MAX_MOVED_CHECKED)
    {
        return true;
    }
    for (int i = 0; i < moved.count; i++)
    {
        // The very arithmetic of the search: a midpoint at or beyond the range (or at a NaN
        // distance) never takes part in it.
        if (squaredDistance(moved.points[i], Vec2{a.x, a.y}) < ATTACH_RANGE_SQ)
        {
            return true;
        }
    }
    return false;
}

void list(Binding& b, uint32_t j)
{
    if (b.listedIn[j] != b.frame)
    {
        b.listedIn[j] = b.frame;
        b.searched.push_back(j);
    }
}

// Gives the attachments records up to `count`, within the room reserved.
void growAttachmentRecords(Binding& b, std::size_t count)
{
    assert(count <= b.attachments.points.capacity() && count <= b.listedIn.capacity());
    if (b.attachments.points.size() < count)
    {
        b.attachments.points.resize(count);
        b.listedIn.resize(count, 0);
    }
}

// Takes account of `t` in the widest triangle; a NaN corner leaves it as it was, as that
// triangle's midpoints lie on the far chain, which every box lists.
void widen(Binding& b, const Triangle& t)
{
    const Vec2* c = t.corners;
    const double width = std::max({c[0].x, c[1].x, c[2].x}) - std::min({c[0].x, c[1].x, c[2].x});
    const double height = std::max({c[0].y, c[1].y, c[2].y}) - std::min({c[0].y, c[1].y, c[2].y});
    b.widestTriangle = std::max({b.widestTriangle, width, height});
}

void placeTriangle(Binding& b, const Triangle& t, std::size_t i, Moved& moved)
{
    widen(b, t);
    for (int k = 0; k < 3; k++)
    {
        const uint32_t id = static_cast<uint32_t>(3 * i + static_cast<std::size_t>(k));
        PointCells::Point& p = b.midpoints.points[id];
        const Vec2 m = edgeMidpoint(t, k);
        // An edge whose midpoint kept every bit is the same entry as before.
        const bool filed = p.tag != PointCells::UNFILED;
        if (filed && std::memcmp(&p.at, &m, sizeof m) == 0)
        {
            continue;
        }
        if (filed)
        {
            moved.note(p.at);
        }
        moved.note(m);
        placePoint(b.midpoints, id, m);
    }
}

// Files the whole ship anew, with cells to suit it, in one pass over the records.
void fileAll(Binding& b, const std::vector<Triangle>& triangles,
             const std::vector<Attachment>& attachments)
{
    const double cellSize = chooseCellSize(triangles);
    resetPointCells(b.midpoints, cellSize);
    b.widestTriangle = 0.0;
    for (const Triangle& t : triangles)
    {
        widen(b, t);
        for (int k = 0; k < 3; k++)
        {
            appendPoint(b.midpoints, edgeMidpoint(t, k));
        }
    }
    // Attachments are looked up by boxes at least twice the binding reach wide, around moved
    // midpoints or the view: cells as wide as the reach keep those lookups to a few cells.
    resetPointCells(b.attachments, std::max(cellSize, BIND_REACH));
    b.listedIn.assign(attachments.size(), 0);
    for (const Attachment& a : attachments)
    {
        appendPoint(b.attachments, Vec2{a.x, a.y});
    }
}

// Lists the attachments whose binding the moved midpoints may change: through the cells
// around them while those are few, else by looking at every attachment.
void listNearMoved(Binding& b, const std::vector<Attachment>& attachments, const Moved& moved)
{
    const PointCells& cells = b.attachments;
    const double limit = FAR_COORDINATE - 2 * BIND_REACH;
    const bool inCells = std::fabs(moved.minX) < limit && std::fabs(moved.maxX) < limit &&
                         std::fabs(moved.minY) < limit && std::fabs(moved.maxY) < limit;
    if (inCells)
    {
        // One cell more on each side keeps the rounding of the box's edges inside.
        const uint32_t x0 = cellCoordinate(moved.minX - BIND_REACH, cells.inverseCellSize) - 1;
        const uint32_t x1 = cellCoordinate(moved.maxX + BIND_REACH, cells.inverseCellSize) + 1;
        const uint32_t y0 = cellCoordinate(moved.minY - BIND_REACH, cells.inverseCellSize) - 1;
        const uint32_t y1 = cellCoordinate(moved.maxY + BIND_REACH, cells.inverseCellSize) + 1;
        const std::size_t count = std::size_t{x1 - x0 + 1} * std::size_t{y1 - y0 + 1};
        if (count <= MAX_CELLS_QUERIED)
        {
            for (uint32_t y = y0; y <= y1; y++)
            {
                for (uint32_t x = x0; x <= x1; x++)
                {
                    forEachInCell(cells, x, y,
                                  [&](uint32_t j, Vec2)
                                  {
                                      if (mayChange(attachments[j], moved))
                                      {
                                          list(b, j);
                                      }
                                  });
                }
            }
            return;
        }
    }
    for (std::size_t j = 0; j < attachments.size(); j++)
    {
        if (mayChange(attachments[j], moved))
        {
            list(b, static_cast<uint32_t>(j));
        }
    }
}
} // namespace

void bindFrame(Ship& s)
{
    Binding& b = editorBinding;
    const ShipChanges& c = s.changes;
    assert(3 * s.triangles.size() <= b.midpoints.points.capacity() &&
           s.attachments.size() <= b.attachments.points.capacity());
    if (++b.frame == 0)
    {
        std::fill(b.listedIn.begin(), b.listedIn.end(), 0);
        b.frame = 1;
    }
    b.searched.clear();
    if (c.everything && b.adoptedAt == s.editStamp)
    {
        // A load has bound its ship already.
        for (std::size_t j = 0; j < s.attachments.size(); j++)
        {
            s.attachments[j].triangle = b.parked[j].first;
            s.attachments[j].edge = b.parked[j].second;
        }
        // Given back: giving memory back is no request for it.
        std::vector<std::pair<int32_t, int32_t>>().swap(b.parked);
    }
    else if (c.everything || c.from != b.caughtUp)
    {
        // Anything else that replaced the lists, or changed more than the record holds, is
        // filed anew.
        fileAll(b, s.triangles, s.attachments);
        for (std::size_t j = 0; j < s.attachments.size(); j++)
        {
            list(b, static_cast<uint32_t>(j));
        }
    }
    else
    {
        Moved moved;
        b.midpoints.points.resize(std::max(b.midpoints.points.size(), 3 * s.triangles.size()));
        for (int n = 0; n < c.triangleCount; n++)
        {
            placeTriangle(b, s.triangles[c.triangles[n]], c.triangles[n], moved);
        }
        growAttachmentRecords(b, s.attachments.size());
        for (int n = 0; n < c.attachmentCount; n++)
        {
            const uint32_t j = c.attachments[n];
            placePoint(b.attachments, j, Vec2{s.attachments[j].x, s.attachments[j].y});
            list(b, j);
        }
        if (moved.count > 0)
        {
            listNearMoved(b, s.attachments, moved);
        }
    }
    b.adoptedAt = ~uint64_t{0};
    b.caughtUp = s.editStamp;
    for (const uint32_t j : b.searched)
    {
        bindNearest(b.midpoints, s.attachments[j]);
    }
}

void reserveBinding(std::size_t triangles, std::size_t attachments)
{
    reserve(editorBinding, triangles, attachments);
}

void prepareBinding(const std::vector<Triangle>& triangles,
                    const std::vector<Attachment>& attachments)
{
    // Everything that may be refused is had before the editor's binding loses a record.
    std::vector<std::pair<uint64_t, uint32_t>> order(attachments.size());
    std::vector<std::pair<int32_t, int32_t>> parked(attachments.size());
    if (!fits(editorBinding, triangles.capacity(), attachments.capacity()))
    {
        Binding fresh;
        reserve(fresh, triangles.capacity(), attachments.capacity());
        editorBinding = std::move(fresh);
    }
    Binding& b = editorBinding;
    fileAll(b, triangles, attachments);
    // The searches go one tile of cells after another, so that neighbouring ones read the same
    // memory.
    for (std::size_t j = 0; j < attachments.size(); j++)
    {
        const Attachment& a = attachments[j];
        uint64_t key = ~uint64_t{0};
        if (canBind(Vec2{a.x, a.y}) && isNear(a.x, a.y))
        {
            key = (uint64_t{cellCoordinate(a.y, b.midpoints.inverseCellSize) >> TILE_SHIFT} << 32) |
                  (cellCoordinate(a.x, b.midpoints.inverseCellSize) >> TILE_SHIFT);
        }
        order[j] = {key, static_cast<uint32_t>(j)};
    }
    std::sort(order.begin(), order.end());
    for (const auto& entry : order)
    {
        Attachment a = attachments[entry.second];
        bindNearest(b.midpoints, a);
        parked[entry.second] = {a.triangle, a.edge};
    }
    b.parked = std::move(parked);
}

void adoptPreparedBinding(const Ship& s)
{
    editorBinding.adoptedAt = s.editStamp;
}

namespace
{
// Lists in `found`, in order and once each, `entry(id)` of every point of `cells` filed in a
// cell the box from `low` to `high` touches, and of every point on the far chain. False when
// the box spans too many cells or `found` has no room for them: a point shown again by a tag
// that agrees by chance could fill it.
template <typename Entry>
bool listInBox(const PointCells& cells, Vec2 low, Vec2 high, std::vector<uint32_t>& found,
               Entry entry)
{
    const double limit = FAR_COORDINATE - BIND_REACH;
    if (!(std::fabs(low.x) < limit && std::fabs(low.y) < limit && std::fabs(high.x) < limit &&
          std::fabs(high.y) < limit && low.x <= high.x && low.y <= high.y))
    {
        return false;
    }
    const uint32_t x0 = cellCoordinate(low.x, cells.inverseCellSize);
    const uint32_t x1 = cellCoordinate(high.x, cells.inverseCellSize);
    const uint32_t y0 = cellCoordinate(low.y, cells.inverseCellSize);
    const uint32_t y1 = cellCoordinate(high.y, cells.inverseCellSize);
    if (std::size_t{x1 - x0 + 1} * std::size_t{y1 - y0 + 1} > MAX_CELLS_SHOWN)
    {
        return false;
    }
    found.clear();
    const auto add = [&](uint32_t id)
    {
        if (found.size() < found.capacity())
        {
            found.push_back(entry(id));
        }
    };
    for (uint32_t y = y0; y <= y1; y++)
    {
        for (uint32_t x = x0; x <= x1; x++)
        {
            forEachInCell(cells, x, y, [&](uint32_t id, Vec2) { add(id); });
        }
    }
    for (uint32_t id = cells.farHead; id != NO_POINT; id = cells.points[id].next)
    {
        add(id);
    }
    if (found.size() == found.capacity())
    {
        return false;
    }
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return true;
}
} // namespace

const std::vector<uint32_t>* attachmentsInBox(const Ship& s, Vec2 low, Vec2 high)
{
    Binding& b = editorBinding;
    const bool current =
        b.caughtUp == s.editStamp && b.attachments.points.size() == s.attachments.size();
    return current && listInBox(b.attachments, low, high, b.searched, [](uint32_t j) { return j; })
               ? &b.searched
               : nullptr;
}

const std::vector<uint32_t>* trianglesInBox(const Ship& s, Vec2 low, Vec2 high)
{
    // A triangle that touches the box has its midpoints within its own width and height of
    // it, and no triangle is wider or higher than the widest.
    Binding& b = editorBinding;
    const double reach = b.widestTriangle;
    const bool current = b.caughtUp == s.editStamp &&
                         b.midpoints.points.size() == 3 * s.triangles.size() && reach < INFINITY;
    return current && listInBox(b.midpoints, Vec2{low.x - reach, low.y - reach},
                                Vec2{high.x + reach, high.y + reach}, b.shownTriangles,
                                [](uint32_t id) { return id / 3; })
               ? &b.shownTriangles
               : nullptr;
}
