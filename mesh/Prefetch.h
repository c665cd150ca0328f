#pragma once

// Loops that reach records through a list of indices walk the record arrays in an order that the
// hardware cannot guess; on brush-sized sets larger than the caches, they ask for the records a
// few steps ahead. A prefetch changes no value, only when a line arrives.
inline void prefetch([[maybe_unused]] const void *address)
{
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(address);
#endif
}

// How many list entries ahead a record is asked for, and twice that for the record whose own
// fields name the records to ask for (a triangle's corners, a vertex's triangles).
constexpr int prefetchAhead = 8;
