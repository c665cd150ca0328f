// The brush tools on whole meshes: smoothing and flattening, the adaptive mode's move limit,
// culling, and a whole brush step.

#include "MeshAsserts.h"
#include "TestMeshes.h"
#include "geometry/Picking.h"
#include "sculpt/Sculptor.h"

#include <QtTest>

#include <cmath>

class TestSculptor : public QObject
{
    Q_OBJECT

private slots:
    void flatPatchStays_data();
    void flatPatchStays();
    void smoothFlatStaysInTangentPlane();
    void flattenPullsBothSides_data();
    void flattenPullsBothSides();
    void adaptiveLimits_data();
    void adaptiveLimits();
    void culling_data();
    void culling();
    void stepKeepsCountsAndWidensList();
    void nothingChanges();
};

using namespace TestMeshes;

namespace {

constexpr int gridSize = 8;

int gridIndex(int i, int j)
{
    return j * (gridSize + 1) + i;
}

// Moves every vertex by a small pseudo-random amount (a fixed sequence) and updates the mesh.
void roughen(Mesh &mesh, float amount)
{
    unsigned state = 12345u;
    auto next = [&state]() {
        state = state * 1664525u + 1013904223u;
        return float(state >> 8) / float(1u << 24) * 2.0f - 1.0f;
    };
    for (Vertex &v : mesh.getVertices())
        v.position += QVector3D(next(), next(), next()) * amount;
    mesh.updateMesh(allTriangles(mesh), allVertices(mesh));
}

// Sets the brush centre (and the topology thresholds) as a step does, without moving anything.
void placeBrush(Sculptor &sculptor, const QVector3D &centre, float r2)
{
    std::vector<int> none;
    sculptor.sculpt(none, centre, r2, QVector3D(0, 0, -1));
}

} // namespace

void TestSculptor::flatPatchStays_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<bool>("border");
    for (const char *op : {"smooth", "smoothFlat", "smoothNoLimitTangential"}) {
        QTest::addRow("%s, inner", op) << QString::fromLatin1(op) << false;
        QTest::addRow("%s, straight border", op) << QString::fromLatin1(op) << true;
    }
}

void TestSculptor::flatPatchStays()
{
    QFETCH(QString, operation);
    QFETCH(bool, border);
    auto mesh = makeGrid(gridSize);
    std::vector<int> list;
    for (int j = 0; j <= gridSize; ++j) {
        for (int i = 0; i <= gridSize; ++i) {
            const bool onBorder = i == 0 || j == 0 || i == gridSize || j == gridSize;
            // Next to a corner the diagonal of the last quad gives a third border neighbour.
            const bool nearCorner = (i < 2 || i > gridSize - 2) && (j < 2 || j > gridSize - 2);
            if (border ? (onBorder && !nearCorner) : !onBorder)
                list.push_back(gridIndex(i, j));
        }
    }
    const std::vector<QVector3D> start = positions(*mesh);
    Sculptor sculptor;
    sculptor.setMesh(mesh.get());
    if (operation == "smooth")
        sculptor.smooth(list, 1.0f);
    else if (operation == "smoothFlat")
        sculptor.smoothFlat(list, 1.0f);
    else
        sculptor.smoothNoLimit(list, operation.endsWith("Tangential"));
    for (int i = 0; i < mesh->getNbVertices(); ++i)
        QVERIFY2((mesh->getVertex(i).position - start[i]).length() <= 1e-3f,
            qPrintable(QString::number(i)));
}

void TestSculptor::smoothFlatStaysInTangentPlane()
{
    auto mesh = makeIcosphere(2);
    roughen(*mesh, 4.0f);
    const std::vector<QVector3D> start = positions(*mesh);
    Sculptor sculptor;
    sculptor.setMesh(mesh.get());
    sculptor.smoothFlat(allVertices(*mesh), 1.0f);
    float largest = 0.0f;
    for (const Vertex &v : mesh->getVertices()) {
        const QVector3D m = v.position - start[v.id];
        largest = std::max(largest, m.length());
        QVERIFY2(std::abs(QVector3D::dotProduct(m, v.normal)) <= 1e-3f,
            qPrintable(QString::number(v.id)));
    }
    QVERIFY(largest > 0.1f);
}

void TestSculptor::flattenPullsBothSides_data()
{
    QTest::addColumn<int>("topoMode");
    QTest::newRow("uniform") << int(UNIFORMISATION);
    QTest::newRow("adaptive") << int(ADAPTIVE);
}

