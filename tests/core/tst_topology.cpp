#include "MeshAsserts.h"
#include "TestMeshes.h"
#include "mesh/MeshCheck.h"
#include "sculpt/Sculptor.h"
#include "sculpt/StrokeScript.h"
#include "topology/Topology.h"

#include <QtTest>

#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>
#include <set>

class TestTopology : public QObject
{
    Q_OBJECT

private slots:
    void findSplit_data();
    void findSplit();
    void middlePlacement_data();
    void middlePlacement();
    void sharedLongEdge_data();
    void sharedLongEdge();
    void hangingMiddlesFilled();
    void sphereMiddlesOutwards();
    void subdivisionStopsOnTinyBrushes_data();
    void subdivisionStopsOnTinyBrushes();
    void collapseNearTheBrush_data();
    void collapseNearTheBrush();
    void borderEdgeNeverCollapsed();
    void spikeFlipped();
    void degenerateVerticesRemoved_data();
    void degenerateVerticesRemoved();
    void borderCornersKept_data();
    void borderCornersKept();
    void touchingConesSeparated();
    void smallVerticesRefuseCollapse_data();
    void smallVerticesRefuseCollapse();
    void deletionKeepsIndices();
    void chainFan_data();
    void chainFan();
    void modesThroughStrokes_data();
    void modesThroughStrokes();
};

using TestMeshes::allTriangles;

namespace {

// Number of triangles on each edge (smaller index, larger index).
std::map<std::pair<int, int>, int> edgeCounts(const Mesh &mesh)
{
    std::map<std::pair<int, int>, int> counts;
    for (const Triangle &t : mesh.getTriangles()) {
        const int c[3] = {t.vertex1, t.vertex2, t.vertex3};
        for (int e = 0; e < 3; ++e) {
            const int a = c[e];
            const int b = c[(e + 1) % 3];
            ++counts[{std::min(a, b), std::max(a, b)}];
        }
    }
    return counts;
}

bool everyEdgeHasTwo(const Mesh &mesh)
{
    for (const auto &[edge, count] : edgeCounts(mesh)) {
        if (count != 2)
            return false;
    }
    return true;
}

bool hasEdge(const Mesh &mesh, int a, int b)
{
    return edgeCounts(mesh).count({std::min(a, b), std::max(a, b)}) > 0;
}

// A quad made of two triangles sharing the long diagonal 0-2: (0, 1, 2) and (0, 2, 3).
std::unique_ptr<Mesh> makeLongQuad()
{
    return TestMeshes::meshFromArrays(
        {{0, 0, 0}, {10, 0, 0}, {10, 1, 0}, {0, 1, 0}}, {{0, 1, 2}, {0, 2, 3}});
}

// A closed tetrahedron whose edge 0-1 is far longer than the others.
std::unique_ptr<Mesh> makeLongTetrahedron()
{
    return TestMeshes::meshFromArrays({{-5, 0, 0}, {5, 0, 0}, {0, 1, 1}, {0, -1, 1}},
        {{0, 1, 2}, {1, 0, 3}, {0, 2, 3}, {1, 3, 2}});
}

// A triangular bipyramid: apexes 0 (top) and 1 (bottom), equator 2, 3, 4. The ends of an
// equator edge share three neighbours.
std::unique_ptr<Mesh> makeBipyramid()
{
    return TestMeshes::meshFromArrays(
        {{0, 0, 1}, {0, 0, -1}, {1, 0, 0}, {-0.5f, 0.866f, 0}, {-0.5f, -0.866f, 0}},
        {{0, 2, 3}, {0, 3, 4}, {0, 4, 2}, {1, 3, 2}, {1, 4, 3}, {1, 2, 4}});
}

QVector3D position(const Mesh &mesh, int v)
{
    return mesh.getVertex(v).position;
}

} // namespace

