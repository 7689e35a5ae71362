// Nothrow allocations (new (std::nothrow)) fail on request, so that code allocating that
// way can be driven into its out-of-memory paths; every other allocation is unchanged.
// Linked as a source of the test programs that use it: it replaces the nothrow forms of
// the global operator new.
#pragma once

// The nothrow allocation after the next `allocations` ones fails, once; -1: none fails.
// Not thread-safe: for single-threaded tests.
void FailNothrowAllocationAfter(int allocations);
