#include "geometry/Camera.h"
#include "geometry/CameraMath.h"

#include <QtTest>

#include <cmath>
#include <numbers>

class TestCamera : public QObject
{
    Q_OBJECT

private slots:
    void normalizedMouse_data();
    void normalizedMouse();
    void zoom_data();
    void zoom();
    void zoomOutFromLowerLimit();
    void freelookZoomMovesEyeAndTarget();
    void pan_data();
    void pan();
    void panKeptAtClosestZoom();
    void sphereDrag_data();
    void sphereDrag();
    void sphereDragInSmallSteps();
    void planeDrag_data();
    void planeDrag();
    void freelookPitchLimit();
    void modeSwitch_data();
    void modeSwitch();
    void refusedInput();
    void keyMotion_data();
    void keyMotion();
    void projection_data();
    void projection();
    void screenTransformRoundTrip_data();
    void screenTransformRoundTrip();
    void unprojectNearAndFarPlanes_data();
    void unprojectNearAndFarPlanes();
};

namespace {

constexpr double width = 800.0;
constexpr double height = 600.0;
const QPointF centre(400.0, 300.0);

// A camera fitted to a mesh whose box diagonal is `scale`, as after a load, in an 800 x 600 view.
Camera fitted(int mode, float scale)
{
    Camera c;
    c.setViewport(width, height);
    c.setMotionScale(scale);
    c.setMode(mode);
    return c;
}

void drag(Camera &c, const QPointF &from, const QPointF &to)
{
    c.startRotation(from);
    c.rotate(to);
}

bool fuzzyVector(const QVector3D &a, const QVector3D &b, float tolerance)
{
    return (a - b).length() <= tolerance;
}

QByteArray text(const QVector3D &v)
{
    return QByteArray::number(v.x()) + ", " + QByteArray::number(v.y()) + ", "
        + QByteArray::number(v.z());
}

// out = m * (p, 1) for a column-major double matrix, without the division by w.
std::array<double, 3> transformPoint(const std::array<double, 16> &m, const double p[3])
{
    std::array<double, 3> r {};
    for (int row = 0; row < 3; ++row)
        r[row] = m[row] * p[0] + m[4 + row] * p[1] + m[8 + row] * p[2] + m[12 + row];
    return r;
}

} // namespace

void TestCamera::normalizedMouse_data()
{
    QTest::addColumn<QPointF>("pixel");
    QTest::addColumn<double>("w");
    QTest::addColumn<double>("h");
    QTest::addColumn<QPointF>("expected");

    QTest::newRow("top left") << QPointF(0, 0) << width << height << QPointF(-1, 1);
    QTest::newRow("bottom right") << QPointF(800, 600) << width << height << QPointF(1, -1);
    QTest::newRow("centre") << centre << width << height << QPointF(0, 0);
    QTest::newRow("quarter") << QPointF(200, 150) << width << height << QPointF(-0.5, 0.5);
    QTest::newRow("outside the view") << QPointF(1200, -300) << width << height << QPointF(2, 2);
    QTest::newRow("no width") << QPointF(10, 10) << 0.0 << height << QPointF(0, 0);
    QTest::newRow("not yet sized") << QPointF(10, 10) << -1.0 << -1.0 << QPointF(0, 0);
}

void TestCamera::normalizedMouse()
{
    QFETCH(QPointF, pixel);
    QFETCH(double, w);
    QFETCH(double, h);
    QFETCH(QPointF, expected);
    QCOMPARE(Geometry::normalizedMouse(pixel, w, h), expected);
}

void TestCamera::zoom_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<float>("delta");
    QTest::addColumn<int>("steps");
    QTest::addColumn<float>("expected");

    // Motion scale 700: the start distance is 0.4 * 700 = 280, and a wheel notch of 120 gives
    // 120 / 10000 = 0.012, that is 8.4 units.
    QTest::newRow("one notch in") << 0 << 0.012f << 1 << 271.6f;
    QTest::newRow("one notch out, plane mode") << 1 << -0.012f << 1 << 288.4f;
    QTest::newRow("ten notches in") << 0 << 0.012f << 10 << 196.0f;
    QTest::newRow("repeated notches stop at the limit") << 0 << 0.012f << 100 << 0.00001f;
    QTest::newRow("one huge step stops at the limit") << 1 << 5.0f << 1 << 0.00001f;
}

