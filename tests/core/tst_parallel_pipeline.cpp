// The loading pipeline's parallel steps must give exactly what their serial forms give: the
// rings computed for all vertices at once are the lists Mesh::computeRingVertices gives, order
// included, on every kind of fan; the octree built by several threads is the tree one thread
// builds, node for node and list for list.
#include "TestMeshes.h"

#include <QtTest>

#include <omp.h>

#include <cmath>

class TestParallelPipeline : public QObject
{
    Q_OBJECT

private slots:
    void loadingRingsMatchRingComputation_data();
    void loadingRingsMatchRingComputation();
    void octreeIndependentOfThreads();
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

void TestParallelPipeline::loadingRingsMatchRingComputation_data()
{
    QTest::addColumn<QString>("kind");
    for (const char *kind : {"icosphere", "grid with border", "small fan", "fan of 32", "fan of 33",
             "large fan", "cone", "damaged"})
        QTest::newRow(kind) << QString::fromLatin1(kind);
}

void TestParallelPipeline::loadingRingsMatchRingComputation()
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

namespace {

// Every node in depth-first slot order: depth, boxes and list, then each triangle's leaf place.
QStringList describe(const Mesh &mesh)
{
    QStringList lines;
    std::vector<const Octree *> order;
    std::function<void(const Octree *)> visit = [&](const Octree *node) {
        order.push_back(node);
        auto box = [](const Aabb &b) {
            return QStringLiteral("%1 %2 %3 %4 %5 %6")
                .arg(b.min.x())
                .arg(b.min.y())
                .arg(b.min.z())
                .arg(b.max.x())
                .arg(b.max.y())
                .arg(b.max.z());
        };
        QString line = QStringLiteral("depth %1 split %2 loose %3 list")
                           .arg(node->depth)
                           .arg(box(node->aabbSplit), box(node->aabbLoose));
        for (int t : node->triangleIndices)
            line += QLatin1Char(' ') + QString::number(t);
        lines << line;
        if (!node->isLeaf()) {
            for (const auto &child : node->children)
                visit(child.get());
        }
    };
    visit(mesh.getOctree());
    for (const Triangle &t : mesh.getTriangles()) {
        const auto node = std::find(order.begin(), order.end(), t.leaf) - order.begin();
        lines << QStringLiteral("triangle %1 node %2 at %3").arg(t.id).arg(node).arg(t.leafIndex);
    }
    return lines;
}

} // namespace

void TestParallelPipeline::octreeIndependentOfThreads()
{
    // Large enough for the root's children to be built in parallel.
    const TestMeshes::IcosphereData data = TestMeshes::icosphereData(6);
    QVERIFY(data.triangles.size() > Octree::parallelBuildSize);
    const int before = omp_get_max_threads();
    omp_set_num_threads(1);
    const QStringList serial =
        describe(*TestMeshes::meshFromArrays(data.positions, data.triangles));
    omp_set_num_threads(4);
    auto mesh = TestMeshes::meshFromArrays(data.positions, data.triangles);
    const QStringList parallel = describe(*mesh);
    // Undo and redo rebuild the tree too; given the old root's own box, which the rebuild must
    // not read after freeing the old tree.
    mesh->rebuildOctree(mesh->getOctree()->aabbSplit);
    const QStringList rebuilt = describe(*mesh);
    omp_set_num_threads(before);
    QVERIFY(std::size_t(serial.size()) > data.triangles.size());
    QCOMPARE(parallel, serial);
    QCOMPARE(rebuilt, serial);
}

QTEST_APPLESS_MAIN(TestParallelPipeline)
#include "tst_parallel_pipeline.moc"
