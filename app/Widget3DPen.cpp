// Widget3D: strokes from a graphics tablet's pen, with the pen's pressure.
//
// A pen stroke has the right button's meaning: it starts with the tip and the barrel button
// (or the barrel button that a driver reports as the right button), or with the tip alone while
// "pen sculpts" is on; each brush step's intensity is scaled by the pressure. Tablet events of
// other pen gestures are ignored, so that Qt turns them into mouse events (the tip alone then
// turns the camera like the left button).
//
// Systems also make mouse events from the pen, before or after the tablet events. The stroke
// belongs to one owner: a mouse stroke opened by such an early press is taken over by the pen
// (no second history state), mouse events during a pen stroke are dropped, and so are the late
// ones with a button still down after it (Widget3D::penTail), so that every step is applied
// once and with its pressure.

#include "Widget3D.h"

#include "sculpt/Stroke.h"

#include <QTabletEvent>

#include <algorithm>

namespace {

bool penSculptGesture(Qt::MouseButtons buttons, bool tipSculpts)
{
    if (buttons & Qt::RightButton)
        return true;
    if (!(buttons & Qt::LeftButton))
        return false;
    return tipSculpts || (buttons & Qt::MiddleButton);
}

// Pressure from 0 to 1; a device that senses none presses fully.
float pressureOf(const QTabletEvent *event)
{
    const QPointingDevice *device = event->pointingDevice();
    if (device && !device->capabilities().testFlag(QInputDevice::Capability::Pressure))
        return 1.0f;
    return float(std::clamp(event->pressure(), 0.0, 1.0));
}

} // namespace

void Widget3D::tabletEvent(QTabletEvent *event)
{
    const QPointF position = event->position();
    switch (event->type()) {
    case QEvent::TabletPress:
        if (strokeOwner != StrokeOwner::Pen) {
            if (!penSculptGesture(event->buttons(), penSculpts)) {
                event->ignore();
                return;
            }
            penPress(position);
        }
        event->accept(); // a second button during the stroke changes nothing
        return;
    case QEvent::TabletMove:
        if (strokeOwner != StrokeOwner::Pen) {
            event->ignore();
            return;
        }
        sculptor.setInvert(event->modifiers().testFlag(Qt::ControlModifier));
        penMove(position, pressureOf(event));
        event->accept();
        return;
    case QEvent::TabletRelease:
        if (strokeOwner != StrokeOwner::Pen) {
            event->ignore();
            return;
        }
        // The stroke lasts while the pen touches (or holds the right button).
        if (!(event->buttons() & (Qt::LeftButton | Qt::RightButton)))
            penRelease();
        event->accept();
        return;
    default:
        QOpenGLWidget::tabletEvent(event);
        return;
    }
}

void Widget3D::penPress(const QPointF &position)
{
    QVector3D nearPoint;
    QVector3D farPoint;
    pickAt(position, nearPoint, farPoint);
    // A stroke that a mouse press made from this pen already opened is the pen's now.
    if (strokeOwner == StrokeOwner::None && mesh)
        Stroke::press(*mesh, picking, sculptor);
    strokeOwner = StrokeOwner::Pen;
    penTail = false;
    lastSculptPos = position;
    lastMousePos = position;
    update();
}

void Widget3D::penMove(const QPointF &position, float pressure)
{
    QVector3D nearPoint;
    QVector3D farPoint;
    pickAt(position, nearPoint, farPoint);
    brushStep(position, nearPoint, farPoint, pressure);
    lastMousePos = position;
    update();
}

void Widget3D::penRelease()
{
    strokeOwner = StrokeOwner::None;
    penTail = true;
    if (mesh)
        Stroke::release(*mesh);
}
