#include "Camera.h"

#include "CameraMath.h"

#include <QLineF>
#include <QtGlobal>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr double degreesPerRadian = 180.0 / std::numbers::pi;

// Start distance of the camera after a reset or a mode switch, in motion-scale units.
constexpr float startZoom = -0.4f;

double aspectRatio(double width, double height)
{
    // A view without area (not yet sized, or collapsed) still gets a usable projection.
    if (!(width > 0.0) || !(height > 0.0))
        return 1.0;
    return width / height;
}

// Same matrix as QMatrix4x4::perspective, in double precision, column-major.
std::array<double, 16> perspective(
    double verticalDegrees, double aspect, double nearPlane, double farPlane)
{
    const double radians = verticalDegrees / 2.0 / degreesPerRadian;
    const double cotan = std::cos(radians) / std::sin(radians);
    const double clip = farPlane - nearPlane;
    std::array<double, 16> m {};
    m[0] = cotan / aspect;
    m[5] = cotan;
    m[10] = -(nearPlane + farPlane) / clip;
    m[11] = -1.0;
    m[14] = -(2.0 * nearPlane * farPlane) / clip;
    return m;
}

// Translation by (tx, ty, tz) applied after the rotation by q, column-major, in double precision.
std::array<double, 16> translateRotate(double tx, double ty, double tz, const QQuaternion &q)
{
    double w = q.scalar(), x = q.x(), y = q.y(), z = q.z();
    const double length = std::sqrt(w * w + x * x + y * y + z * z);
    if (length > 0.0) {
        w /= length;
        x /= length;
        y /= length;
        z /= length;
    } else {
        w = 1.0;
    }
    std::array<double, 16> m {};
    m[0] = 1.0 - 2.0 * (y * y + z * z);
    m[1] = 2.0 * (x * y + z * w);
    m[2] = 2.0 * (x * z - y * w);
    m[4] = 2.0 * (x * y - z * w);
    m[5] = 1.0 - 2.0 * (x * x + z * z);
    m[6] = 2.0 * (y * z + x * w);
    m[8] = 2.0 * (x * z + y * w);
    m[9] = 2.0 * (y * z - x * w);
    m[10] = 1.0 - 2.0 * (x * x + y * y);
    m[12] = tx;
    m[13] = ty;
    m[14] = tz;
    m[15] = 1.0;
    return m;
}

// Same matrix as QMatrix4x4::lookAt with the up vector (0, 1, 0), in double precision.
std::array<double, 16> lookAt(const QVector3D &eyePoint, const QVector3D &center)
{
    std::array<double, 16> m {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    const double e[3] = {eyePoint.x(), eyePoint.y(), eyePoint.z()};
    double f[3] = {center.x() - e[0], center.y() - e[1], center.z() - e[2]};
    // QMatrix4x4::lookAt leaves the matrix alone for a (fuzzily) zero direction: do the same so
    // that both matrices describe one view.
    if (qFuzzyIsNull(float(f[0])) && qFuzzyIsNull(float(f[1])) && qFuzzyIsNull(float(f[2])))
        return m;
    const double fl = std::sqrt(f[0] * f[0] + f[1] * f[1] + f[2] * f[2]);
    for (double &v : f)
        v /= fl;
    // side = forward x (0, 1, 0)
    double s[3] = {-f[2], 0.0, f[0]};
    const double sl = std::sqrt(s[0] * s[0] + s[2] * s[2]);
    if (sl > 0.0) {
        s[0] /= sl;
        s[2] /= sl;
    }
    // upVector = side x forward
    const double u[3] = {
        s[1] * f[2] - s[2] * f[1], s[2] * f[0] - s[0] * f[2], s[0] * f[1] - s[1] * f[0]};
    m[0] = s[0];
    m[4] = s[1];
    m[8] = s[2];
    m[1] = u[0];
    m[5] = u[1];
    m[9] = u[2];
    m[2] = -f[0];
    m[6] = -f[1];
    m[10] = -f[2];
    m[12] = -(s[0] * e[0] + s[1] * e[1] + s[2] * e[2]);
    m[13] = -(u[0] * e[0] + u[1] * e[1] + u[2] * e[2]);
    m[14] = f[0] * e[0] + f[1] * e[1] + f[2] * e[2];
    return m;
}

// Exactly renormalised, unlike QQuaternion::normalized, which leaves lengths within 1e-5 of 1
// alone and so lets many small steps drift.
QQuaternion unitQuaternion(const QQuaternion &q)
{
    const double w = q.scalar(), x = q.x(), y = q.y(), z = q.z();
    const double length = std::sqrt(w * w + x * x + y * y + z * z);
    if (!(length > 0.0))
        return QQuaternion();
    return QQuaternion(float(w / length), float(x / length), float(y / length), float(z / length));
}

} // namespace

