#include "geometry/Geometry.h"

#include <QtTest>

#include <cmath>

class TestGeometry : public QObject
{
    Q_OBJECT

private slots:
    void segmentTriangle_data();
    void segmentTriangle();
    void zeroNormalNeverCrossed();
    void pointInTriangle_data();
    void pointInTriangle();
    void distanceToSegment_data();
    void distanceToSegment();
    void sphereTouchesEdges_data();
    void sphereTouchesEdges();
    void projectOnLine();
    void triangleBox();
    void screenRoundTrip_data();
    void screenRoundTrip();
    void mouseRayEnds();
    void screenDirection();
};

namespace {

const QVector3D A(-1, -1, 0);
const QVector3D B(1, -1, 0);
const QVector3D C(0, 1, 0);
const QVector3D N(0, 0, 1);

// Perspective projection in double precision, as glFrustum/gluPerspective build it.
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

Geometry::ScreenTransform camera()
{
    // A camera at (0, 0, 600) looking at the origin, turned a little about y.
    QMatrix4x4 view;
    view.lookAt(QVector3D(100, 50, 600), QVector3D(0, 0, 0), QVector3D(0, 1, 0));
    Geometry::ScreenTransform t;
    const float *v = view.constData();
    for (int i = 0; i < 16; ++i)
        t.modelView[i] = v[i];
    t.projection = perspective(45.0, 1280.0 / 800.0, 0.01, 100000.0);
    t.viewport = {0, 0, 1280, 800};
    return t;
}

} // namespace

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
    QTest::newRow("above plane") << QVector3D(0, 0, 2) << QVector3D(0, 0, 1) << false
                                 << QVector3D();
    QTest::newRow("on edge AB") << QVector3D(0, -1, 1) << QVector3D(0, -1, -1) << true
                                << QVector3D(0, -1, 0);
    QTest::newRow("on corner C") << QVector3D(0, 1, 1) << QVector3D(0, 1, -1) << true
                                 << QVector3D(0, 1, 0);
    QTest::newRow("outside beside")
        << QVector3D(2, 0, 1) << QVector3D(2, 0, -1) << false << QVector3D();
    QTest::newRow("outside below AB")
        << QVector3D(0, -1.01f, 1) << QVector3D(0, -1.01f, -1) << false << QVector3D();
}

void TestGeometry::segmentTriangle()
{
    QFETCH(QVector3D, p1);
    QFETCH(QVector3D, p2);
    QFETCH(bool, hit);
    QFETCH(QVector3D, point);
    QVector3D intersection(7, 7, 7);
    QCOMPARE(Geometry::intersectionSegmentTriangle(p1, p2, A, B, C, N, intersection), hit);
    if (hit)
        QCOMPARE(intersection, point);
}

void TestGeometry::zeroNormalNeverCrossed()
{
    QVector3D intersection;
    QVERIFY(!Geometry::intersectionSegmentTriangle(
        QVector3D(0, 0, 1), QVector3D(0, 0, -1), A, B, C, QVector3D(0, 0, 0), intersection));
}

void TestGeometry::pointInTriangle_data()
{
    QTest::addColumn<QVector3D>("p");
    QTest::addColumn<bool>("inside");
    QTest::newRow("corner") << A << true;
    QTest::newRow("centroid") << (A + B + C) / 3.0f << true;
    QTest::newRow("edge middle") << (A + B) * 0.5f << true;
    QTest::newRow("just outside") << QVector3D(0, -1.001f, 0) << false;
    QTest::newRow("far outside") << QVector3D(3, 3, 0) << false;
    QTest::newRow("above interior") << QVector3D(0, 0, 0.01f) << false;
}

void TestGeometry::pointInTriangle()
{
    QFETCH(QVector3D, p);
    QFETCH(bool, inside);
    QCOMPARE(Geometry::pointInTriangle(p, A, B, C), inside);
}

void TestGeometry::distanceToSegment_data()
{
    QTest::addColumn<QVector3D>("p");
    QTest::addColumn<QVector3D>("a");
    QTest::addColumn<QVector3D>("b");
    QTest::addColumn<float>("expected");
    const QVector3D o(0, 0, 0);
    const QVector3D x(1, 0, 0);
    QTest::newRow("nearest end B") << QVector3D(2, 1, 0) << o << x << 2.0f;
    QTest::newRow("interior") << QVector3D(0.5f, 1, 0) << o << x << 1.0f;
    QTest::newRow("nearest end A") << QVector3D(-1, 0, 1) << o << x << 2.0f;
    QTest::newRow("zero length gives B") << QVector3D(0, 3, 4) << x << x << 26.0f;
}

void TestGeometry::distanceToSegment()
{
    QFETCH(QVector3D, p);
    QFETCH(QVector3D, a);
    QFETCH(QVector3D, b);
    QFETCH(float, expected);
    QCOMPARE(Geometry::distanceSquaredToSegment(p, a, b), expected);
}

