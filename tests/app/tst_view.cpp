#include "TestIo.h"
#include "TestMeshes.h"
#include "WindowSetup.h"
#include "app/Widget3D.h"
#include "app/Window.h"
#include "geometry/Geometry.h"
#include "io/Files.h"
#include "mesh/MeshCheck.h"
#include "render/SurfaceFormat.h"

#include <QButtonGroup>
#include <QFile>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

using namespace TestMeshes;

// The view driven as a user would: files opened and saved, strokes made with the right button,
// undo and redo, the settings slots.
class TestView : public QObject
{
    Q_OBJECT

public:
    static void initMain() { setDefaultSurfaceFormat(0); }

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void settingsSlots();
    void historyWithoutMesh();
    void openFitsCameraAndResetsButtons();
    void failedOpenKeepsMesh_data();
    void failedOpenKeepsMesh();
    void rightDragSculptsAndUndoRestores();
    void symmetricStrokeIsMirrored();
    void spacingSkipsSmallMoves();
    void leftAndRightTogetherDoNothing();
    void saveWritesFile();
    void failedSaveKeepsFile();
    void dropOpensFile();
    void octreeKey();
    void statusTexts();
    void pickUnderCursor_data();
    void pickUnderCursor();

private:
    QString writeSphere(int level, const QString &name);
    void closeMessageBoxes();
    void drag(Qt::MouseButton button, QPoint from, QPoint to, int steps);

    QTemporaryDir dir;
    std::unique_ptr<Window> window;
    Widget3D *view = nullptr;
};

QString TestView::writeSphere(int level, const QString &name)
{
    return TestIo::icosphereFile(dir.filePath(name), level);
}

void TestView::closeMessageBoxes()
{
    for (QMessageBox *box : window->findChildren<QMessageBox *>())
        box->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void TestView::drag(Qt::MouseButton button, QPoint from, QPoint to, int steps)
{
    QTest::mouseMove(view, from);
    QTest::mousePress(view, button, {}, from);
    for (int i = 1; i <= steps; ++i) {
        const QPoint p = from + (to - from) * i / steps;
        QMouseEvent move(QEvent::MouseMove, p, view->mapToGlobal(p), Qt::NoButton, button, {});
        QCoreApplication::sendEvent(view, &move);
    }
    QTest::mouseRelease(view, button, {}, to);
}

void TestView::initTestCase()
{
    QVERIFY(dir.isValid());
}

void TestView::init()
{
    showTestWindow(window, view);
}

void TestView::cleanup()
{
    closeMessageBoxes();
    window.reset();
    view = nullptr;
}

void TestView::settingsSlots()
{
    view->setSculptRadius(5);
    QCOMPARE(view->getPicking().getRadiusScreen(), 20.0f);
    view->setSculptRadius(200);
    QCOMPARE(view->getPicking().getRadiusScreen(), 200.0f);
    view->setSculptIntensity(0);
    QCOMPARE(view->getSculptor().getIntensity(), 0.0f);
    view->setSculptIntensity(150);
    QCOMPARE(view->getSculptor().getIntensity(), 0.75f);
    view->setTopoDetail(200);
    QCOMPARE(view->getSculptor().getDetail(), 1.0f);
    view->setSculptMode(3);
    QCOMPARE(view->getSculptor().getTool(), 3);
    view->setTopoMode(4);
    QCOMPARE(view->getSculptor().getTopoMode(), 4);
    QVERIFY(!view->getSculptor().getCulling());
    view->setSculptCulling();
    QVERIFY(view->getSculptor().getCulling());
    QVERIFY(!view->getSymmetry());
    view->setSymmetry();
    QVERIFY(view->getSymmetry());
    view->setCamera(2);
    QCOMPARE(view->getCamera().getMode(), 2);
}

void TestView::historyWithoutMesh()
{
    QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
    QTest::keyClick(view, Qt::Key_Y, Qt::ControlModifier);
    view->undo();
    view->redo();
    view->setMeshColor(); // no dialog without a mesh
    view->setMeshShader(1);
    QVERIFY(!view->getMesh());
    QVERIFY(window->findChildren<QMessageBox *>().isEmpty());
}

void TestView::openFitsCameraAndResetsButtons()
{
    const QString path = writeSphere(3, QStringLiteral("sphere.STL"));
    window->getShaderGroup()->button(1)->click();
    QVERIFY(view->openFile(path)); // upper-case ending
    QVERIFY(view->getMesh());
    QCOMPARE(view->getMesh()->getNbTriangles(), 1280);
    QCOMPARE(checkMesh(*view->getMesh()), QString());
    QVERIFY(window->getShaderGroup()->button(0)->isChecked());
    QCOMPARE(window->getColorButton()->palette().color(QPalette::Button), QColor(120, 200, 200));
    const Aabb &box = view->getMesh()->getOctree()->aabbLoose;
    const float diagonal = (box.max - box.min).length();
    QCOMPARE(view->getCamera().getMotionScale(), diagonal);
    QVERIFY(qAbs(view->getCamera().getDistance() - 0.4f * diagonal) < 1e-3f * diagonal);
    // Undo does nothing until a first stroke.
    const MeshSnapshot before = snapshot(*view->getMesh());
    view->undo();
    QCOMPARE(compareWithSnapshot(before, *view->getMesh()), QString());
}

void TestView::failedOpenKeepsMesh_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("contents");
    QTest::newRow("unknown ending") << "model.ply" << QByteArray("ply\n");
    QTest::newRow("truncated stl") << "broken.stl" << QByteArray(90, 'x');
    QTest::newRow("missing file") << "" << QByteArray();
    QTest::newRow("bad obj reference") << "bad.obj" << QByteArray("v 0 0 0\nf 1 2 3\n");
}