void TestTopology::findSplit_data()
{
    QTest::addColumn<QVector3D>("p1");
    QTest::addColumn<QVector3D>("p2");
    QTest::addColumn<QVector3D>("p3");
    QTest::addColumn<float>("d2Max");
    QTest::addColumn<bool>("sphereTest");
    QTest::addColumn<int>("code");
    const QVector3D o(0, 0, 0);
    QTest::newRow("edge 1-2 longest")
        << o << QVector3D(10, 0, 0) << QVector3D(5, 1, 0) << 1.0f << false << 1;
    QTest::newRow("edge 2-3 longest")
        << o << QVector3D(1, 0, 0) << QVector3D(0, 10, 0) << 1.0f << false << 2;
    QTest::newRow("edge 3-1 longest")
        << QVector3D(0, 10, 0) << QVector3D(1, 9, 0) << o << 1.0f << false << 3;
    const float h = std::sqrt(3.0f) / 2.0f;
    QTest::newRow("equilateral: 3-1")
        << o << QVector3D(2, 0, 0) << QVector3D(1, 2 * h, 0) << 1.0f << false << 3;
    QTest::newRow("tie 1-2 = 2-3: 2-3")
        << QVector3D(-1, 0, 0) << QVector3D(0, 3, 0) << QVector3D(1, 0, 0) << 1.0f << false << 2;
    QTest::newRow("longest not beyond d2Max")
        << o << QVector3D(10, 0, 0) << QVector3D(5, 1, 0) << 100.0f << false << 0;
    QTest::newRow("longest just beyond d2Max")
        << o << QVector3D(10, 0, 0) << QVector3D(5, 1, 0) << 99.99f << false << 1;
    QTest::newRow("touching the sphere") << QVector3D(-5, 0.5f, 0) << QVector3D(5, 0.5f, 0)
                                         << QVector3D(0, 3, 0) << 1.0f << true << 1;
    QTest::newRow("centre inside") << QVector3D(-50, -1, 0) << QVector3D(50, -1, 0)
                                   << QVector3D(0, 50, 0) << 1.0f << true << 1;
    QTest::newRow("away from the sphere")
        << QVector3D(-5, 3, 0) << QVector3D(5, 3, 0) << QVector3D(0, 6, 0) << 1.0f << true << 0;
}

void TestTopology::findSplit()
{
    QFETCH(QVector3D, p1);
    QFETCH(QVector3D, p2);
    QFETCH(QVector3D, p3);
    QFETCH(float, d2Max);
    QFETCH(bool, sphereTest);
    QFETCH(int, code);
    // Raw records: positions exactly as given.
    auto mesh = TestMeshes::rawMeshFromArrays({p1, p2, p3}, {{0, 1, 2}});
    // Brush of radius 1 at the origin: the doubled squared radius reaches to sqrt(2).
    Topology topology(mesh.get(), QVector3D(0, 0, 0), 1.0f);
    QCOMPARE(topology.findSplit(0, d2Max, sphereTest), code);
}

void TestTopology::middlePlacement_data()
{
    QTest::addColumn<QVector3D>("normal0");
    QTest::addColumn<QVector3D>("normal2");
    QTest::addColumn<int>("side"); // 0: on the edge, 1: above along +z, -1: below
    const QVector3D up(0, 0, 1);
    // The diagonal runs from vertex 0 (at the origin) towards +x (vertex 2).
    const QVector3D outwards0 = QVector3D(-1, 0, 2).normalized();
    const QVector3D outwards2 = QVector3D(1, 0, 2).normalized();
    QTest::newRow("equal normals: on the edge") << up << up << 0;
    QTest::newRow("convex bend: outwards") << outwards0 << outwards2 << 1;
    QTest::newRow("concave fold: inwards") << outwards2 << outwards0 << -1;
}

void TestTopology::middlePlacement()
{
    QFETCH(QVector3D, normal0);
    QFETCH(QVector3D, normal2);
    QFETCH(int, side);
    auto mesh = makeLongQuad();
    mesh->getVertex(0).normal = normal0;
    mesh->getVertex(2).normal = normal2;
    const QVector3D p0 = position(*mesh, 0);
    const QVector3D p2 = position(*mesh, 2);
    const QVector3D midpoint = (p0 + p2) * 0.5f;

    const float diagonal2 = (p2 - p0).lengthSquared();
    const float side2 = (position(*mesh, 1) - p0).lengthSquared();
    QVERIFY(side2 < diagonal2 * 0.999f);
    Topology topology(mesh.get(), midpoint, diagonal2);
    std::vector<int> list = {0, 1};
    topology.subdivide(list, side2 * 1.0005f);

    // Both triangles were split at the one new vertex.
    QCOMPARE(mesh->getNbVertices(), 5);
    QCOMPARE(mesh->getNbTriangles(), 4);
    const QVector3D m = position(*mesh, 4);
    const QVector3D nm = (normal0 + normal2).normalized();
    const float angle = std::acos(QVector3D::dotProduct(normal0, normal2));
    const float expected = (p2 - p0).length() * angle * 0.12f;
    const QVector3D offset = m - midpoint;
    if (side == 0) {
        QCOMPARE(m, midpoint);
    } else {
        QVERIFY(expected > 1.0f);
        QVERIFY2(std::abs(QVector3D::dotProduct(offset, nm) - side * expected) < 1e-3f * expected,
            qPrintable(QStringLiteral("offset %1, expected %2")
                           .arg(QVector3D::dotProduct(offset, nm))
                           .arg(side * expected)));
        QVERIFY(QVector3D::crossProduct(offset, nm).length() < 1e-3f * expected);
    }
    // Not moved by the relaxation, and its normal is the mean of its ends'.
    QCOMPARE(mesh->getVertex(4).normal, nm);
    mesh->updateMesh(list, {0, 1, 2, 3, 4});
    VERIFY_MESH(*mesh);
}

