// The program through its main window, driven as a user drives it: the controls reaching the view,
// files opened and saved (a failure keeps the mesh), strokes from the mouse and the pen with their
// undo, the point picked under the cursor (also on a screen scaled twice: tst_app_scaled), the load
// progress, drawing only after input, held keys, recent files and the layout, the unsaved mark and
// the questions before leaving work, and the recovery copy. Settings, recovery copies and the
// answers to the questions stay within the test.

#include "MeshAsserts.h"
#include "TestIo.h"
#include "app/Autosave.h"
#include "app/Document.h"
#include "app/HelpDialog.h"
#include "app/LoadProgress.h"
#include "app/Prompts.h"
#include "app/RecentFiles.h"
#include "app/SaveFormat.h"
#include "app/StartHint.h"
#include "app/Widget3D.h"
#include "app/Window.h"
#include "geometry/Geometry.h"
#include "io/Files.h"
#include "render/SurfaceFormat.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDockWidget>
#include <QFileDialog>
#include <QLockFile>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QOpenGLFunctions>
#include <QPointingDevice>
#include <QProgressBar>
#include <QSettings>
#include <QSlider>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

using namespace TestMeshes;
using Prompts::SaveAnswer;
Q_DECLARE_METATYPE(Prompts::SaveAnswer)

