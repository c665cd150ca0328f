// The per-step context of the dynamic topology and its history saving.
#include "Topology.h"

#include "SmallSort.h"

#include "mesh/Mesh.h"

#include <algorithm>

Topology::Topology(Mesh *m, const QVector3D &brushCenter, float brushRadiusSquared)
    : mesh(m)
    , triangles(m->getTriangles())
    , vertices(m->getVertices())
    , center(brushCenter)
    , radiusSquared(brushRadiusSquared)
    , hasState_(m->getCurrentStateIndex() >= 0)
{ }

void Topology::uniformisation(std::vector<int> &list, float d2Min, float d2Max)
{
    subdivision(list, d2Max);
    decimation(list, d2Min);
}

void Topology::saveTriangle(int t)
{
    // Without an open state nothing is saved, as with Mesh::pushState.
    if (!hasState_)
        return;
    Triangle &tri = triangles[t];
    if (tri.historyStamp == Mesh::historyCounter)
        return;
    tri.historyStamp = Mesh::historyCounter;
    mesh->getTrianglesState().push_back(tri);
}

void Topology::saveVertex(int v)
{
    if (!hasState_)
        return;
    Vertex &vert = vertices[v];
    if (vert.historyStamp == Mesh::historyCounter)
        return;
    vert.historyStamp = Mesh::historyCounter;
    mesh->getVerticesState().push_back(vert);
}

bool Topology::isDeleted(const Triangle &t) const
{
    return t.visitStamp < 0;
}

bool Topology::isDeleted(const Vertex &v) const
{
    return v.visitStamp < 0;
}

void Topology::markTriangleDeleted(int t)
{
    triangles[t].visitStamp = -1;
    trianglesToDelete.push_back(t);
}

void Topology::markVertexDeleted(int v)
{
    vertices[v].visitStamp = -1;
    verticesToDelete.push_back(v);
}

Topology::VertexEdges Topology::vertexEdges(int v) const
{
    VertexEdges edges;
    std::vector<int> &ends = edgeEnds_;
    ends.clear();
    for (int t : vertices[v].triangleIndices) {
        const Triangle &tri = triangles[t];
        if (tri.vertex1 == tri.vertex2 || tri.vertex2 == tri.vertex3 || tri.vertex1 == tri.vertex3)
            edges.ordinary = false;
        for (int corner : {tri.vertex1, tri.vertex2, tri.vertex3}) {
            if (corner != v)
                ends.push_back(corner);
        }
    }
    // Each end names an edge as often as triangles share that edge. The usual few ends are
    // counted against each other, in a loop without branches; a long list is sorted instead.
    const int count = static_cast<int>(ends.size());
    if (count <= 64) {
        const int *e = ends.data();
        int border = 0;
        int crowded = 0;
        for (int i = 0; i < count; ++i) {
            int same = 0;
            for (int j = 0; j < count; ++j)
                same += e[j] == e[i] ? 1 : 0;
            border += same == 1 ? 1 : 0;
            crowded |= same > 2 ? 1 : 0;
        }
        edges.border = border;
        if (crowded)
            edges.ordinary = false;
        return edges;
    }
    sortSmall(ends.begin(), ends.end());
    for (std::size_t i = 0; i < ends.size();) {
        std::size_t j = i + 1;
        while (j < ends.size() && ends[j] == ends[i])
            ++j;
        if (j - i == 1)
            ++edges.border;
        else if (j - i > 2)
            edges.ordinary = false;
        i = j;
    }
    return edges;
}

int Topology::edgeTriangleCount(int a, int b) const
{
    int count = 0;
    for (int t : vertices[a].triangleIndices) {
        const Triangle &tri = triangles[t];
        count += tri.vertex1 == b || tri.vertex2 == b || tri.vertex3 == b ? 1 : 0;
    }
    return count;
}