void TestCamera::zoom()
{
    QFETCH(int, mode);
    QFETCH(float, delta);
    QFETCH(int, steps);
    QFETCH(float, expected);

    Camera c = fitted(mode, 700.0f);
    QCOMPARE(c.getDistance(), 280.0f);
    for (int i = 0; i < steps; ++i)
        c.zoom(delta);
    QVERIFY2(std::abs(c.getDistance() - expected) <= 1e-4f * std::max(1.0f, expected),
        QByteArray::number(c.getDistance()));
    QVERIFY(c.getDistance() >= Camera::minDistance);
}

void TestCamera::zoomOutFromLowerLimit()
{
    Camera c = fitted(Camera::TRACKBALL_SPHERE, 700.0f);
    for (int i = 0; i < 50; ++i)
        c.zoom(0.012f);
    QCOMPARE(c.getDistance(), Camera::minDistance);

    // Key motion towards the scene obeys the same limit.
    c.setForward(-1);
    c.moveStep();
    QCOMPARE(c.getDistance(), Camera::minDistance);
    c.setForward(0);

    c.zoom(-0.012f);
    QVERIFY(qFuzzyCompare(c.getDistance(), 8.4f + Camera::minDistance));
}

void TestCamera::freelookZoomMovesEyeAndTarget()
{
    Camera c = fitted(Camera::FREELOOK, 700.0f);
    drag(c, centre, QPointF(500, 250)); // look somewhere off the axis
    const QVector3D eye = c.getEye();
    const QVector3D target = c.getTarget();
    const QVector3D direction = (target - eye).normalized();

    c.zoom(0.012f);
    QVERIFY(fuzzyVector(c.getEye(), eye + 8.4f * direction, 1e-3f));
    QVERIFY(fuzzyVector(c.getTarget(), target + 8.4f * direction, 1e-3f));
}

void TestCamera::pan_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<double>("dx");
    QTest::addColumn<double>("dy");
    QTest::addColumn<QVector3D>("originOnScreen");

    // Motion scale 300, start distance 120. A drag right and down moves the scene right and down.
    QTest::newRow("sphere, right") << 0 << 0.01 << 0.0 << QVector3D(3, 0, -120);
    QTest::newRow("plane, down") << 1 << 0.0 << 0.02 << QVector3D(0, -6, -120);
    QTest::newRow("sphere, both") << 0 << -0.01 << 0.01 << QVector3D(-3, -3, -120);
    QTest::newRow("freelook, no effect") << 2 << 0.01 << 0.02 << QVector3D(0, 0, -121);
}

void TestCamera::pan()
{
    QFETCH(int, mode);
    QFETCH(double, dx);
    QFETCH(double, dy);
    QFETCH(QVector3D, originOnScreen);

    Camera c = fitted(mode, 300.0f);
    c.pan(dx, dy);
    c.computeView();
    const QVector3D p = c.getView().map(QVector3D(0, 0, 0));
    QVERIFY2(fuzzyVector(p, originOnScreen, 1e-4f), text(p));
}

void TestCamera::panKeptAtClosestZoom()
{
    Camera c = fitted(Camera::TRACKBALL_PLANE, 300.0f);
    c.pan(0.01, 0.02);
    c.zoom(10.0f);
    QCOMPARE(c.getDistance(), Camera::minDistance);
    c.computeView();
    const QVector3D p = c.getView().map(QVector3D(0, 0, 0));
    QVERIFY2(fuzzyVector(p, QVector3D(3, -6, -Camera::minDistance), 1e-5f), text(p));
}

void TestCamera::sphereDrag_data()
{
    QTest::addColumn<QPointF>("from");
    QTest::addColumn<QPointF>("to");
    QTest::addColumn<float>("degrees");
    QTest::addColumn<QVector3D>("axis");

    QTest::newRow("centre to right edge")
        << centre << QPointF(800, 300) << 90.0f << QVector3D(0, 1, 0);
    QTest::newRow("centre to far beyond the right edge")
        << centre << QPointF(3000, 300) << 90.0f << QVector3D(0, 1, 0);
    QTest::newRow("centre to top edge")
        << centre << QPointF(400, 0) << 90.0f << QVector3D(-1, 0, 0);
    QTest::newRow("centre to half way right")
        << centre << QPointF(600, 300) << 30.0f << QVector3D(0, 1, 0);
    QTest::newRow("no movement") << QPointF(523, 77) << QPointF(523, 77) << 0.0f
                                 << QVector3D(0, 0, 0);
    QTest::newRow("opposite points of the equator")
        << QPointF(0, 300) << QPointF(800, 300) << 0.0f << QVector3D(0, 0, 0);
}

