#include "MeshAsserts.h"
#include "TestMeshes.h"
#include "mesh/MeshCheck.h"
#include "sculpt/Sculptor.h"
#include "sculpt/Stroke.h"
#include "sculpt/StrokeScript.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <omp.h>

#include <algorithm>
#include <cmath>

class TestStroke : public QObject
{
    Q_OBJECT

private slots:
    void parseAccepts_data();
    void parseAccepts();
    void parseRefuses_data();
    void parseRefuses();
    void strokeRaisesOnlyUnderTheBrush();
    void undoRedoWholeStroke_data();
    void undoRedoWholeStroke();
    void symmetry_data();
    void symmetry();
    void sweepFollowsTheDrag();
    void missesAndEmptyStrokes();
    void threadCountDoesNotMatter_data();
    void threadCountDoesNotMatter();
};

using TestMeshes::positions;

namespace {

// Dabs straight down (-z) onto the top of a sphere, at the given x positions, y = 0.
StrokeScript downwardStroke(
    const Mesh &mesh, const std::vector<float> &xs, float radius, const QString &tool)
{
    StrokeScript script;
    QString error;
    QJsonArray dabs;
    const float height = 3.0f * mesh.getVertex(0).position.length();
    for (float x : xs) {
        QJsonObject dab;
        dab.insert(QStringLiteral("origin"), QJsonArray {x, 0.0, height});
        dab.insert(QStringLiteral("direction"), QJsonArray {0.0, 0.0, -1.0});
        dab.insert(QStringLiteral("radius"), radius);
        dabs.append(dab);
    }
    QJsonObject o;
    o.insert(QStringLiteral("tool"), tool);
    o.insert(QStringLiteral("topology"), QStringLiteral("static"));
    o.insert(QStringLiteral("dabs"), dabs);
    const bool ok = StrokeScript::parse(QJsonDocument(o).toJson(), script, &error);
    Q_ASSERT(ok);
    Q_UNUSED(ok);
    return script;
}

} // namespace

void TestStroke::parseAccepts_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<int>("tool");
    QTest::addColumn<int>("topology");
    QTest::addColumn<float>("intensity");
    QTest::addColumn<bool>("symmetry");
    QTest::addColumn<int>("dabs");

    QTest::newRow("defaults") << QByteArray(R"({"dabs": []})") << 0 << 2 << 0.75f << false << 0;
    QTest::newRow("names") << QByteArray(R"({"tool": "flatten", "topology": "adaptive",
        "intensity": 0.5, "detail": 1, "culling": true, "symmetry": true,
        "dabs": [{"origin": [0, 0, 10], "direction": [0, 0, -1], "radius": 5}]})")
                           << 3 << 3 << 0.5f << true << 1;
    QTest::newRow("ids") << QByteArray(R"({"tool": 4, "topology": 4, "dabs": [
        {"origin": [0, 0, 10], "direction": [0, 0, -2], "radius": 5},
        {"origin": [1, 0, 10], "direction": [0, 0.1, -2], "radius": 0.5}],
        "press": {"origin": [0, 0, 10], "direction": [0, 0, -1]}})")
                         << 4 << 4 << 0.75f << false << 2;
}

void TestStroke::parseAccepts()
{
    QFETCH(QByteArray, json);
    QFETCH(int, tool);
    QFETCH(int, topology);
    QFETCH(float, intensity);
    QFETCH(bool, symmetry);
    QFETCH(int, dabs);
    StrokeScript script;
    QString error;
    QVERIFY2(StrokeScript::parse(json, script, &error), qPrintable(error));
    QCOMPARE(script.tool, tool);
    QCOMPARE(script.topology, topology);
    QCOMPARE(script.intensity, intensity);
    QCOMPARE(script.symmetry, symmetry);
    QCOMPARE(int(script.dabs.size()), dabs);
}

