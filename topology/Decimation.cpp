// Decimation: short edges under the brush are collapsed, or flipped where a collapse would glue
// two sheets together; removed records leave the arrays at the end.
#include "Topology.h"

#include "SmallSort.h"

#include "mesh/Mask.h"
#include "mesh/Mesh.h"
#include "mesh/Prefetch.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// A vertex of an open fan has one neighbour more than triangles.
bool isOnBorder(const Vertex &v)
{
    return v.ringIndices.size() != v.triangleIndices.size();
}

bool hasCorner(const Triangle &t, int v)
{
    return t.vertex1 == v || t.vertex2 == v || t.vertex3 == v;
}

// Number of common elements of two ascending lists.
int countCommon(const IndexList &a, const IndexList &b)
{
    int count = 0;
    auto i = a.begin();
    auto j = b.begin();
    while (i != a.end() && j != b.end()) {
        if (*i < *j) {
            ++i;
        } else if (*j < *i) {
            ++j;
        } else {
            ++count;
            ++i;
            ++j;
        }
    }
    return count;
}

} // namespace

void Topology::decimation(std::vector<int> &list, float d2Min)
{
    const float r2 = radiusSquared;
    const float r = std::sqrt(r2);
    const float band = std::sqrt(2.0f) * r - r;
    for (std::size_t position = 0; position < list.size(); ++position) {
        const int t = list[position];
        const Triangle &tri = triangles[t];
        if (isDeleted(tri))
            continue;
        const int i1 = tri.vertex1;
        const int i2 = tri.vertex2;
        const int i3 = tri.vertex3;
        const QVector3D &p1 = vertices[i1].position;
        const QVector3D &p2 = vertices[i2].position;
        const QVector3D &p3 = vertices[i3].position;
        const float g2 = ((p1 + p2 + p3) / 3.0f - center).lengthSquared();
        float w;
        if (g2 < r2) {
            w = 1.0f;
        } else if (g2 < 2.0f * r2) {
            const float u = (std::sqrt(g2) - r) / band;
            w = 3.0f * u * u * u * u - 4.0f * u * u * u + 1.0f;
        } else {
            continue;
        }
        const float l12 = (p2 - p1).lengthSquared();
        const float l23 = (p2 - p3).lengthSquared();
        const float l13 = (p1 - p3).lengthSquared();
        int a;
        int b;
        float shortest;
        if (l12 < l23 && l12 < l13) {
            a = i1;
            b = i2;
            shortest = l12;
        } else if (l13 <= l23) {
            a = i1;
            b = i3;
            shortest = l13;
        } else {
            a = i2;
            b = i3;
            shortest = l23;
        }
        if (shortest < w * d2Min)
            edgeCollapse(t, findOppositeTriangle(t, a, b), list);
    }

    deleteMarkedRecords();

    // The vertices whose neighbourhood changed, still present, each once.
    const int nbVertices = static_cast<int>(vertices.size());
    const int vCounter = ++Vertex::visitCounter;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < touchedVertices.size(); ++i) {
        const int v = touchedVertices[i];
        if (v < 0 || v >= nbVertices || vertices[v].visitStamp == vCounter)
            continue;
        vertices[v].visitStamp = vCounter;
        touchedVertices[kept++] = v;
    }
    touchedVertices.resize(kept);

    const std::vector<int> around = mesh->getTrianglesFromVertices(touchedVertices);
    // These triangles join the step's list, whose normals and boxes the mesh update rewrites:
    // save the ones that no change has saved yet, or undo would keep their new normals.
    mesh->pushState(around, {});
    list.insert(list.end(), around.begin(), around.end());
    const int nbTriangles = static_cast<int>(triangles.size());
    const int tCounter = ++Triangle::visitCounter;
    kept = 0;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const int t = list[i];
        if (t < 0 || t >= nbTriangles || triangles[t].visitStamp == tCounter)
            continue;
        triangles[t].visitStamp = tCounter;
        list[kept++] = t;
    }
    list.resize(kept);
}

