// Surface fusion of the adaptive mode: the grid that finds close vertex pairs, joins made with a
// tube or refused with nothing changed, and strokes that push two sheets together.

#include "MeshAsserts.h"
#include "TestMeshes.h"
#include "sculpt/Sculptor.h"
#include "topology/Grid.h"
#include "topology/Topology.h"

#include <QQuaternion>
#include <QtTest>

#include <omp.h>

class TestFusion : public QObject
{
    Q_OBJECT

private slots:
    void gridFindsClosePairs();
    void pairsJoinWithTube_data();
    void pairsJoinWithTube();
    void everyPairJoinedSoundlyOrRefused();
    void brushPushesSheetsTogether();
};

using namespace TestMeshes;

namespace {

const float notANumber = std::numeric_limits<float>::quiet_NaN();

int borderEdges(const Mesh &mesh)
{
    int count = 0;
    for (const auto &[edge, n] : edgeCounts(mesh))
        count += n == 1;
    return count;
}

} // namespace

// A pair closer than the fusion distance is always in each other's neighbourhood, whatever the
// box and the size (rounded, or too small for the cell limit), and points that are not finite are
// filed without harm.
void TestFusion::gridFindsClosePairs()
{
    const struct
    {
        QVector3D extent;
        float size;
        QVector3D p, q; // closer to each other than size
    } cases[] = {
        {{100, 10, 10}, 2.9f, {-8.05f, 1, 1}, {-5.25f, 1, 1}}, // two cells apart if truncated
        {{10, 20, 30}, notANumber, {1, 1, 1}, {1.3f, 1, 1}},
        {{1e6f, 1e6f, 1e6f}, 1.0f, {5e5f, 5e5f, 5e5f}, {5e5f + 0.9f, 5e5f, 5e5f}},
        {{1e6f, 1e6f, 1e6f}, 1e12f, {0, 0, 0}, {1, 0, 0}},
        {{10, 10, 10}, 1.0f, {10, 10, 10}, {9.5f, 10, 10}}, // on the box's far corner
    };
    for (const auto &c : cases) {
        auto mesh =
            rawMeshFromArrays({c.p, c.q, QVector3D(notANumber, notANumber, notANumber)}, {});
        Grid grid(Aabb(QVector3D(0, 0, 0), c.extent));
        grid.init(c.size);
        QVERIFY(grid.getCellCount() <= Grid::maxCellCount + 1);
        grid.build(*mesh, {0, 1, 2});
        const std::vector<int> aroundP = grid.getNeighborhood(c.p),
                               aroundNan = grid.getNeighborhood(mesh->getVertex(2).position);
        QCOMPARE(std::count(aroundP.begin(), aroundP.end(), 1), 1);
        QCOMPARE(std::count(aroundNan.begin(), aroundNan.end(), 2), 1);
    }
}

void TestFusion::pairsJoinWithTube_data()
{
    QTest::addColumn<int>("pairs"); // 0: two spheres, else close pairs across two sheets
    QTest::addColumn<float>("fusion"); // fusion distance, in grid edges (0: 0.8 mesh units)
    QTest::addColumn<int>("ringA"); // for the spheres, rings of the two facing vertices
    QTest::addColumn<int>("ringB");
    QTest::newRow("one pair") << 1 << 0.3f << 0 << 0;
    QTest::newRow("four pairs, single-cell grid") << 4 << 0.0f << 0 << 0;
    QTest::newRow("spheres, six and five") << 0 << 0.0f << 6 << 5;
    QTest::newRow("spheres, five and five") << 0 << 0.0f << 5 << 5;
}