void TestStroke::parseRefuses_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("mention");
    const QByteArray ray = R"("origin": [0, 0, 1], "direction": [0, 0, -1])";
    QTest::newRow("not JSON") << QByteArray("{dabs") << "JSON";
    QTest::newRow("an array") << QByteArray("[]") << "object";
    QTest::newRow("no dabs") << QByteArray(R"({"tool": "smooth"})") << "dabs";
    QTest::newRow("dabs not an array") << QByteArray(R"({"dabs": 3})") << "dabs";
    QTest::newRow("unknown key") << QByteArray(R"({"dabs": [], "tol": 1})") << "tol";
    QTest::newRow("unknown tool") << QByteArray(R"({"dabs": [], "tool": "hammer"})") << "hammer";
    QTest::newRow("tool id too large") << QByteArray(R"({"dabs": [], "tool": 7})") << "tool";
    QTest::newRow("fractional id") << QByteArray(R"({"dabs": [], "topology": 1.5})") << "topology";
    QTest::newRow("intensity above 1")
        << QByteArray(R"({"dabs": [], "intensity": 1.5})") << "intensity";
    QTest::newRow("detail as text") << QByteArray(R"({"dabs": [], "detail": "fine"})") << "detail";
    QTest::newRow("culling as number") << QByteArray(R"({"dabs": [], "culling": 1})") << "culling";
    QTest::newRow("dab without radius") << QByteArray("{\"dabs\": [{" + ray + "}]}") << "radius";
    QTest::newRow("zero radius") << QByteArray("{\"dabs\": [{" + ray + ", \"radius\": 0}]}")
                                 << "radius";
    QTest::newRow("negative radius")
        << QByteArray("{\"dabs\": [{" + ray + ", \"radius\": -2}]}") << "radius";
    QTest::newRow("radius overflowing a float")
        << QByteArray("{\"dabs\": [{" + ray + ", \"radius\": 1e300}]}") << "radius";
    QTest::newRow("zero direction")
        << QByteArray(R"({"dabs": [{"origin": [0, 0, 1], "direction": [0, 0, 0], "radius": 1}]})")
        << "direction";
    QTest::newRow("two coordinates")
        << QByteArray(R"({"dabs": [{"origin": [0, 1], "direction": [0, 0, 1], "radius": 1}]})")
        << "origin";
    QTest::newRow("coordinate as text")
        << QByteArray(R"({"dabs": [{"origin": [0, "a", 1], "direction": [0, 0, 1], "radius": 1}]})")
        << "origin";
    QTest::newRow("coordinate overflowing a float") << QByteArray(
        R"({"dabs": [{"origin": [0, 1e39, 1], "direction": [0, 0, 1], "radius": 1}]})")
                                                    << "origin";
    QTest::newRow("second dab bad")
        << QByteArray("{\"dabs\": [{" + ray + ", \"radius\": 1}, {" + ray + ", \"size\": 1}]}")
        << "dab 1";
    QTest::newRow("press with radius")
        << QByteArray("{\"dabs\": [], \"press\": {" + ray + ", \"radius\": 1}}") << "press";
}

void TestStroke::parseRefuses()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, mention);
    StrokeScript script;
    QString error;
    QVERIFY(!StrokeScript::parse(json, script, &error));
    QVERIFY2(error.contains(mention), qPrintable(error));
}

void TestStroke::strokeRaisesOnlyUnderTheBrush()
{
    auto mesh = TestMeshes::makeIcosphere(4);
    const std::vector<QVector3D> start = positions(*mesh);
    const float sphereRadius = mesh->getVertex(0).position.length();
    const std::vector<float> xs = {-20, -15, -10, -5, 0, 5, 10, 15, 20};
    const float radius = 30.0f;
    const StrokeReport report =
        replayStroke(*mesh, downwardStroke(*mesh, xs, radius, QStringLiteral("inflate")));
    QCOMPARE(int(report.dabs.size()), int(xs.size()));
    QCOMPARE(report.hits, int(xs.size()));
    QCOMPARE(report.applications, int(xs.size()));
    QCOMPARE(mesh->getNbVertices(), int(start.size()));

    int moved = 0;
    for (int i = 0; i < mesh->getNbVertices(); ++i) {
        const QVector3D &p = mesh->getVertex(i).position;
        // Distance to the nearest dab's hit on the untouched sphere; the surface rises by
        // less than 20 units during the stroke, which the margin covers.
        float nearest = 1e30f;
        for (float x : xs) {
            const QVector3D hit(x, 0.0f, std::sqrt(sphereRadius * sphereRadius - x * x));
            nearest = std::min(nearest, (start[i] - hit).length());
        }
        if (p != start[i]) {
            ++moved;
            QVERIFY2(p.length() > start[i].length(), qPrintable(QString::number(i)));
            QVERIFY(nearest < radius + 20.0f);
        } else {
            QVERIFY2(nearest > radius - 1.0f, qPrintable(QString::number(i)));
        }
    }
    QVERIFY(moved > 20);
    VERIFY_MESH(*mesh);
}

