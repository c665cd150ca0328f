#pragma once

#include <cstddef>

// Loops over fewer elements than this run in the calling thread (forEachIndex below): on the
// brush-sized sets of one sculpting step, even a large brush's tens of thousands of records,
// waking the other threads and moving the records' cache lines between cores (the previous
// passes wrote them on this one) costs more than the loop itself. Only element-wise loops (each
// iteration writes its own element) go either way, so their results do not depend on it.
constexpr int parallelMinimum = 100000;

// A step that updates at least this many triangles moves them in the octree on a second thread
// while the calling thread computes the vertex normals (Mesh::finishPieces). Below it, waking the
// second thread and moving the records' cache lines to it cost about what the overlap saves.
constexpr int octreeBesideNormalsMinimum = 16384;

// A sphere pick over at least this many triangles, for a step that deforms its pieces as they
// come, hands the triangle pass of each piece to a second thread while it goes on
// (Picking::pickVerticesInSphere).
constexpr std::size_t trianglesBesideMinimum = 16384;

// body(k) for k = 0 .. count - 1: spread over the threads when `spread` is set, and otherwise a
// plain loop that does not enter an OpenMP region at all (a region costs about a microsecond
// even when its `if` clause leaves it to one thread, which adds up over the many short lists of
// a step). Only for element-wise bodies, as above.
template<typename Body>
void forEachIndex(int count, bool spread, const Body &body)
{
    if (spread) {
#pragma omp parallel for schedule(static)
        for (int k = 0; k < count; ++k)
            body(k);
        return;
    }
    for (int k = 0; k < count; ++k)
        body(k);
}

// The same, spread beyond parallelMinimum elements.
template<typename Body>
void forEachIndex(int count, const Body &body)
{
    forEachIndex(count, count > parallelMinimum, body);
}