class TestApp : public QObject
{
    Q_OBJECT

public:
    static void initMain() { setDefaultSurfaceFormat(0); }

private slots:
    void initTestCase()
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.filePath("settings"));
        QStandardPaths::setTestModeEnabled(true);
        QGuiApplication::setQuitOnLastWindowClosed(false);
        Autosave::setFolder(folder = dir.filePath(QStringLiteral("recovery")));
    }
    // A main window of 1200 x 800, active, its view painted once (the camera has matrices for
    // picking); no recovery copy, and the questions answered by the test.
    void init()
    {
        QDir(folder).removeRecursively();
        asked.clear();
        saveAnswer = SaveAnswer::Cancel;
        Prompts::setSaveChangesQuestion(
            [this](QWidget *, const QString &text) { return asked << text, saveAnswer; });
        Prompts::setRecoveryQuestion(
            [this](QWidget *, const QString &text) { return asked << text, recoverAnswer; });
        Prompts::setSaveFileNameQuestion([this](QWidget *) { return saveName; });
        Prompts::setOpenFileNameQuestion([this](QWidget *) { return openName; });
        window = std::make_unique<Window>();
        window->resize(1200, 800);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        view = window->getView();
        QTRY_VERIFY(view->getCamera().getViewport().width() > 0);
        window->activateWindow(); // for the shortcuts
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
    }
    void cleanup()
    {
        saveAnswer = SaveAnswer::Discard; // leave without questions
        window.reset();
    }

    // Each radio button sets its mode in the view, in its group's order; the static mode has no
    // detail, the sweep no symmetry; ] and [ step the radius slider by 10 and the brush with it;
    // sliders and boxes reach the view; a key that a slider ignores climbs to the view; Edit's mask
    // entries are one undo step each.
    void controls()
    {
        QVERIFY(view->openFile(sphere("s.stl")));
        // Each group found through one of its buttons, and what it sets in the view.
        const std::pair<const char *, std::function<int()>> groups[] = {
            {"inflate", [this] { return view->getSculptor().getTool(); }},
            {"static", [this] { return view->getSculptor().getTopoMode(); }},
            {"freelook", [this] { return view->getCamera().getMode(); }},
            {"phong", [this] { return view->getMesh()->getShaderType(); }}};
        QStringList names;
        for (const auto &[member, value] : groups)
            for (int id = 0; QAbstractButton *b = button(member)->group()->button(id); ++id) {
                b->click();
                QCOMPARE(value(), id);
                names << b->text();
            }
        QCOMPARE(names.join(u','),
            "inflate,deflate,smooth,flatten,sweep,mask,crease,decimate,subdivide,uniform,adaptive,"
            "static,trackball sphere,trackball plane,freelook,phong,wireframe,transparency,"
            "reflection 1,reflection 2");
        auto *detail = child<QSlider>("detailSlider"), *radius = child<QSlider>("radiusSlider");
        QVERIFY(!detail->isEnabled());
        button("adaptive")->click();
        button("sweep")->click();
        QVERIFY(detail->isEnabled() && !button("symmetry")->isEnabled());
        button("smooth")->click();
        for (Qt::Key key : {Qt::Key_BracketRight, Qt::Key_BracketRight, Qt::Key_BracketLeft})
            QTest::keyClick(view, key);
        QCOMPARE(QPointF(radius->value(), view->getPicking().getRadiusScreen()), QPointF(60, 60));
        radius->setValue(5); // 20 pixels at least
        child<QSlider>("intensitySlider")->setValue(100);
        detail->setValue(200);
        button("culling")->click();
        button("symmetry")->click();
        QVERIFY(view->getPicking().getRadiusScreen() == 20.0f
            && view->getSculptor().getIntensity() == 0.5f && view->getSculptor().getDetail() == 1.0f
            && view->getSculptor().getCulling() && view->getSymmetry());
        radius->setFocus();
        QTest::keyPress(radius, Qt::Key_Z);
        QVERIFY(view->motionTimer() != 0);
        QTest::keyRelease(radius, Qt::Key_Z);
        QCOMPARE(view->motionTimer(), 0);
        // The mask drawn at once, darker (mean grey level around the centre; the brush away).
        button("trackball sphere")->click();
        button("phong")->click();
        QTest::mouseMove(view, QPoint(5, 5));
        auto grey = [this] {
            return qGray(view->grabFramebuffer()
                             .copy(view->width() / 2 - 20, view->height() / 2 - 20, 40, 40)
                             .scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                             .pixel(0, 0));
        };
        const int free = grey();
        const std::vector<Vertex> &vertices = view->getMesh()->getVertices();
        child<QAction>("invertMask")->trigger();
        QVERIFY(grey() < 0.9 * free);
        child<QAction>("clearMask")->trigger();
        view->undo();
        QVERIFY(std::all_of(vertices.begin(), vertices.end(), [](auto &v) { return v.mask == 1; }));
    }
    // Without a mesh the history and the octree key do nothing; opening (any case of the ending)
    // fits the camera to the mesh and resets the shading; a name without an ending saves STL, OBJ
    // opens again, a save that cannot be made says so.
    void openAndSave()
    {
        QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
        QTest::keyClick(view, Qt::Key_O);
        QVERIFY(!view->getMesh() && window->findChildren<QMessageBox *>().isEmpty());
        QVERIFY(QFile::copy(sphere("s.stl"), dir.filePath("upper.STL")));
        window->getShaderGroup()->button(1)->click();
        QVERIFY(view->openFile(dir.filePath("upper.STL"))
            && window->getShaderGroup()->button(0)->isChecked());
        const Aabb &box = view->getMesh()->getOctree()->aabbLoose;
        QCOMPARE(view->getCamera().getMotionScale(), (box.max - box.min).length());
        QVERIFY(view->saveMesh(dir.filePath("out"))
            && QFileInfo(dir.filePath("out")).size() == 84 + 50 * 1280);
        QVERIFY(!view->saveMesh(dir.filePath("no-such-folder/out.stl")));
        QCOMPARE(window->findChildren<QMessageBox *>().size(), 1);
        saveName = dir.filePath("saved.obj"); // File > Save
        view->saveFile();
        QVERIFY(
            view->openFile(dir.filePath("saved.obj")) && view->getMesh()->getNbVertices() == 642);
        QMimeData other;
        other.setUrls({QUrl::fromLocalFile(dir.filePath("notes.txt"))});
        QVERIFY(Window::droppedMeshFile(&other).isEmpty());
    }
    // The save dialog lists STL first and OBJ second; with OBJ chosen, a name typed without an
    // ending is saved as OBJ, and other names are kept as typed.
    void saveDialog()
    {
        const QString obj = SaveFormat::objFilter();
        QCOMPARE(SaveFormat::pathFor("out", SaveFormat::stlFilter()), QString("out"));
        QCOMPARE(SaveFormat::pathFor("a.OBJ", obj), QString("a.OBJ"));
        QCOMPARE(SaveFormat::pathFor("a.stl", obj), QString("a.stl"));
        QVERIFY(SaveFormat::pathFor(QString(), obj).isNull());
        QVERIFY(view->openFile(sphere("s.stl")));
        Prompts::setSaveFileNameQuestion({}); // the real dialog, answered when it shows
        QStringList filters;
        std::function<void()> answer = [&] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return QTimer::singleShot(20, this, answer);
            filters = dialog->nameFilters();
            dialog->selectNameFilter(obj);
            dialog->selectFile(dir.filePath("from-dialog"));
            static_cast<QDialog *>(dialog)->accept();
        };
        QTimer::singleShot(0, this, answer);
        view->saveFile();
        QCOMPARE(filters, QStringList({"STL Files (*.stl )", "OBJ Files (*.obj)"}));
        QVERIFY(TestIo::readFile(dir.filePath("from-dialog.obj")).startsWith("# Argilium"));
    }
    // The hint over the empty view: centred, gone once a mesh is open, never in the way of the
    // wheel. Help: one Controls dialog that may stay open while sculpting, and the About box.
    void hintAndHelp()
    {
        auto *hint = view->findChild<StartHint *>();
        QVERIFY(hint && hint->isVisible());
        window->resize(900, 700);
        QTRY_VERIFY((hint->geometry().center() - view->rect().center()).manhattanLength() <= 2);
        QVERIFY(!view->openFile(dir.filePath("missing.stl")) && hint->isVisible());
        QVERIFY(view->openFile(sphere("s.stl")) && !hint->isVisible());
        hint->show();
        const QPoint at = view->mapTo(window.get(), hint->geometry().center());
        const float distance = view->getCamera().getDistance();
        QWheelEvent wheel(at, window->windowHandle()->mapToGlobal(at), QPoint(), QPoint(0, 120),
            Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(window->windowHandle(), &wheel);
        QVERIFY(view->getCamera().getDistance() != distance);
        const QList<QAction *> help = window->menuBar()->actions()[3]->menu()->actions();
        help[0]->trigger();
        help[0]->trigger();
        auto *dialog = window->findChild<HelpDialog *>();
        QVERIFY(window->findChildren<HelpDialog *>().size() == 1 && dialog->isVisible()
            && !dialog->isModal());
        help[1]->trigger();
        auto *about = window->findChild<QMessageBox *>("aboutBox");
        QVERIFY(about && about->isVisible() && about->text().contains("Argilium"));
    }
    void failedOpenKeepsMesh_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("contents");
        QTest::newRow("unknown ending") << "model.ply" << QByteArray("ply\n");
        QTest::newRow("truncated stl") << "broken.stl" << QByteArray(90, 'x');
        QTest::newRow("missing file") << "does-not-exist.stl" << QByteArray();
    }
    // A file that cannot be opened leaves the mesh, its history and the camera as they were, with
    // the reason in a message box and the status bar.
    void failedOpenKeepsMesh()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, contents);
        QVERIFY(view->openFile(sphere("s2.stl", 2)));
        Mesh *mesh = view->getMesh();
        stroke(QPoint(40, 20), 8);
        const MeshSnapshot before = snapshot(*mesh);
        const float distance = view->getCamera().getDistance();
        QVERIFY(contents.isEmpty() || TestIo::writeFile(dir.filePath(name), contents));
        QVERIFY(!view->openFile(dir.filePath(name)) && view->getMesh() == mesh);
        VERIFY_SAME(before, *mesh);
        QVERIFY(view->getCamera().getDistance() == distance && !view->lastError().isEmpty()
            && window->statusBar()->currentMessage().contains(view->lastError().left(20))
            && window->findChildren<QMessageBox *>().size() == 1);
        view->undo(); // the history still works on the kept mesh
        QCOMPARE(mesh->getUndoStates().size(), std::size_t(1));
        VERIFY_MESH(*mesh);
    }
    void strokes_data()
    {
        QTest::addColumn<QPoint>("offset"); // the drag from the centre
        QTest::addColumn<Qt::MouseButtons>("held");
        QTest::addColumn<QString>("tool"); // chosen; "symmetry": inflate with symmetry
        QTest::addColumn<Qt::KeyboardModifiers>("keys"); // held through the stroke
        QTest::addColumn<QString>("acting"); // the tool whose plain stroke gives the same result
        const Qt::MouseButtons right = Qt::RightButton;
        const Qt::KeyboardModifiers none, shift = Qt::ShiftModifier, ctrl = Qt::ControlModifier;
        const QPoint far(120, 36);
        QTest::newRow("right drag") << QPoint(60, 30) << right << "inflate" << none << "";
        QTest::newRow("symmetry") << QPoint(80, 60) << right << "symmetry" << none << "";
        // Moves of 5 pixels in all never pass the spacing of a tenth of the 50-pixel brush.
        QTest::newRow("within the spacing: nothing") << QPoint(3, 4) << right << "" << none << "";
        QTest::newRow("left and right: nothing")
            << QPoint(100, 50) << (Qt::LeftButton | right) << "" << none << "";
        QTest::newRow("Shift on inflate") << far << right << "inflate" << shift << "smooth";
        QTest::newRow("Ctrl on inflate") << far << right << "inflate" << ctrl << "deflate";
        QTest::newRow("Ctrl on deflate") << far << right << "deflate" << ctrl << "inflate";
        QTest::newRow("Ctrl on flatten") << far << right << "flatten" << ctrl << "flatten";
    }
    // A right drag inflates (outwards only), mirrored across x = 0 with symmetry, as one history
    // state that Ctrl+Z and Ctrl+Y undo and redo; the camera stays. Shift held smooths, Ctrl swaps
    // inflate and deflate, for the stroke's steps only.
    void strokes()
    {
        QFETCH(QPoint, offset);
        QFETCH(Qt::MouseButtons, held);
        QFETCH(QString, tool);
        QFETCH(Qt::KeyboardModifiers, keys);
        QFETCH(QString, acting);
        QVERIFY(view->openFile(sphere("s.stl")));
        button("static")->click(); // positions only
        if (tool == "symmetry")
            button("symmetry")->click();
        else if (!tool.isEmpty())
            button(tool)->click();
        const int chosen = view->getSculptor().getTool();
        Mesh *mesh = view->getMesh();
        const MeshSnapshot before = snapshot(*mesh);
        const QQuaternion rotation = view->getCamera().getRotation();
        const QPoint from = centre() + (tool == "symmetry" ? QPoint(80, 0) : QPoint());
        drag(held.testFlag(Qt::LeftButton) ? Qt::LeftButton : Qt::RightButton, from, from + offset,
            10, held, keys);
        QVERIFY(
            view->getCamera().getRotation() == rotation && view->getSculptor().getTool() == chosen);
        QCOMPARE(mesh->getUndoStates().size(), std::size_t(held == Qt::RightButton));
        if (tool.isEmpty()) {
            VERIFY_SAME(before, *mesh);
            return;
        }
        VERIFY_MESH(*mesh);
        const MeshSnapshot after = snapshot(*mesh);
        QTest::keyClick(window.get(), Qt::Key_Z, Qt::ControlModifier);
        VERIFY_SAME(before, *mesh);
        if (!acting.isEmpty()) {
            button(acting)->click();
            drag(Qt::RightButton, from, from + offset, 10);
            VERIFY_SAME(after, *mesh);
            return;
        }
        QTest::keyClick(window.get(), Qt::Key_Y, Qt::ControlModifier);
        VERIFY_SAME(after, *mesh);
        int left = 0, right = 0;
        for (int i = 0; i < mesh->getNbVertices(); ++i) {
            const QVector3D p = mesh->getVertex(i).position, q = before.vertices[i].position;
            QVERIFY(p.lengthSquared() >= q.lengthSquared() * (1.0f - 1e-6f));
            if (p != q)
                ++(p.x() < 0 ? left : right);
        }
        QVERIFY(left + right > 0 && (tool != "symmetry" || (left > 0 && right > 0)));
    }
    void pickUnderCursor_data()
    {
        QTest::addColumn<QPointF>("offset"); // from the view centre, in units of the view height
        QTest::newRow("centre") << QPointF(0, 0);
        QTest::newRow("up left") << QPointF(-0.1, -0.15);
    }
    // Picking works in widget pixels while the GL viewport is in device pixels: with any scale
    // factor the point picked under the cursor projects back onto the cursor, and the frame fills
    // the view.
    void pickUnderCursor()
    {
        QFETCH(QPointF, offset);
        QVERIFY(view->openFile(sphere("s.stl")));
        view->update();
        QTest::qWait(50);
        const QPoint cursor = centre() + (offset * view->height()).toPoint();
        mouse(QEvent::MouseMove, cursor, Qt::NoButton, Qt::NoButton);
        Picking &picking = view->getPicking();
        QVERIFY(picking.getMesh() == view->getMesh());
        QVERIFY(picking.getIntersectionPoint().z() > 0.0f); // the front, facing the camera
        double depth = 0.0;
        const QPointF back = Geometry::worldToScreen(
            view->getMesh()->getTransformation().map(picking.getIntersectionPoint()),
            view->getCamera().screenTransform(), view->width(), view->height(), depth);
        QVERIFY2(QLineF(back, QPointF(cursor)).length() < 0.5,
            qPrintable(QStringLiteral("%1 %2").arg(back.x()).arg(back.y())));
        view->makeCurrent(); // the GL viewport of the frame drawn, in device pixels
        GLint viewport[4];
        view->context()->functions()->glGetIntegerv(GL_VIEWPORT, viewport);
        QCOMPARE(viewport[2], int(view->width() * view->devicePixelRatioF()));
    }
    // A load shows each step's message in order, with the window painted in between, and a progress
    // bar while parsing, from 0 to 100 and rising; an open asked for meanwhile is refused.
    void loadShowsProgress()
    {
        QStatusBar *bar = window->statusBar();
        QProgressBar *progress = LoadProgress::progressBar(bar);
        struct : QObject
        {
            int n = 0;
            bool eventFilter(QObject *, QEvent *e) override
            {
                return n += e->type() == e->Paint, false;
            }
        } paints;
        bar->installEventFilter(&paints);
        QStringList steps;
        QList<int> values, painted; // the paints counted at each step
        bool refused = false;
        connect(bar, &QStatusBar::messageChanged, this, [&](const QString &text) {
            if ((text.startsWith("Loading") || text == "Argilium" || text.startsWith(" Triangles"))
                && !text.contains("FPS"))
                steps << text + (progress->isVisible() ? " (bar)" : ""), painted << paints.n;
        });
        connect(progress, &QProgressBar::valueChanged, this, [&](int value) {
            if (values.isEmpty())
                refused = view->isLoading() && !view->openFile(sphere("s1.stl", 1));
            values << value;
        });
        QVERIFY(view->openFile(sphere("s5.stl", 5))); // 20480 triangles
        QCOMPARE(steps,
            QStringList({"Loading : parsing (bar)", "Loading : Init topology 1/2",
                "Loading : scaling", "Loading : Init topology 2/2", "Loading : Init octree",
                "Loading : Init VBO 1", "Loading : Init VBO 2", "Argilium",
                " Triangles : 20480     Vertices : 10242"}));
        painted.removeLast(); // the counts follow "Argilium" at once
        QVERIFY(values.size() >= 2 && values.first() == 0 && values.last() == 100);
        for (const QList<int> &rising : {painted, values})
            QVERIFY(std::adjacent_find(rising.begin(), rising.end(), std::greater_equal<>())
                == rising.end());
        QVERIFY(!progress->isVisible() && refused && !view->isLoading());
    }
    // The view draws a frame after each input that changes what it shows, and none while idle.
    void drawsOnlyAfterInput()
    {
        QVERIFY(view->openFile(sphere("s.stl")));
        const QPoint c = centre();
        mouse(QEvent::MouseMove, c, Qt::NoButton, Qt::NoButton);
        QVERIFY(idleFor(1000));
        const std::pair<const char *, std::function<void()>> inputs[] = {
            {"wheel",
                [&] {
                    QWheelEvent wheel(c, view->mapToGlobal(c), {}, QPoint(0, 120), Qt::NoButton, {},
                        Qt::NoScrollPhase, false);
                    QCoreApplication::sendEvent(view, &wheel);
                }},
            {"Z held",
                [&] {
                    QTest::keyPress(view, Qt::Key_Z);
                    QTest::qWait(100);
                    QTest::keyRelease(view, Qt::Key_Z);
                }},
            {"right drag", [&] { stroke(QPoint(120, 36)); }},
            {"undo", [&] { QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier); }},
            {"octree key", [&] { QTest::keyClick(view, Qt::Key_O); }},
            {"mouse move", [&] { // the brush outline follows the cursor
                 const QVector3D brush = view->getPicking().getIntersectionPoint();
                 mouse(QEvent::MouseMove, c + QPoint(40, 25), Qt::NoButton, Qt::NoButton);
                 QVERIFY(view->getPicking().getIntersectionPoint() != brush);
             }}};
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
    // A camera key held when the window loses the focus or hides stops moving the camera.
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
    // The last eight files opened, newest first; a file gone since is removed with a message and
    // the mesh stays; an existing one opens and comes first.
    void recentFiles()
    {
        RecentFiles *recent = window->getRecentFiles();
        auto *menu = child<QMenu>("recentMenu");
        QStringList opened;
        for (int k = 0; k < 9; ++k) {
            opened.prepend(sphere(QStringLiteral("r%1.stl").arg(k), 1));
            QVERIFY(view->openFile(opened.first()));
        }
        QVERIFY(!view->openFile(dir.filePath(QStringLiteral("none.stl")))); // a failure is not kept
        QCOMPARE(recent->files(), opened.mid(0, RecentFiles::maxFiles));
        QCOMPARE(menu->actions().size(), RecentFiles::maxFiles);
        QVERIFY(QFile::remove(opened[2]));
        const Mesh *mesh = view->getMesh();
        menu->actions()[2]->trigger();
        QVERIFY(view->getMesh() == mesh && !recent->files().contains(opened[2]));
        QTRY_VERIFY(window->findChild<QMessageBox *>());
        menu->actions()[3]->trigger();
        QVERIFY(view->getMesh() != mesh && recent->files().first() == opened[4]
            && menu->actions().size() == RecentFiles::maxFiles - 1);
    }
    // The window's size and docks come back at the next start; the controls start as designed.
    void layoutComesBack()
    {
        window->setGeometry(60, 50, 1000, 700);
        window->addDockWidget(Qt::LeftDockWidgetArea, child<QDockWidget>("meshDock"));
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
        QCOMPARE(window->dockWidgetArea(child<QDockWidget>("meshDock")), Qt::LeftDockWidgetArea);
        QVERIFY(!child<QDockWidget>("sculptDock")->isVisible());
        QCOMPARE(child<QSlider>("radiusSlider")->value(), 50);
    }
    void penStrokeAppliedOnce_data()
    {
        // Tip and barrel, barrel as right button, tip with "pen sculpts".
        QTest::addColumn<int>("gesture");
        QTest::addColumn<int>("copies"); // mouse events made from the pen: none, before, after
        QTest::addColumn<qreal>("pressure"); // of the press and the first move, then rising
        QTest::newRow("tip and barrel, mouse before") << 0 << 1 << 0.3;
        QTest::newRow("barrel as right button, mouse after") << 1 << 2 << 0.3;
        QTest::newRow("tip with pen sculpts, mouse after") << 2 << 2 << 0.3;
        QTest::newRow("full pressure and above: as with the mouse") << 0 << 0 << 1.0;
    }
    // Whatever mouse events come with the pen's, and in whatever order, the stroke is the pen's:
    // every step once with its pressure (as the pen alone makes it; at full pressure or above, as
    // the mouse makes it, spacing included), one history state, and the camera left alone. The
    // mouse sculpts and turns the camera as ever afterwards.
    void penStrokeAppliedOnce()
    {
        QFETCH(int, gesture);
        QFETCH(int, copies);
        QFETCH(qreal, pressure);
        openForPen();
        const QPointF c(centre()); // whole pixels, as the mouse has them
        const Qt::MouseButton buttons[] = {Qt::LeftButton, Qt::RightButton, Qt::LeftButton};
        const Qt::MouseButtons held[] = {
            Qt::LeftButton | Qt::MiddleButton, Qt::RightButton, Qt::LeftButton};
        const QPointF step = pressure >= 1.0 ? QPointF(3, 1) : QPointF(7, 3);
        const MeshSnapshot original = snapshot(*view->getMesh());
        if (pressure >= 1.0)
            drag(Qt::RightButton, c.toPoint(), (c + 10 * step).toPoint(), 10);
        else
            penStroke(c, step, 10, pressure, Qt::LeftButton, Qt::LeftButton | Qt::MiddleButton, 0);
        const std::vector<QVector3D> expected = positions(*view->getMesh());
        openForPen();
        Mesh *mesh = view->getMesh();
        view->setPenSculpts(gesture == 2);
        const QQuaternion rotation = view->getCamera().getRotation();
        penStroke(c, step, 10, pressure, buttons[gesture], held[gesture], copies);
        QCOMPARE(positions(*mesh), expected);
        QVERIFY(compareWithSnapshot(original, *mesh) != QString());
        QVERIFY(mesh->getUndoStates().size() == 1 && view->getCamera().getRotation() == rotation);
        QCOMPARE(view->getSculptor().getIntensity(),
            0.75f); // the setting itself is kept
        VERIFY_MESH(*mesh);
        view->undo();
        VERIFY_SAME(original, *mesh);
        drag(Qt::RightButton, c.toPoint() + QPoint(0, 30), c.toPoint() + QPoint(32, 30), 4);
        QCOMPARE(mesh->getUndoStates().size(), std::size_t(1));
        drag(Qt::LeftButton, c.toPoint(), c.toPoint() + QPoint(40, 10), 1);
        QVERIFY(view->getCamera().getRotation() != rotation);
    }
    // One step of the pen at half pressure moves each vertex half as far as the mouse's step.
    // Without "pen sculpts" the tip alone is not a stroke: its tablet events are left for Qt to
    // turn into mouse events, and those turn the camera.
    void penTipAloneTurnsTheCamera()
    {
        openForPen();
        const QPointF c(centre());
        Mesh *mesh = view->getMesh();
        const MeshSnapshot original = snapshot(*mesh);
        drag(Qt::RightButton, c.toPoint(), c.toPoint() + QPoint(9, 0), 1);
        const std::vector<QVector3D> byMouse = positions(*mesh);
        view->undo();
        auto *box = child<QCheckBox>("penSculpts");
        QVERIFY(!box->isChecked());
        box->click();
        QVERIFY(view->getPenSculpts());
        QCOMPARE(penStroke(c, QPointF(9, 0), 1, 0.5, Qt::LeftButton, Qt::LeftButton, 0), 3);
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
        QCOMPARE(penStroke(c, QPointF(60, 20), 1, 0.8, Qt::LeftButton, Qt::LeftButton, 2), 0);
        QVERIFY(view->getCamera().getRotation() != rotation);
        VERIFY_SAME(original, *mesh);
    }
    // The title names the work and marks it while unsaved; undo back to the saved content clears
    // the mark, a new stroke after undoing past it never finds it again; a press that changes
    // nothing leaves it clean.
    void titleMark()
    {
        Document *document = window->getDocument();
        QVERIFY(view->openFile(sphere("ball.stl")));
        QCOMPARE(window->windowTitle(), QStringLiteral("ball.stl - Argilium"));
        QTest::mouseClick(view, Qt::RightButton, {}, centre());
        QVERIFY(!document->isModified());
        stroke();
        QCOMPARE(window->windowTitle(), QStringLiteral("ball.stl* - Argilium"));
        stroke(QPoint(-50, 40));
        QVERIFY(view->saveMesh(dir.filePath("copy.stl"))); // saved under another name: named so
        QCOMPARE(window->windowTitle(), QStringLiteral("copy.stl - Argilium"));
        stroke(QPoint(40, -60));
        const QList<bool> walk = {false, true, true, true, false, true}; // undo x3, redo x2, undo
        for (int i = 0; i < walk.size(); ++i) {
            i < 3 || i == 5 ? view->undo() : view->redo();
            QCOMPARE(document->isModified(), walk[i]);
        }
        stroke(QPoint(-60, -20));
        view->redo();
        QVERIFY(document->isModified());
        QVERIFY(!view->openFile(dir.filePath("missing.stl"))); // a failed open keeps name and mark
        QCOMPARE(window->windowTitle(), QStringLiteral("copy.stl* - Argilium"));
    }
    void guardedCommands_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("modified");
        QTest::addColumn<SaveAnswer>("answer");
        QTest::addColumn<QString>("saveTo"); // the save dialog: "ok" writable, "" cancelled, "bad"
        QTest::addColumn<bool>("proceeds");
        QTest::newRow("open cancel") << "open" << true << SaveAnswer::Cancel << "" << false;
        QTest::newRow("open save") << "open" << true << SaveAnswer::Save << "ok" << true;
        QTest::newRow("exit discard") << "exit" << true << SaveAnswer::Discard << "" << true;
        QTest::newRow("exit save dialog cancelled")
            << "exit" << true << SaveAnswer::Save << "" << false;
        QTest::newRow("close clean") << "close" << false << SaveAnswer::Cancel << "" << true;
        QTest::newRow("close save fails") << "close" << true << SaveAnswer::Save << "bad" << false;
        QTest::newRow("drop save") << "drop" << true << SaveAnswer::Save << "ok" << true;
    }
    // Open, Exit, closing and a drop ask before leaving unsaved work; "Save" writes it first, and a
    // cancelled or failed save keeps the work, still marked.
    void guardedCommands()
    {
        QFETCH(QString, command);
        QFETCH(bool, modified);
        QFETCH(SaveAnswer, answer);
        QFETCH(QString, saveTo);
        QFETCH(bool, proceeds);
        QVERIFY(view->openFile(sphere("first.stl")));
        if (modified)
            stroke();
        Mesh *const before = view->getMesh();
        const int triangles = before->getNbTriangles();
        const QString other = sphere("second.stl", 2);
        const QString written =
            dir.filePath(QStringLiteral("saved-%1.stl").arg(QTest::currentDataTag()));
        saveAnswer = answer;
        saveName = saveTo == "ok" ? written
            : saveTo == "bad"     ? dir.filePath("no/such/folder/x.stl")
                                  : QString();
        openName = other;
        if (command == "open") {
            window->menuBar()->actions()[0]->menu()->actions()[0]->trigger();
        } else if (command == "exit") {
            QTest::keyClick(window.get(), Qt::Key_Q, Qt::ControlModifier);
        } else if (command == "close") {
            window->close();
        } else {
            QMimeData data;
            data.setUrls({QUrl::fromLocalFile(other)});
            QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, {});
            QCoreApplication::sendEvent(window.get(), &enter);
            QDropEvent drop(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, {});
            QCoreApplication::sendEvent(window.get(), &drop);
        }
        QCOMPARE(asked, modified ? QStringList {"Save changes to first.stl?"} : QStringList());
        const bool opens = command == "open" || command == "drop";
        QCOMPARE(window->isVisible(), opens || !proceeds);
        QCOMPARE(window->windowTitle() == "second.stl - Argilium", opens && proceeds);
        QVERIFY(proceeds || (view->getMesh() == before && window->getDocument()->isModified()));
        QCOMPARE(QFile::exists(written),
            saveTo == "ok"); // "Save" wrote the work before going on
        QVERIFY(saveTo != "ok" || Files::load(written)->getNbTriangles() == triangles);
    }
    void autosave_data()
    {
        QTest::addColumn<QString>("how"); // what ends the need for the copy
        QTest::newRow("save") << "save";
        QTest::newRow("undo back to the saved content") << "undo";
        QTest::newRow("another file opened") << "open";
        QTest::newRow("exit saving") << "exit save";
        QTest::newRow("cancelled exit, then the process dies") << "crash";
    }
    // The copy is written only while there is unsaved work, again after each change, with the
    // original's path beside it; it is never offered while its process runs, and goes as soon as it
    // is not needed; a process that dies leaves it.
    void autosave()
    {
        QFETCH(QString, how);
        Autosave *autosave = window->getAutosave();
        const QString file = autosave->filePath();
        QVERIFY(!autosave->saveNow()); // no mesh
        const QString original = sphere("ball.stl");
        QVERIFY(view->openFile(original));
        QVERIFY(!autosave->saveNow()); // nothing unsaved
        stroke();
        QSignalSpy written(autosave, &Autosave::written);
        QVERIFY(autosave->saveNow());
        QVERIFY(!autosave->saveNow()); // nothing new
        QCOMPARE(written.count(), 1);
        view->setTopoMode(1);
        stroke(QPoint(-70, 10));
        QVERIFY(autosave->saveNow());
        QCOMPARE(Files::load(file)->getNbTriangles(), view->getMesh()->getNbTriangles());
        QCOMPARE(TestIo::readFile(file.chopped(4) + ".path"), original.toUtf8());
        QVERIFY(Autosave::orphans().isEmpty());
        if (how == "save") {
            QVERIFY(view->saveMesh(dir.filePath("kept.stl")));
        } else if (how == "undo") {
            view->undo();
            view->undo();
        } else if (how == "open") {
            saveAnswer = SaveAnswer::Discard;
            QVERIFY(window->getDocument()->maybeSave());
            QVERIFY(view->openFile(sphere("second.stl", 2)));
        } else if (how == "exit save") {
            saveAnswer = SaveAnswer::Save;
            saveName = dir.filePath("atexit.stl");
            QVERIFY(window->close());
        } else {
            QVERIFY(!window->close());
            window.reset(); // destroying the window is not a clean exit
            QVERIFY(QFile::exists(file));
            return;
        }
        QVERIFY(!QFile::exists(file));
        QVERIFY(QDir(folder).entryList(QDir::Files | QDir::Hidden).isEmpty());
    }
    void recoveryOffer_data()
    {
        QTest::addColumn<int>("copy"); // 0 good, 1 unreadable, 2 locked by a running process
        QTest::addColumn<bool>("accept");
        QTest::addColumn<QString>("original");
        QTest::newRow("accepted") << 0 << true << "/work/models/bust.stl";
        QTest::newRow("accepted, origin unknown") << 0 << true << "";
        QTest::newRow("declined") << 0 << false << "/work/models/bust.stl";
        QTest::newRow("unreadable: set aside") << 1 << true << "";
        QTest::newRow("live copy: not offered") << 2 << true << "";
    }
    // After a crash the newest copy of a dead process is offered first, then the older ones. A
    // recovered work is open, unsaved and named after its original.
    void recoveryOffer()
    {
        QFETCH(int, copy);
        QFETCH(bool, accept);
        QFETCH(QString, original);
        Document *document = window->getDocument();
        QVERIFY(!Autosave::offerRecovery(view, document,
            window->getAutosave())); // no copy
        QVERIFY(asked.isEmpty());
        const QString older = copy ? QString() : leaveOrphan(999999990, {}, {}, -3600);
        const QString newest =
            leaveOrphan(999999991, original, copy == 1 ? QByteArray(40, 'x') : QByteArray());
        QLockFile held(QDir(folder).filePath("recovery-999999991.lock"));
        QVERIFY(copy != 2 || held.tryLock(0));
        const QDateTime when = QFileInfo(newest).lastModified();
        recoverAnswer = accept;
        QCOMPARE(
            Autosave::offerRecovery(view, document, window->getAutosave()), accept && copy == 0);
        const QString name = original.isEmpty() ? "untitled" : QFileInfo(original).fileName();
        QCOMPARE(window->windowTitle(), accept && copy == 0 ? name + "* - Argilium" : "Argilium");
        if (copy == 2) {
            QVERIFY(asked.isEmpty() && QFile::exists(newest));
            held.unlock();
            QCOMPARE(Autosave::orphans(), QStringList {newest});
            return;
        }
        QCOMPARE(asked.first(), Prompts::recoverText(when));
        QVERIFY(!QFile::exists(newest));
        if (copy == 1) {
            QVERIFY(QFile::exists(newest.chopped(4) + ".unreadable") && !view->getMesh()
                && Autosave::orphans().isEmpty());
        } else if (accept) {
            // The work has a copy of this process's own; the older copy stays for a later start.
            QVERIFY(asked.size() == 1 && view->getMesh()->getNbTriangles() == 320
                && document->isModified() && document->path() == original
                && QFile::exists(window->getAutosave()->filePath()));
            QCOMPARE(Autosave::orphans(), QStringList {older});
            QVERIFY(!window->close()); // closing asks about the recovered work
            QCOMPARE(asked.last(), Prompts::saveChangesText(document->displayName()));
        } else {
            // Both offered, both declined: both gone.
            QCOMPARE(asked.size(), 2);
            QVERIFY(!view->getMesh() && !QFile::exists(older) && Autosave::orphans().isEmpty());
        }
    }

