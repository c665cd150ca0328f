#include "TestIo.h"
#include "TestMeshes.h"
#include "WindowSetup.h"
#include "app/HelpDialog.h"
#include "app/LoadProgress.h"
#include "app/SaveFormat.h"
#include "app/StartHint.h"
#include "app/Widget3D.h"
#include "app/Window.h"
#include "io/Files.h"
#include "render/SurfaceFormat.h"

#include <QFileDialog>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

using namespace TestMeshes;

namespace {

// Counts the paint events a widget receives.
class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

QAction *menuAction(QMenuBar *bar, const QString &menu, const QString &entry)
{
    for (QAction *action : bar->actions()) {
        if (action->text() != menu || !action->menu())
            continue;
        for (QAction *item : action->menu()->actions())
            if (item->text() == entry)
                return item;
    }
    return nullptr;
}

} // namespace

// What a user meets first: the hint over the empty view, the help menu, the progress of a
// long load, and saving as OBJ from the save dialog.
class TestFirstStart : public QObject
{
    Q_OBJECT

public:
    static void initMain() { setDefaultSurfaceFormat(0); }

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void hintUntilLoaded();
    void hintLetsInputThrough();
    void controlsDialog();
    void aboutBox();
    void loadShowsProgress();
    void openDuringLoadRefused();
    void saveDialogOffersObj();
    void saveFormatNames_data();
    void saveFormatNames();
    void objSavedAndReopened();

private:
    QString writeSphere(int level, const QString &name);
    StartHint *hint() const { return view->findChild<StartHint *>(); }

    QTemporaryDir dir;
    std::unique_ptr<Window> window;
    Widget3D *view = nullptr;
};

QString TestFirstStart::writeSphere(int level, const QString &name)
{
    return TestIo::icosphereFile(dir.filePath(name), level);
}

void TestFirstStart::initTestCase()
{
    QVERIFY(dir.isValid());
}

void TestFirstStart::init()
{
    showTestWindow(window, view, false);
}

void TestFirstStart::cleanup()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (qobject_cast<QDialog *>(w))
            w->close();
    window.reset();
    view = nullptr;
}

void TestFirstStart::hintUntilLoaded()
{
    StartHint *label = hint();
    QVERIFY(label);
    QVERIFY(label->isVisible());
    QCOMPARE(label->text(), QStringLiteral("Open a mesh with Ctrl+O, or drop a file here"));
    // Centred in the view, also after the view changes size.
    QVERIFY((label->geometry().center() - view->rect().center()).manhattanLength() <= 2);
    window->resize(900, 700);
    QTRY_VERIFY((label->geometry().center() - view->rect().center()).manhattanLength() <= 2);

    // A failed open leaves the view empty and the hint up.
    QVERIFY(!view->openFile(dir.filePath(QStringLiteral("missing.stl"))));
    QVERIFY(label->isVisible());
    for (QMessageBox *box : window->findChildren<QMessageBox *>())
        box->close();

    QVERIFY(view->openFile(writeSphere(2, QStringLiteral("small.stl"))));
    QVERIFY(!label->isVisible());
}

