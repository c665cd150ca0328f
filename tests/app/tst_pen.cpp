#include "TestIo.h"
#include "TestMeshes.h"
#include "WindowSetup.h"
#include "app/Widget3D.h"
#include "app/Window.h"
#include "io/Files.h"
#include "mesh/MeshCheck.h"
#include "render/SurfaceFormat.h"

#include <QCheckBox>
#include <QFile>
#include <QPointingDevice>
#include <QTabletEvent>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

using namespace TestMeshes;

namespace {

// How the test feeds the mouse events that a system makes from the pen.
enum class MouseCopies { None, Before, After };

// Pen buttons of a stroke, and whether it needs "pen sculpts".
struct Gesture
{
    Qt::MouseButton button; // the button whose press starts the stroke
    Qt::MouseButtons buttons; // held during the stroke
    bool needsPenSculpts;
};

} // namespace

Q_DECLARE_METATYPE(MouseCopies)

// Strokes from a graphics tablet, fed to the view as Qt delivers them: tablet events, with or
// without the mouse events that the system makes from the pen before or after each of them.
class TestPen : public QObject
{
    Q_OBJECT

public:
    static void initMain() { setDefaultSurfaceFormat(0); }

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void pressureScalesDabs_data();
    void pressureScalesDabs();
    void spacingAsWithTheMouse();
    void strokeAppliedOnce_data();
    void strokeAppliedOnce();
    void tipAloneTurnsTheCamera();
    void penSculptsCheckBox();
    void mouseWorksAfterPen();

private:
    QString spherePath();
    // Opens the sphere and lets the view paint, so that picking uses the camera fitted to it.
    void openSphere();
    bool tablet(QEvent::Type type, QPointF pos, qreal pressure, Qt::MouseButton button,
        Qt::MouseButtons buttons);
    void mouse(QEvent::Type type, QPointF pos, Qt::MouseButton button, Qt::MouseButtons buttons);
    // A pen stroke from `from` in `steps` moves of `step` pixels, each move's pressure from
    // `pressure` (index 0 .. steps - 1).
    void penStroke(QPointF from, QPointF step, int steps, const std::function<qreal(int)> &pressure,
        const Gesture &gesture, MouseCopies copies = MouseCopies::None);
    void mouseStroke(QPointF from, QPointF step, int steps);

    QTemporaryDir dir;
    std::unique_ptr<QPointingDevice> pen;
    std::unique_ptr<Window> window;
    Widget3D *view = nullptr;
    QPointF centre;
};

QString TestPen::spherePath()
{
    return TestIo::icosphereFile(dir.filePath(QStringLiteral("sphere.stl")), 3);
}

bool TestPen::tablet(QEvent::Type type, QPointF pos, qreal pressure, Qt::MouseButton button,
    Qt::MouseButtons buttons)
{
    QTabletEvent event(type, pen.get(), pos, view->mapToGlobal(pos), pressure, 0.0f, 0.0f, 0.0f,
        0.0, 0.0f, Qt::NoModifier, button, buttons);
    QCoreApplication::sendEvent(view, &event);
    return event.isAccepted();
}

void TestPen::mouse(
    QEvent::Type type, QPointF pos, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, pos, pos, view->mapToGlobal(pos), button, buttons, Qt::NoModifier,
        Qt::MouseEventSynthesizedBySystem, pen.get());
    QCoreApplication::sendEvent(view, &event);
}

