#include "TestIo.h"
#include "TestMeshes.h"
#include "WindowSetup.h"
#include "render/SurfaceFormat.h"

#include <QAbstractButton>
#include <QAction>
#include <QButtonGroup>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>

// The mask and crease tools and the mask entries of the Edit menu in the real window, and the
// mask drawn as a darkening in every shading mode.
class TestMaskWindow : public QObject
{
    Q_OBJECT

public:
    static void initMain() { setDefaultSurfaceFormat(0); }

private slots:
    void toolsMenusAndDrawing();
};

namespace {

// Sum of the colour channels over 40 x 40 pixels at the centre of the view's picture.
long centreBrightness(Widget3D *view)
{
    const QImage image = view->grabFramebuffer();
    long sum = 0;
    for (int y = image.height() / 2 - 20; y < image.height() / 2 + 20; ++y) {
        for (int x = image.width() / 2 - 20; x < image.width() / 2 + 20; ++x) {
            const QRgb c = image.pixel(x, y);
            sum += qRed(c) + qGreen(c) + qBlue(c);
        }
    }
    return sum;
}

} // namespace

void TestMaskWindow::toolsMenusAndDrawing()
{
    QTemporaryDir dir;
    std::unique_ptr<Window> window;
    Widget3D *view = nullptr;
    showTestWindow(window, view);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(view->openFile(TestIo::icosphereFile(dir.filePath(QStringLiteral("s.stl")), 4)));
    for (const char *tool : {"crease", "mask"}) {
        const QList<QRadioButton *> all = window->findChildren<QRadioButton *>();
        const auto button =
            std::find_if(all.begin(), all.end(), [tool](auto *b) { return b->text() == tool; });
        QVERIFY(button != all.end());
        (*button)->click();
        QCOMPARE(view->getSculptor().getTool(), (*button)->group()->id(*button));
    }
    QCOMPARE(view->getSculptor().getTool(), int(MASK));

    // A right drag across the middle paints the mask (Ctrl held: lowers it) and moves nothing.
    const Mesh &mesh = *view->getMesh();
    const std::vector<QVector3D> before = TestMeshes::positions(mesh);
    const QPoint centre = view->rect().center();
    const auto paint = [&](Qt::KeyboardModifiers keys) {
        QTest::mouseMove(view, centre - QPoint(80, 0));
        QTest::mousePress(view, Qt::RightButton, keys, centre - QPoint(80, 0));
        for (int i = 1; i <= 16; ++i) {
            const QPoint p = centre + QPoint(10 * i - 80, 0);
            QMouseEvent move(
                QEvent::MouseMove, p, view->mapToGlobal(p), Qt::NoButton, Qt::RightButton, keys);
            QCoreApplication::sendEvent(view, &move);
        }
        QTest::mouseRelease(view, Qt::RightButton, keys, centre + QPoint(80, 0));
        double sum = 0.0;
        for (const Vertex &v : mesh.getVertices())
            sum += v.mask;
        return sum;
    };
    const double painted = paint({});
    QVERIFY(painted > 2.0);
    QVERIFY(paint(Qt::ControlModifier) < 0.5 * painted);
    QVERIFY(TestMeshes::positions(mesh) == before);

    auto *invert = window->findChild<QAction *>(QStringLiteral("invertMask"));
    auto *clear = window->findChild<QAction *>(QStringLiteral("clearMask"));
    QVERIFY(invert && clear && invert->text() == "Invert mask" && clear->text() == "Clear mask");
    clear->trigger();
    invert->trigger();
    QVERIFY(std::all_of(mesh.getVertices().begin(), mesh.getVertices().end(),
        [](const Vertex &v) { return v.mask == 1.0f; }));
    // Away from the mesh: no brush outline in the pictures.
    QTest::mouseMove(view, QPoint(5, 5));
    for (int mode = 0; mode < 5; ++mode) {
        view->setMeshShader(mode);
        const long masked = centreBrightness(view);
        clear->trigger();
        const long free = centreBrightness(view);
        view->undo();
        QVERIFY2(masked < free * 0.9, qPrintable(QStringLiteral("mode %1").arg(mode)));
    }
    QCOMPARE(mesh.getVertex(0).mask, 1.0f);
}

QTEST_MAIN(TestMaskWindow)
#include "tst_mask_window.moc"
