#include "Widget3D.h"

#include "StartHint.h"
#include "Window.h"
#include "geometry/Geometry.h"
#include "render/CameraGL.h"
#include "render/MeshRenderer.h"
#include "sculpt/Stroke.h"

#include <QButtonGroup>
#include <QColorDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineF>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QWheelEvent>
#include <qopengl.h>

#include <QScopeGuard>

#include <algorithm>

namespace {

// The tool of one brush step: Shift held smooths whatever the chosen tool; released, the chosen
// tool comes back at the next step. (Ctrl is the sculptor's invert key, set per step.)
int strokeTool(int chosen, Qt::KeyboardModifiers modifiers)
{
    return modifiers & Qt::ShiftModifier ? int(SculptTool::SMOOTH) : chosen;
}

} // namespace

Widget3D::Widget3D(Window *parent)
    : QOpenGLWidget(parent)
    , window(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    new StartHint(this);
    // The view draws on demand: a new mesh or a changed one is drawn at the next paint.
    connect(this, &Widget3D::meshOpened, this, qOverload<>(&QWidget::update));
    connect(this, &Widget3D::meshEdited, this, qOverload<>(&QWidget::update));
}

Widget3D::~Widget3D()
{
    releaseMesh();
}

void Widget3D::releaseMesh()
{
    if (!mesh)
        return;
    if (glReady)
        makeCurrent();
    mesh.reset();
    if (glReady)
        doneCurrent();
}

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

// ---------------------------------------------------------------------------------------------
// Status bar

void Widget3D::showMessage(const QString &text)
{
    if (window)
        window->statusBar()->showMessage(text, 0);
}

void Widget3D::showError(const QString &title, const QString &text)
{
    lastErrorText = text;
    showMessage(text);
    // Window-modal and non-blocking: the event loop goes on while the box is open.
    auto *box = new QMessageBox(QMessageBox::Warning, title, text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void Widget3D::updateMeshStatus()
{
    if (!mesh)
        return;
    showMessage(QStringLiteral(" Triangles : ") + QString::number(mesh->getNbTriangles())
        + QStringLiteral("     Vertices : ") + QString::number(mesh->getNbVertices()));
}

void Widget3D::updateFpsStatus()
{
    // The rate counts the frames drawn over at least a second of continuous drawing. A pause
    // longer than that starts a new count and keeps the last figure: an idle view draws nothing,
    // and one frame after a pause says nothing about the rate.
    constexpr qint64 pauseMs = 1000;
    const bool paused = !sinceFrame.isValid() || sinceFrame.restart() > pauseMs;
    if (paused) {
        fpsTime.restart();
        frameCount = 0;
    } else {
        ++frameCount;
        const qint64 elapsed = fpsTime.elapsed();
        if (elapsed >= 1000) {
            shownFps = int(1000.0 * frameCount / double(elapsed));
            fpsTime.restart();
            frameCount = 0;
        }
    }
    const QString rate = QStringLiteral("FPS : ") + QString::number(shownFps);
    if (window) {
        QStatusBar *bar = window->statusBar();
        bar->showMessage(bar->currentMessage().leftJustified(60, QLatin1Char(' '), true) + rate, 0);
    }
}

// ---------------------------------------------------------------------------------------------
// OpenGL

void Widget3D::initializeGL()
{
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_LIGHTING);
    glClearColor(0.2f, 0.2f, 0.2f, 0.0f);
    glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
    glEnable(GL_COLOR_MATERIAL);
    glEnable(GL_LIGHT0);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glReady = true;
}

void Widget3D::resizeGL(int width, int height)
{
    camera.setViewport(double(width), double(height));
}

void Widget3D::paintGL()
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    const qreal ratio = devicePixelRatioF();
    prepareCameraFrame(camera, ratio);
    if (mesh) {
        // A mesh loaded before the context existed gets its buffers at its first paint.
        MeshRenderer *renderer = rendererOf(*mesh);
        if (!renderer)
            renderer = attachRenderer(*mesh);
        const QSize viewport(
            int(camera.getViewport().width() * ratio), int(camera.getViewport().height() * ratio));
        renderer->draw(*mesh, camera.getView(), camera.getProjection(), viewport,
            picking.getIntersectionPoint(), picking.getRadiusWorldSquared());
    }
    ++framesDrawnCount;
    updateFpsStatus();
}

void Widget3D::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != motionTimerId) {
        QOpenGLWidget::timerEvent(event);
        return;
    }
    camera.moveStep();
    // While a file loads, the status bar repaints but the mesh has not changed: no redraw.
    if (!loading)
        update();
}

