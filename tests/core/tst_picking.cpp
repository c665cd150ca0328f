#include "TestMeshes.h"
#include "geometry/Picking.h"
#include "mesh/MeshCheck.h"
#include "sculpt/Sculptor.h"
#include "sculpt/StrokeScript.h"

#include <QtTest>

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <random>

class TestPicking : public QObject
{
    Q_OBJECT

private slots:
    void nearestOfStackedSheets_data();
    void nearestOfStackedSheets();
    void nearestOverAllTriangles_data();
    void nearestOverAllTriangles();
    void equalDistancesIndependentOfThreads_data();
    void equalDistancesIndependentOfThreads();
    void missKeepsPointAndClearsRadius();
    void worldRadiusGrowsWithDistance_data();
    void worldRadiusGrowsWithDistance();
    void sphereBoundary_data();
    void sphereBoundary();
    void fallbackCornersUnstamped();
    void gatheringIsSpatial();
    void noMeshGathersNothing();
};

namespace {

// Two parallel 10 x 10 squares, the lower one (triangles 0, 1) at z = 0 and the upper one
// (triangles 2, 3) at z = 5, before the loading pipeline scales them.
std::unique_ptr<Mesh> stackedSheets()
{
    const std::vector<QVector3D> positions = {{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0},
        {0, 0, 5}, {10, 0, 5}, {10, 10, 5}, {0, 10, 5}};
    const std::vector<std::array<int, 3>> triangles = {{0, 1, 2}, {0, 2, 3}, {4, 5, 6}, {4, 6, 7}};
    return TestMeshes::meshFromArrays(positions, triangles);
}

std::array<double, 16> perspective(double fovyDegrees, double aspect, double zNear, double zFar)
{
    const double f = 1.0 / std::tan(fovyDegrees * M_PI / 360.0);
    std::array<double, 16> m {};
    m[0] = f / aspect;
    m[5] = f;
    m[10] = (zFar + zNear) / (zNear - zFar);
    m[11] = -1.0;
    m[14] = 2.0 * zFar * zNear / (zNear - zFar);
    return m;
}

Geometry::ScreenTransform cameraAt(const QVector3D &eye, double width, double height)
{
    QMatrix4x4 view;
    view.lookAt(eye, QVector3D(0, 0, 0), QVector3D(0, 1, 0));
    Geometry::ScreenTransform t;
    const float *v = view.constData();
    for (int i = 0; i < 16; ++i)
        t.modelView[i] = v[i];
    t.projection = perspective(70.0, width / height, 0.01, 100000.0);
    t.viewport = {0, 0, int(width), int(height)};
    return t;
}

// The nearest crossing over every triangle of every leaf whose loose box the ray meets, ties to
// the lowest index: what the pick must find, whatever part of them it skips.
int pickOverAllCandidates(
    const Mesh &mesh, const QVector3D &a, const QVector3D &b, QVector3D &point)
{
    float best = std::numeric_limits<float>::max();
    int bestTriangle = -1;
    for (int t : mesh.getOctree()->intersectRay(a, (b - a).normalized())) {
        const Triangle &tri = mesh.getTriangle(t);
        QVector3D crossing;
        if (!Geometry::intersectionSegmentTriangle(a, b, mesh.getVertex(tri.vertex1).position,
                mesh.getVertex(tri.vertex2).position, mesh.getVertex(tri.vertex3).position,
                tri.normal, crossing))
            continue;
        const float e = (a - crossing).lengthSquared();
        if (e < best || (e == best && t < bestTriangle)) {
            best = e;
            bestTriangle = t;
            point = crossing;
        }
    }
    return bestTriangle;
}

// Ten grids of 40 x 40 quads stacked 3 units apart: many leaves, ten crossings per vertical ray.
std::unique_ptr<Mesh> stackedGrids()
{
    std::vector<QVector3D> positions;
    std::vector<std::array<int, 3>> triangles;
    const int n = 40;
    for (int sheet = 0; sheet < 10; ++sheet) {
        const int first = static_cast<int>(positions.size());
        for (int y = 0; y <= n; ++y) {
            for (int x = 0; x <= n; ++x)
                positions.emplace_back(float(x), float(y), 3.0f * sheet);
        }
        for (int y = 0; y < n; ++y) {
            for (int x = 0; x < n; ++x) {
                const int v = first + y * (n + 1) + x;
                triangles.push_back({v, v + 1, v + n + 2});
                triangles.push_back({v, v + n + 2, v + n + 1});
            }
        }
    }
    return TestMeshes::meshFromArrays(positions, triangles);
}

bool isStamped(const Mesh &mesh, int vertex)
{
    return mesh.getVertex(vertex).brushStamp == Vertex::brushCounter;
}

} // namespace

