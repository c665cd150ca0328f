// Dynamic topology: where edges split and where their middles go, collapses and flips near the
// brush, vertex repair and fan chaining. Whole strokes in each mode with exact undo and redo are
// checked by tst_stroke and tst_topology_stress.

#include "MeshAsserts.h"
#include "TestMeshes.h"
#include "sculpt/Sculptor.h"
#include "topology/Topology.h"

#include <QtTest>

#include <cmath>

class TestTopology : public QObject
{
    Q_OBJECT

private slots:
    void findSplit();
    void middlePlacement();
    void subdivision();
    void decimation_data();
    void decimation();
    void vertexRepair_data();
    void vertexRepair();
    void chainFan();
};

using namespace TestMeshes;
using IntList = QList<int>;

namespace {

using Positions = std::vector<QVector3D>;
using Faces = std::vector<std::array<int, 3>>;

bool hasEdge(const Mesh &mesh, int a, int b)
{
    return edgeCounts(mesh).count(std::minmax(a, b)) > 0;
}

QVector3D position(const Mesh &mesh, int v)
{
    return mesh.getVertex(v).position;
}

// A quad made of two triangles sharing the long diagonal 0-2.
std::unique_ptr<Mesh> makeLongQuad()
{
    return meshFromArrays({{0, 0, 0}, {10, 0, 0}, {10, 1, 0}, {0, 1, 0}}, {{0, 1, 2}, {0, 2, 3}});
}

} // namespace

// The edge to split: the longest (the later one on a tie), when longer than allowed and, with the
// sphere test, when the triangle reaches the brush (radius 1 at the origin, doubled squared
// radius).
void TestTopology::findSplit()
{
    const QVector3D o(0, 0, 0), x10(10, 0, 0), x5(5, 1, 0);
    const struct
    {
        QVector3D p1, p2, p3;
        float d2Max;
        bool sphereTest;
        int code;
    } cases[] = {{o, x10, x5, 1, false, 1}, {o, {1, 0, 0}, {0, 10, 0}, 1, false, 2},
        {{0, 10, 0}, {1, 9, 0}, o, 1, false, 3}, {{-1, 0, 0}, {0, 3, 0}, {1, 0, 0}, 1, false, 2},
        {o, x10, x5, 100, false, 0}, {o, x10, x5, 99.99f, false, 1},
        {{-5, 0.5f, 0}, {5, 0.5f, 0}, {0, 3, 0}, 1, true, 1},
        {{-50, -1, 0}, {50, -1, 0}, {0, 50, 0}, 1, true, 1},
        {{-5, 3, 0}, {5, 3, 0}, {0, 6, 0}, 1, true, 0}};
    for (const auto &c : cases) {
        auto mesh =
            rawMeshFromArrays({c.p1, c.p2, c.p3}, {{0, 1, 2}}); // positions exactly as given
        Topology topology(mesh.get(), o, 1.0f);
        QCOMPARE(topology.findSplit(0, c.d2Max, c.sphereTest), c.code);
    }
}

// A split edge's middle: on the edge between equal normals, outwards on a convex bend, inwards in
// a concave fold, along the mean normal; shared by the two
// triangles of the edge even when only one is listed (the other's hanging middle is filled).
void TestTopology::middlePlacement()
{
    const QVector3D up(0, 0, 1), out0 = QVector3D(-1, 0, 2).normalized(),
                                 out2 = QVector3D(1, 0, 2).normalized();
    const struct
    {
        QVector3D normal0, normal2;
        int side;
        bool both;
    } cases[] = {
        {up, up, 0, true}, {out0, out2, 1, true}, {out2, out0, -1, true}, {up, up, 0, false}};
    for (const auto &c : cases) {
        auto mesh = makeLongQuad();
        mesh->getVertex(0).normal = c.normal0;
        mesh->getVertex(2).normal = c.normal2;
        const QVector3D p0 = position(*mesh, 0), p2 = position(*mesh, 2),
                        midpoint = (p0 + p2) * 0.5f;
        Topology topology(mesh.get(), midpoint, (p2 - p0).lengthSquared());
        std::vector<int> list = c.both ? std::vector<int> {0, 1} : std::vector<int> {0};
        topology.subdivide(list, (position(*mesh, 1) - p0).lengthSquared() * 1.0005f);
        QCOMPARE(mesh->getNbTriangles(), 4);
        QVERIFY(!hasEdge(*mesh, 0, 2));
        QCOMPARE(int(mesh->getVertex(4).triangleIndices.size()), 4);
        std::sort(list.begin(), list.end());
        QCOMPARE(list, std::vector<int>({0, 1, 2, 3}));
        const QVector3D nm = (c.normal0 + c.normal2).normalized(),
                        offset = position(*mesh, 4) - midpoint;
        const float along = QVector3D::dotProduct(offset, nm);
        QVERIFY(c.side == 0 ? std::abs(along) < 1e-4f : along * c.side > 0.01f);
        QVERIFY(QVector3D::crossProduct(offset, nm).length() <= 1e-3f * std::abs(along) + 1e-5f);
        QCOMPARE(mesh->getVertex(4).normal, nm);
        mesh->updateMesh(list, mesh->getVerticesFromTriangles(list));
        VERIFY_SOUND(*mesh, false);
    }
}