void Topology::deleteMarkedRecords()
{
    sortIndices(trianglesToDelete, sortScratch_);
    trianglesToDelete.erase(
        std::unique(trianglesToDelete.begin(), trianglesToDelete.end()), trianglesToDelete.end());
    // Each deletion shortens the array by one, so the record the j-th deletion moves is known in
    // advance: the one that is last then. Those records lie far apart at the end of the arrays;
    // they and what they name are asked for a few deletions ahead.
    // (A list naming records past the end is not fetched ahead: the indices ahead stop at 0.)
    const int nbDeadTriangles = static_cast<int>(trianglesToDelete.size());
    const int lastTriangle = static_cast<int>(triangles.size()) - 1;
    for (int j = 0; j < nbDeadTriangles; ++j) {
        if (j + 2 * prefetchAhead < nbDeadTriangles && lastTriangle - j - 2 * prefetchAhead >= 0)
            prefetch(&triangles[lastTriangle - j - 2 * prefetchAhead]);
        if (j + prefetchAhead < nbDeadTriangles && lastTriangle - j - prefetchAhead >= 0) {
            const Triangle &ahead = triangles[lastTriangle - j - prefetchAhead];
            for (int corner : {ahead.vertex1, ahead.vertex2, ahead.vertex3}) {
                if (static_cast<std::size_t>(corner) < vertices.size())
                    prefetch(&vertices[corner].triangleIndices);
            }
        }
        deleteTriangle(trianglesToDelete[nbDeadTriangles - 1 - j]);
    }
    trianglesToDelete.clear();

    sortIndices(verticesToDelete, sortScratch_);
    verticesToDelete.erase(
        std::unique(verticesToDelete.begin(), verticesToDelete.end()), verticesToDelete.end());
    const int nbDeadVertices = static_cast<int>(verticesToDelete.size());
    const int lastVertex = static_cast<int>(vertices.size()) - 1;
    for (int j = 0; j < nbDeadVertices; ++j) {
        if (j + 2 * prefetchAhead < nbDeadVertices && lastVertex - j - 2 * prefetchAhead >= 0)
            prefetch(&vertices[lastVertex - j - 2 * prefetchAhead].triangleIndices);
        if (j + prefetchAhead < nbDeadVertices && lastVertex - j - prefetchAhead >= 0) {
            // A removed vertex keeps the lists it had, whose indices may now lie past the ends.
            const Vertex &ahead = vertices[lastVertex - j - prefetchAhead];
            const std::size_t nbTriangles = triangles.size();
            const std::size_t nbVertices = vertices.size();
            for (int t : ahead.triangleIndices) {
                if (static_cast<std::size_t>(t) < nbTriangles)
                    prefetch(triangles.data() + t);
            }
            for (int w : ahead.ringIndices) {
                if (static_cast<std::size_t>(w) < nbVertices)
                    prefetch(&vertices[w].ringIndices);
            }
        }
        deleteVertex(verticesToDelete[nbDeadVertices - 1 - j]);
    }
    verticesToDelete.clear();
}

int Topology::findOppositeTriangle(int t, int a, int b)
{
    // The lists are sorted in place: save the two vertices as they were.
    saveVertex(a);
    saveVertex(b);
    IndexList &ta = vertices[a].triangleIndices;
    IndexList &tb = vertices[b].triangleIndices;
    sortSmall(ta.begin(), ta.end());
    sortSmall(tb.begin(), tb.end());
    int shared = 0;
    int other = -1;
    bool hasT = false;
    auto i = ta.begin();
    auto j = tb.begin();
    while (i != ta.end() && j != tb.end()) {
        if (*i < *j) {
            ++i;
        } else if (*j < *i) {
            ++j;
        } else {
            ++shared;
            if (*i == t)
                hasT = true;
            else
                other = *i;
            ++i;
            ++j;
        }
    }
    if (shared > 2 || !hasT)
        return -1;
    return other;
}