void TestPicking::nearestOfStackedSheets_data()
{
    QTest::addColumn<float>("startHeight"); // in units of the gap between the sheets
    QTest::addColumn<float>("endHeight");
    QTest::addColumn<int>("sheet"); // 0 lower, 1 upper, -1 none

    QTest::newRow("from above") << 3.0f << -2.0f << 1;
    QTest::newRow("from below") << -2.0f << 3.0f << 0;
    QTest::newRow("from between, down") << 0.5f << -2.0f << 0;
    QTest::newRow("from between, up") << 0.5f << 3.0f << 1;
    QTest::newRow("above, pointing away") << 3.0f << 10.0f << -1;
    QTest::newRow("stopping between") << 3.0f << 0.5f << 1;
}

void TestPicking::nearestOfStackedSheets()
{
    QFETCH(float, startHeight);
    QFETCH(float, endHeight);
    QFETCH(int, sheet);

    auto mesh = stackedSheets();
    const float low = mesh->getVertex(0).position.z();
    const float high = mesh->getVertex(4).position.z();
    const float gap = high - low;
    const QVector3D xy = mesh->getVertex(0).position * 0.7f + mesh->getVertex(2).position * 0.3f;
    const QVector3D a(xy.x(), xy.y(), low + startHeight * gap);
    const QVector3D b(xy.x(), xy.y(), low + endHeight * gap);

    Picking picking;
    const bool hit = picking.intersectRay(mesh.get(), a, b);
    QCOMPARE(hit, sheet >= 0);
    if (sheet < 0) {
        QCOMPARE(picking.getMesh(), nullptr);
        QCOMPARE(picking.getPickedTriangle(), -1);
        return;
    }
    QCOMPARE(picking.getMesh(), mesh.get());
    QCOMPARE(picking.getPickedTriangle() / 2, sheet);
    QCOMPARE(picking.getIntersectionPoint().z(), sheet == 1 ? high : low);
    QCOMPARE(picking.getIntersectionPoint().x(), xy.x());
}

void TestPicking::nearestOverAllTriangles_data()
{
    QTest::addColumn<QString>("meshKind");
    QTest::addColumn<bool>("fromInside"); // rays starting inside the mesh's bounds
    QTest::addColumn<bool>("throughVertices"); // rays through vertices: equal distances

    for (const char *kind : {"icosphere", "sculpted icosphere", "stacked grids", "flat grid"}) {
        QTest::addRow("%s, from outside", kind) << QString::fromLatin1(kind) << false << false;
        QTest::addRow("%s, from inside", kind) << QString::fromLatin1(kind) << true << false;
        QTest::addRow("%s, through vertices", kind) << QString::fromLatin1(kind) << false << true;
    }
}