// A long edge shared by two triangles gets one middle; a tiny brush does not subdivide without
// end (float precision ends the halving).
void TestTopology::subdivision()
{
    for (const bool closed : {false, true}) {
        auto mesh = closed ? meshFromArrays({{-5, 0, 0}, {5, 0, 0}, {0, 1, 1}, {0, -1, 1}},
                        {{0, 1, 2}, {1, 0, 3}, {0, 2, 3}, {1, 3, 2}})
                           : makeLongQuad();
        const int b = closed ? 1 : 2, v0 = mesh->getNbVertices(), t0 = mesh->getNbTriangles();
        const float long2 = (position(*mesh, 0) - position(*mesh, b)).lengthSquared();
        mesh->newState();
        Topology topology(mesh.get(), (position(*mesh, 0) + position(*mesh, b)) * 0.5f, long2);
        std::vector<int> list = allTriangles(*mesh);
        topology.subdivision(list, long2 * 0.9f);
        mesh->updateMesh(list, mesh->getVerticesFromTriangles(list));
        QCOMPARE(mesh->getNbVertices(), v0 + 1);
        QCOMPARE(mesh->getNbTriangles(), t0 + 2);
        QVERIFY(!hasEdge(*mesh, 0, b));
        std::sort(list.begin(), list.end());
        QCOMPARE(list, allTriangles(*mesh)); // every triangle ends in the list once
        VERIFY_SOUND(*mesh, closed);
    }
    for (const auto &[radius, detail] : {std::pair {0.0f, 1.0f}, {1e-6f, 1.0f}, {0.5f, 0.0f}}) {
        auto mesh = makeIcosphere(1);
        mesh->newState();
        const auto &ring = mesh->getVertex(0).ringIndices;
        Sculptor sculptor;
        sculptor.setMesh(mesh.get());
        sculptor.setTopoMode(SUBDIVISION);
        sculptor.setDetail(detail);
        std::vector<int> vertices = {0};
        sculptor.sculpt(vertices,
            (position(*mesh, 0) + position(*mesh, ring[0]) + position(*mesh, ring[1])) / 3.0f,
            radius * radius, QVector3D(0, 0, -1));
        QVERIFY2(
            mesh->getNbTriangles() < 20000, qPrintable(QString::number(mesh->getNbTriangles())));
        QVERIFY(radius > 0.0f || mesh->getNbTriangles() == 80);
        VERIFY_SOUND(*mesh, true);
    }
}

void TestTopology::decimation_data()
{
    QTest::addColumn<QString>("mesh");
    QTest::addColumn<float>("distance"); // of the brush centre above the triangle, in radii
    QTest::addColumn<int>("removed"); // vertices: -1 some, 0 none
    QTest::newRow("grid, centroid at the centre") << "grid" << 0.0f << -1;
    QTest::newRow("grid, centroid at sqrt(2) r") << "grid" << 1.4143f << 0;
    QTest::newRow("grid, border edge shortest") << "border" << 0.0f << 0;
    QTest::newRow("one quad: two triangles per vertex at most") << "strip 1" << 0.0f << 0;
    QTest::newRow("strip of quads: every vertex on the border") << "strip 3" << 0.0f << 0;
    QTest::newRow("bipyramid: the spike is flipped") << "bipyramid" << 0.0f << 0;
    QTest::newRow("icosphere: everything around a vertex") << "icosphere" << 0.0f << -1;
}

