#include "Mesh.h"

#include "Parallel.h"
#include "Prefetch.h"
#include "geometry/Geometry.h"
#include "geometry/LengthFour.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <exception>
#include <limits>

#include <omp.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Four vectors made unit at once, given by their coordinates (x, y, z, each of four lanes): as
// Geometry::unitVector does (`normalized` false) or as QVector3D::normalized does (true), with
// the same operations in the same order, so that every lane gets the same bits as one vector
// alone would: the length as std::hypot of three floats computes it (scaled by the largest
// magnitude), then the division of each coordinate by it.
#if defined(__SSE2__)
// The coordinates come and go in registers: gathered lane by lane into memory and then read as
// a whole, they would wait for each lane's store to reach the cache first.
inline void unitFour(__m128 &x, __m128 &y, __m128 &z, bool normalized)
{
    const __m128 vx = x;
    const __m128 vy = y;
    const __m128 vz = z;
    const __m128 sign = _mm_set1_ps(-0.0f);
    const __m128 length = Geometry::lengthFour(vx, vy, vz);
    const __m128 zero = _mm_setzero_ps();
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 fuzz = _mm_set1_ps(0.00001f);
    const __m128 unitAlready = _mm_cmple_ps(_mm_andnot_ps(sign, _mm_sub_ps(length, one)), fuzz);
    // Lanes whose result is the zero vector.
    const __m128 null = normalized
        ? _mm_andnot_ps(unitAlready, _mm_cmple_ps(_mm_andnot_ps(sign, length), fuzz))
        : _mm_andnot_ps(_mm_and_ps(_mm_cmpgt_ps(length, zero),
                            _mm_cmple_ps(length, _mm_set1_ps(std::numeric_limits<float>::max()))),
            _mm_castsi128_ps(_mm_set1_epi32(-1)));
    auto finish = [&](__m128 v) {
        return _mm_andnot_ps(null, Geometry::selectFour(unitAlready, v, _mm_div_ps(v, length)));
    };
    x = finish(vx);
    y = finish(vy);
    z = finish(vz);
}
#else
void unitFour(float *x, float *y, float *z, bool normalized)
{
    for (int lane = 0; lane < 4; ++lane) {
        const QVector3D v(x[lane], y[lane], z[lane]);
        const QVector3D u = normalized ? v.normalized() : Geometry::unitVector(v);
        x[lane] = u.x();
        y[lane] = u.y();
        z[lane] = u.z();
    }
}
#endif

#if defined(__SSE2__)
// A vector as four lanes, the last one zero.
inline __m128 lanesOf(const QVector3D &v)
{
    return _mm_setr_ps(v.x(), v.y(), v.z(), 0.0f);
}
inline __m128 lanesOf(__m128 v)
{
    return v;
}

// A vector of a record as four lanes, the last one zero: one load of 16 bytes, the vector's and
// the next field's (a stamp, which the mask clears). Only for the fields checked below.
inline __m128 recordLanes(const QVector3D &v)
{
    const __m128 keep = _mm_castsi128_ps(_mm_setr_epi32(-1, -1, -1, 0));
    return _mm_and_ps(_mm_loadu_ps(reinterpret_cast<const float *>(&v)), keep);
}
static_assert(sizeof(QVector3D) == 3 * sizeof(float));
static_assert(offsetof(Vertex, visitStamp) == offsetof(Vertex, position) + sizeof(QVector3D));
static_assert(offsetof(Triangle, visitStamp) == offsetof(Triangle, normal) + sizeof(QVector3D));

