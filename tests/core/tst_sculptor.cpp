#include "MeshAsserts.h"
#include "TestMeshes.h"
#include "geometry/Picking.h"
#include "mesh/MeshCheck.h"
#include "sculpt/Sculptor.h"

#include <QtTest>

#include <algorithm>
#include <cmath>

class TestSculptor : public QObject
{
    Q_OBJECT

private slots:
    void defaults();
    void falloff_data();
    void falloff();
    void thresholds_data();
    void thresholds();
    void inflateFalloff_data();
    void inflateFalloff();
    void deflateOppositeOfInflate();
    void flatPatchStays_data();
    void flatPatchStays();
    void smoothFlatStaysInTangentPlane();
    void borderAveragedWithBorder_data();
    void borderAveragedWithBorder();
    void nothingToAverage_data();
    void nothingToAverage();
    void flattenPullsBothSides_data();
    void flattenPullsBothSides();
    void flattenWithoutPlane_data();
    void flattenWithoutPlane();
    void adaptiveLimits_data();
    void adaptiveLimits();
    void culling_data();
    void culling();
    void stepKeepsCountsAndWidensList();
    void emptySelectionChangesNothing();
    void noMeshDoesNothing();
};

using TestMeshes::allTriangles;
using TestMeshes::allVertices;
using TestMeshes::positions;

namespace {

constexpr int gridSize = 8;

int gridIndex(int i, int j)
{
    return j * (gridSize + 1) + i;
}

// Moves every vertex by a small pseudo-random amount (a fixed sequence) and brings normals,
// boxes and octree up to date.
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

QString describe(const QVector3D &v)
{
    return QStringLiteral("(%1, %2, %3)").arg(v.x()).arg(v.y()).arg(v.z());
}

} // namespace

void TestSculptor::defaults()
{
    Sculptor sculptor;
    QCOMPARE(sculptor.getTool(), int(INFLATE));
    QCOMPARE(sculptor.getTopoMode(), int(UNIFORMISATION));
    QCOMPARE(sculptor.getIntensity(), 0.75f);
    QCOMPARE(sculptor.getDetail(), 0.75f);
    QCOMPARE(sculptor.getCulling(), false);
    QCOMPARE(sculptor.getMesh(), nullptr);
    QVERIFY(!sculptor.isSweep());
    sculptor.setTool(SWEEP);
    QVERIFY(sculptor.isSweep());
    sculptor.toggleCulling();
    QVERIFY(sculptor.getCulling());
    // The ids of the radio buttons.
    QCOMPARE(int(FLATTEN), 3);
    QCOMPARE(int(ADAPTIVE), 3);
    QCOMPARE(int(STATIC), 4);
    QCOMPARE(int(DECIMATION), 0);
}

void TestSculptor::falloff_data()
{
    QTest::addColumn<float>("t");
    QTest::addColumn<float>("expected");
    QTest::newRow("centre") << 0.0f << 1.0f;
    QTest::newRow("quarter") << 0.25f << 0.94921875f;
    QTest::newRow("half") << 0.5f << 0.6875f;
    QTest::newRow("edge") << 1.0f << 0.0f;
    QTest::newRow("outside rises again") << 2.0f << 17.0f;
}

void TestSculptor::falloff()
{
    QFETCH(float, t);
    QFETCH(float, expected);
    QCOMPARE(Sculptor::falloff(t), expected);
}

void TestSculptor::thresholds_data()
{
    QTest::addColumn<float>("detail");
    QTest::addColumn<float>("maxOverR2");
    QTest::newRow("default") << 0.75f << 0.07f;
    QTest::newRow("finest") << 1.0f << 0.02f;
    QTest::newRow("coarsest") << 0.0f << 0.22f;
}

