#include "TestMeshes.h"

#include "mesh/MeshCheck.h"

#include <cmath>

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
        auto midpoint = [&data, &midpoints](int a, int b) {
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
            const int a = midpoint(t[0], t[1]), b = midpoint(t[1], t[2]), c = midpoint(t[2], t[0]);
            next.insert(next.end(), {{t[0], a, c}, {t[1], b, a}, {t[2], c, b}, {a, b, c}});
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
    mesh->reserveRecords(positions.size(), triangles.size());
    for (int i = 0; i < int(positions.size()); ++i)
        vertices.emplace_back(positions[i], i);
    for (int i = 0; i < int(triangles.size()); ++i) {
        const auto &t = triangles[i];
        mesh->getTriangles().emplace_back(
            QVector3D::normal(positions[t[0]], positions[t[1]], positions[t[2]]), t[0], t[1], t[2],
            i);
        for (int corner : t)
            vertices[corner].addTriangle(i);
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
    return meshFromArrays({{1, 1, 1}, {1, -1, -1}, {-1, 1, -1}, {-1, -1, 1}},
        {{0, 1, 2}, {0, 3, 1}, {0, 2, 3}, {1, 3, 2}});
}

std::unique_ptr<Mesh> makeGrid(int n)
{
    return makeStackedGrids(n, 1, 0.0f);
}

std::unique_ptr<Mesh> makeIcosphere(int level)
{
    const IcosphereData data = icosphereData(level);
    return meshFromArrays(data.positions, data.triangles);
}

std::unique_ptr<Mesh> makeStackedGrids(int n, int sheets, float gap, bool facing)
{
    std::vector<QVector3D> positions;
    std::vector<std::array<int, 3>> triangles;
    const int side = n + 1;
    for (int k = 0; k < sheets; ++k) {
        const int base = k * side * side;
        for (int j = 0; j <= n; ++j) {
            for (int i = 0; i <= n; ++i)
                positions.emplace_back(float(i), float(j), k * gap);
        }
        const bool down = facing && k % 2;
        for (int j = 0; j < n; ++j) {
            for (int i = 0; i < n; ++i) {
                const int a = base + j * side + i;
                const int b = a + 1, c = a + side, d = c + 1;
                triangles.push_back(down ? std::array<int, 3> {a, d, b} : std::array {a, b, d});
                triangles.push_back(down ? std::array<int, 3> {a, c, d} : std::array {a, d, c});
            }
        }
    }
    return meshFromArrays(positions, triangles);
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

bool same(const QVector3D &a, const QVector3D &b, float tolerance = 0.0f)
{
    if (tolerance > 0.0f)
        return (a - b).length() <= tolerance;
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

QString compareWithSnapshot(const MeshSnapshot &expected, const Mesh &mesh, float normalTolerance)
{
    const auto &vertices = mesh.getVertices();
    const auto &triangles = mesh.getTriangles();
    if (expected.vertices.size() != vertices.size()
        || expected.triangles.size() != triangles.size())
        return QStringLiteral("counts %1 vertices, %2 triangles; expected %3, %4")
            .arg(vertices.size())
            .arg(triangles.size())
            .arg(expected.vertices.size())
            .arg(expected.triangles.size());
    for (std::size_t i = 0; i < vertices.size(); ++i) {
        const Vertex &e = expected.vertices[i];
        const Vertex &a = vertices[i];
        QString what;
        if (e.id != a.id)
            what = QStringLiteral("id %1").arg(a.id);
        else if (!same(e.position, a.position))
            what =
                QStringLiteral("position %1, expected %2").arg(text(a.position), text(e.position));
        else if (!same(e.normal, a.normal, normalTolerance))
            what = QStringLiteral("normal %1, expected %2").arg(text(a.normal), text(e.normal));
        else if (e.triangleIndices != a.triangleIndices)
            what = QStringLiteral("triangle list differs");
        else if (e.ringIndices != a.ringIndices)
            what = QStringLiteral("ring list differs");
        if (!what.isEmpty())
            return QStringLiteral("vertex %1: %2").arg(i).arg(what);
    }
    for (std::size_t i = 0; i < triangles.size(); ++i) {
        const Triangle &e = expected.triangles[i];
        const Triangle &a = triangles[i];
        QString what;
        if (e.id != a.id)
            what = QStringLiteral("id %1").arg(a.id);
        else if (e.vertex1 != a.vertex1 || e.vertex2 != a.vertex2 || e.vertex3 != a.vertex3)
            what = QStringLiteral("corners (%1, %2, %3), expected (%4, %5, %6)")
                       .arg(a.vertex1)
                       .arg(a.vertex2)
                       .arg(a.vertex3)
                       .arg(e.vertex1)
                       .arg(e.vertex2)
                       .arg(e.vertex3);
        else if (!same(e.normal, a.normal, normalTolerance))
            what = QStringLiteral("normal %1, expected %2").arg(text(a.normal), text(e.normal));
        else if (!same(e.aabb.min, a.aabb.min) || !same(e.aabb.max, a.aabb.max))
            what = QStringLiteral("box differs");
        if (!what.isEmpty())
            return QStringLiteral("triangle %1: %2").arg(i).arg(what);
    }
    return {};
}

std::map<std::pair<int, int>, int> edgeCounts(const Mesh &mesh)
{
    std::map<std::pair<int, int>, int> counts;
    for (const Triangle &t : mesh.getTriangles()) {
        if (t.visitStamp < 0)
            continue;
        const int c[3] = {t.vertex1, t.vertex2, t.vertex3};
        for (int e = 0; e < 3; ++e)
            ++counts[std::minmax(c[e], c[(e + 1) % 3])];
    }
    return counts;
}

int components(const Mesh &mesh)
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

QString soundness(const Mesh &mesh, bool closed)
{
    const QString problem = checkMesh(mesh);
    if (!problem.isEmpty())
        return problem;
    for (const Vertex &v : mesh.getVertices()) {
        const QVector3D &p = v.position;
        if (!std::isfinite(p.x()) || !std::isfinite(p.y()) || !std::isfinite(p.z()))
            return QStringLiteral("vertex %1 has a position that is not finite").arg(v.id);
        if (v.triangleIndices.empty())
            return QStringLiteral("vertex %1 has no triangle").arg(v.id);
    }
    for (const Triangle &t : mesh.getTriangles()) {
        if (t.vertex1 == t.vertex2 || t.vertex2 == t.vertex3 || t.vertex1 == t.vertex3)
            return QStringLiteral("triangle %1 names a vertex twice").arg(t.id);
    }
    std::map<int, int> borderEdgesAt;
    for (const auto &[edge, count] : edgeCounts(mesh)) {
        if (count > 2 || (closed && count != 2))
            return QStringLiteral("edge %1-%2 has %3 triangles")
                .arg(edge.first)
                .arg(edge.second)
                .arg(count);
        if (count == 1) {
            ++borderEdgesAt[edge.first];
            ++borderEdgesAt[edge.second];
        }
    }
    if (!closed && mesh.getNbTriangles() > 0 && borderEdgesAt.empty())
        return QStringLiteral("the open mesh has no border left");
    // The border stays a set of simple curves: no vertex pinches two of its stretches.
    for (const auto &[v, count] : borderEdgesAt) {
        if (count != 2)
            return QStringLiteral("border vertex %1 has %2 border edges").arg(v).arg(count);
    }
    return {};
}

} // namespace TestMeshes
