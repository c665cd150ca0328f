#include "TestIo.h"
#include "TestMeshes.h"
#include "WindowSetup.h"
#include "render/SurfaceFormat.h"

#include <QAction>
#include <QButtonGroup>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>

#include <numeric>

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

    const Mesh &mesh = *view->getMesh();
    const auto maskSum = [&mesh] {
        return std::accumulate(mesh.getVertices().begin(), mesh.getVertices().end(), 0.0,
            [](double sum, const Vertex &v) { return sum + v.mask; });
    };
    auto *invert = window->findChild<QAction *>(QStringLiteral("invertMask"));
    auto *clear = window->findChild<QAction *>(QStringLiteral("clearMask"));
    QVERIFY(invert && clear && invert->text() == "Invert mask" && clear->text() == "Clear mask");
    clear->trigger();
    invert->trigger();
    QCOMPARE(maskSum(), double(mesh.getNbVertices()));
    // Away from the mesh: no brush outline in the pictures. Mean grey level at the centre:
    QTest::mouseMove(view, QPoint(5, 5));
    const auto brightness = [view] {
        const QImage centre =
            view->grabFramebuffer().copy(view->width() / 2 - 20, view->height() / 2 - 20, 40, 40);
        return qGray(
            centre.scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).pixel(0, 0));
    };
    for (int mode = 0; mode < 5; ++mode) {
        view->setMeshShader(mode);
        const long masked = brightness();
        clear->trigger();
        const long free = brightness();
        view->undo();
        QVERIFY2(masked < free * 0.9, qPrintable(QStringLiteral("mode %1").arg(mode)));
    }
    QCOMPARE(mesh.getVertex(0).mask, 1.0f);
}

QTEST_MAIN(TestMaskWindow)
#include "tst_mask_window.moc"
