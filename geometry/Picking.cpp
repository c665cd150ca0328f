#include "Picking.h"

#include "geometry/LengthFour.h"
#include "mesh/Mesh.h"
#include "mesh/Parallel.h"
#include "mesh/Prefetch.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <limits>

#include <omp.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// The squared distance from point c to the box, as the sum gx * gx + gy * gy + gz * gz of the
// distances along each axis from c to [min, max], each the larger of min - c, c - max and 0 (at
// most one of the two differences is positive). `c4` holds c's coordinates in its first three
// lanes. With SSE the three axes are done at once, with the same operations for each.
inline float boxGapSquared(
    const Aabb &box, [[maybe_unused]] const QVector3D &c, [[maybe_unused]] const float *c4)
{
#if defined(__SSE2__)
    const __m128 centre = _mm_loadu_ps(c4);
    __m128 low;
    __m128 max;
    Geometry::boxLanes(box, low, max);
    const __m128 gap =
        _mm_max_ps(_mm_max_ps(_mm_sub_ps(low, centre), _mm_sub_ps(centre, max)), _mm_setzero_ps());
    alignas(16) float g[4];
    _mm_store_ps(g, gap);
    return g[0] * g[0] + g[1] * g[1] + g[2] * g[2];
#else
    auto gap = [](float centre, float low, float high) {
        return std::max(std::max(low - centre, centre - high), 0.0f);
    };
    const float gx = gap(c.x(), box.min.x(), box.max.x());
    const float gy = gap(c.y(), box.min.y(), box.max.y());
    const float gz = gap(c.z(), box.min.z(), box.max.z());
    return gx * gx + gy * gy + gz * gz;
#endif
}

// A short wait in a loop that waits for another thread.
inline void waitBriefly()
{
#if defined(__SSE2__)
    _mm_pause();
#endif
}

} // namespace

bool Picking::intersectRay(Mesh *m, const QVector3D &nearPoint, const QVector3D &farPoint)
{
    mesh = nullptr;
    pickedTriangle = -1;
    if (!m || !m->getOctree()) {
        radiusWorldSquared = 0.0f;
        return false;
    }

    // Leaves nearest first: once a crossing is known, a leaf that the ray enters beyond it holds
    // no nearer one (its loose box holds its triangles whole), so the search stops there. The
    // entries are early by the box test's rounding allowance, which grows with the coordinates
    // as the rounding of the crossing's distance does, and the relative margin covers the
    // rest: the result is the nearest crossing over every candidate, ties going to the lowest
    // triangle index, in any units.
    const QVector3D direction = Geometry::unitVector(farPoint - nearPoint);
    const std::vector<Octree::RayLeaf> leaves =
        m->getOctree()->intersectRayLeaves(nearPoint, direction);
    const std::vector<Triangle> &triangles = m->getTriangles();
    const std::vector<Vertex> &vertices = m->getVertices();

    float best = std::numeric_limits<float>::max();
    int bestTriangle = -1;
    QVector3D bestPoint = intersectionPoint;
    // A crossing lies on the line, and in the triangle's plane within a few float steps of the
    // triangle (the edge allowance): a triangle whose box is farther from the line than its
    // half-diagonal by a margin ten times those steps is not crossed, and its corners are not
    // read. The half-diagonal is bounded by the sum of the half-extents; a NaN never skips.
    auto magnitude = [](const QVector3D &v) {
        return std::abs(v.x()) + std::abs(v.y()) + std::abs(v.z());
    };
    const float margin = 1e-5f * (magnitude(nearPoint) + magnitude(farPoint - nearPoint));
    for (const Octree::RayLeaf &hit : leaves) {
        if (bestTriangle >= 0) {
            const float reach = std::sqrt(best);
            if (hit.entry > reach * 1.001f)
                break;
        }
        for (int t : hit.leaf->triangleIndices) {
            const Triangle &tri = triangles[t];
            const QVector3D middle = tri.aabb.computeCenter();
            const QVector3D w = middle - nearPoint;
            const QVector3D off = w - direction * QVector3D::dotProduct(w, direction);
            const float reach = magnitude((tri.aabb.max - tri.aabb.min) * 0.5f) + margin
                + 1e-5f * magnitude(middle);
            if (off.lengthSquared() > reach * reach)
                continue;
            QVector3D crossing;
            if (!Geometry::intersectionSegmentTriangle(nearPoint, farPoint,
                    vertices[tri.vertex1].position, vertices[tri.vertex2].position,
                    vertices[tri.vertex3].position, tri.normal, crossing))
                continue;
            const float e = (nearPoint - crossing).lengthSquared();
            // Equal distances (a segment through a shared edge) go to the lower triangle index.
            if (e < best || (e == best && t < bestTriangle)) {
                best = e;
                bestPoint = crossing;
                bestTriangle = t;
            }
        }
    }

    if (bestTriangle < 0) {
        radiusWorldSquared = 0.0f;
        return false;
    }
    intersectionPoint = bestPoint;
    pickedTriangle = bestTriangle;
    mesh = m;
    return true;
}

