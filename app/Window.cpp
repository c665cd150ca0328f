#include "Window.h"

#include "Autosave.h"
#include "Document.h"
#include "HelpDialog.h"
#include "RecentFiles.h"
#include "Settings.h"
#include "Widget3D.h"
#include "io/Files.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

namespace {

QSlider *makeSlider(int value)
{
    auto *slider = new QSlider(Qt::Horizontal);
    slider->setRange(0, 200);
    slider->setValue(value);
    return slider;
}

// Adds a radio button to a layout and to an exclusive button group under the given id.
QRadioButton *addRadio(
    QVBoxLayout *layout, QButtonGroup *group, const char *text, int id, bool checked = false)
{
    auto *button = new QRadioButton(QString::fromLatin1(text));
    button->setChecked(checked);
    layout->addWidget(button);
    group->addButton(button, id);
    return button;
}

// Puts the group boxes in a fixed-size widget and hands it to the dock.
void fillDock(QDockWidget *dock, std::initializer_list<QGroupBox *> boxes)
{
    auto *layout = new QVBoxLayout;
    for (QGroupBox *box : boxes)
        layout->addWidget(box);
    auto *contents = new QWidget;
    contents->setLayout(layout);
    contents->setFixedSize(contents->sizeHint());
    dock->setWidget(contents);
    dock->setFloating(false);
}

} // namespace

Window::Window()
{
    setWindowTitle(tr("Argilium"));
    view = new Widget3D(this);
    setCentralWidget(view);
    document = new Document(view, this);
    autosave = new Autosave(view, document);
    connect(view, &Widget3D::meshOpened, document, &Document::opened);
    connect(view, &Widget3D::meshSaved, document, &Document::saved);
    connect(view, &Widget3D::meshEdited, document, &Document::edited);
    createSculptDock();
    createMeshDock();
    createMenus();
    createRadiusKeys();
    setAcceptDrops(true);
}

Window::~Window()
{
    delete view;
}

void Window::keyPressEvent(QKeyEvent *event)
{
    view->keyPressEvent(event);
}

void Window::keyReleaseEvent(QKeyEvent *event)
{
    view->keyReleaseEvent(event);
}

QString Window::droppedMeshFile(const QMimeData *data)
{
    if (!data || !data->hasUrls() || data->urls().size() != 1)
        return QString();
    const QUrl url = data->urls().first();
    if (!url.isLocalFile())
        return QString();
    const QString path = url.toLocalFile();
    Files::Kind kind;
    return Files::kindFromPath(path, &kind) ? path : QString();
}