void TestTopology::sharedLongEdge_data()
{
    QTest::addColumn<bool>("closed");
    QTest::newRow("open quad") << false;
    QTest::newRow("closed tetrahedron") << true;
}

void TestTopology::sharedLongEdge()
{
    QFETCH(bool, closed);
    auto mesh = closed ? makeLongTetrahedron() : makeLongQuad();
    const int a = closed ? 0 : 0;
    const int b = closed ? 1 : 2;
    const int v0 = mesh->getNbVertices();
    const int t0 = mesh->getNbTriangles();
    const float long2 = (position(*mesh, a) - position(*mesh, b)).lengthSquared();
    float others2 = 0.0f;
    for (int i = 0; i < v0; ++i) {
        for (int j = i + 1; j < v0; ++j) {
            if ((i == a && j == b) || !hasEdge(*mesh, i, j))
                continue;
            others2 = std::max(others2, (position(*mesh, i) - position(*mesh, j)).lengthSquared());
        }
    }
    QVERIFY(others2 < long2 * 0.999f);

    mesh->newState();
    const QVector3D centre = (position(*mesh, a) + position(*mesh, b)) * 0.5f;
    Topology topology(mesh.get(), centre, long2);
    std::vector<int> list = allTriangles(*mesh);
    topology.subdivision(list, (others2 + long2) * 0.5f);
    mesh->updateMesh(list, mesh->getVerticesFromTriangles(list));

    // One middle for the two triangles of the long edge, which is gone.
    QCOMPARE(mesh->getNbVertices(), v0 + 1);
    QCOMPARE(mesh->getNbTriangles(), t0 + 2);
    QVERIFY(!hasEdge(*mesh, a, b));
    QCOMPARE(int(mesh->getVertex(v0).triangleIndices.size()), 4);
    QCOMPARE(int(mesh->getVertex(v0).ringIndices.size()), 4);
    QCOMPARE(everyEdgeHasTwo(*mesh), closed);
    // Every triangle ends in the list once.
    std::vector<int> sorted = list;
    std::sort(sorted.begin(), sorted.end());
    QCOMPARE(sorted, allTriangles(*mesh));
    VERIFY_MESH(*mesh);
}

void TestTopology::hangingMiddlesFilled()
{
    // Only the first triangle is listed; the second one shares the split diagonal.
    auto mesh = makeLongQuad();
    const QVector3D p0 = position(*mesh, 0);
    const QVector3D p2 = position(*mesh, 2);
    const float side2 = (position(*mesh, 1) - p0).lengthSquared();
    Topology topology(mesh.get(), (p0 + p2) * 0.5f, 1.0f);
    std::vector<int> list = {0};
    topology.subdivide(list, side2 * 1.0005f);

    QCOMPARE(mesh->getNbTriangles(), 4);
    QVERIFY(!hasEdge(*mesh, 0, 2));
    // The middle sits on four triangles; each of the other four vertices keeps its corner.
    QCOMPARE(int(mesh->getVertex(4).triangleIndices.size()), 4);
    for (const auto &[edge, count] : edgeCounts(*mesh))
        QVERIFY(count == 1 || count == 2);
    // The filled neighbour and its new half are in the list.
    std::vector<int> sorted = list;
    std::sort(sorted.begin(), sorted.end());
    QCOMPARE(sorted, std::vector<int>({0, 1, 2, 3}));
    mesh->updateMesh(list, mesh->getVerticesFromTriangles(list));
    VERIFY_MESH(*mesh);
}