void Widget3D::stopMotion()
{
    camera.setStrafe(0);
    camera.setForward(0);
    if (motionTimerId != 0) {
        killTimer(motionTimerId);
        motionTimerId = 0;
    }
}

bool Widget3D::event(QEvent *event)
{
    // A key released in another window never reaches this one: a held camera key stops when
    // the window loses the focus (the view may not hold it itself: keys reach it from the docks).
    if (event->type() == QEvent::WindowDeactivate)
        stopMotion();
    return QOpenGLWidget::event(event);
}

void Widget3D::focusOutEvent(QFocusEvent *event)
{
    stopMotion();
    QOpenGLWidget::focusOutEvent(event);
}

void Widget3D::hideEvent(QHideEvent *event)
{
    stopMotion();
    QOpenGLWidget::hideEvent(event);
}

// ---------------------------------------------------------------------------------------------
// Mouse and keys

void Widget3D::mousePressEvent(QMouseEvent *event)
{
    // During a pen stroke, mouse events are those the system makes from the pen: dropped.
    if (strokeOwner == StrokeOwner::Pen)
        return;
    penTail = false;
    const QPointF position = event->position();
    lastSculptPos = position;
    if (event->buttons() == Qt::LeftButton) {
        camera.startRotation(position);
    } else if (event->buttons() == Qt::RightButton && mesh) {
        Stroke::press(*mesh, picking, sculptor);
        strokeOwner = StrokeOwner::Mouse;
    }
    update();
}

void Widget3D::mouseReleaseEvent(QMouseEvent *event)
{
    // The pen's stroke ends with the pen; a mouse release made from the pen, before or after
    // the pen's own, changes nothing.
    if (strokeOwner == StrokeOwner::Pen)
        return;
    if (penTail) {
        penTail = false;
        return;
    }
    if (strokeOwner == StrokeOwner::Mouse && !(event->buttons() & Qt::RightButton))
        strokeOwner = StrokeOwner::None;
    if (mesh) {
        Stroke::release(*mesh);
        emit meshEdited();
    }
}

void Widget3D::wheelEvent(QWheelEvent *event)
{
    // Only a vertical wheel zooms; one notch of 120 gives 0.012.
    const QPoint delta = event->angleDelta();
    if (delta.y() != 0 && std::abs(delta.y()) >= std::abs(delta.x()))
        camera.zoom(float(delta.y() / 10000.0));
    update();
}

void Widget3D::pickAt(const QPointF &position, QVector3D &nearPoint, QVector3D &farPoint)
{
    const double w = width();
    const double h = height();
    Geometry::mouseRay(position, camera.screenTransform(), w, h, nearPoint, farPoint);
    if (mesh) {
        const QMatrix4x4 inverse = mesh->getInverseTransformation();
        nearPoint = inverse.map(nearPoint);
        farPoint = inverse.map(farPoint);
        picking.intersectionRayMesh(
            mesh.get(), nearPoint, farPoint, position, camera.screenTransform(), w, h);
    }
}

void Widget3D::mouseMoveEvent(QMouseEvent *event)
{
    // Moves made from the pen while it sculpts, or after it lifted with a button still down,
    // belong to the pen's stroke.
    if (strokeOwner == StrokeOwner::Pen || (penTail && event->buttons() != Qt::NoButton))
        return;
    const QPointF position = event->position();
    QVector3D nearPoint;
    QVector3D farPoint;
    pickAt(position, nearPoint, farPoint);

    const Qt::MouseButtons buttons = event->buttons();
    if (buttons == Qt::LeftButton) {
        camera.rotate(position);
    } else if (buttons == Qt::MiddleButton) {
        camera.pan(
            (position.x() - lastMousePos.x()) / 3000.0, (position.y() - lastMousePos.y()) / 3000.0);
    } else if (buttons == Qt::RightButton && strokeOwner == StrokeOwner::Mouse) {
        // Only a stroke that a press opened sculpts: its changes go into its own history state.
        brushStep(position, nearPoint, farPoint, event->modifiers());
    }
    lastMousePos = position;
    update();
}