// Whether a triangle with the box low .. high stays where it is in the leaf: the box's centre
// (as Aabb::computeCenter gives it) in the leaf's cell (Aabb::containsPoint) and the box within
// the leaf's loose box (Aabb::contains), every comparison made at once.
inline bool staysInLeaf(const Octree &leaf, __m128 low, __m128 high)
{
    const __m128 centre = _mm_mul_ps(_mm_add_ps(low, high), _mm_set1_ps(0.5f));
    __m128 cellMin;
    __m128 cellMax;
    __m128 looseMin;
    __m128 looseMax;
    Geometry::boxLanes(leaf.aabbSplit, cellMin, cellMax);
    Geometry::boxLanes(leaf.aabbLoose, looseMin, looseMax);
    const __m128 inside =
        _mm_and_ps(_mm_and_ps(_mm_cmplt_ps(cellMin, centre), _mm_cmple_ps(centre, cellMax)),
            _mm_and_ps(_mm_cmple_ps(looseMin, low), _mm_cmple_ps(high, looseMax)));
    return (_mm_movemask_ps(inside) & 7) == 7;
}

// x, y and z lanes of v stored into a QVector3D.
inline void storeLanes(QVector3D &target, __m128 v)
{
    auto *f = reinterpret_cast<float *>(&target);
    _mm_storel_pi(reinterpret_cast<__m64 *>(f), v);
    _mm_store_ss(f + 2, _mm_movehl_ps(v, v));
}
#endif

// For every index 0 .. count - 1, the vector vectorOf(i) made unit (as unitFour does) and given
// to store(i, unit); vectorOf and store are called from several threads at once, each index by
// one thread. The indices go by blocks: first every vector of the block is computed into a
// local array, then they are made unit four at a time and stored. Each of the two loops is
// short enough for the processor to overlap many of its iterations (the divisions and square
// roots of one group of four wait on long chains otherwise).
template<typename VectorOf, typename Store>
void unitInFours(int count, bool normalized, const VectorOf &vectorOf, const Store &store)
{
    constexpr int block = 64;
    const int blocks = (count + block - 1) / block;
    forEachIndex(blocks, count > parallelMinimum, [&](int b) {
        const int first = b * block;
        const int size = std::min(block, count - first);
        const int padded = (size + 3) & ~3;
#if defined(__SSE2__)
        __m128 rows[block];
        for (int j = 0; j < size; ++j)
            rows[j] = lanesOf(vectorOf(first + j));
        // The unused lanes of the last group hold zero vectors.
        for (int j = size; j < padded; ++j)
            rows[j] = _mm_setzero_ps();
        for (int j = 0; j < size; j += 4) {
            __m128 x = rows[j];
            __m128 y = rows[j + 1];
            __m128 z = rows[j + 2];
            __m128 w = rows[j + 3];
            _MM_TRANSPOSE4_PS(x, y, z, w);
            unitFour(x, y, z, normalized);
            alignas(16) float ux[4];
            alignas(16) float uy[4];
            alignas(16) float uz[4];
            _mm_store_ps(ux, x);
            _mm_store_ps(uy, y);
            _mm_store_ps(uz, z);
#else
        float x[block + 3];
        float y[block + 3];
        float z[block + 3];
        for (int j = 0; j < size; ++j) {
            const QVector3D v = vectorOf(first + j);
            x[j] = v.x();
            y[j] = v.y();
            z[j] = v.z();
        }
        for (int j = size; j < padded; ++j)
            x[j] = y[j] = z[j] = 0.0f;
        for (int j = 0; j < size; j += 4) {
            float *ux = x + j;
            float *uy = y + j;
            float *uz = z + j;
            unitFour(ux, uy, uz, normalized);
#endif
            const int lanes = std::min(4, size - j);
            for (int lane = 0; lane < lanes; ++lane)
                store(first + j + lane, QVector3D(ux[lane], uy[lane], uz[lane]));
        }
    });
}

} // namespace