void TestCamera::sphereDrag()
{
    QFETCH(QPointF, from);
    QFETCH(QPointF, to);
    QFETCH(float, degrees);
    QFETCH(QVector3D, axis);

    Camera c = fitted(Camera::TRACKBALL_SPHERE, 1.0f);
    drag(c, from, to);
    const QQuaternion q = c.getRotation();
    QVERIFY2(qFuzzyCompare(q.length(), 1.0f), QByteArray::number(q.length()));
    QVector3D gotAxis;
    float gotDegrees = 0;
    q.getAxisAndAngle(&gotAxis, &gotDegrees);
    QVERIFY2(std::abs(gotDegrees - degrees) < 1e-3f, QByteArray::number(gotDegrees));
    if (degrees > 0)
        QVERIFY2(fuzzyVector(gotAxis, axis, 1e-5f), text(gotAxis));
    QCOMPARE(c.getLastPosition(), Geometry::normalizedMouse(to, width, height));
}

void TestCamera::sphereDragInSmallSteps()
{
    // One-pixel mouse moves from the centre to the right edge add up to the same quarter turn as
    // one big move, and wiggling back and forth for long keeps the rotation a pure rotation.
    Camera c = fitted(Camera::TRACKBALL_SPHERE, 1.0f);
    c.startRotation(centre);
    for (int x = 401; x <= 800; ++x)
        c.rotate(QPointF(x, 300));
    QVector3D axis;
    float degrees = 0;
    c.getRotation().getAxisAndAngle(&axis, &degrees);
    QVERIFY2(std::abs(degrees - 90.0f) < 0.01f, QByteArray::number(degrees));

    for (int i = 0; i < 20000; ++i)
        c.rotate(QPointF(300 + (i % 97) * 3, 100 + (i % 89) * 4));
    QVERIFY2(std::abs(c.getRotation().length() - 1.0f) < 1e-6f,
        QByteArray::number(c.getRotation().length() - 1.0f));
}

void TestCamera::planeDrag_data()
{
    QTest::addColumn<QPointF>("from");
    QTest::addColumn<QPointF>("to");
    QTest::addColumn<float>("radians");
    QTest::addColumn<QVector3D>("axis");

    QTest::newRow("half the width to the right")
        << centre << QPointF(800, 300) << 1.0f << QVector3D(0, 1, 0);
    QTest::newRow("half the width to the left")
        << QPointF(800, 300) << centre << 1.0f << QVector3D(0, -1, 0);
    QTest::newRow("half the height upwards")
        << centre << QPointF(400, 0) << 1.0f << QVector3D(-1, 0, 0);
    QTest::newRow("diagonal") << centre << QPointF(600, 150) << float(std::sqrt(0.5))
                              << QVector3D(-1, 1, 0).normalized();
    QTest::newRow("no movement") << centre << centre << 0.0f << QVector3D(0, 0, 0);
}

void TestCamera::planeDrag()
{
    QFETCH(QPointF, from);
    QFETCH(QPointF, to);
    QFETCH(float, radians);
    QFETCH(QVector3D, axis);

    Camera c = fitted(Camera::TRACKBALL_PLANE, 1.0f);
    drag(c, from, to);
    QVector3D gotAxis;
    float gotDegrees = 0;
    c.getRotation().getAxisAndAngle(&gotAxis, &gotDegrees);
    const float expectedDegrees = float(radians * 180.0 / std::numbers::pi);
    QVERIFY2(std::abs(gotDegrees - expectedDegrees) < 1e-3f, QByteArray::number(gotDegrees));
    if (radians > 0)
        QVERIFY2(fuzzyVector(gotAxis, axis, 1e-5f), text(gotAxis));

    // The front of the scene follows the drag.
    c.computeView();
    const QPointF move = Geometry::normalizedMouse(to, width, height)
        - Geometry::normalizedMouse(from, width, height);
    const QVector3D front = c.getView().map(QVector3D(0, 0, 1)) - c.getView().map(QVector3D());
    QVERIFY(front.x() * move.x() >= 0 && front.y() * move.y() >= 0);
}