void TestPen::penStroke(QPointF from, QPointF step, int steps,
    const std::function<qreal(int)> &pressure, const Gesture &gesture, MouseCopies copies)
{
    // Hovering first, as a pen does: those moves reach the view as mouse moves.
    mouse(QEvent::MouseMove, from, Qt::NoButton, Qt::NoButton);
    auto send = [&](QEvent::Type tabletType, QEvent::Type mouseType, QPointF p, qreal force,
                    Qt::MouseButton button, Qt::MouseButtons buttons) {
        if (copies == MouseCopies::Before)
            mouse(mouseType, p, button, buttons);
        tablet(tabletType, p, force, button, buttons);
        if (copies == MouseCopies::After)
            mouse(mouseType, p, button, buttons);
    };
    send(QEvent::TabletPress, QEvent::MouseButtonPress, from, pressure(0), gesture.button,
        gesture.buttons);
    QPointF p = from;
    for (int i = 0; i < steps; ++i) {
        p += step;
        send(QEvent::TabletMove, QEvent::MouseMove, p, pressure(i), Qt::NoButton, gesture.buttons);
    }
    const Qt::MouseButtons rest = gesture.buttons & ~Qt::MouseButtons(gesture.button);
    send(QEvent::TabletRelease, QEvent::MouseButtonRelease, p, 0.0, gesture.button, rest);
    // A barrel button let go after the tip.
    if (rest != Qt::NoButton)
        send(QEvent::TabletRelease, QEvent::MouseButtonRelease, p, 0.0,
            Qt::MouseButton(rest.toInt()), Qt::NoButton);
}

void TestPen::mouseStroke(QPointF from, QPointF step, int steps)
{
    QMouseEvent hover(
        QEvent::MouseMove, from, view->mapToGlobal(from), Qt::NoButton, Qt::NoButton, {});
    QCoreApplication::sendEvent(view, &hover);
    QTest::mousePress(view, Qt::RightButton, {}, from.toPoint());
    QPointF p = from;
    for (int i = 0; i < steps; ++i) {
        p += step;
        QMouseEvent move(
            QEvent::MouseMove, p, view->mapToGlobal(p), Qt::NoButton, Qt::RightButton, {});
        QCoreApplication::sendEvent(view, &move);
    }
    QTest::mouseRelease(view, Qt::RightButton, {}, p.toPoint());
}

void TestPen::initTestCase()
{
    QVERIFY(dir.isValid());
    pen = std::make_unique<QPointingDevice>(QStringLiteral("test pen"), 4242,
        QInputDevice::DeviceType::Stylus, QPointingDevice::PointerType::Pen,
        QInputDevice::Capability::Position | QInputDevice::Capability::Pressure, 1, 3);
}

void TestPen::openSphere()
{
    QVERIFY(view->openFile(spherePath()));
    view->setTopoMode(4); // static: positions only, so that strokes compare vertex by vertex
    view->repaint();
}

void TestPen::init()
{
    showTestWindow(window, view);
    if (QTest::currentTestFailed())
        return;
    openSphere();
    centre = QPointF(view->width() / 2, view->height() / 2); // whole pixels, as the mouse has
}

void TestPen::cleanup()
{
    window.reset();
    view = nullptr;
}

void TestPen::pressureScalesDabs_data()
{
    QTest::addColumn<qreal>("pressure");
    QTest::newRow("full") << 1.0;
    QTest::newRow("half") << 0.5;
    QTest::newRow("light") << 0.2;
    QTest::newRow("none") << 0.0;
    QTest::newRow("above one counts as one") << 1.5;
}