void TestTopology::sphereMiddlesOutwards()
{
    auto mesh = TestMeshes::makeIcosphere(2);
    const float radius = position(*mesh, 0).length();
    // Ends of every edge before the pass, to find each new middle's chord.
    const int v0 = mesh->getNbVertices();
    const std::vector<Vertex> before = mesh->getVertices();
    const QVector3D centre = position(*mesh, 0);
    Topology topology(mesh.get(), centre, radius * radius * 0.04f);
    std::vector<int> list = mesh->getTrianglesFromVertices({0});
    mesh->expandTriangles(list, 1);
    const float edge2 = (before[before[0].ringIndices[0]].position - centre).lengthSquared();
    topology.subdivide(list, edge2 * 0.5f);
    QVERIFY(mesh->getNbVertices() > v0);
    int checked = 0;
    for (const auto &[key, middle] : topology.edgeMiddles) {
        const int a = int(key >> 32);
        const int b = int(key & 0xffffffffu);
        if (a >= v0 || b >= v0)
            continue;
        const QVector3D chord = (before[a].position + before[b].position) * 0.5f;
        // Outside the flat edge, towards the sphere, and not beyond it by much.
        QVERIFY(position(*mesh, middle).length() > chord.length() + 1e-3f * radius);
        QVERIFY(position(*mesh, middle).length() < radius * 1.01f);
        ++checked;
    }
    QVERIFY(checked >= 3);
    mesh->updateMesh(list, mesh->getVerticesFromTriangles(list));
    VERIFY_MESH(*mesh);
    QVERIFY(everyEdgeHasTwo(*mesh));
}

void TestTopology::subdivisionStopsOnTinyBrushes_data()
{
    QTest::addColumn<float>("radius");
    QTest::addColumn<float>("detail");
    QTest::newRow("zero radius") << 0.0f << 1.0f;
    QTest::newRow("radius 1e-6, finest detail") << 1e-6f << 1.0f;
    QTest::newRow("radius 1e-3, finest detail") << 1e-3f << 1.0f;
    QTest::newRow("radius 0.5, coarsest detail") << 0.5f << 0.0f;
}

void TestTopology::subdivisionStopsOnTinyBrushes()
{
    QFETCH(float, radius);
    QFETCH(float, detail);
    auto mesh = TestMeshes::makeIcosphere(1);
    mesh->newState();
    const QVector3D centre =
        (position(*mesh, 0) + position(*mesh, mesh->getVertex(0).ringIndices[0])
            + position(*mesh, mesh->getVertex(0).ringIndices[1]))
        / 3.0f;
    Sculptor sculptor;
    sculptor.setMesh(mesh.get());
    sculptor.setTopoMode(SUBDIVISION);
    sculptor.setDetail(detail);
    std::vector<int> vertices = {0};
    sculptor.sculpt(vertices, centre, radius * radius, QVector3D(0, 0, -1));
    // Bounded growth: float precision ends the halving long before this.
    QVERIFY2(mesh->getNbTriangles() < 20000, qPrintable(QString::number(mesh->getNbTriangles())));
    if (radius == 0.0f)
        QCOMPARE(mesh->getNbTriangles(), 80);
    VERIFY_MESH(*mesh);
    QVERIFY(everyEdgeHasTwo(*mesh));
}

void TestTopology::collapseNearTheBrush_data()
{
    QTest::addColumn<float>("distance"); // of the brush centre from the centroid, in radii
    QTest::addColumn<bool>("collapsed");
    QTest::newRow("centroid at the centre") << 0.0f << true;
    QTest::newRow("centroid inside the band") << 1.2f << true;
    QTest::newRow("centroid at sqrt(2) r") << 1.4143f << false;
    QTest::newRow("centroid beyond") << 2.0f << false;
}

void TestTopology::collapseNearTheBrush()
{
    QFETCH(float, distance);
    QFETCH(bool, collapsed);
    auto mesh = TestMeshes::makeGrid(6);
    const float unit = position(*mesh, 1).x() - position(*mesh, 0).x();
    // An inner triangle (3, 3)-(4, 3)-(4, 4) of the 7 x 7 grid.
    const int t = 2 * (3 * 6 + 3);
    const Triangle &tri = mesh->getTriangle(t);
    const QVector3D centroid =
        (position(*mesh, tri.vertex1) + position(*mesh, tri.vertex2) + position(*mesh, tri.vertex3))
        / 3.0f;
    const float r = 0.3f * unit;
    const QVector3D centre = centroid + QVector3D(0, 0, distance * r);
    const int v0 = mesh->getNbVertices();
    const int t0 = mesh->getNbTriangles();
    // The shortest edge is one unit long: just below d2Min, even at the band's weight.
    const float weight = distance <= 1.0f ? 1.0f : [&] {
        const float u = (distance * r - r) / (std::sqrt(2.0f) * r - r);
        return 3 * u * u * u * u - 4 * u * u * u + 1;
    }();
    const float d2Min = unit * unit * 1.01f / std::max(weight, 1e-3f);

    mesh->newState();
    Topology topology(mesh.get(), centre, r * r);
    std::vector<int> list = {t};
    topology.decimation(list, d2Min);
    mesh->updateMesh(list, mesh->getVerticesFromTriangles(list));
    if (collapsed) {
        QVERIFY(mesh->getNbVertices() < v0);
        QCOMPARE(mesh->getNbTriangles(), t0 - 2 * (v0 - mesh->getNbVertices()));
    } else {
        QCOMPARE(mesh->getNbVertices(), v0);
        QCOMPARE(mesh->getNbTriangles(), t0);
        QVERIFY(list == std::vector<int>({t}));
    }
    VERIFY_MESH(*mesh);
    for (const auto &[edge, count] : edgeCounts(*mesh))
        QVERIFY(count == 1 || count == 2);
}

