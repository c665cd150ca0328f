// A mesh written in three units (1, 1e-4 and 1e4 times the same coordinates) loads, sculpts and
// saves to the same result up to the unit factor and float rounding.
#include "MeshAsserts.h"
#include "MeshBytes.h"
#include "TestIo.h"
#include "io/Files.h"
#include "sculpt/Sculptor.h"
#include "sculpt/StrokeScript.h"

#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <cfloat>
#include <cmath>

class TestUnits : public QObject
{
    Q_OBJECT

private slots:
    void sameStrokeAtEveryScale_data();
    void sameStrokeAtEveryScale();
};

void TestUnits::sameStrokeAtEveryScale_data()
{
    QTest::addColumn<int>("tool");
    QTest::addColumn<int>("mode");
    QTest::newRow("inflate, static") << int(INFLATE) << int(STATIC);
    QTest::newRow("inflate, uniform") << int(INFLATE) << int(UNIFORMISATION);
    QTest::newRow("smooth, subdivide") << int(SMOOTH) << int(SUBDIVISION);
}

void TestUnits::sameStrokeAtEveryScale()
{
    QFETCH(int, tool);
    QFETCH(int, mode);
    // A sphere of 1,280 triangles of radius about 1, made a little uneven so that no two edges
    // are of equal length (a tie could then be broken differently at each scale).
    TestMeshes::IcosphereData data = TestMeshes::icosphereData(3);
    for (std::size_t i = 0; i < data.positions.size(); ++i)
        data.positions[i] *= 1.0f + 0.05f * std::sin(float(i) * 12.9898f);
    const MeshBytes::FaceList faces(data.triangles.begin(), data.triangles.end());

    StrokeScript script;
    script.tool = tool;
    script.topology = mode;
    script.intensity = 1.0f;
    const int dabs = 20;
    for (int k = 0; k < dabs; ++k) {
        const QVector3D d = QVector3D(std::cos(0.05f * k), std::sin(0.05f * k), 0.4f).normalized();
        script.dabs.push_back({{d * 400.0f, -d}, 40.0f});
    }

    // Loaded positions differ between the scales by the rounding of the file's coordinates and of
    // the scale factor, a few float steps of the 500-unit frame; each dab moves vertices along
    // normals computed from positions that differ so, which can add as much again.
    const float frame = 500.0f;
    const float tolerance = frame * 16.0f * FLT_EPSILON * (1 + dabs);
    QTemporaryDir dir;
    std::vector<QVector3D> reference;
    std::vector<Vertex> referenceVertices;
    for (const float scale : {1.0f, 1e-4f, 1e4f}) {
        MeshBytes::PositionList scaled = data.positions;
        for (QVector3D &p : scaled)
            p *= scale;
        QString error;
        auto mesh = Files::loadBytes(
            Files::Kind::Stl, MeshBytes::binarySTL(MeshBytes::facetsOf(scaled, faces)), {}, &error);
        QVERIFY2(mesh, qPrintable(error));
        QCOMPARE(replayStroke(*mesh, script).hits, dabs);
        VERIFY_MESH(*mesh);

        const std::vector<Vertex> &vertices = mesh->getVertices();
        if (referenceVertices.empty())
            referenceVertices = vertices;
        QCOMPARE(vertices.size(), referenceVertices.size());
        QCOMPARE(mesh->getNbTriangles(), int(referenceVertices.size()) * 2 - 4);
        for (std::size_t i = 0; i < vertices.size(); ++i)
            QVERIFY((vertices[i].position - referenceVertices[i].position).length() < tolerance);

        // The saved file: corners back in the file's units, facet normals of unit length along
        // the corners' cross product.
        const QString path = dir.filePath(QStringLiteral("saved.stl"));
        QVERIFY(Files::saveSTL(*mesh, path, {}, &error));
        const QByteArray bytes = TestIo::readFile(path);
        QCOMPARE(bytes.size(), 84 + 50 * qsizetype(mesh->getNbTriangles()));
        for (int t = 0; t < mesh->getNbTriangles(); ++t) {
            QVector3D v[4];
            for (int k = 0; k < 12; ++k)
                v[k / 3][k % 3] = qFromLittleEndian<float>(bytes.constData() + 84 + 50 * t + 4 * k);
            const QVector3D normal = QVector3D::normal(v[1] / scale, v[2] / scale, v[3] / scale);
            QVERIFY(std::abs(v[0].length() - 1.0f) < 1e-5f);
            QVERIFY(QVector3D::dotProduct(v[0], normal) > 1.0f - 1e-4f);
            for (int k = 1; k < 4; ++k) {
                if (scale == 1.0f)
                    reference.push_back(v[k]);
                QVERIFY((v[k] / scale - reference[3 * t + k - 1]).length()
                    < tolerance / (mesh->getScale() * scale));
            }
        }
    }
}

QTEST_GUILESS_MAIN(TestUnits)
#include "tst_units.moc"