void TestGeometry::sphereTouchesEdges_data()
{
    QTest::addColumn<float>("radiusSquared");
    QTest::addColumn<bool>("touches");
    // The centre (0, -2, 0) is at distance 1 from the edge AB.
    QTest::newRow("exactly at the distance") << 1.0f << false;
    QTest::newRow("a little more") << 1.0001f << true;
    QTest::newRow("less") << 0.5f << false;
}

void TestGeometry::sphereTouchesEdges()
{
    QFETCH(float, radiusSquared);
    QFETCH(bool, touches);
    QCOMPARE(Geometry::sphereTouchesEdges(QVector3D(0, -2, 0), radiusSquared, A, B, C), touches);
}

void TestGeometry::projectOnLine()
{
    QCOMPARE(Geometry::projectOnLine(QVector3D(5, 1, 0), QVector3D(0, 0, 0), QVector3D(1, 0, 0)),
        QVector3D(5, 0, 0));
    QCOMPARE(Geometry::projectOnLine(QVector3D(-2, 3, 4), QVector3D(0, 0, 0), QVector3D(0, 2, 0)),
        QVector3D(0, 3, 0));
}

void TestGeometry::triangleBox()
{
    const Aabb box =
        Geometry::triangleBox(QVector3D(1, -2, 3), QVector3D(-1, 5, 0), QVector3D(0, 0, 7));
    QCOMPARE(box.min, QVector3D(-1, -2, 0));
    QCOMPARE(box.max, QVector3D(1, 5, 7));
}

void TestGeometry::screenRoundTrip_data()
{
    QTest::addColumn<QVector3D>("world");
    QTest::newRow("origin") << QVector3D(0, 0, 0);
    QTest::newRow("off centre") << QVector3D(120, -80, 40);
    QTest::newRow("near the camera") << QVector3D(90, 45, 550);
    QTest::newRow("far behind") << QVector3D(-300, 200, -2000);
}

void TestGeometry::screenRoundTrip()
{
    QFETCH(QVector3D, world);
    const Geometry::ScreenTransform t = camera();
    double depth = -1.0;
    const QPointF pixel = Geometry::worldToScreen(world, t, 1280, 800, depth);
    QVERIFY(depth > 0.0 && depth < 1.0);
    const QVector3D back = Geometry::screenToWorld(pixel, t, 1280, 800, float(depth));
    // The depth passes through a float: its relative error of 6e-8 near depth 1 becomes a
    // distance error of about d^2 * 6e-8 / near, a few units at 2600 units away.
    const float distance = (world - QVector3D(100, 50, 600)).length();
    const float tolerance = 1e-3f + distance * distance * 6e-8f / 0.01f;
    QVERIFY2((back - world).length() <= tolerance,
        qPrintable(QStringLiteral("error %1 > %2").arg((back - world).length()).arg(tolerance)));
    // The pixel itself is exact: project the returned point again.
    double depth2 = 0.0;
    const QPointF pixel2 = Geometry::worldToScreen(back, t, 1280, 800, depth2);
    QVERIFY(std::abs(pixel2.x() - pixel.x()) < 1e-3 && std::abs(pixel2.y() - pixel.y()) < 1e-3);
}

void TestGeometry::mouseRayEnds()
{
    const Geometry::ScreenTransform t = camera();
    QVector3D nearPoint;
    QVector3D farPoint;
    Geometry::mouseRay(QPointF(640, 400), t, 1280, 800, nearPoint, farPoint);
    const QVector3D eye(100, 50, 600);
    // The centre pixel looks along the view axis from the eye towards the origin.
    QVERIFY(std::abs((nearPoint - eye).length() - 0.01f) < 1e-4f);
    QVERIFY(std::abs((farPoint - eye).length() / 100000.0f - 1.0f) < 1e-4f);
    const QVector3D axis = (QVector3D(0, 0, 0) - eye).normalized();
    QVERIFY(QVector3D::dotProduct((farPoint - nearPoint).normalized(), axis) > 0.999999f);
}

void TestGeometry::screenDirection()
{
    Geometry::ScreenTransform t;
    // Identity view, orthographic projection of [-640, 640] x [-400, 400].
    t.projection = {1.0 / 640, 0, 0, 0, 0, 1.0 / 400, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1};
    t.viewport = {0, 0, 1280, 800};
    const QVector3D right =
        Geometry::screenDirection(QPointF(10, 10), QPointF(30, 10), t, 1280, 800);
    QCOMPARE(right, QVector3D(1, 0, 0));
    // Pixel y grows downwards, world y upwards.
    const QVector3D down =
        Geometry::screenDirection(QPointF(10, 10), QPointF(10, 50), t, 1280, 800);
    QCOMPARE(down, QVector3D(0, -1, 0));
    QCOMPARE(Geometry::screenDirection(QPointF(5, 5), QPointF(5, 5), t, 1280, 800), QVector3D());
}

QTEST_APPLESS_MAIN(TestGeometry)
#include "tst_geometry.moc"