template<bool FetchAhead, typename IndexOf>
void Mesh::updateTriangleGeometry(int count, const IndexOf &indexOf, char *leafWork)
{
    unitInFours(
        count, false,
        [&](int k) {
            if (FetchAhead && k + 2 * prefetchAhead < count)
                prefetch(&triangles_[indexOf(k + 2 * prefetchAhead)]);
            if (FetchAhead && k + prefetchAhead < count) {
                const Triangle &ahead = triangles_[indexOf(k + prefetchAhead)];
                prefetch(&vertices_[ahead.vertex1].position);
                prefetch(&vertices_[ahead.vertex2].position);
                prefetch(&vertices_[ahead.vertex3].position);
            }
            Triangle &t = triangles_[indexOf(k)];
#if defined(__SSE2__)
            // Geometry::triangleBox and QVector3D::crossProduct on the three coordinates at
            // once, with the same operations in the same order.
            const __m128 a = recordLanes(vertices_[t.vertex1].position);
            const __m128 b = recordLanes(vertices_[t.vertex2].position);
            const __m128 c = recordLanes(vertices_[t.vertex3].position);
            const __m128 low = _mm_min_ps(c, _mm_min_ps(b, a));
            const __m128 high = _mm_max_ps(c, _mm_max_ps(b, a));
            storeLanes(t.aabb.min, low);
            storeLanes(t.aabb.max, high);
            if (leafWork)
                leafWork[k] = t.leaf ? !staysInLeaf(*t.leaf, low, high) : 1;
            const __m128 u = _mm_sub_ps(b, a);
            const __m128 v = _mm_sub_ps(c, a);
            const __m128 uYzx = _mm_shuffle_ps(u, u, _MM_SHUFFLE(3, 0, 2, 1));
            const __m128 uZxy = _mm_shuffle_ps(u, u, _MM_SHUFFLE(3, 1, 0, 2));
            const __m128 vYzx = _mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 0, 2, 1));
            const __m128 vZxy = _mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 1, 0, 2));
            return _mm_sub_ps(_mm_mul_ps(uYzx, vZxy), _mm_mul_ps(uZxy, vYzx));
#else
            const QVector3D &a = vertices_[t.vertex1].position;
            const QVector3D &b = vertices_[t.vertex2].position;
            const QVector3D &c = vertices_[t.vertex3].position;
            t.aabb = Geometry::triangleBox(a, b, c);
            const Octree *leaf = t.leaf;
            if (leafWork)
                leafWork[k] = !leaf || !leaf->aabbSplit.containsPoint(t.aabb.computeCenter())
                    || !t.aabb.contains(leaf->aabbLoose);
            return QVector3D::crossProduct(b - a, c - a);
#endif
        },
        [&](int k, const QVector3D &unit) { triangles_[indexOf(k)].normal = unit; });
}

template<typename IndexOf>
void Mesh::updateVertexNormals(int count, const IndexOf &indexOf)
{
    unitInFours(
        count, true,
        [&](int k) {
            // Only the vertex records are fetched ahead: the block's loop reaches the triangle
            // normals of several vertices at once already.
            if (k + prefetchAhead < count)
                prefetch(&vertices_[indexOf(k + prefetchAhead)].triangleIndices);
#if defined(__SSE2__)
            // The three coordinates summed at once, each in the same order.
            __m128 sum = _mm_setzero_ps();
            for (int t : vertices_[indexOf(k)].triangleIndices)
                sum = _mm_add_ps(sum, recordLanes(triangles_[t].normal));
#else
            QVector3D sum;
            for (int t : vertices_[indexOf(k)].triangleIndices)
                sum += triangles_[t].normal;
#endif
            return sum;
        },
        [&](int k, const QVector3D &unit) { vertices_[indexOf(k)].normal = unit; });
}

Mesh::Mesh()
    : currentState_(undoStates_.end())
{
    setTransformation(QMatrix4x4());
}

Mesh::~Mesh() = default;

void Mesh::setTransformation(const QMatrix4x4 &m)
{
    transformation_ = m;
    // data() marks the matrix as a general one.
    const float *data = transformation_.data();
    std::copy(data, data + 16, transformationData_);
}

void Mesh::reserveRecords(std::size_t nbVertices, std::size_t nbTriangles)
{
    vertices_.reserve(nbVertices + nbVertices / 4);
    triangles_.reserve(nbTriangles + nbTriangles / 4);
}

void Mesh::setGpu(std::unique_ptr<MeshGpu> gpu)
{
    gpu_ = std::move(gpu);
}

