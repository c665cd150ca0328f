#pragma once

// Main window set-up shared by the application tests. Header only, so that the test support
// library does not need the application.

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
