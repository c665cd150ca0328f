// Stroke scripts (what the view and argilium-cli sculpt replay): parsing, strokes that move only
// what is under the brush, whole strokes undone and redone, symmetry and sweep.

#include "MeshAsserts.h"
#include "TestMeshes.h"
#include "sculpt/Stroke.h"
#include "sculpt/StrokeScript.h"

#include <QtTest>

#include <cmath>

class TestStroke : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void strokeRaisesOnlyUnderTheBrush();
    void undoRedoWholeStroke_data();
    void undoRedoWholeStroke();
    void symmetry_data();
    void symmetry();
    void sweepFollowsTheDrag();
};

using namespace TestMeshes;

namespace {

// Dabs straight down (-z) onto the top of a sphere, at the given x positions, y = 0.
StrokeScript downwardStroke(const Mesh &mesh, const std::vector<float> &xs, float radius,
    const QString &tool, const QString &topology = QStringLiteral("static"))
{
    StrokeScript script;
    const bool ok =
        StrokeScript::parse(QStringLiteral(R"({"tool": "%1", "topology": "%2", "dabs": []})")
                                .arg(tool, topology)
                                .toLatin1(),
            script);
    Q_ASSERT(ok);
    Q_UNUSED(ok);
    const float height = 3.0f * mesh.getVertex(0).position.length();
    for (float x : xs)
        script.dabs.push_back({{QVector3D(x, 0, height), QVector3D(0, 0, -1)}, radius});
    return script;
}

} // namespace

void TestStroke::parse_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("result"); // "tool topology dabs symmetry", or a part of the error
    const QByteArray ray = R"("origin": [0, 0, 1], "direction": [0, 0, -1])";
    QTest::newRow("defaults") << QByteArray(R"({"dabs": []})") << "0 2 0 0";
    QTest::newRow("names") << QByteArray(
        R"({"tool": "flatten", "topology": "adaptive", "intensity": 0.5,
        "detail": 1, "culling": true, "symmetry": true, "dabs": [{)"
        + ray + R"(, "radius": 5}]})")
                           << "3 3 1 1";
    QTest::newRow("ids and a press") << QByteArray(R"({"tool": 4, "topology": 4, "dabs": [{)" + ray
        + R"(, "radius": 0.5}], "press": {)" + ray + "}}")
                                     << "4 4 1 0";
    QTest::newRow("not JSON") << QByteArray("{dabs") << "JSON";
    QTest::newRow("no dabs") << QByteArray(R"({"tool": "smooth"})") << "dabs";
    QTest::newRow("unknown key") << QByteArray(R"({"dabs": [], "tol": 1})") << "tol";
    QTest::newRow("unknown tool") << QByteArray(R"({"dabs": [], "tool": "hammer"})") << "hammer";
    QTest::newRow("fractional id") << QByteArray(R"({"dabs": [], "topology": 1.5})") << "topology";
    QTest::newRow("intensity above 1")
        << QByteArray(R"({"dabs": [], "intensity": 1.5})") << "intensity";
    QTest::newRow("culling as number") << QByteArray(R"({"dabs": [], "culling": 1})") << "culling";
    QTest::newRow("radius overflowing a float")
        << QByteArray("{\"dabs\": [{" + ray + ", \"radius\": 1e300}]}") << "radius";
    QTest::newRow("zero direction")
        << QByteArray(R"({"dabs": [{"origin": [0, 0, 1], "direction": [0, 0, 0], "radius": 1}]})")
        << "direction";
    QTest::newRow("coordinate overflowing a float") << QByteArray(
        R"({"dabs": [{"origin": [0, 1e39, 1], "direction": [0, 0, 1], "radius": 1}]})")
                                                    << "origin";
    QTest::newRow("second dab bad")
        << QByteArray("{\"dabs\": [{" + ray + ", \"radius\": 1}, {" + ray + ", \"size\": 1}]}")
        << "dab 1";
    QTest::newRow("press with radius")
        << QByteArray("{\"dabs\": [], \"press\": {" + ray + ", \"radius\": 1}}") << "press";
}

void TestStroke::parse()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, result);
    StrokeScript script;
    QString error;
    const bool parsed = StrokeScript::parse(json, script, &error);
    if (result.front().isDigit()) {
        QVERIFY2(parsed, qPrintable(error));
        QCOMPARE(QStringLiteral("%1 %2 %3 %4")
                     .arg(script.tool)
                     .arg(script.topology)
                     .arg(script.dabs.size())
                     .arg(script.symmetry),
            result);
        QCOMPARE(script.intensity, result == "3 3 1 1" ? 0.5f : 0.75f);
    } else {
        QVERIFY(!parsed);
        QVERIFY2(error.contains(result), qPrintable(error));
    }
}