void Mesh::initShaders(int mode)
{
    shaderType_ = mode;
    if (gpu_)
        gpu_->initShaders(*this);
}

// ---------------------------------------------------------------------------------------------
// Loading pipeline

void Mesh::initTopology(const MessageSink &sink, const int *corners)
{
    const int nbVertices = getNbVertices();
    const int nbTriangles = getNbTriangles();
    if (nbVertices == 0 || nbTriangles == 0)
        return;
    auto say = [&sink](const char *text) {
        if (sink)
            sink(QString::fromLatin1(text));
    };

    say("Loading : Init topology 1/2");
    // The rings of all vertices at once, in parallel: each the same list that
    // computeRingVertices gives, found without the shared visit stamps. The triangles of a
    // vertex a few places ahead are fetched meanwhile (their records are scattered in memory).
    // The same pass bounds the positions: each thread its own range, in order, from an empty box;
    // the boxes then join in thread order, as one pass from the first vertex would grow them
    // (strict comparisons keep the earlier of two equal values).
    std::vector<Aabb> boxes(static_cast<std::size_t>(omp_get_max_threads()), Aabb::empty());
#pragma omp parallel
    {
        std::vector<std::pair<int, int>> scratch;
        Aabb &bounds = boxes[static_cast<std::size_t>(omp_get_thread_num())];
        constexpr int ahead = 4;
#pragma omp for schedule(static)
        for (int i = 0; i < nbVertices; ++i) {
#if defined(__GNUC__) || defined(__clang__)
            if (i + ahead < nbVertices) {
                for (int t : vertices_[i + ahead].triangleIndices)
                    __builtin_prefetch(corners ? corners + 3 * static_cast<std::ptrdiff_t>(t)
                                               : &triangles_[t].vertex1);
            }
#endif
            fillRing(i, scratch, corners);
            bounds.expandsWithPoint(vertices_[i].position);
        }
    }
    Aabb box(vertices_[0].position, vertices_[0].position);
    for (const Aabb &bounds : boxes)
        box.expandsWithBox(bounds);
    center_ = box.computeCenter();
    const float diagonal = (box.max - box.min).length();

    say("Loading : scaling");
    // All vertices at one point (or a diagonal so small that the factor overflows): keep the
    // positions as they are.
    scale_ = 500.0f / diagonal;
    if (!(diagonal > 0.0f) || !std::isfinite(scale_))
        scale_ = 1.0f;
    const float scale = scale_;
#pragma omp parallel for schedule(static)
    for (int i = 0; i < nbVertices; ++i)
        vertices_[i].position *= scale;
    QMatrix4x4 m = transformation_;
    m.scale(scale);
    setTransformation(m);
    box.min *= scale;
    box.max *= scale;
    center_ *= scale;

    say("Loading : Init topology 2/2");
    // The normals too, from the scaled corners: a reader computes them in the file's units, where
    // small triangles (a fine scan, a model in metres) can have a cross product too short for
    // Qt's normalisation, which then gives the zero vector: such a triangle is never picked.
    updateTriangleGeometry<true>(
        nbTriangles, [](int k) { return k; }, nullptr);

    say("Loading : Init octree");
    const Aabb &first = triangles_[0].aabb;
    box.enlargeIfFlat((first.max - first.min).length());
    // Still flat (every vertex at one point, or a degenerate first triangle): give the box a
    // small extent so that the cells are not empty.
    const float small = std::max(1.0f,
        1e-3f
            * std::max({std::abs(box.min.x()), std::abs(box.min.y()), std::abs(box.min.z()),
                std::abs(box.max.x()), std::abs(box.max.y()), std::abs(box.max.z())}));
    box.enlargeIfFlat(small);
    const QVector3D margin = (box.max - box.min) * Octree::rootMargin;
    box.min -= margin;
    box.max += margin;

    ++Triangle::visitCounter;
    buildRoot(box);
}