void TestView::failedOpenKeepsMesh()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, contents);
    QVERIFY(view->openFile(writeSphere(2, QStringLiteral("small.stl"))));
    Mesh *mesh = view->getMesh();
    // A stroke, so that there is history to keep.
    drag(Qt::RightButton, QPoint(600, 400), QPoint(640, 420), 8);
    const MeshSnapshot before = snapshot(*mesh);
    const float distance = view->getCamera().getDistance();
    const int undoStates = int(mesh->getUndoStates().size());

    QString path = dir.filePath(name.isEmpty() ? QStringLiteral("does-not-exist.stl") : name);
    if (!name.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(contents);
    }
    QVERIFY(!view->openFile(path));
    QCOMPARE(view->getMesh(), mesh);
    QCOMPARE(compareWithSnapshot(before, *mesh), QString());
    QCOMPARE(int(mesh->getUndoStates().size()), undoStates);
    QCOMPARE(view->getCamera().getDistance(), distance);
    QVERIFY(!view->lastError().isEmpty());
    QVERIFY(window->statusBar()->currentMessage().contains(view->lastError().left(20)));
    QCOMPARE(window->findChildren<QMessageBox *>().size(), 1);
    // The history still works on the kept mesh.
    view->undo();
    QCOMPARE(checkMesh(*mesh), QString());
}

