// The mesh container: the loading pipeline (scale, centre, boxes, rings, octree) and its parallel
// steps against their serial forms, neighbourhood queries, the GPU seam, and the consistency
// check finding each kind of fault.

#include "MeshAsserts.h"
#include "RecordingGpu.h"
#include "TestMeshes.h"

#include <QtTest>

#include <omp.h>

#include <bit>
#include <cmath>
#include <functional>
#include <numbers>

using IntList = std::vector<int>;
using Positions = std::vector<QVector3D>;
using Faces = std::vector<std::array<int, 3>>;
using namespace TestMeshes;

namespace {

// A disc of n triangles around vertex 0, with a cone over it when `cone`.
void fan(int n, bool cone, Positions &positions, Faces &faces)
{
    positions = {{0, 0, 0}};
    for (int k = 0; k < n; ++k) {
        const float a = 2.0f * std::numbers::pi_v<float> * k / n;
        positions.emplace_back(std::cos(a), std::sin(a), 0.0f);
        faces.push_back({0, 1 + k, 1 + (k + 1) % n});
    }
    if (cone) {
        positions.emplace_back(0.0f, 0.0f, 1.0f);
        for (int k = 0; k < n; ++k)
            faces.push_back({n + 1, 1 + (k + 1) % n, 1 + k});
    }
}

// Every octree node in depth-first slot order: depth, boxes and list, then each triangle's place.
QStringList describeOctree(const Mesh &mesh)
{
    QStringList lines;
    std::vector<const Octree *> order;
    std::function<void(const Octree *)> visit = [&](const Octree *node) {
        order.push_back(node);
        QString line = QString::number(node->depth);
        for (const Aabb *b : {&node->aabbSplit, &node->aabbLoose})
            for (const QVector3D &p : {b->min, b->max})
                for (float f : {p.x(), p.y(), p.z()}) // the very floats, -0 apart from 0
                    line += QLatin1Char(' ') + QString::number(std::bit_cast<quint32>(f), 16);
        for (int t : node->triangleIndices)
            line += QLatin1Char(' ') + QString::number(t);
        lines << line;
        if (!node->isLeaf())
            for (const auto &child : node->children)
                visit(child.get());
    };
    visit(mesh.getOctree());
    for (const Triangle &t : mesh.getTriangles())
        lines << QString("%1 %2")
                     .arg(std::find(order.begin(), order.end(), t.leaf) - order.begin())
                     .arg(t.leafIndex);
    return lines;
}

} // namespace

class TestMesh : public QObject
{
    Q_OBJECT

private slots:
    void init() { Vertex::visitCounter = Triangle::visitCounter = 1; }
    void pipeline();
    void loadingRingsMatchRingComputation();
    void octreeIndependentOfThreads();
    void neighbourhood();
    void gpuSeam();
    void checkFindsFaults();
};

// An offset box, every vertex at one point (no division by zero, scale kept at 1, a small
// non-empty box), an isolated vertex, and the empty mesh.
void TestMesh::pipeline()
{
    const QVector3D p(3, -2, 7);
    const std::tuple<Positions, Faces, float> cases[] = {
        {{{100, 200, 300}, {103, 200, 300}, {100, 204, 300}, {100, 200, 312}},
            {{0, 1, 2}, {0, 2, 3}, {0, 3, 1}, {1, 3, 2}}, 500.0f / 13.0f},
        {{p, p, p, p}, {{0, 1, 2}, {0, 2, 3}, {1, 3, 2}}, 1.0f},
        {{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {5, 5, 5}}, {{0, 1, 2}}, float(500.0 / std::sqrt(75.0))},
        {{}, {}, 1.0f}};
    for (const auto &[positions, triangles, scale] : cases) {
        auto mesh = meshFromArrays(positions, triangles);
        QVERIFY(qFuzzyCompare(mesh->getScale(), scale));
        VERIFY_MESH(*mesh);
        if (positions.empty()) {
            QCOMPARE(mesh->getOctree(), nullptr);
            continue;
        }
        Aabb box(mesh->getVertex(0).position, mesh->getVertex(0).position);
        for (int i = 0; i < mesh->getNbVertices(); ++i) {
            QCOMPARE(mesh->getVertex(i).position, positions[i] * mesh->getScale());
            box.expandsWithPoint(mesh->getVertex(i).position);
            QVERIFY(std::isfinite(mesh->getVertex(i).normal.x()));
        }
        // Model matrix: a pure translation by minus the centre of the scaled box.
        QMatrix4x4 expected;
        expected.translate(-box.computeCenter());
        QVERIFY(qFuzzyCompare(mesh->getTransformation(), expected));
        // The root holds every triangle centre, within the points' box and its margin, never flat.
        const Aabb &root = mesh->getOctree()->aabbSplit;
        for (int k = 0; k < 3; ++k)
            QVERIFY(root.max[k] > root.min[k] && std::isfinite(root.max[k] - root.min[k]));
        for (const Triangle &t : mesh->getTriangles())
            QVERIFY(root.containsPoint(t.aabb.computeCenter()));
        if (scale != 1.0f)
            QVERIFY(box.contains(root));
        for (const Vertex &v : mesh->getVertices())
            QVERIFY(!v.triangleIndices.empty() || (v.ringIndices.empty() && v.normal.isNull()));
    }
}