void TestCamera::freelookPitchLimit()
{
    Camera c = fitted(Camera::FREELOOK, 700.0f);
    // 100 pixels up in a 600-pixel view is 1/3 in normalized units: 50/3 degrees.
    drag(c, centre, QPointF(400, 200));
    QVERIFY(qFuzzyCompare(c.getPitch(), 50.0f / 3.0f));
    QCOMPARE(c.getYaw(), -90.0f);
    QVERIFY(c.getTarget().y() > c.getEye().y());

    for (int i = 0; i < 5; ++i)
        drag(c, QPointF(400, 500), QPointF(400, 100));
    QCOMPARE(c.getPitch(), 89.0f);
    drag(c, QPointF(400, 500), QPointF(400, 100));
    QCOMPARE(c.getPitch(), 89.0f);
    QVERIFY(qFuzzyCompare((c.getTarget() - c.getEye()).length(), 1.0f));
    QVERIFY(std::abs((c.getTarget() - c.getEye()).y() - std::sin(89.0 * std::numbers::pi / 180))
        < 1e-6);

    for (int i = 0; i < 10; ++i)
        drag(c, QPointF(400, 0), QPointF(400, 600));
    QCOMPARE(c.getPitch(), -89.0f);

    // Sideways drags turn the head without limit.
    for (int i = 0; i < 10; ++i)
        drag(c, QPointF(0, 300), QPointF(800, 300));
    QCOMPARE(c.getYaw(), -90.0f + 10 * 100.0f);
}

void TestCamera::modeSwitch_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("trackball sphere") << 0;
    QTest::newRow("trackball plane") << 1;
    QTest::newRow("freelook") << 2;
}

void TestCamera::modeSwitch()
{
    QFETCH(int, mode);

    // Move everything away from the start pose first.
    Camera c = fitted(Camera::TRACKBALL_SPHERE, 700.0f);
    drag(c, centre, QPointF(700, 100));
    c.pan(0.1, 0.2);
    c.zoom(0.1f);
    c.setMode(Camera::FREELOOK);
    drag(c, centre, QPointF(700, 100));
    c.zoom(0.3f);
    c.setMode(Camera::TRACKBALL_PLANE);
    drag(c, centre, QPointF(100, 500));

    c.setMode(mode);
    QCOMPARE(c.getMode(), mode);
    QCOMPARE(c.getRotation(), QQuaternion());
    QCOMPARE(c.getPanX(), 0.0f);
    QCOMPARE(c.getPanY(), 0.0f);
    QCOMPARE(c.getMotionScale(), 700.0f);
    QCOMPARE(c.getYaw(), -90.0f);
    QCOMPARE(c.getPitch(), 0.0f);

    c.computeView();
    const QMatrix4x4 &view = c.getView();
    if (mode == Camera::FREELOOK) {
        QCOMPARE(c.getEye(), QVector3D(0, 0, 281));
        QCOMPARE(c.getTarget(), QVector3D(0, 0, 280));
        QVERIFY(fuzzyVector(view.map(QVector3D(0, 0, 0)), QVector3D(0, 0, -281), 1e-4f));
        QVERIFY(fuzzyVector(view.map(QVector3D(0, 0, 280)), QVector3D(0, 0, -1), 1e-4f));
    } else {
        QCOMPARE(c.getDistance(), 280.0f);
        QCOMPARE(view.map(QVector3D(0, 0, 0)), QVector3D(0, 0, -280));
        QCOMPARE(view.map(QVector3D(1, 2, 3)), QVector3D(1, 2, -277));
    }
}

void TestCamera::refusedInput()
{
    Camera c = fitted(Camera::TRACKBALL_PLANE, 700.0f);

    QTest::ignoreMessage(QtWarningMsg, "Camera: unknown camera mode 3 ignored");
    c.setMode(3);
    QCOMPARE(c.getMode(), int(Camera::TRACKBALL_PLANE));
    QCOMPARE(c.getDistance(), 280.0f);

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("motion scale 0 refused"));
    c.setMotionScale(0.0f);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("motion scale nan refused"));
    c.setMotionScale(std::nanf(""));
    QCOMPARE(c.getMotionScale(), 700.0f);

    // The load sequence: reset keeps the mode and starts from scale 1.
    c.reset();
    QCOMPARE(c.getMotionScale(), 1.0f);
    QCOMPARE(c.getMode(), int(Camera::TRACKBALL_PLANE));
    c.setMotionScale(500.0f);
    c.zoom(-0.4f);
    QCOMPARE(c.getDistance(), 200.0f);
}

