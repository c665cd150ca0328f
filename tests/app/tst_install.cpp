// The build tree installed into a temporary root (DESTDIR) with a valid desktop entry and its icon,
// and the installed program started from another folder on a mesh: it finds its shaders in the
// installed share/argilium and draws.

#include "TestIo.h"

#include <QtGui>
#include <QtTest>

// Pixels of the mesh's colour (cyan-grey) on the screen, one in four counted.
static int meshPixels()
{
    const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    int count = 0;
    for (int i = 0; i < screen.width() * screen.height(); i += 4) {
        const QColor c = screen.pixelColor(i % screen.width(), i / screen.width());
        count += c.blue() > c.red() + 30 && c.green() > c.red() + 30;
    }
    return count;
}

class TestInstall : public QObject
{
    Q_OBJECT

private slots:
    void installedProgramRuns()
    {
        QTemporaryDir root, elsewhere;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DESTDIR", root.path());
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(ARGILIUM_CMAKE, {"--install", ARGILIUM_BUILD_DIR, "--prefix", "/usr"});
        QVERIFY(process.waitForFinished(120000));
        QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
        const QDir usr(root.filePath("usr"));
        QVERIFY(usr.exists("bin/argilium-cli")
            && usr.exists("share/icons/hicolor/scalable/apps/argilium.svg"));
        const TestIo::Run validate = TestIo::runProgram(
            "desktop-file-validate", {usr.filePath("share/applications/argilium.desktop")}, 30000);
        QCOMPARE(validate.out + validate.err + QString::number(validate.status), "0");
        // The user's settings and recovery copies stay out of it.
        environment.insert("XDG_CONFIG_HOME", elsewhere.filePath("c"));
        environment.insert("XDG_DATA_HOME", elsewhere.filePath("d"));
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(elsewhere.path());
        process.start(
            usr.filePath("bin/argilium"), {TestIo::icosphereFile(elsewhere.filePath("s.stl"), 3)});
        QTRY_VERIFY_WITH_TIMEOUT(meshPixels() > 15000, 60000);
        process.terminate();
        QVERIFY(process.waitForFinished(10000));
        const QString errors = QString::fromLocal8Bit(process.readAllStandardError());
        QVERIFY2(!errors.contains("shader"), qPrintable(errors)); // no fallback
    }
};

QTEST_MAIN(TestInstall)
#include "tst_install.moc"
