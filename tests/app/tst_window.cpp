// The main window's controls as a user meets them: each button, slider and box reaching the view,
// the menus, the start hint, the help, and the save dialog's formats.

#include "TestIo.h"
#include "WindowSetup.h"
#include "app/HelpDialog.h"
#include "app/SaveFormat.h"
#include "app/StartHint.h"
#include "render/SurfaceFormat.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDockWidget>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>

#include <functional>

class TestWindow : public QObject
{
    Q_OBJECT

public:
    static void initMain() { setDefaultSurfaceFormat(0); }

private slots:
    void init() { showTestWindow(window, view, false); }
    void cleanup();
    void controlsReachTheView();
    void menus();
    void startHint();
    void help();
    void saveFormats();

private:
    template<typename T>
    T *find(const QString &text) const
    {
        for (T *w : window->findChildren<T *>())
            if (w->text() == text)
                return w;
        return nullptr;
    }
    QWidget *sliderBelow(const QString &label) const
    {
        QLayout *layout = find<QLabel>(label)->parentWidget()->layout();
        return layout->itemAt(layout->indexOf(find<QLabel>(label)) + 1)->widget();
    }

    QTemporaryDir dir;
    std::unique_ptr<Window> window;
    Widget3D *view = nullptr;
};

void TestWindow::cleanup()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (qobject_cast<QDialog *>(w))
            w->close();
    window.reset();
}

void TestWindow::controlsReachTheView()
{
    QCOMPARE(window->windowTitle(), QStringLiteral("Argilium"));
    // Each radio button: its box, whether it starts checked, and what a click sets in the view.
    const struct
    {
        const char *text, *box;
        int id;
        bool checked;
    } buttons[] = {{"inflate", "tools", 0, true}, {"deflate", "tools", 1, false},
        {"smooth", "tools", 2, false}, {"flatten", "tools", 3, false}, {"sweep", "tools", 4, false},
        {"decimate", "topology", 0, false}, {"subdivide", "topology", 1, false},
        {"uniform", "topology", 2, true}, {"adaptive", "topology", 3, false},
        {"static", "topology", 4, false}, {"trackball sphere", "camera", 0, true},
        {"trackball plane", "camera", 1, false}, {"freelook", "camera", 2, false},
        {"phong", "shader", 0, true}, {"wireframe", "shader", 1, false},
        {"transparency", "shader", 2, false}, {"reflection 1", "shader", 3, false},
        {"reflection 2", "shader", 4, false}};
    for (const auto &b : buttons) {
        QRadioButton *button = find<QRadioButton>(b.text);
        QVERIFY2(button && button->isChecked() == b.checked, b.text);
        QCOMPARE(qobject_cast<QGroupBox *>(button->parentWidget())->title(), QString(b.box));
        QCOMPARE(button->group()->id(button), b.id);
    }
    for (const auto &b : buttons) {
        find<QRadioButton>(b.text)->click();
        const QString box = b.box;
        const int set = box == "tools" ? view->getSculptor().getTool()
            : box == "topology"        ? view->getSculptor().getTopoMode()
            : box == "camera"          ? view->getCamera().getMode()
                                       : window->getShaderGroup()->checkedId();
        QCOMPARE(set, b.id);
    }
    // The static mode has no detail; the sweep no symmetry.
    QVERIFY(!sliderBelow("Detail :")->isEnabled());
    find<QRadioButton>("adaptive")->click();
    QVERIFY(sliderBelow("Detail :")->isEnabled());
    QVERIFY(!find<QCheckBox>("symmetry")->isEnabled());
    find<QRadioButton>("smooth")->click();
    QVERIFY(find<QCheckBox>("symmetry")->isEnabled());
    // Sliders from 0 to 200: radius in screen pixels (20 at least), intensity and detail.
    const struct
    {
        const char *label;
        int start, set;
        std::function<float()> value;
        float expected;
    } sliders[] = {
        {"Radius :", 50, 5, [this] { return view->getPicking().getRadiusScreen(); }, 20.0f},
        {"Intensity :", 150, 0, [this] { return view->getSculptor().getIntensity(); }, 0.0f},
        {"Detail :", 150, 200, [this] { return view->getSculptor().getDetail(); }, 1.0f}};
    for (const auto &s : sliders) {
        auto *slider = qobject_cast<QSlider *>(sliderBelow(s.label));
        QVERIFY(slider && slider->minimum() == 0 && slider->maximum() == 200);
        QCOMPARE(slider->value(), s.start);
        slider->setValue(s.set);
        QCOMPARE(s.value(), s.expected);
    }
    // Options; a hidden dock keeps its state.
    find<QCheckBox>("culling")->click();
    find<QCheckBox>("symmetry")->click();
    QVERIFY(view->getSculptor().getCulling() && view->getSymmetry());
    auto *sculpt = qobject_cast<QDockWidget *>(
        find<QCheckBox>("culling")->parentWidget()->parentWidget()->parentWidget());
    QVERIFY(sculpt);
    sculpt->toggleViewAction()->trigger();
    sculpt->toggleViewAction()->trigger();
    QVERIFY(find<QCheckBox>("culling")->isChecked());
    QCOMPARE(window->getColorButton()->palette().color(QPalette::Button), QColor(120, 200, 200));
    // A letter key that a slider ignores climbs to the window and reaches the view: the camera
    // motion runs while it is held.
    QWidget *radius = sliderBelow("Radius :");
    radius->setFocus();
    QTest::keyPress(radius, Qt::Key_Z);
    QVERIFY(view->motionTimer() != 0);
    QTest::keyRelease(radius, Qt::Key_Z);
    QCOMPARE(view->motionTimer(), 0);
}

