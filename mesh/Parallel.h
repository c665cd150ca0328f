#pragma once

#include <chrono>
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
// come, shares its box tests and triangle passes with a second thread
// (Picking::pickVerticesInSphere).
constexpr std::size_t trianglesBesideMinimum = 16384;

// Whether a step may share its passes with a second thread. Such a region ends when both
// threads are done: when another program keeps the second core busy, the second thread starts
// only after the system's time slice, which costs more than the whole step. A region that finds
// it late makes the next steps work alone for a while, after which they try again.
class SecondThread
{
public:
    // Between the two calls, the region: the second thread calls started() first thing.
    static bool available()
    {
        if (skips > 0) {
            --skips;
            return false;
        }
        opened = std::chrono::steady_clock::now();
        return true;
    }
    static void started() { start = std::chrono::steady_clock::now(); }
    static void closed()
    {
        if (start - opened > lateStart)
            skips = stepsAlone;
    }

    static constexpr std::chrono::microseconds lateStart {250};
    static constexpr int stepsAlone = 64;

private:
    static inline std::chrono::steady_clock::time_point opened;
    static inline std::chrono::steady_clock::time_point start;
    static inline int skips = 0;
};

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
