// Picking and brush gathering against brute force on meshes whose vertices and edges lie on the
// octree's cell faces and on the coordinate planes: rays through vertices, along edges and faces,
// with zero direction components, and spheres around every vertex.
#include "MeshAsserts.h"
#include "geometry/Picking.h"

#include <QtTest>

#include <random>
#include <set>

class TestPickingBoundaries : public QObject
{
    Q_OBJECT

private slots:
    void nearestOverAllTriangles_data();
    void nearestOverAllTriangles();
};

namespace {

// The unit icosphere of 5,120 triangles turned so that one vertex is the pole (0, 0, 1): the
// pole and its antipode on the z axis, a great circle of vertices and edges on x = 0, and a
// box symmetric about the origin, so the octree's cells meet on the coordinate planes.
std::unique_ptr<Mesh> poleIcosphere()
{
    TestMeshes::IcosphereData data = TestMeshes::icosphereData(5);
    const QVector3D pole = data.positions[5]; // (0, a, b), a² + b² = 1
    for (QVector3D &p : data.positions)
        p = QVector3D(
            p.x(), pole.z() * p.y() - pole.y() * p.z(), pole.y() * p.y() + pole.z() * p.z());
    return TestMeshes::meshFromArrays(data.positions, data.triangles);
}

// Two 48 x 48 unit grids centred on the z axis, 8 apart (edges on x = 0 and y = 0, so cells
// whose loose boxes end exactly there), and one long sliver above them whose centre lies far
// from its corner (40, 1, 5): a vertex whose triangles all lie in other cells.
std::unique_ptr<Mesh> gridsAndSliver()
{
    std::vector<QVector3D> positions;
    std::vector<std::array<int, 3>> triangles;
    const int n = 48;
    for (float z : {0.0f, -8.0f}) {
        const int first = static_cast<int>(positions.size());
        for (int y = 0; y <= n; ++y)
            for (int x = 0; x <= n; ++x)
                positions.emplace_back(float(x - n / 2), float(y - n / 2), z);
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                const int v = first + y * (n + 1) + x;
                triangles.push_back({v, v + 1, v + n + 2});
                triangles.push_back({v, v + n + 2, v + n + 1});
            }
    }
    const int v = static_cast<int>(positions.size());
    positions.insert(positions.end(), {{-20, 0, 5}, {40, 1, 5}, {-20, 2, 5}});
    triangles.push_back({v, v + 1, v + 2});
    return TestMeshes::meshFromArrays(positions, triangles);
}

// Nearest crossing over every triangle of the mesh, ties to the lowest index.
int pickByScan(const Mesh &mesh, const QVector3D &a, const QVector3D &b, QVector3D &point)
{
    float best = std::numeric_limits<float>::max();
    int found = -1;
    for (int t = 0; t < mesh.getNbTriangles(); ++t) {
        const Triangle &tri = mesh.getTriangle(t);
        QVector3D crossing;
        if (Geometry::intersectionSegmentTriangle(a, b, mesh.getVertex(tri.vertex1).position,
                mesh.getVertex(tri.vertex2).position, mesh.getVertex(tri.vertex3).position,
                tri.normal, crossing)
            && (a - crossing).lengthSquared() < best) {
            best = (a - crossing).lengthSquared();
            found = t;
            point = crossing;
        }
    }
    return found;
}

} // namespace

void TestPickingBoundaries::nearestOverAllTriangles_data()
{
    QTest::addColumn<bool>("sphere");
    QTest::newRow("icosphere with poles") << true;
    QTest::newRow("grids and a sliver") << false;
}

void TestPickingBoundaries::nearestOverAllTriangles()
{
    QFETCH(bool, sphere);
    std::unique_ptr<Mesh> mesh = sphere ? poleIcosphere() : gridsAndSliver();
    QVERIFY(!mesh->getOctree()->isLeaf());
    const std::vector<Vertex> &vertices = mesh->getVertices();
    const float far = 500.0f;

    // Rays: down the axes and through the origin; in the planes x = 0 and y = 0 (zero direction
    // components from an origin on a cell face); through vertices from random sides; along
    // edges; and random ones.
    std::vector<std::pair<QVector3D, QVector3D>> rays;
    for (const QVector3D axis : {QVector3D(0, 0, 1), QVector3D(0, 1, 0), QVector3D(1, 0, 0)}) {
        rays.emplace_back(axis * far, -axis * far);
        rays.emplace_back(-axis * far, axis * far);
    }
    std::mt19937 random(3);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    auto randomVector = [&] { return QVector3D(unit(random), unit(random), unit(random)); };
    for (int k = 0; k < 40; ++k) {
        const float u = unit(random) * 100.0f;
        rays.push_back({{0, u, far}, {0, -u, -far}});
        rays.push_back({{u, 0, far}, {unit(random) * 100.0f, 0, -far}});
    }
    for (int k = 0; k < 400; ++k) {
        const QVector3D &p = vertices[random() % vertices.size()].position;
        const Vertex &v = vertices[random() % vertices.size()];
        const QVector3D &q = vertices[v.ringIndices[random() % v.ringIndices.size()]].position;
        const QVector3D side = randomVector() * far;
        rays.push_back({p + side, p - side});
        rays.push_back({v.position + (v.position - q) * 40.0f, q - (v.position - q) * 40.0f});
        rays.push_back({randomVector() * far, randomVector() * 100.0f});
    }

    Picking picking;
    int hits = 0;
    for (const auto &[a, b] : rays) {
        QVector3D expectedPoint;
        const int expected = pickByScan(*mesh, a, b, expectedPoint);
        const bool hit = picking.intersectRay(mesh.get(), a, b);
        QCOMPARE(picking.getPickedTriangle(), expected);
        if (!hit)
            continue;
        ++hits;
        QCOMPARE(picking.getIntersectionPoint(), expectedPoint);
        // On the sphere, the first crossing is nearer than the centre (never the far side).
        if (sphere && a.length() > 200.0f)
            QVERIFY((expectedPoint - a).length() < a.length());
    }
    QVERIFY(hits > int(rays.size()) / 3);

    // Brush spheres around every vertex (tiny and larger), and random ones: the stamped
    // vertices are exactly those strictly inside.
    const float diagonal = 500.0f;
    for (std::size_t k = 0; k < vertices.size() + 200; ++k) {
        const QVector3D centre =
            k < vertices.size() ? vertices[k].position : randomVector() * 200.0f;
        const float radius = diagonal * (k % 2 ? 1e-4f : 0.02f) * (1.0f + unit(random) * 0.5f);
        picking.setMesh(mesh.get());
        picking.setIntersectionPoint(centre);
        picking.pickVerticesInSphere(radius * radius);
        std::set<int> expected;
        for (int i = 0; i < mesh->getNbVertices(); ++i)
            if ((vertices[i].position - centre).lengthSquared() < radius * radius)
                expected.insert(i);
        std::set<int> stamped;
        for (int i : picking.getPickedVertices())
            if (vertices[i].brushStamp == Vertex::brushCounter)
                stamped.insert(i);
        QVERIFY2(stamped == expected, qPrintable(QStringLiteral("sphere %1").arg(k)));
    }
}

QTEST_GUILESS_MAIN(TestPickingBoundaries)
#include "tst_picking_boundaries.moc"
