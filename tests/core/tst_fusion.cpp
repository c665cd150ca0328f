#include "MeshAsserts.h"
#include "TestMeshes.h"
#include "mesh/MeshCheck.h"
#include "sculpt/Sculptor.h"
#include "sculpt/StrokeScript.h"
#include "topology/Grid.h"
#include "topology/Topology.h"

#include <QQuaternion>
#include <QtTest>

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <numeric>
#include <set>

class TestFusion : public QObject
{
    Q_OBJECT

private slots:
    void gridCells_data();
    void gridCells();
    void gridFindsClosePairs_data();
    void gridFindsClosePairs();
    void sheetsJoinWithTube_data();
    void sheetsJoinWithTube();
    void spheresJoinWithTube_data();
    void spheresJoinWithTube();
    void neverJoined_data();
    void neverJoined();
    void sharedNeighboursNotBridged();
    void everyPairJoinedSoundlyOrRefused_data();
    void everyPairJoinedSoundlyOrRefused();
    void brushPushesSheetsTogether_data();
    void brushPushesSheetsTogether();
    void strokeScriptFusesSheets();
};

using TestMeshes::allTriangles;
using TestMeshes::allVertices;

namespace {

using EdgeCounts = std::map<std::pair<int, int>, int>;

EdgeCounts edgeCounts(const Mesh &mesh)
{
    EdgeCounts counts;
    for (const Triangle &t : mesh.getTriangles()) {
        if (t.visitStamp < 0)
            continue; // marked for removal
        const int c[3] = {t.vertex1, t.vertex2, t.vertex3};
        for (int e = 0; e < 3; ++e) {
            const int a = c[e];
            const int b = c[(e + 1) % 3];
            ++counts[{std::min(a, b), std::max(a, b)}];
        }
    }
    return counts;
}

// Checks that finish every topology test: the consistency check, finite positions, one or two
// triangles on every edge (exactly two on a closed mesh), no vertex without triangles.
QString soundness(const Mesh &mesh, bool closed)
{
    QString problem = checkMesh(mesh);
    if (!problem.isEmpty())
        return problem;
    for (const Vertex &v : mesh.getVertices()) {
        if (!std::isfinite(v.position.x()) || !std::isfinite(v.position.y())
            || !std::isfinite(v.position.z()))
            return QStringLiteral("vertex %1 is not finite").arg(v.id);
        if (v.triangleIndices.empty())
            return QStringLiteral("vertex %1 has no triangle").arg(v.id);
    }
    for (const auto &[edge, count] : edgeCounts(mesh)) {
        if (count > 2 || (closed && count != 2))
            return QStringLiteral("edge %1-%2 has %3 triangles")
                .arg(edge.first)
                .arg(edge.second)
                .arg(count);
    }
    return {};
}

#define VERIFY_SOUND(mesh, closed)                                                                 \
    do {                                                                                           \
        const QString problem = soundness(mesh, closed);                                           \
        QVERIFY2(problem.isEmpty(), qPrintable(problem));                                          \
    } while (false)

int borderEdges(const Mesh &mesh)
{
    int count = 0;
    for (const auto &[edge, n] : edgeCounts(mesh))
        count += n == 1;
    return count;
}

// Number of connected pieces of the surface (vertices linked through triangles).
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
    std::set<int> roots;
    for (int v = 0; v < mesh.getNbVertices(); ++v)
        roots.insert(find(v));
    return static_cast<int>(roots.size());
}

// Saves every record into the open state, for tests that then update the whole mesh.
void saveEverything(Mesh &mesh)
{
    mesh.pushState(allTriangles(mesh), allVertices(mesh));
}

