#include "TestMeshes.h"

#include "mesh/MeshCheck.h"

#include <tuple>

namespace TestMeshes {

namespace {

// The fields compared exactly.
auto fields(const Vertex &v)
{
    return std::tie(v.id, v.position, v.triangleIndices, v.ringIndices);
}
auto fields(const Triangle &t)
{
    return std::tie(t.id, t.vertex1, t.vertex2, t.vertex3, t.aabb);
}
template<class Record>
QString firstDifference(const char *kind, const std::vector<Record> &expected,
    const std::vector<Record> &actual, float normalTolerance)
{
    if (expected.size() != actual.size())
        return QString::asprintf(
            "%s count %zu, expected %zu", kind, actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i) {
        const Record &e = expected[i], &a = actual[i];
        if (fields(a) != fields(e)
            || (normalTolerance > 0.0f ? (a.normal - e.normal).length() > normalTolerance
                                       : a.normal != e.normal))
            return QStringLiteral("%1 %2 differs").arg(kind).arg(i);
    }
    return {};
}

} // namespace

QString compareWithSnapshot(const MeshSnapshot &expected, const Mesh &mesh, float normalTolerance)
{
    const QString d =
        firstDifference("vertex", expected.vertices, mesh.getVertices(), normalTolerance);
    return d.isEmpty()
        ? firstDifference("triangle", expected.triangles, mesh.getTriangles(), normalTolerance)
        : d;
}

QString soundness(const Mesh &mesh, bool closed)
{
    if (const QString problem = checkMesh(mesh); !problem.isEmpty())
        return problem;
    for (const Vertex &v : mesh.getVertices())
        if (!std::isfinite(v.position.x()) || !std::isfinite(v.position.y())
            || !std::isfinite(v.position.z()) || v.triangleIndices.empty())
            return QStringLiteral("vertex %1 is not finite or has no triangle").arg(v.id);
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