void TestTopology::borderEdgeNeverCollapsed()
{
    auto mesh = TestMeshes::makeGrid(4);
    const float unit = position(*mesh, 1).x() - position(*mesh, 0).x();
    // Vertex 1 halfway to vertex 0: the border edge 0-1 is the shortest of triangle 0.
    mesh->getVertex(1).position.setX(0.5f * unit + position(*mesh, 0).x());
    mesh->updateMesh(allTriangles(*mesh), {0, 1, 2, 5, 6});
    const std::vector<Vertex> before = mesh->getVertices();
    mesh->newState();
    Topology topology(mesh.get(), position(*mesh, 0), unit * unit * 100.0f);
    std::vector<int> list = {0};
    topology.decimation(list, 0.3f * unit * unit);
    QCOMPARE(mesh->getNbVertices(), int(before.size()));
    QCOMPARE(mesh->getNbTriangles(), 32);
    for (std::size_t i = 0; i < before.size(); ++i)
        QCOMPARE(position(*mesh, int(i)), before[i].position);
    QVERIFY(hasEdge(*mesh, 0, 1));
    VERIFY_MESH(*mesh);
}

void TestTopology::spikeFlipped()
{
    auto mesh = makeBipyramid();
    mesh->newState();
    const std::vector<Vertex> before = mesh->getVertices();
    // Triangles 0 = (0, 2, 3) and 3 = (1, 3, 2) share the equator edge 2-3; its ends share the
    // neighbours 0, 1 and 4.
    Topology topology(mesh.get(), QVector3D(), 1e6f);
    QCOMPARE(topology.findOppositeTriangle(0, 2, 3), 3);
    std::vector<int> list;
    topology.edgeCollapse(0, 3, list);
    topology.deleteMarkedRecords();
    mesh->updateMesh(allTriangles(*mesh), {0, 1, 2, 3, 4});

    QCOMPARE(mesh->getNbVertices(), 5);
    QCOMPARE(mesh->getNbTriangles(), 6);
    QVERIFY(!hasEdge(*mesh, 2, 3));
    QVERIFY(hasEdge(*mesh, 0, 1));
    for (int i = 0; i < 5; ++i)
        QCOMPARE(position(*mesh, i), before[i].position);
    QVERIFY(everyEdgeHasTwo(*mesh));
    // The winding is kept: every triangle still faces away from the centre.
    for (const Triangle &t : mesh->getTriangles()) {
        const QVector3D a = position(*mesh, t.vertex1);
        const QVector3D n =
            QVector3D::normal(a, position(*mesh, t.vertex2), position(*mesh, t.vertex3));
        QVERIFY(
            QVector3D::dotProduct(n, a + position(*mesh, t.vertex2) + position(*mesh, t.vertex3))
            >= 0.0f);
    }
    VERIFY_MESH(*mesh);
}

void TestTopology::degenerateVerticesRemoved_data()
{
    QTest::addColumn<int>("extraVertices");
    QTest::addColumn<QList<int>>("extraTriangles"); // triples; tetrahedron vertices are 0..3
    QTest::addColumn<int>("checked");
    // A triangle hanging on the tetrahedron edge 0-1 by its own vertex 4.
    QTest::newRow("one triangle") << 1 << QList<int>({4, 1, 0}) << 4;
    // Two triangles folded onto each other on the edge 0-1.
    QTest::newRow("two-triangle fold") << 1 << QList<int>({4, 1, 0, 4, 0, 1}) << 4;
    // A separate pillow of four folded triangles: removing vertex 4 leaves 5 and 6 with two
    // triangles each, and so on until the whole pillow is gone.
    QTest::newRow("fold cascade") << 4 << QList<int>({4, 5, 6, 4, 6, 5, 7, 5, 6, 7, 6, 5}) << 4;
    QTest::newRow("isolated vertex") << 1 << QList<int>() << 4;
}

