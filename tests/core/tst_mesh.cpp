// The mesh container: the loading pipeline (scale, centre, boxes, rings, octree) and its parallel
// steps against their serial forms, neighbourhood queries, the GPU seam, and the consistency
// check finding each kind of fault.

#include "MeshAsserts.h"
#include "TestMeshes.h"

#include <QtTest>

#include <omp.h>

#include <cmath>
#include <functional>
#include <numbers>

using IntList = std::vector<int>;
using Positions = std::vector<QVector3D>;
using Faces = std::vector<std::array<int, 3>>;
Q_DECLARE_METATYPE(IntList)
Q_DECLARE_METATYPE(Positions)
Q_DECLARE_METATYPE(Faces)
using namespace TestMeshes;

namespace {

// Records the calls that the mesh makes on its GPU half; capacities twice the counts built.
class RecordingGpu : public MeshGpu
{
public:
    explicit RecordingGpu(QStringList *log)
        : log(log)
    { }
    void build(const Mesh &mesh) override
    {
        *log << QStringLiteral("build %1 %2").arg(mesh.getNbVertices()).arg(mesh.getNbTriangles());
        triangles = 2 * mesh.getNbTriangles();
        vertices = 2 * mesh.getNbVertices();
    }
    void initShaders(const Mesh &mesh) override
    {
        *log << QStringLiteral("shaders %1").arg(mesh.getShaderType());
    }
    int triangleCapacity() const override { return triangles; }
    int vertexCapacity() const override { return vertices; }
    void patchIndices(const Mesh &, const std::vector<int> &list) override
    {
        *log << QStringLiteral("indices %1").arg(list.size());
    }
    void patchPositions(const Mesh &, const std::vector<int> &list) override
    {
        *log << QStringLiteral("positions %1").arg(list.size());
    }
    void patchNormals(const Mesh &mesh, const std::vector<int> &list) override
    {
        // Normals must be final when they are patched.
        for (int i : list) {
            QVector3D sum;
            for (int t : mesh.getVertex(i).triangleIndices)
                sum += mesh.getTriangle(t).normal;
            if (mesh.getVertex(i).normal != sum.normalized())
                *log << QStringLiteral("stale normal %1").arg(i);
        }
        *log << QStringLiteral("normals %1").arg(list.size());
    }
    QStringList *log;
    int triangles = 0, vertices = 0;
};

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
    auto box = [](const Aabb &b) {
        return QStringLiteral("%1 %2 %3 %4 %5 %6")
            .arg(b.min.x())
            .arg(b.min.y())
            .arg(b.min.z())
            .arg(b.max.x())
            .arg(b.max.y())
            .arg(b.max.z());
    };
    std::function<void(const Octree *)> visit = [&](const Octree *node) {
        order.push_back(node);
        QString line = QStringLiteral("depth %1 split %2 loose %3 list")
                           .arg(node->depth)
                           .arg(box(node->aabbSplit), box(node->aabbLoose));
        for (int t : node->triangleIndices)
            line += QLatin1Char(' ') + QString::number(t);
        lines << line;
        if (!node->isLeaf())
            for (const auto &child : node->children)
                visit(child.get());
    };
    visit(mesh.getOctree());
    for (const Triangle &t : mesh.getTriangles())
        lines << QStringLiteral("triangle %1 node %2 at %3")
                     .arg(t.id)
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
    void pipeline_data();
    void pipeline();
    void loadingRingsMatchRingComputation_data();
    void loadingRingsMatchRingComputation();
    void octreeIndependentOfThreads();
    void neighbourhood_data();
    void neighbourhood();
    void gpuSeam_data();
    void gpuSeam();
    void checkFindsFaults_data();
    void checkFindsFaults();
};

void TestMesh::pipeline_data()
{
    QTest::addColumn<Positions>("positions");
    QTest::addColumn<Faces>("triangles");
    QTest::addColumn<float>("scale");
    QTest::newRow("unit diagonal")
        << Positions {{0, 0, 0}, {1, 0, 0}, {0.5f, 0, 0}} << Faces {{0, 1, 2}} << 500.0f;
    QTest::newRow("offset box") << Positions {{100, 200, 300}, {103, 200, 300}, {100, 204, 300},
        {100, 200, 312}} << Faces {{0, 1, 2}, {0, 2, 3}, {0, 3, 1}, {1, 3, 2}}
                                << 500.0f / 13.0f;
    // Every vertex at one point: no division by zero, scale kept at 1, a small non-empty box.
    const QVector3D p(3, -2, 7);
    QTest::newRow("coincident vertices")
        << Positions {p, p, p, p} << Faces {{0, 1, 2}, {0, 2, 3}, {1, 3, 2}} << 1.0f;
    QTest::newRow("isolated vertex") << Positions {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {5, 5, 5}}
                                     << Faces {{0, 1, 2}} << float(500.0 / std::sqrt(75.0));
    QTest::newRow("empty") << Positions {} << Faces {} << 1.0f;
}

