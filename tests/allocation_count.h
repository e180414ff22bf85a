// Counts the program's C++ allocations: allocation_count.cpp replaces the
// global operator new (in a unit of its own, so that the compiler never
// sees the replacement's malloc and free inlined into its callers).
#ifndef TESTS_ALLOCATION_COUNT_H
#define TESTS_ALLOCATION_COUNT_H

// Calls of operator new and new[], in every non-aligned form, since the
// program started.
long AllocationCount();

#endif
