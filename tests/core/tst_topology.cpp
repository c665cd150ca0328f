// Dynamic topology step by step: the endless halving of a tiny brush, edges that must not
// collapse, vertex repair, and surface fusion (the grid that finds close
// pairs, joins made soundly or refused with nothing changed). Whole random strokes in every mode,
// with exact undo and redo, are checked by tst_topology_stress.

#include "MeshAsserts.h"
#include "TestMeshes.h"
#include "sculpt/Sculptor.h"
#include "topology/Grid.h"
#include "topology/SmallSort.h"
#include "topology/Topology.h"

#include <QtTest>

#include <omp.h>

#include <climits>
#include <cmath>
#include <random>
#include <set>

class TestTopology : public QObject
{
    Q_OBJECT

private slots:
    void subdivision();
    void decimation_data();
    void decimation();
    void vertexRepair_data();
    void vertexRepair();
    void gridFindsClosePairs();
    void everyPairJoinedSoundlyOrRefused();
    void sortIndicesAsStdSort();
};

using namespace TestMeshes;
using IntList = QList<int>;
using Positions = std::vector<QVector3D>;
using Faces = std::vector<std::array<int, 3>>;

namespace {

int borderEdges(const Mesh &mesh)
{
    const auto counts = edgeCounts(mesh);
    return int(std::count_if(counts.begin(), counts.end(), [](auto &e) { return e.second == 1; }));
}

} // namespace

// A tiny brush does not subdivide without end (float precision ends the halving).
void TestTopology::subdivision()
{
    for (const auto &[radius, detail] : {std::pair {0.0f, 1.0f}, {1e-6f, 1.0f}, {0.5f, 0.0f}}) {
        auto mesh = makeIcosphere(1);
        mesh->newState();
        const auto &ring = mesh->getVertex(0).ringIndices;
        Sculptor sculptor;
        sculptor.setMesh(mesh.get());
        sculptor.setTopoMode(SUBDIVISION);
        sculptor.setDetail(detail);
        std::vector<int> vertices = {0};
        const auto &v = mesh->getVertices();
        sculptor.sculpt(vertices, (v[0].position + v[ring[0]].position + v[ring[1]].position) / 3,
            radius * radius, QVector3D(0, 0, -1));
        QVERIFY2(mesh->getNbTriangles() < (radius > 0 ? 20000 : 81),
            qPrintable(QString::number(mesh->getNbTriangles())));
        VERIFY_SOUND(*mesh, true);
    }
}

// Under a brush that reaches everything, with every edge short enough to go: edges that must stay
// (collapses everywhere else are made by tst_topology_stress).
void TestTopology::decimation_data()
{
    QTest::addColumn<QString>("mesh");
    QTest::newRow("grid: no collapse of a border edge") << "border";
    QTest::newRow("one quad: two triangles per vertex at most") << "strip 1";
    QTest::newRow("strip of quads: every vertex on the border") << "strip 3";
    QTest::newRow("bipyramid: the spike is flipped") << "bipyramid";
    // Found by the fusion sessions: the flip would give the axis 0-1 two more triangles.
    QTest::newRow("bipyramid with an axis edge: no flip onto it") << "axis";
    QTest::newRow("bipyramid with a fin on 2-4: no flip at its end") << "fin";
}

