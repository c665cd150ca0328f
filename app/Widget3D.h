#pragma once

#include "geometry/Camera.h"
#include "geometry/Picking.h"
#include "mesh/Mesh.h"
#include "sculpt/Sculptor.h"

#include <QElapsedTimer>
#include <QOpenGLWidget>
#include <QPointF>
#include <QString>

#include <memory>

class QKeyEvent;
class QTabletEvent;
class Window;

// The OpenGL view at the centre of the main window. It owns the current mesh and the camera,
// picking state and sculptor that act on it, draws only when what it shows has changed (camera,
// mesh, brush outline, display settings, size), reports the mesh size and the rate of the frames
// drawn in the status bar, and turns mouse and keys into camera motion and brush strokes.
class Widget3D : public QOpenGLWidget
{
    Q_OBJECT

public:
    explicit Widget3D(Window *parent);
    ~Widget3D() override;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // Also called directly by the main window, which forwards the keys that reach it.
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;

    // Opens a mesh file as the "&Open" command does once a name is chosen. On failure the current
    // mesh, its history and the camera stay, and the reason is shown. Returns true on success.
    bool openFile(const QString &path);
    // Saves the current mesh as binary STL; false (with the reason shown) on failure.
    bool saveMesh(const QString &path);

    void updateMeshStatus();
    // Counts a frame drawn and shows the frame rate after the status message.
    void updateFpsStatus();
    // Frames drawn since the view was made.
    int framesDrawn() const { return framesDrawnCount; }

    // Read access for tests and the main window.
    Mesh *getMesh() const { return mesh.get(); }
    Camera &getCamera() { return camera; }
    Picking &getPicking() { return picking; }
    Sculptor &getSculptor() { return sculptor; }
    bool getSymmetry() const { return symmetry; }
    bool getPenSculpts() const { return penSculpts; }
    // True while openFile reads a file (the window repaints meanwhile).
    bool isLoading() const { return loading; }
    int motionTimer() const { return motionTimerId; }
    // Reason given by the last failed open or save (empty after a success).
    const QString &lastError() const { return lastErrorText; }

signals:
    // A file was opened or the mesh saved (with the file's name), or a stroke, an undo or a redo
    // changed the mesh.
    void meshOpened(const QString &path);
    void meshSaved(const QString &path);
    void meshEdited();

public slots:
    void setSculptRadius(int radius);
    void setSculptIntensity(int intensity);
    void setSculptMode(int mode);
    void setTopoMode(int mode);
    void setTopoDetail(int detail);
    void setSculptCulling();
    void setSymmetry();
    void setCamera(int mode);
    void setMeshColor();
    void setMeshShader(int mode);
    void loadFile();
    void saveFile();
    void undo();
    void redo();
    // "Invert mask" and "Clear mask" of the Edit menu, each one undo step.
    void invertMask();
    void clearMask();
    // The pen tip alone sculpts (otherwise it needs the barrel button).
    void setPenSculpts(bool on) { penSculpts = on; }

protected:
    bool event(QEvent *event) override;
    void timerEvent(QTimerEvent *event) override;
    // A held camera key stops moving the camera when the focus goes or the view is hidden.
    void focusOutEvent(QFocusEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    // A graphics tablet's pen: see Widget3DPen.cpp.
    void tabletEvent(QTabletEvent *event) override;
    void initializeGL() override;
    void resizeGL(int width, int height) override;
    void paintGL() override;

private:
    void showMessage(const QString &text);
    void showError(const QString &title, const QString &text);
    // The ray under a cursor position (mesh coordinates when a mesh is loaded), and the pick
    // along it.
    void pickAt(const QPointF &position, QVector3D &nearPoint, QVector3D &farPoint);
    // One brush application if the cursor moved far enough since the last one, with the
    // intensity scaled by `pressure` (0 to 1) and the tool changed by the modifier keys held
    // (Shift smooths, Ctrl inverts the tool).
    void brushStep(const QPointF &position, const QVector3D &nearPoint, const QVector3D &farPoint,
        Qt::KeyboardModifiers modifiers, float pressure = 1.0f);
    void penPress(const QPointF &position);
    void penMove(const QPointF &position, float pressure, Qt::KeyboardModifiers modifiers);
    void penRelease();
    // Ends the key-driven camera motion.
    void stopMotion();
    // A whole-mesh mask edit with the GL context current.
    void editMask(bool (*edit)(Mesh &));
    // Drops the mesh with the GL context current, so that its buffers are freed with it.
    void releaseMesh();

    std::unique_ptr<Mesh> mesh;
    Camera camera;
    Picking picking;
    Sculptor sculptor;
    QPointF lastMousePos;
    QPointF lastSculptPos;
    Window *window = nullptr;
    int motionTimerId = 0;
    QElapsedTimer fpsTime; // start of the current count of frames
    QElapsedTimer sinceFrame; // since the last frame drawn
    int frameCount = 0;
    int shownFps = 0;
    int framesDrawnCount = 0;
    bool symmetry = false;
    bool glReady = false;
    // Who drives the open stroke. A pen stroke owns the mouse events the system makes from the
    // pen, before and after its own events; penTail drops the late ones after it ended.
    enum class StrokeOwner { None, Mouse, Pen };
    StrokeOwner strokeOwner = StrokeOwner::None;
    bool penTail = false;
    bool penSculpts = false;
    bool loading = false;
    QString lastErrorText;
};
