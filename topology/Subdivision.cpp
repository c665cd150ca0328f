// Subdivision: long edges under the brush are halved, the new middles placed on a curved estimate
// of the surface, hanging middles filled and the area around them relaxed.
#include "Topology.h"

#include "geometry/Geometry.h"
#include "mesh/Mask.h"
#include "mesh/Mesh.h"
#include "mesh/Parallel.h"
#include "sculpt/Sculptor.h"

#include <cmath>
#include <numbers>

namespace {

// Below this fraction of the octree's diagonal an edge is not split, whatever the brush asks:
// halving edges a few float steps long would make middles that coincide with an end, and the
// passes would never end.
constexpr float minimalEdgeFraction = 1e-5f;

} // namespace

void Topology::subdivision(std::vector<int> &list, float d2Max)
{
    if (!(d2Max > 0.0f) || !std::isfinite(d2Max))
        return;
    if (const Octree *root = mesh->getOctree()) {
        const float floor =
            (root->aabbSplit.max - root->aabbSplit.min).length() * minimalEdgeFraction;
        d2Max = std::max(d2Max, floor * floor);
    }
    // Each pass halves the long edges, so a few dozen passes reach the shortest edge that is
    // split at all. Beside an edge that is left alone (one of more than two triangles, or one
    // at a vertex whose fan is not a manifold's) the fills can keep cutting new long slivers off
    // the same long triangles: the passes stop there.
    constexpr int maxPasses = 100;
    int count = -1;
    for (int pass = 0; pass < maxPasses && count != mesh->getNbTriangles(); ++pass) {
        count = mesh->getNbTriangles();
        subdivide(list, d2Max);
    }
}

int Topology::findSplit(int t, float d2Max, bool sphereTest)
{
    const Triangle &tri = triangles[t];
    const QVector3D &p1 = vertices[tri.vertex1].position;
    const QVector3D &p2 = vertices[tri.vertex2].position;
    const QVector3D &p3 = vertices[tri.vertex3].position;
    if (sphereTest && !Geometry::sphereTouchesEdges(center, 2.0f * radiusSquared, p1, p2, p3)
        && !Geometry::pointInTriangle(center, p1, p2, p3))
        return 0;
    const float l12 = (p1 - p2).lengthSquared();
    const float l23 = (p2 - p3).lengthSquared();
    const float l13 = (p1 - p3).lengthSquared();
    int code;
    if (l12 > l23 && l12 > l13)
        code = l12 > d2Max ? 1 : 0;
    else if (l23 > l13)
        code = l23 > d2Max ? 2 : 0;
    else
        code = l13 > d2Max ? 3 : 0;
    if (code == 0)
        return 0;
    const int a = code == 2 ? tri.vertex2 : tri.vertex1;
    const int b = code == 1 ? tri.vertex2 : tri.vertex3;
    return splitIsOk(a, b) ? code : 0;
}

bool Topology::splitIsOk(int a, int b) const
{
    // An edge between two fully masked vertices is never split.
    if (Mask::isFull(vertices[a]) && Mask::isFull(vertices[b]))
        return false;
    // An edge of more than two triangles (or beside a triangle with two equal corners) is left
    // alone: its middle would make a second such edge, and the fills would cut the other
    // triangles of the edge as if they were its two.
    if (edgeTriangleCount(a, b) > 2)
        return false;
    // The split and the fills give every corner of the edge's triangles a triangle more: none
    // may be a vertex whose fan is not that of a manifold, which would only grow.
    for (int t : vertices[a].triangleIndices) {
        const Triangle &tri = triangles[t];
        if (tri.vertex1 != b && tri.vertex2 != b && tri.vertex3 != b)
            continue;
        for (int corner : {tri.vertex1, tri.vertex2, tri.vertex3}) {
            if (!vertexEdges(corner).ordinary)
                return false;
        }
    }
    return true;
}

void Topology::findTrianglesToSplit(const std::vector<int> &list, std::vector<int> &outTriangles,
    std::vector<int> &outCodes, float d2Max)
{
    for (int t : list) {
        const int code = findSplit(t, d2Max, true);
        if (code == 0)
            continue;
        outCodes.push_back(code);
        outTriangles.push_back(t);
    }
}