// Each join takes two vertices away and reuses their fans' triangles for a tube of twelve
// triangles between the surfaces, which become one piece; undo gives both back bit for bit. Of a
// pair with rings of different sizes, the vertex with the shorter ring cannot go first.
void TestFusion::pairsJoinWithTube()
{
    QFETCH(int, pairs);
    QFETCH(float, fusion);
    QFETCH(int, ringA);
    QFETCH(int, ringB);
    std::unique_ptr<Mesh> mesh;
    float d2Fusion = 0.0f;
    int a = -1, b = -1;
    if (pairs > 0) {
        // Vertex (i, j) of both sheets pulled towards the middle, the pairs far from each other.
        const int side = 13;
        mesh = makeStackedGrids(12, 2, 2.0f, true);
        const float edge = (mesh->getVertex(1).position - mesh->getVertex(0).position).length();
        const float distance = fusion > 0.0f ? fusion * edge : 0.8f;
        d2Fusion = 4.0f * distance * distance;
        int k = 0;
        for (const auto &[i, j] : {std::pair {3, 3}, {8, 4}, {4, 8}, {9, 9}}) {
            if (k++ == pairs)
                break;
            Vertex &lower = mesh->getVertex(j * side + i),
                   &upper = mesh->getVertex(j * side + i + side * side);
            const QVector3D middle = (lower.position + upper.position) * 0.5f;
            lower.position = middle - QVector3D(0, 0, 0.3f * distance);
            upper.position = middle + QVector3D(0, 0, 0.3f * distance);
        }
        mesh->updateMesh(allTriangles(*mesh), allVertices(*mesh));
    } else {
        // Two level-1 icospheres side by side, turned so that a vertex of the first with ringA
        // neighbours faces one of the second with ringB.
        const IcosphereData data = icosphereData(1);
        auto probe = meshFromArrays(data.positions, data.triangles);
        for (int v = 0; v < probe->getNbVertices(); ++v) {
            const int ring = int(probe->getVertex(v).ringIndices.size());
            if (a < 0 && ring == ringA)
                a = v;
            else if (b < 0 && ring == ringB)
                b = v;
        }
        const QVector3D pa = data.positions[a].normalized();
        const QQuaternion turn = QQuaternion::rotationTo(data.positions[b].normalized(), -pa);
        std::vector<QVector3D> positions = data.positions;
        std::vector<std::array<int, 3>> triangles = data.triangles;
        for (const QVector3D &p : data.positions)
            positions.push_back(turn.rotatedVector(p) + pa * 2.05f);
        for (const auto &t : data.triangles)
            triangles.push_back({t[0] + 42, t[1] + 42, t[2] + 42});
        mesh = meshFromArrays(positions, triangles);
        b += 42;
        d2Fusion =
            9.0f * (mesh->getVertex(a).position - mesh->getVertex(b).position).lengthSquared();
    }
    const int vertexCount = mesh->getNbVertices(), triangleCount = mesh->getNbTriangles(),
              borders = borderEdges(*mesh);
    QCOMPARE(components(*mesh), 2);
    mesh->newState();
    mesh->pushState(allTriangles(*mesh), allVertices(*mesh)); // the update touches every record
    const MeshSnapshot before = snapshot(*mesh);
    Topology topology(mesh.get(), QVector3D(0, 0, 0), 1e12f);
    if (ringA != ringB) {
        QVERIFY(!topology.vertexJoin(b, a));
        VERIFY_SAME(before, *mesh);
    }
    ++Vertex::brushCounter; // nothing under the brush: no relaxation
    std::vector<int> list = allTriangles(*mesh);
    topology.adaptive(list, d2Fusion);
    mesh->updateMesh(list, mesh->getVerticesFromTriangles(list));
    VERIFY_SOUND(*mesh, pairs == 0);
    QCOMPARE(mesh->getNbVertices(), vertexCount - 2 * std::max(pairs, 1));
    QCOMPARE(mesh->getNbTriangles(), triangleCount);
    QCOMPARE(components(*mesh), 1);
    QCOMPARE(borderEdges(*mesh), borders);
    if (pairs > 0) {
        // Each tube crosses between the sheets with twelve edges, each on two triangles.
        const float middle = 0.5f
            * (mesh->getVertex(0).position.z() + mesh->getVertex(vertexCount - 1).position.z());
        int crossing = 0;
        for (const auto &[e, count] : edgeCounts(*mesh)) {
            if ((mesh->getVertex(e.first).position.z() < middle)
                != (mesh->getVertex(e.second).position.z() < middle)) {
                ++crossing;
                QCOMPARE(count, 2);
            }
        }
        QCOMPARE(crossing, 12 * pairs);
    }
    mesh->undo();
    VERIFY_SAME(before, *mesh);
    VERIFY_MESH(*mesh);
}

