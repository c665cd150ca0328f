// The program through its main window, driven as a user drives it: the controls and menus reaching
// the view, files opened and saved (a failure keeps the mesh), strokes from the mouse and the pen
// with their undo, the point picked under the cursor (also on a screen scaled twice:
// tst_app_scaled), the load progress, drawing only after input, held keys, recent files and the
// layout, the unsaved mark and the questions before leaving work, and the recovery copy. Settings,
// recovery copies and the answers to the questions stay within the test.

#include "MeshAsserts.h"
#include "TestIo.h"
#include "app/Autosave.h"
#include "app/Document.h"
#include "app/HelpDialog.h"
#include "app/LoadProgress.h"
#include "app/Prompts.h"
#include "app/RecentFiles.h"
#include "app/SaveFormat.h"
#include "app/Widget3D.h"
#include "app/Window.h"
#include "geometry/Geometry.h"
#include "io/Files.h"
#include "render/SurfaceFormat.h"

#include <QtTest>
#include <QtWidgets>

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
        Prompts::setSaveChangesQuestion(
            [this](QWidget *, const QString &text) { return asked << text, saveAnswer; });
        Prompts::setRecoveryQuestion(
            [this](QWidget *, const QString &text) { return asked << text, recoverAnswer; });
        Prompts::setOpenFileNameQuestion([this](QWidget *) { return openName; });
    }
    // A main window of 1200 x 800, active, its view painted once (the camera has matrices for
    // picking); no recovery copy, and the questions answered by the test.
    void init()
    {
        QDir(folder).removeRecursively();
        asked.clear();
        Prompts::setSaveFileNameQuestion([this](QWidget *) { return saveName; });
        openWindow();
        QTRY_VERIFY(view->getCamera().getViewport().width() > 0);
        window->activateWindow(); // for the shortcuts
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
    }
    void cleanup() { window.reset(); }

    // ] and [ step the brush radius by 10; sliders, boxes and radio buttons reach the view. Edit's
    // mask entries draw the mask at once and are one undo step each. Help: one Controls dialog
    // that may stay open while sculpting, and the About box.
    void controls()
    {
        QVERIFY(view->openFile(sphere("s.stl")));
        for (Qt::Key key : {Qt::Key_BracketRight, Qt::Key_BracketRight, Qt::Key_BracketLeft})
            QTest::keyClick(view, key);
        QCOMPARE(view->getPicking().getRadiusScreen(), 60.0f);
        window->findChild<QSlider *>("intensitySlider")->setValue(100);
        window->findChild<QSlider *>("detailSlider")->setValue(200);
        for (const char *name : {"culling", "trackball sphere", "phong"})
            button(name)->click();
        QTest::mouseMove(view, QPoint(5, 5)); // the brush away
        const auto grey = [this] { // mean grey level around the centre
            return qGray(view->grabFramebuffer()
                             .copy(view->width() / 2 - 20, view->height() / 2 - 20, 40, 40)
                             .scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                             .pixel(0, 0));
        };
        const Vertex &vertex = view->getMesh()->getVertex(0);
        const int free = grey();
        window->findChild<QAction *>("invertMask")->trigger();
        QVERIFY(grey() < 0.9 * free);
        window->findChild<QAction *>("clearMask")->trigger();
        QCOMPARE(vertex.mask, 0.0f);
        view->undo();
        QCOMPARE(vertex.mask, 1.0f);
        view->undo();
        QCOMPARE(vertex.mask, 0.0f);
        for (int k : {0, 0, 1}) // Controls twice, About
            window->menuBar()->actions()[3]->menu()->actions()[k]->trigger();
        const auto dialogs = window->findChildren<HelpDialog *>();
        QVERIFY(dialogs.size() == 1 && dialogs[0]->isVisible() && !dialogs[0]->isModal()
            && window->findChild<QMessageBox *>("aboutBox")->isVisible());
    }
    // A file that cannot be opened (an unknown ending, a truncated file, a missing file) leaves the
    // mesh, its history and the camera as they were, with the reason in a message box and the
    // status bar. Opening resets the shading; a name without an ending saves STL; a save that
    // cannot be made says so. In the save dialog, with OBJ chosen, a name typed without an ending
    // is saved as OBJ, which opens again, and other names are kept as typed.
    void files()
    {
        window->getShaderGroup()->button(1)->click();
        QVERIFY(
            view->openFile(sphere("s.stl")) && window->getShaderGroup()->button(0)->isChecked());
        Mesh *mesh = view->getMesh();
        stroke(QPoint(40, 20));
        const MeshSnapshot before = snapshot(*mesh);
        const float distance = view->getCamera().getDistance();
        QVERIFY(TestIo::writeFile(dir.filePath("model.ply"), "ply\n")
            && TestIo::writeFile(dir.filePath("broken.stl"), QByteArray(90, 'x')));
        for (const char *name : {"model.ply", "broken.stl", "does-not-exist.stl"}) {
            QVERIFY2(!view->openFile(dir.filePath(name)) && view->getMesh() == mesh, name);
            VERIFY_SAME(before, *mesh);
            QVERIFY2(view->getCamera().getDistance() == distance && view->lastError().contains(name)
                    && window->statusBar()->currentMessage().contains(view->lastError().left(20)),
                name);
        }
        view->undo(); // the history still works on the kept mesh
        QCOMPARE(mesh->getUndoStates().size(), std::size_t(1));
        VERIFY_MESH(*mesh);
        QVERIFY(view->saveMesh(dir.filePath("out"))
            && QFileInfo(dir.filePath("out")).size() == 84 + 50 * 1280);
        QVERIFY(!view->saveMesh(dir.filePath("no-such-folder/out.stl"))
            && window->findChildren<QMessageBox *>().size() == 4);
        const QString obj = SaveFormat::objFilter();
        QVERIFY(
            SaveFormat::pathFor("a.stl", obj) == "a.stl" && SaveFormat::pathFor({}, obj).isNull());
        Prompts::setSaveFileNameQuestion({}); // the real dialog, answered when it shows
        std::function<void()> answer = [&] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return QTimer::singleShot(20, this, answer);
            dialog->selectNameFilter(obj);
            dialog->selectFile(dir.filePath("from-dialog"));
            static_cast<QDialog *>(dialog)->accept();
        };
        QTimer::singleShot(0, this, answer);
        view->saveFile();
        QVERIFY(view->openFile(dir.filePath("from-dialog.obj"))
            && view->getMesh()->getNbVertices() == 642);
    }
    void strokes_data()
    {
        QTest::addColumn<QPoint>("offset"); // the drag from the centre
        QTest::addColumn<QString>("tool"); // chosen; "symmetry": inflate with symmetry
        QTest::addColumn<int>("keys"); // held during the drag
        QTest::newRow("right drag") << QPoint(60, 30) << "inflate" << 0;
        QTest::newRow("symmetry") << QPoint(80, 60) << "symmetry" << 0;
        QTest::newRow("ctrl: deflate") << QPoint(60, 30) << "inflate" << int(Qt::ControlModifier);
        QTest::newRow("shift: smooth") << QPoint(60, 30) << "inflate" << int(Qt::ShiftModifier);
        // Moves of 5 pixels in all never pass the spacing of a tenth of the 50-pixel brush.
        QTest::newRow("within the spacing: nothing") << QPoint(3, 4) << "" << 0;
    }
    // A right drag inflates (outwards only; inwards with Ctrl), mirrored across x = 0 with
    // symmetry, as one history state that Ctrl+Z and Ctrl+Y undo and redo; the camera stays.
    // With Shift it is the smooth tool's stroke.
    void strokes()
    {
        QFETCH(QPoint, offset);
        QFETCH(QString, tool);
        QFETCH(int, keys);
        QVERIFY(view->openFile(sphere("s.stl")));
        button("static")->click(); // positions only
        if (!tool.isEmpty())
            button(tool)->click();
        Mesh *mesh = view->getMesh();
        const MeshSnapshot before = snapshot(*mesh);
        const QQuaternion rotation = view->getCamera().getRotation();
        const QPoint from = centre() + (tool == "symmetry" ? QPoint(80, 0) : QPoint());
        drag(Qt::RightButton, from, from + offset, 10, keys);
        QVERIFY(view->getCamera().getRotation() == rotation);
        QCOMPARE(mesh->getUndoStates().size(), std::size_t(1));
        VERIFY_MESH(*mesh);
        const MeshSnapshot after = snapshot(*mesh);
        QTest::keyClick(window.get(), Qt::Key_Z, Qt::ControlModifier);
        VERIFY_SAME(before, *mesh);
        QTest::keyClick(window.get(), Qt::Key_Y, Qt::ControlModifier);
        VERIFY_SAME(after, *mesh);
        int left = 0, right = 0;
        for (int i = 0; i < mesh->getNbVertices(); ++i) {
            const QVector3D p = mesh->getVertex(i).position, q = before.vertices[i].position;
            QVERIFY(keys ? p.lengthSquared() <= q.lengthSquared() * (1.0f + 1e-6f)
                         : p.lengthSquared() >= q.lengthSquared() * (1.0f - 1e-6f));
            if (p != q)
                ++(p.x() < 0 ? left : right);
        }
        QVERIFY((left + right > 0) == !tool.isEmpty() && (tool != "symmetry" || (left && right)));
        if (keys == Qt::ShiftModifier) {
            view->undo();
            button("smooth")->click();
            drag(Qt::RightButton, from, from + offset, 10);
            VERIFY_SAME(after, *mesh);
        }
    }
    // Picking works in widget pixels while the GL viewport is in device pixels: with any scale
    // factor the point picked under the cursor, away from the centre (on the front, facing the
    // camera) projects back onto the cursor, and the frame fills the view.
    void pickUnderCursor()
    {
        QVERIFY(view->openFile(sphere("s.stl")));
        view->update();
        QTest::qWait(50);
        const QPoint cursor = centre() - QPoint(view->height() / 10, view->height() * 3 / 20);
        mouse(QEvent::MouseMove, cursor, Qt::NoButton, Qt::NoButton);
        const QVector3D picked = view->getPicking().getIntersectionPoint();
        QVERIFY(view->getPicking().getMesh() == view->getMesh() && picked.z() > 0.0f);
        double depth = 0.0;
        const QPointF back =
            Geometry::worldToScreen(view->getMesh()->getTransformation().map(picked),
                view->getCamera().screenTransform(), view->width(), view->height(), depth);
        QCOMPARE_LT(QLineF(back, QPointF(cursor)).length(), 0.5);
        view->makeCurrent(); // the GL viewport of the frame drawn, in device pixels
        GLint viewport[4];
        view->context()->functions()->glGetIntegerv(GL_VIEWPORT, viewport);
        QCOMPARE(viewport[2], int(view->width() * view->devicePixelRatioF()));
    }
    // A load shows each step's message in order, and a progress
    // bar while parsing, from 0 to 100 and rising; an open asked for meanwhile is refused.
    void loadShowsProgress()
    {
        QStatusBar *bar = window->statusBar();
        QProgressBar *progress = LoadProgress::progressBar(bar);
        QStringList steps;
        QList<int> values;
        bool refused = false;
        connect(bar, &QStatusBar::messageChanged, this, [&](const QString &text) {
            if ((text.startsWith("Loading") || text == "Argilium" || text.startsWith(" Triangles"))
                && !text.contains("FPS"))
                steps << text + (progress->isVisible() ? " (bar)" : "");
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
        QVERIFY(values.size() >= 2 && values.first() == 0 && values.last() == 100 && refused);
        QVERIFY(std::adjacent_find(values.begin(), values.end(), std::greater_equal<>())
            == values.end());
        QVERIFY(!progress->isVisible() && !view->isLoading());
    }
    // The view draws a frame after each input that changes what it shows, and none while idle.
    void drawsOnlyAfterInput()
    {
        QVERIFY(view->openFile(sphere("s.stl")));
        const QPoint c = centre();
        mouse(QEvent::MouseMove, c, Qt::NoButton, Qt::NoButton);
        QVERIFY(idleFor(1000));
        int frames = view->framesDrawn();
        const auto drawn = [&](const char *input) {
            QTRY_VERIFY2(view->framesDrawn() > frames, input);
            QVERIFY2(idleFor(400), input);
            frames = view->framesDrawn();
        };
        QWheelEvent wheel(
            c, view->mapToGlobal(c), {}, QPoint(0, 120), {}, {}, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(view, &wheel);
        drawn("wheel");
        QTest::keyPress(window->findChild<QSlider *>("radiusSlider"), Qt::Key_Z); // to the view
        QTest::qWait(100);
        QTest::keyRelease(window->findChild<QSlider *>("radiusSlider"), Qt::Key_Z);
        drawn("Z held");
        stroke(QPoint(120, 36));
        drawn("right drag");
        QTest::keyClick(view, Qt::Key_O);
        drawn("octree key");
        const QVector3D brush = view->getPicking().getIntersectionPoint();
        mouse(QEvent::MouseMove, c + QPoint(40, 25), Qt::NoButton, Qt::NoButton);
        QVERIFY(view->getPicking().getIntersectionPoint() != brush); // the outline follows
        drawn("mouse move");
    }
    // A camera key held when the window loses the focus, then when it hides, stops moving the
    // camera; a key that a slider ignores climbs to the view.
    void heldKeyStops()
    {
        QWidget other;
        for (bool hide : {false, true}) {
            window->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(window.get()));
            view->setFocus();
            QTest::keyPress(window->findChild<QSlider *>("radiusSlider"), Qt::Key_Z);
            QVERIFY(view->motionTimer() != 0);
            if (hide) {
                window->hide();
            } else {
                other.show();
                other.activateWindow();
                QVERIFY(QTest::qWaitForWindowActive(&other));
            }
            QTRY_COMPARE(view->motionTimer(), 0);
        }
    }
    // The last eight files opened, newest first; a file gone since is removed with a message and
    // the mesh stays; an existing one opens and comes first. The window's docks come back at the
    // next start.
    void recentFilesAndLayout()
    {
        RecentFiles *recent = window->getRecentFiles();
        auto *menu = window->findChild<QMenu *>("recentMenu");
        QStringList opened;
        for (int k = 0; k < 9; ++k)
            QVERIFY(view->openFile(opened.emplaceFront(sphere(QString("r%1.stl").arg(k), 0))));
        QCOMPARE(recent->files(), opened.mid(0, RecentFiles::maxFiles));
        QVERIFY(QFile::remove(opened[2]));
        const Mesh *mesh = view->getMesh();
        menu->actions()[2]->trigger();
        QVERIFY(view->getMesh() == mesh && !recent->files().contains(opened[2])
            && window->findChild<QMessageBox *>());
        menu->actions()[3]->trigger();
        QVERIFY(view->getMesh() != mesh && recent->files().first() == opened[4]
            && menu->actions().size() == RecentFiles::maxFiles - 1);
        window->addDockWidget(Qt::LeftDockWidgetArea, window->findChild<QDockWidget *>("meshDock"));
        QVERIFY(window->close());
        openWindow(true);
        QCOMPARE(window->dockWidgetArea(window->findChild<QDockWidget *>("meshDock")),
            Qt::LeftDockWidgetArea);
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
        const Qt::MouseButton buttons[] = {Qt::LeftButton, Qt::RightButton, Qt::LeftButton};
        const Qt::MouseButtons held[] = {
            Qt::LeftButton | Qt::MiddleButton, Qt::RightButton, Qt::LeftButton};
        const QPointF c = openForPen(), step = pressure >= 1.0 ? QPointF(3, 1) : QPointF(7, 3);
        const MeshSnapshot original = snapshot(*view->getMesh());
        if (pressure >= 1.0)
            drag(Qt::RightButton, c.toPoint(), (c + 10 * step).toPoint(), 10);
        else
            penStroke(c, step, 10, pressure, Qt::LeftButton, held[0], 0);
        const std::vector<QVector3D> expected = positions(*view->getMesh());
        openForPen();
        Mesh *mesh = view->getMesh();
        view->setPenSculpts(gesture == 2);
        const QQuaternion rotation = view->getCamera().getRotation();
        penStroke(c, step, 10, pressure, buttons[gesture], held[gesture], copies);
        QCOMPARE(positions(*mesh), expected);
        QVERIFY(compareWithSnapshot(original, *mesh) != QString()
            && mesh->getUndoStates().size() == 1 && view->getCamera().getRotation() == rotation
            && view->getSculptor().getIntensity() == 0.75f); // the setting itself is kept
        VERIFY_MESH(*mesh);
        view->undo();
        VERIFY_SAME(original, *mesh);
        drag(Qt::RightButton, c.toPoint() + QPoint(0, 30), c.toPoint() + QPoint(32, 30), 4);
        QCOMPARE(mesh->getUndoStates().size(), std::size_t(1));
        drag(Qt::LeftButton, c.toPoint(), c.toPoint() + QPoint(40, 10), 1);
        QVERIFY(view->getCamera().getRotation() != rotation);
    }
    // One step of the pen (its tip alone with "pen sculpts") at half pressure moves each vertex
    // half as far as the mouse's step.
    void penPressure()
    {
        const QPointF c = openForPen();
        Mesh *mesh = view->getMesh();
        const MeshSnapshot original = snapshot(*mesh);
        drag(Qt::RightButton, c.toPoint(), c.toPoint() + QPoint(9, 0), 1);
        const std::vector<QVector3D> byMouse = positions(*mesh);
        view->undo();
        window->findChild<QCheckBox *>("penSculpts")->click();
        penStroke(c, QPointF(9, 0), 1, 0.5, Qt::LeftButton, Qt::LeftButton, 0);
        QVERIFY(compareWithSnapshot(original, *mesh) != QString());
        for (int i = 0; i < mesh->getNbVertices(); ++i)
            QVERIFY(mesh->getVertex(i).position.distanceToPoint(
                        (original.vertices[i].position + byMouse[i]) / 2)
                <= 1e-3f);
    }
    void leavingWork_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<SaveAnswer>("answer"); // to "Save changes?"
        QTest::addColumn<QString>("saveTo"); // the save dialog: "ok" writable, "" cancelled, "bad"
        QTest::addColumn<bool>("proceeds"); // the work is left, saved or back to its saved content
        QTest::newRow("open save") << "open" << SaveAnswer::Save << "ok" << true;
        QTest::newRow("exit discard") << "exit" << SaveAnswer::Discard << "" << true;
        QTest::newRow("exit dialog cancelled") << "exit" << SaveAnswer::Save << "" << false;
        QTest::newRow("close save fails") << "close" << SaveAnswer::Save << "bad" << false;
        QTest::newRow("drop save") << "drop" << SaveAnswer::Save << "ok" << true;
        QTest::newRow("undo to the saved content") << "undo" << SaveAnswer::Cancel << "" << true;
        QTest::newRow("exit cancelled, the process dies")
            << "crash" << SaveAnswer::Cancel << "" << false;
    }
    // Open, Exit, closing and a drop ask before leaving unsaved work; "Save" writes it first, and a
    // cancelled or failed save keeps the work, still marked. The recovery copy is written only
    // while there is unsaved work, again after each change, with the original's path beside it;
    // it is never offered while its process runs, and goes as soon as it is not needed; a process
    // that dies leaves it.
    void leavingWork()
    {
        QFETCH(QString, command);
        QFETCH(SaveAnswer, answer);
        QFETCH(QString, saveTo);
        QFETCH(bool, proceeds);
        Autosave *autosave = window->getAutosave();
        const QString copy = autosave->filePath(), original = sphere("first.stl");
        QVERIFY(!autosave->saveNow() && view->openFile(original)); // no copy without a mesh
        QTest::mouseClick(view, Qt::RightButton, {}, centre());
        QVERIFY(!autosave->saveNow()); // nothing unsaved, not even by a press that changes nothing
        stroke();
        QVERIFY(autosave->saveNow() && !autosave->saveNow()); // the second time, nothing new
        view->setTopoMode(1);
        stroke(QPoint(-70, 10));
        Mesh *const before = view->getMesh();
        const int triangles = before->getNbTriangles();
        QVERIFY(autosave->saveNow() && Autosave::orphans().isEmpty()
            && Files::load(copy)->getNbTriangles() == triangles);
        QCOMPARE(TestIo::readFile(copy.chopped(4) + ".path"), original.toUtf8());
        const QString saved = dir.filePath(QTest::currentDataTag() + QString(".stl"));
        saveAnswer = answer;
        saveName = saveTo == "ok" ? saved : saveTo.isEmpty() ? QString() : dir.filePath("no/x.stl");
        openName = sphere("second.stl", 2);
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(openName)});
        QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, {});
        QDropEvent drop(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, {});
        if (command == "open")
            window->menuBar()->actions()[0]->menu()->actions()[0]->trigger();
        else if (command == "exit")
            QTest::keyClick(window.get(), Qt::Key_Q, Qt::ControlModifier);
        else if (command == "drop")
            QCoreApplication::sendEvent(window.get(), &enter),
                QCoreApplication::sendEvent(window.get(), &drop);
        else if (command == "undo")
            view->undo(), view->undo();
        else
            window->close();
        const bool stays = command == "undo"; // nothing is left: no question
        QCOMPARE(asked, stays ? QStringList() : QStringList {"Save changes to first.stl?"});
        const bool opens = command == "open" || command == "drop";
        QCOMPARE(window->isVisible(), opens || stays || !proceeds);
        QCOMPARE(window->windowTitle() == "second.stl - Argilium", opens && proceeds);
        QVERIFY(proceeds || (view->getMesh() == before && window->getDocument()->isModified()));
        QCOMPARE(QFile::exists(saved), saveTo == "ok"); // "Save" wrote the work before going on
        QVERIFY(saveTo != "ok" || Files::load(saved)->getNbTriangles() == triangles);
        if (command == "crash")
            window.reset(); // destroying the window is not a clean exit
        QCOMPARE(QFile::exists(copy), !proceeds);
        QVERIFY(!proceeds || QDir(folder).entryList(QDir::Files | QDir::Hidden).isEmpty());
    }
    void recoveryOffer_data()
    {
        QTest::addColumn<int>("copy"); // 0 good, 1 unreadable, 2 locked by a running process
        QTest::addColumn<bool>("accept");
        QTest::newRow("accepted") << 0 << true;
        QTest::newRow("declined") << 0 << false;
        QTest::newRow("unreadable: set aside") << 1 << true;
        QTest::newRow("live copy: not offered") << 2 << true;
    }
    // After a crash the newest copy of a dead process is offered first, then the older ones. A
    // recovered work is open, unsaved and named after its original.
    void recoveryOffer()
    {
        QFETCH(int, copy);
        QFETCH(bool, accept);
        Document *document = window->getDocument();
        Autosave *autosave = window->getAutosave();
        const QString older = copy ? QString() : leaveOrphan(999999990, {}, {}, -3600);
        const QString newest = leaveOrphan(
            999999991, "/work/models/bust.stl", copy == 1 ? QByteArray(40, 'x') : QByteArray());
        QLockFile held(QDir(folder).filePath("recovery-999999991.lock"));
        QVERIFY(copy != 2 || held.tryLock(0));
        const QDateTime when = QFileInfo(newest).lastModified();
        recoverAnswer = accept;
        QCOMPARE(Autosave::offerRecovery(view, document, autosave), accept && copy == 0);
        QCOMPARE(window->windowTitle(), accept && copy == 0 ? "bust.stl* - Argilium" : "Argilium");
        if (copy == 2) {
            QVERIFY(asked.isEmpty() && QFile::exists(newest));
            held.unlock();
            QCOMPARE(Autosave::orphans(), QStringList {newest});
            return;
        }
        QVERIFY(asked.first() == Prompts::recoverText(when) && !QFile::exists(newest));
        if (copy == 1) {
            QVERIFY(QFile::exists(newest.chopped(4) + ".unreadable") && !view->getMesh()
                && Autosave::orphans().isEmpty());
        } else if (accept) {
            // The work has a copy of this process's own; the older copy stays for a later start.
            QVERIFY(asked.size() == 1 && view->getMesh()->getNbTriangles() == 320
                && document->isModified() && document->path() == "/work/models/bust.stl"
                && QFile::exists(autosave->filePath()));
            QCOMPARE(Autosave::orphans(), QStringList {older});
        } else { // both offered, both declined: both gone
            QVERIFY(asked.size() == 2 && !view->getMesh() && !QFile::exists(older)
                && Autosave::orphans().isEmpty());
        }
    }

