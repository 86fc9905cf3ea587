#include "platform/run_end.h"

#include <atomic>
#include <cstring>

// The temporary files a save or a recovery copy has open. A slot's path is written before it
// is marked in use and is read only while it is, so an end that comes at any moment (a signal
// handler, a console's handler thread) reads no half path and asks for no memory.
namespace
{
constexpr int HOLD_SLOTS = 4;
constexpr size_t HOLD_PATH_BYTES = 4096;
struct HeldFile
{
    std::atomic<bool> taken{false}; // the slot belongs to a save
    std::atomic<bool> inUse{false}; // its path names a file to remove
    char path[HOLD_PATH_BYTES];
};
HeldFile held[HOLD_SLOTS];
} // namespace

int holdForRemoval(const char* path)
{
    const size_t length = std::strlen(path);
    for (int slot = 0; slot < HOLD_SLOTS && length < HOLD_PATH_BYTES; ++slot)
    {
        bool free = false;
        if (held[slot].taken.compare_exchange_strong(free, true))
        {
            std::memcpy(held[slot].path, path, length + 1);
            held[slot].inUse.store(true);
            return slot;
        }
    }
    return -1;
}

void releaseRemoval(int slot)
{
    if (slot >= 0 && slot < HOLD_SLOTS)
    {
        held[slot].inUse.store(false);
        held[slot].taken.store(false);
    }
}

void removeHeldFiles()
{
    for (HeldFile& file : held)
    {
        if (file.inUse.load())
        {
            removeHeldFile(file.path);
        }
    }
}
