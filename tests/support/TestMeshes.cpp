#include "TestMeshes.h"

#include <cstdint>
#include <numeric>
#include <unordered_map>

namespace TestMeshes {

IcosphereData icosphereData(int level)
{
    IcosphereData data;
    const float t = (1.0f + std::sqrt(5.0f)) / 2.0f;
    data.positions = {{-1, t, 0}, {1, t, 0}, {-1, -t, 0}, {1, -t, 0}, {0, -1, t}, {0, 1, t},
        {0, -1, -t}, {0, 1, -t}, {t, 0, -1}, {t, 0, 1}, {-t, 0, -1}, {-t, 0, 1}};
    for (QVector3D &p : data.positions)
        p.normalize();
    data.triangles = {{0, 11, 5}, {0, 5, 1}, {0, 1, 7}, {0, 7, 10}, {0, 10, 11}, {1, 5, 9},
        {5, 11, 4}, {11, 10, 2}, {10, 7, 6}, {7, 1, 8}, {3, 9, 4}, {3, 4, 2}, {3, 2, 6}, {3, 6, 8},
        {3, 8, 9}, {4, 9, 5}, {2, 4, 11}, {6, 2, 10}, {8, 6, 7}, {9, 8, 1}};

    for (int l = 0; l < level; ++l) {
        std::unordered_map<std::uint64_t, int> midpoints;
        midpoints.reserve(data.triangles.size() * 3 / 2);
        auto midpoint = [&data, &midpoints](int a, int b) {
            const std::uint64_t key = (static_cast<std::uint64_t>(std::min(a, b)) << 32)
                | static_cast<std::uint32_t>(std::max(a, b));
            auto it = midpoints.find(key);
            if (it != midpoints.end())
                return it->second;
            const int index = static_cast<int>(data.positions.size());
            data.positions.push_back(((data.positions[a] + data.positions[b]) * 0.5f).normalized());
            midpoints.emplace(key, index);
            return index;
        };
        std::vector<std::array<int, 3>> next;
        next.reserve(data.triangles.size() * 4);
        for (const auto &tri : data.triangles) {
            const int a = midpoint(tri[0], tri[1]);
            const int b = midpoint(tri[1], tri[2]);
            const int c = midpoint(tri[2], tri[0]);
            next.push_back({tri[0], a, c});
            next.push_back({tri[1], b, a});
            next.push_back({tri[2], c, b});
            next.push_back({a, b, c});
        }
        data.triangles.swap(next);
    }
    return data;
}

std::unique_ptr<Mesh> rawMeshFromArrays(
    const std::vector<QVector3D> &positions, const std::vector<std::array<int, 3>> &triangles)
{
    auto mesh = std::make_unique<Mesh>();
    std::vector<Vertex> &vertices = mesh->getVertices();
    std::vector<Triangle> &tris = mesh->getTriangles();
    mesh->reserveRecords(positions.size(), triangles.size());
    for (int i = 0; i < static_cast<int>(positions.size()); ++i)
        vertices.emplace_back(positions[i], i);
    for (int i = 0; i < static_cast<int>(triangles.size()); ++i) {
        const auto &t = triangles[i];
        tris.emplace_back(QVector3D::normal(positions[t[0]], positions[t[1]], positions[t[2]]),
            t[0], t[1], t[2], i);
        vertices[t[0]].addTriangle(i);
        vertices[t[1]].addTriangle(i);
        vertices[t[2]].addTriangle(i);
    }
    return mesh;
}

std::unique_ptr<Mesh> meshFromArrays(
    const std::vector<QVector3D> &positions, const std::vector<std::array<int, 3>> &triangles)
{
    auto mesh = rawMeshFromArrays(positions, triangles);
    mesh->initTopology();
    mesh->initVBO();
    mesh->moveTo(QVector3D(0.0f, 0.0f, 0.0f));
    return mesh;
}

std::unique_ptr<Mesh> makeTetrahedron()
{
    const std::vector<QVector3D> positions = {{1, 1, 1}, {1, -1, -1}, {-1, 1, -1}, {-1, -1, 1}};
    const std::vector<std::array<int, 3>> triangles = {{0, 1, 2}, {0, 3, 1}, {0, 2, 3}, {1, 3, 2}};
    return meshFromArrays(positions, triangles);
}

std::unique_ptr<Mesh> makeGrid(int n)
{
    std::vector<QVector3D> positions;
    std::vector<std::array<int, 3>> triangles;
    positions.reserve((n + 1) * (n + 1));
    for (int j = 0; j <= n; ++j) {
        for (int i = 0; i <= n; ++i)
            positions.emplace_back(float(i), float(j), 0.0f);
    }
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            const int a = j * (n + 1) + i;
            const int b = a + 1;
            const int c = a + n + 1;
            const int d = c + 1;
            triangles.push_back({a, b, d});
            triangles.push_back({a, d, c});
        }
    }
    return meshFromArrays(positions, triangles);
}