void TestSculptor::thresholds()
{
    QFETCH(float, detail);
    QFETCH(float, maxOverR2);
    Sculptor sculptor;
    sculptor.setDetail(detail);
    const float r2 = 400.0f;
    sculptor.updateTopologyThresholds(r2);
    QVERIFY(qFuzzyCompare(sculptor.getD2Max(), maxOverR2 * r2));
    QVERIFY(qFuzzyCompare(sculptor.getD2Min(), sculptor.getD2Max() / 4.2025f));
    QVERIFY(qFuzzyCompare(sculptor.getD2Move(), sculptor.getD2Min() * 0.2375f));
    QVERIFY(qFuzzyCompare(
        sculptor.getD2Fusion(), 1.1f * (4.0f * sculptor.getD2Move() + sculptor.getD2Max() / 3.0f)));
    // The minimal edge is the maximal one divided by 2.05.
    QVERIFY(qFuzzyCompare(std::sqrt(sculptor.getD2Max() / sculptor.getD2Min()), 2.05f));
}

void TestSculptor::inflateFalloff_data()
{
    QTest::addColumn<int>("tool");
    QTest::addColumn<float>("t");
    QTest::addColumn<int>("topoMode");
    QTest::newRow("inflate, centre") << int(INFLATE) << 0.0f << int(STATIC);
    QTest::newRow("inflate, half") << int(INFLATE) << 0.5f << int(STATIC);
    QTest::newRow("inflate, quarter") << int(INFLATE) << 0.25f << int(STATIC);
    QTest::newRow("inflate, at radius") << int(INFLATE) << 1.0f << int(STATIC);
    QTest::newRow("deflate, centre") << int(DEFLATE) << 0.0f << int(STATIC);
    QTest::newRow("deflate, half") << int(DEFLATE) << 0.5f << int(STATIC);
}

void TestSculptor::inflateFalloff()
{
    QFETCH(int, tool);
    QFETCH(float, t);
    QFETCH(int, topoMode);

    auto mesh = TestMeshes::makeGrid(gridSize);
    const int centre = gridIndex(4, 4);
    const int moved = t == 0.0f ? centre : gridIndex(6, 4);
    const QVector3D c = mesh->getVertex(centre).position;
    const QVector3D before = mesh->getVertex(moved).position;
    const float distance = (before - c).length();
    const float r = t == 0.0f ? 100.0f : distance / t;

    Sculptor sculptor;
    sculptor.setMesh(mesh.get());
    sculptor.setTool(tool);
    sculptor.setTopoMode(topoMode);
    sculptor.setIntensity(0.5f);
    // Through a whole step: the picking stamps the vertices in the sphere.
    Picking picking;
    picking.setMesh(mesh.get());
    picking.setIntersectionPoint(c);
    picking.pickVerticesInSphere(r * r * 1.0001f);
    std::vector<int> list = {moved};
    mesh->getVertex(moved).brushStamp = Vertex::brushCounter;
    mesh->newState();
    sculptor.sculpt(list, c, r * r, QVector3D(0, 0, -1));

    const float step = 0.5f * r * 0.1f * Sculptor::falloff(t) * (tool == DEFLATE ? -1.0f : 1.0f);
    const QVector3D displacement = mesh->getVertex(moved).position - before;
    QVERIFY2(std::abs(displacement.z() - step) <= 1e-4f * r, qPrintable(describe(displacement)));
    QCOMPARE(displacement.x(), 0.0f);
    QCOMPARE(displacement.y(), 0.0f);
    QCOMPARE(mesh->getNbVertices(), (gridSize + 1) * (gridSize + 1));
    VERIFY_MESH(*mesh);
}

void TestSculptor::deflateOppositeOfInflate()
{
    auto up = TestMeshes::makeIcosphere(2);
    auto down = TestMeshes::makeIcosphere(2);
    const std::vector<QVector3D> start = positions(*up);
    const QVector3D c = up->getVertex(0).position;
    const float r2 = c.lengthSquared();

    Sculptor inflater;
    inflater.setMesh(up.get());
    inflater.setIntensity(0.9f);
    Sculptor deflater;
    deflater.setMesh(down.get());
    deflater.setIntensity(0.9f);
    deflater.setTool(DEFLATE);
    // The brush centre is set by a step; here an empty step sets it.
    std::vector<int> none;
    inflater.sculpt(none, c, r2, QVector3D(0, 0, -1));
    deflater.sculpt(none, c, r2, QVector3D(0, 0, -1));

    const std::vector<int> list = allVertices(*up);
    inflater.inflate(list, r2, 0.9f);
    deflater.inflate(list, r2, 0.9f);
    int movedCount = 0;
    for (int i : list) {
        const QVector3D a = up->getVertex(i).position - start[i];
        const QVector3D b = down->getVertex(i).position - start[i];
        QVERIFY2((a + b).length() <= 1e-4f, qPrintable(QString::number(i)));
        movedCount += a.length() > 1e-3f ? 1 : 0;
    }
    QVERIFY(movedCount > 10);
}

