#include "MeshBytes.h"
#include "TestIo.h"
#include "TestMeshes.h"
#include "io/Files.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using namespace TestIo;

namespace {

Run runCli(const QStringList &arguments)
{
    return runProgram(QStringLiteral(ARGILIUM_CLI), arguments, 120000);
}

std::vector<QVector3D> positionsOf(const QString &path)
{
    MeshData data;
    Files::parseSTL(readFile(path), data);
    return data.positions;
}

QVector3D mirrored(const QVector3D &p)
{
    return QVector3D(-p.x(), p.y(), p.z());
}

} // namespace

class TestSculptCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void strokeRaisesTheSurface();
    void history_data();
    void history();
    void symmetry();
    void refuses_data();
    void refuses();

private:
    QString path(const QString &name) const { return dir_.filePath(name); }
    // A stroke of downward dabs at the given x positions (y = 0) over the sphere's top, in the
    // loaded sphere's coordinates.
    QByteArray stroke(const std::vector<float> &xs, bool symmetry) const;

    QTemporaryDir dir_;
    float loadedRadius_ = 0.0f;
};

QByteArray TestSculptCli::stroke(const std::vector<float> &xs, bool symmetry) const
{
    QJsonArray dabs;
    for (float x : xs) {
        dabs.append(QJsonObject {{"origin", QJsonArray {x, 0.0, 3.0 * loadedRadius_}},
            {"direction", QJsonArray {0.0, 0.0, -1.0}}, {"radius", 0.25 * loadedRadius_}});
    }
    const QJsonObject o {{"tool", "inflate"}, {"topology", "static"}, {"intensity", 1.0},
        {"symmetry", symmetry}, {"dabs", dabs}};
    return QJsonDocument(o).toJson();
}

void TestSculptCli::initTestCase()
{
    QVERIFY(dir_.isValid());
    const TestMeshes::IcosphereData sphere = TestMeshes::icosphereData(3);
    MeshBytes::FaceList faces(sphere.triangles.begin(), sphere.triangles.end());
    QVERIFY(writeFile(
        path("sphere.stl"), MeshBytes::binarySTL(MeshBytes::facetsOf(sphere.positions, faces))));
    std::unique_ptr<Mesh> mesh = Files::load(path("sphere.stl"));
    QVERIFY(mesh);
    loadedRadius_ = mesh->getVertex(0).position.length();

    QVERIFY(writeFile(path("stroke.json"), stroke({-9, -3, 3, 9}, false)));
    QVERIFY(writeFile(path("symmetric.json"), stroke({0.3f * loadedRadius_}, true)));
    QVERIFY(writeFile(path("broken.json"), R"({"dabs": [{"origin": [0, 0, 1]}]})"));

    // References: the sphere written back untouched, and sculpted without history steps.
    QCOMPARE(runCli({"convert", path("sphere.stl"), path("input.stl")}).status, 0);
    QCOMPARE(runCli({"sculpt", path("sphere.stl"), path("sculpted.stl"), "--stroke",
                        path("stroke.json")})
                 .status,
        0);
}

void TestSculptCli::strokeRaisesTheSurface()
{
    const Run run =
        runCli({"sculpt", path("sphere.stl"), path("raised.stl"), "--stroke", path("stroke.json")});
    QCOMPARE(run.err, QString());
    QCOMPARE(run.status, 0);
    QCOMPARE(run.out.count(u'\n'), 1);
    const QJsonObject line = QJsonDocument::fromJson(run.out.toUtf8()).object();
    QCOMPARE(line.value("dabs").toInt(), 4);
    QCOMPARE(line.value("hits").toInt(), 4);
    QCOMPARE(line.value("applications").toInt(), 4);
    QCOMPARE(line.value("vertices").toInt(), line.value("vertices_before").toInt());
    QCOMPARE(line.value("triangles").toInt(), 1280);
    QCOMPARE(line.value("ms_per_dab").toArray().size(), 4);
    QVERIFY(line.value("ms_total").toDouble() >= 0.0);

    const std::vector<QVector3D> before = positionsOf(path("input.stl"));
    const std::vector<QVector3D> after = positionsOf(path("raised.stl"));
    QCOMPARE(after.size(), before.size());
    int moved = 0;
    for (std::size_t i = 0; i < before.size(); ++i) {
        if (after[i] == before[i])
            continue;
        ++moved;
        // Only the top rises: the brush (a quarter of the radius) sits at the pole.
        QVERIFY(after[i].length() > before[i].length());
        QVERIFY(before[i].z() > 0.8f);
    }
    QVERIFY(moved > 5);
}

