#include "MeshBytes.h"
#include "TestIo.h"
#include "TestMeshes.h"
#include "io/Files.h"
#include "mesh/Mesh.h"
#include "mesh/MeshCheck.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <bit>
#include <functional>
#include <memory>

using namespace MeshBytes;
using namespace TestMeshes;
using namespace TestIo;

Q_DECLARE_METATYPE(Files::Kind)

namespace {

using MeshMaker = std::function<std::unique_ptr<Mesh>()>;

bool sameBits(float a, float b)
{
    return std::bit_cast<quint32>(a) == std::bit_cast<quint32>(b);
}

} // namespace

Q_DECLARE_METATYPE(MeshMaker)

// The OBJ writer (and the writer picked by the name), and the parsers' progress reports.
class TestObjWriter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void roundTrip_data();
    void roundTrip();
    void fileUnitsKept();
    void sculptedMeshRoundTrip();
    void badTriangleKeepsFile();
    void unwritableTarget();
    void saveChoosesByName_data();
    void saveChoosesByName();
    void reporterPercents_data();
    void reporterPercents();
    void parseProgress_data();
    void parseProgress();
    void loadReportsInOrder();

private:
    QString path(const QString &name) const { return dir.filePath(name); }
    QTemporaryDir dir;
};

void TestObjWriter::initTestCase()
{
    QVERIFY(dir.isValid());
}