void TestTopology::decimation()
{
    QFETCH(QString, mesh);
    Positions p;
    Faces f;
    std::vector<int> list;
    if (mesh.startsWith("strip")) {
        for (int i = 0, n = mesh.back().digitValue(); i <= n; ++i) {
            p.insert(p.end(), {QVector3D(float(i), 0, 0), QVector3D(float(i), 0.1f, 0)});
            if (i < n)
                f.insert(f.end(), {{2 * i, 2 * i + 2, 2 * i + 3}, {2 * i, 2 * i + 3, 2 * i + 1}});
        }
    } else if (mesh != "border") {
        // Apexes 0 and 1, equator 2, 3, 4: the ends of an equator edge share three neighbours.
        // The axis row hangs a triangle on the edge 0-1.
        f = {{0, 2, 3}, {0, 3, 4}, {0, 4, 2}, {1, 3, 2}, {1, 4, 3}, {1, 2, 4}};
        p = {{0, 0, 1}, {0, 0, -1}, {1, 0, 0}, {-0.5f, 0.866f, 0}, {-0.5f, -0.866f, 0}};
        if (mesh == "axis")
            p.emplace_back(3, 0, 0), f.push_back({0, 1, 5});
        if (mesh == "fin") // edge 2-4 of three triangles: vertex 2 is not an ordinary end
            p.emplace_back(0, -2, 0), f.push_back({2, 4, 5});
    }
    auto m = mesh == "border" ? makeGrid(6) : meshFromArrays(p, f);
    float d2Min = 1e8f;
    if (mesh == "border") { // vertex 1 halfway to vertex 0: the border edge 0-1 is the shortest
        const float unit = m->getVertex(1).position.x() - m->getVertex(0).position.x();
        m->getVertex(1).position.setX(0.5f * unit + m->getVertex(0).position.x());
        m->updateMesh(allTriangles(*m), allVertices(*m));
        d2Min = 0.3f * unit * unit;
        list = {0};
    } else if (mesh.startsWith("strip")) {
        list = allTriangles(*m);
    }
    const int v0 = m->getNbVertices(), t0 = m->getNbTriangles();
    m->newState();
    const MeshSnapshot original = snapshot(*m);
    Topology topology(m.get(), QVector3D(), 1e8f);
    if (list.empty()) {
        // The collapse of equator edge 2-3 (triangles 0 and 3) flips it to 0-1 instead.
        QCOMPARE(topology.findOppositeTriangle(0, 2, 3), 3);
        topology.edgeCollapse(0, 3, list);
        topology.deleteMarkedRecords();
        list = allTriangles(*m);
        QCOMPARE(edgeCounts(*m).count({2, 3}), mesh == "bipyramid" ? 0u : 1u);
        QCOMPARE(edgeCounts(*m)[std::pair(0, 1)], mesh == "bipyramid" ? 2 : mesh == "axis" ? 1 : 0);
        for (const Triangle &t : m->getTriangles()) { // winding kept: facing away from the centre
            const QVector3D a = m->getVertex(t.vertex1).position,
                            b = m->getVertex(t.vertex2).position,
                            c = m->getVertex(t.vertex3).position;
            QVERIFY(t.id == 6 || QVector3D::dotProduct(QVector3D::normal(a, b, c), a + b + c) >= 0);
        }
    } else {
        topology.decimation(list, d2Min);
    }
    m->updateMesh(list, m->getVerticesFromTriangles(list));
    QVERIFY(m->getNbVertices() == v0 && m->getNbTriangles() == t0);
    if (mesh != "bipyramid" && mesh != "axis") // (the flip's refusal leaves the rings sorted)
        VERIFY_SAME(original, *m);
    if (mesh == "fin") // made with an edge of three triangles, which it keeps
        QCOMPARE(checkMesh(*m), QString());
    else
        VERIFY_SOUND(*m, mesh == "bipyramid");
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
    // Of the 5 x 5 grid's border (found by the soak, seed 1029): (0, 0) has two triangles, (4, 0)
    // one, (1, 0) three. None is degenerate: removing them would pinch the border.
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
    const float s = 0.866f;
    Positions p = {{1, 1, 1}, {1, -1, -1}, {-1, 1, -1}, {-1, -1, 1}};
    Faces f = {{0, 1, 2}, {0, 3, 1}, {0, 2, 3}, {1, 3, 2}};
    if (mesh == "cones") {
        p = {{0, 0, 0}, {1, 0, 1}, {-0.5f, s, 1}, {-0.5f, -s, 1}, {1, 0, -1}, {-0.5f, -s, -1},
            {-0.5f, s, -1}};
        f = {
            {0, 1, 2}, {0, 4, 5}, {0, 2, 3}, {0, 5, 6}, {0, 3, 1}, {0, 6, 4}, {1, 3, 2}, {4, 6, 5}};
    }
    const int triangles = mesh == "grid" ? 32 : int(f.size());
    for (int i = 0; i < extraVertices; ++i)
        p.emplace_back(3.0f + i, 0.5f * i, 0.25f * i * i);
    for (int i = 0; i + 2 < extra.size(); i += 3)
        f.push_back({extra[i], extra[i + 1], extra[i + 2]});
    auto m = mesh == "grid" ? makeGrid(4) : meshFromArrays(p, f);
    m->newState();
    const MeshSnapshot original = snapshot(*m);
    Topology topology(m.get(), QVector3D(), 1.0f);
    topology.checkVertex(checked);
    topology.deleteMarkedRecords();
    m->updateMesh(allTriangles(*m), allVertices(*m));
    QVERIFY(m->getNbVertices() == vertices && m->getNbTriangles() == triangles);
    VERIFY_SOUND(*m, mesh != "grid");
    if (mesh == "cones") {
        // The two vertices sit at their cones' base centres, which are at z = 1 and z = -1.
        const float z0 = m->getVertex(0).position.z();
        QVERIFY(z0 * m->getVertex(7).position.z() < 0.0f);
        QVERIFY(std::abs(std::abs(z0) - std::abs(m->getVertex(1).position.z())) < 1e-3f);
    }
    // Everything removed comes back with undo (the cones' split turns a base triangle's corners).
    m->undo();
    if (mesh != "cones")
        QCOMPARE(compareWithSnapshot(original, *m, 1e-6f), QString());
    VERIFY_MESH(*m);
}

