#pragma once

#include "geometry/Geometry.h"

#include <QMatrix4x4>
#include <QPointF>
#include <QQuaternion>
#include <QSizeF>
#include <QVector3D>

#include <array>

// The view camera: turns mouse, wheel and key input into a view and a projection matrix.
//
// In the two trackball modes the camera looks along -z at the plane z = 0 from `distance`, shifted
// sideways by the pan offset, and the scene turns about the origin by `rotation`. In freelook the
// camera is an eye that turns its head (yaw, pitch) and walks.
//
// This class holds no OpenGL: the calls that set the GL viewport and load the matrices into the
// fixed-function stacks live in render/CameraGL.h.
class Camera
{
public:
    enum Mode { TRACKBALL_SPHERE = 0, TRACKBALL_PLANE = 1, FREELOOK = 2 };

    // The trackball distance never drops below this, whatever zoom or key motion asks.
    static constexpr float minDistance = 0.00001f;
    // Freelook pitch stays within [-maxPitch, maxPitch] degrees.
    static constexpr float maxPitch = 89.0f;
    static constexpr double fieldOfView = 70.0; // vertical, degrees
    static constexpr double nearPlane = 0.01;
    static constexpr double farPlane = 100000.0;

    Camera();

    // Back to the start pose: no rotation, no pan, distance 0, motion scale 1, freelook eye at
    // (0, 0, 1) looking at the origin. Mode, viewport, matrices and key directions are kept.
    void reset();
    // Factor applied to pan, zoom and key motion; the caller passes the size of the mesh.
    // A scale that is not a positive finite number is refused and the old one kept.
    void setMotionScale(float scale);
    // Switches mode and puts the camera at its start pose for it, at 0.4 x motion scale from the
    // scene. Modes other than the three known ones are refused and leave the camera unchanged.
    void setMode(int mode);
    void setViewport(double width, double height);

    // Rotation drag, positions in widget pixels.
    void startRotation(const QPointF &pixel);
    void rotate(const QPointF &pixel);
    // Sideways move by (dx, dy) x motion scale; dx, dy are pixel displacements / 3000.
    void pan(double dx, double dy);
    // Positive delta moves towards the scene by delta x motion scale.
    void zoom(float delta);

    // Key motion directions, each -1, 0 or +1 (other values are clamped).
    void setStrafe(int direction);
    void setForward(int direction);
    bool isMoving() const { return strafe != 0 || forward != 0; }
    // One tick of key motion, motion scale / 400 per tick.
    void moveStep();

    // Rebuild the matrices from the state; called at the start of every frame.
    void computeProjection();
    void computeView();

    const QMatrix4x4 &getView() const { return view; }
    const QMatrix4x4 &getProjection() const { return projection; }
    QSizeF getViewport() const { return QSizeF(viewportWidth, viewportHeight); }
    // The rectangle handed to glViewport: (0, 0, width, height) scaled by the device pixel ratio,
    // truncated to integers and never negative.
    std::array<int, 4> viewportRect(double devicePixelRatio = 1.0) const;

    // The view and projection of the last computeView/computeProjection, in double precision
    // (the projection is built in double from the same formula, not widened from float, so that
    // un-projecting at window depth 1 lands on the far plane), with the viewport in widget pixels
    // as of the last computeProjection. This is what picking and screen conversions use.
    Geometry::ScreenTransform screenTransform() const { return transform; }

    int getMode() const { return mode; }
    QQuaternion getRotation() const { return rotation; }
    QPointF getLastPosition() const { return lastPosition; }
    float getPanX() const { return panX; }
    float getPanY() const { return panY; }
    float getDistance() const { return distance; }
    int getStrafe() const { return strafe; }
    int getForward() const { return forward; }
    QVector3D getEye() const { return eye; }
    QVector3D getTarget() const { return target; }
    QVector3D getUp() const { return up; }
    float getYaw() const { return yaw; }
    float getPitch() const { return pitch; }
    float getMotionScale() const { return motionScale; }

private:
    void rotateSphere(const QPointF &a, const QPointF &b);
    void rotatePlane(const QPointF &a, const QPointF &b);
    void rotateFreelook(const QPointF &a, const QPointF &b);
    void setDistance(float value);

    int mode = TRACKBALL_SPHERE;
    QQuaternion rotation;
    QMatrix4x4 view;
    QMatrix4x4 projection;
    QPointF lastPosition {0.0, 0.0};
    double viewportWidth = -1.0;
    double viewportHeight = -1.0;
    float panX = 0.0f;
    float panY = 0.0f;
    float distance = 20.0f;
    int strafe = 0;
    int forward = 0;
    QVector3D eye {0.0f, 0.0f, 20.0f};
    QVector3D target {0.0f, 0.0f, 0.0f};
    QVector3D up {0.0f, 1.0f, 0.0f};
    float yaw = -90.0f;
    float pitch = 0.0f;
    float motionScale = 1.0f;

    Geometry::ScreenTransform transform;
};