// Two n x n grids of unit quads, the lower one at z = 0 facing up, the upper one at z = gap
// facing down: two open sheets facing each other. Vertex (i, j) of the lower sheet is
// j * (n + 1) + i, of the upper one the same plus (n + 1)^2.
std::unique_ptr<Mesh> makeSheets(int n, float gap)
{
    std::vector<QVector3D> positions;
    std::vector<std::array<int, 3>> triangles;
    const int side = n + 1;
    for (int sheet = 0; sheet < 2; ++sheet) {
        for (int j = 0; j <= n; ++j) {
            for (int i = 0; i <= n; ++i)
                positions.emplace_back(float(i), float(j), sheet ? gap : 0.0f);
        }
    }
    for (int sheet = 0; sheet < 2; ++sheet) {
        const int base = sheet * side * side;
        for (int j = 0; j < n; ++j) {
            for (int i = 0; i < n; ++i) {
                const int a = base + j * side + i;
                const int b = a + 1;
                const int c = a + side;
                const int d = c + 1;
                if (sheet == 0) {
                    triangles.push_back({a, b, d});
                    triangles.push_back({a, d, c});
                } else {
                    triangles.push_back({a, d, b});
                    triangles.push_back({a, c, d});
                }
            }
        }
    }
    return TestMeshes::meshFromArrays(positions, triangles);
}

// Length of a grid edge after loading (the loading scales the mesh).
float spacing(const Mesh &mesh)
{
    return (mesh.getVertex(1).position - mesh.getVertex(0).position).length();
}

// Vertices inside the sphere get the current brush stamp; returns them.
std::vector<int> stampBrush(Mesh &mesh, const QVector3D &center, float radiusSquared)
{
    const int stamp = ++Vertex::brushCounter;
    std::vector<int> picked;
    for (Vertex &v : mesh.getVertices()) {
        if ((v.position - center).lengthSquared() < radiusSquared) {
            v.brushStamp = stamp;
            picked.push_back(v.id);
        }
    }
    return picked;
}

// Whether the mesh still has a vertex at p (bit for bit).
bool hasVertexAt(const Mesh &mesh, const QVector3D &p)
{
    for (const Vertex &v : mesh.getVertices()) {
        if (v.position == p)
            return true;
    }
    return false;
}

bool isBorder(const Mesh &mesh, int v)
{
    const Vertex &vertex = mesh.getVertex(v);
    return vertex.ringIndices.size() != vertex.triangleIndices.size();
}

std::vector<int> sharedNeighbours(const Mesh &mesh, int a, int b)
{
    std::vector<int> ra = mesh.getVertex(a).ringIndices;
    std::vector<int> rb = mesh.getVertex(b).ringIndices;
    std::sort(ra.begin(), ra.end());
    std::sort(rb.begin(), rb.end());
    std::vector<int> shared;
    std::set_intersection(ra.begin(), ra.end(), rb.begin(), rb.end(), std::back_inserter(shared));
    return shared;
}

bool adjacent(const Mesh &mesh, int a, int b)
{
    const auto &ring = mesh.getVertex(a).ringIndices;
    return std::find(ring.begin(), ring.end(), b) != ring.end();
}

} // namespace

void TestFusion::gridCells_data()
{
    QTest::addColumn<QVector3D>("extent");
    QTest::addColumn<float>("size");
    QTest::addColumn<int>("cellSize");
    QTest::addColumn<int>("nx");
    QTest::addColumn<int>("ny");
    QTest::addColumn<int>("nz");
    // The box grows by a tenth of its extent on each side: 10 becomes 12.
    QTest::newRow("integer size") << QVector3D(10, 20, 0) << 3.0f << 3 << 4 << 8 << 1;
    QTest::newRow("fraction rounded up") << QVector3D(10, 20, 0) << 2.5f << 3 << 4 << 8 << 1;
    QTest::newRow("below 1: one cell") << QVector3D(10, 20, 30) << 0.9f << 0 << 1 << 1 << 1;
    QTest::newRow("zero: one cell") << QVector3D(10, 20, 30) << 0.0f << 0 << 1 << 1 << 1;
    QTest::newRow("not a number: one cell")
        << QVector3D(10, 20, 30) << std::numeric_limits<float>::quiet_NaN() << 0 << 1 << 1 << 1;
    QTest::newRow("flat box") << QVector3D(0, 0, 0) << 5.0f << 5 << 1 << 1 << 1;
    QTest::newRow("cell larger than the box") << QVector3D(1, 1, 1) << 50.0f << 50 << 1 << 1 << 1;
    // 1.2e6 cells of 1 on each axis would be 1.7e18 cells: the size doubles until at most
    // 2^21 cells remain (cell 2^10 = 1024 gives 1172^3, 2^11 gives 586^3 = 2.0e8 ... 2^14 gives
    // 74^3 = 405224).
    QTest::newRow("huge box, tiny cell")
        << QVector3D(1e6f, 1e6f, 1e6f) << 1.0f << 16384 << 74 << 74 << 74;
    QTest::newRow("huge box, size beyond int range")
        << QVector3D(1e6f, 1e6f, 1e6f) << 1e12f << (1 << 30) << 1 << 1 << 1;
}

