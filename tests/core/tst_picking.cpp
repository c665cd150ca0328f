// Picking: the segment and triangle test at its edges and corners; the nearest crossing of a ray
// and the vertices gathered in the brush sphere against a scan of every triangle and vertex, on
// meshes whose vertices and edges lie on the octree's cell faces, with gathering's edge cases.

#include "MeshAsserts.h"
#include "geometry/Picking.h"
#include "sculpt/Sculptor.h"
#include "sculpt/StrokeScript.h"

#include <QtTest>

#include <random>

using namespace TestMeshes;

namespace {

// The unit icosphere of 20,480 triangles turned so that one vertex is the pole (0, 0, 1): the pole
// and its antipode on the z axis, a great circle of vertices and edges on x = 0, and a box
// symmetric about the origin, so the octree's cells meet on the coordinate planes.
std::unique_ptr<Mesh> poleIcosphere()
{
    IcosphereData data = icosphereData(5);
    const QVector3D pole = data.positions[5]; // (0, a, b), a² + b² = 1
    for (QVector3D &p : data.positions)
        p = QVector3D(
            p.x(), pole.z() * p.y() - pole.y() * p.z(), pole.y() * p.y() + pole.z() * p.z());
    return meshFromArrays(data.positions, data.triangles);
}

// Two 48 x 48 unit grids centred on the z axis, 8 apart (edges on x = 0 and y = 0, so cells whose
// loose boxes end exactly there), and one long sliver above them whose centre lies far from its
// corner (40, 1, 13): a vertex whose triangles all lie in other cells.
std::unique_ptr<Mesh> gridsAndSliver()
{
    auto grids = makeStackedGrids(48, 2, 8.0f);
    std::vector<QVector3D> p = positions(*grids);
    std::vector<std::array<int, 3>> triangles;
    for (const Triangle &t : grids->getTriangles())
        triangles.push_back({t.vertex1, t.vertex2, t.vertex3});
    for (QVector3D &q : p)
        q -= QVector3D(24, 24, 0);
    const int v = static_cast<int>(p.size());
    p.insert(p.end(), {{-20, 0, 13}, {40, 1, 13}, {-20, 2, 13}});
    triangles.push_back({v, v + 1, v + 2});
    return meshFromArrays(p, triangles);
}

// An icosphere after a stroke that remeshes and moves it: triangles changed leaves and loose boxes
// grew.
std::unique_ptr<Mesh> sculptedIcosphere()
{
    auto mesh = makeIcosphere(4);
    StrokeScript script;
    script.intensity = 1.0f;
    for (int k = 0; k < 30; ++k) {
        const QVector3D d(std::cos(0.05f * k), std::sin(0.05f * k), 0.3f);
        script.dabs.push_back({{d * 600.0f, -d}, 60.0f});
    }
    return replayStroke(*mesh, script).hits > 0 && checkMesh(*mesh).isEmpty() ? std::move(mesh)
                                                                              : nullptr;
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

class TestPicking : public QObject
{
    Q_OBJECT

private slots:
    // Segments against a triangle through its inside, edge and corner (hits), ending on its plane
    // or just outside an edge (misses), and against a triangle without a normal; the scans below
    // rest on this test. A sphere only touching an edge does not count.
    void segmentTriangle()
    {
        const QVector3D a(-1, -1, 0), b(1, -1, 0), c(0, 1, 0), up(0, 0, 1);
        const std::tuple<QVector3D, QVector3D, QVector3D, bool> segments[] = {
            {{0, 0, -1}, {0, 0, 1}, up, true}, {{0, 0, 2}, {0.5f, 0, -2}, up, true},
            {{0, 0, 1}, {0, 0, 0}, up, false}, {{0, -1, 1}, {0, -1, -1}, up, true},
            {{0, 1, 1}, {0, 1, -1}, up, true}, {{0, -1.01f, 1}, {0, -1.01f, -1}, up, false},
            {{0, 0, 1}, {0, 0, -1}, {}, false}};
        for (const auto &[p1, p2, normal, hit] : segments) {
            QVector3D crossing;
            QCOMPARE(Geometry::intersectionSegmentTriangle(p1, p2, a, b, c, normal, crossing), hit);
            QVERIFY(!hit || crossing == p1 + (p2 - p1) * (p1.z() / (p1.z() - p2.z())));
        }
        QVERIFY(!Geometry::sphereTouchesEdges({0, -2, 0}, 1.0f, a, b, c));
    }

    void nearestAndGatheredMatchScan_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char *kind :
            {"pole icosphere", "grids and a sliver", "sculpted icosphere", "stacked grids"})
            QTest::newRow(kind) << QString(kind);
    }
    // Rays down the axes, in the planes x = 0 and y = 0 (zero direction components from an origin
    // on a cell face), through vertices, along edges, and random ones from outside and from inside:
    // the pick is the scan's nearest crossing. Brush spheres about every vertex (reaching a
    // neighbour exactly, which is left out, or one step further) and random ones: the stamped
    // vertices are exactly those strictly inside.
    void nearestAndGatheredMatchScan()
    {
        QFETCH(QString, kind);
        std::unique_ptr<Mesh> mesh = kind == "pole icosphere" ? poleIcosphere()
            : kind == "grids and a sliver"                    ? gridsAndSliver()
            : kind == "sculpted icosphere"                    ? sculptedIcosphere()
                                                              : makeStackedGrids(20, 8, 3.0f);
        QVERIFY(mesh && !mesh->getOctree()->isLeaf());
        const std::vector<Vertex> &vertices = mesh->getVertices();
        const Aabb bounds = mesh->getOctree()->aabbLoose;
        const float size = (bounds.max - bounds.min).length();
        std::mt19937 random(3);
        std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
        const auto randomVector = [&] {
            return QVector3D(unit(random), unit(random), unit(random));
        };
        std::vector<std::pair<QVector3D, QVector3D>> rays;
        for (const QVector3D axis : {QVector3D(0, 0, 1), QVector3D(0, 1, 0), QVector3D(1, 0, 0)})
            rays.insert(rays.end(), {{axis * size, -axis * size}, {-axis * size, axis * size}});
        for (int k = 0; k < 300; ++k) {
            const float u = unit(random) * 0.2f * size, w = unit(random) * 0.2f * size;
            if (k < 40)
                rays.insert(
                    rays.end(), {{{0, u, size}, {0, -u, -size}}, {{u, 0, size}, {w, 0, -size}}});
            const QVector3D &p = vertices[random() % vertices.size()].position;
            const QVector3D side = randomVector() * size;
            const Vertex &v = vertices[random() % vertices.size()];
            const QVector3D e =
                (v.position - vertices[v.ringIndices[random() % v.ringIndices.size()]].position)
                * 40.0f;
            const QVector3D through = bounds.computeCenter() + 0.3f * size * randomVector();
            const QVector3D direction = randomVector().normalized();
            rays.insert(rays.end(),
                {{p + side, p - side}, {v.position + e, v.position - e * 1.025f},
                    {through - direction * (k % 2 ? 0.05f : 1.0f) * size,
                        through + direction * size}});
        }
        Picking picking;
        int hits = 0;
        for (const auto &[a, b] : rays) {
            QVector3D expectedPoint;
            const int expected = pickByScan(*mesh, a, b, expectedPoint);
            QCOMPARE(picking.intersectRay(mesh.get(), a, b), expected >= 0);
            QCOMPARE(picking.getPickedTriangle(), expected);
            hits += expected >= 0;
            // On the sphere a ray from outside meets the near side first: one through a vertex or
            // along an edge that every triangle there refused would reach the far side.
            QVERIFY(expected < 0
                || (picking.getIntersectionPoint() == expectedPoint
                    && (kind != "pole icosphere" || a.length() < 200.0f
                        || (expectedPoint - a).length() < a.length())));
        }
        QVERIFY(hits > int(rays.size()) / 4);
        // A sphere that holds no vertex gives the last picked triangle's corners, unstamped.
        const QVector3D &p = vertices[0].position, n = vertices[0].normal * size;
        QVERIFY(picking.intersectRay(mesh.get(), p + n, p - n));
        const Triangle &t = mesh->getTriangle(picking.getPickedTriangle());
        const std::vector<int> corners = {t.vertex1, t.vertex2, t.vertex3};
        for (std::size_t k = 0; k < vertices.size() + 200; ++k) {
            QVector3D centre = bounds.computeCenter() + randomVector() * 0.5f * size;
            float r2 = std::pow(size * (k % 2 ? 1e-4f : 0.1f) * (1.0f + unit(random) * 0.5f), 2.0f);
            if (k < vertices.size() && !vertices[k].ringIndices.empty()) {
                centre = vertices[k].position;
                r2 = (vertices[vertices[k].ringIndices[0]].position - centre).lengthSquared();
                r2 = k % 2 ? std::nextafter(r2, 1e30f) : r2;
            }
            picking.setIntersectionPoint(centre);
            picking.pickVerticesInSphere(r2);
            std::vector<int> picked = picking.getPickedVertices(), inside;
            std::erase_if(
                picked, [&](int i) { return vertices[i].brushStamp != Vertex::brushCounter; });
            for (int i = 0; i < mesh->getNbVertices(); ++i)
                if ((vertices[i].position - centre).lengthSquared() < r2)
                    inside.push_back(i);
            std::sort(picked.begin(), picked.end());
            QVERIFY(
                picked == inside && (!inside.empty() || picking.getPickedVertices() == corners));
            // The triangles gathered on the way are those around the vertices inside, and their
            // corners are listed as getVerticesFromTriangles lists them.
            const std::vector<int> gathered = picking.getPickedTriangles();
            std::vector<int> around = mesh->getTrianglesFromVertices(inside), sorted = gathered;
            std::sort(around.begin(), around.end());
            std::sort(sorted.begin(), sorted.end());
            QVERIFY(sorted == around
                && picking.getPickedCorners() == mesh->getVerticesFromTriangles(gathered));
        }
        QVERIFY(!mesh->getLeavesUpdate().empty());
        // Without a mesh a ray misses and a sphere gathers nothing.
        QVERIFY(!picking.intersectRay(nullptr, p + n, p - n) && !picking.getMesh());
        picking.getPickedVertices().push_back(3);
        picking.pickVerticesInSphere(1.0f);
        QVERIFY(picking.getPickedVertices().empty());
    }
};

QTEST_GUILESS_MAIN(TestPicking)
#include "tst_picking.moc"
