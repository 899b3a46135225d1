#include "allocations.h"

#include <cstdlib>
#include <new>

// Every operator new of the test binary goes to malloc as before.
namespace {
thread_local bool t_counting = false;
thread_local long t_allocations = 0;

void* counted(size_t size) noexcept {
    t_allocations += t_counting;
    return malloc(size ? size : 1);
}

void* countedOrThrow(size_t size) {
    if (void* p = counted(size)) return p;
    throw std::bad_alloc();
}
}  // namespace

void beginCountingAllocations() {
    t_allocations = 0;
    t_counting = true;
}

long endCountingAllocations() {
    t_counting = false;
    return t_allocations;
}

void* operator new(size_t size) { return countedOrThrow(size); }
void* operator new[](size_t size) { return countedOrThrow(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return counted(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return counted(size); }
void operator delete(void* p) noexcept { free(p); }
void operator delete[](void* p) noexcept { free(p); }
void operator delete(void* p, size_t) noexcept { free(p); }
void operator delete[](void* p, size_t) noexcept { free(p); }
