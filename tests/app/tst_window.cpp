#include "app/Widget3D.h"
#include "app/Window.h"
#include "render/SurfaceFormat.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDockWidget>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QtTest>

class TestWindow : public QObject
{
    Q_OBJECT

public:
    static void initMain() { setDefaultSurfaceFormat(0); }

private slots:
    void init();
    void cleanup();
    void title();
    void radioButtons_data();
    void radioButtons();
    void sliders_data();
    void sliders();
    void checkBoxesAndColour();
    void docks();
    void menus_data();
    void menus();
    void staticDisablesDetail();
    void sweepDisablesSymmetry();
    void keyInDockReachesView();
    void hiddenDockKeepsState();

private:
    template<typename T>
    T *findByText(const QString &text) const
    {
        for (T *w : window->findChildren<T *>()) {
            if (w->text() == text)
                return w;
        }
        return nullptr;
    }

    std::unique_ptr<Window> window;
};

void TestWindow::init()
{
    window = std::make_unique<Window>();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

void TestWindow::cleanup()
{
    window.reset();
}

void TestWindow::title()
{
    QCOMPARE(window->windowTitle(), QStringLiteral("Argilium"));
    QVERIFY(window->centralWidget() == window->getView());
}

void TestWindow::radioButtons_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("box");
    QTest::addColumn<int>("id");
    QTest::addColumn<bool>("checked");
    QTest::newRow("inflate") << "inflate"
                             << "tools" << 0 << true;
    QTest::newRow("deflate") << "deflate"
                             << "tools" << 1 << false;
    QTest::newRow("smooth") << "smooth"
                            << "tools" << 2 << false;
    QTest::newRow("flatten") << "flatten"
                             << "tools" << 3 << false;
    QTest::newRow("sweep") << "sweep"
                           << "tools" << 4 << false;
    QTest::newRow("static") << "static"
                            << "topology" << 4 << false;
    QTest::newRow("subdivide") << "subdivide"
                               << "topology" << 1 << false;
    QTest::newRow("decimate") << "decimate"
                              << "topology" << 0 << false;
    QTest::newRow("uniform") << "uniform"
                             << "topology" << 2 << true;
    QTest::newRow("adaptive") << "adaptive"
                              << "topology" << 3 << false;
    QTest::newRow("trackball sphere") << "trackball sphere"
                                      << "camera" << 0 << true;
    QTest::newRow("trackball plane") << "trackball plane"
                                     << "camera" << 1 << false;
    QTest::newRow("freelook") << "freelook"
                              << "camera" << 2 << false;
    QTest::newRow("phong") << "phong"
                           << "shader" << 0 << true;
    QTest::newRow("wireframe") << "wireframe"
                               << "shader" << 1 << false;
    QTest::newRow("transparency") << "transparency"
                                  << "shader" << 2 << false;
    QTest::newRow("reflection 1") << "reflection 1"
                                  << "shader" << 3 << false;
    QTest::newRow("reflection 2") << "reflection 2"
                                  << "shader" << 4 << false;
}

void TestWindow::radioButtons()
{
    QFETCH(QString, text);
    QFETCH(QString, box);
    QFETCH(int, id);
    QFETCH(bool, checked);
    QRadioButton *button = findByText<QRadioButton>(text);
    QVERIFY(button);
    QCOMPARE(button->isChecked(), checked);
    auto *groupBox = qobject_cast<QGroupBox *>(button->parentWidget());
    QVERIFY(groupBox);
    QCOMPARE(groupBox->title(), box);
    QVERIFY(button->group());
    QVERIFY(button->group()->exclusive());
    QCOMPARE(button->group()->id(button), id);
    if (box == QLatin1String("shader"))
        QCOMPARE(button->group(), window->getShaderGroup());
}

void TestWindow::sliders_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("value");
    QTest::newRow("radius") << "Radius :" << 50;
    QTest::newRow("intensity") << "Intensity :" << 150;
    QTest::newRow("detail") << "Detail :" << 150;
}

void TestWindow::sliders()
{
    QFETCH(QString, label);
    QFETCH(int, value);
    // Each slider sits right below its label in the group's layout.
    QLabel *l = findByText<QLabel>(label);
    QVERIFY(l);
    QLayout *layout = l->parentWidget()->layout();
    const int index = layout->indexOf(l);
    auto *slider = qobject_cast<QSlider *>(layout->itemAt(index + 1)->widget());
    QVERIFY(slider);
    QCOMPARE(slider->orientation(), Qt::Horizontal);
    QCOMPARE(slider->minimum(), 0);
    QCOMPARE(slider->maximum(), 200);
    QCOMPARE(slider->value(), value);
}

void TestWindow::checkBoxesAndColour()
{
    for (const char *text : {"culling", "symmetry"}) {
        QCheckBox *box = findByText<QCheckBox>(QString::fromLatin1(text));
        QVERIFY(box);
        QVERIFY(!box->isChecked());
        QCOMPARE(
            qobject_cast<QGroupBox *>(box->parentWidget())->title(), QStringLiteral("options"));
    }
    QPushButton *colour = window->getColorButton();
    QVERIFY(colour);
    QVERIFY(colour->text().isEmpty());
    QCOMPARE(colour->palette().color(QPalette::Button), QColor(120, 200, 200));
}

