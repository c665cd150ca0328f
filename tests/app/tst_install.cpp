#include "TestIo.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

// The build tree installed into a temporary root (DESTDIR), and the installed program started
// from another folder: it finds its shaders in the installed share/argilium and draws the mesh.
class TestInstall : public QObject
{
    Q_OBJECT

private slots:
    void installedProgramRuns();
};

namespace {

// Pixels of the mesh's colour (cyan-grey) on the whole screen.
int meshPixels()
{
    const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    int count = 0;
    for (int y = 0; y < screen.height(); y += 2)
        for (int x = 0; x < screen.width(); x += 2) {
            const QColor c = screen.pixelColor(x, y);
            count += c.blue() > c.red() + 30 && c.green() > c.red() + 30;
        }
    return count * 4;
}

} // namespace

void TestInstall::installedProgramRuns()
{
    QTemporaryDir root;
    QTemporaryDir elsewhere;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DESTDIR"), root.path());
    QProcess install;
    install.setProcessEnvironment(environment);
    install.start(QStringLiteral(ARGILIUM_CMAKE),
        {QStringLiteral("--install"), QStringLiteral(ARGILIUM_BUILD_DIR),
            QStringLiteral("--prefix"), QStringLiteral("/usr")});
    QVERIFY(install.waitForFinished(120000));
    QVERIFY2(install.exitCode() == 0, install.readAllStandardError().constData());

    const QDir usr(root.filePath(QStringLiteral("usr")));
    for (const char *file :
        {"bin/argilium", "bin/argilium-cli", "share/argilium/Shaders/phongVertex.glsl",
            "share/argilium/Ressources/reflection1.png", "share/applications/argilium.desktop",
            "share/icons/hicolor/scalable/apps/argilium.svg"})
        QVERIFY2(QFileInfo::exists(usr.filePath(QLatin1String(file))), file);
    const TestIo::Run validate = TestIo::runProgram(QStringLiteral("desktop-file-validate"),
        {usr.filePath(QStringLiteral("share/applications/argilium.desktop"))}, 30000);
    QCOMPARE(validate.status, 0);
    QCOMPARE(validate.out + validate.err, QString());

    // Settings and recovery copies of the user stay out of it.
    environment.remove(QStringLiteral("DESTDIR"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), elsewhere.filePath(QStringLiteral("c")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), elsewhere.filePath(QStringLiteral("d")));
    const QString mesh = TestIo::icosphereFile(elsewhere.filePath(QStringLiteral("s.stl")), 3);
    QVERIFY(meshPixels() < 20000);
    QProcess program;
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(elsewhere.path());
    program.start(usr.filePath(QStringLiteral("bin/argilium")), {mesh});
    QVERIFY(program.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(meshPixels() > 50000, 60000);
    program.terminate();
    QVERIFY(program.waitForFinished(10000));
    const QString errors = QString::fromLocal8Bit(program.readAllStandardError());
    QVERIFY2(!errors.contains(QStringLiteral("shader")), qPrintable(errors));
}

QTEST_MAIN(TestInstall)
#include "tst_install.moc"
