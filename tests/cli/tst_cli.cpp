// argilium-cli run as a user runs it: one table of command lines with their exit status and output;
// the files written read back (the converted cube against its corners, sculpted spheres against
// reference runs: the sphere untouched and sculpted without history steps), and the file already
// there left alone when a command fails.

#include "MeshBytes.h"
#include "TestIo.h"
#include "io/Files.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using namespace MeshBytes;
using namespace TestIo;

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        const FacetList cube = facetsOf(movedCube(), cubeFaces);
        // Strokes of dabs straight down onto the sphere's top, in the loaded sphere's units.
        icosphereFile(path("sphere.stl"), 3);
        const float r = Files::load(path("sphere.stl"))->getVertex(0).position.length();
        auto stroke = [r](const QString &settings, std::initializer_list<float> xs, float radius) {
            QStringList dabs;
            for (float x : xs)
                dabs << QString::asprintf(
                    R"({"origin": [%g, 0, %g], "direction": [0, 0, -1], "radius": %g})", x, 3 * r,
                    radius);
            return QString(R"({%1, "dabs": [%2]})").arg(settings, dabs.join(u',')).toUtf8();
        };
        auto list = [](const QByteArrayList &strokes) {
            return "{\"strokes\": [" + strokes.join(',') + "]}";
        };
        const QString inflate = R"("tool": "inflate", "topology": "static", "intensity": 1)";
        // A brush far larger than the sphere masks (or with "invert" frees) all of it.
        const QByteArray dabs = stroke(inflate, {-9, -3, 3, 9}, 0.25f * r),
                         mask = stroke(R"("tool": "mask", "intensity": 1)", {0, 1}, 5000),
                         unmask = stroke(
                             R"("tool": "mask", "intensity": 1, "invert": true)", {0, 1}, 5000);
        const std::pair<const char *, QByteArray> files[] = {{"cube.stl", binarySTL(cube)},
            {"cube-text.STL", textSTL(cube)}, {"cube.obj", objText(movedCube(), cubeFaces)},
            {"cube.3ds", file3DS(object3DS("Cube", vertexList(movedCube()) + faceList(cubeFaces)))},
            {"broken.obj", "v 0 0 0\nv 1 0 0\nf 1 2 3\n"}, {"kept.stl", "previous"},
            {"broken.json", R"({"dabs": [{"origin": [0, 0, 1]}]})"}, {"stroke.json", dabs},
            {"symmetric.json", stroke(inflate + R"(, "symmetry": true)", {0.3f * r}, 0.25f * r)},
            {"masked.json", list({mask, dabs, stroke(R"("tool": "crease")", {-9, 9}, 80)})},
            {"unmasked.json", list({mask, unmask, dabs})},
            {"masked-last.json", list({unmask, dabs, mask})}};
        for (const auto &[name, bytes] : files)
            QVERIFY(writeFile(path(name), bytes));
        // References: the sphere written back untouched, and sculpted without history steps.
        QCOMPARE(cli("convert sphere.stl input.stl").status, 0);
        QCOMPARE(cli("sculpt sphere.stl sculpted.stl --stroke stroke.json").status, 0);
        QVERIFY(readFile(path("sculpted.stl")) != readFile(path("input.stl")));
    }
    void run_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("expected"); // a regular expression found in the output
        QTest::addColumn<QString>("same"); // the file that the written one must equal
        auto row = [](const QString &arguments, int status, const QString &expected,
                       const char *same = "") {
            QTest::newRow(arguments.isEmpty() ? "nothing" : qPrintable(arguments))
                << arguments << status << expected << QString(same);
        };
        // The moved cube's figures, in every format.
        for (const auto &[file, format] : {std::pair("cube.stl", "stl"),
                 {"cube-text.STL", "stl-text"}, {"cube.obj", "obj"}, {"cube.3ds", "3ds"}})
            row(QString("info ") + file, 0,
                QString(R"(^\{"center":\[10,-2,0.9999999\],"diagonal":6.928203,"file":".+/%1",)"
                        R"("format":"%2","scale":72.168785,"triangles":12,"vertices":8\}\n$)")
                    .arg(file, format));
        row("convert cube.stl out.OBJ", 0, "^$");
        row("convert cube.3ds out-3ds.stl", 0, "^$");
        row("", 2, "Usage: argilium-cli <command>");
        row("--help", 0, "convert");
        row("sculpt-everything", 2, R"(error: unknown command "sculpt-everything")");
        row("info", 2, "error: expected 1 argument, got 0");
        row("info --help", 0, "argilium-cli info");
        row("check --frobnicate cube.stl", 2, "frobnicate");
        row("convert broken.obj kept.stl", 1, "error: OBJ, line 3");
        row("convert cube.obj no/such/kept.stl", 1, "error: cannot write");
        row("convert cube.stl kept.ply", 2, "must end in .stl or .obj");
        row("sculpt sphere.stl kept.stl", 2, "--stroke");
        row("sculpt sphere.stl kept.stl --stroke stroke.json --undo -1", 2, "--undo");
        row("sculpt sphere.stl kept.stl --stroke nowhere.json", 1, "nowhere.json");
        row("sculpt sphere.stl kept.stl --stroke broken.json", 1, "dab 0");
        row("sculpt sphere.stl kept.obj --stroke stroke.json", 2, "must end in .stl");
        row("sculpt none.stl kept.stl --stroke stroke.json", 1, "error: cannot open");
        // The figures of the stroke, the brush applied twice with symmetry; undo steps beyond the
        // first do nothing.
        row("sculpt sphere.stl out.stl --stroke stroke.json", 0,
            R"(^\{"applications":4,"dabs":4,"hits":4,"ms_per_dab":\[[^,]+,[^,]+,[^,]+,[^,]+\],)"
            R"(.*"triangles":1280,.*"vertices":642,"vertices_before":642\}\n$)");
        row("sculpt sphere.stl symmetric.stl --stroke symmetric.json", 0,
            R"("applications":2,"dabs":1,"hits":1,)");
        row("sculpt sphere.stl undo3.stl --stroke stroke.json --undo 3", 0, "", "input.stl");
        row("sculpt sphere.stl redo.stl --stroke stroke.json --undo 1 --redo 1", 0, "",
            "sculpted.stl");
        // Stroke lists, each stroke an undo step: nothing moves under a full mask, not even the
        // topology; a mask cleared (Ctrl) frees the mesh again.
        row("sculpt sphere.stl masked.stl --stroke masked.json", 0, R"("hits":8,)", "input.stl");
        row("sculpt sphere.stl unmasked.stl --stroke unmasked.json", 0, R"("hits":8,)",
            "sculpted.stl");
        row("sculpt sphere.stl masked-last.stl --stroke masked-last.json --undo 1", 0,
            R"("hits":8,.*"strokes":3,)", "sculpted.stl");
    }
    // Usage errors exit with 2, failures with 1 and one line on standard error, both with nothing
    // on standard output.
    void run()
    {
        QFETCH(QString, arguments);
        QFETCH(int, status);
        QFETCH(QString, expected);
        QFETCH(QString, same);
        const Run run = cli(arguments);
        QVERIFY2(QString(run.out + run.err).contains(QRegularExpression(expected)),
            qPrintable(run.out + run.err));
        QCOMPARE(run.status, status);
        if (status == 1)
            QVERIFY(run.err.startsWith("error: ") && run.err.count(u'\n') == 1);
        QCOMPARE(status ? run.out : run.err, QString());
        QCOMPARE(readFile(path("kept.stl")), QByteArray("previous"));
        QVERIFY(!QFile::exists(path("kept.obj")) && !QFile::exists(path("kept.ply")));
        const QStringList words = arguments.split(u' ');
        const QString out = path(words.value(2));
        if (!same.isEmpty()) {
            QCOMPARE(readFile(out), readFile(path(same)));
        } else if (words[0] == "convert"
            && status == 0) { // the same cube in the source's units, closed
            MeshData data;
            QVERIFY(out.endsWith(".stl") ? Files::parseSTL(readFile(out), data)
                                         : Files::parseOBJ(readFile(out), data));
            QCOMPARE(data.corners.size(), std::size_t(36));
            for (std::size_t c = 0; c < 36; ++c)
                QVERIFY((data.positions[data.corners[c]] - movedCube()[cubeFaces[c / 3][c % 3]])
                            .length()
                    < 1e-5f);
            QVERIFY(cli("check " + words[2]).out.endsWith("\nclosed: yes\n"));
        }
    }

private:
    QString path(const QString &name) const { return dir.filePath(name); }
    // The tool run on words split at spaces, the names of the test's files completed.
    Run cli(const QString &arguments) const
    {
        QStringList words = arguments.split(u' ', Qt::SkipEmptyParts);
        for (QString &a : words)
            if (a.contains(u'.') && !a.startsWith(u'-'))
                a = path(a);
        return runProgram(QStringLiteral(ARGILIUM_CLI), words, 120000);
    }
    QTemporaryDir dir;
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
