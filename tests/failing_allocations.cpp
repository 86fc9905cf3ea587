#include "tests/failing_allocations.h"

#include <cstdlib>
#include <new>

std::atomic<long> allocationsLeft{-1};

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
    void* memory = std::malloc(size == 0 ? 1 : size);
    if (memory == nullptr)
    {
        throw std::bad_alloc();
    }
    return memory;
}

void operator delete(void* memory) noexcept
{
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept
{
    std::free(memory);
}