// Every pair of vertices that are not neighbours, on a fresh copy each time: the join is made
// soundly (never of border vertices, never bridging two shared neighbours with a triangle) or
// refused with nothing changed. Undo restores the mesh.
void TestFusion::everyPairJoinedSoundlyOrRefused()
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
            for (int b = 0; b < original->getNbVertices(); ++b) {
                const auto &ring = original->getVertex(a).ringIndices;
                if (a == b || std::find(ring.begin(), ring.end(), b) != ring.end())
                    continue;
                auto mesh = make();
                mesh->newState();
                mesh->pushState(allTriangles(*mesh), allVertices(*mesh));
                const MeshSnapshot before = snapshot(*mesh);
                const QString where =
                    QStringLiteral("shape %1, %2 joined with %3: ").arg(shape).arg(a).arg(b);
                std::vector<int> shared;
                for (int n : mesh->getVertex(b).ringIndices)
                    if (std::find(ring.begin(), ring.end(), n) != ring.end())
                        shared.push_back(n);
                Topology topology(mesh.get(), QVector3D(0, 0, 0), 1e12f);
                if (!topology.vertexJoin(a, b)) {
                    QVERIFY2(compareWithSnapshot(before, *mesh).isEmpty(), qPrintable(where));
                    ++refusals;
                    continue;
                }
                ++joins;
                linkedJoins += !shared.empty();
                for (int v : {a, b})
                    QVERIFY2(original->getVertex(v).ringIndices.size()
                            == original->getVertex(v).triangleIndices.size(),
                        qPrintable(where + "border"));
                for (const Triangle &t : mesh->getTriangles()) {
                    int onShared = 0;
                    for (int c : {t.vertex1, t.vertex2, t.vertex3})
                        onShared += std::count(shared.begin(), shared.end(), c);
                    QVERIFY2(t.visitStamp < 0 || onShared < 2, qPrintable(where + "bridged"));
                }
                topology.deleteMarkedRecords();
                std::vector<int> list = allTriangles(*mesh);
                mesh->updateMesh(list, mesh->getVerticesFromTriangles(list));
                const QString problem = soundness(*mesh, shape == 1);
                QVERIFY2(problem.isEmpty(), qPrintable(where + problem));
                QVERIFY2(borderEdges(*mesh) == borderEdges(*original), qPrintable(where));
                mesh->undo();
                QVERIFY2(
                    compareWithSnapshot(before, *mesh).isEmpty(), qPrintable(where + "undone"));
            }
        }
        QVERIFY(joins > 0 && linkedJoins > 0 && refusals > 0);
    }
}

// Grid edges of length L; a brush of radius 6.5 L at detail 0.75 keeps edges between about 0.84 L
// and 1.72 L (no refinement of the sheets), moves a vertex at most about 0.41 L per step and fuses
// below about 0.67 L. The sheets are 1.2 L apart: inflating steps fuse them under the brush
// centre, smoothing does not. Undo gives back both sheets bit for bit; redo the fused ones.
void TestFusion::brushPushesSheetsTogether()
{
    for (const auto &[tool, steps] : {std::pair {int(INFLATE), 3}, {int(SMOOTH), 1}}) {
        const int side = 17;
        auto mesh = makeStackedGrids(16, 2, 1.2f, true);
        const float edge = (mesh->getVertex(1).position - mesh->getVertex(0).position).length();
        const QVector3D center = (mesh->getVertex(8 * side + 8).position
                                     + mesh->getVertex(8 * side + 8 + side * side).position)
            * 0.5f;
        const float r2 = 6.5f * edge * 6.5f * edge;
        const MeshSnapshot original = snapshot(*mesh);
        Sculptor sculptor;
        sculptor.setMesh(mesh.get());
        sculptor.setTool(tool);
        sculptor.setTopoMode(ADAPTIVE);
        mesh->newState();
        for (int s = 0; s < steps; ++s) {
            const int stamp = ++Vertex::brushCounter;
            std::vector<int> picked;
            for (Vertex &v : mesh->getVertices())
                if ((v.position - center).lengthSquared() < r2)
                    picked.push_back(v.id), v.brushStamp = stamp;
            sculptor.sculpt(picked, center, r2, QVector3D(0, 0, -1));
            VERIFY_SOUND(*mesh, false);
        }
        const int removed = int(original.vertices.size()) - mesh->getNbVertices();
        QVERIFY2(
            tool == SMOOTH ? removed == 0 : removed >= 2, qPrintable(QString::number(removed)));
        QCOMPARE(components(*mesh), tool == SMOOTH ? 2 : 1);
        const std::vector<QVector3D> sculpted = positions(*mesh);
        mesh->undo();
        VERIFY_SAME(original, *mesh);
        mesh->redo();
        QCOMPARE(positions(*mesh), sculpted);
        VERIFY_SOUND(*mesh, false);
    }
}

QTEST_GUILESS_MAIN(TestFusion)
#include "tst_fusion.moc"