void TestObjWriter::roundTrip_data()
{
    QTest::addColumn<MeshMaker>("make");
    QTest::newRow("tetrahedron") << MeshMaker([] { return makeTetrahedron(); });
    QTest::newRow("open grid") << MeshMaker([] { return makeGrid(5); });
    QTest::newRow("icosphere") << MeshMaker([] { return makeIcosphere(3); });
    QTest::newRow("degenerate triangle") << MeshMaker([] {
        // A triangle naming one vertex twice is kept as it is.
        return meshFromArrays(
            {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, {{{0, 1, 2}}, {{0, 2, 3}}, {{1, 1, 3}}});
    });
}

// Written numbers read back to the very floats written, and the triangles name the same
// vertices: the OBJ keeps the vertex array as it is, shared vertices included.
void TestObjWriter::roundTrip()
{
    QFETCH(MeshMaker, make);
    std::unique_ptr<Mesh> mesh = make();
    const QString out = path(QStringLiteral("round-%1.obj").arg(QTest::currentDataTag()));
    QStringList messages;
    QString error;
    QVERIFY2(Files::saveOBJ(
                 *mesh, out, [&](const QString &m) { messages << m; }, &error),
        qPrintable(error));
    QCOMPARE(messages, QStringList({QStringLiteral("Save"), QStringLiteral("Argilium")}));

    const QByteArray bytes = readFile(out);
    QVERIFY(bytes.startsWith("# Argilium"));
    QVERIFY(bytes.endsWith('\n'));
    MeshData data;
    QVERIFY2(Files::parseOBJ(bytes, data, &error), qPrintable(error));
    QCOMPARE(int(data.positions.size()), mesh->getNbVertices());
    QCOMPARE(int(data.corners.size()), 3 * mesh->getNbTriangles());
    const float k = 1.0f / mesh->getScale();
    for (int i = 0; i < mesh->getNbVertices(); ++i) {
        const QVector3D p = mesh->getVertex(i).position;
        const QVector3D &q = data.positions[std::size_t(i)];
        QVERIFY2(
            sameBits(q.x(), p.x() * k) && sameBits(q.y(), p.y() * k) && sameBits(q.z(), p.z() * k),
            qPrintable(QStringLiteral("vertex %1").arg(i)));
    }
    for (int t = 0; t < mesh->getNbTriangles(); ++t) {
        const Triangle &tri = mesh->getTriangle(t);
        QCOMPARE(data.corners[std::size_t(3 * t)], tri.vertex1);
        QCOMPARE(data.corners[std::size_t(3 * t + 1)], tri.vertex2);
        QCOMPARE(data.corners[std::size_t(3 * t + 2)], tri.vertex3);
    }

    // And through the whole reader: the same counts and a consistent mesh.
    std::unique_ptr<Mesh> back = Files::load(out, {}, &error);
    QVERIFY2(back, qPrintable(error));
    QCOMPARE(back->getNbVertices(), mesh->getNbVertices());
    QCOMPARE(back->getNbTriangles(), mesh->getNbTriangles());
    QCOMPARE(checkMesh(*back), QString());
}

// A mesh read from a file is written back in that file's units and place.
void TestObjWriter::fileUnitsKept()
{
    const PositionList cube = movedCube();
    const QString in = path(QStringLiteral("cube.obj"));
    QVERIFY(writeFile(in, objText(cube, cubeFaces)));
    QString error;
    std::unique_ptr<Mesh> mesh = Files::load(in, {}, &error);
    QVERIFY2(mesh, qPrintable(error));
    QVERIFY(qAbs(mesh->getScale() - 1.0f) > 1.0f); // the display scale is not 1

    const QString out = path(QStringLiteral("cube-out.obj"));
    QVERIFY2(Files::saveOBJ(*mesh, out, {}, &error), qPrintable(error));
    MeshData data;
    QVERIFY2(Files::parseOBJ(readFile(out), data, &error), qPrintable(error));
    QCOMPARE(data.positions.size(), cube.size());
    for (std::size_t i = 0; i < cube.size(); ++i)
        QVERIFY2((data.positions[i] - cube[i]).length() < 1e-5f,
            qPrintable(QStringLiteral("vertex %1").arg(i)));
    QCOMPARE(data.corners, flatten(cubeFaces));
}

// After the vertex and triangle arrays changed (as sculpting with dynamic topology does), the
// file still holds exactly the current arrays.
void TestObjWriter::sculptedMeshRoundTrip()
{
    std::unique_ptr<Mesh> mesh = makeIcosphere(2);
    // Move a few vertices and turn the first triangle over, as edits do.
    for (int i = 0; i < mesh->getNbVertices(); i += 7)
        mesh->getVertex(i).position *= 1.25f;
    std::swap(mesh->getTriangle(0).vertex1, mesh->getTriangle(0).vertex2);
    const QString out = path(QStringLiteral("edited.obj"));
    QString error;
    QVERIFY2(Files::saveOBJ(*mesh, out, {}, &error), qPrintable(error));
    MeshData data;
    QVERIFY2(Files::parseOBJ(readFile(out), data, &error), qPrintable(error));
    QCOMPARE(data.corners[0], mesh->getTriangle(0).vertex1);
    QCOMPARE(data.corners[1], mesh->getTriangle(0).vertex2);
    const float k = 1.0f / mesh->getScale();
    QVERIFY(sameBits(data.positions[7].x(), mesh->getVertex(7).position.x() * k));
}

// A mesh that cannot be written whole is not written at all: the old file stays.
void TestObjWriter::badTriangleKeepsFile()
{
    std::unique_ptr<Mesh> mesh = makeTetrahedron();
    mesh->getTriangle(2).vertex3 = 99;
    const QString out = path(QStringLiteral("kept.obj"));
    QVERIFY(writeFile(out, "previous"));
    QString error;
    QVERIFY(!Files::saveOBJ(*mesh, out, {}, &error));
    QVERIFY2(error.contains(QStringLiteral("vertex 99")), qPrintable(error));
    QCOMPARE(readFile(out), QByteArray("previous"));
}

void TestObjWriter::unwritableTarget()
{
    std::unique_ptr<Mesh> mesh = makeTetrahedron();
    const QString out = path(QStringLiteral("no/such/folder/out.obj"));
    QStringList messages;
    QString error;
    QVERIFY(!Files::saveOBJ(
        *mesh, out, [&](const QString &m) { messages << m; }, &error));
    QVERIFY2(error.startsWith(QStringLiteral("cannot write")), qPrintable(error));
    QVERIFY(!QFile::exists(out));
    QCOMPARE(messages.last(), QStringLiteral("Argilium"));
}

void TestObjWriter::saveChoosesByName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("obj");
    QTest::newRow("obj") << "a.obj" << true;
    QTest::newRow("OBJ upper case") << "b.OBJ" << true;
    QTest::newRow("stl") << "c.stl" << false;
    QTest::newRow("no ending") << "d" << false;
    QTest::newRow("obj inside the name") << "e.obj.stl" << false;
}

void TestObjWriter::saveChoosesByName()
{
    QFETCH(QString, name);
    QFETCH(bool, obj);
    std::unique_ptr<Mesh> mesh = makeIcosphere(1);
    const QString out = path(name);
    QString error;
    QVERIFY2(Files::save(*mesh, out, {}, &error), qPrintable(error));
    const QByteArray bytes = readFile(out);
    if (obj)
        QVERIFY(bytes.startsWith("# Argilium"));
    else
        QCOMPARE(bytes.size(), qsizetype(84 + 50 * mesh->getNbTriangles()));
}

void TestObjWriter::reporterPercents_data()
{
    QTest::addColumn<qint64>("total");
    QTest::newRow("empty") << qint64(0);
    QTest::newRow("one") << qint64(1);
    QTest::newRow("three") << qint64(3);
    QTest::newRow("hundred") << qint64(100);
    QTest::newRow("odd size") << qint64(12347);
    QTest::newRow("large") << qint64(3000000000LL);
}