// The rings computed for all vertices at once while loading are the lists that
// computeRingVertices gives, order included: on an icosphere, a grid with a border, fans of 5, 32,
// 33 and 500 triangles, a cone, and a damaged fan (repeated with flipped triangles, a repeated
// triangle, a triangle with a repeated corner, and a vertex used by nothing).
void TestMesh::loadingRingsMatchRingComputation()
{
    std::vector<std::unique_ptr<Mesh>> meshes;
    meshes.push_back(makeIcosphere(3));
    meshes.push_back(makeGrid(9));
    for (const auto &[n, cone, damaged] : {std::tuple {5, false, false}, {32, false, false},
             {33, false, false}, {500, false, false}, {40, true, false}, {40, false, true}}) {
        Positions positions;
        Faces faces;
        fan(n, cone, positions, faces);
        for (std::size_t k = 0, n = faces.size(); damaged && k < n; ++k)
            faces.push_back({faces[k][0], faces[k][2], faces[k][1]});
        if (damaged) {
            faces.insert(faces.end(), {{0, 3, 3}, faces[7]});
            positions.emplace_back(5.0f, 5.0f, 5.0f);
        }
        meshes.push_back(meshFromArrays(positions, faces));
    }
    for (const auto &mesh : meshes) {
        for (int i = 0; i < mesh->getNbVertices(); ++i) {
            const IntList loaded = mesh->getVertex(i).ringIndices;
            mesh->computeRingVertices(i);
            QCOMPARE(loaded, mesh->getVertex(i).ringIndices);
        }
    }
}

// The octree built by several threads is the tree one thread builds, node for node and list for
// list; so is a rebuild over the old root's own box, which must not be read after the old tree is
// freed (undo and redo rebuild that way).
void TestMesh::octreeIndependentOfThreads()
{
    const IcosphereData data = icosphereData(6);
    QVERIFY(data.triangles.size() > Octree::parallelBuildSize);
    const int before = omp_get_max_threads();
    const auto restore = qScopeGuard([before] { omp_set_num_threads(before); });
    omp_set_num_threads(1);
    const QStringList serial = describeOctree(*meshFromArrays(data.positions, data.triangles));
    omp_set_num_threads(4);
    auto mesh = meshFromArrays(data.positions, data.triangles);
    QCOMPARE(describeOctree(*mesh), serial);
    mesh->rebuildOctree(mesh->getOctree()->aabbSplit);
    QCOMPARE(describeOctree(*mesh), serial);
}

// Grid of 3 x 3 quads: vertex (i, j) is j * 4 + i; quad (i, j) gives triangles
// 2 (3j + i) = (a, a + 1, a + 5) and 2 (3j + i) + 1 = (a, a + 5, a + 4) with a = 4j + i.
// Each query twice (stamps of the first run must not leak into the second), the mesh unchanged.
void TestMesh::neighbourhood()
{
    const struct
    {
        const char *query;
        IntList input;
        int rings;
        IntList expected;
    } cases[] = {{"ring", {5}, 0, {0, 1, 4, 6, 9, 10}}, {"ring", {0}, 0, {1, 5, 4}},
        {"vertices", {3, 3, 2}, 0, {1, 6, 5, 2}}, {"triangles", {0, 5}, 0, {0, 1, 3, 6, 8, 9}},
        {"expandVertices", {5}, -1, {5}}, {"expandVertices", {5, 1}, 1, {5, 1, 0, 4, 6, 9, 10, 2}},
        {"expandVertices", {0}, 20, {0, 1, 5, 4, 2, 6, 9, 10, 8, 3, 7, 11, 13, 14, 15, 12}},
        {"expandTriangles", {0}, 1, {0, 1, 2, 3, 6, 8, 9}}};
    auto mesh = makeGrid(3);
    const auto before = snapshot(*mesh);
    for (const auto &[query, input, rings, expected] : cases) {
        for (int run = 0; run < 2; ++run) {
            IntList result = input;
            const QByteArray q = query;
            if (q == "ring") {
                mesh->computeRingVertices(input[0]);
                result = mesh->getVertex(input[0]).ringIndices;
            } else if (q == "vertices")
                result = mesh->getVerticesFromTriangles(input);
            else if (q == "triangles")
                result = mesh->getTrianglesFromVertices(input);
            else if (q == "expandVertices")
                mesh->expandVertices(result, rings);
            else
                mesh->expandTriangles(result, rings);
            QCOMPARE(result, expected);
        }
    }
    VERIFY_SAME(before, *mesh);
}

