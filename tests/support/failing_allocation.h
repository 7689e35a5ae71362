// Allocations fail on request, so that code can be driven into its out-of-memory paths.
// Linked as a source of the test programs that use it: it replaces the global operator
// new and delete, over malloc and free.
#pragma once

// The nothrow allocation after the next `allocations` ones fails, once; -1: none fails.
// Not thread-safe: for single-threaded tests.
void FailNothrowAllocationAfter(int allocations);

// The next throwing allocation (plain new) throws std::bad_alloc, once. Thread-safe.
void FailNextAllocation();
