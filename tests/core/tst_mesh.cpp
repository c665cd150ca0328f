#include "MeshAsserts.h"
#include "TestMeshes.h"
#include "geometry/Geometry.h"
#include "mesh/Mesh.h"
#include "mesh/MeshCheck.h"

#include <QtTest>

#include <array>
#include <cmath>
#include <memory>
#include <vector>

using IntList = std::vector<int>;
using PositionList = std::vector<QVector3D>;
using TriangleList = std::vector<std::array<int, 3>>;
Q_DECLARE_METATYPE(IntList)
Q_DECLARE_METATYPE(PositionList)
Q_DECLARE_METATYPE(TriangleList)

using namespace TestMeshes;

namespace {

// Records the calls that the mesh makes on its GPU half.
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
    int triangles = 0;
    int vertices = 0;
};

Aabb positionsBox(const Mesh &mesh)
{
    const auto &v = mesh.getVertices();
    Aabb box(v[0].position, v[0].position);
    for (const Vertex &vertex : v)
        box.expandsWithPoint(vertex.position);
    return box;
}

// Appends a copy of triangle `source` (same corners) as a new triangle, as the dynamic topology
// appends records.
int appendCopy(Mesh &mesh, int source)
{
    auto &triangles = mesh.getTriangles();
    const int id = mesh.getNbTriangles();
    Triangle t = triangles[source];
    t.id = id;
    t.leaf = nullptr;
    t.leafIndex = -1;
    triangles.push_back(t);
    for (int corner : {t.vertex1, t.vertex2, t.vertex3})
        mesh.getVertex(corner).addTriangle(id);
    return id;
}

} // namespace

class TestMesh : public QObject
{
    Q_OBJECT

private slots:
    void init() { Vertex::visitCounter = Triangle::visitCounter = 1; }

    void pipeline_data();
    void pipeline();
    void flatMeshBox();
    void coincidentVertices();
    void statusMessages();
    void emptyMeshIsLeftAlone();

    void neighbourhood_data();
    void neighbourhood();
    void isolatedVertexHasEmptyRing();

    void updateMeshRecomputes();
    void gpuSeam();
    void gpuCapacity_data();
    void gpuCapacity();

    void checkFindsFaults_data();
    void checkFindsFaults();
};

void TestMesh::pipeline_data()
{
    QTest::addColumn<PositionList>("positions");
    QTest::addColumn<TriangleList>("triangles");
    QTest::addColumn<float>("expectedScale");

    QTest::newRow("unit diagonal")
        << PositionList {{0, 0, 0}, {1, 0, 0}, {0.5f, 0, 0}} << TriangleList {{0, 1, 2}} << 500.0f;
    QTest::newRow("tetrahedron") << PositionList {{1, 1, 1}, {1, -1, -1}, {-1, 1, -1}, {-1, -1, 1}}
                                 << TriangleList {{0, 1, 2}, {0, 3, 1}, {0, 2, 3}, {1, 3, 2}}
                                 << float(500.0 / std::sqrt(12.0));
    QTest::newRow("offset box") << PositionList {{100, 200, 300}, {103, 200, 300}, {100, 204, 300},
        {100, 200, 312}} << TriangleList {{0, 1, 2}, {0, 2, 3}, {0, 3, 1}, {1, 3, 2}}
                                << 500.0f / 13.0f;
    const IcosphereData ico = icosphereData(2);
    QTest::newRow("icosphere 2") << ico.positions << ico.triangles << -1.0f;
}