void TestStroke::strokeRaisesOnlyUnderTheBrush()
{
    auto mesh = makeIcosphere(4);
    const std::vector<QVector3D> start = positions(*mesh);
    const float sphereRadius = mesh->getVertex(0).position.length();
    const std::vector<float> xs = {-20, -15, -10, -5, 0, 5, 10, 15, 20};
    const float radius = 30.0f;
    const StrokeReport report = replayStroke(*mesh, downwardStroke(*mesh, xs, radius, "inflate"));
    QCOMPARE(int(report.dabs.size()), 9);
    QCOMPARE(report.hits, 9);
    QCOMPARE(report.applications, 9);
    int moved = 0;
    for (int i = 0; i < mesh->getNbVertices(); ++i) {
        // Distance to the nearest dab's hit on the untouched sphere; the surface rises by less
        // than 20 units during the stroke, which the margin covers.
        float nearest = 1e30f;
        for (float x : xs)
            nearest = std::min(nearest,
                (start[i] - QVector3D(x, 0.0f, std::sqrt(sphereRadius * sphereRadius - x * x)))
                    .length());
        const QVector3D &p = mesh->getVertex(i).position;
        if (p != start[i]) {
            ++moved;
            QVERIFY(p.length() > start[i].length() && nearest < radius + 20.0f);
        } else {
            QVERIFY(nearest > radius - 1.0f);
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
    QTest::addColumn<bool>("hit"); // the dabs meet the mesh
    for (const char *tool : {"inflate", "deflate", "smooth", "flatten", "sweep"})
        QTest::addRow("%s, symmetry", tool) << QString(tool) << "static" << true << false << true;
    QTest::newRow("inflate, culling") << "inflate"
                                      << "static" << false << true << true;
    for (const char *topology : {"decimate", "subdivide", "uniform", "adaptive"})
        QTest::addRow("inflate, %s", topology)
            << "inflate" << QString(topology) << true << false << true;
    QTest::newRow("dabs beside the sphere") << "inflate"
                                            << "static" << true << false << false;
}

// A stroke is one history state: undone and redone whole, bit for bit. A stroke that meets
// nothing changes nothing, though its press opened a state.
void TestStroke::undoRedoWholeStroke()
{
    QFETCH(QString, tool);
    QFETCH(QString, topology);
    QFETCH(bool, symmetry);
    QFETCH(bool, culling);
    QFETCH(bool, hit);
    auto mesh = makeIcosphere(3);
    const MeshSnapshot original = snapshot(*mesh);
    StrokeScript script = downwardStroke(*mesh,
        hit ? std::vector<float> {10, 16, 22, 28, 34} : std::vector<float> {400, 500}, 35.0f, tool,
        topology);
    script.symmetry = symmetry;
    script.culling = culling;
    const StrokeReport report = replayStroke(*mesh, script);
    QCOMPARE(report.hits, hit ? 5 : 0);
    QCOMPARE(report.applications, !hit ? 0 : symmetry && tool != "sweep" ? 10 : 5);
    QCOMPARE(int(mesh->getUndoStates().size()), 1);
    VERIFY_SOUND(*mesh, true);
    const MeshSnapshot sculpted = snapshot(*mesh);
    QCOMPARE(compareWithSnapshot(original, *mesh).isEmpty(), !hit);
    for (const char step : QByteArray("uru")) {
        step == 'u' ? mesh->undo() : mesh->redo();
        VERIFY_SAME(step == 'u' ? original : sculpted, *mesh);
        VERIFY_MESH(*mesh);
    }
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
}

void TestStroke::symmetry()
{
    QFETCH(QString, tool);
    QFETCH(float, x);
    QFETCH(int, count);
    auto mesh = makeIcosphere(4);
    // The icosphere is symmetric across x = 0: each vertex has a mirror image.
    const std::vector<QVector3D> start = positions(*mesh);
    std::vector<int> partner(start.size(), -1);
    for (std::size_t i = 0; i < start.size(); ++i) {
        partner[i] =
            int(std::find(start.begin(), start.end(), Stroke::mirror(start[i])) - start.begin());
        QVERIFY(partner[i] < int(start.size()));
    }
    std::vector<float> xs;
    for (int k = 0; k < count; ++k)
        xs.push_back(x + 6.0f * k);
    StrokeScript script = downwardStroke(*mesh, xs, 30.0f, tool);
    script.symmetry = true;
    script.intensity = 1.0f;
    QCOMPARE(replayStroke(*mesh, script).applications, 2 * count);
    float largest = 0.0f;
    bool movedLeft = false, movedRight = false;
    for (std::size_t i = 0; i < start.size(); ++i) {
        const QVector3D &p = mesh->getVertex(int(i)).position;
        largest =
            std::max(largest, (p - Stroke::mirror(mesh->getVertex(partner[i]).position)).length());
        if (p != start[i])
            (start[i].x() < 0.0f ? movedLeft : movedRight) = true;
    }
    QVERIFY2(largest <= 1e-3f, qPrintable(QString::number(largest)));
    QVERIFY(movedLeft && movedRight);
}

void TestStroke::sweepFollowsTheDrag()
{
    auto mesh = makeIcosphere(4);
    const std::vector<QVector3D> start = positions(*mesh);
    // Pressed at the top, then dragged along +x.
    StrokeScript script = downwardStroke(*mesh, {6, 12, 18, 24}, 30.0f, "sweep");
    script.hasPress = true;
    script.press = script.dabs.front().ray;
    script.press.origin.setX(0.0f);
    QCOMPARE(replayStroke(*mesh, script).applications, 4);
    int moved = 0;
    for (std::size_t i = 0; i < start.size(); ++i) {
        const QVector3D m = mesh->getVertex(int(i)).position - start[i];
        if (!m.isNull()) {
            ++moved;
            QVERIFY(m.x() > 0.0f && m.y() == 0.0f && m.z() == 0.0f);
        }
    }
    QVERIFY(moved > 10);
    VERIFY_MESH(*mesh);
}

QTEST_GUILESS_MAIN(TestStroke)
#include "tst_stroke.moc"