void TestMesh::pipeline()
{
    QFETCH(Positions, positions);
    QFETCH(Faces, triangles);
    QFETCH(float, scale);
    auto mesh = meshFromArrays(positions, triangles);
    QVERIFY(qFuzzyCompare(mesh->getScale(), scale));
    VERIFY_MESH(*mesh);
    if (positions.empty()) {
        QCOMPARE(mesh->getOctree(), nullptr);
        return;
    }
    Aabb box(mesh->getVertex(0).position, mesh->getVertex(0).position);
    for (int i = 0; i < mesh->getNbVertices(); ++i) {
        QCOMPARE(mesh->getVertex(i).position, positions[i] * mesh->getScale());
        box.expandsWithPoint(mesh->getVertex(i).position);
        QVERIFY(std::isfinite(mesh->getVertex(i).normal.x()));
    }
    // Model matrix: a pure translation by minus the centre of the scaled box.
    QVERIFY(qFuzzyCompare(mesh->getCenter(), box.computeCenter()));
    QMatrix4x4 expected;
    expected.translate(-mesh->getCenter());
    QCOMPARE(mesh->getTransformation(), expected);
    QVERIFY(
        std::equal(expected.constData(), expected.constData() + 16, mesh->getTransformationData()));
    // The root holds every triangle centre, within the points' box and its margin, never flat.
    const Aabb &root = mesh->getOctree()->aabbSplit;
    for (int k = 0; k < 3; ++k)
        QVERIFY(
            root.max[k] > root.min[k] && std::isfinite(root.min[k]) && std::isfinite(root.max[k]));
    for (const Triangle &t : mesh->getTriangles())
        QVERIFY(root.containsPoint(t.aabb.computeCenter()));
    if (scale != 1.0f)
        QVERIFY(box.contains(root));
    for (const Vertex &v : mesh->getVertices()) {
        if (v.triangleIndices.empty())
            QVERIFY(v.ringIndices.empty() && v.normal.isNull());
    }
}

void TestMesh::loadingRingsMatchRingComputation_data()
{
    QTest::addColumn<QString>("kind");
    for (const char *kind : {"icosphere", "grid with border", "small fan", "fan of 32", "fan of 33",
             "large fan", "cone", "damaged"})
        QTest::newRow(kind) << QString::fromLatin1(kind);
}