void Picking::intersectionRayMesh(Mesh *m, const QVector3D &nearPoint, const QVector3D &farPoint,
    const QPointF &mouse, const Geometry::ScreenTransform &screen, double width, double height)
{
    if (intersectRay(m, nearPoint, farPoint))
        computeRadiusWorld(mouse, screen, width, height);
}

void Picking::pickAtPoint(Mesh *m, const QVector3D &point, const QPointF &mouse,
    const Geometry::ScreenTransform &screen, double width, double height)
{
    mesh = m;
    intersectionPoint = point;
    computeRadiusWorld(mouse, screen, width, height);
}

void Picking::computeRadiusWorld(
    const QPointF &mouse, const Geometry::ScreenTransform &screen, double width, double height)
{
    if (!mesh) {
        radiusWorldSquared = 0.0f;
        return;
    }
    const QVector3D world = mesh->getTransformation().map(intersectionPoint);
    double depth = 0.0;
    Geometry::worldToScreen(world, screen, width, height, depth);
    const QVector3D side = Geometry::screenToWorld(
        QPointF(mouse.x() + radiusScreen, mouse.y()), screen, width, height, float(depth));
    radiusWorldSquared = (world - side).lengthSquared();
}

void Picking::pickVerticesInSphere(float radiusSquared, Pieces *pieces)
{
    pickedVertices.clear();
    pickedTriangles.clear();
    pickedCorners.clear();
    if (!mesh || !mesh->getOctree())
        return;

    std::vector<Octree *> &leaves = mesh->getLeavesUpdate();
    const std::size_t firstLeaf = leaves.size();
    mesh->getOctree()->intersectSphereLeaves(intersectionPoint, radiusSquared, leaves);

    // The corners of the leaves' triangles, each once in order of first appearance (as
    // Mesh::getVerticesFromTriangles lists them), tested against the sphere as they come. A
    // triangle whose box is out of the sphere has no corner inside: its corners are not read.
    // The box's distance comes from coordinate differences never larger than a corner's, and a
    // relative margin covers any difference in the rounding of the two sums. A tested vertex
    // gets the stamp `visit`, and `listed` once it is among the gathered corners; a triangle
    // with a corner inside is gathered as soon as its three corners are tested.
    const int visit = ++Vertex::visitCounter;
    const int listed = ++Vertex::visitCounter;
    const int counter = ++Vertex::brushCounter;
    std::vector<Vertex> &vertices = mesh->getVertices();
    const std::vector<Triangle> &records = mesh->getTriangles();
    const QVector3D c = intersectionPoint;
    const float c4[4] = {c.x(), c.y(), c.z(), 0.0f};
    const float reach = radiusSquared * 1.0001f;
    // Whether vertex i is inside.
    auto test = [&](int i) {
        Vertex &v = vertices[i];
        if (v.visitStamp == visit || v.visitStamp == listed)
            return v.brushStamp == counter;
        v.visitStamp = visit;
        if ((v.position - c).lengthSquared() < radiusSquared) {
            v.brushStamp = counter;
            pickedVertices.push_back(i);
            return true;
        }
        return false;
    };
    auto gather = [&](int i) {
        Vertex &v = vertices[i];
        if (v.visitStamp == listed)
            return;
        v.visitStamp = listed;
        pickedCorners.push_back(i);
    };
    // The leaves' triangles go by blocks, in order: first those of the block whose box meets
    // the sphere are listed, without a branch on the outcome (which varies from one triangle to
    // the next); then their corners are tested, in order, while the corners of a triangle a few
    // places ahead are fetched.
    constexpr int block = 256;
    std::vector<Block> &blocks = blockWork;
    blocks.clear();
    std::size_t boxed = 0;
    for (std::size_t k = firstLeaf; k < leaves.size(); ++k) {
        const std::vector<int> &list = leaves[k]->triangleIndices;
        const int count = static_cast<int>(list.size());
        for (int first = 0; first < count; first += block) {
            blocks.push_back({list.data() + first, std::min(block, count - first), boxed});
            boxed += static_cast<std::size_t>(blocks.back().count);
        }
    }
    // Lists the triangles of `b` whose box meets the sphere into `near`; returns how many.
    auto boxTest = [&](const Block &b, int *near) {
        int nbNear = 0;
        for (int j = 0; j < b.count; ++j) {
            if (j + 2 * prefetchAhead < b.count)
                prefetch(&records[b.entries[j + 2 * prefetchAhead]].aabb);
            const int t = b.entries[j];
            near[nbNear] = t;
            // A NaN distance keeps the triangle, whose corners the tests then judge.
            nbNear += boxGapSquared(records[t].aabb, c, c4) >= reach ? 0 : 1;
        }
        return nbNear;
    };
    // Tests the corners of the `nbNear` triangles listed in `near` (fetching the triangles ahead
    // too when this thread did not just read them), gathers, and hands the new piece to
    // `pieces`; returns true when there was one.
    auto testCorners = [&](const int *near, int nbNear, bool fetchTriangles) {
        const std::size_t firstTriangle = pickedTriangles.size();
        const std::size_t firstInside = pickedVertices.size();
        const std::size_t firstCorner = pickedCorners.size();
        for (int j = 0; j < nbNear; ++j) {
            if (fetchTriangles && j + 2 * prefetchAhead < nbNear)
                prefetch(&records[near[j + 2 * prefetchAhead]]);
            if (j + prefetchAhead < nbNear) {
                const Triangle &ahead = records[near[j + prefetchAhead]];
                prefetch(&vertices[ahead.vertex1]);
                prefetch(&vertices[ahead.vertex2]);
                prefetch(&vertices[ahead.vertex3]);
            }
            const int t = near[j];
            const Triangle &tri = records[t];
            // Every corner is tested, in order.
            const bool in1 = test(tri.vertex1);
            const bool in2 = test(tri.vertex2);
            const bool in3 = test(tri.vertex3);
            if (!(in1 || in2 || in3))
                continue;
            pickedTriangles.push_back(t);
            gather(tri.vertex1);
            gather(tri.vertex2);
            gather(tri.vertex3);
        }
        if (pieces && pickedTriangles.size() > firstTriangle) {
            auto count = [](std::size_t from, std::size_t to) {
                return static_cast<int>(to - from);
            };
            pieces->piece(pickedTriangles.data() + firstTriangle,
                count(firstTriangle, pickedTriangles.size()), pickedVertices.data() + firstInside,
                count(firstInside, pickedVertices.size()), pickedCorners.data() + firstCorner,
                count(firstCorner, pickedCorners.size()));
            return true;
        }
        return false;
    };
    // Block after block on this thread: a block's records are still in the nearest cache for
    // its corner tests, and a piece's triangles for their update.
    auto oneThread = [&] {
        int near[block];
        for (const Block &b : blocks) {
            const std::size_t firstTriangle = pickedTriangles.size();
            if (testCorners(near, boxTest(b, near), false))
                pieces->trianglesOfPiece(pickedTriangles.data() + firstTriangle,
                    static_cast<int>(pickedTriangles.size() - firstTriangle), false);
        }
    };
    if (!pieces || boxed < trianglesBesideMinimum || omp_get_max_threads() < 2 || omp_in_parallel()
        || !SecondThread::available()) {
        oneThread();
    } else {
        // A large pick that deforms its pieces as they come shares its work with a second
        // thread, which runs ahead of this one through the box tests (publishing each block's
        // list) and behind it through the triangles of the pieces handed over (their boxes,
        // normals and octree flags). The box tests read no field that a piece writes, since
        // no triangle comes twice; the triangles handed over are no longer read here, and no
        // later piece moves their corners. The lists are made as one thread makes them. The
        // list of gathered triangles is given room for every boxed triangle first, so that it
        // never moves while the second thread reads it.
        pickedTriangles.reserve(boxed);
        const int *gathered = pickedTriangles.data();
        nearWork.resize(boxed);
        nearCounts.assign(blocks.size(), 0);
        const int nbBlocks = static_cast<int>(blocks.size());
        // Each block's box tests are made by the thread that claims them first (so that this
        // thread never waits for a second one that the system left aside): 0 unclaimed,
        // 1 claimed, 2 listed.
        if (blockStateCapacity < blocks.size()) {
            blockStates = std::make_unique<std::atomic<int>[]>(blocks.size());
            blockStateCapacity = blocks.size();
        }
        for (int b = 0; b < nbBlocks; ++b)
            blockStates[b].store(0, std::memory_order_relaxed);
        auto claim = [&](int b) {
            int unclaimed = 0;
            return blockStates[b].compare_exchange_strong(unclaimed, 1, std::memory_order_acq_rel);
        };
        auto list = [&](int b) {
            nearCounts[b] = boxTest(blocks[b], nearWork.data() + blocks[b].total);
            blockStates[b].store(2, std::memory_order_release);
        };
        std::atomic<std::size_t> handedOver {0};
        std::atomic<bool> finished {false};
        auto corners = [&] {
            for (int b = 0; b < nbBlocks; ++b) {
                // Listed here, its records are at hand.
                const bool here = claim(b);
                if (here)
                    list(b);
                while (blockStates[b].load(std::memory_order_acquire) != 2)
                    waitBriefly();
                if (testCorners(nearWork.data() + blocks[b].total, nearCounts[b], !here))
                    handedOver.store(pickedTriangles.size(), std::memory_order_release);
            }
        };
        auto boxesAndTriangles = [&] {
            int next = 0;
            auto testAhead = [&](int n) {
                for (; n > 0 && next < nbBlocks; ++next) {
                    if (claim(next)) {
                        list(next);
                        --n;
                    }
                }
            };
            testAhead(4);
            std::size_t done = 0;
            for (;;) {
                const bool last = finished.load(std::memory_order_acquire);
                const std::size_t end = handedOver.load(std::memory_order_acquire);
                if (end > done) {
                    pieces->trianglesOfPiece(gathered + done, static_cast<int>(end - done), true);
                    done = end;
                    testAhead(2);
                } else if (next < nbBlocks) {
                    testAhead(1);
                } else if (last) {
                    return;
                } else {
                    waitBriefly();
                }
            }
        };
        std::exception_ptr failures[2];
#pragma omp parallel num_threads(2)
        {
            const int thread = omp_get_thread_num();
            if (thread == 1)
                SecondThread::started();
            try {
                if (omp_get_num_threads() == 1)
                    oneThread();
                else if (thread == 0)
                    corners();
                else
                    boxesAndTriangles();
            } catch (...) {
                failures[thread] = std::current_exception();
            }
            if (thread == 0)
                finished.store(true, std::memory_order_release);
        }
        SecondThread::closed();
        for (const std::exception_ptr &failure : failures)
            if (failure)
                std::rethrow_exception(failure);
    }

    if (pickedVertices.empty() && pickedTriangle >= 0 && pickedTriangle < mesh->getNbTriangles()) {
        const Triangle &t = mesh->getTriangle(pickedTriangle);
        pickedVertices.push_back(t.vertex1);
        pickedVertices.push_back(t.vertex2);
        pickedVertices.push_back(t.vertex3);
    }
}