void TestTopology::decimation()
{
    QFETCH(QString, mesh);
    QFETCH(float, distance);
    QFETCH(int, removed);
    std::unique_ptr<Mesh> m;
    std::vector<int> list;
    QVector3D centre;
    float r2 = 1e8f, d2Min = 1e8f;
    const bool closed = mesh == "bipyramid" || mesh == "icosphere";
    if (mesh == "grid" || mesh == "border") {
        m = makeGrid(6);
        const float unit = position(*m, 1).x() - position(*m, 0).x();
        if (mesh == "border") // vertex 1 halfway to vertex 0: border edge 0-1 the shortest
            m->getVertex(1).position.setX(0.5f * unit + position(*m, 0).x());
        m->updateMesh(allTriangles(*m), allVertices(*m));
        // An inner triangle (3, 3)-(4, 3)-(4, 4), or the corner triangle 0.
        const int t = mesh == "grid" ? 2 * (3 * 6 + 3) : 0;
        const Triangle &tri = m->getTriangle(t);
        const float r = 0.3f * unit;
        centre = (position(*m, tri.vertex1) + position(*m, tri.vertex2) + position(*m, tri.vertex3))
                / 3.0f
            + QVector3D(0, 0, distance * r);
        r2 = mesh == "grid" ? r * r : unit * unit * 100.0f;
        // The shortest edge is one unit long: below d2Min even at the band's lowest weight.
        d2Min = mesh == "grid" ? unit * unit * 5.0f : 0.3f * unit * unit;
        list = {t};
    } else if (mesh.startsWith("strip")) {
        Positions p;
        Faces f;
        const int columns = mesh.back().digitValue();
        for (int i = 0; i <= columns; ++i)
            p.insert(p.end(), {QVector3D(float(i), 0, 0), QVector3D(float(i), 0.1f, 0)});
        for (int a = 0; a < 2 * columns; a += 2)
            f.insert(f.end(), {{a, a + 2, a + 3}, {a, a + 3, a + 1}});
        m = meshFromArrays(p, f);
        list = allTriangles(*m);
    } else if (mesh == "bipyramid") {
        // Apexes 0 and 1, equator 2, 3, 4: the ends of an equator edge share three neighbours.
        m = meshFromArrays(
            {{0, 0, 1}, {0, 0, -1}, {1, 0, 0}, {-0.5f, 0.866f, 0}, {-0.5f, -0.866f, 0}},
            {{0, 2, 3}, {0, 3, 4}, {0, 4, 2}, {1, 3, 2}, {1, 4, 3}, {1, 2, 4}});
    } else {
        m = makeIcosphere(2);
        centre = position(*m, 5);
        list = m->getTrianglesFromVertices({5});
    }
    const int v0 = m->getNbVertices(), t0 = m->getNbTriangles();
    m->newState();
    const MeshSnapshot original = snapshot(*m);
    Topology topology(m.get(), centre, r2);
    if (mesh == "bipyramid") {
        // The collapse of equator edge 2-3 (triangles 0 and 3) flips it to 0-1 instead.
        QCOMPARE(topology.findOppositeTriangle(0, 2, 3), 3);
        topology.edgeCollapse(0, 3, list);
        topology.deleteMarkedRecords();
        list = allTriangles(*m);
        QVERIFY(!hasEdge(*m, 2, 3) && hasEdge(*m, 0, 1));
        for (const Triangle &t : m->getTriangles()) { // winding kept: facing away from the centre
            const QVector3D a = position(*m, t.vertex1), b = position(*m, t.vertex2),
                            c = position(*m, t.vertex3);
            QVERIFY(QVector3D::dotProduct(QVector3D::normal(a, b, c), a + b + c) >= 0.0f);
        }
    } else {
        topology.decimation(list, d2Min);
    }
    m->updateMesh(list, m->getVerticesFromTriangles(list));
    if (removed < 0) {
        QVERIFY(m->getNbVertices() < v0);
        QVERIFY(mesh == "icosphere" || m->getNbTriangles() == t0 - 2 * (v0 - m->getNbVertices()));
    } else {
        QCOMPARE(m->getNbVertices(), v0);
        QCOMPARE(m->getNbTriangles(), t0);
        if (mesh != "bipyramid")
            VERIFY_SAME(original, *m);
    }
    VERIFY_SOUND(*m, closed);
    m->undo();
    VERIFY_SAME(original, *m);
}

void TestTopology::vertexRepair_data()
{
    QTest::addColumn<QString>("mesh");
    QTest::addColumn<IntList>("extra"); // triangles added to a tetrahedron (vertices 0..3)
    QTest::addColumn<int>("extraVertices");
    QTest::addColumn<int>("checked");
    QTest::addColumn<int>("vertices"); // after the repair
    // A triangle hanging on the tetrahedron edge 0-1 by its own vertex 4.
    QTest::newRow("one triangle") << "tetrahedron" << IntList {4, 1, 0} << 1 << 4 << 4;
    QTest::newRow("two-triangle fold")
        << "tetrahedron" << IntList {4, 1, 0, 4, 0, 1} << 1 << 4 << 4;
    // A pillow of four folded triangles: removing vertex 4 leaves 5 and 6 with two triangles
    // each, and so on until the whole pillow is gone.
    QTest::newRow("fold cascade") << "tetrahedron" << IntList {4, 5, 6, 4, 6, 5, 7, 5, 6, 7, 6, 5}
                                  << 4 << 4 << 4;
    QTest::newRow("isolated vertex") << "tetrahedron" << IntList {} << 1 << 4 << 4;
    // Of the 5 x 5 grid's border: (0, 0) has two triangles, (4, 0) one, (1, 0) three. None is
    // degenerate: removing them would pinch the border.
    QTest::newRow("border corner, two triangles") << "grid" << IntList {} << 0 << 0 << 25;
    QTest::newRow("border corner, one triangle") << "grid" << IntList {} << 0 << 4 << 25;
    QTest::newRow("border vertex, three triangles") << "grid" << IntList {} << 0 << 1 << 25;
    // Two closed cones meeting at vertex 0: split into two vertices, one per cone.
    QTest::newRow("touching cones") << "cones" << IntList {} << 0 << 0 << 8;
}