// Over the hint, the wheel still zooms and the mouse still reaches the view.
void TestFirstStart::hintLetsInputThrough()
{
    QVERIFY(hint()->isVisible());
    const QPoint atHint = view->mapTo(window.get(), hint()->geometry().center());
    QWindow *handle = window->windowHandle();
    QCOMPARE(window->childAt(atHint), view);
    QVERIFY(view->openFile(writeSphere(2, QStringLiteral("small.stl"))));
    // Shown again over the loaded view, it must not take the wheel either.
    hint()->show();
    const float distance = view->getCamera().getDistance();
    QWheelEvent wheel(atHint, handle->mapToGlobal(atHint), QPoint(), QPoint(0, 120), Qt::NoButton,
        Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(handle, &wheel);
    QVERIFY(view->getCamera().getDistance() != distance);
}

void TestFirstStart::controlsDialog()
{
    QAction *controls =
        menuAction(window->menuBar(), QStringLiteral("&Help"), QStringLiteral("&Controls"));
    QVERIFY(controls);
    QVERIFY(menuAction(window->menuBar(), QStringLiteral("&Help"), QStringLiteral("&About")));
    controls->trigger();
    auto *dialog = window->findChild<HelpDialog *>();
    QVERIFY(dialog);
    QVERIFY(dialog->isVisible());
    QVERIFY(!dialog->isModal()); // it may stay open while sculpting
    const QString text = dialog->findChild<QTextBrowser *>()->toPlainText();
    for (const char *expected : {"left drag", "middle drag", "wheel", "right drag", "Ctrl+O",
             "Ctrl+S", "Ctrl+Z", "O", "inflate", "deflate", "smooth", "flatten", "sweep", "static",
             "subdivide", "decimate", "uniform", "adaptive", "Detail", "culling", "symmetry",
             "pen sculpts", "barrel", "pressure", ".obj"})
        QVERIFY2(text.contains(QLatin1String(expected)), expected);
    // Asking again raises the same dialog.
    controls->trigger();
    QCOMPARE(window->findChildren<HelpDialog *>().size(), 1);
    dialog->close();
    QVERIFY(!dialog->isVisible());
}

void TestFirstStart::aboutBox()
{
    menuAction(window->menuBar(), QStringLiteral("&Help"), QStringLiteral("&About"))->trigger();
    auto *box = window->findChild<QMessageBox *>(QStringLiteral("aboutBox"));
    QVERIFY(box);
    QVERIFY(box->isVisible());
    QVERIFY(box->text().contains(QStringLiteral("Argilium")));
    box->close();
}

// A load shows each step's message in order, a progress bar while parsing, and the status bar
// is painted between one message and the next.
void TestFirstStart::loadShowsProgress()
{
    const QString path = writeSphere(5, QStringLiteral("large.stl")); // 20480 triangles
    QStatusBar *bar = window->statusBar();
    QProgressBar *progress = LoadProgress::progressBar(bar);
    QVERIFY(!progress->isVisible());

    PaintCounter counter;
    bar->installEventFilter(&counter);
    struct Step
    {
        QString text;
        int paints;
        bool barVisible;
    };
    QList<Step> steps;
    QList<int> values;
    bool valuesWhileVisible = true;
    connect(bar, &QStatusBar::messageChanged, this, [&](const QString &text) {
        if (!text.contains(QStringLiteral("FPS")))
            steps.append({text, counter.paints, progress->isVisible()});
    });
    connect(progress, &QProgressBar::valueChanged, this, [&](int value) {
        values.append(value);
        valuesWhileVisible = valuesWhileVisible && progress->isVisible();
        steps.append({QStringLiteral("%1%").arg(value), counter.paints, true});
    });

    QVERIFY(view->openFile(path));
    bar->removeEventFilter(&counter);

    QStringList texts;
    for (const Step &s : steps)
        if (!s.text.endsWith(u'%'))
            texts << s.text;
    QCOMPARE(texts,
        QStringList({"Loading : parsing", "Loading : Init topology 1/2", "Loading : scaling",
            "Loading : Init topology 2/2", "Loading : Init octree", "Loading : Init VBO 1",
            "Loading : Init VBO 2", "Argilium", " Triangles : 20480     Vertices : 10242"}));
    // Painted between each loading message and the next.
    int previous = -1;
    for (const Step &s : steps) {
        if (!s.text.startsWith(QStringLiteral("Loading")) && s.text != QStringLiteral("Argilium"))
            continue;
        QVERIFY2(s.paints > previous, qPrintable(s.text));
        previous = s.paints;
    }
    // The bar shows the parsing, from 0 to 100 and rising: it comes up with the first message
    // and goes with the next one.
    QVERIFY(values.size() >= 2);
    QCOMPARE(values.first(), 0);
    QCOMPARE(values.last(), 100);
    for (int i = 1; i < values.size(); ++i)
        QVERIFY(values[i] > values[i - 1]);
    QVERIFY(valuesWhileVisible);
    qsizetype parsing = -1;
    qsizetype next = -1;
    for (qsizetype i = 0; i < steps.size(); ++i) {
        if (steps[i].text == QStringLiteral("Loading : parsing"))
            parsing = i;
        else if (steps[i].text == QStringLiteral("Loading : Init topology 1/2"))
            next = i;
    }
    QVERIFY(parsing >= 0 && next > parsing);
    QVERIFY(steps[parsing].barVisible);
    QVERIFY(!steps[next].barVisible);
    for (qsizetype i = 0; i < steps.size(); ++i) {
        const bool percent = steps[i].text.endsWith(u'%');
        if (i > parsing && i < next)
            QVERIFY2(percent, qPrintable(steps[i].text));
        else if (percent)
            QCOMPARE(i, parsing - 1); // the bar's 0, set as it comes up
    }
    QVERIFY(!progress->isVisible());
}

// The load lets paint and timer events through; an open asked for meanwhile is refused
// instead of replacing the mesh under the running load.
void TestFirstStart::openDuringLoadRefused()
{
    const QString path = writeSphere(4, QStringLiteral("medium.stl"));
    const QString other = writeSphere(1, QStringLiteral("tiny.stl"));
    QProgressBar *progress = LoadProgress::progressBar(window->statusBar());
    bool inner = true;
    bool sawLoading = false;
    bool asked = false;
    connect(progress, &QProgressBar::valueChanged, this, [&](int) {
        sawLoading = sawLoading || view->isLoading();
        if (!asked) {
            asked = true;
            inner = view->openFile(other);
        }
    });
    QVERIFY(view->openFile(path));
    QVERIFY(asked);
    QVERIFY(sawLoading);
    QVERIFY(!inner);
    QVERIFY(!view->isLoading());
    QCOMPARE(view->getMesh()->getNbTriangles(), 5120);
}

// The save dialog lists STL first and OBJ second; with OBJ chosen, a name typed without an
// ending is saved as OBJ.
void TestFirstStart::saveDialogOffersObj()
{
    QVERIFY(view->openFile(writeSphere(2, QStringLiteral("small.stl"))));
    const QString target = dir.filePath(QStringLiteral("from-dialog"));
    QStringList filters;
    // Answers the dialog once it is up.
    std::function<void()> answer = [&] {
        QFileDialog *dialog = nullptr;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *d = qobject_cast<QFileDialog *>(w); d && d->isVisible())
                dialog = d;
        if (!dialog) {
            QTimer::singleShot(20, this, answer);
            return;
        }
        filters = dialog->nameFilters();
        dialog->selectNameFilter(SaveFormat::objFilter());
        dialog->selectFile(target);
        static_cast<QDialog *>(dialog)->accept(); // public in QDialog
    };
    QTimer::singleShot(0, this, answer);
    view->saveFile();
    QCOMPARE(filters, QStringList({"STL Files (*.stl )", "OBJ Files (*.obj)"}));
    QFile file(target + QStringLiteral(".obj"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().startsWith("# Argilium"));
}

void TestFirstStart::saveFormatNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("expected");
    const QString stl = SaveFormat::stlFilter();
    const QString obj = SaveFormat::objFilter();
    QTest::newRow("stl filter keeps the name") << "out" << stl << "out";
    QTest::newRow("obj filter adds .obj") << "out" << obj << "out.obj";
    QTest::newRow("obj filter, .obj typed") << "a.OBJ" << obj << "a.OBJ";
    QTest::newRow("obj filter, .stl typed") << "a.stl" << obj << "a.stl";
    QTest::newRow("stl filter, .obj typed") << "a.obj" << stl << "a.obj";
    QTest::newRow("cancelled") << QString() << obj << QString();
}

void TestFirstStart::saveFormatNames()
{
    QFETCH(QString, name);
    QFETCH(QString, filter);
    QFETCH(QString, expected);
    QCOMPARE(SaveFormat::pathFor(name, filter), expected);
    QCOMPARE(SaveFormat::pathFor(name, filter).isNull(), expected.isNull());
    QVERIFY(SaveFormat::filters().startsWith(QStringLiteral("STL Files (*.stl );;")));
}

// Saved from the view as OBJ, reopened: the same counts, and the hint stays away.
void TestFirstStart::objSavedAndReopened()
{
    QVERIFY(view->openFile(writeSphere(3, QStringLiteral("sphere3.stl"))));
    const int vertices = view->getMesh()->getNbVertices();
    const int triangles = view->getMesh()->getNbTriangles();
    const QString out = dir.filePath(QStringLiteral("saved.obj"));
    QVERIFY(view->saveMesh(out));
    QVERIFY(view->openFile(out));
    QCOMPARE(view->getMesh()->getNbVertices(), vertices);
    QCOMPARE(view->getMesh()->getNbTriangles(), triangles);
    QVERIFY(!hint()->isVisible());
}

QTEST_MAIN(TestFirstStart)
#include "tst_firststart.moc"