std::unique_ptr<Mesh> makeIcosphere(int level)
{
    const IcosphereData data = icosphereData(level);
    return meshFromArrays(data.positions, data.triangles);
}

std::vector<int> allVertices(const Mesh &mesh)
{
    std::vector<int> list(mesh.getNbVertices());
    std::iota(list.begin(), list.end(), 0);
    return list;
}

std::vector<int> allTriangles(const Mesh &mesh)
{
    std::vector<int> list(mesh.getNbTriangles());
    std::iota(list.begin(), list.end(), 0);
    return list;
}

std::vector<QVector3D> positions(const Mesh &mesh)
{
    std::vector<QVector3D> result;
    for (const Vertex &v : mesh.getVertices())
        result.push_back(v.position);
    return result;
}

MeshSnapshot snapshot(const Mesh &mesh)
{
    return MeshSnapshot {mesh.getVertices(), mesh.getTriangles()};
}

namespace {

bool same(const QVector3D &a, const QVector3D &b)
{
    return a.x() == b.x() && a.y() == b.y() && a.z() == b.z();
}

QString text(const QVector3D &v)
{
    return QStringLiteral("(%1, %2, %3)")
        .arg(v.x(), 0, 'g', 9)
        .arg(v.y(), 0, 'g', 9)
        .arg(v.z(), 0, 'g', 9);
}

} // namespace

QString compareWithSnapshot(const MeshSnapshot &expected, const Mesh &mesh)
{
    const auto &vertices = mesh.getVertices();
    const auto &triangles = mesh.getTriangles();
    if (expected.vertices.size() != vertices.size())
        return QStringLiteral("vertex count %1, expected %2")
            .arg(vertices.size())
            .arg(expected.vertices.size());
    if (expected.triangles.size() != triangles.size())
        return QStringLiteral("triangle count %1, expected %2")
            .arg(triangles.size())
            .arg(expected.triangles.size());
    for (std::size_t i = 0; i < vertices.size(); ++i) {
        const Vertex &e = expected.vertices[i];
        const Vertex &a = vertices[i];
        if (e.id != a.id)
            return QStringLiteral("vertex %1: id %2, expected %3").arg(i).arg(a.id).arg(e.id);
        if (!same(e.position, a.position))
            return QStringLiteral("vertex %1: position %2, expected %3")
                .arg(i)
                .arg(text(a.position), text(e.position));
        if (!same(e.normal, a.normal))
            return QStringLiteral("vertex %1: normal %2, expected %3")
                .arg(i)
                .arg(text(a.normal), text(e.normal));
        if (e.triangleIndices != a.triangleIndices)
            return QStringLiteral("vertex %1: triangle list differs").arg(i);
        if (e.ringIndices != a.ringIndices)
            return QStringLiteral("vertex %1: ring list differs").arg(i);
    }
    for (std::size_t i = 0; i < triangles.size(); ++i) {
        const Triangle &e = expected.triangles[i];
        const Triangle &a = triangles[i];
        if (e.id != a.id)
            return QStringLiteral("triangle %1: id %2, expected %3").arg(i).arg(a.id).arg(e.id);
        if (e.vertex1 != a.vertex1 || e.vertex2 != a.vertex2 || e.vertex3 != a.vertex3)
            return QStringLiteral("triangle %1: corners (%2, %3, %4), expected (%5, %6, %7)")
                .arg(i)
                .arg(a.vertex1)
                .arg(a.vertex2)
                .arg(a.vertex3)
                .arg(e.vertex1)
                .arg(e.vertex2)
                .arg(e.vertex3);
        if (!same(e.normal, a.normal))
            return QStringLiteral("triangle %1: normal %2, expected %3")
                .arg(i)
                .arg(text(a.normal), text(e.normal));
        if (!same(e.aabb.min, a.aabb.min) || !same(e.aabb.max, a.aabb.max))
            return QStringLiteral("triangle %1: box differs").arg(i);
    }
    return {};
}

} // namespace TestMeshes
