#pragma once

// Inside bind/: the search of the grid for each attachment's nearest midpoint.

#include "bind/midpoint_grid.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Triangles of the ship that the grid does not hold: those from `from` on.
struct UnfiledTriangles
{
    const std::vector<Triangle>* triangles = nullptr;
    std::size_t from = 0;
};

// Binds each attachment listed in `which` (whose order it may change) as bindOneByOne would,
// looking only at the midpoints in the cells around it, the loose chain, and `unfiled`.
void bindListed(const MidpointGrid& grid, std::vector<Attachment>& attachments,
                std::vector<uint32_t>& which, UnfiledTriangles unfiled = {});
