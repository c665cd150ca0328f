// Picking: the nearest crossing of a ray against a scan of every candidate triangle, the brush
// radius in the world, and the vertices gathered in the brush sphere.

#include "TestCamera.h"
#include "TestMeshes.h"
#include "geometry/Picking.h"
#include "mesh/MeshCheck.h"
#include "sculpt/Sculptor.h"
#include "sculpt/StrokeScript.h"

#include <QtTest>

#include <random>

class TestPicking : public QObject
{
    Q_OBJECT

private slots:
    void nearestOverAllTriangles_data();
    void nearestOverAllTriangles();
    void pickUnderMouse();
    void gathering_data();
    void gathering();
};

using namespace TestMeshes;

namespace {

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

bool isStamped(const Mesh &mesh, int vertex)
{
    return mesh.getVertex(vertex).brushStamp == Vertex::brushCounter;
}

} // namespace

void TestPicking::nearestOverAllTriangles_data()
{
    QTest::addColumn<QString>("meshKind");
    QTest::addColumn<bool>("fromInside"); // rays starting inside the mesh's bounds
    QTest::addColumn<bool>("throughVertices"); // rays through vertices: equal distances
    for (const char *kind : {"icosphere", "sculpted icosphere", "stacked grids", "flat grid"})
        for (int ray = 0; ray < 3; ++ray)
            QTest::addRow("%s, ray kind %d", kind, ray)
                << QString(kind) << (ray == 1) << (ray == 2);
}

void TestPicking::nearestOverAllTriangles()
{
    QFETCH(QString, meshKind);
    QFETCH(bool, fromInside);
    QFETCH(bool, throughVertices);
    std::unique_ptr<Mesh> mesh = meshKind == "stacked grids" ? makeStackedGrids(40, 10, 3.0f)
        : meshKind == "flat grid"                            ? makeGrid(60)
                                                             : makeIcosphere(5);
    if (meshKind == "sculpted icosphere") {
        // A stroke that remeshes and moves the surface: triangles change leaves and loose boxes
        // grow.
        StrokeScript script;
        script.tool = INFLATE;
        script.topology = UNIFORMISATION;
        script.intensity = 1.0f;
        for (int k = 0; k < 30; ++k) {
            const QVector3D d(std::cos(0.05f * k), std::sin(0.05f * k), 0.3f);
            script.dabs.push_back({{d * 600.0f, -d}, 60.0f});
        }
        QVERIFY(replayStroke(*mesh, script).hits > 0);
        QCOMPARE(checkMesh(*mesh), QString());
    }
    QVERIFY(!mesh->getOctree()->isLeaf());
    const Aabb bounds = mesh->getOctree()->aabbLoose;
    const float size = (bounds.max - bounds.min).length();
    std::mt19937 random(7);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    Picking picking;
    int hits = 0;
    for (int k = 0; k < 300; ++k) {
        const QVector3D direction =
            QVector3D(unit(random), unit(random), unit(random)).normalized();
        if (direction.isNull())
            continue;
        QVector3D through = bounds.computeCenter()
            + 0.3f * size * QVector3D(unit(random), unit(random), unit(random));
        if (throughVertices)
            through = mesh->getVertex(int(random() % mesh->getNbVertices())).position;
        const QVector3D a = through - direction * (fromInside ? 0.05f : 1.0f) * size;
        const QVector3D b = through + direction * size;
        QVector3D expectedPoint;
        const int expected = pickOverAllCandidates(*mesh, a, b, expectedPoint);
        QCOMPARE(picking.intersectRay(mesh.get(), a, b), expected >= 0);
        QCOMPARE(picking.getPickedTriangle(), expected);
        if (expected >= 0) {
            ++hits;
            QCOMPARE(picking.getIntersectionPoint(), expectedPoint);
        }
    }
    QVERIFY(hits >= 20);
}

