#pragma once

#include "mesh/Mesh.h"

#include <QString>
#include <QVector3D>

#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <numeric>
#include <unordered_map>
#include <vector>

// Small meshes for tests and benchmarks. Every make* function returns a mesh already run through
// the loading pipeline (initTopology, initVBO, moveTo(origin)), with no message sink.
namespace TestMeshes {

struct IcosphereData
{
    std::vector<QVector3D> positions;
    std::vector<std::array<int, 3>> triangles;
};

// Unit icosphere: 12 vertices and 20 triangles at level 0, each level splitting every triangle
// into four (20 * 4^level triangles), outward winding.
inline IcosphereData icosphereData(int level)
{
    const float t = (1.0f + std::sqrt(5.0f)) / 2.0f;
    IcosphereData data {
        {{-1, t, 0}, {1, t, 0}, {-1, -t, 0}, {1, -t, 0}, {0, -1, t}, {0, 1, t}, {0, -1, -t},
            {0, 1, -t}, {t, 0, -1}, {t, 0, 1}, {-t, 0, -1}, {-t, 0, 1}},
        {{0, 11, 5}, {0, 5, 1}, {0, 1, 7}, {0, 7, 10}, {0, 10, 11}, {1, 5, 9}, {5, 11, 4},
            {11, 10, 2}, {10, 7, 6}, {7, 1, 8}, {3, 9, 4}, {3, 4, 2}, {3, 2, 6}, {3, 6, 8},
            {3, 8, 9}, {4, 9, 5}, {2, 4, 11}, {6, 2, 10}, {8, 6, 7}, {9, 8, 1}}};
    for (QVector3D &p : data.positions)
        p.normalize();
    for (int l = 0; l < level; ++l) {
        // Each edge's midpoint, added once, keyed by its two ends (smaller first).
        std::unordered_map<std::uint64_t, int> midpoints;
        auto mid = [&data, &midpoints](int a, int b) {
            const auto [it, added] = midpoints.try_emplace(
                (std::uint64_t(std::min(a, b)) << 32) | std::uint32_t(std::max(a, b)),
                int(data.positions.size()));
            if (added)
                data.positions.push_back(
                    ((data.positions[a] + data.positions[b]) * 0.5f).normalized());
            return it->second;
        };
        std::vector<std::array<int, 3>> next;
        for (const auto &t : data.triangles) {
            const int a = mid(t[0], t[1]), b = mid(t[1], t[2]), c = mid(t[2], t[0]);
            next.insert(next.end(), {{t[0], a, c}, {t[1], b, a}, {t[2], c, b}, {a, b, c}});
        }
        data.triangles.swap(next);
    }
    return data;
}

// Builds the records as a file reader does (ids = indices, triangle normals from the corners,
// each triangle appended to its corners in order), without running the pipeline.
inline std::unique_ptr<Mesh> rawMeshFromArrays(
    const std::vector<QVector3D> &positions, const std::vector<std::array<int, 3>> &triangles)
{
    auto mesh = std::make_unique<Mesh>();
    std::vector<Vertex> &vertices = mesh->getVertices();
    mesh->reserveRecords(positions.size(), triangles.size());
    for (int i = 0; i < int(positions.size()); ++i)
        vertices.emplace_back(positions[i], i);
    for (int i = 0; i < int(triangles.size()); ++i) {
        const auto [a, b, c] = triangles[i];
        mesh->getTriangles().emplace_back(
            QVector3D::normal(positions[a], positions[b], positions[c]), a, b, c, i);
        for (int corner : triangles[i])
            vertices[corner].addTriangle(i);
    }
    return mesh;
}
// Same, and runs the pipeline.
inline std::unique_ptr<Mesh> meshFromArrays(
    const std::vector<QVector3D> &positions, const std::vector<std::array<int, 3>> &triangles)
{
    auto mesh = rawMeshFromArrays(positions, triangles);
    mesh->initTopology();
    mesh->initVBO();
    mesh->moveTo(QVector3D(0.0f, 0.0f, 0.0f));
    return mesh;
}

inline std::unique_ptr<Mesh> makeTetrahedron()
{
    return meshFromArrays({{1, 1, 1}, {1, -1, -1}, {-1, 1, -1}, {-1, -1, 1}},
        {{0, 1, 2}, {0, 3, 1}, {0, 2, 3}, {1, 3, 2}});
}
inline std::unique_ptr<Mesh> makeIcosphere(int level)
{
    const IcosphereData data = icosphereData(level);
    return meshFromArrays(data.positions, data.triangles);
}
// `sheets` grids of n x n unit quads stacked `gap` apart along z (sheet k at z = k gap), vertex
// (i, j) of sheet k at k (n + 1)^2 + j (n + 1) + i. Every sheet faces up, or, with `facing`,
// the odd ones face down, towards the sheet below.
inline std::unique_ptr<Mesh> makeStackedGrids(int n, int sheets, float gap, bool facing = false)
{
    std::vector<QVector3D> positions;
    std::vector<std::array<int, 3>> triangles;
    const int side = n + 1;
    for (int k = 0; k < sheets; ++k) {
        for (int j = 0; j <= n; ++j)
            for (int i = 0; i <= n; ++i)
                positions.emplace_back(float(i), float(j), k * gap);
        const bool down = facing && k % 2;
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < n; ++i) {
                const int a = (k * side + j) * side + i, b = a + 1, c = a + side, d = c + 1;
                triangles.insert(triangles.end(),
                    {{a, down ? d : b, down ? b : d}, {a, down ? c : d, down ? d : c}});
            }
    }
    return meshFromArrays(positions, triangles);
}
// Open flat grid of n x n unit quads in the plane z = 0, each split into two triangles:
// (n + 1)^2 vertices, 2 n^2 triangles.
inline std::unique_ptr<Mesh> makeGrid(int n)
{
    return makeStackedGrids(n, 1, 0.0f);
}