void Mesh::buildRoot(const Aabb &box)
{
    // A copy: the caller may pass a box of the tree that is about to go.
    const Aabb cell = box;
    const int nbTriangles = getNbTriangles();
    std::vector<int> all(nbTriangles);
#pragma omp parallel for schedule(static)
    for (int i = 0; i < nbTriangles; ++i)
        all[i] = i;
    clearOctree();
    octree_ = std::make_unique<Octree>(nullptr, 0);
    octree_->build(*this, all, cell);
}

void Mesh::clearOctree()
{
    // Recorded leaves point into the tree that is going away.
    leavesToUpdate_.clear();
    octree_.reset();
}

void Mesh::computeVertexNormals()
{
    updateVertexNormals(getNbVertices(), [](int k) { return k; });
}

void Mesh::initVBO(const MessageSink &sink)
{
    if (sink)
        sink(QStringLiteral("Loading : Init VBO 1"));
    computeVertexNormals();
    if (sink)
        sink(QStringLiteral("Loading : Init VBO 2"));
    if (gpu_) {
        gpu_->build(*this);
        gpu_->initShaders(*this);
    }
}

void Mesh::moveTo(const QVector3D &point)
{
    QMatrix4x4 m;
    m.translate(point - center_);
    setTransformation(m);
}

void Mesh::updateMesh(const std::vector<int> &triangles, const std::vector<int> &vertices)
{
    startPieces();
    updateTriangles<true>(triangles.data(), static_cast<int>(triangles.size()));
    finishPieces(triangles, vertices);
}

void Mesh::updateTrianglePiece(const int *triangles, int count, bool beside)
{
    // A piece's records were just read on the calling thread: they are fetched ahead only on
    // another one.
    if (beside) {
        piecesBeside_ = true;
        updateTriangles<true>(triangles, count);
    } else {
        updateTriangles<false>(triangles, count);
    }
}

template<bool FetchAhead>
void Mesh::updateTriangles(const int *triangles, int count)
{
    // With each box, since the cells do not change during a step, whether the octree pass has
    // anything to do for its triangle: those that may have to move are listed for it, without a
    // branch on the flags, while the piece's indices are at hand.
    octreeWork_.resize(static_cast<std::size_t>(count));
    updateTriangleGeometry<FetchAhead>(
        count, [triangles](int k) { return triangles[k]; }, octreeWork_.data());
    // (The list only grows: its first octreeListed_ entries are the candidates.)
    std::size_t listed = octreeListed_;
    if (octreeCandidates_.size() < listed + static_cast<std::size_t>(count))
        octreeCandidates_.resize(2 * (listed + static_cast<std::size_t>(count)));
    int *candidates = octreeCandidates_.data();
    for (int k = 0; k < count; ++k) {
        candidates[listed] = triangles[k];
        listed += octreeWork_[k] ? 1 : 0;
    }
    octreeListed_ = listed;
    octreeCovered_ += static_cast<std::size_t>(count);
}

