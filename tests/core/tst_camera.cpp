// The camera: zoom and its limit, pan, the two trackballs and the free look, mode changes, key
// motion, and the double-precision screen transform against what OpenGL draws.

#include "TestCamera.h"
#include "geometry/CameraMath.h"

#include <QtTest>

#include <cmath>
#include <numbers>

namespace {

const QPointF centre(400.0, 300.0);

void drag(Camera &c, const QPointF &from, const QPointF &to)
{
    c.startRotation(from);
    c.rotate(to);
}

bool near(const QVector3D &a, const QVector3D &b, float tolerance)
{
    return (a - b).length() <= tolerance;
}

} // namespace

class TestCamera : public QObject
{
    Q_OBJECT

private slots:
    void zoomAndPan_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<float>("zoom");
        QTest::addColumn<int>("steps");
        QTest::addColumn<QPointF>("pan");
        QTest::addColumn<QVector3D>("origin"); // where the scene's origin ends in eye space
        // Motion scale 700: the start distance is 0.4 * 700 = 280, and a wheel notch of 120 gives
        // 120 / 10000 = 0.012, that is 8.4 units. A pan of 0.01 moves the scene 7 units.
        QTest::newRow("one notch in") << 0 << 0.012f << 1 << QPointF() << QVector3D(0, 0, -271.6f);
        QTest::newRow("one notch out, plane mode")
            << 1 << -0.012f << 1 << QPointF() << QVector3D(0, 0, -288.4f);
        QTest::newRow("repeated notches stop at the limit")
            << 0 << 0.012f << 100 << QPointF() << QVector3D(0, 0, -Camera::minDistance);
        QTest::newRow("a huge step stops at the limit, pan kept")
            << 1 << 5.0f << 1 << QPointF(0.01, 0.02) << QVector3D(7, -14, -Camera::minDistance);
        QTest::newRow("freelook: pan does nothing")
            << 2 << 0.0f << 0 << QPointF(0.01, 0.02) << QVector3D(0, 0, -281);
    }
    void zoomAndPan()
    {
        QFETCH(int, mode);
        QFETCH(float, zoom);
        QFETCH(int, steps);
        QFETCH(QPointF, pan);
        QFETCH(QVector3D, origin);
        Camera c = fittedCamera(mode, 700.0f);
        c.pan(pan.x(), pan.y());
        for (int i = 0; i < steps; ++i)
            c.zoom(zoom);
        c.computeView();
        QVERIFY(
            near(c.getView().map(QVector3D()), origin, 1e-4f * std::max(1.0f, origin.length())));
        // From the limit, zooming out moves away again by a notch.
        if (c.getDistance() == Camera::minDistance) {
            c.zoom(-0.012f);
            QVERIFY(qFuzzyCompare(c.getDistance(), 8.4f + Camera::minDistance));
        }
    }

    void trackballDrag_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QPointF>("from");
        QTest::addColumn<QPointF>("to");
        QTest::addColumn<float>("degrees");
        QTest::addColumn<QVector3D>("axis");
        QTest::newRow("sphere: centre to right edge")
            << 0 << centre << QPointF(800, 300) << 90.0f << QVector3D(0, 1, 0);
        QTest::newRow("sphere: far beyond the top edge")
            << 0 << centre << QPointF(400, -3000) << 90.0f << QVector3D(-1, 0, 0);
        QTest::newRow("sphere: half way right")
            << 0 << centre << QPointF(600, 300) << 30.0f << QVector3D(0, 1, 0);
        QTest::newRow("sphere: no movement")
            << 0 << QPointF(523, 77) << QPointF(523, 77) << 0.0f << QVector3D();
        QTest::newRow("sphere: opposite points of the equator")
            << 0 << QPointF(0, 300) << QPointF(800, 300) << 0.0f << QVector3D();
        // The plane turns by the normalized drag length in radians: half the width is one radian.
        const float radian = float(180.0 / std::numbers::pi);
        QTest::newRow("plane: half the width to the left")
            << 1 << QPointF(800, 300) << centre << radian << QVector3D(0, -1, 0);
        QTest::newRow("plane: diagonal")
            << 1 << centre << QPointF(600, 150) << radian * float(std::sqrt(0.5))
            << QVector3D(-1, 1, 0).normalized();
    }
    void trackballDrag()
    {
        QFETCH(int, mode);
        QFETCH(QPointF, from);
        QFETCH(QPointF, to);
        QFETCH(float, degrees);
        QFETCH(QVector3D, axis);
        Camera c = fittedCamera(mode, 1.0f);
        drag(c, from, to);
        QVERIFY(qFuzzyCompare(c.getRotation().length(), 1.0f));
        QVector3D gotAxis;
        float gotDegrees = 0;
        c.getRotation().getAxisAndAngle(&gotAxis, &gotDegrees);
        QVERIFY2(std::abs(gotDegrees - degrees) < 1e-3f, QByteArray::number(gotDegrees));
        if (degrees > 0)
            QVERIFY(near(gotAxis, axis, 1e-5f));
        QCOMPARE(c.getLastPosition(), Geometry::normalizedMouse(to, 800, 600));
    }

    // One-pixel mouse moves from the centre to the right edge add up to the same quarter turn as
    // one big move, and wiggling back and forth for long keeps the rotation a pure rotation.
    void sphereDragInSmallSteps()
    {
        Camera c = fittedCamera(Camera::TRACKBALL_SPHERE, 1.0f);
        c.startRotation(centre);
        for (int x = 401; x <= 800; ++x)
            c.rotate(QPointF(x, 300));
        QVector3D axis;
        float degrees = 0;
        c.getRotation().getAxisAndAngle(&axis, &degrees);
        QVERIFY2(std::abs(degrees - 90.0f) < 0.01f, QByteArray::number(degrees));
        for (int i = 0; i < 20000; ++i)
            c.rotate(QPointF(300 + (i % 97) * 3, 100 + (i % 89) * 4));
        QVERIFY(std::abs(c.getRotation().length() - 1.0f) < 1e-6f);
    }

    void freelookPitchLimit()
    {
        Camera c = fittedCamera(Camera::FREELOOK, 700.0f);
        // 100 pixels up in a 600-pixel view is 1/3 in normalized units: 50/3 degrees.
        drag(c, centre, QPointF(400, 200));
        QVERIFY(qFuzzyCompare(c.getPitch(), 50.0f / 3.0f));
        QVERIFY(c.getTarget().y() > c.getEye().y());
        for (int i = 0; i < 6; ++i)
            drag(c, QPointF(400, 500), QPointF(400, 100));
        QCOMPARE(c.getPitch(), 89.0f);
        QVERIFY(qFuzzyCompare((c.getTarget() - c.getEye()).length(), 1.0f));
        for (int i = 0; i < 10; ++i)
            drag(c, QPointF(400, 0), QPointF(400, 600));
        QCOMPARE(c.getPitch(), -89.0f);
        // Sideways drags turn the head without limit; the zoom moves eye and target together.
        for (int i = 0; i < 10; ++i)
            drag(c, QPointF(0, 300), QPointF(800, 300));
        QCOMPARE(c.getYaw(), -90.0f + 10 * 100.0f);
        const QVector3D eye = c.getEye(), target = c.getTarget();
        c.zoom(0.012f);
        QVERIFY(near(c.getEye() - eye, 8.4f * (target - eye).normalized(), 1e-3f));
        QVERIFY(near(c.getTarget() - target, 8.4f * (target - eye).normalized(), 1e-3f));
    }

    void modeSwitchAndRefusedInput()
    {
        for (int mode : {0, 1, 2}) {
            // Move everything away from the start pose first: a mode change starts afresh.
            Camera c = fittedCamera(Camera::TRACKBALL_SPHERE, 700.0f);
            drag(c, centre, QPointF(700, 100));
            c.pan(0.1, 0.2);
            c.zoom(0.1f);
            c.setMode(Camera::FREELOOK);
            drag(c, centre, QPointF(700, 100));
            c.setMode(mode);
            QCOMPARE(c.getRotation(), QQuaternion());
            QCOMPARE(QPointF(c.getYaw(), c.getPitch()), QPointF(-90, 0));
            c.computeView();
            QVERIFY(near(c.getView().map(QVector3D(1, 2, 3)),
                QVector3D(1, 2, mode == 2 ? -278 : -277), 1e-4f));
        }
        Camera c = fittedCamera(Camera::TRACKBALL_PLANE, 700.0f);
        QTest::ignoreMessage(QtWarningMsg, "Camera: unknown camera mode 3 ignored");
        c.setMode(3);
        QCOMPARE(c.getMode(), int(Camera::TRACKBALL_PLANE));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("motion scale 0 refused"));
        c.setMotionScale(0.0f);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("motion scale nan refused"));
        c.setMotionScale(std::nanf(""));
        QCOMPARE(c.getMotionScale(), 700.0f);
        // The load sequence: reset keeps the mode and starts from scale 1.
        c.reset();
        QCOMPARE(c.getMotionScale(), 1.0f);
        QCOMPARE(c.getMode(), int(Camera::TRACKBALL_PLANE));
    }

    void keyMotion_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("strafe");
        QTest::addColumn<int>("forward");
        QTest::addColumn<QVector3D>("move"); // trackball: (panX, panY, distance); freelook: eye
        // Motion scale 400: one step is one unit.
        QTest::newRow("trackball left and away") << 1 << -1 << 1 << QVector3D(-1, 0, 1);
        QTest::newRow("freelook towards the scene") << 2 << 0 << -1 << QVector3D(0, 0, -1);
        QTest::newRow("freelook left and away") << 2 << -1 << 1 << QVector3D(-1, 0, 1);
        QTest::newRow("out-of-range directions clamp") << 0 << 7 << -3 << QVector3D(1, 0, -1);
    }
    void keyMotion()
    {
        QFETCH(int, mode);
        QFETCH(int, strafe);
        QFETCH(int, forward);
        QFETCH(QVector3D, move);
        Camera c = fittedCamera(mode, 400.0f);
        const bool free = mode == Camera::FREELOOK;
        const auto position = [&c, free] {
            return free ? c.getEye() : QVector3D(c.getPanX(), c.getPanY(), c.getDistance());
        };
        const QVector3D before = position(), targetBefore = c.getTarget();
        QVERIFY(!c.isMoving());
        c.setStrafe(strafe);
        c.setForward(forward);
        QVERIFY(c.isMoving());
        c.moveStep();
        c.moveStep();
        QVERIFY(near(position() - before, 2 * move, 1e-4f));
        if (free)
            QVERIFY(near(c.getTarget() - targetBefore, 2 * move, 1e-4f));
        c.setStrafe(0);
        QCOMPARE(c.isMoving(), forward != 0);
        c.setForward(0);
        QVERIFY(!c.isMoving());
        // Towards the scene, the key motion obeys the zoom limit too.
        c.zoom(100.0f);
        c.setForward(-1);
        c.moveStep();
        QVERIFY(free || c.getDistance() == Camera::minDistance);
    }

    void projection_data()
    {
        QTest::addColumn<double>("w");
        QTest::addColumn<double>("h");
        QTest::addColumn<double>("pixelRatio");
        QTest::addColumn<QRect>("rect");
        QTest::newRow("portrait") << 300.0 << 900.0 << 1.0 << QRect(0, 0, 300, 900);
        QTest::newRow("fractional size truncates")
            << 800.7 << 600.9 << 1.0 << QRect(0, 0, 800, 600);
        QTest::newRow("device pixel ratio 2") << 800.0 << 600.0 << 2.0 << QRect(0, 0, 1600, 1200);
        QTest::newRow("not yet sized") << -1.0 << -1.0 << 1.0 << QRect(0, 0, 0, 0);
        QTest::newRow("collapsed to no height") << 800.0 << 0.0 << 1.0 << QRect(0, 0, 800, 0);
    }
    void projection()
    {
        QFETCH(double, w);
        QFETCH(double, h);
        QFETCH(double, pixelRatio);
        QFETCH(QRect, rect);
        const Camera c = fittedCamera(0, 1.0f, w, h);
        const QMatrix4x4 &p = c.getProjection();
        const double aspect = w > 0 && h > 0 ? w / h : 1.0;
        QVERIFY(std::all_of(
            p.constData(), p.constData() + 16, [](float x) { return std::isfinite(x); }));
        QVERIFY(std::abs(p(1, 1) / p(0, 0) - aspect) < 1e-6 * aspect);
        const std::array<int, 4> r = c.viewportRect(pixelRatio);
        QCOMPARE(QRect(r[0], r[1], r[2], r[3]), rect);
        // The double-precision projection is the same matrix, and its viewport at least a pixel.
        const Geometry::ScreenTransform t = c.screenTransform();
        for (int i = 0; i < 16; ++i)
            QVERIFY(std::abs(t.projection[i] - p.constData()[i])
                <= 1e-6 * std::max(1.0, std::abs(t.projection[i])));
        QCOMPARE(t.viewport[2], std::max(1, int(std::max(w, 0.0))));
        QCOMPARE(Geometry::normalizedMouse(QPointF(10, 10), w, h),
            w > 0 && h > 0 ? QPointF(20 / w - 1, 1 - 20 / h) : QPointF());
    }

    void screenTransform_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QPointF>("dragTo");
        QTest::addColumn<QVector3D>("point");
        QTest::newRow("sphere, turned, near the mesh")
            << 0 << QPointF(650, 120) << QVector3D(50, -80, 120);
        QTest::newRow("plane, turned, far away")
            << 1 << QPointF(100, 480) << QVector3D(-3000, 2000, -40000);
        QTest::newRow("freelook, turned") << 2 << QPointF(450, 270) << QVector3D(30, 40, -500);
    }
    // A point projected and brought back is where it was; its pixel is where OpenGL draws it with
    // the float matrices; the mouse ray runs from the near plane to the far plane through it.
    void screenTransform()
    {
        QFETCH(int, mode);
        QFETCH(QPointF, dragTo);
        QFETCH(QVector3D, point);
        Camera c = fittedCamera(mode, 500.0f);
        drag(c, centre, dragTo);
        c.pan(0.02, -0.01);
        c.computeProjection();
        c.computeView();
        const Geometry::ScreenTransform t = c.screenTransform();
        double window[3], back[3];
        QVERIFY(Geometry::project(point, t, window));
        QVERIFY(window[2] > 0.0 && window[2] < 1.0);
        QVERIFY(Geometry::unProject(window[0], window[1], window[2], t, back));
        QVERIFY(near(
            QVector3D(back[0], back[1], back[2]), point, 1e-6f * std::max(1.0f, point.length())));
        const QVector3D clip = (c.getProjection() * c.getView()).map(point);
        QVERIFY(std::abs((clip.x() * 0.5 + 0.5) * 800.0 - window[0]) < 0.01);
        QVERIFY(std::abs((clip.y() * 0.5 + 0.5) * 600.0 - window[1]) < 0.01);
        QVector3D nearPoint, farPoint;
        Geometry::mouseRay(QPointF(window[0], 600 - window[1]), t, 800, 600, nearPoint, farPoint);
        auto depth = [&](const QVector3D &p) { return -c.getView().map(p).z(); };
        QVERIFY2(std::abs(depth(nearPoint) - Camera::nearPlane) < 1e-4f,
            QByteArray::number(depth(nearPoint)));
        QVERIFY2(std::abs(depth(farPoint) / Camera::farPlane - 1.0f) < 1e-5f,
            QByteArray::number(depth(farPoint)));
        const QVector3D along = (farPoint - nearPoint).normalized();
        QVERIFY(QVector3D::crossProduct(point - nearPoint, along).length()
            < 1e-4f * (point - nearPoint).length());
    }
};

QTEST_APPLESS_MAIN(TestCamera)
#include "tst_camera.moc"