void TestFusion::gridCells()
{
    QFETCH(QVector3D, extent);
    QFETCH(float, size);
    QFETCH(int, cellSize);
    QFETCH(int, nx);
    QFETCH(int, ny);
    QFETCH(int, nz);
    Grid grid(Aabb(QVector3D(0, 0, 0), extent));
    QCOMPARE(grid.getBox().min, -extent * 0.1f);
    QCOMPARE(grid.getBox().max, extent * 1.1f);
    grid.init(size);
    QCOMPARE(grid.getCellSize(), cellSize);
    QCOMPARE(grid.getNx(), nx);
    QCOMPARE(grid.getNy(), ny);
    QCOMPARE(grid.getNz(), nz);
    QCOMPARE(grid.getCellCount(), nx * ny * nz + 1);
    QVERIFY(grid.getCellCount() <= Grid::maxCellCount + 1);
}

void TestFusion::gridFindsClosePairs_data()
{
    QTest::addColumn<QVector3D>("extent");
    QTest::addColumn<float>("size");
    QTest::addColumn<QVector3D>("p");
    QTest::addColumn<QVector3D>("q"); // closer to p than size
    QTest::addColumn<QVector3D>("far"); // never in p's neighbourhood (unless one cell)
    QTest::addColumn<bool>("oneCell");
    // Box x from -10 to 110: with cells of 2 (the size truncated) p and q would fall two cells
    // apart, with cells of 3 they are neighbours.
    QTest::newRow("fractional size") << QVector3D(100, 10, 10) << 2.9f << QVector3D(-8.05f, 1, 1)
                                     << QVector3D(-5.25f, 1, 1) << QVector3D(50, 1, 1) << false;
    QTest::newRow("single cell") << QVector3D(100, 100, 100) << 0.5f << QVector3D(1, 1, 1)
                                 << QVector3D(1.3f, 1, 1) << QVector3D(99, 99, 99) << true;
    QTest::newRow("huge box, tiny cell")
        << QVector3D(1e6f, 1e6f, 1e6f) << 1.0f << QVector3D(5e5f, 5e5f, 5e5f)
        << QVector3D(5e5f + 0.9f, 5e5f, 5e5f) << QVector3D(0, 0, 0) << false;
    QTest::newRow("points on the box's far corner")
        << QVector3D(10, 10, 10) << 1.0f << QVector3D(10, 10, 10) << QVector3D(9.5f, 10, 10)
        << QVector3D(0, 0, 0) << false;
}

void TestFusion::gridFindsClosePairs()
{
    QFETCH(QVector3D, extent);
    QFETCH(float, size);
    QFETCH(QVector3D, p);
    QFETCH(QVector3D, q);
    QFETCH(QVector3D, far);
    QFETCH(bool, oneCell);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    auto mesh = TestMeshes::rawMeshFromArrays({p, q, far, QVector3D(nan, nan, nan)}, {});
    Grid grid(Aabb(QVector3D(0, 0, 0), extent));
    grid.init(size);
    grid.build(*mesh, {0, 1, 2, 3});
    const std::vector<int> aroundP = grid.getNeighborhood(p);
    const std::vector<int> aroundQ = grid.getNeighborhood(q);
    QVERIFY(std::count(aroundP.begin(), aroundP.end(), 1) == 1);
    QVERIFY(std::count(aroundQ.begin(), aroundQ.end(), 0) == 1);
    QCOMPARE(std::count(aroundP.begin(), aroundP.end(), 2) == 1, oneCell);
    if (oneCell) {
        // One cell: everything, in the order filed.
        QCOMPARE(aroundP, std::vector<int>({0, 1, 2, 3}));
    }
    // A point that is not finite is filed and looked up without harm.
    const std::vector<int> aroundNan = grid.getNeighborhood(QVector3D(nan, nan, nan));
    QVERIFY(std::count(aroundNan.begin(), aroundNan.end(), 3) == 1);
}