void Mesh::finishPieces(const std::vector<int> &triangles, const std::vector<int> &vertices)
{
    if (piecesOpen_) {
        piecesOpen_ = false;
        enforceHistoryBudget();
    }
    // Pieces that do not add up to the list leave every triangle to the octree pass.
    const int *candidates = octreeCandidates_.data();
    std::size_t nbCandidates = octreeListed_;
    if (octreeCovered_ != triangles.size()) {
        candidates = triangles.data();
        nbCandidates = triangles.size();
    }
    // The vertex normals first, while the triangle normals just written are still partly in
    // the cache. The octree pass reads neither normals nor vertices, and the vertex normals
    // read no box and no leaf field: on a large step, the octree pass runs on a second thread
    // meanwhile. Each pass runs as it does alone, so the results are the same.
    const int nbVertices = static_cast<int>(vertices.size());
    auto vertexNormals = [this, nbVertices, &vertices] {
        updateVertexNormals(nbVertices, [&vertices](int k) { return vertices[k]; });
    };
    if (static_cast<int>(triangles.size()) >= octreeBesideNormalsMinimum
        && nbVertices <= parallelMinimum && omp_get_max_threads() > 1 && !omp_in_parallel()
        && SecondThread::available()) {
        bool outside = false;
        std::exception_ptr failure;
#pragma omp parallel num_threads(2)
        {
            const int thread = omp_get_thread_num();
            if (thread == 1)
                SecondThread::started();
            // The thread that updated the triangles has their normals at hand.
            const int normalsThread = piecesBeside_ ? omp_get_num_threads() - 1 : 0;
            try {
                if (thread == normalsThread)
                    vertexNormals();
                if (thread == omp_get_num_threads() - 1 - normalsThread)
                    outside = moveInOctree(candidates, nbCandidates);
            } catch (...) {
#pragma omp critical(finishPiecesFailure)
                failure = std::current_exception();
            }
        }
        SecondThread::closed();
        if (failure)
            std::rethrow_exception(failure);
        if (outside)
            rebuildOctreeWithMargin();
    } else {
        vertexNormals();
        if (moveInOctree(candidates, nbCandidates))
            rebuildOctreeWithMargin();
    }

    if (gpu_) {
        if (gpu_->triangleCapacity() < getNbTriangles()
            || gpu_->vertexCapacity() < getNbVertices()) {
            initVBO();
        } else {
            gpu_->patchIndices(*this, triangles);
            gpu_->patchPositions(*this, vertices);
            gpu_->patchMasks(*this, vertices);
            gpu_->patchNormals(*this, vertices);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Neighbourhood queries

void Mesh::computeRingVertices(int i)
{
    constexpr std::size_t smallFan = 16;
    const int counter = ++Vertex::visitCounter;
    Vertex &v = vertices_[i];
    IndexList &ring = v.ringIndices;
    ring.clear();
    // A closed fan has as many neighbours as triangles, an open one a single extra.
    ring.reserve(v.triangleIndices.size() + 1);
    for (int t : v.triangleIndices)
        prefetch(&triangles_[t].vertex1);
    const std::size_t nbTriangles = v.triangleIndices.size();
    if (nbTriangles <= smallFan) {
        // Without a branch per corner: every corner is written and counted only when its stamp
        // was not yet set; the vertex itself is stamped first, so it never is.
        int found[3 * smallFan];
        int n = 0;
        v.visitStamp = counter;
        for (int t : v.triangleIndices) {
            const Triangle &tri = triangles_[t];
            for (int corner : {tri.vertex1, tri.vertex2, tri.vertex3}) {
                int &stamp = vertices_[corner].visitStamp;
                found[n] = corner;
                n += stamp != counter;
                stamp = counter;
            }
        }
        ring.assign(found, found + n);
        return;
    }
    auto visit = [&](int corner) {
        if (corner == i)
            return;
        Vertex &c = vertices_[corner];
        if (c.visitStamp == counter)
            return;
        c.visitStamp = counter;
        ring.push_back(corner);
    };
    for (int t : v.triangleIndices) {
        const Triangle &tri = triangles_[t];
        visit(tri.vertex1);
        visit(tri.vertex2);
        visit(tri.vertex3);
    }
}

void Mesh::fillRing(int i, std::vector<std::pair<int, int>> &scratch, const int *corners)
{
    auto cornersOf = [this, corners](int t, int *c) {
        if (corners) {
            const int *at = corners + 3 * static_cast<std::ptrdiff_t>(t);
            c[0] = at[0];
            c[1] = at[1];
            c[2] = at[2];
            return;
        }
        const Triangle &tri = triangles_[t];
        c[0] = tri.vertex1;
        c[1] = tri.vertex2;
        c[2] = tri.vertex3;
    };
    Vertex &v = vertices_[i];
    IndexList &ring = v.ringIndices;
    ring.clear();
    ring.reserve(v.triangleIndices.size() + 1);
    if (v.triangleIndices.size() <= 32) {
        // Few neighbours: a search in the list built so far.
        int c[3];
        for (int t : v.triangleIndices) {
            cornersOf(t, c);
            for (int corner : c) {
                if (corner != i && std::find(ring.begin(), ring.end(), corner) == ring.end())
                    ring.push_back(corner);
            }
        }
        return;
    }
    // Many: the corners with their order of appearance, sorted by vertex; the first appearance
    // of each vertex, back in order of appearance.
    scratch.clear();
    int c[3];
    for (int t : v.triangleIndices) {
        cornersOf(t, c);
        for (int corner : c) {
            if (corner != i)
                scratch.emplace_back(corner, static_cast<int>(scratch.size()));
        }
    }
    std::sort(scratch.begin(), scratch.end());
    std::size_t kept = 0;
    int previous = 0;
    for (std::size_t k = 0; k < scratch.size(); ++k) {
        const auto [corner, appearance] = scratch[k];
        if (k == 0 || corner != previous)
            scratch[kept++] = {appearance, corner};
        previous = corner;
    }
    scratch.resize(kept);
    std::sort(scratch.begin(), scratch.end());
    for (const auto &[appearance, corner] : scratch)
        ring.push_back(corner);
}

std::vector<int> Mesh::getVerticesFromTriangles(const std::vector<int> &triangles)
{
    const int counter = ++Vertex::visitCounter;
    std::vector<int> result;
    result.reserve(triangles.size() / 2 + 3);
    auto visit = [&](int corner) {
        Vertex &c = vertices_[corner];
        if (c.visitStamp == counter)
            return;
        c.visitStamp = counter;
        result.push_back(corner);
    };
    for (int t : triangles) {
        const Triangle &tri = triangles_[t];
        visit(tri.vertex1);
        visit(tri.vertex2);
        visit(tri.vertex3);
    }
    return result;
}

std::vector<int> Mesh::getTrianglesFromVertices(const std::vector<int> &vertices)
{
    const int counter = ++Triangle::visitCounter;
    std::vector<int> result;
    result.reserve(vertices.size() * 2);
    for (int i : vertices) {
        for (int t : vertices_[i].triangleIndices) {
            Triangle &tri = triangles_[t];
            if (tri.visitStamp == counter)
                continue;
            tri.visitStamp = counter;
            result.push_back(t);
        }
    }
    return result;
}

void Mesh::expandVertices(std::vector<int> &vertices, int n)
{
    const int counter = ++Vertex::visitCounter;
    for (int i : vertices)
        vertices_[i].visitStamp = counter;
    if (n <= 0)
        return;
    std::size_t begin = 0;
    for (int pass = 0; pass < n; ++pass) {
        const std::size_t end = vertices.size();
        for (std::size_t k = begin; k < end; ++k) {
            // Index access: the array grows while it is walked.
            const int i = vertices[k];
            for (int neighbour : vertices_[i].ringIndices) {
                Vertex &v = vertices_[neighbour];
                if (v.visitStamp == counter)
                    continue;
                v.visitStamp = counter;
                vertices.push_back(neighbour);
            }
        }
        begin = end;
    }
}

void Mesh::expandTriangles(std::vector<int> &triangles, int n)
{
    const int counter = ++Triangle::visitCounter;
    for (int t : triangles)
        triangles_[t].visitStamp = counter;
    if (n <= 0)
        return;
    std::size_t begin = 0;
    for (int pass = 0; pass < n; ++pass) {
        const std::size_t end = triangles.size();
        for (std::size_t k = begin; k < end; ++k) {
            const Triangle &tri = triangles_[triangles[k]];
            for (int corner : {tri.vertex1, tri.vertex2, tri.vertex3}) {
                for (int neighbour : vertices_[corner].triangleIndices) {
                    Triangle &other = triangles_[neighbour];
                    if (other.visitStamp == counter)
                        continue;
                    other.visitStamp = counter;
                    triangles.push_back(neighbour);
                }
            }
        }
        begin = end;
    }
}

// ---------------------------------------------------------------------------------------------
// Octree maintenance

void Mesh::checkLeavesUpdate()
{
    std::sort(leavesToUpdate_.begin(), leavesToUpdate_.end());
    leavesToUpdate_.erase(
        std::unique(leavesToUpdate_.begin(), leavesToUpdate_.end()), leavesToUpdate_.end());
    ++Triangle::visitCounter;
    std::vector<Octree *> cut;
    for (Octree *node : leavesToUpdate_) {
        if (!node->isLeaf())
            continue;
        if (!node->triangleIndices.empty()) {
            if (static_cast<int>(node->triangleIndices.size()) > Octree::leafCapacity
                && node->depth < Octree::maxDepth) {
                node->split(*this);
                // Its loose box may have grown with its children's: so do its ancestors'.
                if (node->parent)
                    node->parent->growLoose(node->aabbLoose);
            }
        } else {
            node->cutEmptyLeaves(cut);
        }
    }
    std::sort(cut.begin(), cut.end());
    cut.erase(std::unique(cut.begin(), cut.end()), cut.end());
    // Deepest first: a node is reached before any ancestor frees the subtree holding it.
    std::stable_sort(cut.begin(), cut.end(),
        [](const Octree *a, const Octree *b) { return a->depth > b->depth; });
    for (Octree *node : cut) {
        for (auto &child : node->children)
            child.reset();
    }
    leavesToUpdate_.clear();
}

void Mesh::updateOctree(const std::vector<int> &triangles)
{
    if (moveInOctree(triangles.data(), triangles.size()))
        rebuildOctreeWithMargin();
}

void Mesh::rebuildOctreeWithMargin()
{
    Aabb box = octree_->aabbSplit;
    const QVector3D margin = (box.max - box.min) * Octree::rootMargin;
    box.min -= margin;
    box.max += margin;
    ++Triangle::visitCounter;
    buildRoot(box);
}

bool Mesh::moveInOctree(const int *listed, std::size_t nbListed)
{
    if (!octree_)
        return false;
    std::vector<int> &moved = movedWork_;
    moved.clear();
    // The candidates are visited in order while their records are fetched a few entries ahead.
    for (std::size_t j = 0; j < nbListed; ++j) {
        if (j + prefetchAhead < nbListed)
            prefetch(&triangles_[listed[j + prefetchAhead]].leaf);
        const int index = listed[j];
        Triangle &t = triangles_[index];
        Octree *leaf = t.leaf;
        if (!leaf) {
            // Not in the tree yet (a triangle created since the last build).
            moved.push_back(index);
            continue;
        }
        if (!leaf->aabbSplit.containsPoint(t.aabb.computeCenter())) {
            const auto &list = leaf->triangleIndices;
            // A triangle listed twice in `triangles` is moved only once.
            if (t.leafIndex < 0 || t.leafIndex >= static_cast<int>(list.size())
                || list[t.leafIndex] != index)
                continue;
            moved.push_back(index);
            leaf->removeAt(*this, t.leafIndex);
        } else if (!t.aabb.contains(leaf->aabbLoose)) {
            leaf->growLoose(t.aabb);
        }
    }

    bool outside = false;
    Octree *hint = nullptr;
    const float margin = octree_->hintMargin();
    for (int index : moved) {
        Triangle &t = triangles_[index];
        if (t.aabb.isOutside(octree_->aabbLoose)) {
            outside = true;
            break;
        }
        Octree *oldLeaf = t.leaf;
        if (octree_->addTriangle(*this, index, hint, margin))
            continue;
        // No cell holds its centre: back into its former leaf, or, for a triangle that had
        // none, into the leaf reached from the root through slot 7.
        Octree *leaf = oldLeaf;
        if (!leaf) {
            leaf = octree_.get();
            while (!leaf->isLeaf())
                leaf = leaf->children[7].get();
        }
        t.leafIndex = static_cast<int>(leaf->triangleIndices.size());
        t.leaf = leaf;
        leaf->triangleIndices.push_back(index);
        leaf->growLoose(t.aabb);
    }

    return outside;
}

void Mesh::rebuildOctree(const Aabb &box)
{
    ++Triangle::visitCounter;
    buildRoot(box);
}