void TestStroke::undoRedoWholeStroke_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QString>("topology");
    QTest::addColumn<bool>("symmetry");
    QTest::addColumn<bool>("culling");
    for (const char *tool : {"inflate", "deflate", "smooth", "flatten", "sweep"}) {
        for (bool symmetry : {false, true}) {
            QTest::newRow(qPrintable(QStringLiteral("%1%2").arg(
                QLatin1String(tool), symmetry ? QStringLiteral(", symmetry") : QString())))
                << QString::fromLatin1(tool) << QStringLiteral("static") << symmetry << false;
        }
    }
    QTest::newRow("inflate, culling") << "inflate"
                                      << "static" << false << true;
    for (const char *topology : {"decimate", "subdivide", "uniform", "adaptive"}) {
        QTest::newRow(qPrintable(QStringLiteral("inflate, %1").arg(QLatin1String(topology))))
            << "inflate" << QString::fromLatin1(topology) << true << false;
    }
}

void TestStroke::undoRedoWholeStroke()
{
    QFETCH(QString, tool);
    QFETCH(QString, topology);
    QFETCH(bool, symmetry);
    QFETCH(bool, culling);

    auto mesh = TestMeshes::makeIcosphere(3);
    const TestMeshes::MeshSnapshot original = TestMeshes::snapshot(*mesh);
    StrokeScript script = downwardStroke(*mesh, {10, 16, 22, 28, 34}, 35.0f, tool);
    script.symmetry = symmetry;
    script.culling = culling;
    QString error;
    StrokeScript topologyOnly;
    QVERIFY(StrokeScript::parse(
        QByteArray(R"({"dabs": [], "topology": ")") + topology.toLatin1() + "\"}", topologyOnly,
        &error));
    script.topology = topologyOnly.topology;

    const StrokeReport report = replayStroke(*mesh, script);
    QCOMPARE(report.hits, 5);
    QCOMPARE(report.applications, symmetry && tool != QLatin1String("sweep") ? 10 : 5);
    VERIFY_MESH(*mesh);
    const TestMeshes::MeshSnapshot sculpted = TestMeshes::snapshot(*mesh);
    QVERIFY(!TestMeshes::compareWithSnapshot(original, *mesh).isEmpty());
    QCOMPARE(int(mesh->getUndoStates().size()), 1);

    mesh->undo();
    VERIFY_SAME(original, *mesh);
    VERIFY_MESH(*mesh);
    mesh->redo();
    VERIFY_SAME(sculpted, *mesh);
    VERIFY_MESH(*mesh);
    mesh->undo();
    VERIFY_SAME(original, *mesh);
}

void TestStroke::symmetry_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<float>("x");
    QTest::addColumn<int>("count");
    // Off the plane the two halves do not overlap. On the plane a dab applies twice at the same
    // place; with several dabs there the halves would overlap and each would see the other's
    // work in turn, which is not symmetric.
    QTest::newRow("inflate off the plane") << "inflate" << 40.0f << 3;
    QTest::newRow("smooth off the plane") << "smooth" << 40.0f << 3;
    QTest::newRow("flatten off the plane") << "flatten" << 40.0f << 3;
    QTest::newRow("deflate on the plane") << "deflate" << 0.0f << 1;
    QTest::newRow("inflate on the plane") << "inflate" << 0.0f << 1;
}

