#include "Window.h"

#include "Autosave.h"
#include "Widget3D.h"
#include "WidgetMap.h"
#include "render/SurfaceFormat.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

namespace {

// Without a saved layout: the window's own size, or the whole screen when that is nearly it.
void showFirstTime(Window &window)
{
    window.resize(window.sizeHint());
    QScreen *screen = QGuiApplication::primaryScreen();
    const QSize desktop = screen->geometry().size();
    const double ratio =
        double(window.width() * window.height()) / double(desktop.width() * desktop.height());
    if (0.75 > ratio) {
        window.show();
    } else {
        // Without a window manager a maximize request is not honoured: fit the screen first.
        window.setGeometry(screen->availableGeometry());
        window.showMaximized();
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication::setStyle(QStringLiteral("plastique")); // ignored where the style does not exist

    setDefaultSurfaceFormat();

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Argilium"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Sculpt triangle meshes as if they were clay."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("file"),
        QStringLiteral("Mesh to open (STL, OBJ or 3DS)."), QStringLiteral("[file]"));
    parser.process(app);

    Window window;
    if (window.restoreLayout()) {
        window.show();
    } else {
        showFirstTime(window);
    }
    // For scripts that drive the program with synthetic input: where the controls are, once the
    // window has its final layout.
    const QString widgetMap = qEnvironmentVariable("ARGILIUM_WIDGET_MAP");
    if (!widgetMap.isEmpty())
        QTimer::singleShot(
            1000, &window, [&window, widgetMap] { writeWidgetMap(&window, widgetMap); });
    // Work that a crash left behind comes first; the file named on the command line is then
    // not opened, so that the recovered work is not replaced at once.
    const bool recovered =
        Autosave::offerRecovery(window.getView(), window.getDocument(), window.getAutosave());
    const QStringList files = parser.positionalArguments();
    if (!files.isEmpty() && !recovered)
        window.getView()->openFile(files.first());
    return QApplication::exec();
}