void TestPicking::nearestOverAllTriangles()
{
    QFETCH(QString, meshKind);
    QFETCH(bool, fromInside);
    QFETCH(bool, throughVertices);

    std::unique_ptr<Mesh> mesh = meshKind == QLatin1String("stacked grids") ? stackedGrids()
        : meshKind == QLatin1String("flat grid") ? TestMeshes::makeGrid(60)
                                                 : TestMeshes::makeIcosphere(5);
    if (meshKind == QLatin1String("sculpted icosphere")) {
        // A stroke that remeshes and moves the surface: triangles change leaves and loose
        // boxes grow.
        StrokeScript script;
        script.tool = INFLATE;
        script.topology = UNIFORMISATION;
        script.intensity = 1.0f;
        for (int k = 0; k < 30; ++k) {
            const float angle = 0.05f * k;
            const QVector3D d(std::cos(angle), std::sin(angle), 0.3f);
            script.dabs.push_back({{d * 600.0f, -d}, 60.0f});
        }
        QVERIFY(replayStroke(*mesh, script).hits > 0);
        QCOMPARE(checkMesh(*mesh), QString());
    }
    QVERIFY(mesh->getOctree() && !mesh->getOctree()->isLeaf());

    Aabb bounds = mesh->getOctree()->aabbLoose;
    const QVector3D center = bounds.computeCenter();
    const float size = (bounds.max - bounds.min).length();
    std::mt19937 random(7);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    Picking picking;
    int hits = 0;
    for (int k = 0; k < 300; ++k) {
        QVector3D direction(unit(random), unit(random), unit(random));
        if (direction.lengthSquared() < 1e-4f)
            continue;
        direction.normalize();
        QVector3D through =
            center + 0.3f * size * QVector3D(unit(random), unit(random), unit(random));
        if (throughVertices)
            through = mesh->getVertex(int(random() % mesh->getNbVertices())).position;
        const QVector3D a =
            fromInside ? through - direction * 0.05f * size : through - direction * size;
        const QVector3D b = through + direction * size;
        QVector3D expectedPoint;
        const int expected = pickOverAllCandidates(*mesh, a, b, expectedPoint);
        const bool hit = picking.intersectRay(mesh.get(), a, b);
        QCOMPARE(hit, expected >= 0);
        QCOMPARE(picking.getPickedTriangle(), expected);
        if (hit) {
            ++hits;
            QCOMPARE(picking.getIntersectionPoint(), expectedPoint);
        }
    }
    QVERIFY(hits >= 20);
}

void TestPicking::equalDistancesIndependentOfThreads_data()
{
    QTest::addColumn<int>("threads");
    QTest::newRow("1 thread") << 1;
    QTest::newRow("2 threads") << 2;
    QTest::newRow("3 threads") << 3;
    QTest::newRow("7 threads") << 7;
}

void TestPicking::equalDistancesIndependentOfThreads()
{
    QFETCH(int, threads);
    // A vertical segment through an inner vertex of a flat grid crosses its six triangles at the
    // same point: the lowest triangle index wins, whatever the thread count.
    auto mesh = TestMeshes::makeGrid(6);
    const int vertex = 3 * 7 + 3;
    const Vertex &v = mesh->getVertex(vertex);
    const int expected = *std::min_element(v.triangleIndices.begin(), v.triangleIndices.end());

    const int before = omp_get_max_threads();
    omp_set_num_threads(threads);
    Picking picking;
    const bool hit = picking.intersectRay(
        mesh.get(), v.position + QVector3D(0, 0, 50), v.position - QVector3D(0, 0, 50));
    omp_set_num_threads(before);
    QVERIFY(hit);
    QCOMPARE(picking.getPickedTriangle(), expected);
    QCOMPARE(picking.getIntersectionPoint().x(), v.position.x());
    QCOMPARE(picking.getIntersectionPoint().y(), v.position.y());
}