void TestWindow::menus()
{
    QStringList menus, entries;
    for (QAction *menu : window->menuBar()->actions()) {
        menus << menu->text();
        for (QAction *a : menu->menu()->actions())
            entries << a->text() + u' ' + a->shortcut().toString();
    }
    QCOMPARE(menus, QStringList({"&File", "&Edit", "&Display", "&Help"}));
    const QString sculpting = QStringLiteral("       Sculting       "),
                  mesh = QStringLiteral("            Mesh            ");
    QCOMPARE(entries,
        QStringList({"&Open Ctrl+O", "&Recent files ", "&Save Ctrl+S", "&Exit Ctrl+Q",
            "&Undo Ctrl+Z", "&Redo Ctrl+Y", "Invert mask ", "Clear mask ", sculpting + u' ',
            mesh + u' ', "&Controls F1", "&About "}));
    // The two docks, on either side of the view.
    for (QDockWidget *dock : window->findChildren<QDockWidget *>())
        QCOMPARE(window->dockWidgetArea(dock),
            dock->windowTitle() == sculpting ? Qt::LeftDockWidgetArea : Qt::RightDockWidgetArea);
}

// The hint over the empty view: centred, gone once a mesh is open, and never in the way of the
// wheel.
void TestWindow::startHint()
{
    auto *hint = view->findChild<StartHint *>();
    QVERIFY(hint && hint->isVisible());
    QCOMPARE(hint->text(), QStringLiteral("Open a mesh with Ctrl+O, or drop a file here"));
    window->resize(900, 700);
    QTRY_VERIFY((hint->geometry().center() - view->rect().center()).manhattanLength() <= 2);
    QVERIFY(!view->openFile(dir.filePath("missing.stl")));
    QVERIFY(hint->isVisible());
    QVERIFY(view->openFile(TestIo::icosphereFile(dir.filePath("small.stl"), 2)));
    QVERIFY(!hint->isVisible());
    hint->show();
    const QPoint at = view->mapTo(window.get(), hint->geometry().center());
    const float distance = view->getCamera().getDistance();
    QWheelEvent wheel(at, window->windowHandle()->mapToGlobal(at), QPoint(), QPoint(0, 120),
        Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(window->windowHandle(), &wheel);
    QVERIFY(view->getCamera().getDistance() != distance);
}

void TestWindow::help()
{
    QAction *controls = window->menuBar()->actions()[3]->menu()->actions()[0];
    controls->trigger();
    controls->trigger(); // raises the same dialog
    QCOMPARE(window->findChildren<HelpDialog *>().size(), 1);
    auto *dialog = window->findChild<HelpDialog *>();
    QVERIFY(dialog->isVisible() && !dialog->isModal()); // it may stay open while sculpting
    const QString text = dialog->findChild<QTextBrowser *>()->toPlainText();
    for (const char *expected : {"left drag", "middle drag", "wheel", "right drag", "Ctrl+O",
             "Ctrl+Z", "inflate", "sweep", "adaptive", "Detail", "culling", "symmetry",
             "pen sculpts", "barrel", "pressure", ".obj"})
        QVERIFY2(text.contains(QLatin1String(expected)), expected);
    window->menuBar()->actions()[3]->menu()->actions()[1]->trigger();
    auto *about = window->findChild<QMessageBox *>("aboutBox");
    QVERIFY(about && about->isVisible() && about->text().contains("Argilium"));
}

// The save dialog lists STL first and OBJ second; with OBJ chosen, a name typed without an ending
// is saved as OBJ, and other names are kept as typed.
void TestWindow::saveFormats()
{
    const QString stl = SaveFormat::stlFilter(), obj = SaveFormat::objFilter();
    QCOMPARE(SaveFormat::pathFor("out", stl), QString("out"));
    QCOMPARE(SaveFormat::pathFor("out", obj), QString("out.obj"));
    QCOMPARE(SaveFormat::pathFor("a.OBJ", obj), QString("a.OBJ"));
    QCOMPARE(SaveFormat::pathFor("a.stl", obj), QString("a.stl"));
    QVERIFY(SaveFormat::pathFor(QString(), obj).isNull());
    QVERIFY(view->openFile(TestIo::icosphereFile(dir.filePath("small.stl"), 2)));
    QStringList filters;
    std::function<void()> answer = [&] {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (auto *dialog = qobject_cast<QFileDialog *>(w); dialog && dialog->isVisible()) {
                filters = dialog->nameFilters();
                dialog->selectNameFilter(SaveFormat::objFilter());
                dialog->selectFile(dir.filePath("from-dialog"));
                static_cast<QDialog *>(dialog)->accept();
                return;
            }
        }
        QTimer::singleShot(20, this, answer);
    };
    QTimer::singleShot(0, this, answer);
    view->saveFile();
    QCOMPARE(filters, QStringList({"STL Files (*.stl )", "OBJ Files (*.obj)"}));
    QVERIFY(TestIo::readFile(dir.filePath("from-dialog.obj")).startsWith("# Argilium"));
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
