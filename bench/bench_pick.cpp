// Picking benchmark, without a GPU: rays from random directions towards the centre of an
// icosphere, each picked through Picking::intersectionRayMesh (octree candidates, then the exact
// segment-triangle tests).
//
//   bench_pick [--levels 5,7,8] [--rays N] [--runs N]
//
// Each run casts N rays (default 1,000) from a fixed seed; every ray is timed on its own. One JSON
// line per level (see BenchCommon.h): "pick", in ms per ray over all runs' rays, with "misses".

#include "BenchCommon.h"
#include "TestMeshes.h"
#include "geometry/Picking.h"
#include "mesh/Mesh.h"

#include <QElapsedTimer>

#include <random>

int main(int argc, char **argv)
{
    std::vector<int> levels {5, 7, 8};
    int rays = 1000;
    int runs = 5;
    for (int i = 1; i < argc; i += 2) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        const QString value = i + 1 < argc ? QString::fromLocal8Bit(argv[i + 1]) : QString();
        if (arg == QLatin1String("--levels") && !value.isEmpty()) {
            levels = Bench::intList(value);
        } else if (arg == QLatin1String("--rays") && !value.isEmpty()) {
            rays = std::max(1, value.toInt());
        } else if (arg == QLatin1String("--runs") && !value.isEmpty()) {
            runs = std::max(1, value.toInt());
        } else {
            std::fprintf(stderr, "usage: bench_pick [--levels 5,7,8] [--rays N] [--runs N]\n");
            return 2;
        }
    }

    for (int level : levels) {
        const TestMeshes::IcosphereData data = TestMeshes::icosphereData(level);
        auto mesh = TestMeshes::meshFromArrays(data.positions, data.triangles);
        float sphereRadius = 0.0f;
        for (const Vertex &v : mesh->getVertices())
            sphereRadius = std::max(sphereRadius, v.position.length());

        // The view's transform is irrelevant to the pick itself; it only turns the screen radius
        // of the brush into a world radius afterwards.
        const Geometry::ScreenTransform screen;
        Picking picking;
        std::mt19937 random(12345);
        std::normal_distribution<float> gauss;
        std::vector<double> times;
        int misses = 0;
        for (int run = 0; run < runs; ++run) {
            for (int k = 0; k < rays; ++k) {
                QVector3D direction(gauss(random), gauss(random), gauss(random));
                if (direction.lengthSquared() < 1e-6f)
                    direction = QVector3D(0.0f, 0.0f, 1.0f);
                direction.normalize();
                const QVector3D nearPoint = direction * 3.0f * sphereRadius;
                const QVector3D farPoint = -nearPoint;
                QElapsedTimer timer;
                timer.start();
                picking.intersectionRayMesh(
                    mesh.get(), nearPoint, farPoint, QPointF(0.5, 0.5), screen, 1.0, 1.0);
                times.push_back(timer.nsecsElapsed() / 1e6);
                if (!picking.getMesh())
                    ++misses;
            }
        }
        QJsonObject extra;
        extra.insert(QStringLiteral("misses"), misses);
        Bench::report(QStringLiteral("pick"), mesh->getNbTriangles(), Bench::stats(times),
            QStringLiteral("ms"), Bench::peakRssMb(), extra);
    }
    return 0;
}
