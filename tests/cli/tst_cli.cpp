#include "MeshBytes.h"
#include "TestIo.h"
#include "io/Files.h"
#include "mesh/MeshCheck.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using namespace MeshBytes;
using namespace TestIo;

namespace {

Run runCli(const QStringList &arguments)
{
    return runProgram(QStringLiteral(ARGILIUM_CLI), arguments, 60000);
}

// The converted file read back: the moved cube's 8 corners and 12 triangles, in its units.
void compareWithMovedCube(const MeshData &data)
{
    QCOMPARE(data.positions.size(), std::size_t(8));
    QCOMPARE(data.corners.size(), std::size_t(36));
    const PositionList cube = movedCube();
    for (std::size_t c = 0; c < data.corners.size(); ++c) {
        const QVector3D expected = cube[cubeFaces[c / 3][c % 3]];
        QVERIFY((data.positions[data.corners[c]] - expected).length() < 1e-5f);
    }
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void info_data();
    void info();
    void convert_data();
    void convert();
    void convertKeepsOldFileOnFailure();
    void convertToObj_data();
    void convertToObj();
    void check_data();
    void check();
    void usage_data();
    void usage();

private:
    QString path(const QString &name) const { return dir_.filePath(name); }
    QTemporaryDir dir_;
};

void TestCli::initTestCase()
{
    QVERIFY(dir_.isValid());
    const PositionList cube = movedCube();
    QVERIFY(writeFile(path("cube.stl"), binarySTL(facetsOf(cube, cubeFaces))));
    QVERIFY(writeFile(path("cube-text.STL"), textSTL(facetsOf(cube, cubeFaces))));
    QVERIFY(writeFile(path("cube.obj"), objText(cube, cubeFaces)));
    QVERIFY(writeFile(
        path("cube.3ds"), file3DS(object3DS("Cube", vertexList(cube) + faceList(cubeFaces)))));
    QVERIFY(writeFile(path("broken.obj"), "v 0 0 0\nv 1 0 0\nf 1 2 3\n"));
    QByteArray truncated = binarySTL(facetsOf(cube, cubeFaces));
    truncated.chop(30);
    QVERIFY(writeFile(path("truncated.stl"), truncated));
}

void TestCli::info_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("format");
    QTest::newRow("binary STL") << "cube.stl"
                                << "stl";
    QTest::newRow("text STL") << "cube-text.STL"
                              << "stl-text";
    QTest::newRow("OBJ") << "cube.obj"
                         << "obj";
    QTest::newRow("3DS") << "cube.3ds"
                         << "3ds";
}

void TestCli::info()
{
    QFETCH(QString, file);
    QFETCH(QString, format);
    const Run run = runCli({"info", path(file)});
    QCOMPARE(run.err, QString());
    QCOMPARE(run.status, 0);
    QVERIFY(run.out.endsWith(u'\n'));
    QCOMPARE(run.out.count(u'\n'), 1);
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(run.out.toUtf8(), &parseError);
    QVERIFY2(doc.isObject(), qPrintable(parseError.errorString()));
    const QJsonObject info = doc.object();
    QCOMPARE(info.value("file").toString(), path(file));
    QCOMPARE(info.value("format").toString(), format);
    QCOMPARE(info.value("vertices").toInt(), 8);
    QCOMPARE(info.value("triangles").toInt(), 12);
    const double diagonal = 4.0 * std::sqrt(3.0);
    QVERIFY(std::abs(info.value("scale").toDouble() - 500.0 / diagonal) < 1e-4);
    QVERIFY(std::abs(info.value("diagonal").toDouble() - diagonal) < 1e-5);
    const QJsonArray center = info.value("center").toArray();
    QCOMPARE(center.size(), 3);
    QVERIFY(std::abs(center[0].toDouble() - 10.0) < 1e-5);
    QVERIFY(std::abs(center[1].toDouble() + 2.0) < 1e-5);
    QVERIFY(std::abs(center[2].toDouble() - 1.0) < 1e-5);
}

void TestCli::convert_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("from binary STL") << "cube.stl";
    QTest::newRow("from text STL") << "cube-text.STL";
    QTest::newRow("from OBJ") << "cube.obj";
    QTest::newRow("from 3DS") << "cube.3ds";
}

// The written file is binary STL in the source's units and reads back to the same cube.
void TestCli::convert()
{
    QFETCH(QString, file);
    const QString out = path(QStringLiteral("converted-%1.stl").arg(QTest::currentDataTag()));
    Run run = runCli({"convert", path(file), out});
    QCOMPARE(run.err, QString());
    QCOMPARE(run.status, 0);
    QCOMPARE(QFileInfo(out).size(), qint64(84 + 50 * 12));

    MeshData data;
    QFile f(out);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QString error;
    QVERIFY2(Files::parseSTL(f.readAll(), data, &error), qPrintable(error));
    QCOMPARE(data.format, QStringLiteral("stl"));
    compareWithMovedCube(data);
    if (QTest::currentTestFailed())
        return;

    run = runCli({"check", out});
    QCOMPARE(run.status, 0);
    QCOMPARE(run.out,
        QStringLiteral(
            "ok\nborder edges: 0\nedges with more than two triangles: 0\nrepeated triangles: 0\n"
            "triangles with two equal corners: 0\nclosed: yes\n"));
}