Camera::Camera() = default;

void Camera::reset()
{
    rotation = QQuaternion();
    panX = 0.0f;
    panY = 0.0f;
    distance = 0.0f;
    motionScale = 1.0f;
    eye = QVector3D(0.0f, 0.0f, 1.0f);
    target = QVector3D(0.0f, 0.0f, 0.0f);
    yaw = -90.0f;
    pitch = 0.0f;
}

void Camera::setMotionScale(float scale)
{
    if (!(scale > 0.0f) || !std::isfinite(scale)) {
        qWarning("Camera: motion scale %g refused (it must be a positive finite number); "
                 "keeping %g",
            double(scale), double(motionScale));
        return;
    }
    motionScale = scale;
}

void Camera::setMode(int newMode)
{
    if (newMode < TRACKBALL_SPHERE || newMode > FREELOOK) {
        qWarning("Camera: unknown camera mode %d ignored", newMode);
        return;
    }
    const float scale = motionScale;
    rotation = QQuaternion();
    mode = newMode;
    reset();
    motionScale = scale;
    zoom(startZoom);
}

void Camera::setViewport(double width, double height)
{
    viewportWidth = width;
    viewportHeight = height;
}

void Camera::startRotation(const QPointF &pixel)
{
    lastPosition = Geometry::normalizedMouse(pixel, viewportWidth, viewportHeight);
}

void Camera::rotate(const QPointF &pixel)
{
    const QPointF a = lastPosition;
    const QPointF b = Geometry::normalizedMouse(pixel, viewportWidth, viewportHeight);
    switch (mode) {
    case TRACKBALL_SPHERE:
        rotateSphere(a, b);
        break;
    case TRACKBALL_PLANE:
        rotatePlane(a, b);
        break;
    case FREELOOK:
        rotateFreelook(a, b);
        break;
    default:
        break;
    }
    lastPosition = b;
}

void Camera::rotateSphere(const QPointF &a, const QPointF &b)
{
    const QVector3D from = Geometry::mouseOnSphere(a);
    const QVector3D to = Geometry::mouseOnSphere(b);
    // In double, and the angle through atan2 rather than acos of the dot product, which loses
    // most of its digits for the small turns of one mouse move.
    const double af[3] = {from.x(), from.y(), from.z()};
    const double bf[3] = {to.x(), to.y(), to.z()};
    const double axis[3] = {af[1] * bf[2] - af[2] * bf[1], af[2] * bf[0] - af[0] * bf[2],
        af[0] * bf[1] - af[1] * bf[0]};
    const double sine = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
    const double cosine = af[0] * bf[0] + af[1] * bf[1] + af[2] * bf[2];
    // Equal points give no turn. Two opposite points on the equator give no defined axis, and a
    // half turn about a zero axis would be the zero quaternion, which wipes the scene out.
    if (!(sine > 1.0e-12))
        return;
    const double angle = std::atan2(sine, cosine);
    const QVector3D unitAxis(float(axis[0] / sine), float(axis[1] / sine), float(axis[2] / sine));
    const QQuaternion q = QQuaternion::fromAxisAndAngle(unitAxis, float(angle * degreesPerRadian));
    // Renormalising keeps many small float steps from drifting into a scaling rotation.
    rotation = unitQuaternion(q * rotation);
}