void Window::dragEnterEvent(QDragEnterEvent *event)
{
    if (!droppedMeshFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void Window::dropEvent(QDropEvent *event)
{
    const QString path = droppedMeshFile(event->mimeData());
    if (path.isEmpty())
        return;
    if (!document->maybeSave())
        return;
    event->acceptProposedAction();
    view->openFile(path);
}

void Window::closeEvent(QCloseEvent *event)
{
    if (!document->maybeSave()) {
        event->ignore();
        return;
    }
    autosave->discard();
    saveLayout();
    event->accept();
}

void Window::saveLayout() const
{
    QSettings settings = userSettings();
    settings.setValue(QStringLiteral("window/geometry"), saveGeometry());
    settings.setValue(QStringLiteral("window/state"), saveState());
}

bool Window::restoreLayout()
{
    const QSettings settings = userSettings();
    if (!restoreGeometry(settings.value(QStringLiteral("window/geometry")).toByteArray()))
        return false;
    restoreState(settings.value(QStringLiteral("window/state")).toByteArray());
    return true;
}

void Window::createRadiusKeys()
{
    // [ and ] step the brush radius through its slider, which then drives the view.
    const auto addStep = [this](const char *key, int direction) {
        auto *action = new QAction(this);
        action->setShortcut(QKeySequence(QString::fromLatin1(key)));
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, radiusSlider, [this, direction] {
            radiusSlider->setValue(radiusSlider->value() + direction * radiusSlider->pageStep());
        });
        addAction(action);
    };
    addStep("[", -1);
    addStep("]", 1);
}

void Window::createSculptDock()
{
    sculptDock = new QDockWidget(QStringLiteral("       Sculting       "), this);
    sculptDock->setObjectName(QStringLiteral("sculptDock"));
    addDockWidget(Qt::LeftDockWidgetArea, sculptDock);

    auto *toolsBox = new QGroupBox(QStringLiteral("tools"));
    auto *toolsLayout = new QVBoxLayout;
    auto *toolsGroup = new QButtonGroup;
    toolsGroup->setObjectName(QStringLiteral("toolsGroup"));
    toolsLayout->addWidget(new QLabel(QStringLiteral("Radius :")));
    radiusSlider = makeSlider(50);
    radiusSlider->setObjectName(QStringLiteral("radiusSlider"));
    toolsLayout->addWidget(radiusSlider);
    addRadio(toolsLayout, toolsGroup, "inflate", 0, true);
    addRadio(toolsLayout, toolsGroup, "deflate", 1);
    addRadio(toolsLayout, toolsGroup, "smooth", 2);
    addRadio(toolsLayout, toolsGroup, "flatten", 3);
    QRadioButton *sweep = addRadio(toolsLayout, toolsGroup, "sweep", 4);
    addRadio(toolsLayout, toolsGroup, "mask", 5);
    addRadio(toolsLayout, toolsGroup, "crease", 6);
    toolsLayout->addWidget(new QLabel(QStringLiteral("Intensity :")));
    QSlider *intensitySlider = makeSlider(150);
    intensitySlider->setObjectName(QStringLiteral("intensitySlider"));
    toolsLayout->addWidget(intensitySlider);
    toolsBox->setLayout(toolsLayout);

    auto *topologyBox = new QGroupBox(QStringLiteral("topology"));
    auto *topologyLayout = new QVBoxLayout;
    auto *topologyGroup = new QButtonGroup;
    topologyGroup->setObjectName(QStringLiteral("topologyGroup"));
    // The ids are the sculptor's topology codes, not the order on screen.
    QRadioButton *staticButton = addRadio(topologyLayout, topologyGroup, "static", 4);
    addRadio(topologyLayout, topologyGroup, "subdivide", 1);
    addRadio(topologyLayout, topologyGroup, "decimate", 0);
    addRadio(topologyLayout, topologyGroup, "uniform", 2, true);
    addRadio(topologyLayout, topologyGroup, "adaptive", 3);
    auto *detailLabel = new QLabel(QStringLiteral("Detail :"));
    topologyLayout->addWidget(detailLabel);
    QSlider *detailSlider = makeSlider(150);
    detailSlider->setObjectName(QStringLiteral("detailSlider"));
    topologyLayout->addWidget(detailSlider);
    topologyBox->setLayout(topologyLayout);

    auto *optionsBox = new QGroupBox(QStringLiteral("options"));
    auto *optionsLayout = new QVBoxLayout;
    auto *culling = new QCheckBox(QStringLiteral("culling"));
    auto *symmetry = new QCheckBox(QStringLiteral("symmetry"));
    // The pen tip alone sculpts (otherwise the tip needs the barrel button).
    auto *penSculpts = new QCheckBox(QStringLiteral("pen sculpts"));
    penSculpts->setObjectName(QStringLiteral("penSculpts"));
    optionsLayout->addWidget(culling);
    optionsLayout->addWidget(symmetry);
    optionsLayout->addWidget(penSculpts);
    optionsBox->setLayout(optionsLayout);

    fillDock(sculptDock, {toolsBox, topologyBox, optionsBox});

    connect(radiusSlider, &QSlider::valueChanged, view, &Widget3D::setSculptRadius);
    connect(toolsGroup, &QButtonGroup::idClicked, view, &Widget3D::setSculptMode);
    connect(intensitySlider, &QSlider::valueChanged, view, &Widget3D::setSculptIntensity);
    connect(topologyGroup, &QButtonGroup::idClicked, view, &Widget3D::setTopoMode);
    connect(detailSlider, &QSlider::valueChanged, view, &Widget3D::setTopoDetail);
    connect(culling, &QCheckBox::clicked, view, &Widget3D::setSculptCulling);
    connect(symmetry, &QCheckBox::clicked, view, &Widget3D::setSymmetry);
    connect(penSculpts, &QCheckBox::toggled, view, &Widget3D::setPenSculpts);
    connect(staticButton, &QRadioButton::toggled, detailLabel, &QLabel::setDisabled);
    connect(staticButton, &QRadioButton::toggled, detailSlider, &QSlider::setDisabled);
    connect(sweep, &QRadioButton::toggled, symmetry, &QCheckBox::setDisabled);
}

void Window::createMeshDock()
{
    meshDock = new QDockWidget(QStringLiteral("            Mesh            "), this);
    meshDock->setObjectName(QStringLiteral("meshDock"));
    addDockWidget(Qt::RightDockWidgetArea, meshDock);

    auto *cameraBox = new QGroupBox(QStringLiteral("camera"));
    auto *cameraLayout = new QVBoxLayout;
    auto *cameraGroup = new QButtonGroup;
    cameraGroup->setObjectName(QStringLiteral("cameraGroup"));
    addRadio(cameraLayout, cameraGroup, "trackball sphere", 0, true);
    addRadio(cameraLayout, cameraGroup, "trackball plane", 1);
    addRadio(cameraLayout, cameraGroup, "freelook", 2);
    cameraBox->setLayout(cameraLayout);

    auto *colorBox = new QGroupBox(QStringLiteral("color"));
    auto *colorLayout = new QVBoxLayout;
    colorButton = new QPushButton;
    colorButton->setPalette(QPalette(QColor(120, 200, 200, 255)));
    colorLayout->addWidget(colorButton);
    colorBox->setLayout(colorLayout);

    auto *shaderBox = new QGroupBox(QStringLiteral("shader"));
    auto *shaderLayout = new QVBoxLayout;
    shaderGroup = new QButtonGroup;
    shaderGroup->setObjectName(QStringLiteral("shaderGroup"));
    addRadio(shaderLayout, shaderGroup, "phong", 0, true);
    addRadio(shaderLayout, shaderGroup, "wireframe", 1);
    addRadio(shaderLayout, shaderGroup, "transparency", 2);
    addRadio(shaderLayout, shaderGroup, "reflection 1", 3);
    addRadio(shaderLayout, shaderGroup, "reflection 2", 4);
    shaderBox->setLayout(shaderLayout);

    fillDock(meshDock, {cameraBox, colorBox, shaderBox});

    connect(cameraGroup, &QButtonGroup::idClicked, view, &Widget3D::setCamera);
    connect(shaderGroup, &QButtonGroup::idClicked, view, &Widget3D::setMeshShader);
    connect(colorButton, &QPushButton::clicked, view, &Widget3D::setMeshColor);
}

void Window::createMenus()
{
    QMenu *fileMenu = menuBar()->addMenu(QStringLiteral("&File"));
    QAction *openAction = fileMenu->addAction(QStringLiteral("&Open"));
    openAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+O")));
    QMenu *recentMenu = fileMenu->addMenu(QStringLiteral("&Recent files"));
    recentMenu->setObjectName(QStringLiteral("recentMenu"));
    recentFiles = new RecentFiles(recentMenu, this);
    QAction *saveAction = fileMenu->addAction(QStringLiteral("&Save"));
    saveAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+S")));
    QAction *exitAction = fileMenu->addAction(QStringLiteral("&Exit"));
    exitAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+Q")));

    QMenu *editMenu = menuBar()->addMenu(QStringLiteral("&Edit"));
    QAction *undoAction = editMenu->addAction(QStringLiteral("&Undo"));
    undoAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+Z")));
    QAction *redoAction = editMenu->addAction(QStringLiteral("&Redo"));
    redoAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+Y")));
    QAction *invertMaskAction = editMenu->addAction(QStringLiteral("Invert mask"));
    invertMaskAction->setObjectName(QStringLiteral("invertMask"));
    QAction *clearMaskAction = editMenu->addAction(QStringLiteral("Clear mask"));
    clearMaskAction->setObjectName(QStringLiteral("clearMask"));

    QMenu *displayMenu = menuBar()->addMenu(QStringLiteral("&Display"));
    displayMenu->addAction(sculptDock->toggleViewAction());
    displayMenu->addAction(meshDock->toggleViewAction());

    HelpDialog::addHelpMenu(this);

    // Exit closes the window, which asks about unsaved changes; the last window closed quits.
    connect(exitAction, &QAction::triggered, this, &Window::close);
    connect(saveAction, &QAction::triggered, view, &Widget3D::saveFile);
    connect(openAction, &QAction::triggered, view, [this] {
        if (document->maybeSave())
            view->loadFile();
    });
    connect(view, &Widget3D::meshOpened, recentFiles, &RecentFiles::add);
    connect(recentFiles, &RecentFiles::openRequested, view, [this](const QString &path) {
        if (document->maybeSave())
            view->openFile(path);
    });
    connect(undoAction, &QAction::triggered, view, &Widget3D::undo);
    connect(redoAction, &QAction::triggered, view, &Widget3D::redo);
    connect(invertMaskAction, &QAction::triggered, view, &Widget3D::invertMask);
    connect(clearMaskAction, &QAction::triggered, view, &Widget3D::clearMask);
}