void TestTopology::borderCornersKept_data()
{
    QTest::addColumn<int>("corner");
    QTest::addColumn<int>("triangles");
    // Of the 5 x 5 grid: (0, 0) has two triangles, (4, 0) one, and (1, 0) three.
    QTest::newRow("two triangles") << 0 << 2;
    QTest::newRow("one triangle") << 4 << 1;
    QTest::newRow("three triangles on the border") << 1 << 3;
}

void TestTopology::borderCornersKept()
{
    QFETCH(int, corner);
    QFETCH(int, triangles);
    auto mesh = TestMeshes::makeGrid(4);
    QCOMPARE(int(mesh->getVertex(corner).triangleIndices.size()), triangles);
    mesh->newState();
    const TestMeshes::MeshSnapshot original = TestMeshes::snapshot(*mesh);
    Topology topology(mesh.get(), QVector3D(), 1.0f);
    topology.checkVertex(corner);
    topology.deleteMarkedRecords();
    QCOMPARE(mesh->getNbVertices(), int(original.vertices.size()));
    QCOMPARE(mesh->getNbTriangles(), int(original.triangles.size()));
    QVERIFY(topology.trianglesToDelete.empty());
    VERIFY_MESH(*mesh);
}

void TestTopology::degenerateVerticesRemoved()
{
    QFETCH(int, extraVertices);
    QFETCH(QList<int>, extraTriangles);
    QFETCH(int, checked);
    std::vector<QVector3D> positions = {{1, 1, 1}, {1, -1, -1}, {-1, 1, -1}, {-1, -1, 1}};
    std::vector<std::array<int, 3>> triangles = {{0, 1, 2}, {0, 3, 1}, {0, 2, 3}, {1, 3, 2}};
    for (int i = 0; i < extraVertices; ++i)
        positions.emplace_back(3.0f + i, 0.5f * i, 0.25f * i * i);
    for (int i = 0; i + 2 < extraTriangles.size(); i += 3)
        triangles.push_back({extraTriangles[i], extraTriangles[i + 1], extraTriangles[i + 2]});
    auto mesh = TestMeshes::meshFromArrays(positions, triangles);
    mesh->newState();
    const TestMeshes::MeshSnapshot original = TestMeshes::snapshot(*mesh);

    Topology topology(mesh.get(), QVector3D(), 1.0f);
    topology.checkVertex(checked);
    topology.deleteMarkedRecords();
    std::vector<int> touched;
    for (int v : topology.touchedVertices) {
        if (v < mesh->getNbVertices())
            touched.push_back(v);
    }
    mesh->updateMesh(allTriangles(*mesh), touched);

    QCOMPARE(mesh->getNbVertices(), 4);
    QCOMPARE(mesh->getNbTriangles(), 4);
    QVERIFY(everyEdgeHasTwo(*mesh));
    VERIFY_MESH(*mesh);
    for (const Vertex &v : mesh->getVertices())
        QCOMPARE(int(v.triangleIndices.size()), 3);

    // Everything removed comes back with undo.
    mesh->undo();
    QCOMPARE(mesh->getNbVertices(), int(original.vertices.size()));
    QCOMPARE(mesh->getNbTriangles(), int(original.triangles.size()));
    for (std::size_t i = 0; i < original.vertices.size(); ++i) {
        QCOMPARE(position(*mesh, int(i)), original.vertices[i].position);
        QCOMPARE(mesh->getVertex(int(i)).ringIndices, original.vertices[i].ringIndices);
    }
    for (std::size_t i = 0; i < original.triangles.size(); ++i) {
        const Triangle &t = mesh->getTriangle(int(i));
        const Triangle &e = original.triangles[i];
        QVERIFY(t.vertex1 == e.vertex1 && t.vertex2 == e.vertex2 && t.vertex3 == e.vertex3);
    }
    VERIFY_MESH(*mesh);
}

