#include "bind/block_table.h"

#include <algorithm>
#include <new>

namespace
{
using Block = MidpointGrid::Block;
using Slot = MidpointGrid::Slot;
constexpr uint32_t NO_ENTRY = MidpointGrid::NO_ENTRY;

void placeBlock(std::vector<Slot>& table, uint64_t key, uint32_t block)
{
    const std::size_t mask = table.size() - 1;
    std::size_t i = slotOf(key, mask);
    while (table[i].block != NO_ENTRY)
    {
        i = (i + 1) & mask;
    }
    table[i] = Slot{key, block};
}

// Moves the blocks to a table of `size` slots, a power of two. Throws std::bad_alloc,
// leaving the table as it was.
void resizeTable(MidpointGrid& g, std::size_t size)
{
    std::vector<Slot> table(size);
    for (const Slot& slot : g.table)
    {
        if (slot.block != NO_ENTRY)
        {
            placeBlock(table, slot.key, slot.block);
        }
    }
    g.table.swap(table);
}

// The table is kept at most half full, so that probes stay short.
constexpr std::size_t MIN_TABLE_SIZE = 16;

std::size_t tableSizeFor(std::size_t blocks)
{
    std::size_t size = MIN_TABLE_SIZE;
    while (size < 2 * blocks + 1)
    {
        size *= 2;
    }
    return size;
}

Block emptyBlock()
{
    Block empty;
    std::fill(std::begin(empty.head), std::end(empty.head), NO_ENTRY);
    return empty;
}
} // namespace

uint32_t addBlock(MidpointGrid& g, uint64_t key, bool mayThrow)
{
    const std::size_t count = g.blocks.size() + 1;
    if (2 * count >= g.table.size())
    {
        try
        {
            resizeTable(g, tableSizeFor(count));
        }
        catch (const std::bad_alloc&)
        {
            // A fuller table still finds every block, as long as one slot stays free.
            if (mayThrow || count + 1 > g.table.size())
            {
                if (mayThrow)
                {
                    throw;
                }
                g.refused = true;
                return NO_ENTRY;
            }
        }
    }
    if (mayThrow)
    {
        g.blocks.push_back(emptyBlock());
    }
    else if (roomForOne(g.blocks))
    {
        g.blocks.push_back(emptyBlock());
    }
    else
    {
        g.refused = true;
        return NO_ENTRY;
    }
    const uint32_t index = static_cast<uint32_t>(g.blocks.size() - 1);
    placeBlock(g.table, key, index);
    return index;
}

void reserveBlocks(MidpointGrid& g, std::size_t more)
{
    g.blocks.reserve(g.blocks.size() + more);
    const std::size_t size = tableSizeFor(g.blocks.size() + more);
    if (size > g.table.size())
    {
        resizeTable(g, size);
    }
}