void TestSculptor::flatPatchStays_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<bool>("border");
    for (const char *op : {"smooth", "smoothFlat", "smoothNoLimit", "smoothNoLimitTangential"}) {
        QTest::newRow(qPrintable(QStringLiteral("%1, inner").arg(QLatin1String(op))))
            << QString::fromLatin1(op) << false;
        QTest::newRow(qPrintable(QStringLiteral("%1, straight border").arg(QLatin1String(op))))
            << QString::fromLatin1(op) << true;
    }
}

void TestSculptor::flatPatchStays()
{
    QFETCH(QString, operation);
    QFETCH(bool, border);

    auto mesh = TestMeshes::makeGrid(gridSize);
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
    if (operation == QLatin1String("smooth"))
        sculptor.smooth(list, 1.0f);
    else if (operation == QLatin1String("smoothFlat"))
        sculptor.smoothFlat(list, 1.0f);
    else
        sculptor.smoothNoLimit(list, operation.endsWith(QLatin1String("Tangential")));

    for (int i = 0; i < mesh->getNbVertices(); ++i) {
        const float moved = (mesh->getVertex(i).position - start[i]).length();
        QVERIFY2(
            moved <= 1e-3f, qPrintable(QStringLiteral("vertex %1 moved %2").arg(i).arg(moved)));
    }
}

void TestSculptor::smoothFlatStaysInTangentPlane()
{
    auto mesh = TestMeshes::makeIcosphere(2);
    roughen(*mesh, 4.0f);
    const std::vector<QVector3D> start = positions(*mesh);
    const std::vector<int> list = allVertices(*mesh);
    Sculptor sculptor;
    sculptor.setMesh(mesh.get());
    sculptor.smoothFlat(list, 1.0f);
    float largest = 0.0f;
    for (int i : list) {
        const Vertex &v = mesh->getVertex(i);
        const QVector3D m = v.position - start[i];
        largest = std::max(largest, m.length());
        QVERIFY2(std::abs(QVector3D::dotProduct(m, v.normal)) <= 1e-3f,
            qPrintable(QStringLiteral("vertex %1 left its tangent plane").arg(i)));
    }
    QVERIFY(largest > 0.1f);
}

void TestSculptor::borderAveragedWithBorder_data()
{
    QTest::addColumn<int>("i");
    QTest::addColumn<int>("j");
    QTest::addColumn<QPointF>("expected"); // in grid units
    QTest::addColumn<float>("expectedZ");
    // (2, 0) is lifted by one grid unit before smoothing.
    QTest::newRow("first corner") << 0 << 0 << QPointF(0.5, 0.5) << 0.0f;
    QTest::newRow("corner with two triangles")
        << gridSize << gridSize << QPointF(gridSize - 0.5, gridSize - 0.5) << 0.0f;
    QTest::newRow("corner with one triangle")
        << gridSize << 0 << QPointF(gridSize - 0.5, 0.5) << 0.0f;
    QTest::newRow("lifted border vertex") << 2 << 0 << QPointF(2, 0) << 0.0f;
    QTest::newRow("beside the lifted one") << 3 << 0 << QPointF(3, 0) << 0.5f;
    QTest::newRow("inner, above the lifted one") << 2 << 1 << QPointF(2, 1) << 1.0f / 6.0f;
}

