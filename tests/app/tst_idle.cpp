#include "TestIo.h"
#include "WindowSetup.h"
#include "render/SurfaceFormat.h"

#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

// The view draws on demand: nothing while idle, a frame after every input that changes what it
// shows; a held camera key stops when the window loses the focus or is hidden.
class TestIdle : public QObject
{
    Q_OBJECT

public:
    static void initMain() { setDefaultSurfaceFormat(0); }

private slots:
    void init();
    void cleanup() { window.reset(); }
    void idleDrawsNothing();
    void inputRedraws_data();
    void inputRedraws();
    void heldKeyStops_data();
    void heldKeyStops();

private:
    // Lets the first frames and pending paints pass.
    void settle() { QTest::qWait(300); }
    void move(QPoint p, Qt::MouseButtons buttons = Qt::NoButton)
    {
        QMouseEvent event(QEvent::MouseMove, p, view->mapToGlobal(p), Qt::NoButton, buttons, {});
        QCoreApplication::sendEvent(view, &event);
    }
    void rightDrag(QPoint from, QPoint to)
    {
        QTest::mousePress(view, Qt::RightButton, {}, from);
        move(to, Qt::RightButton);
        QTest::mouseRelease(view, Qt::RightButton, {}, to);
    }

    QTemporaryDir dir;
    std::unique_ptr<Window> window;
    Widget3D *view = nullptr;
};

void TestIdle::init()
{
    showTestWindow(window, view);
    window->activateWindow(); // for the shortcuts
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    QVERIFY(view->openFile(TestIo::icosphereFile(dir.filePath(QStringLiteral("s.stl")), 3)));
}

void TestIdle::idleDrawsNothing()
{
    QTRY_VERIFY(view->framesDrawn() > 0);
    settle();
    const int frames = view->framesDrawn();
    QTest::qWait(1000);
    QCOMPARE(view->framesDrawn(), frames);
    QVERIFY(window->statusBar()->currentMessage().contains(QStringLiteral("FPS : ")));
}

enum class Input { Wheel, KeyZ, RightDrag, Undo, MouseMove, OctreeKey };

void TestIdle::inputRedraws_data()
{
    QTest::addColumn<Input>("input");
    QTest::newRow("wheel") << Input::Wheel;
    QTest::newRow("Z held") << Input::KeyZ;
    QTest::newRow("right drag") << Input::RightDrag;
    QTest::newRow("undo") << Input::Undo;
    QTest::newRow("mouse move") << Input::MouseMove;
    QTest::newRow("octree key") << Input::OctreeKey;
}

void TestIdle::inputRedraws()
{
    QFETCH(Input, input);
    const QPoint centre = view->rect().center();
    const QPoint aside = centre + QPoint(40, 25);
    move(centre);
    if (input == Input::Undo) // a stroke to undo
        rightDrag(centre, aside);
    settle();
    const int frames = view->framesDrawn();
    const QVector3D brushAt = view->getPicking().getIntersectionPoint();
    switch (input) {
    case Input::Wheel: {
        QWheelEvent wheel(centre, view->mapToGlobal(centre), {}, QPoint(0, 120), Qt::NoButton, {},
            Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(view, &wheel);
        break;
    }
    case Input::KeyZ:
        QTest::keyPress(view, Qt::Key_Z);
        QTest::qWait(100);
        QTest::keyRelease(view, Qt::Key_Z);
        break;
    case Input::RightDrag:
        rightDrag(centre, aside);
        break;
    case Input::Undo:
        QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
        break;
    case Input::MouseMove:
        move(aside);
        // The brush outline follows the cursor.
        QVERIFY(view->getPicking().getIntersectionPoint() != brushAt);
        break;
    case Input::OctreeKey:
        QTest::keyClick(view, Qt::Key_O);
        break;
    }
    QTRY_VERIFY(view->framesDrawn() > frames);
    // And then idle again.
    settle();
    const int after = view->framesDrawn();
    QTest::qWait(400);
    QCOMPARE(view->framesDrawn(), after);
}

void TestIdle::heldKeyStops_data()
{
    QTest::addColumn<bool>("hide");
    QTest::newRow("focus to another window") << false;
    QTest::newRow("window hidden") << true;
}

void TestIdle::heldKeyStops()
{
    QFETCH(bool, hide);
    view->setFocus();
    QTest::keyPress(view, Qt::Key_Up);
    QVERIFY(view->motionTimer() != 0);
    QTest::qWait(100);
    QWidget other;
    if (hide) {
        window->hide();
    } else {
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
    }
    QTRY_COMPARE(view->motionTimer(), 0);
    const float distance = view->getCamera().getDistance();
    QTest::qWait(200);
    QCOMPARE(view->getCamera().getDistance(), distance);
}

QTEST_MAIN(TestIdle)
#include "tst_idle.moc"
