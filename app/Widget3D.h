#pragma once

#include <QOpenGLWidget>
#include <QPointF>

class QKeyEvent;
class Window;

// The OpenGL view at the centre of the main window.
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

    int motionTimer() const { return motionTimerId; }

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
    void initializeGL() override;
    void resizeGL(int width, int height) override;
    void paintGL() override;

private:
    Window *window = nullptr;
    int motionTimerId = 0;
};