// One brush step: the pen's moves are the mouse's scaled by its pressure (the inflate tool
// moves each vertex in proportion to the intensity).
void TestPen::pressureScalesDabs()
{
    QFETCH(qreal, pressure);
    const MeshSnapshot original = snapshot(*view->getMesh());
    mouseStroke(centre, QPointF(8, 0), 1);
    const MeshSnapshot byMouse = snapshot(*view->getMesh());

    openSphere();
    Mesh *mesh = view->getMesh();
    penStroke(centre, QPointF(8, 0), 1, [&](int) { return pressure; },
        {Qt::LeftButton, Qt::LeftButton | Qt::MiddleButton, false});
    QCOMPARE(view->getSculptor().getIntensity(), 0.75f); // the setting itself is kept
    QCOMPARE(mesh->getUndoStates().size(), std::size_t(1));

    const float scale = float(std::min<qreal>(pressure, 1.0));
    float largest = 0.0f;
    for (std::size_t i = 0; i < original.vertices.size(); ++i)
        largest = std::max(
            largest, (byMouse.vertices[i].position - original.vertices[i].position).length());
    QVERIFY(largest > 0.0f);
    int moved = 0;
    for (std::size_t i = 0; i < original.vertices.size(); ++i) {
        const QVector3D start = original.vertices[i].position;
        const QVector3D expected = scale * (byMouse.vertices[i].position - start);
        const QVector3D actual = mesh->getVertex(int(i)).position - start;
        QVERIFY2((actual - expected).length() <= 1e-4f * largest,
            qPrintable(QStringLiteral("vertex %1").arg(i)));
        moved += actual.lengthSquared() > 0.0f;
    }
    QCOMPARE(moved > 0, scale > 0.0f);
    QCOMPARE(checkMesh(*mesh), QString());
}

// Steps of 3 pixels with a 50-pixel brush sculpt on every second one, for the pen as for the
// mouse: at full pressure both strokes give the same mesh.
void TestPen::spacingAsWithTheMouse()
{
    mouseStroke(centre, QPointF(3, 1), 12);
    const MeshSnapshot byMouse = snapshot(*view->getMesh());
    openSphere();
    penStroke(centre, QPointF(3, 1), 12, [](int) { return 1.0; },
        {Qt::LeftButton, Qt::LeftButton | Qt::MiddleButton, false});
    QCOMPARE(compareWithSnapshot(byMouse, *view->getMesh()), QString());
}

void TestPen::strokeAppliedOnce_data()
{
    QTest::addColumn<int>("gesture");
    QTest::addColumn<MouseCopies>("copies");
    const char *gestures[] = {"tip and barrel", "barrel as right button", "tip with pen sculpts"};
    const std::pair<const char *, MouseCopies> orders[] = {{"pen only", MouseCopies::None},
        {"mouse before", MouseCopies::Before}, {"mouse after", MouseCopies::After}};
    for (int g = 0; g < 3; ++g)
        for (const auto &[name, copies] : orders)
            QTest::addRow("%s, %s", gestures[g], name) << g << copies;
}

// Whatever mouse events come with the pen's, and in whatever order, the stroke is the pen's:
// every step once, with its pressure, one history state, and the camera left alone.
void TestPen::strokeAppliedOnce()
{
    QFETCH(int, gesture);
    QFETCH(MouseCopies, copies);
    const Gesture gestures[] = {
        {Qt::LeftButton, Qt::LeftButton | Qt::MiddleButton, false},
        {Qt::RightButton, Qt::RightButton, false},
        {Qt::LeftButton, Qt::LeftButton, true},
    };
    // Pressure varies along the stroke, so that a step applied at the mouse's full pressure,
    // or twice, shows.
    auto pressure = [](int i) { return 0.3 + 0.05 * i; };
    const MeshSnapshot original = snapshot(*view->getMesh());
    penStroke(centre, QPointF(7, 3), 10, pressure, gestures[0]);
    const MeshSnapshot reference = snapshot(*view->getMesh());
    QVERIFY(compareWithSnapshot(original, *view->getMesh()) != QString());

    openSphere();
    view->setPenSculpts(gestures[gesture].needsPenSculpts);
    Mesh *mesh = view->getMesh();
    const QQuaternion rotation = view->getCamera().getRotation();
    penStroke(centre, QPointF(7, 3), 10, pressure, gestures[gesture], copies);
    QCOMPARE(compareWithSnapshot(reference, *mesh), QString());
    QCOMPARE(mesh->getUndoStates().size(), std::size_t(1));
    QCOMPARE(view->getCamera().getRotation(), rotation);
    QCOMPARE(checkMesh(*mesh), QString());
    view->undo();
    QCOMPARE(compareWithSnapshot(original, *mesh), QString());
}

