#include "tests/support/failing_allocation.h"

#include <cstddef>
#include <new>

namespace {

int g_allocationsBeforeFailure = -1;

bool NothrowAllocationFails() {
    if (g_allocationsBeforeFailure < 0)
        return false;
    return g_allocationsBeforeFailure-- == 0;
}

} // namespace

void FailNothrowAllocationAfter(int allocations) {
    g_allocationsBeforeFailure = allocations;
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