void TestTopology::touchingConesSeparated()
{
    // Two closed tetrahedral cones meeting at vertex 0, bases at z = +1 and z = -1.
    const float s = 0.866f;
    const std::vector<QVector3D> positions = {{0, 0, 0}, {1, 0, 1}, {-0.5f, s, 1}, {-0.5f, -s, 1},
        {1, 0, -1}, {-0.5f, -s, -1}, {-0.5f, s, -1}};
    const std::vector<std::array<int, 3>> triangles = {
        {0, 1, 2}, {0, 4, 5}, {0, 2, 3}, {0, 5, 6}, {0, 3, 1}, {0, 6, 4}, {1, 3, 2}, {4, 6, 5}};
    auto mesh = TestMeshes::meshFromArrays(positions, triangles);
    mesh->newState();
    const QVector3D top = (position(*mesh, 1) + position(*mesh, 2) + position(*mesh, 3)) / 3.0f;
    const QVector3D bottom = (position(*mesh, 4) + position(*mesh, 5) + position(*mesh, 6)) / 3.0f;

    Topology topology(mesh.get(), QVector3D(), 1.0f);
    topology.checkVertex(0);
    mesh->updateMesh(allTriangles(*mesh), {0, 1, 2, 3, 4, 5, 6, 7});

    QCOMPARE(mesh->getNbVertices(), 8);
    QCOMPARE(mesh->getNbTriangles(), 8);
    QCOMPARE(int(mesh->getVertex(0).triangleIndices.size()), 3);
    QCOMPARE(int(mesh->getVertex(7).triangleIndices.size()), 3);
    const QVector3D a = position(*mesh, 0);
    const QVector3D b = position(*mesh, 7);
    const float tolerance = 1e-4f * top.length();
    QVERIFY(((a - top).length() < tolerance && (b - bottom).length() < tolerance)
        || ((a - bottom).length() < tolerance && (b - top).length() < tolerance));
    QVERIFY(everyEdgeHasTwo(*mesh));
    // Each vertex now has one closed fan.
    for (int v = 0; v < 8; ++v) {
        Topology::Fan fan;
        topology.buildFan(v, fan);
        QVERIFY(topology.chainFan(fan));
        for (int j = 1; j + 1 < int(fan.size()); ++j)
            QVERIFY(fan[j].b != fan[0].a);
    }
    VERIFY_MESH(*mesh);
}

void TestTopology::smallVerticesRefuseCollapse_data()
{
    QTest::addColumn<int>("columns");
    QTest::newRow("one quad: two triangles per vertex at most") << 1;
    // Inner vertices with three triangles, but every vertex is on the border: a collapse of a
    // diagonal would pinch the strip.
    QTest::newRow("strip of quads: both ends on the border") << 3;
}

void TestTopology::smallVerticesRefuseCollapse()
{
    // A strip one quad high, all of it wanting to collapse: nothing may be collapsed.
    QFETCH(int, columns);
    std::vector<QVector3D> positions;
    std::vector<std::array<int, 3>> triangles;
    for (int i = 0; i <= columns; ++i) {
        positions.emplace_back(float(i), 0.0f, 0.0f);
        positions.emplace_back(float(i), 0.1f, 0.0f);
    }
    for (int i = 0; i < columns; ++i) {
        const int a = 2 * i;
        triangles.push_back({a, a + 2, a + 3});
        triangles.push_back({a, a + 3, a + 1});
    }
    auto mesh = TestMeshes::meshFromArrays(positions, triangles);
    mesh->newState();
    const int v0 = mesh->getNbVertices();
    Topology topology(mesh.get(), QVector3D(), 1e8f);
    std::vector<int> list = allTriangles(*mesh);
    topology.decimation(list, 1e8f);
    mesh->updateMesh(list, mesh->getVerticesFromTriangles(list));
    QCOMPARE(mesh->getNbVertices(), v0);
    QCOMPARE(mesh->getNbTriangles(), 2 * columns);
    VERIFY_MESH(*mesh);
    for (const auto &[edge, count] : edgeCounts(*mesh))
        QVERIFY(count == 1 || count == 2);
}

void TestTopology::deletionKeepsIndices()
{
    // Remove records in the middle of the arrays by hand, as a decimation does at its end.
    auto mesh = TestMeshes::makeIcosphere(2);
    mesh->newState();
    const TestMeshes::MeshSnapshot original = TestMeshes::snapshot(*mesh);
    Topology topology(mesh.get(), position(*mesh, 5), 1e6f);
    std::vector<int> list = mesh->getTrianglesFromVertices({5});
    // Collapse every edge around vertex 5 as long as something is left to collapse.
    topology.decimation(list, 1e9f);
    mesh->updateMesh(list, mesh->getVerticesFromTriangles(list));
    QVERIFY(mesh->getNbVertices() < int(original.vertices.size()));
    VERIFY_MESH(*mesh);
    QVERIFY(everyEdgeHasTwo(*mesh));
    // Triangle order in the leaves and ids agree; undo restores the records exactly.
    mesh->undo();
    VERIFY_SAME(original, *mesh);
    VERIFY_MESH(*mesh);
}