void TestFusion::sheetsJoinWithTube_data()
{
    QTest::addColumn<int>("pairs");
    QTest::addColumn<float>("fusion"); // fusion distance, in grid edges (0: 0.8 mesh units)
    QTest::addColumn<float>("closeness"); // distance of a pair, in fusion distances
    QTest::newRow("one pair") << 1 << 0.3f << 0.5f;
    QTest::newRow("two pairs") << 2 << 0.3f << 0.5f;
    QTest::newRow("four pairs") << 4 << 0.3f << 0.9f;
    QTest::newRow("one pair, single-cell grid") << 1 << 0.0f << 0.6f;
    QTest::newRow("four pairs, single-cell grid") << 4 << 0.0f << 0.6f;
}

void TestFusion::sheetsJoinWithTube()
{
    QFETCH(int, pairs);
    QFETCH(float, fusion);
    QFETCH(float, closeness);
    const int n = 12;
    const int side = n + 1;
    auto mesh = makeSheets(n, 2.0f);
    const float edge = spacing(*mesh);
    const float distance = fusion > 0.0f ? fusion * edge : 0.8f;
    const float d2Fusion = 4.0f * distance * distance;
    // Pairs far apart from each other: vertex (i, j) of both sheets, pulled towards the middle.
    const int spots[4][2] = {{3, 3}, {8, 4}, {4, 8}, {9, 9}};
    std::vector<QVector3D> joined;
    for (int k = 0; k < pairs; ++k) {
        const int lower = spots[k][1] * side + spots[k][0];
        const int upper = lower + side * side;
        Vertex &a = mesh->getVertex(lower);
        Vertex &b = mesh->getVertex(upper);
        const QVector3D middle = (a.position + b.position) * 0.5f;
        const QVector3D offset(0.0f, 0.0f, 0.5f * closeness * distance);
        a.position = middle - offset;
        b.position = middle + offset;
        joined.push_back(a.position);
        joined.push_back(b.position);
    }
    mesh->updateMesh(allTriangles(*mesh), std::vector<int>());
    const int vertexCount = mesh->getNbVertices();
    const int triangleCount = mesh->getNbTriangles();
    const int borders = borderEdges(*mesh);
    QCOMPARE(components(*mesh), 2);

    mesh->newState();
    ++Vertex::brushCounter; // nothing selected: no relaxation, the counts tell the joins
    Topology topology(mesh.get(), QVector3D(0, 0, 0), 1e12f);
    std::vector<int> list = allTriangles(*mesh);
    topology.adaptive(list, d2Fusion);
    mesh->updateMesh(list, mesh->getVerticesFromTriangles(list));

    VERIFY_SOUND(*mesh, false);
    // Two vertices fewer per join, the fans' triangles reused for the tube.
    QCOMPARE(mesh->getNbVertices(), vertexCount - 2 * pairs);
    QCOMPARE(mesh->getNbTriangles(), triangleCount);
    for (const QVector3D &p : joined)
        QVERIFY(!hasVertexAt(*mesh, p));
    QCOMPARE(components(*mesh), 1);
    QCOMPARE(borderEdges(*mesh), borders);
    // Each tube of twelve triangles crosses between the sheets with twelve edges.
    int crossing = 0;
    const float middle = mesh->getVertex(0).position.z() + edge;
    for (const auto &[e, count] : edgeCounts(*mesh)) {
        const bool lowA = mesh->getVertex(e.first).position.z() < middle;
        const bool lowB = mesh->getVertex(e.second).position.z() < middle;
        if (lowA != lowB) {
            ++crossing;
            QCOMPARE(count, 2);
        }
    }
    QCOMPARE(crossing, 12 * pairs);
    for (const Triangle &t : mesh->getTriangles())
        QVERIFY(!t.normal.isNull());
}

void TestFusion::spheresJoinWithTube_data()
{
    QTest::addColumn<int>("ringA");
    QTest::addColumn<int>("ringB");
    QTest::newRow("six and six") << 6 << 6;
    QTest::newRow("six and five") << 6 << 5;
    QTest::newRow("five and five") << 5 << 5;
}