void TestMesh::pipeline()
{
    QFETCH(PositionList, positions);
    QFETCH(TriangleList, triangles);
    QFETCH(float, expectedScale);

    Aabb before(positions[0], positions[0]);
    for (const QVector3D &p : positions)
        before.expandsWithPoint(p);
    const float diagonal = (before.max - before.min).length();

    auto mesh = meshFromArrays(positions, triangles);
    QCOMPARE(mesh->getNbVertices(), int(positions.size()));
    QCOMPARE(mesh->getNbTriangles(), int(triangles.size()));
    if (expectedScale > 0)
        QCOMPARE(mesh->getScale(), expectedScale);
    QCOMPARE(mesh->getScale(), 500.0f / diagonal);

    // Positions scaled, diagonal 500, centre of the scaled box.
    const Aabb after = positionsBox(*mesh);
    QVERIFY(qAbs((after.max - after.min).length() - 500.0f) < 1e-2f);
    QVERIFY(qFuzzyCompare(mesh->getCenter(), after.computeCenter()));
    for (int i = 0; i < mesh->getNbVertices(); ++i)
        QCOMPARE(mesh->getVertex(i).position, positions[i] * mesh->getScale());

    // Model matrix: a pure translation by -centre, mirrored in the float data.
    QMatrix4x4 expected;
    expected.translate(-mesh->getCenter());
    QCOMPARE(mesh->getTransformation(), expected);
    const float *data = mesh->getTransformationData();
    for (int k = 0; k < 16; ++k)
        QCOMPARE(data[k], expected.constData()[k]);
    QVERIFY(
        qFuzzyCompare(mesh->getInverseTransformation().map(QVector3D(0, 0, 0)), mesh->getCenter()));

    // Triangle boxes and vertex normals.
    for (const Triangle &t : mesh->getTriangles()) {
        const Aabb box = Geometry::triangleBox(mesh->getVertex(t.vertex1).position,
            mesh->getVertex(t.vertex2).position, mesh->getVertex(t.vertex3).position);
        QCOMPARE(t.aabb, box);
    }
    for (const Vertex &v : mesh->getVertices()) {
        QVector3D sum;
        for (int t : v.triangleIndices)
            sum += mesh->getTriangle(t).normal;
        QCOMPARE(v.normal, sum.normalized());
    }

    // The root box holds every triangle centre with the 20 % margin.
    const Octree *root = mesh->getOctree();
    QVERIFY(root);
    for (const Triangle &t : mesh->getTriangles())
        QVERIFY(root->aabbSplit.containsPoint(t.aabb.computeCenter()));
    QVERIFY(after.contains(root->aabbSplit));

    VERIFY_MESH(*mesh);
}

void TestMesh::flatMeshBox()
{
    auto mesh = makeGrid(4);
    const Octree *root = mesh->getOctree();
    const Aabb &first = mesh->getTriangle(0).aabb;
    const float d = (first.max - first.min).length();
    const Aabb points = positionsBox(*mesh);
    QCOMPARE(points.min.z(), 0.0f);
    QCOMPARE(points.max.z(), 0.0f);
    // z: thickened by the first triangle's diagonal on each side, then 20 % of 2d on each side.
    QVERIFY(qFuzzyCompare(root->aabbSplit.min.z(), -d - 0.4f * d));
    QVERIFY(qFuzzyCompare(root->aabbSplit.max.z(), d + 0.4f * d));
    // x and y: the points' box with 20 % per side.
    const float ex = points.max.x() - points.min.x();
    QVERIFY(qFuzzyCompare(root->aabbSplit.min.x(), points.min.x() - 0.2f * ex));
    QVERIFY(qFuzzyCompare(root->aabbSplit.max.x(), points.max.x() + 0.2f * ex));
    VERIFY_MESH(*mesh);
}

void TestMesh::coincidentVertices()
{
    // Every vertex at one point: no division by zero, scale kept at 1, a small non-empty box.
    const QVector3D p(3, -2, 7);
    auto mesh = meshFromArrays({p, p, p, p}, {{0, 1, 2}, {0, 2, 3}, {1, 3, 2}});
    QCOMPARE(mesh->getScale(), 1.0f);
    for (const Vertex &v : mesh->getVertices())
        QCOMPARE(v.position, p);
    QCOMPARE(mesh->getCenter(), p);
    const Aabb &box = mesh->getOctree()->aabbSplit;
    for (int k = 0; k < 3; ++k) {
        QVERIFY(box.max[k] > box.min[k]);
        QVERIFY(std::isfinite(box.min[k]) && std::isfinite(box.max[k]));
    }
    QVERIFY(box.containsPoint(p));
    for (const Vertex &v : mesh->getVertices())
        QVERIFY(!std::isnan(v.normal.x()));
    VERIFY_MESH(*mesh);
}