// The rings computed for all vertices at once while loading are the lists that
// computeRingVertices gives, order included, on every kind of fan.
void TestMesh::loadingRingsMatchRingComputation()
{
    QFETCH(QString, kind);
    Positions positions;
    Faces faces;
    if (kind.contains("fan"))
        fan(kind == "small fan"       ? 5
                : kind == "large fan" ? 500
                                      : kind.right(2).toInt(),
            false, positions, faces);
    else if (kind == "cone")
        fan(40, true, positions, faces);
    else if (kind == "damaged") {
        // A fan repeated with flipped triangles, a repeated triangle, a triangle with a repeated
        // corner, and a vertex used by nothing.
        fan(40, false, positions, faces);
        const Faces copy = faces;
        for (const auto &f : copy)
            faces.push_back({f[0], f[2], f[1]});
        faces.push_back({0, 3, 3});
        faces.push_back(copy[7]);
        positions.emplace_back(5.0f, 5.0f, 5.0f);
    }
    auto mesh = kind == "icosphere"  ? makeIcosphere(3)
        : kind == "grid with border" ? makeGrid(9)
                                     : meshFromArrays(positions, faces);
    for (int i = 0; i < mesh->getNbVertices(); ++i) {
        const IntList loaded = mesh->getVertex(i).ringIndices;
        mesh->computeRingVertices(i);
        QCOMPARE(loaded, mesh->getVertex(i).ringIndices);
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
void TestMesh::neighbourhood_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<IntList>("input");
    QTest::addColumn<int>("rings");
    QTest::addColumn<IntList>("expected");
    QTest::newRow("ring of inner vertex")
        << "ring" << IntList {5} << 0 << IntList {0, 1, 4, 6, 9, 10};
    QTest::newRow("ring of corner") << "ring" << IntList {0} << 0 << IntList {1, 5, 4};
    QTest::newRow("vertices of triangles, one repeated")
        << "vertices" << IntList {3, 3, 2} << 0 << IntList {1, 6, 5, 2};
    QTest::newRow("triangles of vertices")
        << "triangles" << IntList {0, 5} << 0 << IntList {0, 1, 3, 6, 8, 9};
    QTest::newRow("expand vertices n=-1") << "expandVertices" << IntList {5} << -1 << IntList {5};
    QTest::newRow("expand vertices n=1, input overlaps ring")
        << "expandVertices" << IntList {5, 1} << 1 << IntList {5, 1, 0, 4, 6, 9, 10, 2};
    QTest::newRow("expand vertices n=2")
        << "expandVertices" << IntList {0} << 2 << IntList {0, 1, 5, 4, 2, 6, 9, 10, 8};
    QTest::newRow("expand vertices past the whole mesh")
        << "expandVertices" << IntList {0} << 20
        << IntList {0, 1, 5, 4, 2, 6, 9, 10, 8, 3, 7, 11, 13, 14, 15, 12};
    QTest::newRow("expand triangles n=1")
        << "expandTriangles" << IntList {0} << 1 << IntList {0, 1, 2, 3, 6, 8, 9};
}

void TestMesh::neighbourhood()
{
    QFETCH(QString, query);
    QFETCH(IntList, input);
    QFETCH(int, rings);
    QFETCH(IntList, expected);
    auto mesh = makeGrid(3);
    const auto before = snapshot(*mesh);
    // Run twice: stamps of the first run must not leak into the second.
    for (int run = 0; run < 2; ++run) {
        IntList result = input;
        if (query == "ring") {
            mesh->computeRingVertices(input[0]);
            result = mesh->getVertex(input[0]).ringIndices;
        } else if (query == "vertices") {
            result = mesh->getVerticesFromTriangles(input);
        } else if (query == "triangles") {
            result = mesh->getTrianglesFromVertices(input);
        } else if (query == "expandVertices") {
            mesh->expandVertices(result, rings);
        } else {
            mesh->expandTriangles(result, rings);
        }
        QCOMPARE(result, expected);
    }
    VERIFY_SAME(before, *mesh);
}

void TestMesh::gpuSeam_data()
{
    QTest::addColumn<int>("added"); // triangles appended to the tetrahedron
    QTest::addColumn<QStringList>("calls");
    QTest::newRow("no growth: patched, normals last")
        << 0 << QStringList {"indices 0", "positions 4", "normals 4"};
    QTest::newRow("exactly twice: patched")
        << 4 << QStringList {"indices 4", "positions 4", "normals 4"};
    QTest::newRow("one more than twice: rebuilt") << 5 << QStringList {"build 4 9", "shaders 2"};
}

void TestMesh::gpuSeam()
{
    QFETCH(int, added);
    QFETCH(QStringList, calls);
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

void TestMesh::checkFindsFaults_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("expected"); // part of the message
    QTest::newRow("vertex id") << "vertex id"
                               << "vertex 2 has id 7";
    QTest::newRow("triangle id") << "triangle id"
                                 << "triangle 3 has id -1";
    QTest::newRow("corner out of range") << "corner"
                                         << "out of range";
    QTest::newRow("missing from a corner's list") << "missing"
                                                  << "missing from the list";
    QTest::newRow("listed by a vertex it does not use") << "stale"
                                                        << "does not use it";
    QTest::newRow("listed twice by a corner") << "twice"
                                              << "2 times instead of 1";
    QTest::newRow("ring lacks a neighbour") << "ring short"
                                            << "ring of vertex";
    QTest::newRow("ring names a neighbour twice") << "ring twice"
                                                  << "twice in its ring";
    QTest::newRow("wrong leaf index") << "leaf index"
                                      << "at its leaf index";
    QTest::newRow("no leaf") << "no leaf"
                             << "in no octree leaf";
    QTest::newRow("leaf outside the tree") << "foreign leaf"
                                           << "not a leaf of the octree";
    QTest::newRow("listed in a leaf twice") << "leaf twice"
                                            << "names another place";
    QTest::newRow("box outside the loose box") << "loose"
                                               << "not inside the loose box";
}

void TestMesh::checkFindsFaults()
{
    QFETCH(QString, fault);
    QFETCH(QString, expected);
    auto mesh = makeIcosphere(1);
    QVERIFY(checkMesh(*mesh).isEmpty());
    Octree foreign;
    Triangle &t = mesh->getTriangle(3);
    if (fault == "vertex id")
        mesh->getVertex(2).id = 7;
    else if (fault == "triangle id")
        t.id = -1;
    else if (fault == "corner")
        t.vertex2 = mesh->getNbVertices();
    else if (fault == "missing")
        mesh->getVertex(t.vertex1).removeTriangle(3);
    else if (fault == "stale")
        mesh->getVertex(t.vertex1 == 0 || t.vertex2 == 0 || t.vertex3 == 0 ? 1 : 0).addTriangle(3);
    else if (fault == "twice")
        mesh->getVertex(t.vertex1).addTriangle(3);
    else if (fault == "ring short")
        mesh->getVertex(5).ringIndices.pop_back();
    else if (fault == "ring twice")
        mesh->getVertex(5).addRingVertex(mesh->getVertex(5).ringIndices.front());
    else if (fault == "leaf index")
        std::swap(t.leafIndex, mesh->getTriangle(4).leafIndex);
    else if (fault == "no leaf")
        t.leaf = nullptr;
    else if (fault == "foreign leaf")
        t.leaf = &foreign;
    else if (fault == "leaf twice")
        t.leaf->triangleIndices.push_back(3);
    else if (fault == "loose")
        t.aabb.max += QVector3D(1000.0f, 0.0f, 0.0f);
    const QString problem = checkMesh(*mesh);
    QVERIFY2(problem.contains(expected), qPrintable(problem));
}

QTEST_GUILESS_MAIN(TestMesh)
#include "tst_mesh.moc"
