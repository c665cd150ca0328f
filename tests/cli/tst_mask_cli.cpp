#include "TestIo.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

using namespace TestIo;

// Stroke files of several strokes: a mask stroke followed by a brush stroke, headless.
class TestMaskCli : public QObject
{
    Q_OBJECT

private slots:
    void maskThenInflate();
};

void TestMaskCli::maskThenInflate()
{
    QTemporaryDir dir;
    const QString sphere = icosphereFile(dir.filePath(QStringLiteral("sphere.stl")), 3);
    // Two dabs from above: a brush far larger than the sphere masks all of it fully.
    const QString dabs =
        QStringLiteral(R"("dabs": [{"origin": [0, 0, 1000], "direction": [0, 0, -1],
        "radius": %1}, {"origin": [1, 0, 1000], "direction": [0, 0, -1], "radius": %1}])");
    const QString maskAll =
        QStringLiteral(R"({"tool": "mask", "intensity": 1, %1})").arg(dabs.arg(5000));
    const QString unmaskAll =
        QStringLiteral(R"({"tool": "mask", "invert": true, "intensity": 1, %1})")
            .arg(dabs.arg(5000));
    const QString inflate = QStringLiteral(R"({"tool": "inflate", %1})").arg(dabs.arg(80));
    // The mask holds the inflate back, lowered again (invert) it does not, and --undo 1 undoes
    // the last stroke only: all but the second give the inflate's result.
    const std::pair<QStringList, int> runs[] = {{{inflate}, 0}, {{maskAll, inflate}, 0},
        {{inflate, maskAll}, 1}, {{maskAll, unmaskAll, inflate}, 0}};
    QByteArray first;
    for (const auto &run : runs) {
        const QString json = dir.filePath(QStringLiteral("strokes.json"));
        const QString out = dir.filePath(QStringLiteral("out.stl"));
        QVERIFY(writeFile(json, "{\"strokes\": [" + run.first.join(u',').toUtf8() + "]}"));
        const Run r = runProgram(QStringLiteral(ARGILIUM_CLI),
            {QStringLiteral("sculpt"), sphere, out, QStringLiteral("--stroke"), json,
                QStringLiteral("--undo"), QString::number(run.second)},
            60000);
        QVERIFY2(r.status == 0, qPrintable(r.err));
        const QJsonObject line = QJsonDocument::fromJson(r.out.toUtf8()).object();
        QCOMPARE(line.value(QStringLiteral("hits")).toInt(), 2 * run.first.size());
        if (first.isEmpty())
            first = readFile(out);
        QCOMPARE(readFile(out) == first, &run != &runs[1]);
    }
}

QTEST_APPLESS_MAIN(TestMaskCli)
#include "tst_mask_cli.moc"
