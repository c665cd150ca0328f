#include "Window.h"

#include "Widget3D.h"
#include "render/SurfaceFormat.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QGuiApplication>
#include <QScreen>

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
    const QStringList files = parser.positionalArguments();
    if (!files.isEmpty())
        window.getView()->openFile(files.first());
    return app.exec();
}