// A pair closer than the fusion distance is always in each other's neighbourhood, whatever the
// box and the size (rounded, or too small for the cell limit), and points that are not finite are
// filed without harm.
void TestTopology::gridFindsClosePairs()
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::tuple<QVector3D, float, QVector3D, QVector3D> cases[] = {// box, size, p, q
        {{100, 10, 10}, 2.9f, {-8.05f, 1, 1}, {-5.25f, 1, 1}}, // two cells apart if truncated
        {{10, 20, 30}, nan, {1, 1, 1}, {1.3f, 1, 1}},
        {{1e6f, 1e6f, 1e6f}, 1.0f, {5e5f, 5e5f, 5e5f}, {5e5f + 0.9f, 5e5f, 5e5f}},
        {{1e6f, 1e6f, 1e6f}, 1e12f, {0, 0, 0}, {1, 0, 0}},
        {{10, 10, 10}, 1.0f, {10, 10, 10}, {9.5f, 10, 10}}}; // on the box's far corner
    for (const auto &[extent, size, p, q] : cases) {
        auto mesh = rawMeshFromArrays({p, q, QVector3D(nan, nan, nan)}, {});
        Grid grid(Aabb(QVector3D(0, 0, 0), extent));
        grid.init(size);
        QVERIFY(grid.getCellCount() <= Grid::maxCellCount + 1);
        grid.build(*mesh, {0, 1, 2});
        const std::vector<int> aroundP = grid.getNeighborhood(p),
                               aroundNan = grid.getNeighborhood(mesh->getVertex(2).position);
        QCOMPARE(std::count(aroundP.begin(), aroundP.end(), 1), 1);
        QCOMPARE(std::count(aroundNan.begin(), aroundNan.end(), 2), 1);
    }
}