void Topology::splitTriangles(
    const std::vector<int> &list, const std::vector<int> &codes, float d2Max)
{
    const std::size_t n = list.size();
    for (std::size_t k = 0; k < n; ++k) {
        const int t = list[k];
        const Triangle &tri = triangles[t];
        const int i1 = tri.vertex1;
        const int i2 = tri.vertex2;
        const int i3 = tri.vertex3;
        int code = k < codes.size() ? codes[k] : 0;
        if (code == 0)
            code = findSplit(t, d2Max, false);
        switch (code) {
        case 1:
            halfEdgeSplit(t, i1, i2, i3);
            break;
        case 2:
            halfEdgeSplit(t, i2, i3, i1);
            break;
        case 3:
            halfEdgeSplit(t, i3, i1, i2);
            break;
        default:
            break;
        }
    }
}

void Topology::halfEdgeSplit(int t, int i1, int i2, int i3)
{
    const int n = static_cast<int>(vertices.size());
    const auto [entry, isNew] = edgeMiddles.try_emplace(edgeKey(i1, i2), n);
    const int m = entry->second;
    if (isNew) {
        // The middle of the edge, pushed off the chord along the corners' normals.
        const Vertex &v1 = vertices[i1];
        const Vertex &v2 = vertices[i2];
        const QVector3D &p1 = v1.position;
        const QVector3D &p2 = v2.position;
        const QVector3D &u1 = v1.normal;
        const QVector3D &u2 = v2.normal;
        QVector3D q = (p1 + p2) * 0.5f;
        const float c = QVector3D::dotProduct(u1, u2);
        float angle;
        if (c <= -1.0f)
            angle = std::numbers::pi_v<float>;
        else if (c >= 1.0f)
            angle = 0.0f;
        else
            angle = std::acos(c);
        const QVector3D nm = (u1 + u2).normalized();
        const QVector3D e = p1 - p2;
        // Outwards on a convex bend, inwards on a concave one (a NaN test goes inwards).
        const QVector3D offset = ((nm * e.length()) * angle) * 0.12f;
        if (QVector3D::dotProduct(e, u1) - QVector3D::dotProduct(e, u2) >= 0.0f)
            q += offset;
        else
            q -= offset;

        Vertex middle(q, n);
        middle.normal = nm;
        middle.mask = 0.5f * (v1.mask + v2.mask);
        middle.historyStamp = Mesh::historyCounter;
        middle.ringIndices = {i1, i2};
        vertices[i1].replaceRingVertex(i2, m);
        vertices[i2].replaceRingVertex(i1, m);
        vertices.push_back(std::move(middle));
    }
    // The middle now exists: t is cut in two as when its neighbour was cut first.
    fillTriangle(t, i1, i2, i3, m);
}

void Topology::fillTriangle(int t, int ia, int ib, int ic, int m)
{
    Vertex &middle = vertices[m];
    middle.addRingVertex(ic);
    vertices[ic].addRingVertex(m);
    const int k = static_cast<int>(triangles.size());
    middle.addTriangle(t);
    middle.addTriangle(k);
    Triangle &tri = triangles[t];
    tri.vertex1 = ia;
    tri.vertex2 = m;
    tri.vertex3 = ic;
    Octree *leaf = tri.leaf;
    Triangle half(QVector3D(0.0f, 0.0f, 0.0f), m, ib, ic, k);
    half.historyStamp = Mesh::historyCounter;
    vertices[ic].addTriangle(k);
    vertices[ib].replaceTriangle(t, k);
    if (leaf) {
        half.leaf = leaf;
        half.leafIndex = static_cast<int>(leaf->triangleIndices.size());
        leaf->triangleIndices.push_back(k);
    }
    triangles.push_back(half);
}

void Topology::fillTriangles(std::vector<int> &list)
{
    std::vector<int> next;
    next.reserve(list.size());
    const auto none = edgeMiddles.end();
    for (int t : list) {
        const Triangle &tri = triangles[t];
        const int i1 = tri.vertex1;
        const int i2 = tri.vertex2;
        const int i3 = tri.vertex3;
        const auto e12 = edgeMiddles.find(edgeKey(i1, i2));
        const auto e23 = edgeMiddles.find(edgeKey(i2, i3));
        const auto e31 = edgeMiddles.find(edgeKey(i3, i1));
        const bool h12 = e12 != none;
        const bool h23 = e23 != none;
        const bool h31 = e31 != none;
        if (!h12 && !h23 && !h31)
            continue;
        const std::size_t r1 = vertices[i1].ringIndices.size();
        const std::size_t r2 = vertices[i2].ringIndices.size();
        const std::size_t r3 = vertices[i3].ringIndices.size();
        // The corner with the smallest ring receives the new edge.
        int edge; // 12, 23 or 31
        if (h12 && h23 && h31)
            edge = r1 < r2 && r1 < r3 ? 23 : (r2 < r3 ? 31 : 12);
        else if (h12 && h23)
            edge = r3 <= r1 ? 12 : 23;
        else if (h12 && h31)
            edge = r2 < r3 ? 31 : 12;
        else if (h23 && h31)
            edge = r1 <= r2 ? 23 : 31;
        else
            edge = h12 ? 12 : (h23 ? 23 : 31);
        switch (edge) {
        case 12:
            fillTriangle(t, i1, i2, i3, e12->second);
            break;
        case 23:
            fillTriangle(t, i2, i3, i1, e23->second);
            break;
        default:
            fillTriangle(t, i3, i1, i2, e31->second);
            break;
        }
        next.push_back(t);
        next.push_back(static_cast<int>(triangles.size()) - 1);
    }
    list.swap(next);
}

