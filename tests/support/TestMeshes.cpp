#include "TestMeshes.h"

#include "mesh/MeshCheck.h"

#include <cmath>
#include <cstdint>
#include <numeric>
#include <tuple>
#include <unordered_map>

namespace TestMeshes {

IcosphereData icosphereData(int level)
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

std::unique_ptr<Mesh> rawMeshFromArrays(
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

// The fields compared exactly, and the record as text for a message.
auto fields(const Vertex &v)
{
    return std::tie(v.id, v.position, v.triangleIndices, v.ringIndices);
}
auto fields(const Triangle &t)
{
    return std::tie(t.id, t.vertex1, t.vertex2, t.vertex3, t.aabb);
}
QString text(const QVector3D &v)
{
    return QString::asprintf("(%.9g %.9g %.9g)", v.x(), v.y(), v.z());
}
QString text(const IndexList &list)
{
    QStringList numbers;
    for (int i : list)
        numbers << QString::number(i);
    return numbers.join(u' ');
}
QString text(const Vertex &v)
{
    return QStringLiteral("id %1 at %2 normal %3 triangles [%4] ring [%5]")
        .arg(QString::number(v.id), text(v.position), text(v.normal), text(v.triangleIndices),
            text(v.ringIndices));
}
QString text(const Triangle &t)
{
    return QString::asprintf(
               "id %d corners %d %d %d normal ", t.id, t.vertex1, t.vertex2, t.vertex3)
        + text(t.normal) + " box " + text(t.aabb.min) + text(t.aabb.max);
}

template<class Record>
QString firstDifference(const char *kind, const std::vector<Record> &expected,
    const std::vector<Record> &actual, float normalTolerance)
{
    for (std::size_t i = 0; i < actual.size(); ++i) {
        const Record &e = expected[i], &a = actual[i];
        if (fields(a) != fields(e)
            || (normalTolerance > 0.0f ? (a.normal - e.normal).length() > normalTolerance
                                       : a.normal != e.normal))
            return QStringLiteral("%1 %2: %3; expected %4")
                .arg(kind, QString::number(i), text(a), text(e));
    }
    return {};
}

} // namespace

QString compareWithSnapshot(const MeshSnapshot &expected, const Mesh &mesh, float normalTolerance)
{
    const auto &vertices = mesh.getVertices();
    const auto &triangles = mesh.getTriangles();
    if (expected.vertices.size() != vertices.size()
        || expected.triangles.size() != triangles.size())
        return QString::asprintf("counts %zu vertices, %zu triangles; expected %zu, %zu",
            vertices.size(), triangles.size(), expected.vertices.size(), expected.triangles.size());
    const QString difference =
        firstDifference("vertex", expected.vertices, vertices, normalTolerance);
    return difference.isEmpty()
        ? firstDifference("triangle", expected.triangles, triangles, normalTolerance)
        : difference;
}

std::map<std::pair<int, int>, int> edgeCounts(const Mesh &mesh)
{
    std::map<std::pair<int, int>, int> counts;
    for (const Triangle &t : mesh.getTriangles())
        if (t.visitStamp >= 0)
            for (const auto &[a, b] :
                {std::pair(t.vertex1, t.vertex2), {t.vertex2, t.vertex3}, {t.vertex3, t.vertex1}})
                ++counts[std::minmax(a, b)];
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
    if (const QString problem = checkMesh(mesh); !problem.isEmpty())
        return problem;
    for (const Vertex &v : mesh.getVertices())
        if (!std::isfinite(v.position.x()) || !std::isfinite(v.position.y())
            || !std::isfinite(v.position.z()) || v.triangleIndices.empty())
            return QStringLiteral("vertex %1 is at %2 with %3 triangles")
                .arg(v.id)
                .arg(text(v.position))
                .arg(v.triangleIndices.size());
    for (const Triangle &t : mesh.getTriangles())
        if (t.vertex1 == t.vertex2 || t.vertex2 == t.vertex3 || t.vertex1 == t.vertex3)
            return QStringLiteral("triangle %1 names a vertex twice").arg(t.id);
    std::map<int, int> borderEdgesAt;
    for (const auto &[edge, count] : edgeCounts(mesh)) {
        if (count > 2 || (closed && count != 2))
            return QString::asprintf("edge %d-%d has %d triangles", edge.first, edge.second, count);
        if (count == 1)
            ++borderEdgesAt[edge.first], ++borderEdgesAt[edge.second];
    }
    if (!closed && mesh.getNbTriangles() > 0 && borderEdgesAt.empty())
        return QStringLiteral("the open mesh has no border left");
    // The border stays a set of simple curves: no vertex pinches two of its stretches.
    for (const auto &[v, count] : borderEdgesAt)
        if (count != 2)
            return QString::asprintf("border vertex %d has %d border edges", v, count);
    return {};
}

} // namespace TestMeshes