void TestTopology::chainFan_data()
{
    QTest::addColumn<QList<int>>("records"); // (a, b) pairs
    QTest::addColumn<bool>("chained");
    QTest::addColumn<QList<int>>("order"); // the a of each record after chaining
    QTest::newRow("one cycle") << QList<int>({1, 2, 3, 4, 2, 3, 4, 1}) << true
                               << QList<int>({1, 2, 3, 4});
    QTest::newRow("two cones") << QList<int>({1, 2, 5, 6, 2, 3, 6, 7, 3, 1, 7, 5}) << true
                               << QList<int>({1, 2, 3, 6, 7, 5});
    // An open fan chains when it starts at the open end, and fails from inside.
    QTest::newRow("border from its start")
        << QList<int>({1, 2, 3, 4, 2, 3}) << true << QList<int>({1, 2, 3});
    QTest::newRow("border from inside") << QList<int>({2, 3, 1, 2, 3, 4}) << false << QList<int>();
    QTest::newRow("single record") << QList<int>({1, 2}) << true << QList<int>({1});
}

void TestTopology::chainFan()
{
    QFETCH(QList<int>, records);
    QFETCH(bool, chained);
    QFETCH(QList<int>, order);
    auto mesh = TestMeshes::makeTetrahedron();
    Topology topology(mesh.get(), QVector3D(), 1.0f);
    Topology::Fan fan;
    for (int i = 0; i + 1 < records.size(); i += 2)
        fan.push_back({records[i], records[i + 1], i / 2});
    QCOMPARE(topology.chainFan(fan), chained);
    if (!chained)
        return;
    QList<int> as;
    for (const Topology::FanRecord &r : fan)
        as.push_back(r.a);
    QCOMPARE(as, order);
}

void TestTopology::modesThroughStrokes_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("growth"); // sign of the triangle count change
    QTest::newRow("subdivide on a coarse sphere") << "subdivide" << 2 << 1;
    QTest::newRow("decimate on a fine sphere") << "decimate" << 6 << -1;
    QTest::newRow("uniform on a coarse sphere") << "uniform" << 2 << 1;
    QTest::newRow("uniform on a fine sphere") << "uniform" << 6 << -1;
    QTest::newRow("static") << "static" << 3 << 0;
}

void TestTopology::modesThroughStrokes()
{
    QFETCH(QString, mode);
    QFETCH(int, level);
    QFETCH(int, growth);
    auto mesh = TestMeshes::makeIcosphere(level);
    const TestMeshes::MeshSnapshot original = TestMeshes::snapshot(*mesh);
    const float radius = position(*mesh, 0).length();
    StrokeScript script;
    QString error;
    QVERIFY(StrokeScript::parse(
        QStringLiteral(R"({"topology": "%1", "dabs": []})").arg(mode).toLatin1(), script, &error));
    for (int i = 0; i < 6; ++i) {
        StrokeScript::Dab dab;
        dab.ray.origin = QVector3D(-0.3f * radius + 0.1f * radius * i, 0.1f * radius, 3 * radius);
        dab.ray.direction = QVector3D(0, 0, -1);
        dab.radius = 0.15f * radius;
        script.dabs.push_back(dab);
    }
    const StrokeReport report = replayStroke(*mesh, script);
    QCOMPARE(report.hits, 6);
    VERIFY_MESH(*mesh);
    QVERIFY(everyEdgeHasTwo(*mesh));
    const int change = mesh->getNbTriangles() - int(original.triangles.size());
    QCOMPARE((change > 0) - (change < 0), growth);
    const TestMeshes::MeshSnapshot sculpted = TestMeshes::snapshot(*mesh);

    // Undo restores the earlier counts and positions exactly; redo the sculpted mesh.
    mesh->undo();
    VERIFY_SAME(original, *mesh);
    VERIFY_MESH(*mesh);
    mesh->redo();
    QCOMPARE(mesh->getNbTriangles(), int(sculpted.triangles.size()));
    for (std::size_t i = 0; i < sculpted.vertices.size(); ++i)
        QCOMPARE(position(*mesh, int(i)), sculpted.vertices[i].position);
    VERIFY_MESH(*mesh);
}

QTEST_GUILESS_MAIN(TestTopology)
#include "tst_topology.moc"