void TestStroke::symmetry()
{
    QFETCH(QString, tool);
    QFETCH(float, x);
    QFETCH(int, count);

    auto mesh = TestMeshes::makeIcosphere(4);
    // The icosphere is symmetric across x = 0: find each vertex's mirror image.
    const std::vector<QVector3D> start = positions(*mesh);
    std::vector<int> partner(start.size(), -1);
    for (std::size_t i = 0; i < start.size(); ++i) {
        for (std::size_t j = 0; j < start.size(); ++j) {
            if (start[j] == Stroke::mirror(start[i])) {
                partner[i] = int(j);
                break;
            }
        }
        QVERIFY(partner[i] >= 0);
    }

    std::vector<float> xs;
    for (int k = 0; k < count; ++k)
        xs.push_back(x + 6.0f * k);
    StrokeScript script = downwardStroke(*mesh, xs, 30.0f, tool);
    script.symmetry = true;
    script.intensity = 1.0f;
    const StrokeReport report = replayStroke(*mesh, script);
    QCOMPARE(report.applications, 2 * count);

    float largest = 0.0f;
    bool movedLeft = false;
    bool movedRight = false;
    for (std::size_t i = 0; i < start.size(); ++i) {
        const QVector3D &p = mesh->getVertex(int(i)).position;
        const QVector3D &q = mesh->getVertex(partner[i]).position;
        largest = std::max(largest, (p - Stroke::mirror(q)).length());
        if (p != start[i])
            (start[i].x() < 0.0f ? movedLeft : movedRight) = true;
    }
    QVERIFY2(largest <= 1e-3f, qPrintable(QString::number(largest)));
    QVERIFY(movedLeft && movedRight);
    VERIFY_MESH(*mesh);
}

void TestStroke::sweepFollowsTheDrag()
{
    auto mesh = TestMeshes::makeIcosphere(4);
    const std::vector<QVector3D> start = positions(*mesh);
    // Pressed at the top, then dragged along +x; symmetry does not double a sweep.
    StrokeScript script = downwardStroke(*mesh, {6, 12, 18, 24}, 30.0f, QStringLiteral("sweep"));
    script.hasPress = true;
    script.press = script.dabs.front().ray;
    script.press.origin.setX(0.0f);
    script.symmetry = true;
    const StrokeReport report = replayStroke(*mesh, script);
    QCOMPARE(report.applications, 4);

    QVector3D sum;
    int moved = 0;
    for (std::size_t i = 0; i < start.size(); ++i) {
        const QVector3D m = mesh->getVertex(int(i)).position - start[i];
        if (!m.isNull()) {
            sum += m;
            ++moved;
            QVERIFY(m.x() > 0.0f);
            QCOMPARE(m.y(), 0.0f);
            QCOMPARE(m.z(), 0.0f);
        }
    }
    QVERIFY(moved > 10);
    QVERIFY(sum.x() > 0.0f);
    VERIFY_MESH(*mesh);
}

void TestStroke::missesAndEmptyStrokes()
{
    auto mesh = TestMeshes::makeIcosphere(2);
    const TestMeshes::MeshSnapshot original = TestMeshes::snapshot(*mesh);

    // No dab: no press either, so no history state.
    StrokeScript empty;
    const StrokeReport none = replayStroke(*mesh, empty);
    QVERIFY(none.dabs.empty());
    QVERIFY(mesh->getUndoStates().empty());

    // Rays that pass beside the sphere: the press opens a state, nothing is sculpted.
    StrokeScript beside = downwardStroke(*mesh, {400, 500}, 30.0f, QStringLiteral("inflate"));
    beside.symmetry = true;
    const StrokeReport missed = replayStroke(*mesh, beside);
    QCOMPARE(int(missed.dabs.size()), 2);
    QCOMPARE(missed.hits, 0);
    QCOMPARE(missed.applications, 0);
    QCOMPARE(int(mesh->getUndoStates().size()), 1);
    VERIFY_SAME(original, *mesh);
    mesh->undo();
    VERIFY_SAME(original, *mesh);
    VERIFY_MESH(*mesh);
}

void TestStroke::threadCountDoesNotMatter_data()
{
    QTest::addColumn<QString>("tool");
    for (const char *tool : {"inflate", "deflate", "smooth", "sweep"})
        QTest::newRow(tool) << QString::fromLatin1(tool);
}

void TestStroke::threadCountDoesNotMatter()
{
    QFETCH(QString, tool);
    const int before = omp_get_max_threads();
    std::vector<TestMeshes::MeshSnapshot> results;
    for (int threads : {1, 3}) {
        omp_set_num_threads(threads);
        auto mesh = TestMeshes::makeIcosphere(3);
        StrokeScript script = downwardStroke(*mesh, {-10, 0, 10, 20}, 40.0f, tool);
        script.symmetry = true;
        replayStroke(*mesh, script);
        results.push_back(TestMeshes::snapshot(*mesh));
        if (results.size() == 2)
            VERIFY_SAME(results.front(), *mesh);
    }
    omp_set_num_threads(before);
}

QTEST_GUILESS_MAIN(TestStroke)
#include "tst_stroke.moc"