void TestSculptCli::history_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("reference");
    QTest::newRow("undo restores the input") << QStringList {"--undo", "1"} << "input.stl";
    QTest::newRow("undo past the first state") << QStringList {"--undo", "3"} << "input.stl";
    QTest::newRow("undo then redo") << QStringList {"--undo", "1", "--redo", "1"} << "sculpted.stl";
    QTest::newRow("redo with nothing undone") << QStringList {"--redo", "2"} << "sculpted.stl";
}

void TestSculptCli::history()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, reference);
    const QString out = path(QStringLiteral("history-%1.stl").arg(QTest::currentDataTag()));
    const Run run = runCli(
        QStringList {"sculpt", path("sphere.stl"), out, "--stroke", path("stroke.json")} + steps);
    QCOMPARE(run.err, QString());
    QCOMPARE(run.status, 0);
    const QByteArray expected = readFile(path(reference));
    QVERIFY(!expected.isEmpty());
    QVERIFY(readFile(out) == expected);
    QVERIFY(readFile(path("sculpted.stl")) != readFile(path("input.stl")));
}

void TestSculptCli::symmetry()
{
    const Run run = runCli(
        {"sculpt", path("sphere.stl"), path("mirror.stl"), "--stroke", path("symmetric.json")});
    QCOMPARE(run.status, 0);
    QCOMPARE(QJsonDocument::fromJson(run.out.toUtf8()).object().value("applications").toInt(), 2);

    const std::vector<QVector3D> before = positionsOf(path("input.stl"));
    const std::vector<QVector3D> after = positionsOf(path("mirror.stl"));
    QCOMPARE(after.size(), before.size());
    int movedLeft = 0;
    int movedRight = 0;
    for (std::size_t i = 0; i < before.size(); ++i) {
        std::size_t partner = before.size();
        for (std::size_t j = 0; j < before.size(); ++j) {
            if ((before[j] - mirrored(before[i])).length() < 1e-6f) {
                partner = j;
                break;
            }
        }
        QVERIFY(partner < before.size());
        QVERIFY2(
            (after[i] - mirrored(after[partner])).length() < 1e-5f, qPrintable(QString::number(i)));
        if (after[i] != before[i])
            ++(before[i].x() < 0.0f ? movedLeft : movedRight);
    }
    QVERIFY(movedLeft > 0);
    QCOMPARE(movedLeft, movedRight);
}

void TestSculptCli::refuses_data()
{
    QTest::addColumn<QStringList>("arguments"); // after "sculpt IN OUT"
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("mention");
    QTest::newRow("no stroke") << QStringList() << 2 << "--stroke";
    QTest::newRow("negative undo")
        << QStringList {"--stroke", "stroke.json", "--undo", "-1"} << 2 << "--undo";
    QTest::newRow("redo not a number")
        << QStringList {"--stroke", "stroke.json", "--redo", "x"} << 2 << "--redo";
    QTest::newRow("missing stroke file")
        << QStringList {"--stroke", "nowhere.json"} << 1 << "nowhere.json";
    QTest::newRow("bad stroke") << QStringList {"--stroke", "broken.json"} << 1 << "dab 0";
}

void TestSculptCli::refuses()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, mention);
    for (QString &a : arguments) {
        if (a.endsWith(QLatin1String(".json")))
            a = path(a);
    }
    const QString out = path("refused.stl");
    const Run run = runCli(QStringList {"sculpt", path("sphere.stl"), out} + arguments);
    QCOMPARE(run.status, status);
    QVERIFY2(run.err.contains(mention), qPrintable(run.err));
    QCOMPARE(run.out, QString());
    QVERIFY(!QFile::exists(out));

    // Output names that do not end in .stl, and unreadable meshes, are refused as well.
    QCOMPARE(
        runCli({"sculpt", path("sphere.stl"), path("out.obj"), "--stroke", path("stroke.json")})
            .status,
        2);
    QCOMPARE(runCli({"sculpt", path("none.stl"), out, "--stroke", path("stroke.json")}).status, 1);
    QVERIFY(!QFile::exists(out));
}

QTEST_GUILESS_MAIN(TestSculptCli)
#include "tst_sculpt_cli.moc"
