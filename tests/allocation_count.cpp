// Every replaceable, non-aligned form of operator new and delete, all on
// malloc and free, so that allocations and releases match whichever form
// the code (or a sanitizer's runtime) pairs them with.
#include "allocation_count.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long> allocations{0};

void* Allocate(std::size_t size) noexcept
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size == 0 ? 1 : size);
}

void* AllocateOrThrow(std::size_t size)
{
    if (void* p = Allocate(size)) {
        return p;
    }
    throw std::bad_alloc();
}

}  // namespace

long AllocationCount()
{
    return allocations.load();
}

void* operator new(std::size_t size)
{
    return AllocateOrThrow(size);
}

void* operator new[](std::size_t size)
{
    return AllocateOrThrow(size);
}

void* operator new(std::size_t size, const std::nothrow_t& /*tag*/) noexcept
{
    return Allocate(size);
}

void* operator new[](std::size_t size, const std::nothrow_t& /*tag*/) noexcept
{
    return Allocate(size);
}

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete[](void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t /*size*/) noexcept
{
    std::free(p);
}

void operator delete[](void* p, std::size_t /*size*/) noexcept
{
    std::free(p);
}

void operator delete(void* p, const std::nothrow_t& /*tag*/) noexcept
{
    std::free(p);
}

void operator delete[](void* p, const std::nothrow_t& /*tag*/) noexcept
{
    std::free(p);
}