void Widget3D::brushStep(const QPointF &position, const QVector3D &nearPoint,
    const QVector3D &farPoint, Qt::KeyboardModifiers modifiers, float pressure)
{
    const int chosenTool = sculptor.getTool();
    sculptor.setTool(strokeTool(chosenTool, modifiers));
    // Ctrl inverts: inflate and deflate swap, the mask is lowered, the crease raises a ridge.
    sculptor.setInvert(modifiers.testFlag(Qt::ControlModifier));
    const auto restoreTool = qScopeGuard([&] { sculptor.setTool(chosenTool); });
    if (!mesh || (!picking.getMesh() && !sculptor.isSweep()))
        return;
    // Applications are spaced by a tenth of the brush radius along the drag.
    if (!(QLineF(position, lastSculptPos).length() > 0.1 * picking.getRadiusScreen()))
        return;

    const double w = width();
    const double h = height();
    if (sculptor.isSweep()) {
        sculptor.setSweepCenter(
            Geometry::projectOnLine(sculptor.getSweepCenter(), nearPoint, farPoint));
        sculptor.setSweepDir(
            Geometry::screenDirection(lastSculptPos, position, camera.screenTransform(), w, h));
        picking.pickAtPoint(
            mesh.get(), sculptor.getSweepCenter(), position, camera.screenTransform(), w, h);
    }

    // The pen's pressure scales this step's intensity; the mouse counts as full pressure.
    const float intensity = sculptor.getIntensity();
    sculptor.setIntensity(intensity * pressure);
    if (glReady)
        makeCurrent();
    Stroke::sculptDab(*mesh, picking, sculptor, nearPoint, farPoint, symmetry);
    if (glReady)
        doneCurrent();
    sculptor.setIntensity(intensity);

    updateMeshStatus();
    lastSculptPos = position;
    emit meshEdited();
}

void Widget3D::keyPressEvent(QKeyEvent *event)
{
    if (event->isAutoRepeat())
        return;
    switch (event->key()) {
    case Qt::Key_O:
        if (mesh)
            mesh->toggleDrawOctree();
        update();
        break;
    case Qt::Key_Q:
    case Qt::Key_Left:
        camera.setStrafe(-1);
        break;
    case Qt::Key_D:
    case Qt::Key_Right:
        camera.setStrafe(1);
        break;
    case Qt::Key_Z:
    case Qt::Key_Up:
        camera.setForward(-1);
        break;
    case Qt::Key_S:
    case Qt::Key_Down:
        camera.setForward(1);
        break;
    default:
        break;
    }
    // Only a camera key starts the clock: a modifier held for a stroke or a shortcut does not.
    if (motionTimerId == 0 && camera.isMoving())
        motionTimerId = startTimer(20);
}

void Widget3D::keyReleaseEvent(QKeyEvent *event)
{
    if (event->isAutoRepeat())
        return;
    switch (event->key()) {
    case Qt::Key_Q:
    case Qt::Key_D:
    case Qt::Key_Left:
    case Qt::Key_Right:
        camera.setStrafe(0);
        break;
    case Qt::Key_Z:
    case Qt::Key_S:
    case Qt::Key_Up:
    case Qt::Key_Down:
        camera.setForward(0);
        break;
    default:
        break;
    }
    if (motionTimerId != 0 && !camera.isMoving()) {
        killTimer(motionTimerId);
        motionTimerId = 0;
    }
}

// ---------------------------------------------------------------------------------------------
// Settings

void Widget3D::setSculptRadius(int radius)
{
    picking.setRadiusScreen(float(std::max(radius, 20)));
    update(); // the brush outline
}

void Widget3D::setSculptIntensity(int intensity)
{
    sculptor.setIntensity(float(intensity) / 200.0f);
}

void Widget3D::setSculptMode(int mode)
{
    sculptor.setTool(mode);
}

void Widget3D::setTopoMode(int mode)
{
    sculptor.setTopoMode(mode);
}

void Widget3D::setTopoDetail(int detail)
{
    sculptor.setDetail(float(detail) / 200.0f);
}

void Widget3D::setSculptCulling()
{
    sculptor.toggleCulling();
}

void Widget3D::setSymmetry()
{
    symmetry = !symmetry;
}

void Widget3D::setCamera(int mode)
{
    camera.setMode(mode);
    update();
}

void Widget3D::setMeshColor()
{
    if (!mesh)
        return;
    const QColor color =
        QColorDialog::getColor(mesh->getColor(), this, QStringLiteral("mesh color"));
    if (!color.isValid())
        return;
    mesh->setColor(color);
    update();
    if (QPushButton *button = window ? window->getColorButton() : nullptr)
        button->setPalette(QPalette(color));
}

void Widget3D::setMeshShader(int mode)
{
    if (!mesh)
        return;
    if (glReady)
        makeCurrent();
    mesh->initShaders(mode);
    if (glReady)
        doneCurrent();
    update();
}