void TestSculptor::borderAveragedWithBorder()
{
    QFETCH(int, i);
    QFETCH(int, j);
    QFETCH(QPointF, expected);
    QFETCH(float, expectedZ);

    auto mesh = TestMeshes::makeGrid(gridSize);
    const QVector3D origin = mesh->getVertex(0).position;
    const float unit = mesh->getVertex(1).position.x() - origin.x();
    mesh->getVertex(gridIndex(2, 0)).position += QVector3D(0, 0, unit);

    Sculptor sculptor;
    sculptor.setMesh(mesh.get());
    std::vector<QVector3D> out;
    sculptor.laplacianSmooth({gridIndex(i, j)}, out);
    QCOMPARE(out.size(), std::size_t(1));
    const QVector3D want = origin + QVector3D(expected.x(), expected.y(), expectedZ) * unit;
    QVERIFY2((out[0] - want).length() <= 1e-3f, qPrintable(describe((out[0] - origin) / unit)));
}

void TestSculptor::nothingToAverage_data()
{
    QTest::addColumn<bool>("isolated");
    QTest::newRow("vertex without ring") << true;
    QTest::newRow("border vertex without border neighbour") << false;
}

void TestSculptor::nothingToAverage()
{
    QFETCH(bool, isolated);
    std::unique_ptr<Mesh> mesh;
    int vertex = 0;
    if (isolated) {
        // A fifth vertex that no triangle uses.
        const std::vector<QVector3D> p = {
            {1, 1, 1}, {1, -1, -1}, {-1, 1, -1}, {-1, -1, 1}, {3, 3, 3}};
        mesh = TestMeshes::meshFromArrays(p, {{0, 1, 2}, {0, 3, 1}, {0, 2, 3}, {1, 3, 2}});
        vertex = 4;
    } else {
        // Vertex 0 of a closed tetrahedron made to look like a border vertex (three neighbours,
        // two triangles) whose neighbours are all inner vertices.
        mesh = TestMeshes::makeTetrahedron();
        mesh->getVertex(0).triangleIndices.pop_back();
    }
    const QVector3D before = mesh->getVertex(vertex).position;
    Sculptor sculptor;
    sculptor.setMesh(mesh.get());
    std::vector<QVector3D> out;
    sculptor.laplacianSmooth({vertex}, out);
    QCOMPARE(out.at(0), before);
    sculptor.smooth({vertex}, 1.0f);
    sculptor.smoothFlat({vertex}, 1.0f);
    sculptor.smoothNoLimit({vertex}, true);
    sculptor.smoothNoLimit({vertex}, false);
    QCOMPARE(mesh->getVertex(vertex).position, before);
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
    auto mesh = TestMeshes::makeGrid(gridSize);
    const float unit = mesh->getVertex(1).position.x() - mesh->getVertex(0).position.x();
    std::vector<int> list;
    for (int j = 1; j < gridSize; ++j) {
        for (int i = 1; i < gridSize; ++i) {
            const int index = gridIndex(i, j);
            list.push_back(index);
            mesh->getVertex(index).position.setZ(((i + j) % 2 ? 2.0f : -2.0f) * unit);
        }
    }
    mesh->updateMesh(allTriangles(*mesh), allVertices(*mesh));

    const QVector3D c = mesh->getVertex(gridIndex(gridSize / 2, gridSize / 2)).position;
    const float r2 = std::pow(gridSize * unit, 2.0f);
    Sculptor sculptor;
    sculptor.setMesh(mesh.get());
    sculptor.setTopoMode(topoMode);
    sculptor.updateTopologyThresholds(r2);
    std::vector<int> none;
    sculptor.sculpt(none, c, r2, QVector3D(0, 0, -1)); // sets the brush centre
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
        QVERIFY2(std::abs(h1) < std::abs(h0), qPrintable(QString::number(index)));
        QVERIFY2(h1 * h0 >= 0.0f, qPrintable(QString::number(index))); // no overshoot
        QVERIFY(QVector3D::crossProduct(m, normal).length() <= 1e-4f * unit);
        if (topoMode == ADAPTIVE && h0 > 0.0f)
            QVERIFY(m.length() <= limit * 1.0001f);
        if (h0 < 0.0f && m.length() > limit * 1.01f)
            belowBeyondLimit = true;
    }
    // The limit applies to the pull from above only.
    QVERIFY(belowBeyondLimit);
}

