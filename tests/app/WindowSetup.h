#pragma once

// Main window set-up and mouse drags shared by the application tests. Header only, so that the test
// support library does not need the application.

#include "app/Widget3D.h"
#include "app/Window.h"

#include <QtTest>

#include <memory>

// Shows a new main window of 1200 x 800 and waits until it is exposed and its view has painted
// once, so that the camera has matrices for picking; `settle` then waits 50 ms more. A failed
// wait is a test failure: callers that go on afterwards check QTest::currentTestFailed().
inline void showTestWindow(std::unique_ptr<Window> &window, Widget3D *&view, bool settle = true)
{
    window = std::make_unique<Window>();
    window->resize(1200, 800);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    view = window->getView();
    QTRY_VERIFY(view->getCamera().getViewport().width() > 0);
    if (settle)
        QTest::qWait(50);
}

// A drag in the view as the mouse makes it: a hover move to `from`, a press of `button`, `steps`
// moves to `to` with `held` down (the button alone when empty), and the release at `to`.
inline void dragInView(QWidget *view, Qt::MouseButton button, QPoint from, QPoint to, int steps,
    Qt::MouseButtons held = {})
{
    QMouseEvent hover(QEvent::MouseMove, from, view->mapToGlobal(from), Qt::NoButton, {}, {});
    QCoreApplication::sendEvent(view, &hover);
    QTest::mousePress(view, button, {}, from);
    for (int i = 1; i <= steps; ++i) {
        const QPoint p = from + (to - from) * i / steps;
        QMouseEvent move(QEvent::MouseMove, p, view->mapToGlobal(p), Qt::NoButton,
            held ? held : Qt::MouseButtons(button), {});
        QCoreApplication::sendEvent(view, &move);
    }
    QTest::mouseRelease(view, button, {}, to);
}
