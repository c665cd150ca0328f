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
class Window;

// The OpenGL view at the centre of the main window. It owns the current mesh and the camera,
// picking state and sculptor that act on it, repaints every 16 ms, reports the mesh size and the
// frame rate in the status bar, and turns mouse and keys into camera motion and brush strokes.
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
    void updateFpsStatus();

    // Read access for tests and the main window.
    Mesh *getMesh() const { return mesh.get(); }
    Camera &getCamera() { return camera; }
    Picking &getPicking() { return picking; }
    Sculptor &getSculptor() { return sculptor; }
    bool getSymmetry() const { return symmetry; }
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

protected:
    void timerEvent(QTimerEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void initializeGL() override;
    void resizeGL(int width, int height) override;
    void paintGL() override;

private:
    void showMessage(const QString &text);
    void showError(const QString &title, const QString &text);
    void brushStep(const QPointF &position, const QVector3D &nearPoint, const QVector3D &farPoint);
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
    QElapsedTimer fpsTime;
    int frameCount = 0;
    bool symmetry = false;
    bool glReady = false;
    QString lastErrorText;
};