void TestFusion::spheresJoinWithTube()
{
    QFETCH(int, ringA);
    QFETCH(int, ringB);
    // Two level-1 icospheres (vertices with five or six neighbours) side by side, turned so
    // that a vertex of the first with ringA neighbours faces one of the second with ringB.
    const TestMeshes::IcosphereData data = TestMeshes::icosphereData(1);
    auto ringOf = [&](int v) {
        std::set<int> ring;
        for (const auto &t : data.triangles) {
            if (t[0] == v || t[1] == v || t[2] == v) {
                for (int c : t) {
                    if (c != v)
                        ring.insert(c);
                }
            }
        }
        return int(ring.size());
    };
    int a = -1;
    int b = -1;
    for (int v = 0; v < int(data.positions.size()); ++v) {
        if (a < 0 && ringOf(v) == ringA)
            a = v;
        else if (b < 0 && ringOf(v) == ringB)
            b = v;
    }
    QVERIFY(a >= 0 && b >= 0);
    const QVector3D pa = data.positions[a].normalized();
    const QVector3D pb = data.positions[b].normalized();
    const QQuaternion turn = QQuaternion::rotationTo(pb, -pa);
    const float gap = 0.05f;
    std::vector<QVector3D> positions = data.positions;
    std::vector<std::array<int, 3>> triangles = data.triangles;
    const int offset = int(data.positions.size());
    for (const QVector3D &p : data.positions)
        positions.push_back(turn.rotatedVector(p) + pa * (2.0f + gap));
    for (const auto &t : data.triangles)
        triangles.push_back({t[0] + offset, t[1] + offset, t[2] + offset});
    auto mesh = TestMeshes::meshFromArrays(positions, triangles);
    const int vb = b + offset;
    const float distance = (mesh->getVertex(a).position - mesh->getVertex(vb).position).length();
    const int vertexCount = mesh->getNbVertices();
    const int triangleCount = mesh->getNbTriangles();
    mesh->newState();
    saveEverything(*mesh); // the test updates every triangle's normal
    const TestMeshes::MeshSnapshot before = TestMeshes::snapshot(*mesh);

    Topology topology(mesh.get(), QVector3D(0, 0, 0), 1e12f);
    if (ringA != ringB) {
        // The vertex with the shorter ring first: refused, nothing changed.
        QVERIFY(!topology.vertexJoin(vb, a));
        VERIFY_SAME(before, *mesh);
    }
    ++Vertex::brushCounter;
    std::vector<int> list = allTriangles(*mesh);
    topology.adaptive(list, 4.0f * 1.5f * distance * 1.5f * distance);
    mesh->updateMesh(list, mesh->getVerticesFromTriangles(list));
    VERIFY_SOUND(*mesh, true);
    QCOMPARE(mesh->getNbVertices(), vertexCount - 2);
    QCOMPARE(mesh->getNbTriangles(), triangleCount);
    QCOMPARE(components(*mesh), 1);

    mesh->undo();
    VERIFY_SAME(before, *mesh);
    VERIFY_MESH(*mesh);
}

void TestFusion::neverJoined_data()
{
    QTest::addColumn<QString>("pair");
    QTest::newRow("ring neighbours") << "neighbours";
    QTest::newRow("border vertices facing each other") << "borders";
    QTest::newRow("border vertex and inner vertex") << "border and inner";
    QTest::newRow("vertex with itself") << "itself";
}

void TestFusion::neverJoined()
{
    QFETCH(QString, pair);
    const int n = 6;
    const int side = n + 1;
    auto mesh = makeSheets(n, 2.0f);
    const float edge = spacing(*mesh);
    int a = 3 * side + 3;
    int b = a + side * side;
    if (pair == QLatin1String("neighbours"))
        b = a + 1;
    else if (pair == QLatin1String("borders"))
        a = 3 * side, b = a + side * side;
    else if (pair == QLatin1String("border and inner"))
        a = 3 * side, b = 3 * side + 1 + side * side;
    else
        b = a;
    if (pair == QLatin1String("borders"))
        QVERIFY(isBorder(*mesh, a) && isBorder(*mesh, b));
    else if (pair == QLatin1String("border and inner"))
        QVERIFY(isBorder(*mesh, a) && !isBorder(*mesh, b));
    // The two close together, far closer than the fusion distance.
    Vertex &va = mesh->getVertex(a);
    Vertex &vb = mesh->getVertex(b);
    vb.position = va.position + QVector3D(0.01f, 0.0f, 0.01f) * edge;
    mesh->updateMesh(allTriangles(*mesh), std::vector<int>());
    mesh->newState();
    const TestMeshes::MeshSnapshot before = TestMeshes::snapshot(*mesh);

    Topology topology(mesh.get(), QVector3D(0, 0, 0), 1e12f);
    QVERIFY(!topology.vertexJoin(a, b));
    QVERIFY(!topology.vertexJoin(b, a));
    VERIFY_SAME(before, *mesh);
    stampBrush(*mesh, QVector3D(0, 0, 0), 1e12f);
    std::vector<int> list = allTriangles(*mesh);
    topology.adaptive(list, 4.0f * 0.3f * edge * 0.3f * edge);
    VERIFY_SAME(before, *mesh);
    VERIFY_SOUND(*mesh, false);
    QVERIFY(mesh->getUndoStates().back().savedVertices.empty());
}