void TestSculptor::flattenPullsBothSides()
{
    QFETCH(int, topoMode);
    auto mesh = makeGrid(gridSize);
    const float unit = mesh->getVertex(1).position.x() - mesh->getVertex(0).position.x();
    std::vector<int> list;
    for (int j = 1; j < gridSize; ++j) {
        for (int i = 1; i < gridSize; ++i) {
            list.push_back(gridIndex(i, j));
            mesh->getVertex(list.back()).position.setZ(((i + j) % 2 ? 2.0f : -2.0f) * unit);
        }
    }
    mesh->updateMesh(allTriangles(*mesh), allVertices(*mesh));
    const float r2 = std::pow(gridSize * unit, 2.0f);
    Sculptor sculptor;
    sculptor.setMesh(mesh.get());
    sculptor.setTopoMode(topoMode);
    placeBrush(sculptor, mesh->getVertex(gridIndex(4, 4)).position, r2);
    const QVector3D normal = sculptor.areaNormal(list);
    const QVector3D plane = sculptor.areaCenter(list);
    QVERIFY(normal.z() > 0.99f);
    const std::vector<QVector3D> start = positions(*mesh);
    sculptor.flatten(list, r2, 1.0f);
    const float limit = std::sqrt(sculptor.getD2Move());
    bool belowBeyondLimit = false;
    for (int index : list) {
        const float h0 = start[index].distanceToPlane(plane, normal);
        const QVector3D p = mesh->getVertex(index).position;
        const float h1 = p.distanceToPlane(plane, normal);
        const QVector3D m = p - start[index];
        QVERIFY(std::abs(h1) < std::abs(h0) && h1 * h0 >= 0.0f); // closer, no overshoot
        QVERIFY(QVector3D::crossProduct(m, normal).length() <= 1e-4f * unit);
        if (topoMode == ADAPTIVE && h0 > 0.0f)
            QVERIFY(m.length() <= limit * 1.0001f);
        belowBeyondLimit = belowBeyondLimit || (h0 < 0.0f && m.length() > limit * 1.01f);
    }
    QVERIFY(belowBeyondLimit); // the limit applies to the pull from above only
}

void TestSculptor::adaptiveLimits_data()
{
    QTest::addColumn<int>("tool");
    QTest::addColumn<int>("topoMode");
    for (int tool : {int(INFLATE), int(SMOOTH), int(SWEEP)}) {
        QTest::addRow("tool %d, adaptive", tool) << tool << int(ADAPTIVE);
        QTest::addRow("tool %d, uniform", tool) << tool << int(UNIFORMISATION);
    }
}

// In the adaptive mode no vertex moves further than the move limit in one step.
void TestSculptor::adaptiveLimits()
{
    QFETCH(int, tool);
    QFETCH(int, topoMode);
    auto mesh = makeIcosphere(3);
    roughen(*mesh, 15.0f);
    const std::vector<QVector3D> start = positions(*mesh);
    const std::vector<int> list = allVertices(*mesh);
    const QVector3D c = mesh->getVertex(0).position;
    const float r2 = 4.0f * c.lengthSquared();
    Sculptor sculptor;
    sculptor.setMesh(mesh.get());
    sculptor.setTool(tool);
    sculptor.setTopoMode(topoMode);
    sculptor.setSweepCenter(c);
    sculptor.setSweepDir(QVector3D(0, 1, 0));
    placeBrush(sculptor, c, r2);
    const float limit = std::sqrt(sculptor.getD2Move());
    QVERIFY(limit > 0.0f);
    if (tool == SMOOTH)
        sculptor.smooth(list, 1.0f);
    else if (tool == SWEEP)
        sculptor.sweep(list, r2, 1.0f);
    else
        sculptor.inflate(list, r2, 1.0f);
    float largest = 0.0f;
    for (int i : list)
        largest = std::max(largest, (mesh->getVertex(i).position - start[i]).length());
    if (topoMode == ADAPTIVE) // bound, and binding
        QVERIFY2(largest <= limit * 1.0001f && largest >= limit * 0.9f,
            qPrintable(QStringLiteral("%1, %2").arg(largest).arg(limit)));
    else
        QVERIFY(largest > limit * 1.5f);
}

void TestSculptor::culling_data()
{
    QTest::addColumn<bool>("culling");
    QTest::addColumn<QVector3D>("eye");
    QTest::newRow("culling, looking down -z") << true << QVector3D(0, 0, -1);
    QTest::newRow("no culling") << false << QVector3D(0, 0, -1);
}