// Triangles appended to the tetrahedron: patched (normals last, and final) up to twice the
// capacity built, rebuilt beyond.
void TestMesh::gpuSeam()
{
    for (const auto &[added, calls] :
        {std::pair {0, QStringList {"indices 0", "positions 4", "normals 4"}},
            {4, QStringList {"indices 4", "positions 4", "normals 4"}},
            {5, QStringList {"build 4 9", "shaders 2"}}}) {
        auto mesh = makeTetrahedron();
        QStringList log;
        mesh->setGpu(std::make_unique<RecordingGpu>(&log));
        mesh->initVBO();
        mesh->initShaders(2);
        QCOMPARE(log, QStringList({"build 4 4", "shaders 0", "shaders 2"}));
        log.clear();
        IntList triangles;
        for (int k = 0; k < added; ++k) {
            // A copy of a triangle appended as the dynamic topology appends records.
            Triangle t = mesh->getTriangle(k % 4);
            t.id = mesh->getNbTriangles();
            t.leaf = nullptr;
            t.leafIndex = -1;
            mesh->getTriangles().push_back(t);
            for (int corner : {t.vertex1, t.vertex2, t.vertex3})
                mesh->getVertex(corner).addTriangle(t.id);
            triangles.push_back(t.id);
        }
        mesh->getVertex(0).position *= 1.1f;
        for (int i = 0; i < 4; ++i)
            mesh->computeRingVertices(i);
        mesh->updateMesh(triangles, {0, 1, 2, 3});
        QCOMPARE(log, calls);
        VERIFY_MESH(*mesh);
    }
}

// Each kind of fault the consistency check looks for, made on a sound icosphere: the check names
// it.
void TestMesh::checkFindsFaults()
{
    Octree foreign;
    const std::pair<const char *, std::function<void(Mesh &, Triangle &)>> faults[] = {
        {"vertex 2 has id 7", [](Mesh &m, Triangle &) { m.getVertex(2).id = 7; }},
        {"triangle 3 has id -1", [](Mesh &, Triangle &t) { t.id = -1; }},
        {"out of range", [](Mesh &m, Triangle &t) { t.vertex2 = m.getNbVertices(); }},
        {"missing from the list",
            [](Mesh &m, Triangle &t) { m.getVertex(t.vertex1).removeTriangle(3); }},
        {"does not use it",
            [](Mesh &m, Triangle &t) {
                m.getVertex(t.vertex1 == 0 || t.vertex2 == 0 || t.vertex3 == 0 ? 1 : 0)
                    .addTriangle(3);
            }},
        {"2 times instead of 1",
            [](Mesh &m, Triangle &t) { m.getVertex(t.vertex1).addTriangle(3); }},
        {"ring of vertex", [](Mesh &m, Triangle &) { m.getVertex(5).ringIndices.pop_back(); }},
        {"twice in its ring",
            [](Mesh &m, Triangle &) {
                m.getVertex(5).addRingVertex(m.getVertex(5).ringIndices.front());
            }},
        {"at its leaf index",
            [](Mesh &m, Triangle &t) { std::swap(t.leafIndex, m.getTriangle(4).leafIndex); }},
        {"in no octree leaf", [](Mesh &, Triangle &t) { t.leaf = nullptr; }},
        {"not a leaf of the octree", [&](Mesh &, Triangle &t) { t.leaf = &foreign; }},
        {"names another place", [](Mesh &, Triangle &t) { t.leaf->triangleIndices.push_back(3); }},
        {"not inside the loose box",
            [](Mesh &, Triangle &t) { t.aabb.max += QVector3D(1000, 0, 0); }}};
    for (const auto &[expected, fault] : faults) {
        auto mesh = makeIcosphere(1);
        VERIFY_MESH(*mesh);
        fault(*mesh, mesh->getTriangle(3));
        const QString problem = checkMesh(*mesh);
        QVERIFY2(problem.contains(expected), qPrintable(expected + (" / " + problem)));
    }
}

QTEST_GUILESS_MAIN(TestMesh)
#include "tst_mesh.moc"
