#include "TestIo.h"

#include <QDir>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

// The build tree installed into a temporary root (DESTDIR), and the installed program started
// from another folder on a mesh: it finds its shaders in the installed share/argilium and draws.
class TestInstall : public QObject
{
    Q_OBJECT

private slots:
    void installedProgramRuns();
};

// Pixels of the mesh's colour (cyan-grey) on the screen, one in four counted.
static int meshPixels()
{
    const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    int count = 0;
    for (int y = 0; y < screen.height(); y += 2)
        for (int x = 0; x < screen.width(); x += 2) {
            const QColor c = screen.pixelColor(x, y);
            count += c.blue() > c.red() + 30 && c.green() > c.red() + 30;
        }
    return count;
}

void TestInstall::installedProgramRuns()
{
    QTemporaryDir root;
    QTemporaryDir elsewhere;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DESTDIR"), root.path());
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(ARGILIUM_CMAKE),
        {QStringLiteral("--install"), QStringLiteral(ARGILIUM_BUILD_DIR),
            QStringLiteral("--prefix"), QStringLiteral("/usr")});
    QVERIFY(process.waitForFinished(120000));
    QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
    const QDir usr(root.filePath(QStringLiteral("usr")));
    QVERIFY(usr.exists(QStringLiteral("bin/argilium-cli")));
    QVERIFY(usr.exists(QStringLiteral("share/icons/hicolor/scalable/apps/argilium.svg")));
    const TestIo::Run validate = TestIo::runProgram(QStringLiteral("desktop-file-validate"),
        {usr.filePath(QStringLiteral("share/applications/argilium.desktop"))}, 30000);
    QCOMPARE(validate.status, 0);
    QCOMPARE(validate.out + validate.err, QString());

    // The user's settings and recovery copies stay out of it.
    environment.remove(QStringLiteral("DESTDIR"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), elsewhere.filePath(QStringLiteral("c")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), elsewhere.filePath(QStringLiteral("d")));
    const QString mesh = TestIo::icosphereFile(elsewhere.filePath(QStringLiteral("s.stl")), 3);
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(elsewhere.path());
    process.start(usr.filePath(QStringLiteral("bin/argilium")), {mesh});
    QTRY_VERIFY_WITH_TIMEOUT(meshPixels() > 15000, 60000);
    process.terminate();
    QVERIFY(process.waitForFinished(10000));
    const QString errors = QString::fromLocal8Bit(process.readAllStandardError());
    QVERIFY2(!errors.contains(QStringLiteral("shader")), qPrintable(errors)); // no fallback
}

QTEST_MAIN(TestInstall)
#include "tst_install.moc"