void TestPicking::missKeepsPointAndClearsRadius()
{
    auto mesh = TestMeshes::makeGrid(4);
    const Geometry::ScreenTransform screen = cameraAt(QVector3D(0, 0, 800), 800, 600);
    const QMatrix4x4 inverse = mesh->getInverseTransformation();
    Picking picking;

    // Over the mesh centre.
    QVector3D nearPoint;
    QVector3D farPoint;
    Geometry::mouseRay(QPointF(400, 300), screen, 800, 600, nearPoint, farPoint);
    picking.intersectionRayMesh(mesh.get(), inverse.map(nearPoint), inverse.map(farPoint),
        QPointF(400, 300), screen, 800, 600);
    QCOMPARE(picking.getMesh(), mesh.get());
    QVERIFY(picking.getPickedTriangle() >= 0);
    QVERIFY(picking.getRadiusWorldSquared() > 0.0f);
    const QVector3D hitPoint = picking.getIntersectionPoint();

    // Over the background, in the top-left corner.
    Geometry::mouseRay(QPointF(2, 2), screen, 800, 600, nearPoint, farPoint);
    picking.intersectionRayMesh(
        mesh.get(), inverse.map(nearPoint), inverse.map(farPoint), QPointF(2, 2), screen, 800, 600);
    QCOMPARE(picking.getMesh(), nullptr);
    QCOMPARE(picking.getPickedTriangle(), -1);
    QCOMPARE(picking.getRadiusWorldSquared(), 0.0f);
    QCOMPARE(picking.getIntersectionPoint(), hitPoint);

    // No mesh at all is a miss too.
    picking.intersectionRayMesh(nullptr, nearPoint, farPoint, QPointF(2, 2), screen, 800, 600);
    QCOMPARE(picking.getMesh(), nullptr);
    QCOMPARE(picking.getRadiusWorldSquared(), 0.0f);
}

void TestPicking::worldRadiusGrowsWithDistance_data()
{
    QTest::addColumn<float>("distance");
    QTest::addColumn<float>("radiusScreen");
    QTest::addColumn<QPointF>("mouse");
    QTest::newRow("600, 50 px, centre") << 600.0f << 50.0f << QPointF(400, 300);
    QTest::newRow("900, 20 px, centre") << 900.0f << 20.0f << QPointF(400, 300);
    QTest::newRow("700, 100 px, off centre") << 700.0f << 100.0f << QPointF(370, 320);
}

void TestPicking::worldRadiusGrowsWithDistance()
{
    QFETCH(float, distance);
    QFETCH(float, radiusScreen);
    QFETCH(QPointF, mouse);

    auto mesh = TestMeshes::makeGrid(8);
    const QMatrix4x4 inverse = mesh->getInverseTransformation();
    Picking picking;
    picking.setRadiusScreen(radiusScreen);

    float radius[2] = {0.0f, 0.0f};
    for (int k = 0; k < 2; ++k) {
        const Geometry::ScreenTransform screen =
            cameraAt(QVector3D(0, 0, distance * float(k + 1)), 800, 600);
        QVector3D nearPoint;
        QVector3D farPoint;
        Geometry::mouseRay(mouse, screen, 800, 600, nearPoint, farPoint);
        picking.intersectionRayMesh(
            mesh.get(), inverse.map(nearPoint), inverse.map(farPoint), mouse, screen, 800, 600);
        QCOMPARE(picking.getMesh(), mesh.get());
        radius[k] = picking.getRadiusWorldSquared();
    }
    QVERIFY(radius[0] > 0.0f);
    // About fourfold: the hit's window depth travels as a float, which costs some precision so
    // close to the far end of the depth range.
    QVERIFY2(std::abs(radius[1] / radius[0] - 4.0f) < 0.08f,
        qPrintable(QString::number(radius[1] / radius[0])));

    // The screen radius takes effect at the next pick only.
    picking.setRadiusScreen(radiusScreen * 2.0f);
    QCOMPARE(picking.getRadiusWorldSquared(), radius[1]);
}

void TestPicking::sphereBoundary_data()
{
    QTest::addColumn<int>("ulps"); // steps of the squared radius above the exact distance
    QTest::addColumn<bool>("taken");
    QTest::newRow("exactly at the radius") << 0 << false;
    QTest::newRow("just inside") << 1 << true;
}

