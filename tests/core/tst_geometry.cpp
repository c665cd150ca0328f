// Geometry: boxes against points, rays, spheres and boxes, and segments against triangles, at
// their edges and corners.

#include "geometry/Geometry.h"

#include <QtTest>

#include <cmath>

class TestGeometry : public QObject
{
    Q_OBJECT

private slots:
    void boxQueries_data();
    void boxQueries();
    void segmentTriangle_data();
    void segmentTriangle();
};

void TestGeometry::boxQueries_data()
{
    // Against the unit box [0, 1]^3: a point (min faces outside, max faces inside), a ray
    // (origin, direction), a sphere (centre, squared radius), another box (min, max).
    QTest::addColumn<QString>("query");
    QTest::addColumn<QVector3D>("p");
    QTest::addColumn<QVector3D>("q");
    QTest::addColumn<bool>("result");
    QTest::newRow("point: centre") << "point" << QVector3D(0.5f, 0.5f, 0.5f) << QVector3D() << true;
    QTest::newRow("point: min face")
        << "point" << QVector3D(0.0f, 0.5f, 0.5f) << QVector3D() << false;
    QTest::newRow("point: max corner") << "point" << QVector3D(1, 1, 1) << QVector3D() << true;
    QTest::newRow("point: beyond max")
        << "point" << QVector3D(1.0001f, 0.5f, 0.5f) << QVector3D() << false;
    QTest::newRow("ray: through") << "ray" << QVector3D(-1, 0.5f, 0.5f) << QVector3D(1, 0, 0)
                                  << true;
    QTest::newRow("ray: from inside")
        << "ray" << QVector3D(0.5f, 0.5f, 0.5f) << QVector3D(0, 1, 0) << true;
    QTest::newRow("ray: box behind")
        << "ray" << QVector3D(2, 0.5f, 0.5f) << QVector3D(1, 0, 0) << false;
    // The box is closed: a ray that only touches an edge or runs along a face hits it (a zero
    // direction component with the origin on a slab plane is inside that slab, not 0/0).
    QTest::newRow("ray: grazing an edge")
        << "ray" << QVector3D(-1, 0, 0.5f) << QVector3D(1, 1, 0) << true;
    QTest::newRow("ray: on a slab plane")
        << "ray" << QVector3D(-1, 0, 0.5f) << QVector3D(1, 0, 0) << true;
    QTest::newRow("sphere: touching a face")
        << "sphere" << QVector3D(2, 0.5f, 0.5f) << QVector3D(1, 0, 0) << false;
    QTest::newRow("sphere: just over a face")
        << "sphere" << QVector3D(2, 0.5f, 0.5f) << QVector3D(1.0001f, 0, 0) << true;
    QTest::newRow("sphere: over a corner")
        << "sphere" << QVector3D(2, 2, 1) << QVector3D(2.01f, 0, 0) << true;
    QTest::newRow("box: inner") << "box" << QVector3D(0.2f, 0.2f, 0.2f) << QVector3D(0.8f, 0.8f, 1)
                                << true;
    QTest::newRow("box: sharing a face")
        << "box" << QVector3D(1, 0, 0) << QVector3D(2, 1, 1) << false;
    QTest::newRow("box: disjoint") << "box" << QVector3D(0, -3, 0) << QVector3D(1, -2, 1) << false;
}

void TestGeometry::boxQueries()
{
    QFETCH(QString, query);
    QFETCH(QVector3D, p);
    QFETCH(QVector3D, q);
    QFETCH(bool, result);
    const Aabb unit(QVector3D(0, 0, 0), QVector3D(1, 1, 1));
    if (query == "point")
        QCOMPARE(unit.containsPoint(p), result);
    else if (query == "ray")
        QCOMPARE(unit.intersectRay(p, q), result);
    else if (query == "sphere")
        QCOMPARE(unit.intersectSphere(p, q.x()), result);
    else {
        const Aabb other(p, q);
        QCOMPARE(other.contains(unit), result);
        // Outside only when they do not even touch.
        QCOMPARE(other.isOutside(unit), p.y() < -1.0f);
        QCOMPARE(unit.isOutside(other), p.y() < -1.0f);
        Aabb grown = unit;
        grown.expandsWithBox(other);
        QVERIFY(other.contains(grown) && unit.contains(grown));
    }
}

void TestGeometry::segmentTriangle_data()
{
    QTest::addColumn<QVector3D>("p1");
    QTest::addColumn<QVector3D>("p2");
    QTest::addColumn<bool>("hit");
    QTest::addColumn<QVector3D>("point");
    QTest::newRow("down through centre")
        << QVector3D(0, 0, 1) << QVector3D(0, 0, -1) << true << QVector3D(0, 0, 0);
    QTest::newRow("up through centre")
        << QVector3D(0, 0, -1) << QVector3D(0, 0, 1) << true << QVector3D(0, 0, 0);
    QTest::newRow("oblique") << QVector3D(0, 0, 2) << QVector3D(0.5f, 0, -2) << true
                             << QVector3D(0.25f, 0, 0);
    QTest::newRow("ending on plane")
        << QVector3D(0, 0, 1) << QVector3D(0, 0, 0) << false << QVector3D();
    QTest::newRow("on edge AB") << QVector3D(0, -1, 1) << QVector3D(0, -1, -1) << true
                                << QVector3D(0, -1, 0);
    QTest::newRow("on corner C") << QVector3D(0, 1, 1) << QVector3D(0, 1, -1) << true
                                 << QVector3D(0, 1, 0);
    QTest::newRow("outside below AB")
        << QVector3D(0, -1.01f, 1) << QVector3D(0, -1.01f, -1) << false << QVector3D();
    QTest::newRow("zero normal never crossed")
        << QVector3D(0, 0, 1) << QVector3D(0, 0, -1) << false << QVector3D(1, 1, 1);
}

void TestGeometry::segmentTriangle()
{
    QFETCH(QVector3D, p1);
    QFETCH(QVector3D, p2);
    QFETCH(bool, hit);
    QFETCH(QVector3D, point);
    const QVector3D a(-1, -1, 0), b(1, -1, 0), c(0, 1, 0);
    const QVector3D normal = point == QVector3D(1, 1, 1) ? QVector3D() : QVector3D(0, 0, 1);
    QVector3D intersection(7, 7, 7);
    QCOMPARE(Geometry::intersectionSegmentTriangle(p1, p2, a, b, c, normal, intersection), hit);
    if (hit)
        QCOMPARE(intersection, point);
    // The point in the plane is inside exactly when a vertical segment through it crosses.
    if (normal == QVector3D(0, 0, 1) && p1.x() == p2.x() && p1.y() == p2.y() && p1.z() * p2.z() < 0)
        QCOMPARE(Geometry::pointInTriangle(QVector3D(p1.x(), p1.y(), 0), a, b, c), hit);
    // The sphere of squared radius 1 about (0, -2, 0) only touches the edge AB: not counted.
    QVERIFY(!Geometry::sphereTouchesEdges(QVector3D(0, -2, 0), 1.0f, a, b, c));
    QVERIFY(Geometry::sphereTouchesEdges(QVector3D(0, -2, 0), 1.0001f, a, b, c));
}

QTEST_APPLESS_MAIN(TestGeometry)
#include "tst_geometry.moc"
