// Strokes from a graphics tablet, fed to the view as Qt delivers them: tablet events, with or
// without the mouse events that the system makes from the pen before or after each of them.

#include "MeshAsserts.h"
#include "TestIo.h"
#include "WindowSetup.h"
#include "render/SurfaceFormat.h"

#include <QCheckBox>
#include <QPointingDevice>
#include <QTemporaryDir>

using namespace TestMeshes;

class TestPen : public QObject
{
    Q_OBJECT

public:
    static void initMain() { setDefaultSurfaceFormat(0); }

private slots:
    void init()
    {
        showTestWindow(window, view);
        openSphere();
        centre = QPointF(view->rect().center()); // whole pixels, as the mouse has
    }
    void cleanup() { window.reset(); }
    void strokeAppliedOnce_data()
    {
        // Tip and barrel, barrel as right button, tip with "pen sculpts".
        QTest::addColumn<int>("gesture");
        QTest::addColumn<int>("copies"); // mouse events made from the pen: none, before, after
        QTest::addColumn<qreal>(
            "pressure"); // of the press and the first move, the next ones rising
        QTest::newRow("tip and barrel, mouse before") << 0 << 1 << 0.3;
        QTest::newRow("barrel as right button, mouse after") << 1 << 2 << 0.3;
        QTest::newRow("tip with pen sculpts, mouse after") << 2 << 2 << 0.3;
        QTest::newRow("full pressure and above: as with the mouse") << 0 << 0 << 1.0;
    }
    // Whatever mouse events come with the pen's, and in whatever order, the stroke is the pen's:
    // every step once with its pressure (as the pen alone makes it; at full pressure or above, as
    // the mouse makes it, spacing included), one history state, and the camera left alone.
    void strokeAppliedOnce()
    {
        QFETCH(int, gesture);
        QFETCH(int, copies);
        QFETCH(qreal, pressure);
        const Qt::MouseButton buttons[] = {Qt::LeftButton, Qt::RightButton, Qt::LeftButton};
        const Qt::MouseButtons held[] = {
            Qt::LeftButton | Qt::MiddleButton, Qt::RightButton, Qt::LeftButton};
        const QPointF step = pressure >= 1.0 ? QPointF(3, 1) : QPointF(7, 3);
        auto penStroke = [&](int g, int c) {
            auto send = [&](QEvent::Type tabletType, QEvent::Type mouseType, QPointF p, qreal f,
                            Qt::MouseButton b, Qt::MouseButtons h) {
                if (c == 1)
                    mouse(mouseType, p, b, h);
                tablet(tabletType, p, f, b, h);
                if (c == 2)
                    mouse(mouseType, p, b, h);
            };
            mouse(QEvent::MouseMove, centre, Qt::NoButton,
                Qt::NoButton); // hovering first, as a pen does
            send(QEvent::TabletPress, QEvent::MouseButtonPress, centre, pressure, buttons[g],
                held[g]);
            QPointF p = centre;
            for (int i = 0; i < 10; ++i)
                send(QEvent::TabletMove, QEvent::MouseMove, p += step, pressure + 0.05 * i,
                    Qt::NoButton, held[g]);
            const Qt::MouseButtons rest = held[g] & ~Qt::MouseButtons(buttons[g]);
            send(QEvent::TabletRelease, QEvent::MouseButtonRelease, p, 0.0, buttons[g], rest);
            if (rest != Qt::NoButton) // a barrel button let go after the tip
                send(QEvent::TabletRelease, QEvent::MouseButtonRelease, p, 0.0,
                    Qt::MouseButton(rest.toInt()), Qt::NoButton);
        };
        const MeshSnapshot original = snapshot(*view->getMesh());
        if (pressure >= 1.0)
            dragInView(view, Qt::RightButton, centre.toPoint(), (centre + 10 * step).toPoint(), 10);
        else
            penStroke(0, 0);
        const std::vector<QVector3D> expected = positions(*view->getMesh());
        openSphere();
        Mesh *mesh = view->getMesh();
        view->setPenSculpts(gesture == 2);
        const QQuaternion rotation = view->getCamera().getRotation();
        penStroke(gesture, copies);
        QVERIFY(compareWithSnapshot(original, *mesh) != QString());
        QCOMPARE(positions(*mesh), expected);
        QCOMPARE(mesh->getUndoStates().size(), std::size_t(1));
        QCOMPARE(view->getCamera().getRotation(), rotation);
        QCOMPARE(view->getSculptor().getIntensity(), 0.75f); // the setting itself is kept
        VERIFY_MESH(*mesh);
        view->undo();
        VERIFY_SAME(original, *mesh);
        // The mouse sculpts and turns the camera as ever afterwards.
        dragInView(view, Qt::RightButton, centre.toPoint() + QPoint(0, 30),
            centre.toPoint() + QPoint(32, 30), 4);
        QCOMPARE(mesh->getUndoStates().size(), std::size_t(1));
        dragInView(view, Qt::LeftButton, centre.toPoint(), centre.toPoint() + QPoint(40, 10), 1);
        QVERIFY(view->getCamera().getRotation() != rotation);
    }
    // One step of the pen at half pressure moves each vertex half as far as the mouse's step.
    // Without "pen sculpts" the tip alone is not a stroke: its tablet events are left for Qt to
    // turn into mouse events, and those turn the camera.
    void tipAloneTurnsTheCamera()
    {
        Mesh *mesh = view->getMesh();
        const MeshSnapshot original = snapshot(*mesh);
        dragInView(view, Qt::RightButton, centre.toPoint(), centre.toPoint() + QPoint(9, 0), 1);
        const std::vector<QVector3D> byMouse = positions(*mesh);
        view->undo();
        auto *box = window->findChild<QCheckBox *>("penSculpts");
        QVERIFY(box && box->text() == "pen sculpts" && !box->isChecked());
        box->click();
        QVERIFY(view->getPenSculpts());
        mouse(QEvent::MouseMove, centre, Qt::NoButton, Qt::NoButton);
        QVERIFY(tablet(QEvent::TabletPress, centre, 0.5, Qt::LeftButton, Qt::LeftButton));
        QVERIFY(
            tablet(QEvent::TabletMove, centre + QPointF(9, 0), 0.5, Qt::NoButton, Qt::LeftButton));
        QVERIFY(tablet(QEvent::TabletRelease, centre + QPointF(9, 0), 0.0, Qt::LeftButton, {}));
        float largest = 0.0f;
        for (int i = 0; i < mesh->getNbVertices(); ++i) {
            const QVector3D start = original.vertices[i].position;
            largest = std::max(largest, (byMouse[i] - start).length());
            QVERIFY((mesh->getVertex(i).position - start - 0.5f * (byMouse[i] - start)).length()
                <= 1e-3f);
        }
        QVERIFY(largest > 0.0f);
        view->undo();
        box->click();
        const QQuaternion rotation = view->getCamera().getRotation();
        QVERIFY(!tablet(QEvent::TabletPress, centre, 0.8, Qt::LeftButton, Qt::LeftButton));
        mouse(QEvent::MouseButtonPress, centre, Qt::LeftButton, Qt::LeftButton);
        QVERIFY(!tablet(
            QEvent::TabletMove, centre + QPointF(60, 20), 0.8, Qt::NoButton, Qt::LeftButton));
        mouse(QEvent::MouseMove, centre + QPointF(60, 20), Qt::NoButton, Qt::LeftButton);
        QVERIFY(!tablet(QEvent::TabletRelease, centre, 0.0, Qt::LeftButton, Qt::NoButton));
        mouse(QEvent::MouseButtonRelease, centre, Qt::LeftButton, Qt::NoButton);
        QVERIFY(view->getCamera().getRotation() != rotation);
        VERIFY_SAME(original, *mesh);
    }

private:
    // Opens the sphere in the static mode and lets the view paint, so that picking uses the
    // camera fitted to it.
    void openSphere()
    {
        QVERIFY(view->openFile(TestIo::icosphereFile(dir.filePath("sphere.stl"), 3)));
        view->setTopoMode(4);
        view->repaint();
    }
    bool tablet(QEvent::Type type, QPointF pos, qreal pressure, Qt::MouseButton button,
        Qt::MouseButtons buttons)
    {
        QTabletEvent event(type, pen.get(), pos, view->mapToGlobal(pos), pressure, 0, 0, 0, 0, 0,
            {}, button, buttons);
        QCoreApplication::sendEvent(view, &event);
        return event.isAccepted();
    }
    void mouse(QEvent::Type type, QPointF pos, Qt::MouseButton button, Qt::MouseButtons buttons)
    {
        QMouseEvent event(type, pos, pos, view->mapToGlobal(pos), button, buttons, {},
            Qt::MouseEventSynthesizedBySystem, pen.get());
        QCoreApplication::sendEvent(view, &event);
    }

    QTemporaryDir dir;
    std::unique_ptr<QPointingDevice> pen = std::make_unique<QPointingDevice>("test pen", 4242,
        QInputDevice::DeviceType::Stylus, QPointingDevice::PointerType::Pen,
        QInputDevice::Capability::Position | QInputDevice::Capability::Pressure, 1, 3);
    std::unique_ptr<Window> window;
    Widget3D *view = nullptr;
    QPointF centre;
};

QTEST_MAIN(TestPen)
#include "tst_pen.moc"
