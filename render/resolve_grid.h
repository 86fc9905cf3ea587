#pragma once

#include "render/resolve.h"

#include <cstdint>
#include <vector>

// Storage for binding a whole frame's attachments at once, kept between frames so that
// a steady ship allocates nothing.
struct BindingGrid
{
    struct Entry
    {
        double mx, my; // the edge's midpoint
        int32_t triangle;
        int32_t edge;
    };
    double minX = 0.0; // world position of cell (0, 0)'s lower-left corner
    double minY = 0.0;
    double cellSize = 0.0;        // world units
    double inverseCellSize = 0.0; // cells per world unit
    long reach = 0;               // rings of cells around a cell that the range can reach
    double slack = 0.0;           // world units the cell arithmetic may be off by, at most
    int columns = 0;
    int rows = 0;
    std::vector<uint32_t> cellStart; // per cell, index into `entries`; one extra at the end
    std::vector<Entry> entries;      // edge midpoints sorted by cell
    std::vector<Entry> midpoints;    // scratch: finite midpoints in triangle order
    std::vector<uint32_t> cellOf;    // scratch: the cell of each of `midpoints`
};

// Binds every attachment to its nearest untied edge midpoint within range, writing
// `triangle` and `edge` of each. Gives exactly what resolveAttachment gives for each
// attachment, but looks only at the midpoints in the grid cells around the attachment, so
// the cost grows with the ship, not with attachments times triangles.
void resolveAttachments(BindingGrid& grid, const std::vector<Triangle>& triangles,
                        std::vector<Attachment>& attachments);

// The frame's binding step: binds every attachment of `s` anew, keeping the grid's storage.
void bindAttachments(Ship& s);
