#include "TestIo.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace TestIo;

// Stroke files of several strokes, each an undo step: a mask stroke, its inverse (Ctrl) and a
// brush stroke, headless.
class TestMaskCli : public QObject
{
    Q_OBJECT

private slots:
    void strokes();
};

void TestMaskCli::strokes()
{
    QTemporaryDir dir;
    const QString sphere = icosphereFile(dir.filePath(QStringLiteral("sphere.stl")), 3);
    const QString out = dir.filePath(QStringLiteral("out.stl"));
    const QString json = dir.filePath(QStringLiteral("strokes.json"));
    // Two dabs from above; a brush far larger than the sphere (un)masks all of it fully.
    const auto stroke = [](const char *settings, int radius) {
        return QStringLiteral(R"({%1, "dabs": [{"origin": [0, 0, 1000], "direction": [0, 0, -1],
            "radius": %2}, {"origin": [1, 0, 1000], "direction": [0, 0, -1], "radius": %2}]})")
            .arg(QLatin1String(settings))
            .arg(radius);
    };
    const QString mask = stroke(R"("tool": "mask", "intensity": 1)", 5000);
    const QString unmask = stroke(R"("tool": "mask", "intensity": 1, "invert": true)", 5000);
    const QString inflate = stroke(R"("tool": "inflate")", 80);
    const auto sculpt = [&](const QStringList &strokes, int undo) {
        writeFile(json, "{\"strokes\": [" + strokes.join(u',').toUtf8() + "]}");
        const Run r = runProgram(QStringLiteral(ARGILIUM_CLI),
            {QStringLiteral("sculpt"), sphere, out, QStringLiteral("--stroke"), json,
                QStringLiteral("--undo"), QString::number(undo)},
            60000);
        return r.status == 0
                && r.out.contains(QStringLiteral("\"hits\":%1").arg(2 * strokes.size()))
            ? readFile(out)
            : QByteArray();
    };
    const QByteArray inflated = sculpt({unmask, inflate, mask}, 1);
    QVERIFY(!inflated.isEmpty());
    QCOMPARE(sculpt({mask, unmask, inflate}, 0), inflated);
    const QByteArray held = sculpt({mask, inflate}, 0);
    QVERIFY(!held.isEmpty() && held != inflated);
}

QTEST_APPLESS_MAIN(TestMaskCli)
#include "tst_mask_cli.moc"