// With culling, only the vertices facing the eye move.
void TestSculptor::culling()
{
    QFETCH(bool, culling);
    QFETCH(QVector3D, eye);
    auto mesh = makeIcosphere(3);
    const MeshSnapshot start = snapshot(*mesh);
    Sculptor sculptor;
    sculptor.setMesh(mesh.get());
    sculptor.setTopoMode(STATIC);
    sculptor.setCulling(culling);
    Picking picking;
    picking.setMesh(mesh.get());
    picking.setIntersectionPoint(QVector3D(0, 0, 0));
    const float r2 = 4.0f * mesh->getVertex(0).position.lengthSquared();
    picking.pickVerticesInSphere(r2);
    mesh->newState();
    sculptor.sculpt(picking.getPickedVertices(), QVector3D(0, 0, 0), r2, eye);
    int front = 0;
    for (int i = 0; i < mesh->getNbVertices(); ++i) {
        const bool facing = QVector3D::dotProduct(eye, start.vertices[i].normal) <= 0.0f;
        QCOMPARE(mesh->getVertex(i).position != start.vertices[i].position, facing || !culling);
        front += facing;
    }
    QVERIFY(front > 0 && front < mesh->getNbVertices());
    VERIFY_MESH(*mesh);
}

// A whole step: counts kept (static), only the selection moves and rises, and the list comes back
// widened to every vertex of the triangles around the selection.
void TestSculptor::stepKeepsCountsAndWidensList()
{
    auto mesh = makeIcosphere(3);
    const std::vector<QVector3D> start = positions(*mesh);
    Picking picking;
    const QVector3D top = mesh->getVertex(0).position;
    QVERIFY(picking.intersectRay(mesh.get(), top * 2.0f, QVector3D(0, 0, 0)));
    const float r2 = top.lengthSquared() * 0.04f;
    picking.pickVerticesInSphere(r2);
    std::vector<int> selected = picking.getPickedVertices();
    std::vector<int> around =
        mesh->getVerticesFromTriangles(mesh->getTrianglesFromVertices(selected));
    QVERIFY(selected.size() > 3 && around.size() > selected.size());
    Sculptor sculptor;
    sculptor.setMesh(mesh.get());
    sculptor.setTopoMode(STATIC);
    mesh->newState();
    sculptor.sculpt(
        picking.getPickedVertices(), picking.getIntersectionPoint(), r2, QVector3D(0, 0, -1));
    QCOMPARE(mesh->getNbVertices(), int(start.size()));
    std::vector<int> result = picking.getPickedVertices();
    std::sort(result.begin(), result.end());
    std::sort(around.begin(), around.end());
    QCOMPARE(result, around);
    std::sort(selected.begin(), selected.end());
    for (int i = 0; i < mesh->getNbVertices(); ++i) {
        if (std::binary_search(selected.begin(), selected.end(), i))
            QVERIFY(mesh->getVertex(i).position.length() > start[i].length());
        else
            QCOMPARE(mesh->getVertex(i).position, start[i]);
    }
    VERIFY_MESH(*mesh);
}

// An empty selection, a flatten whose normals cancel out, no mesh at all, or a vertex without
// triangles: nothing moves.
void TestSculptor::nothingChanges()
{
    auto mesh = makeTetrahedron();
    const MeshSnapshot before = snapshot(*mesh);
    Sculptor sculptor;
    sculptor.setMesh(mesh.get());
    for (int tool = 0; tool <= 4; ++tool) {
        sculptor.setTool(tool);
        std::vector<int> none;
        mesh->newState();
        sculptor.sculpt(none, QVector3D(1, 2, 3), 100.0f, QVector3D(0, 0, -1));
        QVERIFY(none.empty());
    }
    QVERIFY(sculptor.areaNormal(allVertices(*mesh)).isNull());
    sculptor.flatten(allVertices(*mesh), 1e6f, 1.0f);
    VERIFY_SAME(before, *mesh);
    Sculptor alone;
    std::vector<int> list = {0, 1, 2};
    alone.sculpt(list, QVector3D(), 1.0f, QVector3D(0, 0, -1));
    alone.inflate(list, 1.0f, 1.0f);
    alone.smooth(list, 1.0f);
    alone.flatten(list, 1.0f, 1.0f);
    alone.sweep(list, 1.0f, 1.0f);
    QVERIFY(alone.areaNormal(list).isNull() && alone.areaCenter(list).isNull());
    QCOMPARE(list, (std::vector<int> {0, 1, 2}));
    // A vertex that no triangle uses is left where it is by every smoothing.
    auto loose = meshFromArrays({{1, 1, 1}, {1, -1, -1}, {-1, 1, -1}, {-1, -1, 1}, {3, 3, 3}},
        {{0, 1, 2}, {0, 3, 1}, {0, 2, 3}, {1, 3, 2}});
    const QVector3D alonePosition = loose->getVertex(4).position;
    sculptor.setMesh(loose.get());
    sculptor.smooth({4}, 1.0f);
    sculptor.smoothFlat({4}, 1.0f);
    sculptor.smoothNoLimit({4}, true);
    QCOMPARE(loose->getVertex(4).position, alonePosition);
}

QTEST_GUILESS_MAIN(TestSculptor)
#include "tst_sculptor.moc"