void TestFusion::sharedNeighboursNotBridged()
{
    const int sharedCount = 2;
    // One sheet; two inner vertices two edges apart, sharing neighbours, brought together
    // (as across a fold).
    const int n = 8;
    auto mesh = TestMeshes::makeGrid(n);
    int a = -1;
    int b = -1;
    for (int u = 0; u < mesh->getNbVertices() && a < 0; ++u) {
        for (int v = u + 1; v < mesh->getNbVertices(); ++v) {
            if (isBorder(*mesh, u) || isBorder(*mesh, v) || adjacent(*mesh, u, v))
                continue;
            // Well inside, so that the rings' rings are inner too.
            const QVector3D c = mesh->getVertex(mesh->getNbVertices() / 2).position;
            const float edge = spacing(*mesh);
            if ((mesh->getVertex(u).position - c).length() > 2.5f * edge
                || (mesh->getVertex(v).position - c).length() > 2.5f * edge)
                continue;
            if (int(sharedNeighbours(*mesh, u, v).size()) == sharedCount) {
                a = u;
                b = v;
                break;
            }
        }
    }
    QVERIFY(a >= 0);
    const std::vector<int> shared = sharedNeighbours(*mesh, a, b);
    const float edge = spacing(*mesh);
    const QVector3D middle = (mesh->getVertex(a).position + mesh->getVertex(b).position) * 0.5f;
    mesh->getVertex(a).position = middle + QVector3D(0, 0, 0.05f * edge);
    mesh->getVertex(b).position = middle - QVector3D(0, 0, 0.05f * edge);
    mesh->updateMesh(allTriangles(*mesh), allVertices(*mesh));
    const int vertexCount = mesh->getNbVertices();
    const int borders = borderEdges(*mesh);
    mesh->newState();
    saveEverything(*mesh);
    const TestMeshes::MeshSnapshot before = TestMeshes::snapshot(*mesh);

    Topology topology(mesh.get(), QVector3D(0, 0, 0), 1e12f);
    QVERIFY(topology.vertexJoin(a, b));
    // Before the marked records leave: the shared vertices keep their indices.
    for (const Triangle &t : mesh->getTriangles()) {
        if (t.visitStamp < 0)
            continue;
        int count = 0;
        for (int c : {t.vertex1, t.vertex2, t.vertex3})
            count += std::binary_search(shared.begin(), shared.end(), c);
        QVERIFY2(count < 2,
            qPrintable(QStringLiteral("triangle %1 joins two shared neighbours").arg(t.id)));
    }
    topology.deleteMarkedRecords();
    std::vector<int> list = allTriangles(*mesh);
    mesh->updateMesh(list, mesh->getVerticesFromTriangles(list));
    VERIFY_SOUND(*mesh, false);
    // Two vertices fewer (one more if a pinched vertex had to be split).
    QVERIFY(mesh->getNbVertices() < vertexCount);
    QCOMPARE(borderEdges(*mesh), borders);

    mesh->undo();
    VERIFY_SAME(before, *mesh);
    VERIFY_MESH(*mesh);
}

void TestFusion::everyPairJoinedSoundlyOrRefused_data()
{
    QTest::addColumn<QString>("shape");
    QTest::newRow("open grid") << "grid";
    QTest::newRow("icosphere") << "icosphere";
    QTest::newRow("two sheets") << "sheets";
}