// Copies of a mesh's records, to compare a mesh with an earlier version of itself.
struct MeshSnapshot
{
    std::vector<Vertex> vertices;
    std::vector<Triangle> triangles;
};

// Every vertex index (0 .. n - 1) and every triangle index, in order.
inline std::vector<int> allVertices(const Mesh &mesh)
{
    std::vector<int> list(mesh.getNbVertices());
    std::iota(list.begin(), list.end(), 0);
    return list;
}
inline std::vector<int> allTriangles(const Mesh &mesh)
{
    std::vector<int> list(mesh.getNbTriangles());
    std::iota(list.begin(), list.end(), 0);
    return list;
}
// The vertices' positions, in vertex order.
inline std::vector<QVector3D> positions(const Mesh &mesh)
{
    std::vector<QVector3D> result;
    for (const Vertex &v : mesh.getVertices())
        result.push_back(v.position);
    return result;
}

inline MeshSnapshot snapshot(const Mesh &mesh)
{
    return MeshSnapshot {mesh.getVertices(), mesh.getTriangles()};
}
// Compares positions, normals, ids, triangle and ring lists of the vertices, and ids, corners,
// normals and boxes of the triangles, exactly (bit for bit on the floats) or, for the normals,
// within `normalTolerance`. Stamps and octree places are not compared. Returns an empty string
// when equal, else the first difference.
QString compareWithSnapshot(
    const MeshSnapshot &expected, const Mesh &mesh, float normalTolerance = 0.0f);

// Number of triangles on each edge (smaller vertex index first); triangles marked for removal
// (negative visit stamp) are left out.
inline std::map<std::pair<int, int>, int> edgeCounts(const Mesh &mesh)
{
    std::map<std::pair<int, int>, int> counts;
    for (const Triangle &t : mesh.getTriangles())
        if (t.visitStamp >= 0)
            for (const auto &[a, b] :
                {std::pair(t.vertex1, t.vertex2), {t.vertex2, t.vertex3}, {t.vertex3, t.vertex1}})
                ++counts[std::minmax(a, b)];
    return counts;
}
// Connected pieces of the surface (vertices linked through triangles).
inline int components(const Mesh &mesh)
{
    std::vector<int> parent(mesh.getNbVertices());
    std::iota(parent.begin(), parent.end(), 0);
    auto find = [&](int v) {
        while (parent[v] != v)
            v = parent[v] = parent[parent[v]];
        return v;
    };
    for (const Triangle &t : mesh.getTriangles()) {
        parent[find(t.vertex1)] = find(t.vertex2);
        parent[find(t.vertex2)] = find(t.vertex3);
    }
    int roots = 0;
    for (int v = 0; v < mesh.getNbVertices(); ++v)
        roots += find(v) == v;
    return roots;
}
// The consistency check, then the shape: finite positions, no vertex without a triangle, no
// triangle naming a vertex twice, one or two triangles on every edge (two on a closed mesh), and
// on an open mesh a border made of simple curves. Empty when sound, else the first problem.
QString soundness(const Mesh &mesh, bool closed);

} // namespace TestMeshes
