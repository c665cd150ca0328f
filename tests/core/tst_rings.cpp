// The rings that the loading pipeline computes for all vertices at once (in parallel) must be
// the very lists that Mesh::computeRingVertices gives, order included, on every kind of fan.
#include "TestMeshes.h"

#include <QtTest>

#include <cmath>

class TestRings : public QObject
{
    Q_OBJECT

private slots:
    void loadingRingsMatchRingComputation_data();
    void loadingRingsMatchRingComputation();
};

namespace {

using Positions = std::vector<QVector3D>;
using Faces = std::vector<std::array<int, 3>>;

// A disc of n triangles around vertex 0 (a fan with n neighbours, closed by the last triangle
// when `closed`), then a cone over it when `cone` (vertex 0 then has 2n triangles).
void fan(int n, bool cone, Positions &positions, Faces &faces)
{
    positions = {{0, 0, 0}};
    for (int k = 0; k < n; ++k) {
        const float a = 2.0f * float(M_PI) * k / n;
        positions.emplace_back(std::cos(a), std::sin(a), 0.0f);
    }
    for (int k = 0; k < n; ++k)
        faces.push_back({0, 1 + k, 1 + (k + 1) % n});
    if (cone) {
        positions.emplace_back(0.0f, 0.0f, 1.0f);
        const int apex = n + 1;
        for (int k = 0; k < n; ++k)
            faces.push_back({apex, 1 + (k + 1) % n, 1 + k});
    }
}

} // namespace

void TestRings::loadingRingsMatchRingComputation_data()
{
    QTest::addColumn<QString>("kind");
    for (const char *kind : {"icosphere", "grid with border", "small fan", "fan of 32", "fan of 33",
             "large fan", "cone", "damaged"})
        QTest::newRow(kind) << QString::fromLatin1(kind);
}

void TestRings::loadingRingsMatchRingComputation()
{
    QFETCH(QString, kind);
    std::unique_ptr<Mesh> mesh;
    Positions positions;
    Faces faces;
    if (kind == QLatin1String("icosphere")) {
        mesh = TestMeshes::makeIcosphere(3);
    } else if (kind == QLatin1String("grid with border")) {
        mesh = TestMeshes::makeGrid(9);
    } else {
        if (kind == QLatin1String("small fan"))
            fan(5, false, positions, faces);
        else if (kind == QLatin1String("fan of 32"))
            fan(32, false, positions, faces);
        else if (kind == QLatin1String("fan of 33"))
            fan(33, false, positions, faces);
        else if (kind == QLatin1String("large fan"))
            fan(500, false, positions, faces);
        else if (kind == QLatin1String("cone"))
            fan(40, true, positions, faces); // the centre of the disc has 40, the apex 40
        else {
            // A fan repeated with flipped and duplicated triangles, a triangle with a repeated
            // corner, and a vertex used by nothing.
            fan(40, false, positions, faces);
            const Faces copy = faces;
            for (const auto &f : copy)
                faces.push_back({f[0], f[2], f[1]});
            faces.push_back({0, 3, 3});
            faces.push_back(copy[7]);
            positions.emplace_back(5.0f, 5.0f, 5.0f);
        }
        mesh = TestMeshes::meshFromArrays(positions, faces);
    }

    std::vector<std::vector<int>> loaded;
    for (const Vertex &v : mesh->getVertices())
        loaded.push_back(v.ringIndices);
    int largest = 0;
    for (int i = 0; i < mesh->getNbVertices(); ++i) {
        mesh->computeRingVertices(i);
        QCOMPARE(loaded[i], mesh->getVertex(i).ringIndices);
        largest = std::max(largest, int(mesh->getVertex(i).triangleIndices.size()));
    }
    if (kind == QLatin1String("large fan") || kind == QLatin1String("damaged"))
        QVERIFY(largest > 32); // the path for many triangles was taken
}

QTEST_APPLESS_MAIN(TestRings)
#include "tst_rings.moc"
