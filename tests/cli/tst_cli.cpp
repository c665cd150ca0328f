// argilium-cli run as a user runs it: info, convert, check and sculpt, their output, exit status
// and errors, and files left alone when a command fails.

#include "MeshBytes.h"
#include "TestIo.h"
#include "TestMeshes.h"
#include "io/Files.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using namespace MeshBytes;
using namespace TestIo;

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        const PositionList cube = movedCube();
        QVERIFY(writeFile(path("cube.stl"), binarySTL(facetsOf(cube, cubeFaces))));
        QVERIFY(writeFile(path("cube-text.STL"), textSTL(facetsOf(cube, cubeFaces))));
        QVERIFY(writeFile(path("cube.obj"), objText(cube, cubeFaces)));
        QVERIFY(writeFile(
            path("cube.3ds"), file3DS(object3DS("Cube", vertexList(cube) + faceList(cubeFaces)))));
        QVERIFY(writeFile(path("broken.obj"), "v 0 0 0\nv 1 0 0\nf 1 2 3\n"));
        QVERIFY(writeFile(path("truncated.stl"), binarySTL(facetsOf(cube, cubeFaces)).chopped(30)));
        QVERIFY(writeFile(path("kept.stl"), "previous"));
        // A sphere and strokes of downward dabs over its top, in the loaded sphere's coordinates.
        TestIo::icosphereFile(path("sphere.stl"), 3);
        const float radius = Files::load(path("sphere.stl"))->getVertex(0).position.length();
        auto stroke = [radius](const std::vector<float> &xs, bool symmetry) {
            QJsonArray dabs;
            for (float x : xs)
                dabs.append(QJsonObject {{"origin", QJsonArray {x, 0.0, 3.0 * radius}},
                    {"direction", QJsonArray {0.0, 0.0, -1.0}}, {"radius", 0.25 * radius}});
            return QJsonDocument(QJsonObject {{"tool", "inflate"}, {"topology", "static"},
                                     {"intensity", 1.0}, {"symmetry", symmetry}, {"dabs", dabs}})
                .toJson();
        };
        QVERIFY(writeFile(path("stroke.json"), stroke({-9, -3, 3, 9}, false)));
        QVERIFY(writeFile(path("symmetric.json"), stroke({0.3f * radius}, true)));
        QVERIFY(writeFile(path("broken.json"), R"({"dabs": [{"origin": [0, 0, 1]}]})"));
        // References: the sphere written back untouched, and sculpted without history steps.
        QCOMPARE(cli({"convert", "sphere.stl", "input.stl"}).status, 0);
        QCOMPARE(
            cli({"sculpt", "sphere.stl", "sculpted.stl", "--stroke", "stroke.json"}).status, 0);
    }
    void info_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("format");
        const char *rows[][2] = {{"cube.stl", "stl"}, {"cube-text.STL", "stl-text"},
            {"cube.obj", "obj"}, {"cube.3ds", "3ds"}};
        for (const auto &row : rows)
            QTest::newRow(row[1]) << QString(row[0]) << QString(row[1]);
    }
    // One line of JSON: the file, its format, counts, scale, and the box in the file's units.
    void info()
    {
        QFETCH(QString, file);
        QFETCH(QString, format);
        const Run run = cli({"info", file});
        QCOMPARE(run.err, QString());
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out.count(u'\n'), 1);
        const QJsonObject info = QJsonDocument::fromJson(run.out.toUtf8()).object();
        QCOMPARE(info.value("file").toString(), path(file));
        QCOMPARE(info.value("format").toString(), format);
        QCOMPARE(info.value("vertices").toInt() * 100 + info.value("triangles").toInt(), 812);
        const double diagonal = 4.0 * std::sqrt(3.0);
        QVERIFY(std::abs(info.value("scale").toDouble() - 500.0 / diagonal) < 1e-4);
        QVERIFY(std::abs(info.value("diagonal").toDouble() - diagonal) < 1e-5);
        const QJsonArray center = info.value("center").toArray();
        for (int k = 0; k < 3; ++k)
            QVERIFY(std::abs(center[k].toDouble() - QVector3D(10, -2, 1)[k]) < 1e-5);
    }
    void convert_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("target");
        for (const char *file : {"cube.stl", "cube-text.STL", "cube.obj", "cube.3ds"})
            for (const char *target : {"stl", "OBJ"})
                QTest::addRow("%s to %s", file, target) << QString(file) << QString(target);
    }
    // The written file reads back to the same cube in the source's units, and passes the check.
    void convert()
    {
        QFETCH(QString, file);
        QFETCH(QString, target);
        const QString out = QStringLiteral("converted-%1.%2").arg(file, target);
        const Run run = cli({"convert", file, out});
        QCOMPARE(run.err, QString());
        QCOMPARE(run.status, 0);
        MeshData data;
        QString error;
        const QByteArray bytes = readFile(path(out));
        QVERIFY2(target == "stl" ? Files::parseSTL(bytes, data, &error)
                                 : Files::parseOBJ(bytes, data, &error),
            qPrintable(error));
        if (target == "stl")
            QCOMPARE(bytes.size(), qsizetype(84 + 50 * 12));
        QCOMPARE(data.corners.size(), std::size_t(36));
        const PositionList cube = movedCube();
        for (std::size_t c = 0; c < data.corners.size(); ++c)
            QVERIFY(
                (data.positions[data.corners[c]] - cube[cubeFaces[c / 3][c % 3]]).length() < 1e-5f);
        const Run check = cli({"check", out});
        QCOMPARE(check.status, 0);
        QCOMPARE(check.out,
            QStringLiteral("ok\nborder edges: 0\nedges with more than two triangles: 0\nrepeated "
                           "triangles: 0\n"
                           "triangles with two equal corners: 0\nclosed: yes\n"));
    }
    void refused_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text"); // found in the output
        auto row = [](const char *name, const char *arguments, int status, const char *text) {
            QTest::newRow(name) << QString(arguments).split(u' ', Qt::SkipEmptyParts) << status
                                << QString(text);
        };
        row("nothing", "", 2, "Usage: argilium-cli <command>");
        row("help", "--help", 0, "convert");
        row("unknown command", "sculpt-everything", 2,
            "error: unknown command \"sculpt-everything\"");
        row("info without file", "info", 2, "error: expected 1 argument, got 0");
        row("info help", "info --help", 0, "argilium-cli info");
        row("unknown option", "check --frobnicate cube.stl", 2, "frobnicate");
        row("check: truncated STL", "check truncated.stl", 1, "error: binary STL: the header");
        row("info: bad reference", "info broken.obj", 1, "error: OBJ, line 3: face names");
        row("check: missing file", "check missing.stl", 1, "error: cannot open");
        row("check: unknown type", "check cube.ply", 1, "error: cannot read");
        row("convert: unreadable source", "convert broken.obj kept.stl", 1, "error: OBJ, line 3");
        row("convert: unwritable target", "convert cube.obj no/such/kept.stl", 1,
            "error: cannot write");
        row("convert to PLY", "convert cube.stl kept.ply", 2, "must end in .stl or .obj");
        row("sculpt: no stroke", "sculpt sphere.stl kept.stl", 2, "--stroke");
        row("sculpt: negative undo", "sculpt sphere.stl kept.stl --stroke stroke.json --undo -1", 2,
            "--undo");
        row("sculpt: redo not a number", "sculpt sphere.stl kept.stl --stroke stroke.json --redo x",
            2, "--redo");
        row("sculpt: missing stroke file", "sculpt sphere.stl kept.stl --stroke nowhere.json", 1,
            "nowhere.json");
        row("sculpt: bad stroke", "sculpt sphere.stl kept.stl --stroke broken.json", 1, "dab 0");
        row("sculpt: OBJ output", "sculpt sphere.stl kept.obj --stroke stroke.json", 2, "error:");
        row("sculpt: unreadable mesh", "sculpt none.stl kept.stl --stroke stroke.json", 1,
            "error:");
    }
    // Usage errors exit with 2, failures with 1, each with one line on standard error and nothing
    // on standard output; the file that was there stays.
    void refused()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, text);
        const Run run = cli(arguments);
        QCOMPARE(run.status, status);
        QVERIFY2((run.out + run.err).contains(text), qPrintable(run.out + run.err));
        if (status == 1)
            QVERIFY(run.err.startsWith("error: ") && run.err.count(u'\n') == 1);
        if (status != 0)
            QCOMPARE(run.out, QString());
        QCOMPARE(readFile(path("kept.stl")), QByteArray("previous"));
        QVERIFY(!QFile::exists(path("kept.obj")) && !QFile::exists(path("kept.ply")));
    }
    void sculpt_data()
    {
        QTest::addColumn<QString>("arguments"); // after "sculpt sphere.stl OUT --stroke"
        QTest::addColumn<QString>(
            "reference"); // the file the output must equal; empty: checked here
        QTest::newRow("stroke raises the top") << "stroke.json"
                                               << "";
        QTest::newRow("symmetric stroke") << "symmetric.json"
                                          << "";
        QTest::newRow("undo restores the input") << "stroke.json --undo 1"
                                                 << "input.stl";
        QTest::newRow("undo past the first state") << "stroke.json --undo 3"
                                                   << "input.stl";
        QTest::newRow("undo then redo") << "stroke.json --undo 1 --redo 1"
                                        << "sculpted.stl";
        QTest::newRow("redo with nothing undone") << "stroke.json --redo 2"
                                                  << "sculpted.stl";
    }
    void sculpt()
    {
        QFETCH(QString, arguments);
        QFETCH(QString, reference);
        const QString out =
            QStringLiteral("out-%1.stl").arg(QTest::currentDataTag()).replace(u' ', u'-');
        const Run run =
            cli(QStringList {"sculpt", "sphere.stl", out, "--stroke"} + arguments.split(u' '));
        QCOMPARE(run.err, QString());
        QCOMPARE(run.status, 0);
        if (!reference.isEmpty()) {
            QCOMPARE(readFile(path(out)), readFile(path(reference)));
            QVERIFY(readFile(path("sculpted.stl")) != readFile(path("input.stl")));
            return;
        }
        // A line of JSON with the stroke's figures, then only the brush's vertices rise.
        const QJsonObject line = QJsonDocument::fromJson(run.out.toUtf8()).object();
        const bool symmetric = arguments.contains("symmetric.json");
        QCOMPARE(line.value("dabs").toInt(), symmetric ? 1 : 4);
        QCOMPARE(line.value("hits").toInt(), symmetric ? 1 : 4);
        QCOMPARE(line.value("applications").toInt(), symmetric ? 2 : 4);
        QCOMPARE(line.value("triangles").toInt(), 1280);
        QCOMPARE(line.value("vertices").toInt(), line.value("vertices_before").toInt());
        QCOMPARE(line.value("ms_per_dab").toArray().size(), line.value("dabs").toInt());
        MeshData before, after;
        QVERIFY(Files::parseSTL(readFile(path("input.stl")), before)
            && Files::parseSTL(readFile(path(out)), after));
        QCOMPARE(after.positions.size(), before.positions.size());
        int left = 0, right = 0;
        for (std::size_t i = 0; i < before.positions.size(); ++i) {
            const QVector3D p = before.positions[i], q = after.positions[i];
            if (p == q)
                continue;
            QVERIFY(q.length() > p.length() && p.z() > 0.8f); // the brush sits at the pole
            ++(p.x() < 0 ? left : right);
        }
        QVERIFY(left > 0);
        if (symmetric)
            QCOMPARE(left, right);
    }

private:
    QString path(const QString &name) const { return dir_.filePath(name); }
    Run cli(QStringList arguments) const
    {
        for (QString &a : arguments) // names of the test's files
            if (a.contains(u'.') && !a.startsWith(u'-'))
                a = path(a);
        return runProgram(QStringLiteral(ARGILIUM_CLI), arguments, 120000);
    }
    QTemporaryDir dir_;
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