// Without "pen sculpts" the tip alone is not a stroke: its tablet events are left for Qt to
// turn into mouse events, and those turn the camera.
void TestPen::tipAloneTurnsTheCamera()
{
    Mesh *mesh = view->getMesh();
    const MeshSnapshot original = snapshot(*mesh);
    const QQuaternion rotation = view->getCamera().getRotation();
    QVERIFY(!tablet(QEvent::TabletPress, centre, 0.8, Qt::LeftButton, Qt::LeftButton));
    mouse(QEvent::MouseButtonPress, centre, Qt::LeftButton, Qt::LeftButton);
    for (int i = 1; i <= 5; ++i) {
        const QPointF p = centre + QPointF(12 * i, 4 * i);
        QVERIFY(!tablet(QEvent::TabletMove, p, 0.8, Qt::NoButton, Qt::LeftButton));
        mouse(QEvent::MouseMove, p, Qt::NoButton, Qt::LeftButton);
    }
    QVERIFY(!tablet(QEvent::TabletRelease, centre, 0.0, Qt::LeftButton, Qt::NoButton));
    mouse(QEvent::MouseButtonRelease, centre, Qt::LeftButton, Qt::NoButton);
    QVERIFY(view->getCamera().getRotation() != rotation);
    QCOMPARE(compareWithSnapshot(original, *mesh), QString());
    QVERIFY(mesh->getUndoStates().empty());
}

void TestPen::penSculptsCheckBox()
{
    auto *box = window->findChild<QCheckBox *>(QStringLiteral("penSculpts"));
    QVERIFY(box);
    QCOMPARE(box->text(), QStringLiteral("pen sculpts"));
    QVERIFY(!box->isChecked());
    QVERIFY(!view->getPenSculpts());
    box->click();
    QVERIFY(view->getPenSculpts());
    // Now the tip alone sculpts.
    QVERIFY(tablet(QEvent::TabletPress, centre, 0.5, Qt::LeftButton, Qt::LeftButton));
    QVERIFY(tablet(QEvent::TabletMove, centre + QPointF(9, 0), 0.5, Qt::NoButton, Qt::LeftButton));
    QVERIFY(tablet(QEvent::TabletRelease, centre + QPointF(9, 0), 0.0, Qt::LeftButton, {}));
    QCOMPARE(view->getMesh()->getUndoStates().size(), std::size_t(1));
    box->click();
    QVERIFY(!view->getPenSculpts());
}

// After a pen stroke and its late mouse copies, the mouse sculpts and turns the camera as ever.
void TestPen::mouseWorksAfterPen()
{
    penStroke(
        centre, QPointF(7, 3), 5, [](int) { return 0.5; },
        {Qt::RightButton, Qt::RightButton, false}, MouseCopies::After);
    Mesh *mesh = view->getMesh();
    const MeshSnapshot afterPen = snapshot(*mesh);
    mouseStroke(centre + QPointF(0, 30), QPointF(8, 0), 4);
    QVERIFY(compareWithSnapshot(afterPen, *mesh) != QString());
    QCOMPARE(mesh->getUndoStates().size(), std::size_t(2));

    const QQuaternion rotation = view->getCamera().getRotation();
    QTest::mousePress(view, Qt::LeftButton, {}, centre.toPoint());
    QMouseEvent move(QEvent::MouseMove, centre + QPointF(40, 10),
        view->mapToGlobal(centre + QPointF(40, 10)), Qt::NoButton, Qt::LeftButton, {});
    QCoreApplication::sendEvent(view, &move);
    QTest::mouseRelease(view, Qt::LeftButton, {}, (centre + QPointF(40, 10)).toPoint());
    QVERIFY(view->getCamera().getRotation() != rotation);
}

QTEST_MAIN(TestPen)
#include "tst_pen.moc"
