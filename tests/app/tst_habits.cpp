#include "TestIo.h"
#include "TestMeshes.h"
#include "WindowSetup.h"
#include "app/RecentFiles.h"
#include "render/SurfaceFormat.h"

#include <QDockWidget>
#include <QMenu>
#include <QMessageBox>
#include <QRadioButton>
#include <QSettings>
#include <QSlider>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

// The window as a user meets it: the view draws only after input that changes what it shows; a
// held camera key stops when the window loses the focus or hides; modifier keys during a stroke,
// the radius keys, the recent files and the window layout kept from one start to the next. The
// settings live in a temporary folder, never in the user's own.
class TestHabits : public QObject
{
    Q_OBJECT

public:
    static void initMain() { setDefaultSurfaceFormat(0); }

private slots:
    void initTestCase()
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.filePath("settings"));
    }
    void init()
    {
        showTestWindow(window, view);
        window->activateWindow(); // for the shortcuts
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
    }
    void cleanup() { window.reset(); }
    void drawsOnlyAfterInput()
    {
        QVERIFY(view->openFile(sphere(QStringLiteral("s.stl"))));
        const QPoint centre = view->rect().center();
        move(centre);
        QVERIFY(idleFor(1000));
        const std::pair<const char *, std::function<void()>> inputs[] = {
            {"wheel",
                [&] {
                    QWheelEvent wheel(centre, view->mapToGlobal(centre), {}, QPoint(0, 120),
                        Qt::NoButton, {}, Qt::NoScrollPhase, false);
                    QCoreApplication::sendEvent(view, &wheel);
                }},
            {"Z held",
                [&] {
                    QTest::keyPress(view, Qt::Key_Z);
                    QTest::qWait(100);
                    QTest::keyRelease(view, Qt::Key_Z);
                }},
            {"right drag", [&] { stroke(Qt::NoModifier); }},
            {"undo", [&] { QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier); }},
            {"octree key", [&] { QTest::keyClick(view, Qt::Key_O); }},
            {"mouse move",
                [&] {
                    // The brush outline follows the cursor.
                    const QVector3D brush = view->getPicking().getIntersectionPoint();
                    move(centre + QPoint(40, 25));
                    QVERIFY(view->getPicking().getIntersectionPoint() != brush);
                }},
        };
        for (const auto &[name, input] : inputs) {
            const int frames = view->framesDrawn();
            input();
            QTRY_VERIFY2(view->framesDrawn() > frames, name);
            QVERIFY2(idleFor(400), name);
        }
    }
    void heldKeyStops_data()
    {
        QTest::addColumn<bool>("hide");
        QTest::newRow("focus to another window") << false;
        QTest::newRow("window hidden") << true;
    }
    void heldKeyStops()
    {
        QFETCH(bool, hide);
        view->setFocus();
        QTest::keyPress(view, Qt::Key_Up);
        QVERIFY(view->motionTimer() != 0);
        QWidget other;
        if (hide) {
            window->hide();
        } else {
            other.show();
            other.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&other));
        }
        QTRY_COMPARE(view->motionTimer(), 0);
        QVERIFY(!view->getCamera().isMoving());
    }
    void strokeModifiers_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<QString>("acting"); // the tool whose plain stroke gives the same result
        const Qt::KeyboardModifiers shift = Qt::ShiftModifier, ctrl = Qt::ControlModifier;
        QTest::newRow("Shift on inflate") << "inflate" << shift << "smooth";
        QTest::newRow("Ctrl on inflate") << "inflate" << ctrl << "deflate";
        QTest::newRow("Ctrl on deflate") << "deflate" << ctrl << "inflate";
        QTest::newRow("Ctrl on flatten") << "flatten" << ctrl << "flatten";
    }
    void strokeModifiers()
    {
        QFETCH(QString, chosen);
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(QString, acting);
        QVERIFY(view->openFile(sphere(QStringLiteral("s.stl"))));
        click(QStringLiteral("static")); // the same vertices for both strokes
        const std::vector<QVector3D> before = TestMeshes::positions(*view->getMesh());
        click(chosen);
        const int chosenTool = view->getSculptor().getTool();
        stroke(modifiers);
        const std::vector<QVector3D> held = TestMeshes::positions(*view->getMesh());
        QVERIFY(held != before);
        QCOMPARE(view->getSculptor().getTool(), chosenTool); // back once released
        view->undo();
        QVERIFY(TestMeshes::positions(*view->getMesh()) == before);
        click(acting);
        stroke(Qt::NoModifier);
        QVERIFY(TestMeshes::positions(*view->getMesh()) == held);
    }
    // ] and [ step the radius slider by 10, and the view's brush with it.
    void radiusKeys()
    {
        auto radius = [this] {
            return QPointF(
                child<QSlider>("radiusSlider")->value(), view->getPicking().getRadiusScreen());
        };
        QTest::keyClick(view, Qt::Key_BracketRight);
        QCOMPARE(radius(), QPointF(60, 60));
        for (int k = 0; k < 3; ++k)
            QTest::keyClick(view, Qt::Key_BracketLeft);
        QCOMPARE(radius(), QPointF(30, 30));
    }
    void recentFiles()
    {
        RecentFiles *recent = window->getRecentFiles();
        auto *menu = child<QMenu>("recentMenu");
        QStringList opened;
        for (int k = 0; k < 9; ++k) {
            opened.prepend(sphere(QStringLiteral("r%1.stl").arg(k)));
            QVERIFY(view->openFile(opened.first()));
        }
        QVERIFY(!view->openFile(dir.filePath(QStringLiteral("none.stl")))); // a failure is not kept
        QCOMPARE(recent->files(), opened.mid(0, RecentFiles::maxFiles));
        QCOMPARE(menu->actions().size(), RecentFiles::maxFiles);

        // A file gone since: removed with a message, the mesh stays.
        QVERIFY(QFile::remove(opened[2]));
        const Mesh *mesh = view->getMesh();
        menu->actions()[2]->trigger();
        QCOMPARE(view->getMesh(), mesh);
        QVERIFY(!recent->files().contains(opened[2]));
        QTRY_VERIFY(window->findChild<QMessageBox *>());
        // An existing one opens and comes first.
        menu->actions()[3]->trigger();
        QVERIFY(view->getMesh() != mesh);
        QCOMPARE(recent->files().first(), opened[4]);
        QCOMPARE(menu->actions().size(), RecentFiles::maxFiles - 1);
    }
    void layoutComesBack()
    {
        window->setGeometry(60, 50, 1000, 700);
        auto *meshDock = child<QDockWidget>("meshDock");
        window->addDockWidget(Qt::LeftDockWidgetArea, meshDock);
        child<QDockWidget>("sculptDock")->hide();
        child<QSlider>("radiusSlider")->setValue(120);
        QTest::qWait(50);
        const QRect geometry = window->geometry();
        QVERIFY(window->close());

        window = std::make_unique<Window>();
        QVERIFY(window->restoreLayout());
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QCOMPARE(window->geometry().size(), geometry.size());
        meshDock = child<QDockWidget>("meshDock");
        QCOMPARE(window->dockWidgetArea(meshDock), Qt::LeftDockWidgetArea);
        QVERIFY(!child<QDockWidget>("sculptDock")->isVisible());
        // The controls start as designed.
        QCOMPARE(child<QSlider>("radiusSlider")->value(), 50);
    }