void TestCamera::keyMotion_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("strafe");
    QTest::addColumn<int>("forward");
    QTest::addColumn<QVector3D>("eyeMove"); // trackball: (panX, panY, distance) change

    // Motion scale 400: one step is one unit.
    QTest::newRow("trackball right") << 0 << 1 << 0 << QVector3D(1, 0, 0);
    QTest::newRow("trackball towards the scene") << 1 << 0 << -1 << QVector3D(0, 0, -1);
    QTest::newRow("trackball left and away") << 0 << -1 << 1 << QVector3D(-1, 0, 1);
    QTest::newRow("freelook towards the scene") << 2 << 0 << -1 << QVector3D(0, 0, -1);
    QTest::newRow("freelook right") << 2 << 1 << 0 << QVector3D(1, 0, 0);
    QTest::newRow("freelook left and away") << 2 << -1 << 1 << QVector3D(-1, 0, 1);
    QTest::newRow("out-of-range directions clamp") << 0 << 7 << -3 << QVector3D(1, 0, -1);
}

void TestCamera::keyMotion()
{
    QFETCH(int, mode);
    QFETCH(int, strafe);
    QFETCH(int, forward);
    QFETCH(QVector3D, eyeMove);

    Camera c = fitted(mode, 400.0f);
    QVERIFY(!c.isMoving());
    const auto position = [&c, mode] {
        return mode == Camera::FREELOOK ? c.getEye()
                                        : QVector3D(c.getPanX(), c.getPanY(), c.getDistance());
    };
    const QVector3D before = position();
    const QVector3D targetBefore = c.getTarget();
    c.setStrafe(strafe);
    c.setForward(forward);
    QVERIFY(c.isMoving());
    c.moveStep();
    c.moveStep();
    QVERIFY2(fuzzyVector(position() - before, 2 * eyeMove, 1e-4f), text(position() - before));
    if (mode == Camera::FREELOOK)
        QVERIFY(fuzzyVector(c.getTarget() - targetBefore, 2 * eyeMove, 1e-4f));

    c.setStrafe(0);
    QCOMPARE(c.isMoving(), forward != 0);
    c.setForward(0);
    QVERIFY(!c.isMoving());
}

void TestCamera::projection_data()
{
    QTest::addColumn<double>("w");
    QTest::addColumn<double>("h");
    QTest::addColumn<double>("pixelRatio");
    QTest::addColumn<double>("aspect");
    QTest::addColumn<int>("rectWidth");
    QTest::addColumn<int>("rectHeight");

    QTest::newRow("800 x 600") << 800.0 << 600.0 << 1.0 << 4.0 / 3.0 << 800 << 600;
    QTest::newRow("portrait") << 300.0 << 900.0 << 1.0 << 1.0 / 3.0 << 300 << 900;
    QTest::newRow("fractional size truncates")
        << 800.7 << 600.9 << 1.0 << 800.7 / 600.9 << 800 << 600;
    QTest::newRow("device pixel ratio 2") << 800.0 << 600.0 << 2.0 << 4.0 / 3.0 << 1600 << 1200;
    QTest::newRow("not yet sized") << -1.0 << -1.0 << 1.0 << 1.0 << 0 << 0;
    QTest::newRow("collapsed to no height") << 800.0 << 0.0 << 1.0 << 1.0 << 800 << 0;
}

void TestCamera::projection()
{
    QFETCH(double, w);
    QFETCH(double, h);
    QFETCH(double, pixelRatio);
    QFETCH(double, aspect);
    QFETCH(int, rectWidth);
    QFETCH(int, rectHeight);

    Camera c;
    c.setViewport(w, h);
    c.computeProjection();
    const QMatrix4x4 &p = c.getProjection();
    for (int i = 0; i < 16; ++i)
        QVERIFY(std::isfinite(p.constData()[i]));
    QVERIFY(std::abs(p(1, 1) / p(0, 0) - aspect) < 1e-6 * aspect);
    // Vertical field of view of 70 degrees.
    QVERIFY(qFuzzyCompare(p(1, 1), float(1.0 / std::tan(35.0 * std::numbers::pi / 180.0))));
    const std::array<int, 4> expectedRect {0, 0, rectWidth, rectHeight};
    QCOMPARE(c.viewportRect(pixelRatio), expectedRect);
    QCOMPARE(c.getViewport(), QSizeF(w, h));

    // The double-precision projection is the same matrix.
    const Geometry::ScreenTransform t = c.screenTransform();
    for (int i = 0; i < 16; ++i)
        QVERIFY2(std::abs(t.projection[i] - p.constData()[i])
                <= 1e-6 * std::max(1.0, std::abs(t.projection[i])),
            QByteArray::number(i));
    QCOMPARE(t.viewport[2], std::max(1, int(w > 0 ? w : 0)));
}