private:
    // A new main window of 1200 x 800, shown (its layout restored first when asked).
    void openWindow(bool restore = false)
    {
        window = std::make_unique<Window>();
        window->resize(1200, 800);
        QVERIFY(!restore || window->restoreLayout());
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        view = window->getView();
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
        bool fromPen = false, Qt::KeyboardModifiers keys = {})
    {
        QMouseEvent event(type, p, p, view->mapToGlobal(p), button, buttons, keys,
            fromPen ? Qt::MouseEventSynthesizedBySystem : Qt::MouseEventNotSynthesized,
            fromPen ? pen.get() : QPointingDevice::primaryPointingDevice());
        QCoreApplication::sendEvent(view, &event);
    }
    // A pen stroke of `moves` steps as Qt delivers it: tablet events, each with the mouse event
    // that the system makes from it before (copies 1) or after it (2), or none (0).
    void penStroke(QPointF p, QPointF step, int moves, qreal pressure, Qt::MouseButton button,
        Qt::MouseButtons held, int copies)
    {
        auto send = [&](QEvent::Type type, qreal force, Qt::MouseButton b, Qt::MouseButtons h) {
            static const QMap<QEvent::Type, QEvent::Type> mouseType = {
                {QEvent::TabletPress, QEvent::MouseButtonPress},
                {QEvent::TabletMove, QEvent::MouseMove},
                {QEvent::TabletRelease, QEvent::MouseButtonRelease}};
            if (copies == 1)
                mouse(mouseType[type], p, b, h, true);
            QTabletEvent event(
                type, pen.get(), p, view->mapToGlobal(p), force, 0, 0, 0, 0, 0, {}, b, h);
            QCoreApplication::sendEvent(view, &event);
            if (copies == 2)
                mouse(mouseType[type], p, b, h, true);
        };
        mouse(QEvent::MouseMove, p, Qt::NoButton, Qt::NoButton, true); // hovering first
        send(QEvent::TabletPress, pressure, button, held);
        for (int i = 0; i < moves; ++i)
            send(QEvent::TabletMove, (p += step, pressure + 0.05 * i), Qt::NoButton, held);
        const Qt::MouseButtons rest = held & ~Qt::MouseButtons(button);
        send(QEvent::TabletRelease, 0.0, button, rest);
        if (rest != Qt::NoButton) // a barrel button let go after the tip
            send(QEvent::TabletRelease, 0.0, Qt::MouseButton(rest.toInt()), Qt::NoButton);
    }
    // A drag as the mouse makes it: a hover move to `from`, a press of `button`, `steps` moves to
    // `to`, and the release at `to`.
    void drag(Qt::MouseButton button, QPoint from, QPoint to, int steps, int keys = 0)
    {
        mouse(QEvent::MouseMove, from, Qt::NoButton, Qt::NoButton);
        QTest::mousePress(view, button, Qt::KeyboardModifiers(keys), from);
        for (int i = 1; i <= steps; ++i)
            mouse(QEvent::MouseMove, from + (to - from) * i / steps, Qt::NoButton, button, false,
                Qt::KeyboardModifiers(keys));
        QTest::mouseRelease(view, button, Qt::KeyboardModifiers(keys), to);
    }
    // A right-button stroke from the view's centre.
    void stroke(QPoint to = {60, 30}) { drag(Qt::RightButton, centre(), centre() + to, 12); }
    // The sphere open in the static mode and painted, so that picking uses the camera fitted to
    // it; returns the view's centre.
    QPointF openForPen()
    {
        [this] { QVERIFY(view->openFile(sphere("s.stl"))); }();
        view->setTopoMode(4);
        view->repaint();
        return centre();
    }
    // No frame drawn over `ms` milliseconds, once the pending ones are drawn.
    bool idleFor(int ms)
    {
        QTest::qWait(300);
        const int frames = view->framesDrawn();
        QTest::qWait(ms);
        return view->framesDrawn() == frames;
    }
    // A recovery file as a process with the given number would have left it, `age` seconds old.
    QString leaveOrphan(qint64 pid, const QString &original, const QByteArray &bytes, int age = 0)
    {
        QDir().mkpath(folder);
        const QString base = QDir(folder).filePath(QStringLiteral("recovery-%1").arg(pid));
        TestIo::writeFile(base + ".path", original.toUtf8());
        QFile file(base + ".stl");
        TestIo::writeFile(
            file.fileName(), bytes.isEmpty() ? TestIo::readFile(sphere("r.stl", 2)) : bytes);
        if (file.open(QIODevice::Append)) // for its time only
            file.setFileTime(
                QDateTime::currentDateTime().addSecs(age), QFile::FileModificationTime);
        return file.fileName();
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