void TestView::rightDragSculptsAndUndoRestores()
{
    QVERIFY(view->openFile(writeSphere(3, QStringLiteral("sphere3.stl"))));
    view->setTopoMode(4); // static: positions only
    Mesh *mesh = view->getMesh();
    const MeshSnapshot before = snapshot(*mesh);
    const QPoint centre(view->width() / 2, view->height() / 2);
    drag(Qt::RightButton, centre, centre + QPoint(60, 30), 12);
    QVERIFY(compareWithSnapshot(before, *mesh) != QString());
    QCOMPARE(checkMesh(*mesh), QString());
    // Inflate moves vertices outwards, never inwards.
    for (int i = 0; i < mesh->getNbVertices(); ++i)
        QVERIFY(mesh->getVertex(i).position.lengthSquared()
            >= before.vertices[i].position.lengthSquared() * (1.0f - 1e-6f));
    const MeshSnapshot after = snapshot(*mesh);
    // Through the menu shortcuts, as a user would.
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(window.get(), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(compareWithSnapshot(before, *mesh), QString());
    QTest::keyClick(window.get(), Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(compareWithSnapshot(after, *mesh), QString());
    QCOMPARE(checkMesh(*mesh), QString());
}

void TestView::symmetricStrokeIsMirrored()
{
    QVERIFY(view->openFile(writeSphere(3, QStringLiteral("sphere3.stl"))));
    view->setTopoMode(4);
    view->setSymmetry();
    Mesh *mesh = view->getMesh();
    const MeshSnapshot before = snapshot(*mesh);
    const QPoint centre(view->width() / 2, view->height() / 2);
    drag(Qt::RightButton, centre + QPoint(80, 0), centre + QPoint(80, 60), 10);
    // Every moved vertex has a moved mirror partner on the other side of x = 0.
    int moved = 0;
    int mirrored = 0;
    for (int i = 0; i < mesh->getNbVertices(); ++i) {
        const QVector3D d = mesh->getVertex(i).position - before.vertices[i].position;
        if (d.lengthSquared() == 0.0f)
            continue;
        ++moved;
        if (mesh->getVertex(i).position.x() < 0.0f)
            ++mirrored;
    }
    QVERIFY(moved > 0);
    QVERIFY2(mirrored > 0 && mirrored < moved, "both sides of x = 0 are sculpted");
    QCOMPARE(checkMesh(*mesh), QString());
}

void TestView::spacingSkipsSmallMoves()
{
    QVERIFY(view->openFile(writeSphere(3, QStringLiteral("sphere3.stl"))));
    view->setTopoMode(4);
    Mesh *mesh = view->getMesh();
    const MeshSnapshot before = snapshot(*mesh);
    const QPoint centre(view->width() / 2, view->height() / 2);
    // Moves of at most 5 pixels in all from the press never pass the spacing of a tenth of 50.
    drag(Qt::RightButton, centre, centre + QPoint(3, 4), 5);
    QCOMPARE(compareWithSnapshot(before, *mesh), QString());
    // The press still opened a history state.
    QCOMPARE(mesh->getUndoStates().size(), size_t(1));
}

void TestView::leftAndRightTogetherDoNothing()
{
    QVERIFY(view->openFile(writeSphere(3, QStringLiteral("sphere3.stl"))));
    Mesh *mesh = view->getMesh();
    const MeshSnapshot before = snapshot(*mesh);
    const QQuaternion rotation = view->getCamera().getRotation();
    const QPoint centre(view->width() / 2, view->height() / 2);
    QTest::mouseMove(view, centre);
    QTest::mousePress(view, Qt::LeftButton, {}, centre);
    for (int i = 1; i <= 10; ++i) {
        const QPoint p = centre + QPoint(10 * i, 5 * i);
        QMouseEvent move(QEvent::MouseMove, p, view->mapToGlobal(p), Qt::NoButton,
            Qt::LeftButton | Qt::RightButton, {});
        QCoreApplication::sendEvent(view, &move);
    }
    QTest::mouseRelease(view, Qt::LeftButton, {}, centre);
    QCOMPARE(compareWithSnapshot(before, *mesh), QString());
    QCOMPARE(view->getCamera().getRotation(), rotation);
}

void TestView::saveWritesFile()
{
    QVERIFY(view->openFile(writeSphere(2, QStringLiteral("small.stl"))));
    const QString out = dir.filePath(QStringLiteral("out")); // no extension is added
    QVERIFY(view->saveMesh(out));
    QFile file(out);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.size(), qint64(84 + 50 * view->getMesh()->getNbTriangles()));
}

void TestView::failedSaveKeepsFile()
{
    QVERIFY(view->openFile(writeSphere(2, QStringLiteral("small.stl"))));
    const QString target = dir.filePath(QStringLiteral("no-such-folder/out.stl"));
    QVERIFY(!view->saveMesh(target));
    QVERIFY(!QFile::exists(target));
    QCOMPARE(window->findChildren<QMessageBox *>().size(), 1);
}

void TestView::dropOpensFile()
{
    const QString path = writeSphere(2, QStringLiteral("dropped.stl"));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path)});
    QCOMPARE(Window::droppedMeshFile(&data), path);
    QMimeData other;
    other.setUrls({QUrl::fromLocalFile(dir.filePath(QStringLiteral("notes.txt")))});
    QVERIFY(Window::droppedMeshFile(&other).isEmpty());

    const QPoint p(100, 100);
    QDragEnterEvent enter(p, Qt::CopyAction, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(window.get(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(p, Qt::CopyAction, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(window.get(), &drop);
    QVERIFY(view->getMesh());
    QCOMPARE(view->getMesh()->getNbTriangles(), 320);
}

void TestView::octreeKey()
{
    QTest::keyClick(view, Qt::Key_O); // nothing without a mesh
    QVERIFY(view->openFile(writeSphere(2, QStringLiteral("small.stl"))));
    QVERIFY(!view->getMesh()->getDrawOctree());
    QTest::keyClick(view, Qt::Key_O);
    QVERIFY(view->getMesh()->getDrawOctree());
    QTest::keyClick(view, Qt::Key_O);
    QVERIFY(!view->getMesh()->getDrawOctree());
}

void TestView::statusTexts()
{
    QVERIFY(view->openFile(writeSphere(2, QStringLiteral("small.stl"))));
    view->updateMeshStatus();
    QCOMPARE(window->statusBar()->currentMessage(),
        QStringLiteral(" Triangles : 320     Vertices : 162"));
    view->updateFpsStatus();
    const QString text = window->statusBar()->currentMessage();
    QVERIFY(text.startsWith(QStringLiteral(" Triangles : 320     Vertices : 162 ")));
    QCOMPARE(text.indexOf(QStringLiteral("FPS : ")), 60);
    // A long message is cut to 60 columns before the rate.
    window->statusBar()->showMessage(QString(80, QLatin1Char('x')));
    view->updateFpsStatus();
    QCOMPARE(window->statusBar()->currentMessage().indexOf(QStringLiteral("FPS : ")), 60);
}

void TestView::pickUnderCursor_data()
{
    QTest::addColumn<QPointF>("offset"); // from the view centre, in units of the view height
    QTest::newRow("centre") << QPointF(0, 0);
    QTest::newRow("right") << QPointF(0.2, 0);
    QTest::newRow("up left") << QPointF(-0.1, -0.15);
}

void TestView::pickUnderCursor()
{
    // Picking works in widget pixels while the GL viewport is in device pixels: with any scale
    // factor (the test also runs with QT_SCALE_FACTOR=2) the point picked under the cursor must
    // project back onto the cursor.
    QFETCH(QPointF, offset);
    QVERIFY(view->openFile(writeSphere(3, QStringLiteral("sphere3.stl"))));
    view->update();
    QTest::qWait(50);
    const QPoint cursor =
        QPoint(view->width() / 2, view->height() / 2) + (offset * view->height()).toPoint();
    QTest::mouseMove(view, cursor);
    QMouseEvent move(
        QEvent::MouseMove, cursor, view->mapToGlobal(cursor), Qt::NoButton, Qt::NoButton, {});
    QCoreApplication::sendEvent(view, &move);
    Picking &picking = view->getPicking();
    QVERIFY(picking.getMesh() == view->getMesh());
    const QVector3D world =
        view->getMesh()->getTransformation().map(picking.getIntersectionPoint());
    double depth = 0.0;
    const QPointF back = Geometry::worldToScreen(
        world, view->getCamera().screenTransform(), view->width(), view->height(), depth);
    QVERIFY2(QLineF(back, QPointF(cursor)).length() < 0.5,
        qPrintable(QStringLiteral("picked point projects to (%1, %2), cursor at (%3, %4)")
                       .arg(back.x())
                       .arg(back.y())
                       .arg(cursor.x())
                       .arg(cursor.y())));
    // The front of the sphere faces the camera, which looks along -z.
    QVERIFY(picking.getIntersectionPoint().z() > 0.0f);
    // The GL viewport covers the whole widget in device pixels.
    const std::array<int, 4> viewport = view->getCamera().viewportRect(view->devicePixelRatioF());
    QCOMPARE(viewport[2], int(view->width() * view->devicePixelRatioF()));
}

QTEST_MAIN(TestView)
#include "tst_view.moc"
