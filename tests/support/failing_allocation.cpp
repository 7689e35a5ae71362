#include "tests/support/failing_allocation.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

int g_allocationsBeforeFailure = -1;
std::atomic<bool> g_failNextAllocation{false};

bool NothrowAllocationFails() {
    if (g_allocationsBeforeFailure < 0)
        return false;
    return g_allocationsBeforeFailure-- == 0;
}

} // namespace

void FailNothrowAllocationAfter(int allocations) {
    g_allocationsBeforeFailure = allocations;
}

void FailNextAllocation() {
    g_failNextAllocation = true;
}

void* operator new(std::size_t size) {
    if (g_failNextAllocation.exchange(false))
        throw std::bad_alloc();
    if (void* block = std::malloc(size != 0 ? size : 1))
        return block;
    throw std::bad_alloc();
}

void operator delete(void* block) noexcept {
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (NothrowAllocationFails())
        return nullptr;
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    if (NothrowAllocationFails())
        return nullptr;
    try {
        return ::operator new[](size);
    } catch (...) {
        return nullptr;
    }
}