void TestFusion::everyPairJoinedSoundlyOrRefused()
{
    QFETCH(QString, shape);
    // Every pair of vertices that are not neighbours, on a fresh copy each time: the join is
    // either made soundly, or refused with nothing changed. Undo restores the mesh.
    auto make = [&]() {
        if (shape == QLatin1String("grid"))
            return TestMeshes::makeGrid(5);
        if (shape == QLatin1String("icosphere"))
            return TestMeshes::makeIcosphere(1);
        return makeSheets(3, 1.0f);
    };
    const bool closed = shape == QLatin1String("icosphere");
    // Thousands of tiny meshes: worker teams would cost more than the work.
    const int threads = omp_get_max_threads();
    omp_set_num_threads(1);
    const auto restore = qScopeGuard([threads] { omp_set_num_threads(threads); });
    auto original = make();
    const int count = original->getNbVertices();
    int joins = 0;
    int linkedJoins = 0; // joins of vertices with shared neighbours
    int refusals = 0;
    for (int a = 0; a < count; ++a) {
        for (int b = 0; b < count; ++b) {
            if (a == b || adjacent(*original, a, b))
                continue;
            auto mesh = make();
            const int borders = borderEdges(*mesh);
            mesh->newState();
            saveEverything(*mesh);
            const TestMeshes::MeshSnapshot before = TestMeshes::snapshot(*mesh);
            Topology topology(mesh.get(), QVector3D(0, 0, 0), 1e12f);
            const QString where = QStringLiteral("%1 joined with %2").arg(a).arg(b);
            const std::vector<int> shared = sharedNeighbours(*mesh, a, b);
            if (!topology.vertexJoin(a, b)) {
                const QString difference = TestMeshes::compareWithSnapshot(before, *mesh);
                QVERIFY2(difference.isEmpty(), qPrintable(where + ": " + difference));
                ++refusals;
                continue;
            }
            ++joins;
            linkedJoins += !shared.empty();
            QVERIFY2(!isBorder(*original, a) && !isBorder(*original, b), qPrintable(where));
            for (const Triangle &t : mesh->getTriangles()) {
                int onShared = 0;
                for (int c : {t.vertex1, t.vertex2, t.vertex3})
                    onShared += std::binary_search(shared.begin(), shared.end(), c);
                QVERIFY2(t.visitStamp < 0 || onShared < 2, qPrintable(where));
            }
            topology.deleteMarkedRecords();
            std::vector<int> list = allTriangles(*mesh);
            mesh->updateMesh(list, mesh->getVerticesFromTriangles(list));
            const QString problem = soundness(*mesh, closed);
            QVERIFY2(problem.isEmpty(), qPrintable(where + ": " + problem));
            QVERIFY2(mesh->getNbVertices() < count, qPrintable(where));
            QVERIFY2(borderEdges(*mesh) == borders, qPrintable(where));
            mesh->undo();
            const QString difference = TestMeshes::compareWithSnapshot(before, *mesh);
            QVERIFY2(difference.isEmpty(), qPrintable(where + ", undone: " + difference));
        }
    }
    qInfo("%d joins (%d with shared neighbours), %d refusals", joins, linkedJoins, refusals);
    QVERIFY(joins > 0);
    QVERIFY(refusals > 0);
}

void TestFusion::brushPushesSheetsTogether_data()
{
    QTest::addColumn<int>("tool");
    QTest::addColumn<int>("steps");
    QTest::newRow("inflate: both sheets along their normals") << int(INFLATE) << 1;
    QTest::newRow("inflate, three steps") << int(INFLATE) << 3;
    QTest::newRow("smooth does not bring them together") << int(SMOOTH) << 1;
}

