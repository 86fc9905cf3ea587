#include "tests/failing_allocations.h"

#include <cstddef>
#include <cstdlib>
#include <new>

std::atomic<long> allocationsLeft{-1};
std::atomic<long long> bytesInUse{0};

namespace
{
// Each block carries its size in front, kept to the alignment that new gives.
constexpr std::size_t HEADER = alignof(std::max_align_t);
} // namespace

void* operator new(std::size_t size)
{
    if (allocationsLeft == 0)
    {
        throw std::bad_alloc();
    }
    if (allocationsLeft > 0)
    {
        allocationsLeft--;
    }
    char* block = static_cast<char*>(std::malloc(size + HEADER));
    if (block == nullptr)
    {
        throw std::bad_alloc();
    }
    *reinterpret_cast<std::size_t*>(block) = size;
    bytesInUse += static_cast<long long>(size);
    return block + HEADER;
}

void operator delete(void* memory) noexcept
{
    if (memory == nullptr)
    {
        return;
    }
    char* block = static_cast<char*>(memory) - HEADER;
    bytesInUse -= static_cast<long long>(*reinterpret_cast<std::size_t*>(block));
    std::free(block);
}

void operator delete(void* memory, std::size_t) noexcept
{
    operator delete(memory);
}

// Libraries that ask without exceptions (the renderer's compiler does) get the same blocks,
// since they give them back through the operator delete above.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    try
    {
        return operator new(size);
    }
    catch (const std::bad_alloc&)
    {
        return nullptr;
    }
}

void operator delete(void* memory, const std::nothrow_t&) noexcept
{
    operator delete(memory);
}