// Under the mouse: the brush radius in the world grows with the distance (fourfold squared at
// twice the distance), and a miss keeps the last point but clears the radius.
void TestPicking::pickUnderMouse()
{
    auto mesh = makeGrid(8);
    const QMatrix4x4 inverse = mesh->getInverseTransformation();
    Picking picking;
    picking.setRadiusScreen(50.0f);
    auto pickAt = [&](const Camera &camera, QPointF mouse) {
        QVector3D nearPoint, farPoint;
        Geometry::mouseRay(mouse, camera.screenTransform(), 800, 600, nearPoint, farPoint);
        picking.intersectionRayMesh(mesh.get(), inverse.map(nearPoint), inverse.map(farPoint),
            mouse, camera.screenTransform(), 800, 600);
        return picking.getRadiusWorldSquared();
    };
    const float r1 = pickAt(fittedCamera(0, 1500.0f), QPointF(370, 320));
    QCOMPARE(picking.getMesh(), mesh.get());
    const QVector3D hitPoint = picking.getIntersectionPoint();
    const float r2 = pickAt(fittedCamera(0, 3000.0f), QPointF(370, 320));
    QVERIFY(r1 > 0.0f);
    // About fourfold: the hit's window depth travels as a float, which costs some precision.
    QVERIFY2(std::abs(r2 / r1 - 4.0f) < 0.08f, qPrintable(QString::number(r2 / r1)));
    picking.setRadiusScreen(100.0f); // takes effect at the next pick only
    QCOMPARE(picking.getRadiusWorldSquared(), r2);
    pickAt(fittedCamera(0, 1500.0f), QPointF(370, 320));
    const QVector3D point = picking.getIntersectionPoint();
    QCOMPARE(point, hitPoint);
    pickAt(fittedCamera(0, 1500.0f), QPointF(2, 2)); // the background
    QCOMPARE(picking.getMesh(), nullptr);
    QCOMPARE(picking.getPickedTriangle(), -1);
    QCOMPARE(picking.getRadiusWorldSquared(), 0.0f);
    QCOMPARE(picking.getIntersectionPoint(), point);
    picking.intersectionRayMesh(nullptr, QVector3D(), QVector3D(0, 0, 1), QPointF(2, 2),
        fittedCamera(0, 1500.0f).screenTransform(), 800, 600);
    QCOMPARE(picking.getRadiusWorldSquared(), 0.0f);
}

void TestPicking::gathering_data()
{
    QTest::addColumn<QString>("mesh");
    QTest::addColumn<int>("ulps"); // steps of the squared radius above the exact distance
    QTest::newRow("neighbour exactly at the radius: left out") << "grid" << 0;
    QTest::newRow("neighbour just inside") << "grid" << 1;
    QTest::newRow("both sheets, though they share no edge") << "sheets" << 1;
    QTest::newRow("radius below the triangle: its corners, unstamped") << "tiny" << 0;
    QTest::newRow("no picked triangle: nothing") << "miss" << 0;
    QTest::newRow("no mesh: nothing") << "none" << 0;
}

void TestPicking::gathering()
{
    QFETCH(QString, mesh);
    QFETCH(int, ulps);
    auto m = mesh == "sheets" ? makeStackedGrids(1, 2, 0.5f) : makeGrid(6);
    const int centre = 3 * 7 + 3; // of the 7 x 7 grid
    QVector3D c;
    float r2;
    if (mesh == "sheets") {
        c = (m->getVertex(0).position + m->getVertex(7).position) * 0.5f;
        r2 = (m->getVertex(0).position - c).lengthSquared() * 1.01f;
    } else {
        c = m->getVertex(centre).position;
        r2 = (m->getVertex(centre + 1).position - c).lengthSquared();
    }
    for (int i = 0; i < ulps; ++i)
        r2 = std::nextafter(r2, 1e30f);
    Picking picking;
    picking.setMesh(m.get());
    picking.setIntersectionPoint(c);
    if (mesh == "tiny" || mesh == "miss") {
        // Picked through a triangle's inside (or beside the mesh), with a far smaller radius.
        const QVector3D inside =
            (m->getVertex(7).position + m->getVertex(8).position + m->getVertex(15).position) / 3.0f
            + (mesh == "miss" ? QVector3D(-1000, 0, 0) : QVector3D());
        picking.intersectRay(m.get(), inside + QVector3D(0, 0, 10), inside - QVector3D(0, 0, 10));
        picking.setMesh(m.get());
        picking.setIntersectionPoint(inside);
        r2 = 1e-4f;
    }
    if (mesh == "none") {
        picking.setMesh(nullptr);
        picking.getPickedVertices().push_back(3);
    }
    picking.pickVerticesInSphere(r2);
    std::vector<int> picked = picking.getPickedVertices();
    if (mesh == "miss" || mesh == "none") {
        QVERIFY(picked.empty());
        return;
    }
    if (mesh == "tiny") {
        const Triangle &tri = m->getTriangle(picking.getPickedTriangle());
        QCOMPARE(picked, std::vector<int>({tri.vertex1, tri.vertex2, tri.vertex3}));
        for (int i : picked)
            QVERIFY(!isStamped(*m, i));
        return;
    }
    // Every vertex strictly inside is taken once and stamped, nothing else.
    for (int i = 0; i < m->getNbVertices(); ++i) {
        const bool inside = (m->getVertex(i).position - c).lengthSquared() < r2;
        QCOMPARE(std::count(picked.begin(), picked.end(), i), inside ? 1 : 0);
        QCOMPARE(isStamped(*m, i), inside);
    }
    if (mesh == "sheets")
        QCOMPARE(int(picked.size()), 8);
    if (mesh == "grid")
        QVERIFY(!m->getLeavesUpdate().empty());
}

QTEST_GUILESS_MAIN(TestPicking)
#include "tst_picking.moc"
