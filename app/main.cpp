#include "Window.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QGuiApplication>
#include <QScreen>
#include <QSurfaceFormat>

int main(int argc, char *argv[])
{
    QApplication::setStyle(QStringLiteral("plastique")); // ignored where the style does not exist

    // The fixed-function calls need a compatibility context; without DeprecatedFunctions a
    // request for 3.0 or above silently yields a core profile.
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setVersion(3, 3);
    format.setOption(QSurfaceFormat::DeprecatedFunctions);
    format.setDepthBufferSize(24);
    format.setSamples(4);
    QSurfaceFormat::setDefaultFormat(format);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Argilium"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Sculpt triangle meshes as if they were clay."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("file"),
                                 QStringLiteral("Mesh to open (STL, OBJ or 3DS)."),
                                 QStringLiteral("[file]"));
    parser.process(app);

    Window window;
    window.resize(window.sizeHint());
    const QSize desktop = QGuiApplication::primaryScreen()->geometry().size();
    const double ratio = double(window.width() * window.height())
        / double(desktop.width() * desktop.height());
    if (0.75 > ratio)
        window.show();
    else
        window.showMaximized();
    return app.exec();
}