void TestCamera::screenTransformRoundTrip_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QPointF>("dragTo");
    QTest::addColumn<QVector3D>("point");

    QTest::newRow("sphere, turned, near the mesh")
        << 0 << QPointF(650, 120) << QVector3D(50, -80, 120);
    QTest::newRow("plane, turned, far away")
        << 1 << QPointF(100, 480) << QVector3D(-3000, 2000, -40000);
    QTest::newRow("sphere, at the origin") << 0 << QPointF(500, 300) << QVector3D(0, 0, 0);
    QTest::newRow("freelook, turned") << 2 << QPointF(450, 270) << QVector3D(30, 40, -500);
}

void TestCamera::screenTransformRoundTrip()
{
    QFETCH(int, mode);
    QFETCH(QPointF, dragTo);
    QFETCH(QVector3D, point);

    Camera c = fitted(mode, 500.0f);
    drag(c, centre, dragTo);
    c.pan(0.02, -0.01);
    c.computeProjection();
    c.computeView();
    const Geometry::ScreenTransform t = c.screenTransform();
    QCOMPARE(t.viewport, (std::array<int, 4> {0, 0, 800, 600}));

    double window[3];
    QVERIFY(Geometry::project(point, t, window));
    QVERIFY(window[2] > 0.0 && window[2] < 1.0);
    double back[3];
    QVERIFY(Geometry::unProject(window[0], window[1], window[2], t, back));
    const double tolerance = 1e-6 * std::max(1.0, double(point.length()));
    QVERIFY2(std::abs(back[0] - point.x()) < tolerance && std::abs(back[1] - point.y()) < tolerance
            && std::abs(back[2] - point.z()) < tolerance,
        QByteArray::number(back[0]) + ", " + QByteArray::number(back[1]) + ", "
            + QByteArray::number(back[2]));

    // The transform describes the view that OpenGL draws with the float matrices.
    const QVector3D clip = (c.getProjection() * c.getView()).map(point);
    const double drawnX = (clip.x() * 0.5 + 0.5) * 800.0;
    const double drawnY = (clip.y() * 0.5 + 0.5) * 600.0;
    QVERIFY2(std::abs(drawnX - window[0]) < 0.01 && std::abs(drawnY - window[1]) < 0.01,
        QByteArray::number(drawnX - window[0]) + " " + QByteArray::number(drawnY - window[1]));
}

void TestCamera::unprojectNearAndFarPlanes_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QPointF>("pixel");

    QTest::newRow("sphere, centre") << 0 << centre;
    QTest::newRow("sphere, corner") << 0 << QPointF(10, 590);
    QTest::newRow("plane, off centre") << 1 << QPointF(700, 100);
    QTest::newRow("freelook, centre") << 2 << centre;
}

void TestCamera::unprojectNearAndFarPlanes()
{
    QFETCH(int, mode);
    QFETCH(QPointF, pixel);

    Camera c = fitted(mode, 500.0f);
    drag(c, centre, QPointF(560, 220));
    c.computeProjection();
    c.computeView();
    const Geometry::ScreenTransform t = c.screenTransform();

    QVector3D nearPoint;
    QVector3D farPoint;
    Geometry::mouseRay(pixel, t, width, height, nearPoint, farPoint);
    // Depth in front of the eye: minus the eye-space z.
    const double nearWorld[3] = {nearPoint.x(), nearPoint.y(), nearPoint.z()};
    const double farWorld[3] = {farPoint.x(), farPoint.y(), farPoint.z()};
    const double nearDepth = -transformPoint(t.modelView, nearWorld)[2];
    const double farDepth = -transformPoint(t.modelView, farWorld)[2];
    QVERIFY2(std::abs(nearDepth - Camera::nearPlane) < 1e-4, QByteArray::number(nearDepth));
    // The points come back as floats: about 1e-7 relative.
    QVERIFY2(std::abs(farDepth - Camera::farPlane) < 0.05, QByteArray::number(farDepth, 'f', 4));

    // In double all the way, the far plane is exact to many digits.
    double exact[3];
    QVERIFY(Geometry::unProject(pixel.x(), height - pixel.y(), 1.0, t, exact));
    const double exactDepth = -transformPoint(t.modelView, exact)[2];
    QVERIFY2(
        std::abs(exactDepth - Camera::farPlane) < 1e-3, QByteArray::number(exactDepth, 'f', 6));
}

QTEST_APPLESS_MAIN(TestCamera)
#include "tst_camera.moc"