void TestPicking::sphereBoundary()
{
    QFETCH(int, ulps);
    QFETCH(bool, taken);

    auto mesh = TestMeshes::makeGrid(6);
    const int centre = 3 * 7 + 3;
    const int neighbour = centre + 1;
    const QVector3D c = mesh->getVertex(centre).position;
    float r2 = (mesh->getVertex(neighbour).position - c).lengthSquared();
    for (int i = 0; i < ulps; ++i)
        r2 = std::nextafter(r2, 1e30f);

    Picking picking;
    picking.setMesh(mesh.get());
    picking.setIntersectionPoint(c);
    picking.pickVerticesInSphere(r2);
    const std::vector<int> &picked = picking.getPickedVertices();
    QCOMPARE(std::find(picked.begin(), picked.end(), neighbour) != picked.end(), taken);
    QVERIFY(std::find(picked.begin(), picked.end(), centre) != picked.end());
    // Every vertex strictly inside is taken and stamped, nothing else.
    for (int i = 0; i < mesh->getNbVertices(); ++i) {
        const bool inside = (mesh->getVertex(i).position - c).lengthSquared() < r2;
        QCOMPARE(std::count(picked.begin(), picked.end(), i), inside ? 1 : 0);
        QCOMPARE(isStamped(*mesh, i), inside);
    }
    QVERIFY(!mesh->getLeavesUpdate().empty());
}

void TestPicking::fallbackCornersUnstamped()
{
    auto mesh = TestMeshes::makeGrid(4);
    const Vertex &a = mesh->getVertex(6);
    const Vertex &b = mesh->getVertex(7);
    const Vertex &c = mesh->getVertex(12);
    const QVector3D inside = (a.position + b.position + c.position) / 3.0f;

    Picking picking;
    QVERIFY(picking.intersectRay(
        mesh.get(), inside + QVector3D(0, 0, 10), inside - QVector3D(0, 0, 10)));
    const int t = picking.getPickedTriangle();
    const Triangle &tri = mesh->getTriangle(t);

    // A radius far smaller than the triangle.
    picking.pickVerticesInSphere(1e-4f);
    const std::vector<int> expected = {tri.vertex1, tri.vertex2, tri.vertex3};
    QCOMPARE(picking.getPickedVertices(), expected);
    for (int i : expected)
        QVERIFY(!isStamped(*mesh, i));

    // Without a picked triangle (the mirrored ray of a symmetric step may miss) nothing is taken.
    picking.intersectRay(mesh.get(), QVector3D(-1000, 0, 10), QVector3D(-1000, 0, -10));
    picking.setMesh(mesh.get());
    picking.pickVerticesInSphere(1e-4f);
    QVERIFY(picking.getPickedVertices().empty());
}

void TestPicking::gatheringIsSpatial()
{
    // A sphere reaching through both sheets takes vertices of both, although they share no edge.
    auto mesh = stackedSheets();
    const QVector3D middle = (mesh->getVertex(0).position + mesh->getVertex(6).position) * 0.5f;
    const float r2 = (mesh->getVertex(0).position - middle).lengthSquared() * 1.01f;
    Picking picking;
    picking.setMesh(mesh.get());
    picking.setIntersectionPoint(middle);
    picking.pickVerticesInSphere(r2);
    std::vector<int> picked = picking.getPickedVertices();
    std::sort(picked.begin(), picked.end());
    QCOMPARE(picked, (std::vector<int> {0, 1, 2, 3, 4, 5, 6, 7}));
}

void TestPicking::noMeshGathersNothing()
{
    Picking picking;
    picking.getPickedVertices().push_back(3);
    picking.pickVerticesInSphere(100.0f);
    QVERIFY(picking.getPickedVertices().empty());
    QVERIFY(!picking.intersectRay(nullptr, QVector3D(0, 0, 1), QVector3D(0, 0, -1)));
}

QTEST_GUILESS_MAIN(TestPicking)
#include "tst_picking.moc"
