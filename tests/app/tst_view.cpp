// The view driven as a user would: files opened, dropped and saved, failures that keep the mesh,
// strokes with the right button undone through the menu keys, the point picked under the cursor,
// and a long load that shows its progress.

#include "MeshAsserts.h"
#include "TestIo.h"
#include "WindowSetup.h"
#include "app/LoadProgress.h"
#include "geometry/Geometry.h"
#include "render/SurfaceFormat.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QStatusBar>
#include <QTemporaryDir>

using namespace TestMeshes;

class TestView : public QObject
{
    Q_OBJECT

public:
    static void initMain() { setDefaultSurfaceFormat(0); }

private slots:
    void init() { showTestWindow(window, view); }
    void cleanup() { window.reset(); }
    // Without a mesh the history and the octree key do nothing; opening (any case of the ending)
    // fits the camera to the mesh and resets the shading; a name without an ending saves STL, OBJ
    // opens again, a save that cannot be made says so.
    void openAndSave()
    {
        QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
        QTest::keyClick(view, Qt::Key_O);
        QVERIFY(!view->getMesh() && window->findChildren<QMessageBox *>().isEmpty());
        QVERIFY(QFile::copy(sphere(3), dir.filePath("upper.STL")));
        window->getShaderGroup()->button(1)->click();
        QVERIFY(view->openFile(dir.filePath("upper.STL")));
        QVERIFY(window->getShaderGroup()->button(0)->isChecked());
        const Aabb &box = view->getMesh()->getOctree()->aabbLoose;
        QCOMPARE(view->getCamera().getMotionScale(), (box.max - box.min).length());
        QVERIFY(view->saveMesh(dir.filePath("out")));
        QCOMPARE(QFileInfo(dir.filePath("out")).size(), qint64(84 + 50 * 1280));
        QVERIFY(!view->saveMesh(dir.filePath("no-such-folder/out.stl")));
        QCOMPARE(window->findChildren<QMessageBox *>().size(), 1);
        QVERIFY(view->saveMesh(dir.filePath("saved.obj")));
        QVERIFY(view->openFile(dir.filePath("saved.obj")));
        QCOMPARE(view->getMesh()->getNbVertices(), 642);
        QMimeData other;
        other.setUrls({QUrl::fromLocalFile(dir.filePath("notes.txt"))});
        QVERIFY(Window::droppedMeshFile(&other).isEmpty());
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
        QVERIFY(view->openFile(sphere(2)));
        Mesh *mesh = view->getMesh();
        dragInView(view, Qt::RightButton, QPoint(600, 400), QPoint(640, 420), 8);
        const MeshSnapshot before = snapshot(*mesh);
        const float distance = view->getCamera().getDistance();
        if (!contents.isEmpty())
            QVERIFY(TestIo::writeFile(dir.filePath(name), contents));
        QVERIFY(!view->openFile(dir.filePath(name)));
        QCOMPARE(view->getMesh(), mesh);
        VERIFY_SAME(before, *mesh);
        QCOMPARE(view->getCamera().getDistance(), distance);
        QVERIFY(!view->lastError().isEmpty());
        QVERIFY(window->statusBar()->currentMessage().contains(view->lastError().left(20)));
        QCOMPARE(window->findChildren<QMessageBox *>().size(), 1);
        view->undo(); // the history still works on the kept mesh
        QCOMPARE(mesh->getUndoStates().size(), std::size_t(1));
        VERIFY_MESH(*mesh);
    }
    void strokes_data()
    {
        QTest::addColumn<QPoint>("offset"); // the drag from the centre
        QTest::addColumn<bool>("symmetry");
        QTest::addColumn<Qt::MouseButtons>("held");
        const Qt::MouseButtons right = Qt::RightButton;
        QTest::newRow("right drag") << QPoint(60, 30) << false << right;
        QTest::newRow("right drag, symmetry") << QPoint(80, 60) << true << right;
        // Moves of 5 pixels in all never pass the spacing of a tenth of the 50-pixel brush.
        QTest::newRow("moves within the spacing: nothing") << QPoint(3, 4) << false << right;
        QTest::newRow("left and right together: nothing")
            << QPoint(100, 50) << false << (Qt::LeftButton | right);
    }
    // A right drag inflates (outwards only), mirrored across x = 0 with symmetry, as one history
    // state that Ctrl+Z and Ctrl+Y undo and redo; the camera stays.
    void strokes()
    {
        QFETCH(QPoint, offset);
        QFETCH(bool, symmetry);
        QFETCH(Qt::MouseButtons, held);
        QVERIFY(view->openFile(sphere(3)));
        view->setTopoMode(4); // static: positions only
        if (symmetry)
            view->setSymmetry();
        Mesh *mesh = view->getMesh();
        const MeshSnapshot before = snapshot(*mesh);
        const QQuaternion rotation = view->getCamera().getRotation();
        const QPoint from = centre() + (symmetry ? QPoint(80, 0) : QPoint());
        dragInView(view, held.testFlag(Qt::LeftButton) ? Qt::LeftButton : Qt::RightButton, from,
            from + offset, 10, held);
        QCOMPARE(view->getCamera().getRotation(), rotation);
        QCOMPARE(mesh->getUndoStates().size(), std::size_t(held == Qt::RightButton));
        if (QString(QTest::currentDataTag()).endsWith("nothing")) {
            VERIFY_SAME(before, *mesh);
            return;
        }
        int left = 0, right = 0;
        for (int i = 0; i < mesh->getNbVertices(); ++i) {
            const QVector3D p = mesh->getVertex(i).position, q = before.vertices[i].position;
            QVERIFY(p.lengthSquared() >= q.lengthSquared() * (1.0f - 1e-6f));
            if (p != q)
                ++(p.x() < 0 ? left : right);
        }
        QVERIFY(left + right > 0 && (!symmetry || (left > 0 && right > 0)));
        VERIFY_MESH(*mesh);
        const MeshSnapshot after = snapshot(*mesh);
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QTest::keyClick(window.get(), Qt::Key_Z, Qt::ControlModifier);
        VERIFY_SAME(before, *mesh);
        QTest::keyClick(window.get(), Qt::Key_Y, Qt::ControlModifier);
        VERIFY_SAME(after, *mesh);
    }
    void pickUnderCursor_data()
    {
        QTest::addColumn<QPointF>("offset"); // from the view centre, in units of the view height
        QTest::newRow("centre") << QPointF(0, 0);
        QTest::newRow("up left") << QPointF(-0.1, -0.15);
    }
    // Picking works in widget pixels while the GL viewport is in device pixels: with any scale
    // factor (the test also runs with QT_SCALE_FACTOR=2) the point picked under the cursor projects
    // back onto the cursor.
    void pickUnderCursor()
    {
        QFETCH(QPointF, offset);
        QVERIFY(view->openFile(sphere(3)));
        view->update();
        QTest::qWait(50);
        const QPoint cursor = centre() + (offset * view->height()).toPoint();
        QMouseEvent move(
            QEvent::MouseMove, cursor, view->mapToGlobal(cursor), Qt::NoButton, {}, {});
        QCoreApplication::sendEvent(view, &move);
        Picking &picking = view->getPicking();
        QVERIFY(picking.getMesh() == view->getMesh());
        QVERIFY(picking.getIntersectionPoint().z() > 0.0f); // the front, facing the camera
        double depth = 0.0;
        const QPointF back = Geometry::worldToScreen(
            view->getMesh()->getTransformation().map(picking.getIntersectionPoint()),
            view->getCamera().screenTransform(), view->width(), view->height(), depth);
        QVERIFY2(QLineF(back, QPointF(cursor)).length() < 0.5,
            qPrintable(QStringLiteral("%1 %2").arg(back.x()).arg(back.y())));
        QCOMPARE(view->getCamera().viewportRect(view->devicePixelRatioF())[2],
            int(view->width() * view->devicePixelRatioF()));
    }
    // A load shows each step's message in order, with the window painted in between, and a progress
    // bar while parsing, from 0 to 100 and rising; an open asked for meanwhile is refused.
    void loadShowsProgress()
    {
        QStatusBar *bar = window->statusBar();
        QProgressBar *progress = LoadProgress::progressBar(bar);
        struct Painted : QObject
        {
            int paints = 0;
            bool eventFilter(QObject *, QEvent *e) override
            {
                return paints += e->type() == QEvent::Paint, false;
            }
        } counter;
        bar->installEventFilter(&counter);
        QStringList steps;
        QList<int> values;
        int lastPaints = -1;
        bool paintedBetween = true, refused = false;
        connect(bar, &QStatusBar::messageChanged, this, [&](const QString &text) {
            if (text.startsWith("Loading") || text == "Argilium") {
                paintedBetween = paintedBetween && counter.paints > lastPaints;
                lastPaints = counter.paints;
            }
            if ((text.startsWith("Loading") || text == "Argilium" || text.startsWith(" Triangles"))
                && !text.contains("FPS"))
                steps << text + (progress->isVisible() ? " (bar)" : "");
        });
        connect(progress, &QProgressBar::valueChanged, this, [&](int value) {
            if (values.isEmpty())
                refused = view->isLoading() && !view->openFile(sphere(1));
            values << value;
        });
        QVERIFY(view->openFile(sphere(5))); // 20480 triangles
        QCOMPARE(steps,
            QStringList({"Loading : parsing (bar)", "Loading : Init topology 1/2",
                "Loading : scaling", "Loading : Init topology 2/2", "Loading : Init octree",
                "Loading : Init VBO 1", "Loading : Init VBO 2", "Argilium",
                " Triangles : 20480     Vertices : 10242"}));
        QVERIFY(paintedBetween);
        QVERIFY(values.size() >= 2 && values.first() == 0 && values.last() == 100);
        QVERIFY(std::is_sorted(values.begin(), values.end())
            && std::adjacent_find(values.begin(), values.end()) == values.end());
        QVERIFY(!progress->isVisible() && refused && !view->isLoading());
    }

private:
    QString sphere(int level)
    {
        return TestIo::icosphereFile(
            dir.filePath(QStringLiteral("sphere%1.stl").arg(level)), level);
    }
    QPoint centre() const { return view->rect().center(); }

    QTemporaryDir dir;
    std::unique_ptr<Window> window;
    Widget3D *view = nullptr;
};

QTEST_MAIN(TestView)
#include "tst_view.moc"