void Topology::subdivide(std::vector<int> &list, float d2Max)
{
    const int v0 = static_cast<int>(vertices.size());
    const int t0 = static_cast<int>(triangles.size());

    std::vector<int> split;
    std::vector<int> codes;
    findTrianglesToSplit(list, split, codes, d2Max);
    if (split.size() > 20)
        mesh->expandTriangles(split, 3);
    codes.resize(split.size(), 0);
    mesh->pushState(split, mesh->getVerticesFromTriangles(split));
    splitTriangles(split, codes, d2Max);

    // The new halves, then the old triangles around them, which the fills may change.
    const int t1Split = static_cast<int>(triangles.size());
    std::vector<int> created;
    created.reserve(t1Split - t0);
    for (int i = t0; i < t1Split; ++i)
        created.push_back(i);
    const std::size_t c = created.size();
    mesh->expandTriangles(created, 1);
    const std::vector<int> around(created.begin() + c, created.end());
    mesh->pushState(around, mesh->getVerticesFromTriangles(around));

    list.insert(list.end(), created.begin(), created.end());
    {
        const int counter = ++Triangle::visitCounter;
        std::size_t kept = 0;
        for (std::size_t i = 0; i < list.size(); ++i) {
            Triangle &tri = triangles[list[i]];
            if (tri.visitStamp == counter)
                continue;
            tri.visitStamp = counter;
            list[kept++] = list[i];
        }
        list.resize(kept);
    }

    const int t1 = static_cast<int>(triangles.size());
    while (!created.empty())
        fillTriangles(created);
    for (int i = t1; i < static_cast<int>(triangles.size()); ++i)
        list.push_back(i);

    // Relax the old vertices around the new middles within their tangent planes.
    std::vector<int> middles;
    middles.reserve(vertices.size() - v0);
    for (int i = v0; i < static_cast<int>(vertices.size()); ++i)
        middles.push_back(i);
    const std::size_t nbMiddles = middles.size();
    mesh->expandVertices(middles, 1);
    // A vertex on an edge of more than two triangles has no tangent plane to slide in: it stays.
    std::vector<int> relaxed;
    for (std::size_t i = nbMiddles; i < middles.size(); ++i) {
        if (vertexEdges(middles[i]).ordinary)
            relaxed.push_back(middles[i]);
    }
    if (!relaxed.empty()) {
        Sculptor relax;
        relax.setMesh(mesh);
        relax.smoothFlat(relaxed, 1.0f);
        // Every triangle around a relaxed vertex has moved: those not in the step's list join it,
        // so that the mesh update gives them their new normals and boxes (saved first, for undo
        // to restore them).
        const int listed = ++Triangle::visitCounter;
        for (int t : list)
            triangles[t].visitStamp = listed;
        std::vector<int> around;
        for (int v : relaxed) {
            for (int t : vertices[v].triangleIndices) {
                if (triangles[t].visitStamp == listed)
                    continue;
                triangles[t].visitStamp = listed;
                around.push_back(t);
            }
        }
        mesh->pushState(around, {});
        list.insert(list.end(), around.begin(), around.end());
    }

    // New vertices inside the brush join the selection; old ones pushed out of it leave it.
    const int stamp = Vertex::brushCounter;
    const QVector3D c0 = center;
    const float r2 = radiusSquared;
    const int nbW = static_cast<int>(middles.size());
    // A team for a handful of stamps costs more than it saves.
    forEachIndex(nbW, nbW > 4096, [&](int i) {
        Vertex &v = vertices[middles[i]];
        v.brushStamp = (v.position - c0).lengthSquared() < r2 ? stamp : stamp - 1;
    });
}