void TestSculptor::flattenWithoutPlane_data()
{
    QTest::addColumn<bool>("empty");
    QTest::newRow("empty list") << true;
    QTest::newRow("normals cancel out") << false;
}

void TestSculptor::flattenWithoutPlane()
{
    QFETCH(bool, empty);
    auto mesh = TestMeshes::makeTetrahedron();
    const TestMeshes::MeshSnapshot before = TestMeshes::snapshot(*mesh);
    Sculptor sculptor;
    sculptor.setMesh(mesh.get());
    const std::vector<int> list = empty ? std::vector<int>() : allVertices(*mesh);
    QVERIFY(sculptor.areaNormal(list).isNull());
    sculptor.flatten(list, 1e6f, 1.0f);
    VERIFY_SAME(before, *mesh);
}

void TestSculptor::adaptiveLimits_data()
{
    QTest::addColumn<int>("tool");
    QTest::addColumn<int>("topoMode");
    QTest::addColumn<bool>("bounded");
    for (int tool : {int(INFLATE), int(DEFLATE), int(SMOOTH), int(SWEEP)}) {
        const QString name = QStringList {"inflate", "deflate", "smooth", "flatten", "sweep"}[tool];
        QTest::newRow(qPrintable(name + QStringLiteral(", adaptive")))
            << tool << int(ADAPTIVE) << true;
        QTest::newRow(qPrintable(name + QStringLiteral(", uniform")))
            << tool << int(UNIFORMISATION) << false;
    }
}

void TestSculptor::adaptiveLimits()
{
    QFETCH(int, tool);
    QFETCH(int, topoMode);
    QFETCH(bool, bounded);

    auto mesh = TestMeshes::makeIcosphere(3);
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
    std::vector<int> none;
    sculptor.sculpt(none, c, r2, QVector3D(0, 0, -1)); // brush centre and thresholds
    const float limit = std::sqrt(sculptor.getD2Move());
    QVERIFY(limit > 0.0f);
    switch (tool) {
    case SMOOTH:
        sculptor.smooth(list, 1.0f);
        break;
    case SWEEP:
        sculptor.sweep(list, r2, 1.0f);
        break;
    default:
        sculptor.inflate(list, r2, 1.0f);
    }

    float largest = 0.0f;
    for (int i : list)
        largest = std::max(largest, (mesh->getVertex(i).position - start[i]).length());
    if (bounded) {
        QVERIFY2(largest <= limit * 1.0001f,
            qPrintable(QStringLiteral("%1 > %2").arg(largest).arg(limit)));
        QVERIFY(largest >= limit * 0.9f); // the limit did bind
    } else {
        QVERIFY(largest > limit * 1.5f);
    }
}

void TestSculptor::culling_data()
{
    QTest::addColumn<bool>("culling");
    QTest::addColumn<QVector3D>("eye");
    QTest::newRow("culling, looking down -z") << true << QVector3D(0, 0, -1);
    QTest::newRow("culling, looking along +x") << true << QVector3D(1, 0, 0);
    QTest::newRow("no culling") << false << QVector3D(0, 0, -1);
}

void TestSculptor::culling()
{
    QFETCH(bool, culling);
    QFETCH(QVector3D, eye);

    auto mesh = TestMeshes::makeIcosphere(3);
    const std::vector<QVector3D> start = positions(*mesh);
    std::vector<QVector3D> normals;
    for (const Vertex &v : mesh->getVertices())
        normals.push_back(v.normal);

    Sculptor sculptor;
    sculptor.setMesh(mesh.get());
    sculptor.setTopoMode(STATIC);
    sculptor.setCulling(culling);
    Picking picking;
    picking.setMesh(mesh.get());
    const QVector3D c(0, 0, 0);
    picking.setIntersectionPoint(c);
    const float r2 = 4.0f * mesh->getVertex(0).position.lengthSquared();
    picking.pickVerticesInSphere(r2);
    QCOMPARE(int(picking.getPickedVertices().size()), mesh->getNbVertices());
    mesh->newState();
    sculptor.sculpt(picking.getPickedVertices(), c, r2, eye);

    int front = 0;
    int back = 0;
    for (int i = 0; i < mesh->getNbVertices(); ++i) {
        const bool facing = QVector3D::dotProduct(eye, normals[i]) <= 0.0f;
        const bool moved = mesh->getVertex(i).position != start[i];
        QCOMPARE(moved, facing || !culling);
        (facing ? front : back) += 1;
    }
    QVERIFY(front > 0 && back > 0);
    VERIFY_MESH(*mesh);
}