void TestWindow::docks()
{
    const QList<QDockWidget *> docks = window->findChildren<QDockWidget *>();
    QCOMPARE(docks.size(), 2);
    QDockWidget *sculpt = nullptr;
    QDockWidget *mesh = nullptr;
    for (QDockWidget *d : docks) {
        if (d->windowTitle() == QLatin1String("       Sculting       "))
            sculpt = d;
        if (d->windowTitle() == QLatin1String("            Mesh            "))
            mesh = d;
    }
    QVERIFY(sculpt && mesh);
    QCOMPARE(window->dockWidgetArea(sculpt), Qt::LeftDockWidgetArea);
    QCOMPARE(window->dockWidgetArea(mesh), Qt::RightDockWidgetArea);
    QVERIFY(!sculpt->isFloating() && !mesh->isFloating());
}

void TestWindow::menus_data()
{
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<QStringList>("shortcuts");
    QTest::newRow("file") << "&File" << QStringList {"&Open", "&Save", "&Exit"}
                          << QStringList {"Ctrl+O", "Ctrl+S", "Ctrl+Q"};
    QTest::newRow("edit") << "&Edit"
                          << QStringList {"&Undo", "&Redo", "Invert mask", "Clear mask"}
                          << QStringList {"Ctrl+Z", "Ctrl+Y", "", ""};
    QTest::newRow("display") << "&Display"
                             << QStringList {"       Sculting       ",
                                    "            Mesh            "}
                             << QStringList {"", ""};
    QTest::newRow("help") << "&Help" << QStringList {"&Controls", "&About"}
                          << QStringList {"F1", ""};
}

void TestWindow::menus()
{
    QFETCH(QString, menu);
    QFETCH(QStringList, actions);
    QFETCH(QStringList, shortcuts);
    QMenu *found = nullptr;
    QStringList titles;
    for (QAction *a : window->menuBar()->actions()) {
        titles << a->text();
        if (a->text() == menu)
            found = a->menu();
    }
    QCOMPARE(titles, (QStringList {"&File", "&Edit", "&Display", "&Help"}));
    QVERIFY(found);
    QStringList texts;
    QStringList keys;
    for (QAction *a : found->actions()) {
        texts << a->text();
        keys << a->shortcut().toString();
    }
    QCOMPARE(texts, actions);
    QCOMPARE(keys, shortcuts);
}

void TestWindow::staticDisablesDetail()
{
    QLabel *label = findByText<QLabel>(QStringLiteral("Detail :"));
    QLayout *layout = label->parentWidget()->layout();
    QWidget *slider = layout->itemAt(layout->indexOf(label) + 1)->widget();
    QVERIFY(label->isEnabled() && slider->isEnabled());
    QTest::mouseClick(findByText<QRadioButton>(QStringLiteral("static")), Qt::LeftButton);
    QVERIFY(!label->isEnabled() && !slider->isEnabled());
    QTest::mouseClick(findByText<QRadioButton>(QStringLiteral("adaptive")), Qt::LeftButton);
    QVERIFY(label->isEnabled() && slider->isEnabled());
}

void TestWindow::sweepDisablesSymmetry()
{
    QCheckBox *symmetry = findByText<QCheckBox>(QStringLiteral("symmetry"));
    QVERIFY(symmetry->isEnabled());
    QTest::mouseClick(findByText<QRadioButton>(QStringLiteral("sweep")), Qt::LeftButton);
    QVERIFY(!symmetry->isEnabled());
    QTest::mouseClick(findByText<QRadioButton>(QStringLiteral("smooth")), Qt::LeftButton);
    QVERIFY(symmetry->isEnabled());
}

void TestWindow::keyInDockReachesView()
{
    QLabel *label = findByText<QLabel>(QStringLiteral("Radius :"));
    QLayout *layout = label->parentWidget()->layout();
    QWidget *slider = layout->itemAt(layout->indexOf(label) + 1)->widget();
    slider->setFocus();
    Widget3D *view = window->getView();
    QCOMPARE(view->motionTimer(), 0);
    // A letter key is ignored by the slider, climbs to the window and is forwarded to the view,
    // which starts its camera motion timer.
    QTest::keyPress(slider, Qt::Key_Z);
    QVERIFY(view->motionTimer() != 0);
    QTest::keyRelease(slider, Qt::Key_Z);
    QCOMPARE(view->motionTimer(), 0);
}

void TestWindow::hiddenDockKeepsState()
{
    QCheckBox *culling = findByText<QCheckBox>(QStringLiteral("culling"));
    QTest::mouseClick(culling, Qt::LeftButton);
    QVERIFY(culling->isChecked());
    QDockWidget *sculpt =
        qobject_cast<QDockWidget *>(culling->parentWidget()->parentWidget()->parentWidget());
    QVERIFY(sculpt);
    sculpt->toggleViewAction()->trigger();
    QVERIFY(sculpt->isHidden());
    sculpt->toggleViewAction()->trigger();
    QVERIFY(!sculpt->isHidden());
    QVERIFY(culling->isChecked());
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