void Topology::edgeCollapse(int t1, int t2, std::vector<int> &list)
{
    if (t2 < 0)
        return;
    const Triangle &first = triangles[t1];
    const Triangle &second = triangles[t2];
    const int a1 = first.vertex1;
    const int a2 = first.vertex2;
    const int a3 = first.vertex3;
    int k;
    int r;
    int o1;
    if (hasCorner(second, a2) && hasCorner(second, a1)) {
        k = a1;
        r = a2;
        o1 = a3;
    } else if (hasCorner(second, a1) && hasCorner(second, a3)) {
        k = a1;
        r = a3;
        o1 = a2;
    } else {
        k = a3;
        r = a2;
        o1 = a1;
    }
    int o2 = -1;
    for (int corner : {second.vertex1, second.vertex2, second.vertex3}) {
        if (corner != k && corner != r)
            o2 = corner;
    }
    if (o2 < 0 || k == r || !hasCorner(second, k) || !hasCorner(second, r))
        return;
    // The mask protects an edge between two fully masked vertices; otherwise the more masked
    // end is the one kept, so that the collapse removes no protected vertex.
    if (Mask::isFull(vertices[k]) && Mask::isFull(vertices[r]))
        return;
    if (vertices[r].mask > vertices[k].mask)
        std::swap(k, r);
    // A vertex with fewer than three triangles or neighbours (left so by a damaged file): no
    // collapse or flip around it.
    for (int end : {k, r}) {
        const Vertex &v = vertices[end];
        if (v.triangleIndices.size() < 3 || v.ringIndices.size() < 3)
            return;
    }
    // An inner edge between two border vertices: collapsing it would pinch the border into one
    // vertex shared by two stretches of it (and could leave a corner with no triangle).
    if (isOnBorder(vertices[k]) && isOnBorder(vertices[r]))
        return;
    // An end with an edge of more than two triangles, a triangle with two equal corners, or
    // two stretches of border: the collapse would merge r's edges into k's beyond what the
    // common-neighbour test sees.
    for (int end : {k, r}) {
        const VertexEdges edges = vertexEdges(end);
        if (!edges.ordinary || edges.border > 2)
            return;
    }

    touchedVertices.push_back(k);
    touchedVertices.push_back(r);
    mesh->pushNeighbourhood(k);
    mesh->pushNeighbourhood(r);

    sortSmall(vertices[k].ringIndices.begin(), vertices[k].ringIndices.end());
    sortSmall(vertices[r].ringIndices.begin(), vertices[r].ringIndices.end());
    const int common = countCommon(vertices[k].ringIndices, vertices[r].ringIndices);

    if (common <= 2) {
        Vertex &vk = vertices[k];
        Vertex &vr = vertices[r];
        vk.normal = (vk.normal + vr.normal).normalized();
        vk.removeTriangle(t1);
        vk.removeTriangle(t2);
        vr.removeTriangle(t1);
        vr.removeTriangle(t2);
        vertices[o1].removeTriangle(t1);
        vertices[o2].removeTriangle(t2);
        for (int t : vr.triangleIndices) {
            vk.addTriangle(t);
            triangles[t].replaceVertex(r, k);
        }
        mesh->computeRingVertices(k);
        QVector3D sum;
        for (int w : vk.ringIndices) {
            mesh->computeRingVertices(w);
            sum += vertices[w].position;
        }
        if (!vk.ringIndices.empty()) {
            const QVector3D average = sum / static_cast<float>(vk.ringIndices.size());
            const QVector3D &n = vk.normal;
            Mask::moveTowards(vk, average - n * QVector3D::dotProduct(n, average - vk.position));
        }
        list.insert(list.end(), vk.triangleIndices.begin(), vk.triangleIndices.end());
        markVertexDeleted(r);
        markTriangleDeleted(t1);
        markTriangleDeleted(t2);
        checkVertex(k);
        return;
    }

    // Three or more common neighbours: a collapse would glue two sheets; flip the edge instead,
    // unless o1 and o2 are joined already (as around a thin tube left by a fusion): the flip
    // would give that edge two more triangles. Such an edge is left alone.
    const IndexList &ring1 = vertices[o1].ringIndices;
    if (o1 == o2 || std::find(ring1.begin(), ring1.end(), o2) != ring1.end())
        return;
    vertices[k].removeTriangle(t2);
    vertices[r].removeTriangle(t1);
    vertices[o1].addTriangle(t2);
    vertices[o2].addTriangle(t1);
    triangles[t1].replaceVertex(r, o2);
    triangles[t2].replaceVertex(k, o1);
    for (int v : {k, r, o1, o2})
        mesh->computeRingVertices(v);
    for (int v : {k, r, o1, o2})
        checkVertex(v);
}

void Topology::deleteTriangle(int t)
{
    Triangle &tri = triangles[t];
    if (Octree *leaf = tri.leaf) {
        const int position = tri.leafIndex;
        if (position >= 0 && position < static_cast<int>(leaf->triangleIndices.size())
            && leaf->triangleIndices[position] == t)
            leaf->removeAt(*mesh, position);
    }
    const int last = static_cast<int>(triangles.size()) - 1;
    if (t == last) {
        triangles.pop_back();
        return;
    }
    // The slot is about to be overwritten: its record must be in the state (it normally is, saved
    // before it was marked).
    saveTriangle(t);
    saveTriangle(last);
    Triangle &moved = triangles[last];
    moved.id = t;
    if (moved.leaf)
        moved.leaf->triangleIndices[moved.leafIndex] = t;
    const int corners[3] = {moved.vertex1, moved.vertex2, moved.vertex3};
    for (int w : corners)
        saveVertex(w);
    for (int w : corners)
        vertices[w].replaceTriangle(last, t);
    touchedVertices.insert(touchedVertices.end(), corners, corners + 3);
    triangles[t] = moved;
    triangles.pop_back();
}

void Topology::deleteVertex(int v)
{
    const int last = static_cast<int>(vertices.size()) - 1;
    if (v == last) {
        vertices.pop_back();
        return;
    }
    saveVertex(v);
    saveVertex(last);
    Vertex &moved = vertices[last];
    moved.id = v;
    for (int u : moved.triangleIndices) {
        saveTriangle(u);
        triangles[u].replaceVertex(last, v);
    }
    for (int w : moved.ringIndices) {
        saveVertex(w);
        vertices[w].replaceRingVertex(last, v);
    }
    vertices[v] = std::move(moved);
    vertices.pop_back();
    // The moved vertex's triangles now name it by its new index: they and it must reach the
    // mesh update (index buffer, positions).
    touchedVertices.push_back(v);
}