private:
    template<class T>
    T *child(const char *name)
    {
        return window->findChild<T *>(QLatin1String(name));
    }
    QString sphere(const QString &name) { return TestIo::icosphereFile(dir.filePath(name), 3); }
    void click(const QString &radio)
    {
        for (QRadioButton *button : window->findChildren<QRadioButton *>())
            if (button->text() == radio)
                QTest::mouseClick(button, Qt::LeftButton);
    }
    // A right-button stroke across the view centre with `modifiers` held throughout.
    void stroke(Qt::KeyboardModifiers modifiers);
    void move(QPoint p, Qt::MouseButtons buttons = Qt::NoButton, Qt::KeyboardModifiers keys = {})
    {
        QMouseEvent event(QEvent::MouseMove, p, view->mapToGlobal(p), Qt::NoButton, buttons, keys);
        QCoreApplication::sendEvent(view, &event);
    }
    // No frame drawn over `ms` milliseconds, once the pending ones are drawn.
    bool idleFor(int ms)
    {
        QTest::qWait(300);
        const int frames = view->framesDrawn();
        QTest::qWait(ms);
        return view->framesDrawn() == frames;
    }

    QTemporaryDir dir;
    std::unique_ptr<Window> window;
    Widget3D *view = nullptr;
};

void TestHabits::stroke(Qt::KeyboardModifiers modifiers)
{
    const QPoint from = view->rect().center() - QPoint(60, 0);
    QTest::mouseMove(view, from);
    QTest::mousePress(view, Qt::RightButton, modifiers, from);
    for (int i = 1; i <= 12; ++i)
        move(from + QPoint(10 * i, 3 * i), Qt::RightButton, modifiers);
    QTest::mouseRelease(view, Qt::RightButton, modifiers, from + QPoint(120, 36));
}

QTEST_MAIN(TestHabits)
#include "tst_habits.moc"