private:
    template<class T>
    T *child(const char *name)
    {
        return window->findChild<T *>(QLatin1String(name));
    }
    QAbstractButton *button(const QString &text)
    {
        for (QAbstractButton *b : window->findChildren<QAbstractButton *>())
            if (b->text() == text)
                return b;
        return nullptr;
    }
    QString sphere(const QString &name, int level = 3)
    {
        return TestIo::icosphereFile(dir.filePath(name), level);
    }
    QPoint centre() const { return view->rect().center(); }
    // A mouse event sent to the view; `fromPen` makes it one that the system made from the pen.
    void mouse(QEvent::Type type, QPointF p, Qt::MouseButton button, Qt::MouseButtons buttons,
        Qt::KeyboardModifiers keys = {}, bool fromPen = false)
    {
        QMouseEvent event(type, p, p, view->mapToGlobal(p), button, buttons, keys,
            fromPen ? Qt::MouseEventSynthesizedBySystem : Qt::MouseEventNotSynthesized,
            fromPen ? pen.get() : QPointingDevice::primaryPointingDevice());
        QCoreApplication::sendEvent(view, &event);
    }
    // A pen stroke of `moves` steps as Qt delivers it: tablet events, each with the mouse event
    // that the system makes from it before (copies 1) or after it (2), or none (0). Returns the
    // number of tablet events that the view took.
    int penStroke(QPointF p, QPointF step, int moves, qreal pressure, Qt::MouseButton button,
        Qt::MouseButtons held, int copies)
    {
        int taken = 0;
        auto send = [&](QEvent::Type type, QEvent::Type mouseType, qreal force, Qt::MouseButton b,
                        Qt::MouseButtons h) {
            if (copies == 1)
                mouse(mouseType, p, b, h, {}, true);
            QTabletEvent event(
                type, pen.get(), p, view->mapToGlobal(p), force, 0, 0, 0, 0, 0, {}, b, h);
            QCoreApplication::sendEvent(view, &event);
            taken += event.isAccepted();
            if (copies == 2)
                mouse(mouseType, p, b, h, {}, true);
        };
        mouse(QEvent::MouseMove, p, Qt::NoButton, Qt::NoButton, {},
            true); // hovering first
        send(QEvent::TabletPress, QEvent::MouseButtonPress, pressure, button, held);
        for (int i = 0; i < moves; ++i)
            send(QEvent::TabletMove, QEvent::MouseMove, (p += step, pressure + 0.05 * i),
                Qt::NoButton, held);
        const Qt::MouseButtons rest = held & ~Qt::MouseButtons(button);
        send(QEvent::TabletRelease, QEvent::MouseButtonRelease, 0.0, button, rest);
        if (rest != Qt::NoButton) // a barrel button let go after the tip
            send(QEvent::TabletRelease, QEvent::MouseButtonRelease, 0.0,
                Qt::MouseButton(rest.toInt()), Qt::NoButton);
        return taken;
    }
    // A drag as the mouse makes it: a hover move to `from`, a press of `button`, `steps` moves to
    // `to` with `held` down (the button alone when empty), and the release at `to`.
    void drag(Qt::MouseButton button, QPoint from, QPoint to, int steps, Qt::MouseButtons held = {},
        Qt::KeyboardModifiers keys = {})
    {
        mouse(QEvent::MouseMove, from, Qt::NoButton, Qt::NoButton, keys);
        QTest::mousePress(view, button, keys, from);
        for (int i = 1; i <= steps; ++i)
            mouse(QEvent::MouseMove, from + (to - from) * i / steps, Qt::NoButton,
                held ? held : Qt::MouseButtons(button), keys);
        QTest::mouseRelease(view, button, keys, to);
    }
    // A right-button stroke from the view's centre.
    void stroke(QPoint offset = QPoint(60, 30), int steps = 12, Qt::KeyboardModifiers keys = {})
    {
        drag(Qt::RightButton, centre(), centre() + offset, steps, {}, keys);
    }
    // The sphere open in the static mode and painted, so that picking uses the camera fitted to it.
    void openForPen()
    {
        QVERIFY(view->openFile(sphere("s.stl")));
        view->setTopoMode(4);
        view->repaint();
    }
    // No frame drawn over `ms` milliseconds, once the pending ones are drawn.
    bool idleFor(int ms)
    {
        QTest::qWait(300);
        const int frames = view->framesDrawn();
        QTest::qWait(ms);
        return view->framesDrawn() == frames;
    }
    // A recovery file as a process with the given number would have left it. `age` seconds old.
    QString leaveOrphan(qint64 pid, const QString &original, const QByteArray &bytes, int age = 0)
    {
        QDir().mkpath(folder);
        const QString base = QDir(folder).filePath(QStringLiteral("recovery-%1").arg(pid));
        TestIo::writeFile(
            base + ".stl", bytes.isEmpty() ? TestIo::readFile(sphere("r.stl", 2)) : bytes);
        TestIo::writeFile(base + ".path", original.toUtf8());
        QFile file(base + ".stl");
        if (age && file.open(QIODevice::Append))
            file.setFileTime(
                QDateTime::currentDateTime().addSecs(age), QFile::FileModificationTime);
        return base + ".stl";
    }

    QTemporaryDir dir;
    QString folder;
    std::unique_ptr<QPointingDevice> pen = std::make_unique<QPointingDevice>("test pen", 4242,
        QInputDevice::DeviceType::Stylus, QPointingDevice::PointerType::Pen,
        QInputDevice::Capability::Position | QInputDevice::Capability::Pressure, 1, 3);
    std::unique_ptr<Window> window;
    Widget3D *view = nullptr;
    QStringList asked;
    SaveAnswer saveAnswer = SaveAnswer::Cancel;
    bool recoverAnswer = false;
    QString saveName, openName;
};

QTEST_MAIN(TestApp)
#include "tst_app.moc"
