// Vertex repair: vertices left with fewer than three triangles are removed, vertices where two
// cones touch are split; and the fans that both use.
#include "Topology.h"

#include "SmallSort.h"

#include "mesh/Mesh.h"
#include "sculpt/Sculptor.h"

#include <algorithm>
#include <utility>

void Topology::buildFan(int v, Fan &fan)
{
    fan.clear();
    fan.reserve(vertices[v].triangleIndices.size());
    for (int t : vertices[v].triangleIndices) {
        Triangle &tri = triangles[t];
        // Turn the corners cyclically (winding kept) until v is the third.
        if (tri.vertex1 == v) {
            tri.vertex1 = tri.vertex2;
            tri.vertex2 = tri.vertex3;
            tri.vertex3 = v;
        } else if (tri.vertex2 == v) {
            tri.vertex2 = tri.vertex1;
            tri.vertex1 = tri.vertex3;
            tri.vertex3 = v;
        } else if (tri.vertex3 != v) {
            continue; // not a triangle of v: nothing to chain
        }
        fan.push_back({tri.vertex1, tri.vertex2, t});
    }
}

bool Topology::chainFan(Fan &fan)
{
    const int n = static_cast<int>(fan.size());
    if (n <= 1)
        return true;
    int start = fan[0].a;
    int i = 0;
    while (i < n - 1) {
        const int target = fan[i].b;
        int found = -1;
        int closing = -1;
        for (int j = i + 1; j < n; ++j) {
            if (fan[j].a != target)
                continue;
            found = j;
            if (fan[j].b == start) {
                closing = j;
                break;
            }
        }
        if (closing >= 0) {
            std::swap(fan[closing], fan[i + 1]);
            if (i + 2 < n)
                start = fan[i + 2].a;
            i += 2;
            continue;
        }
        if (found < 0)
            return false;
        std::swap(fan[found], fan[i + 1]);
        i += 1;
    }
    return true;
}

bool Topology::isBorderCorner(int v) const
{
    // One or two triangles in an open fan (one neighbour more than triangles) whose outer edges
    // are ordinary ones make a corner of a border, as at the corners of an open sheet: removing
    // them would cut into the sheet and could pinch its border at a neighbour. Folded triangles,
    // or a fin on an edge that other triangles share, are degenerate.
    const Vertex &vertex = vertices[v];
    const std::size_t n = vertex.triangleIndices.size();
    if (n == 0 || n > 2 || vertex.ringIndices.size() != n + 1)
        return false;
    for (int t : vertex.triangleIndices) {
        const Triangle &tri = triangles[t];
        int ends[2];
        int count = 0;
        for (int corner : {tri.vertex1, tri.vertex2, tri.vertex3}) {
            if (corner != v && count < 2)
                ends[count++] = corner;
        }
        if (count < 2)
            return false;
        int shared = 0;
        for (int u : vertices[ends[0]].triangleIndices) {
            const Triangle &other = triangles[u];
            if (other.vertex1 == ends[1] || other.vertex2 == ends[1] || other.vertex3 == ends[1])
                ++shared;
        }
        if (shared > 2)
            return false;
    }
    return true;
}

bool Topology::removeDegenerateVertex(int v)
{
    if (isDeleted(vertices[v]))
        return true;
    IndexList &own = vertices[v].triangleIndices;
    if (own.size() > 2) {
        sortSmall(own.begin(), own.end());
        return false;
    }
    if (isBorderCorner(v)) {
        sortSmall(own.begin(), own.end());
        return false;
    }
    // A vertex with an edge of more than two triangles or a triangle with two equal corners
    // stays as the file made it: removing its triangles would take them off edges that are
    // not ordinary ones.
    if (!vertexEdges(v).ordinary) {
        sortSmall(own.begin(), own.end());
        return false;
    }
    // Everything changed below is saved first (the cascade reaches vertices that no caller
    // saved).
    saveVertex(v);
    sortSmall(own.begin(), own.end());
    if (own.empty()) {
        markVertexDeleted(v);
        touchedVertices.push_back(v);
        return true;
    }

    const std::vector<int> removed = own;
    std::vector<int> corners;
    corners.reserve(4);
    for (int t : removed) {
        saveTriangle(t);
        const Triangle &tri = triangles[t];
        int others[3] = {tri.vertex1, tri.vertex2, tri.vertex3};
        sortSmall(others, others + 3);
        for (int u : others) {
            if (u == v)
                continue;
            saveVertex(u);
            vertices[u].removeTriangle(t);
            mesh->computeRingVertices(u);
            corners.push_back(u);
        }
    }
    markVertexDeleted(v);
    for (int t : removed)
        markTriangleDeleted(t);
    touchedVertices.push_back(v);
    for (int u : corners) {
        if (vertices[u].triangleIndices.size() < 3)
            removeDegenerateVertex(u);
    }
    return true;
}

void Topology::checkVertex(int v)
{
    if (isDeleted(vertices[v]))
        return;
    mesh->pushNeighbourhood(v);
    saveVertex(v);
    if (removeDegenerateVertex(v))
        return;

    // Only fans of ordinary edges are chained and split into cones.
    if (!vertexEdges(v).ordinary)
        return;
    Fan &fan = checkFan_;
    buildFan(v, fan);
    if (!chainFan(fan))
        return;
    const int n = static_cast<int>(fan.size());
    if (n < 3)
        return;
    int k = -1;
    for (int j = 1; j <= n - 2; ++j) {
        if (fan[j].b == fan[0].a) {
            k = j;
            break;
        }
    }
    if (k < 0)
        return; // one closed cycle

    // v joins two cones: the first chain goes to a new vertex.
    const int w = static_cast<int>(vertices.size());
    Vertex split(vertices[v].position, w);
    split.normal = -vertices[v].normal;
    split.mask = vertices[v].mask;
    split.historyStamp = Mesh::historyCounter;
    split.triangleIndices.reserve(k + 1);
    for (int j = 0; j <= k; ++j) {
        const int t = fan[j].t;
        split.addTriangle(t);
        vertices[v].removeTriangle(t);
        triangles[t].vertex3 = w;
    }
    vertices.push_back(std::move(split));

    mesh->computeRingVertices(v);
    mesh->computeRingVertices(w);
    for (std::size_t j = 0; j < vertices[w].ringIndices.size(); ++j)
        mesh->computeRingVertices(vertices[w].ringIndices[j]);
    for (std::size_t j = 0; j < vertices[v].ringIndices.size(); ++j)
        mesh->computeRingVertices(vertices[v].ringIndices[j]);
    touchedVertices.push_back(v);
    touchedVertices.push_back(w);

    Sculptor relax;
    relax.setMesh(mesh);
    relax.smoothNoLimit({v, w}, false);

    checkVertex(v);
    checkVertex(w);
}

void Topology::checkVertices(const std::vector<int> &first, const std::vector<int> &second)
{
    for (int v : first)
        checkVertex(v);
    for (int v : second)
        checkVertex(v);
}