// Every pair of vertices that are not neighbours, on a fresh copy each time: the join is made
// soundly (never of border vertices, never bridging two shared neighbours with a triangle) or
// refused with nothing changed. Undo restores the mesh.
void TestTopology::everyPairJoinedSoundlyOrRefused()
{
    const int threads = omp_get_max_threads(); // thousands of tiny meshes: no worker teams
    omp_set_num_threads(1);
    const auto restore = qScopeGuard([threads] { omp_set_num_threads(threads); });
    for (int shape = 0; shape < 3; ++shape) {
        auto make = [shape]() {
            return shape == 0 ? makeGrid(5)
                : shape == 1  ? makeIcosphere(1)
                              : makeStackedGrids(3, 2, 1.0f, true);
        };
        auto original = make();
        int joins = 0, linkedJoins = 0, refusals = 0;
        for (int a = 0; a < original->getNbVertices(); ++a) {
            const auto &ring = original->getVertex(a).ringIndices;
            for (int b = 0; b < original->getNbVertices(); ++b) {
                if (a == b || std::find(ring.begin(), ring.end(), b) != ring.end())
                    continue;
                auto mesh = make();
                mesh->newState();
                mesh->pushState(allTriangles(*mesh), allVertices(*mesh));
                const MeshSnapshot before = snapshot(*mesh);
                const QString where =
                    QStringLiteral("shape %1, %2 joined with %3: ").arg(shape).arg(a).arg(b);
                std::set<int> shared;
                for (int n : mesh->getVertex(b).ringIndices)
                    if (std::find(ring.begin(), ring.end(), n) != ring.end())
                        shared.insert(n);
                Topology topology(mesh.get(), QVector3D(0, 0, 0), 1e12f);
                const bool joined = topology.vertexJoin(a, b);
                joins += joined, refusals += !joined, linkedJoins += joined && !shared.empty();
                if (joined) {
                    for (int v : {a, b}) // never a border vertex
                        QVERIFY2(original->getVertex(v).ringIndices.size()
                                == original->getVertex(v).triangleIndices.size(),
                            qPrintable(where + "border"));
                    for (const Triangle &t : mesh->getTriangles())
                        QVERIFY2(t.visitStamp < 0
                                || shared.count(t.vertex1) + shared.count(t.vertex2)
                                        + shared.count(t.vertex3)
                                    < 2,
                            qPrintable(where + "bridged"));
                    topology.deleteMarkedRecords();
                    std::vector<int> list = allTriangles(*mesh);
                    mesh->updateMesh(list, mesh->getVerticesFromTriangles(list));
                    const QString problem = soundness(*mesh, shape == 1);
                    QVERIFY2(problem.isEmpty(), qPrintable(where + problem));
                    QVERIFY2(borderEdges(*mesh) == borderEdges(*original), qPrintable(where));
                    mesh->undo();
                }
                QVERIFY2(compareWithSnapshot(before, *mesh).isEmpty(),
                    qPrintable(where + "unchanged or undone"));
            }
        }
        QVERIFY(joins > 0 && linkedJoins > 0 && refusals > 0);
    }
}

// The sort of the records to delete gives std::sort's order: short and long lists, indices
// that need one, two or three passes, duplicates, and a negative entry.
void TestTopology::sortIndicesAsStdSort()
{
    std::mt19937 random(7);
    std::vector<int> scratch;
    for (const auto &[size, largest] : {std::pair(0, 10), {100, 10}, {1024, 0}, {3000, 2047},
             {3000, 2048}, {5000, 5000000}, {5000, INT_MAX}, {5000, -1}}) {
        std::vector<int> list(size);
        for (int &v : list)
            v = largest < 0 ? int(random() % 100) - 50 : int(random() % (unsigned(largest) + 1u));
        std::vector<int> expected = list;
        std::sort(expected.begin(), expected.end());
        sortIndices(list, scratch);
        QVERIFY2(
            list == expected, qPrintable(QString("%1 entries up to %2").arg(size).arg(largest)));
    }
}

QTEST_GUILESS_MAIN(TestTopology)
#include "tst_topology.moc"