void TestCli::convertKeepsOldFileOnFailure()
{
    // A source that cannot be read leaves the target alone.
    const QString out = path("kept.stl");
    QVERIFY(writeFile(out, "previous"));
    Run run = runCli({"convert", path("broken.obj"), out});
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.startsWith("error: OBJ, line 3"), qPrintable(run.err));
    QCOMPARE(run.out, QString());
    QFile f(out);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("previous"));

    // A target that cannot be written is reported.
    run = runCli({"convert", path("cube.obj"), path("no/such/folder/out.stl")});
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.startsWith("error: cannot write"), qPrintable(run.err));
}

void TestCli::convertToObj_data()
{
    convert_data();
}

// The same conversions to OBJ: the file reads back to the cube, in the source's units.
void TestCli::convertToObj()
{
    QFETCH(QString, file);
    const QString out = path(QStringLiteral("converted-%1.OBJ").arg(QTest::currentDataTag()));
    Run run = runCli({"convert", path(file), out});
    QCOMPARE(run.err, QString());
    QCOMPARE(run.status, 0);

    MeshData data;
    QFile f(out);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QString error;
    QVERIFY2(Files::parseOBJ(f.readAll(), data, &error), qPrintable(error));
    compareWithMovedCube(data);
    if (QTest::currentTestFailed())
        return;
    run = runCli({"check", out});
    QCOMPARE(run.status, 0);
}

void TestCli::check_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err"); // start of standard error
    QTest::newRow("good STL")
        << "cube.stl" << 0
        << "ok\nborder edges: 0\nedges with more than two triangles: 0\nrepeated triangles: 0\n"
           "triangles with two equal corners: 0\nclosed: yes\n"
        << "";
    QTest::newRow("good 3DS")
        << "cube.3ds" << 0
        << "ok\nborder edges: 0\nedges with more than two triangles: 0\nrepeated triangles: 0\n"
           "triangles with two equal corners: 0\nclosed: yes\n"
        << "";
    QTest::newRow("truncated STL") << "truncated.stl" << 1 << ""
                                   << "error: binary STL: the header";
    QTest::newRow("bad reference") << "broken.obj" << 1 << ""
                                   << "error: OBJ, line 3: face names";
    QTest::newRow("missing file") << "missing.stl" << 1 << ""
                                  << "error: cannot open";
    QTest::newRow("unknown type") << "cube.ply" << 1 << ""
                                  << "error: cannot read";
}

void TestCli::check()
{
    QFETCH(QString, file);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);
    const Run run = runCli({"check", path(file)});
    QCOMPARE(run.status, status);
    QCOMPARE(run.out, out);
    QVERIFY2(err.isEmpty() ? run.err.isEmpty() : run.err.startsWith(err), qPrintable(run.err));
    QCOMPARE(run.err.count(u'\n'), err.isEmpty() ? 0 : 1);

    // info fails the same way on a file that cannot be read.
    if (status != 0) {
        const Run info = runCli({"info", path(file)});
        QCOMPARE(info.status, 1);
        QCOMPARE(info.out, QString());
        QCOMPARE(info.err, run.err);
    }
}

void TestCli::usage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("text"); // found in standard output or error
    QTest::newRow("nothing") << QStringList {} << 2 << "Usage: argilium-cli <command>";
    QTest::newRow("help") << QStringList {"--help"} << 0 << "convert";
    QTest::newRow("unknown command")
        << QStringList {"sculpt-everything"} << 2 << "error: unknown command \"sculpt-everything\"";
    QTest::newRow("info without file")
        << QStringList {"info"} << 2 << "error: expected 1 argument, got 0";
    QTest::newRow("info with two files")
        << QStringList {"info", "a.stl", "b.stl"} << 2 << "expected 1 argument, got 2";
    QTest::newRow("info help") << QStringList {"info", "--help"} << 0 << "argilium-cli info";
    QTest::newRow("convert to PLY")
        << QStringList {"convert", "a.stl", "b.ply"} << 2 << "must end in .stl or .obj";
    QTest::newRow("unknown option")
        << QStringList {"check", "--frobnicate", "a.stl"} << 2 << "frobnicate";
}

void TestCli::usage()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, text);
    const Run run = runCli(arguments);
    QCOMPARE(run.status, status);
    QVERIFY2((run.out + run.err).contains(text), qPrintable(run.out + run.err));
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