void TestTopology::vertexRepair()
{
    QFETCH(QString, mesh);
    QFETCH(IntList, extra);
    QFETCH(int, extraVertices);
    QFETCH(int, checked);
    QFETCH(int, vertices);
    Positions p = {{1, 1, 1}, {1, -1, -1}, {-1, 1, -1}, {-1, -1, 1}};
    Faces f = {{0, 1, 2}, {0, 3, 1}, {0, 2, 3}, {1, 3, 2}};
    if (mesh == "cones") {
        const float s = 0.866f;
        p = {{0, 0, 0}, {1, 0, 1}, {-0.5f, s, 1}, {-0.5f, -s, 1}, {1, 0, -1}, {-0.5f, -s, -1},
            {-0.5f, s, -1}};
        f = {
            {0, 1, 2}, {0, 4, 5}, {0, 2, 3}, {0, 5, 6}, {0, 3, 1}, {0, 6, 4}, {1, 3, 2}, {4, 6, 5}};
    }
    for (int i = 0; i < extraVertices; ++i)
        p.emplace_back(3.0f + i, 0.5f * i, 0.25f * i * i);
    for (int i = 0; i + 2 < extra.size(); i += 3)
        f.push_back({extra[i], extra[i + 1], extra[i + 2]});
    auto m = mesh == "grid" ? makeGrid(4) : meshFromArrays(p, f);
    const int triangles = mesh == "grid" ? 32 : mesh == "cones" ? 8 : 4;
    m->newState();
    const MeshSnapshot original = snapshot(*m);
    Topology topology(m.get(), QVector3D(), 1.0f);
    topology.checkVertex(checked);
    topology.deleteMarkedRecords();
    m->updateMesh(allTriangles(*m), allVertices(*m));
    QCOMPARE(m->getNbVertices(), vertices);
    QCOMPARE(m->getNbTriangles(), triangles);
    VERIFY_SOUND(*m, mesh != "grid");
    if (mesh == "cones") {
        // The two vertices sit at their cones' base centres, which are at z = 1 and z = -1.
        QVERIFY(position(*m, 0).z() * position(*m, 7).z() < 0.0f);
        QVERIFY(std::abs(std::abs(position(*m, 0).z()) - std::abs(position(*m, 1).z())) < 1e-3f);
        // Each vertex now has one closed fan.
        for (int v = 0; v < 8; ++v) {
            Topology::Fan fan;
            topology.buildFan(v, fan);
            QVERIFY(topology.chainFan(fan));
            QCOMPARE(int(fan.size()), int(m->getVertex(v).triangleIndices.size()));
        }
    }
    // Everything removed comes back with undo (the cones' split turns a base triangle's corners).
    m->undo();
    if (mesh != "cones")
        QCOMPARE(compareWithSnapshot(original, *m, 1e-6f), QString());
    VERIFY_MESH(*m);
}

// A vertex's fan of (a, b) records chained into one cycle (or two, for touching cones); an open
// fan chains from its open end only.
void TestTopology::chainFan()
{
    auto mesh = makeTetrahedron();
    Topology topology(mesh.get(), QVector3D(), 1.0f);
    const std::pair<IntList, IntList> cases[] = {{{1, 2, 3, 4, 2, 3, 4, 1}, {1, 2, 3, 4}},
        {{1, 2, 5, 6, 2, 3, 6, 7, 3, 1, 7, 5}, {1, 2, 3, 6, 7, 5}}, {{1, 2, 3, 4, 2, 3}, {1, 2, 3}},
        {{2, 3, 1, 2, 3, 4}, {}}};
    for (const auto &[records, order] : cases) {
        Topology::Fan fan;
        for (int i = 0; i + 1 < records.size(); i += 2)
            fan.push_back({records[i], records[i + 1], i / 2});
        QCOMPARE(topology.chainFan(fan), !order.isEmpty());
        IntList as;
        for (const Topology::FanRecord &r : fan)
            as.push_back(r.a);
        QVERIFY(order.isEmpty() || as == order);
    }
}

QTEST_GUILESS_MAIN(TestTopology)
#include "tst_topology.moc"