void TestSculptor::stepKeepsCountsAndWidensList()
{
    auto mesh = TestMeshes::makeIcosphere(3);
    const int nbVertices = mesh->getNbVertices();
    const int nbTriangles = mesh->getNbTriangles();
    const std::vector<QVector3D> start = positions(*mesh);

    Picking picking;
    const QVector3D top = mesh->getVertex(0).position;
    QVERIFY(picking.intersectRay(mesh.get(), top * 2.0f, QVector3D(0, 0, 0)));
    const float r2 = top.lengthSquared() * 0.04f;
    picking.pickVerticesInSphere(r2);
    const std::vector<int> selected = picking.getPickedVertices();
    QVERIFY(selected.size() > 3);
    const std::vector<int> around =
        mesh->getVerticesFromTriangles(mesh->getTrianglesFromVertices(selected));
    QVERIFY(around.size() > selected.size());

    Sculptor sculptor;
    sculptor.setMesh(mesh.get());
    sculptor.setTopoMode(STATIC);
    mesh->newState();
    sculptor.sculpt(
        picking.getPickedVertices(), picking.getIntersectionPoint(), r2, QVector3D(0, 0, -1));

    QCOMPARE(mesh->getNbVertices(), nbVertices);
    QCOMPARE(mesh->getNbTriangles(), nbTriangles);
    std::vector<int> result = picking.getPickedVertices();
    std::vector<int> expected = around;
    std::sort(result.begin(), result.end());
    std::sort(expected.begin(), expected.end());
    QCOMPARE(result, expected);
    // Only the selection moved, and it rose.
    for (int i = 0; i < nbVertices; ++i) {
        const bool isSelected = std::find(selected.begin(), selected.end(), i) != selected.end();
        if (!isSelected)
            QCOMPARE(mesh->getVertex(i).position, start[i]);
        else
            QVERIFY(mesh->getVertex(i).position.length() > start[i].length());
    }
    VERIFY_MESH(*mesh);
}

void TestSculptor::emptySelectionChangesNothing()
{
    auto mesh = TestMeshes::makeIcosphere(2);
    const TestMeshes::MeshSnapshot before = TestMeshes::snapshot(*mesh);
    Sculptor sculptor;
    sculptor.setMesh(mesh.get());
    for (int tool = 0; tool <= 5; ++tool) {
        sculptor.setTool(tool);
        std::vector<int> none;
        mesh->newState();
        sculptor.sculpt(none, QVector3D(1, 2, 3), 100.0f, QVector3D(0, 0, -1));
        QVERIFY(none.empty());
    }
    VERIFY_SAME(before, *mesh);
    VERIFY_MESH(*mesh);
}

void TestSculptor::noMeshDoesNothing()
{
    Sculptor sculptor;
    std::vector<int> list = {0, 1, 2};
    sculptor.sculpt(list, QVector3D(), 1.0f, QVector3D(0, 0, -1));
    sculptor.inflate(list, 1.0f, 1.0f);
    sculptor.smooth(list, 1.0f);
    sculptor.flatten(list, 1.0f, 1.0f);
    sculptor.sweep(list, 1.0f, 1.0f);
    sculptor.smoothFlat(list, 1.0f);
    sculptor.smoothNoLimit(list, true);
    QVERIFY(sculptor.areaNormal(list).isNull());
    QVERIFY(sculptor.areaCenter(list).isNull());
    QCOMPARE(list, (std::vector<int> {0, 1, 2}));
}

QTEST_GUILESS_MAIN(TestSculptor)
#include "tst_sculptor.moc"