void TestMesh::statusMessages()
{
    const IcosphereData ico = icosphereData(1);
    auto mesh = rawMeshFromArrays(ico.positions, ico.triangles);
    QStringList messages;
    const MessageSink sink = [&messages](const QString &text) { messages << text; };
    mesh->initTopology(sink);
    mesh->initVBO(sink);
    mesh->moveTo(QVector3D(0, 0, 0));
    QCOMPARE(messages,
        QStringList(
            {"Loading : Init topology 1/2", "Loading : scaling", "Loading : Init topology 2/2",
                "Loading : Init octree", "Loading : Init VBO 1", "Loading : Init VBO 2"}));
}

void TestMesh::emptyMeshIsLeftAlone()
{
    Mesh mesh;
    mesh.initTopology();
    mesh.initVBO();
    mesh.moveTo(QVector3D(1, 2, 3));
    QCOMPARE(mesh.getOctree(), nullptr);
    QCOMPARE(mesh.getScale(), 1.0f);
    QVERIFY(checkMesh(mesh).isEmpty());
    QCOMPARE(mesh.getColor(), QColor(120, 200, 200, 255));
    QCOMPARE(mesh.getShaderType(), 0);
    QVERIFY(!mesh.getDrawOctree());
    mesh.toggleDrawOctree();
    QVERIFY(mesh.getDrawOctree());
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
    QTest::newRow("ring of opposite corner") << "ring" << IntList {15} << 0 << IntList {10, 11, 14};
    QTest::newRow("vertices of two triangles")
        << "verticesFromTriangles" << IntList {0, 1} << 0 << IntList {0, 1, 5, 4};
    QTest::newRow("vertices repeated triangle")
        << "verticesFromTriangles" << IntList {3, 3, 2} << 0 << IntList {1, 6, 5, 2};
    QTest::newRow("triangles of vertices")
        << "trianglesFromVertices" << IntList {0, 5} << 0 << IntList {0, 1, 3, 6, 8, 9};
    QTest::newRow("expand vertices n=0")
        << "expandVertices" << IntList {5, 0} << 0 << IntList {5, 0};
    QTest::newRow("expand vertices n=-1") << "expandVertices" << IntList {5} << -1 << IntList {5};
    QTest::newRow("expand vertices n=1")
        << "expandVertices" << IntList {5} << 1 << IntList {5, 0, 1, 4, 6, 9, 10};
    QTest::newRow("expand vertices n=1, input overlaps ring")
        << "expandVertices" << IntList {5, 1} << 1 << IntList {5, 1, 0, 4, 6, 9, 10, 2};
    QTest::newRow("expand vertices n=2")
        << "expandVertices" << IntList {0} << 2 << IntList {0, 1, 5, 4, 2, 6, 9, 10, 8};
    QTest::newRow("expand vertices past the whole mesh")
        << "expandVertices" << IntList {0} << 20
        << IntList {0, 1, 5, 4, 2, 6, 9, 10, 8, 3, 7, 11, 13, 14, 15, 12};
    QTest::newRow("expand triangles n=0") << "expandTriangles" << IntList {4} << 0 << IntList {4};
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
    IntList result;
    // Run twice: stamps of the first run must not leak into the second.
    for (int run = 0; run < 2; ++run) {
        if (query == "ring") {
            mesh->computeRingVertices(input[0]);
            result = mesh->getVertex(input[0]).ringIndices;
        } else if (query == "verticesFromTriangles") {
            result = mesh->getVerticesFromTriangles(input);
        } else if (query == "trianglesFromVertices") {
            result = mesh->getTrianglesFromVertices(input);
        } else if (query == "expandVertices") {
            result = input;
            mesh->expandVertices(result, rings);
        } else {
            result = input;
            mesh->expandTriangles(result, rings);
        }
        QCOMPARE(result, expected);
    }
    VERIFY_SAME(before, *mesh);
}

