#include "Widget3D.h"

#include "Window.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QScreen>

Widget3D::Widget3D(Window *parent)
    : QOpenGLWidget(parent)
    , window(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    startTimer(16);
}

Widget3D::~Widget3D() = default;

QSize Widget3D::sizeHint() const
{
    if (QScreen *screen = QGuiApplication::primaryScreen())
        return screen->geometry().size();
    return QSize(1280, 800);
}

QSize Widget3D::minimumSizeHint() const
{
    return QSize(200, 200);
}

void Widget3D::keyPressEvent(QKeyEvent *event)
{
    if (event->isAutoRepeat())
        return;
    if (motionTimerId == 0)
        motionTimerId = startTimer(20);
}

void Widget3D::keyReleaseEvent(QKeyEvent *event)
{
    if (event->isAutoRepeat())
        return;
    if (motionTimerId != 0) {
        killTimer(motionTimerId);
        motionTimerId = 0;
    }
}

void Widget3D::setSculptRadius(int) { }
void Widget3D::setSculptIntensity(int) { }
void Widget3D::setSculptMode(int) { }
void Widget3D::setTopoMode(int) { }
void Widget3D::setTopoDetail(int) { }
void Widget3D::setSculptCulling() { }
void Widget3D::setSymmetry() { }
void Widget3D::setCamera(int) { }
void Widget3D::setMeshColor() { }
void Widget3D::setMeshShader(int) { }
void Widget3D::loadFile() { }
void Widget3D::saveFile() { }
void Widget3D::undo() { }
void Widget3D::redo() { }

void Widget3D::timerEvent(QTimerEvent *)
{
    update();
}

void Widget3D::initializeGL()
{
    QOpenGLFunctions *f = context()->functions();
    f->glEnable(GL_DEPTH_TEST);
    f->glClearColor(0.2f, 0.2f, 0.2f, 0.0f);
    f->glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}

void Widget3D::resizeGL(int, int) { }

void Widget3D::paintGL()
{
    context()->functions()->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}