void TestFusion::brushPushesSheetsTogether()
{
    QFETCH(int, tool);
    QFETCH(int, steps);
    // Grid edges of length L; a brush of radius 6.5 L at detail 0.75 keeps edges between about
    // 0.84 L and 1.72 L (no refinement of the sheets), moves a vertex at most about 0.41 L per
    // step and fuses below about 0.67 L. The sheets are 1.2 L apart: one step fuses them under
    // the brush centre.
    const int n = 16;
    auto mesh = makeSheets(n, 1.2f);
    const float edge = spacing(*mesh);
    const int side = n + 1;
    const QVector3D center = (mesh->getVertex(8 * side + 8).position
                                 + mesh->getVertex(8 * side + 8 + side * side).position)
        * 0.5f;
    const float radius = 6.5f * edge;
    const int vertexCount = mesh->getNbVertices();
    const TestMeshes::MeshSnapshot original = TestMeshes::snapshot(*mesh);

    Sculptor sculptor;
    sculptor.setMesh(mesh.get());
    sculptor.setTool(tool);
    sculptor.setTopoMode(ADAPTIVE);
    mesh->newState();
    for (int s = 0; s < steps; ++s) {
        std::vector<int> picked = stampBrush(*mesh, center, radius * radius);
        sculptor.sculpt(picked, center, radius * radius, QVector3D(0, 0, -1));
        VERIFY_SOUND(*mesh, false);
    }
    QVERIFY(std::sqrt(sculptor.getD2Fusion()) * 0.5f > 0.6f * edge);
    QVERIFY(std::sqrt(sculptor.getD2Fusion()) * 0.5f < 0.7f * edge);
    const int removed = vertexCount - mesh->getNbVertices();
    if (tool == SMOOTH) {
        QCOMPARE(removed, 0);
        QCOMPARE(components(*mesh), 2);
    } else {
        QVERIFY2(removed >= 2, qPrintable(QString::number(removed)));
        QCOMPARE(components(*mesh), 1);
    }
    const TestMeshes::MeshSnapshot sculpted = TestMeshes::snapshot(*mesh);

    // Undo gives back both sheets bit for bit; redo the fused ones.
    mesh->undo();
    VERIFY_SAME(original, *mesh);
    VERIFY_MESH(*mesh);
    QCOMPARE(components(*mesh), 2);
    mesh->redo();
    QCOMPARE(mesh->getNbVertices(), int(sculpted.vertices.size()));
    QCOMPARE(mesh->getNbTriangles(), int(sculpted.triangles.size()));
    for (std::size_t i = 0; i < sculpted.vertices.size(); ++i)
        QCOMPARE(mesh->getVertex(int(i)).position, sculpted.vertices[i].position);
    VERIFY_SOUND(*mesh, false);
}

void TestFusion::strokeScriptFusesSheets()
{
    // The path of the view and of argilium-cli sculpt: picking along each dab's ray, the brush
    // sphere around the hit, the adaptive mode.
    const int n = 16;
    auto mesh = makeSheets(n, 1.2f);
    const float edge = spacing(*mesh);
    const int side = n + 1;
    const QVector3D top = mesh->getVertex(8 * side + 8 + side * side).position;
    const TestMeshes::MeshSnapshot original = TestMeshes::snapshot(*mesh);
    // Three dabs along the sheets (a fused spot is a tunnel through both: a later ray through
    // it may meet nothing).
    QStringList dabs;
    for (int k = 0; k < 3; ++k) {
        dabs << QStringLiteral(R"({"origin": [%1, %2, %3], "direction": [0, 0, -1], "radius": %4})")
                    .arg(top.x() + (0.3f + 2.5f * (k - 1)) * edge)
                    .arg(top.y() + 0.2f * edge)
                    .arg(top.z() + 50.0f * edge)
                    .arg(6.5f * edge);
    }
    const QString json =
        QStringLiteral(R"({"tool": "inflate", "topology": "adaptive", "dabs": [%1]})")
            .arg(dabs.join(QLatin1Char(',')));
    StrokeScript script;
    QString error;
    QVERIFY2(StrokeScript::parse(json.toLatin1(), script, &error), qPrintable(error));
    QCOMPARE(script.topology, int(ADAPTIVE));
    const long joinsBefore = Topology::joinsMade;
    const StrokeReport report = replayStroke(*mesh, script);
    QVERIFY(report.dabs.front().hit);
    VERIFY_SOUND(*mesh, false);
    QVERIFY(Topology::joinsMade > joinsBefore);
    QVERIFY(mesh->getNbVertices() < int(original.vertices.size()));
    QCOMPARE(components(*mesh), 1);
    mesh->undo();
    VERIFY_SAME(original, *mesh);
    VERIFY_MESH(*mesh);
}

QTEST_GUILESS_MAIN(TestFusion)
#include "tst_fusion.moc"