void TestMesh::isolatedVertexHasEmptyRing()
{
    auto mesh = meshFromArrays({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {5, 5, 5}}, {{0, 1, 2}});
    QVERIFY(mesh->getVertex(3).ringIndices.empty());
    QCOMPARE(mesh->getVertex(3).normal, QVector3D(0, 0, 0));
    QCOMPARE(mesh->getVertex(0).ringIndices, IntList({1, 2}));
    VERIFY_MESH(*mesh);
}

void TestMesh::updateMeshRecomputes()
{
    auto mesh = makeIcosphere(3);
    IntList moved {7};
    mesh->expandVertices(moved, 1);
    for (int i : moved)
        mesh->getVertex(i).position *= 1.3f;
    const IntList triangles = mesh->getTrianglesFromVertices(moved);
    const IntList vertices = mesh->getVerticesFromTriangles(triangles);
    mesh->updateMesh(triangles, vertices);

    for (int i : triangles) {
        const Triangle &t = mesh->getTriangle(i);
        const QVector3D &a = mesh->getVertex(t.vertex1).position;
        const QVector3D &b = mesh->getVertex(t.vertex2).position;
        const QVector3D &c = mesh->getVertex(t.vertex3).position;
        QCOMPARE(t.normal, QVector3D::normal(a, b, c));
    }
    for (const Triangle &t : mesh->getTriangles()) {
        const QVector3D &a = mesh->getVertex(t.vertex1).position;
        const QVector3D &b = mesh->getVertex(t.vertex2).position;
        const QVector3D &c = mesh->getVertex(t.vertex3).position;
        QCOMPARE(t.aabb, Geometry::triangleBox(a, b, c));
        QVERIFY(t.aabb.contains(t.leaf->aabbLoose));
    }
    for (const Vertex &v : mesh->getVertices()) {
        QVector3D sum;
        for (int t : v.triangleIndices)
            sum += mesh->getTriangle(t).normal;
        QCOMPARE(v.normal, sum.normalized());
    }
    VERIFY_MESH(*mesh);
}

void TestMesh::gpuSeam()
{
    auto mesh = makeTetrahedron();
    QStringList log;
    mesh->setGpu(std::make_unique<RecordingGpu>(&log));
    mesh->initVBO([](const QString &) {});
    QCOMPARE(log, QStringList({"build 4 4", "shaders 0"}));

    log.clear();
    mesh->initShaders(3);
    QCOMPARE(mesh->getShaderType(), 3);
    QCOMPARE(log, QStringList({"shaders 3"}));

    log.clear();
    mesh->getVertex(0).position *= 1.1f;
    mesh->updateMesh({0, 1, 2}, {0, 1, 2, 3});
    QCOMPARE(log, QStringList({"indices 3", "positions 4", "normals 4"}));
}

void TestMesh::gpuCapacity_data()
{
    QTest::addColumn<int>("added");
    QTest::addColumn<bool>("rebuilt");
    QTest::newRow("no growth") << 0 << false;
    QTest::newRow("exactly twice") << 4 << false;
    QTest::newRow("one more than twice") << 5 << true;
}

void TestMesh::gpuCapacity()
{
    QFETCH(int, added);
    QFETCH(bool, rebuilt);
    auto mesh = makeTetrahedron();
    QStringList log;
    mesh->setGpu(std::make_unique<RecordingGpu>(&log));
    mesh->initVBO();
    log.clear();

    IntList triangles;
    for (int k = 0; k < added; ++k)
        triangles.push_back(appendCopy(*mesh, k % 4));
    for (int i = 0; i < 4; ++i)
        mesh->computeRingVertices(i);
    mesh->updateMesh(triangles, {0, 1, 2, 3});
    const int n = 4 + added;
    if (rebuilt)
        QCOMPARE(log, QStringList({"build 4 " + QString::number(n), "shaders 0"}));
    else
        QCOMPARE(
            log, QStringList({"indices " + QString::number(added), "positions 4", "normals 4"}));
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