void Camera::rotatePlane(const QPointF &a, const QPointF &b)
{
    const QVector3D axis =
        QVector3D(float(-(b.y() - a.y())), float(b.x() - a.x()), 0.0f).normalized();
    if (axis.isNull())
        return;
    const double angle = QLineF(a, b).length() * degreesPerRadian;
    rotation = unitQuaternion(QQuaternion::fromAxisAndAngle(axis, float(angle)) * rotation);
}

void Camera::rotateFreelook(const QPointF &a, const QPointF &b)
{
    yaw += float(50.0 * (b.x() - a.x()));
    pitch += float(50.0 * (b.y() - a.y()));
    pitch = std::clamp(pitch, -maxPitch, maxPitch);
    const double yawRadians = double(yaw) / degreesPerRadian;
    const double pitchRadians = double(pitch) / degreesPerRadian;
    const QVector3D direction = QVector3D(float(std::cos(yawRadians) * std::cos(pitchRadians)),
        float(std::sin(pitchRadians)), float(std::sin(yawRadians) * std::cos(pitchRadians)))
                                    .normalized();
    target = eye + direction;
}

void Camera::pan(double dx, double dy)
{
    panX = float(panX - dx * motionScale);
    panY = float(panY + dy * motionScale);
}

void Camera::setDistance(float value)
{
    distance = value > minDistance ? value : minDistance;
}

void Camera::zoom(float delta)
{
    if (mode == FREELOOK) {
        const QVector3D offset = delta * motionScale * (target - eye).normalized();
        eye += offset;
        target += offset;
        return;
    }
    setDistance(distance - delta * motionScale);
}

void Camera::setStrafe(int direction)
{
    strafe = std::clamp(direction, -1, 1);
}

void Camera::setForward(int direction)
{
    forward = std::clamp(direction, -1, 1);
}

void Camera::moveStep()
{
    const float k = motionScale / 400.0f;
    if (mode == FREELOOK) {
        const QVector3D d = (target - eye).normalized();
        const QVector3D r = QVector3D::crossProduct(d, up).normalized();
        const QVector3D offset = (float(strafe) * r - float(forward) * d) * k;
        eye += offset;
        target += offset;
        return;
    }
    panX += float(strafe) * k;
    setDistance(distance + float(forward) * k);
}

void Camera::computeProjection()
{
    const double aspect = aspectRatio(viewportWidth, viewportHeight);
    projection.setToIdentity();
    projection.perspective(float(fieldOfView), float(aspect), float(nearPlane), float(farPlane));
    transform.projection = perspective(fieldOfView, aspect, nearPlane, farPlane);
    // Screen conversions divide by the viewport size: keep it at least one pixel.
    transform.viewport = {0, 0, std::max(1, viewportRect()[2]), std::max(1, viewportRect()[3])};
}

void Camera::computeView()
{
    view.setToIdentity();
    if (mode == FREELOOK) {
        view.lookAt(eye, target, QVector3D(0.0f, 1.0f, 0.0f));
        transform.modelView = lookAt(eye, target);
        return;
    }
    // Looking along -z from (panX, panY, distance) at (panX, panY, 0) with y up is exactly this
    // translation. Written out rather than through lookAt, which ignores eye-to-target distances
    // up to 1e-5 and would then drop the pan offset at the closest zoom.
    view.translate(-panX, -panY, -distance);
    view.rotate(rotation);
    transform.modelView =
        translateRotate(-double(panX), -double(panY), -double(distance), rotation);
}

std::array<int, 4> Camera::viewportRect(double devicePixelRatio) const
{
    const auto pixels = [devicePixelRatio](double size) {
        const double scaled = size * devicePixelRatio;
        // Truncation toward zero, never negative; a NaN size gives 0.
        return scaled >= 1.0 ? int(std::min(scaled, 1.0e9)) : 0;
    };
    return {0, 0, pixels(viewportWidth), pixels(viewportHeight)};
}
