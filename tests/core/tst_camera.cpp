// The camera as the user moves it: zoom to its limit, pan and keys; the two trackballs and the
// free look; refused input; and the screen transform against what OpenGL draws.

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
    // Where the scene's origin ends in eye space after a zoom, a pan (0.01 moves the scene 4
    // units) and two steps of the keys (strafe and forward, a unit each) at scale 400.
    void motion()
    {
        const float limit = Camera::minDistance;
        // Name, mode, zoom, pan, keys, where the origin is seen.
        const std::tuple<const char *, int, float, QPointF, QPoint, QVector3D> rows[] = {
            {"one notch in", 0, 0.012f, {}, {}, {0, 0, -155.2f}},
            {"a huge step stops at the limit, pan kept", 1, 5.0f, {0.01, 0.02}, {},
                {4, -8, -limit}},
            {"keys left and away", 1, 0.0f, {}, {-1, 1}, {2, 0, -162}},
            {"keys clamped, stopping at the limit", 0, 5.0f, {}, {7, -3}, {-2, 0, -limit}},
            {"freelook: no pan, keys walk", 2, 0.0f, {0.01, 0.02}, {-1, 1}, {2, 0, -163}},
        };
        for (const auto &[name, mode, zoom, pan, keys, origin] : rows) {
            Camera c = fittedCamera(mode, 400.0f);
            c.pan(pan.x(), pan.y());
            c.zoom(zoom);
            c.setStrafe(keys.x());
            c.setForward(keys.y());
            c.moveStep();
            c.moveStep();
            c.computeView();
            QVERIFY2(
                near(c.getView().map(QVector3D()), origin, 1e-4f * std::max(1.0f, origin.length())),
                name);
            // From the limit, zooming out moves away again by a notch.
            c.zoom(c.getDistance() == limit ? -0.012f : 0.0f);
            QVERIFY(origin.z() != -limit || qFuzzyCompare(c.getDistance(), 4.8f + limit));
        }
    }

    // Drags from the centre turn the scene a quarter (onto the ball's rim, or far beyond it);
    // none, or between opposite points of the rim, do not turn it. The plane turns by the drag's
    // length in radians: half the width is one radian. One-pixel moves to the right edge add up to
    // one quarter turn, and wiggling for long keeps the rotation a pure rotation.
    void trackballDrag()
    {
        const std::tuple<int, QPointF, QPointF, float, QVector3D> rows[] = {
            {0, centre, {800, 300}, 90.0f, {0, 1, 0}}, {0, centre, {400, -3000}, 90.0f, {-1, 0, 0}},
            {0, {523, 77}, {523, 77}, 0.0f, {}}, {0, {0, 300}, {800, 300}, 0.0f, {}},
            {1, {800, 300}, centre, float(180.0 / std::numbers::pi), {0, -1, 0}}};
        QVector3D axis;
        float got = 0;
        for (const auto &[mode, from, to, degrees, expected] : rows) {
            Camera c = fittedCamera(mode, 1.0f);
            drag(c, from, to);
            c.getRotation().getAxisAndAngle(&axis, &got);
            QVERIFY2(std::abs(got - degrees) < 1e-3f, QByteArray::number(got));
            QVERIFY(qFuzzyCompare(c.getRotation().length(), 1.0f)
                && (degrees == 0 || near(axis, expected, 1e-5f)));
        }
        Camera c = fittedCamera(Camera::TRACKBALL_SPHERE, 1.0f);
        c.startRotation(centre);
        for (int x = 401; x <= 800; ++x)
            c.rotate(QPointF(x, 300));
        c.getRotation().getAxisAndAngle(&axis, &got);
        QVERIFY2(std::abs(got - 90.0f) < 0.01f, QByteArray::number(got));
        for (int i = 0; i < 20000; ++i)
            c.rotate(QPointF(300 + (i % 97) * 3, 100 + (i % 89) * 4));
        QVERIFY(std::abs(c.getRotation().length() - 1.0f) < 1e-6f);
    }

    // Up and down drags stop at the pitch limit, sideways ones turn without limit; the zoom walks
    // along the look. Refused input (an unknown mode, a motion scale that is not a number) leaves
    // the camera as it was.
    void freelook()
    {
        Camera c = fittedCamera(Camera::FREELOOK, 400.0f);
        QTest::ignoreMessage(QtWarningMsg, "Camera: unknown camera mode 3 ignored");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("motion scale nan refused"));
        c.setMode(3);
        c.setMotionScale(std::nanf(""));
        QVERIFY(c.getMode() == Camera::FREELOOK && c.getMotionScale() == 400.0f);
        drag(c, centre, QPointF(400, 200)); // a third of the height: 50/3 degrees
        QVERIFY(qFuzzyCompare(c.getPitch(), 50.0f / 3.0f) && c.getTarget().y() > c.getEye().y());
        for (const auto &[from, to, pitch] : {std::tuple {500, 100, 89.0f}, {0, 600, -89.0f}}) {
            for (int i = 0; i < 10; ++i)
                drag(c, QPointF(400, from), QPointF(400, to));
            QCOMPARE(c.getPitch(), pitch);
        }
        for (int i = 0; i < 10; ++i)
            drag(c, QPointF(0, 300), QPointF(800, 300));
        QCOMPARE(c.getYaw(), -90.0f + 10 * 100.0f);
        const QVector3D eye = c.getEye(), look = (c.getTarget() - eye).normalized();
        c.zoom(0.012f);
        QVERIFY(near(c.getEye() - eye, 4.8f * look, 1e-3f)
            && near(c.getTarget() - c.getEye(), look, 1e-5f));
    }

    // A point's pixel is where OpenGL draws it with the float matrices, and the mouse ray there
    // runs from the near plane to the far plane through the point; the GL viewport (at device
    // pixel ratio 2) is truncated and never negative, the transform's at least a pixel.
    void screenTransform()
    {
        // Mode, where a drag from the centre ends, the point, the view's size and its GL viewport.
        const std::tuple<int, QPointF, QVector3D, QSizeF, QRect> rows[] = {
            {0, {650, 120}, {50, -80, 120}, {300, 900}, {0, 0, 600, 1800}},
            {1, {100, 480}, {-3000, 2000, -40000}, {800.7, 600.4}, {0, 0, 1601, 1200}},
            {2, {450, 270}, {30, 40, -500}, {800, 600}, {0, 0, 1600, 1200}},
            {0, {450, 270}, {30, 40, -500}, {-1, -1}, {}}};
        for (const auto &[mode, dragTo, point, size, rect] : rows) {
            Camera c = fittedCamera(mode, 500.0f, size.width(), size.height());
            drag(c, centre, dragTo);
            c.pan(0.02, -0.01);
            c.computeView();
            const std::array<int, 4> r = c.viewportRect(2.0);
            QCOMPARE(QRect(r[0], r[1], r[2], r[3]), rect);
            const Geometry::ScreenTransform t = c.screenTransform();
            const double w = t.viewport[2], h = t.viewport[3];
            const float aspect = size.width() > 0 ? size.width() / size.height() : 1.0;
            QVERIFY(w == std::max(1.0, std::floor(size.width()))
                && std::abs(c.getProjection()(1, 1) / c.getProjection()(0, 0) - aspect) < 1e-6f);
            double window[3];
            QVERIFY(Geometry::project(point, t, window) && window[2] > 0.0 && window[2] < 1.0);
            const QVector3D clip = (c.getProjection() * c.getView()).map(point);
            QVERIFY(std::abs((clip.x() * 0.5 + 0.5) * w - window[0]) < 0.01
                && std::abs((clip.y() * 0.5 + 0.5) * h - window[1]) < 0.01);
            QVector3D nearPoint, farPoint;
            Geometry::mouseRay(QPointF(window[0], h - window[1]), t, w, h, nearPoint, farPoint);
            const auto depth = [&](const QVector3D &p) { return -c.getView().map(p).z(); };
            QVERIFY(std::abs(depth(nearPoint) - Camera::nearPlane) < 1e-4f
                && std::abs(depth(farPoint) / Camera::farPlane - 1.0f) < 1e-5f);
            QVERIFY(QVector3D::crossProduct(point - nearPoint, (farPoint - nearPoint).normalized())
                        .length()
                < 1e-4f * (point - nearPoint).length());
        }
    }
};

QTEST_APPLESS_MAIN(TestCamera)
#include "tst_camera.moc"