// Reports rise strictly from 0 to 100, each the share done at some position, and a total of
// at least 100 units gets every percent once.
void TestObjWriter::reporterPercents()
{
    QFETCH(qint64, total);
    QList<int> seen;
    const ProgressSink sink = [&](int percent) { seen << percent; };
    {
        ProgressReporter progress(sink, total);
        const qint64 step = std::max<qint64>(1, total / 5000);
        for (qint64 done = 0; done < total; done += step)
            progress.update(done);
        progress.finish();
        progress.finish();
    }
    QVERIFY(!seen.isEmpty());
    QCOMPARE(seen.last(), 100);
    QCOMPARE(seen.first(), total == 0 ? 100 : 0);
    for (int i = 1; i < seen.size(); ++i)
        QVERIFY(seen[i] > seen[i - 1]);
    if (total >= 100 && total < 1000000)
        QCOMPARE(seen.size(), 101);

    // Without a sink nothing is called and nothing breaks.
    ProgressReporter silent(ProgressSink(), total);
    silent.update(total / 2);
    silent.finish();
}

void TestObjWriter::parseProgress_data()
{
    QTest::addColumn<Files::Kind>("kind");
    QTest::addColumn<QByteArray>("bytes");
    const IcosphereData sphere = icosphereData(4); // 5120 triangles
    FaceList faces(sphere.triangles.begin(), sphere.triangles.end());
    QTest::newRow("binary STL") << Files::Kind::Stl << binarySTL(facetsOf(sphere.positions, faces));
    QTest::newRow("text STL") << Files::Kind::Stl << textSTL(facetsOf(sphere.positions, faces));
    QTest::newRow("OBJ") << Files::Kind::Obj << objText(sphere.positions, faces);
    QTest::newRow("3DS") << Files::Kind::ThreeDs
                         << file3DS(object3DS(
                                "Sphere", vertexList(sphere.positions) + faceList(faces)));
}

void TestObjWriter::parseProgress()
{
    QFETCH(Files::Kind, kind);
    QFETCH(QByteArray, bytes);
    QList<int> seen;
    const ProgressSink sink = [&](int percent) { seen << percent; };
    MeshData data;
    QString error;
    bool ok = false;
    switch (kind) {
    case Files::Kind::Stl:
        ok = Files::parseSTL(bytes, data, &error, sink);
        break;
    case Files::Kind::Obj:
        ok = Files::parseOBJ(bytes, data, &error, sink);
        break;
    case Files::Kind::ThreeDs:
        ok = Files::parse3DS(bytes, data, &error, sink);
        break;
    }
    QVERIFY2(ok, qPrintable(error));
    QCOMPARE(data.corners.size(), std::size_t(3 * 5120));
    QVERIFY2(seen.size() >= 3, "a file of thousands of records reports along the way");
    QCOMPARE(seen.first(), 0);
    QCOMPARE(seen.last(), 100);
    for (int i = 1; i < seen.size(); ++i)
        QVERIFY(seen[i] > seen[i - 1]);

    // The same bytes load without a sink.
    QVERIFY(Files::loadBytes(kind, bytes, {}, &error));
}

// The parsing's progress comes between "Loading : parsing" and the pipeline's first message.
void TestObjWriter::loadReportsInOrder()
{
    const IcosphereData sphere = icosphereData(4);
    FaceList faces(sphere.triangles.begin(), sphere.triangles.end());
    const QString in = path(QStringLiteral("progress.stl"));
    QVERIFY(writeFile(in, binarySTL(facetsOf(sphere.positions, faces))));
    QStringList events;
    QString error;
    std::unique_ptr<Mesh> mesh = Files::load(
        in, [&](const QString &m) { events << m; }, &error, nullptr,
        [&](int percent) { events << QString::number(percent); });
    QVERIFY2(mesh, qPrintable(error));
    QCOMPARE(events.first(), QStringLiteral("Loading : parsing"));
    QCOMPARE(events[1], QStringLiteral("0"));
    const qsizetype hundred = events.indexOf(QStringLiteral("100"));
    QVERIFY(hundred > 1);
    QCOMPARE(events[hundred + 1], QStringLiteral("Loading : Init topology 1/2"));
    QCOMPARE(events.last(), QStringLiteral("Argilium"));
    // Nothing but percents between the two.
    for (qsizetype i = 1; i <= hundred; ++i) {
        bool isNumber = false;
        events[i].toInt(&isNumber);
        QVERIFY(isNumber);
    }
}

QTEST_GUILESS_MAIN(TestObjWriter)
#include "tst_objwriter.moc"
