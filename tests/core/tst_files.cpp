#include "MeshBytes.h"
#include "TestIo.h"
#include "TestMeshes.h"
#include "io/Files.h"
#include "mesh/Mesh.h"
#include "mesh/MeshCheck.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <optional>
#include <random>
#include <set>
#include <vector>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>
#endif

using namespace MeshBytes;
using namespace TestIo;
Q_DECLARE_METATYPE(IntList)
Q_DECLARE_METATYPE(PositionList)
Q_DECLARE_METATYPE(Files::Kind)

namespace {

bool sameBits(const QVector3D &a, const QVector3D &b)
{
    return std::bit_cast<quint32>(a.x()) == std::bit_cast<quint32>(b.x())
        && std::bit_cast<quint32>(a.y()) == std::bit_cast<quint32>(b.y())
        && std::bit_cast<quint32>(a.z()) == std::bit_cast<quint32>(b.z());
}

float nextUp(float f)
{
    return std::nextafter(f, std::numeric_limits<float>::infinity());
}

// Corners of a mesh's triangles, three per triangle.
IntList cornersOf(const Mesh &mesh)
{
    IntList out;
    for (const Triangle &t : mesh.getTriangles())
        out.insert(out.end(), {t.vertex1, t.vertex2, t.vertex3});
    return out;
}

// The merge as a sorted set ordered by Vertex::operator<, the reference for the hash map.
struct SetMerge
{
    PositionList positions;
    IntList corners;
};

SetMerge mergeWithSet(const PositionList &corners)
{
    SetMerge out;
    std::set<Vertex> seen;
    for (const QVector3D &p : corners) {
        Vertex v(p, static_cast<int>(out.positions.size()));
        auto it = seen.find(v);
        if (it != seen.end()) {
            out.corners.push_back(it->id);
        } else {
            seen.insert(v);
            out.positions.push_back(p);
            out.corners.push_back(v.id);
        }
    }
    return out;
}

// Corners of facets merged as the STL reader must merge them.
IntList stlCorners(const FacetList &facets)
{
    PositionList all;
    for (const Facet &f : facets)
        all.insert(all.end(), f.begin(), f.end());
    return mergeWithSet(all).corners;
}

// With ARGILIUM_FUZZ_SEEDS set to a folder, every file a reader test reads is also written there
// (one sub-folder per reader), as seeds for the fuzzing corpus.
void writeSeed(Files::Kind kind, const QByteArray &bytes)
{
    const QString root = qEnvironmentVariable("ARGILIUM_FUZZ_SEEDS");
    if (root.isEmpty() || bytes.size() > 100000)
        return;
    const QString sub = kind == Files::Kind::Stl ? "stl" : kind == Files::Kind::Obj ? "obj" : "3ds";
    QDir dir(root);
    dir.mkpath(sub);
    QFile f(dir.filePath(sub + u'/'
        + QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex())));
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
}

QByteArray icosphereSTL(int level)
{
    const TestMeshes::IcosphereData data = TestMeshes::icosphereData(level);
    FacetList facets;
    for (const auto &t : data.triangles)
        facets.push_back({data.positions[t[0]], data.positions[t[1]], data.positions[t[2]]});
    return binarySTL(facets);
}

} // namespace

class TestFiles : public QObject
{
    Q_OBJECT

private slots:
    void readers_data();
    void readers();
    void binaryHeaderBeginningWithSolid();
    void damagedFiles_data();
    void damagedFiles();
    void mergeMatchesSortedSet_data();
    void mergeMatchesSortedSet();
    void statusMessages();
    void loadPicksReaderByEnding_data();
    void loadPicksReaderByEnding();
    void roundTrip_data();
    void roundTrip();
    void savedFileLayout();
    void failedSaveKeepsOldFile_data();
    void failedSaveKeepsOldFile();

private:
    QTemporaryDir dir_;
};

// Each case gives the file positions exactly as read (before the pipeline scales them) and the
// corners of the triangles in order. The loaded mesh must have exactly those arrays: ids equal to
// indices, each vertex listing its triangles in triangle order, normals from the corners.
void TestFiles::readers_data()
{
    QTest::addColumn<Files::Kind>("kind");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("format");
    QTest::addColumn<PositionList>("positions");
    QTest::addColumn<IntList>("corners");

    const QVector3D a(0, 0, 0), b(1, 0, 0), c(0, 1, 0), d(0, 0, 1), e(1, 1, 1);
    const PositionList abcde = {a, b, c, d, e};
    const FacetList twoFacets = {{a, b, c}, {c, b, d}};
    const IntList twoFacetCorners = {0, 1, 2, 2, 1, 3};

    // -- STL --
    QTest::newRow("stl: corners merge, indices by first appearance")
        << Files::Kind::Stl << binarySTL(twoFacets) << "stl" << PositionList {a, b, c, d}
        << twoFacetCorners;
    QTest::newRow("stl: zero normals are recomputed")
        << Files::Kind::Stl << binarySTL(twoFacets, {}, Normals::Zero) << "stl"
        << PositionList {a, b, c, d} << twoFacetCorners;
    QTest::newRow("stl: wrong normals are recomputed")
        << Files::Kind::Stl << binarySTL(twoFacets, {}, Normals::Wrong) << "stl"
        << PositionList {a, b, c, d} << twoFacetCorners;
    const QVector3D bNext(nextUp(1.0f), 0, 0);
    QTest::newRow("stl: last-bit difference makes two vertices")
        << Files::Kind::Stl << binarySTL({{a, b, c}, {c, bNext, d}}) << "stl"
        << PositionList {a, b, c, bNext, d} << IntList {0, 1, 2, 2, 3, 4};
    const QVector3D negZero(-0.0f, 1, 0);
    QTest::newRow("stl: 0.0 and -0.0 are one vertex, first spelling kept")
        << Files::Kind::Stl << binarySTL({{a, b, negZero}, {c, b, d}}) << "stl"
        << PositionList {a, b, negZero, d} << twoFacetCorners;
    QTest::newRow("stl: facet with two equal corners")
        << Files::Kind::Stl << binarySTL({{a, b, c}, {a, a, d}}) << "stl"
        << PositionList {a, b, c, d} << IntList {0, 1, 2, 0, 0, 3};
    QByteArray padded = binarySTL(twoFacets);
    padded.append(7, 'x');
    QTest::newRow("stl: bytes after the last facet are ignored")
        << Files::Kind::Stl << padded << "stl" << PositionList {a, b, c, d} << twoFacetCorners;
    QTest::newRow("stl text") << Files::Kind::Stl << textSTL(twoFacets) << "stl-text"
                              << PositionList {a, b, c, d} << twoFacetCorners;
    QTest::newRow("stl text: CR LF, capitals")
        << Files::Kind::Stl << textSTL(twoFacets, "\r\n", true) << "stl-text"
        << PositionList {a, b, c, d} << twoFacetCorners;
    QTest::newRow("stl text: two solids, shared corners merge across them")
        << Files::Kind::Stl << textSTL({twoFacets[0]}) + textSTL({twoFacets[1]}) << "stl-text"
        << PositionList {a, b, c, d} << twoFacetCorners;
    QTest::newRow("stl text: padding after endsolid is left unread")
        << Files::Kind::Stl << textSTL(twoFacets) + QByteArray("\x1a\0\0\0", 4) << "stl-text"
        << PositionList {a, b, c, d} << twoFacetCorners;
    QTest::newRow("stl text: exponents, signs, -0")
        << Files::Kind::Stl
        << QByteArray("solid\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\n"
                      "vertex 1e0 +0 -0\nvertex -0.0 1.0E+00 0\nendloop\nendfacet\n"
                      "facet normal 0 0 1\nouter loop\nvertex 0 -0 0\nvertex 1 0 0\n"
                      "vertex 0 1 0\nendloop\nendfacet\nendsolid\n")
        << "stl-text" << PositionList {a, QVector3D(1, 0, -0.0f), QVector3D(-0.0f, 1, 0)}
        << IntList {0, 1, 2, 0, 1, 2};
    QTest::newRow("stl text: NaN facet normal is ignored")
        << Files::Kind::Stl
        << QByteArray("solid x\nfacet normal nan nan nan\nouter loop\nvertex 0 0 0\n"
                      "vertex 1 0 0\nvertex 0 1 0\nendloop\nendfacet\nendsolid x")
        << "stl-text" << PositionList {a, b, c} << IntList {0, 1, 2};

    // -- OBJ --
    const QByteArray fourVertices = "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 0 1\n";
    const PositionList abcd = {a, b, c, d};
    QTest::newRow("obj: quad split along the first diagonal")
        << Files::Kind::Obj << fourVertices + "f 1 2 3 4\n"
        << "obj" << abcd << IntList {0, 1, 2, 0, 2, 3};
    QTest::newRow("obj: negative references")
        << Files::Kind::Obj << fourVertices + "f -4 -3 -2 -1\n"
        << "obj" << abcd << IntList {0, 1, 2, 0, 2, 3};
    QTest::newRow("obj: negative references count from the face line")
        << Files::Kind::Obj
        << QByteArray("v 0 0 0\nv 1 0 0\nv 0 1 0\nf -3 -2 -1\nv 0 0 1\n"
                      "f -1 -3 -2\n")
        << "obj" << abcd << IntList {0, 1, 2, 3, 1, 2};
    QTest::newRow("obj: texture and normal indices")
        << Files::Kind::Obj << fourVertices + "f 1/1/1 2/2/2 3/3/3\nf 1//1 3//3 4//4\n"
        << "obj" << abcd << IntList {0, 1, 2, 0, 2, 3};
    QTest::newRow("obj: pentagon keeps its first four corners")
        << Files::Kind::Obj << fourVertices + "v 1 1 1\nf 1 2 3 4 5\n"
        << "obj" << abcde << IntList {0, 1, 2, 0, 2, 3};
    QTest::newRow("obj: other lines change nothing")
        << Files::Kind::Obj
        << QByteArray("# comment\nmtllib m.mtl\no thing\ng group\ns 1\nusemtl red\n"
                      "vn 0 0 1\nvt 0.5 0.5\nv\t9 9 9\n  v 9 9 9\nvp 1\nf\t1 2 3\n")
            + fourVertices + "f 1 2 3\nl 1 2\n"
        << "obj" << abcd << IntList {0, 1, 2};
    QTest::newRow("obj: missing coordinates read as zero, w ignored")
        << Files::Kind::Obj << QByteArray("v 1.5 2\nv 1 0 0 1\nv 0 1 0\nf 1 2 3\n") << "obj"
        << PositionList {{1.5f, 2, 0}, b, c} << IntList {0, 1, 2};
    QTest::newRow("obj: a coordinate that is no number ends the vertex")
        << Files::Kind::Obj << QByteArray("v 1 x 3\nv 1 0 0\nv 0 1 0\nf 1 2 3\n") << "obj"
        << PositionList {{1, 0, 0}, c} << IntList {0, 0, 1};
    QTest::newRow("obj: equal positions become one vertex")
        << Files::Kind::Obj << QByteArray("v 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 0 0\nf 1 2 3\nf 4 3 2\n")
        << "obj" << PositionList {a, b, c} << IntList {0, 1, 2, 0, 2, 1};
    QTest::newRow("obj: CR LF and no final line feed")
        << Files::Kind::Obj << QByteArray("v 0 0 0\r\nv 1 0 0\r\nv 0 1 0\r\nf 1 2 3\r\nf 3 2 1")
        << "obj" << PositionList {a, b, c} << IntList {0, 1, 2, 2, 1, 0};
    QTest::newRow("obj: a fourth word that is no number")
        << Files::Kind::Obj << fourVertices + "f 1 2 3 # triangle\n"
        << "obj" << abcd << IntList {0, 1, 2};
    QTest::newRow("obj: unused vertices are kept") << Files::Kind::Obj << fourVertices + "f 2 3 4\n"
                                                   << "obj" << abcd << IntList {1, 2, 3};

    // -- 3DS --
    const QByteArray cube = vertexList(cubePositions) + faceList(cubeFaces);
    QTest::newRow("3ds: box of 8 vertices and 12 faces")
        << Files::Kind::ThreeDs << file3DS(object3DS("Box", cube)) << "3ds" << cubePositions
        << flatten(cubeFaces);
    QByteArray material;
    putU32(material, 0xdeadbeef);
    const QByteArray extras = chunk(0xAFFF, chunk(0xA000, "red\0"_qba) + material)
        + chunk(0x4600, material) + chunk(0x4700, material);
    QTest::newRow("3ds: materials, light, camera and keyframes are skipped")
        << Files::Kind::ThreeDs
        << file3DS(extras + object3DS("Box", cube) + extras, chunk(0xB000, extras)) << "3ds"
        << cubePositions << flatten(cubeFaces);
    QTest::newRow("3ds: mapping coordinates between vertices and faces")
        << Files::Kind::ThreeDs
        << file3DS(
               object3DS("Box", vertexList(cubePositions) + mappingList(8) + faceList(cubeFaces)))
        << "3ds" << cubePositions << flatten(cubeFaces);
    QByteArray smoothing;
    for (int i = 0; i < 12; ++i)
        putU32(smoothing, 1);
    QTest::newRow("3ds: smoothing and material groups after the faces")
        << Files::Kind::ThreeDs
        << file3DS(object3DS("Box",
               vertexList(cubePositions)
                   + faceList(
                       cubeFaces, chunk(0x4130, "red\0\x01\0\0\0"_qba) + chunk(0x4150, smoothing))))
        << "3ds" << cubePositions << flatten(cubeFaces);
    QTest::newRow("3ds: file ending right after the face list")
        << Files::Kind::ThreeDs << chunk(0x4D4D, chunk(0x3D3D, object3DS("Box", cube))) << "3ds"
        << cubePositions << flatten(cubeFaces);
    PositionList twoCubes = cubePositions;
    for (const QVector3D &p : cubePositions)
        twoCubes.push_back(p + QVector3D(2, 0, 0));
    IntList twoCubeCorners = flatten(cubeFaces);
    const IntList second = flatten(cubeFaces, 8);
    twoCubeCorners.insert(twoCubeCorners.end(), second.begin(), second.end());
    QTest::newRow("3ds: two objects, the second's faces offset by the first's vertices")
        << Files::Kind::ThreeDs
        << file3DS(object3DS("A", cube)
               + object3DS("B",
                   vertexList(PositionList(twoCubes.begin() + 8, twoCubes.end()))
                       + faceList(cubeFaces)))
        << "3ds" << twoCubes << twoCubeCorners;
}

void TestFiles::readers()
{
    QFETCH(Files::Kind, kind);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, format);
    QFETCH(PositionList, positions);
    QFETCH(IntList, corners);
    writeSeed(kind, bytes);

    // Parsing alone: exact positions (bit for bit) and corners.
    MeshData data;
    QString error;
    bool parsed = false;
    switch (kind) {
    case Files::Kind::Stl:
        parsed = Files::parseSTL(bytes, data, &error);
        break;
    case Files::Kind::Obj:
        parsed = Files::parseOBJ(bytes, data, &error);
        break;
    case Files::Kind::ThreeDs:
        parsed = Files::parse3DS(bytes, data, &error);
        break;
    }
    QVERIFY2(parsed, qPrintable(error));
    QCOMPARE(data.format, format);
    QCOMPARE(data.positions.size(), positions.size());
    for (std::size_t i = 0; i < positions.size(); ++i)
        QVERIFY2(sameBits(data.positions[i], positions[i]), qPrintable(QString::number(i)));
    QCOMPARE(data.corners, corners);

    // The whole reader: records as specified, then the pipeline.
    QString loadedFormat;
    std::unique_ptr<Mesh> mesh = Files::loadBytes(kind, bytes, {}, &error, &loadedFormat);
    QVERIFY2(mesh, qPrintable(error));
    QCOMPARE(loadedFormat, format);
    QCOMPARE(mesh->getNbVertices(), static_cast<int>(positions.size()));
    QCOMPARE(cornersOf(*mesh), corners);
    std::vector<IntList> lists(positions.size());
    for (std::size_t t = 0; t < corners.size() / 3; ++t) {
        const Triangle &tri = mesh->getTriangle(static_cast<int>(t));
        QCOMPARE(tri.id, static_cast<int>(t));
        const QVector3D normal = QVector3D::normal(positions[corners[3 * t]],
            positions[corners[3 * t + 1]], positions[corners[3 * t + 2]]);
        QVERIFY(qFuzzyCompare(tri.normal + QVector3D(2, 2, 2), normal + QVector3D(2, 2, 2)));
        for (int k = 0; k < 3; ++k)
            lists[corners[3 * t + k]].push_back(static_cast<int>(t));
    }
    QVector3D boxMin = positions[0], boxMax = positions[0];
    for (const QVector3D &p : positions) {
        for (int k = 0; k < 3; ++k) {
            boxMin[k] = std::min(boxMin[k], p[k]);
            boxMax[k] = std::max(boxMax[k], p[k]);
        }
    }
    const float scale = 500.0f / (boxMax - boxMin).length();
    QCOMPARE(mesh->getScale(), scale);
    for (std::size_t i = 0; i < positions.size(); ++i) {
        const Vertex &v = mesh->getVertex(static_cast<int>(i));
        QCOMPARE(v.id, static_cast<int>(i));
        QCOMPARE(v.triangleIndices, lists[i]);
        QVERIFY((v.position - positions[i] * scale).length() < 1e-4f);
    }
    QCOMPARE(checkMesh(*mesh), QString());
}

// A binary file whose 80-byte header happens to begin with "solid" is still binary when its size
// matches its facet count; a text file is not mistaken for binary.
void TestFiles::binaryHeaderBeginningWithSolid()
{
    const FacetList facets = facetsOf(cubePositions, cubeFaces);
    QString format, error;
    auto mesh = Files::loadBytes(Files::Kind::Stl,
        binarySTL(facets, "solid cube exported by a careless writer"), {}, &error, &format);
    QVERIFY2(mesh, qPrintable(error));
    QCOMPARE(format, QStringLiteral("stl"));
    QCOMPARE(mesh->getNbTriangles(), 12);
    QCOMPARE(mesh->getNbVertices(), 8);
    QCOMPARE(checkMesh(*mesh), QString());

    // The same with a few stray bytes at the end: the text reading fails, the binary one fits.
    QByteArray padded = binarySTL(facets, "solid cube");
    padded.append("\n\n", 2);
    mesh = Files::loadBytes(Files::Kind::Stl, padded, {}, &error, &format);
    QVERIFY2(mesh, qPrintable(error));
    QCOMPARE(format, QStringLiteral("stl"));
    QCOMPARE(cornersOf(*mesh), stlCorners(facets));
    QCOMPARE(checkMesh(*mesh), QString());

    mesh = Files::loadBytes(Files::Kind::Stl, textSTL(facets), {}, &error, &format);
    QVERIFY2(mesh, qPrintable(error));
    QCOMPARE(format, QStringLiteral("stl-text"));
    QCOMPARE(cornersOf(*mesh), stlCorners(facets));
    QCOMPARE(checkMesh(*mesh), QString());
}

// Every damaged file gives no mesh and a one-line reason that says what is wrong.
void TestFiles::damagedFiles_data()
{
    QTest::addColumn<Files::Kind>("kind");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason"); // a part of the expected message

    const FacetList facets = facetsOf(cubePositions, cubeFaces);
    const QByteArray stl = binarySTL(facets);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const QVector3D a(0, 0, 0), b(1, 0, 0), c(0, 1, 0);

    QTest::newRow("stl: empty") << Files::Kind::Stl << QByteArray() << "fewer than the 84";
    QTest::newRow("stl: header only") << Files::Kind::Stl << binarySTL({}) << "no triangle";
    QTest::newRow("stl: negative count")
        << Files::Kind::Stl << binarySTL(facets, {}, Normals::Correct, -5) << "no triangle";
    QTest::newRow("stl: truncated")
        << Files::Kind::Stl << stl.left(stl.size() - 20) << "announces 12 facets";
    QTest::newRow("stl: count larger than the file")
        << Files::Kind::Stl << binarySTL(facets, {}, Normals::Correct, 0x7fffffff)
        << "announces 2147483647 facets";
    QTest::newRow("stl: garbage") << Files::Kind::Stl << QByteArray(50, '\xff') << "fewer than";
    QTest::newRow("stl: NaN coordinate")
        << Files::Kind::Stl << binarySTL({{a, b, c}, {a, QVector3D(nan, 0, 0), c}})
        << "facet 1 has a coordinate that is not a finite number";
    QTest::newRow("stl: infinite coordinate")
        << Files::Kind::Stl << binarySTL({{a, b, QVector3D(0, -inf, 0)}}) << "not a finite";
    QTest::newRow("stl: all corners at one point")
        << Files::Kind::Stl << binarySTL({{b, b, b}, {b, b, b}}) << "at one point";
    QTest::newRow("stl: too large to scale")
        << Files::Kind::Stl << binarySTL({{QVector3D(-3e38f, 0, 0), QVector3D(3e38f, 0, 0), c}})
        << "cannot be scaled";
    QTest::newRow("stl: too small to scale")
        << Files::Kind::Stl << binarySTL({{a, QVector3D(1e-45f, 0, 0), a}}) << "cannot be scaled";
    const QByteArray text = textSTL(facets);
    QTest::newRow("stl text: cut short")
        << Files::Kind::Stl << text.left(text.size() / 2) << "text STL, line";
    QTest::newRow("stl text: without endsolid")
        << Files::Kind::Stl << text.left(text.lastIndexOf("endsolid")) << "cut short";
    QTest::newRow("stl text: solid alone") << Files::Kind::Stl << QByteArray("solid") << "line 1";
    QTest::newRow("stl text: bad number")
        << Files::Kind::Stl << QByteArray(text).replace("vertex 0 0 0", "vertex 0 0,5 0")
        << "expected a number, found \"0,5\"";
    QTest::newRow("stl text: two coordinates")
        << Files::Kind::Stl << QByteArray(text).replace("vertex 0 0 0", "vertex 0 0")
        << "expected a number";
    QTest::newRow("stl text: four corners")
        << Files::Kind::Stl
        << QByteArray("solid\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\n"
                      "vertex 0 1 0\nvertex 1 1 0\nendloop\nendfacet\nendsolid\n")
        << "line 7: expected \"endloop\"";
    QTest::newRow("stl text: NaN vertex")
        << Files::Kind::Stl
        << QByteArray("solid\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex nan 0 0\n"
                      "vertex 0 1 0\nendloop\nendfacet\nendsolid\n")
        << "line 5: a coordinate is not a finite number";
    QTest::newRow("stl text: overflowing vertex")
        << Files::Kind::Stl
        << QByteArray("solid\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1e39 0 0\n"
                      "vertex 0 1 0\nendloop\nendfacet\nendsolid\n")
        << "not a finite number";
    QTest::newRow("stl text: no facet")
        << Files::Kind::Stl << QByteArray("solid x\nendsolid x\n") << "no triangle";

    const QByteArray three = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
    QTest::newRow("obj: empty") << Files::Kind::Obj << QByteArray() << "no triangle";
    QTest::newRow("obj: vertices only") << Files::Kind::Obj << three << "no triangle";
    QTest::newRow("obj: reference 0") << Files::Kind::Obj << three + "f 0 1 2\n"
                                      << "line 4: face names vertex 0";
    QTest::newRow("obj: beyond the count") << Files::Kind::Obj << three + "f 1 2 4\n"
                                           << "face names vertex 4, which does not exist (3";
    QTest::newRow("obj: fourth corner beyond the count")
        << Files::Kind::Obj << three + "f 1 2 3 9\n"
        << "vertex 9";
    QTest::newRow("obj: negative past the start") << Files::Kind::Obj << three + "f -1 -2 -4\n"
                                                  << "vertex -4";
    QTest::newRow("obj: face before its vertices")
        << Files::Kind::Obj << "f 1 2 3\n" + three << "line 1: face names vertex 1";
    QTest::newRow("obj: not a number") << Files::Kind::Obj << three + "f 1 two 3\n"
                                       << "corner \"two\" does not name a vertex";
    QTest::newRow("obj: huge reference") << Files::Kind::Obj << three + "f 1 2 99999999999\n"
                                         << "does not name a vertex";
    QTest::newRow("obj: two corners") << Files::Kind::Obj << three + "f 1 2\n"
                                      << "at least three corners, it has 2";
    QTest::newRow("obj: NaN vertex") << Files::Kind::Obj << three + "v nan 0 0\nf 1 2 3\n"
                                     << "line 4: a vertex coordinate is not a finite number";
    QTest::newRow("obj: overflowing vertex")
        << Files::Kind::Obj << "v 1e39 0 0\n" + three << "line 1";
    QTest::newRow("obj: garbage") << Files::Kind::Obj << QByteArray("\x00\xff\x13\nf\n", 7)
                                  << "no triangle";

    const QByteArray cube = vertexList(cubePositions) + faceList(cubeFaces);
    const QByteArray good = file3DS(object3DS("Box", cube));
    QTest::newRow("3ds: empty") << Files::Kind::ThreeDs << QByteArray() << "no triangle";
    QTest::newRow("3ds: truncated")
        << Files::Kind::ThreeDs << good.left(good.size() - 10) << "chunk 0x4d4d at offset 0 is";
    QByteArray shortLength = good;
    qToLittleEndian<quint32>(3, shortLength.data() + 2);
    QTest::newRow("3ds: length below a header")
        << Files::Kind::ThreeDs << shortLength << "length of 3, less than its own header";
    QByteArray zeroLength = file3DS(chunk(0x1234, {}) + object3DS("Box", cube));
    qToLittleEndian<quint32>(0, zeroLength.data() + 6 + 10 + 6 + 2);
    QTest::newRow("3ds: length zero") << Files::Kind::ThreeDs << zeroLength << "length of 0";
    QByteArray pastParent = file3DS(object3DS("Box", cube));
    // The vertex list claims more than its triangle mesh holds.
    const qsizetype vertexListAt = pastParent.indexOf(vertexList(cubePositions));
    qToLittleEndian<quint32>(500, pastParent.data() + vertexListAt + 2);
    QTest::newRow("3ds: child running past its parent")
        << Files::Kind::ThreeDs << pastParent << "remain in its parent chunk";
    QTest::newRow("3ds: face naming a missing vertex")
        << Files::Kind::ThreeDs
        << file3DS(object3DS("Box", vertexList(cubePositions) + faceList({{0, 1, 2}, {0, 8, 2}})))
        << "face 1 names vertex 8 but its mesh has 8 vertices";
    QTest::newRow("3ds: faces before vertices")
        << Files::Kind::ThreeDs
        << file3DS(object3DS("Box", faceList(cubeFaces) + vertexList(cubePositions)))
        << "has 0 vertices";
    QTest::newRow("3ds: second object naming the first one's vertices")
        << Files::Kind::ThreeDs
        << file3DS(object3DS("A", cube) + object3DS("B", faceList(cubeFaces))) << "has 0 vertices";
    QByteArray lyingCount;
    putU16(lyingCount, 100);
    putVector(lyingCount, QVector3D(1, 2, 3));
    QTest::newRow("3ds: vertex count larger than the chunk")
        << Files::Kind::ThreeDs << file3DS(object3DS("Box", chunk(0x4110, lyingCount)))
        << "announces 100 records but has room for 1";
    QTest::newRow("3ds: count cut off")
        << Files::Kind::ThreeDs << file3DS(object3DS("Box", chunk(0x4120, "\x01"_qba)))
        << "no room for its count";
    QTest::newRow("3ds: no vertex list")
        << Files::Kind::ThreeDs << file3DS(object3DS("Box", {})) << "no triangle";
    QTest::newRow("3ds: vertices but no faces")
        << Files::Kind::ThreeDs << file3DS(object3DS("Box", vertexList(cubePositions)))
        << "no triangle";
    QTest::newRow("3ds: unterminated name")
        << Files::Kind::ThreeDs << file3DS(chunk(0x4000, "Box")) << "name has no end";
    QTest::newRow("3ds: NaN vertex")
        << Files::Kind::ThreeDs
        << file3DS(
               object3DS("Box", vertexList({a, b, QVector3D(0, nan, 0)}) + faceList({{0, 1, 2}})))
        << "vertex 2 has a coordinate that is not a finite number";
    QTest::newRow("3ds: garbage") << Files::Kind::ThreeDs << QByteArray(64, '\xee')
                                  << "only 64 bytes remain in the file";
}

void TestFiles::damagedFiles()
{
    QFETCH(Files::Kind, kind);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    writeSeed(kind, bytes);

    QStringList messages;
    QString error;
    std::unique_ptr<Mesh> mesh = Files::loadBytes(
        kind, bytes, [&](const QString &m) { messages << m; }, &error);
    QVERIFY(!mesh);
    QVERIFY2(error.contains(reason), qPrintable(error));
    QVERIFY(!error.contains(u'\n'));
    // The reader stopped before the pipeline.
    QCOMPARE(messages, QStringList {"Loading : parsing"});

    // Every prefix of the file is damaged too; none may crash or read out of bounds.
    for (qsizetype n = 0; n < std::min<qsizetype>(bytes.size(), 400); ++n) {
        std::unique_ptr<Mesh> part = Files::loadBytes(kind, bytes.left(n), {}, &error);
        if (part)
            QCOMPARE(checkMesh(*part), QString());
    }
}

// The hash map must merge exactly like a sorted set ordered by position: same vertices, in the
// same order of first appearance, same corner indices.
void TestFiles::mergeMatchesSortedSet_data()
{
    QTest::addColumn<int>("seed");
    QTest::addColumn<int>("corners");
    QTest::addColumn<int>("distinctValues");
    for (int seed = 1; seed <= 6; ++seed)
        QTest::addRow("seed %d", seed) << seed << 30000 << (seed % 2 ? 4 : 40);
}

void TestFiles::mergeMatchesSortedSet()
{
    QFETCH(int, seed);
    QFETCH(int, corners);
    QFETCH(int, distinctValues);

    // Coordinates from a small pool, so that many corners repeat exactly, with neighbours one
    // bit apart and both zeros in the pool.
    std::mt19937 random(static_cast<unsigned>(seed));
    std::vector<float> pool = {0.0f, -0.0f};
    std::uniform_real_distribution<float> value(-10.0f, 10.0f);
    while (static_cast<int>(pool.size()) < distinctValues) {
        const float f = value(random);
        pool.push_back(f);
        pool.push_back(nextUp(f));
        pool.push_back(std::nextafter(f, -std::numeric_limits<float>::infinity()));
    }
    pool.push_back(std::numeric_limits<float>::denorm_min());
    pool.push_back(-std::numeric_limits<float>::denorm_min());
    std::uniform_int_distribution<std::size_t> pick(0, pool.size() - 1);
    PositionList input;
    for (int i = 0; i < corners; ++i)
        input.emplace_back(pool[pick(random)], pool[pick(random)], pool[pick(random)]);

    const SetMerge expected = mergeWithSet(input);

    VertexMap map; // starts small, so it grows many times
    PositionList positions;
    IntList indices;
    for (const QVector3D &p : input)
        indices.push_back(Files::findOrAddVertex(p, map, positions));
    QCOMPARE(indices, expected.corners);
    QCOMPARE(positions.size(), expected.positions.size());
    for (std::size_t i = 0; i < positions.size(); ++i)
        QVERIFY(sameBits(positions[i], expected.positions[i]));

    // The same data through the whole STL reader.
    FacetList facets;
    for (std::size_t i = 0; i + 2 < input.size(); i += 3)
        facets.push_back({input[i], input[i + 1], input[i + 2]});
    MeshData data;
    QString error;
    QVERIFY2(Files::parseSTL(binarySTL(facets), data, &error), qPrintable(error));
    const SetMerge fromFile =
        mergeWithSet(PositionList(input.begin(), input.begin() + 3 * facets.size()));
    QCOMPARE(data.corners, fromFile.corners);
    QCOMPARE(data.positions.size(), fromFile.positions.size());
    auto mesh = Files::buildMesh(data, &error);
    QVERIFY2(mesh, qPrintable(error));
    mesh->initTopology();
    QCOMPARE(checkMesh(*mesh), QString());
}

void TestFiles::statusMessages()
{
    const QByteArray bytes = binarySTL(facetsOf(cubePositions, cubeFaces));

    // The pipeline's own messages, as it gives them on the same mesh.
    MeshData data;
    QVERIFY(Files::parseSTL(bytes, data));
    auto reference = Files::buildMesh(data);
    QVERIFY(reference);
    QStringList pipeline;
    const MessageSink collect = [&](const QString &m) { pipeline << m; };
    reference->initTopology(collect);
    reference->initVBO(collect);
    QVERIFY(!pipeline.isEmpty());

    const QString path = dir_.filePath("messages.stl");
    QVERIFY(writeFile(path, bytes));
    QStringList messages;
    auto mesh = Files::load(path, [&](const QString &m) { messages << m; });
    QVERIFY(mesh);
    QCOMPARE(messages, QStringList {"Loading : parsing"} + pipeline + QStringList {"Argilium"});
    QCOMPARE(checkMesh(*mesh), QString());

    messages.clear();
    QString error;
    QVERIFY(Files::saveSTL(
        *mesh, dir_.filePath("saved.stl"), [&](const QString &m) { messages << m; }, &error));
    QCOMPARE(messages, (QStringList {"Save", "Argilium"}));

    // A failed save still ends with "Argilium".
    messages.clear();
    QVERIFY(!Files::saveSTL(
        *mesh, dir_.filePath("no/such/folder/x.stl"), [&](const QString &m) { messages << m; },
        &error));
    QCOMPARE(messages, (QStringList {"Save", "Argilium"}));
}

void TestFiles::loadPicksReaderByEnding_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("format"); // empty when the load must fail
    QTest::addColumn<QString>("reason");

    const QByteArray stl = binarySTL(facetsOf(cubePositions, cubeFaces));
    const QByteArray obj = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
    const QByteArray tds =
        file3DS(object3DS("Box", vertexList(cubePositions) + faceList(cubeFaces)));
    QTest::newRow("stl") << "a.stl" << stl << "stl"
                         << "";
    QTest::newRow("STL in capitals") << "A.STL" << stl << "stl"
                                     << "";
    QTest::newRow("obj") << "a.Obj" << obj << "obj"
                         << "";
    QTest::newRow("3ds") << "a.3DS" << tds << "3ds"
                         << "";
    QTest::newRow("obj content named .stl") << "b.stl" << obj << ""
                                            << "binary STL";
    QTest::newRow("unknown ending") << "a.ply" << stl << ""
                                    << "does not end in .stl";
    QTest::newRow("no ending") << "stl" << stl << ""
                               << "does not end in";
    QTest::newRow("missing file") << "" << QByteArray() << ""
                                  << "cannot open";
    QTest::newRow("folder") << "folder.stl" << QByteArray() << ""
                            << "it is a folder";
}

void TestFiles::loadPicksReaderByEnding()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, format);
    QFETCH(QString, reason);

    QString path = dir_.filePath(name);
    if (name.isEmpty())
        path = dir_.filePath("missing.stl");
    else if (name.startsWith("folder"))
        QVERIFY(QDir(dir_.path()).mkpath(name));
    else
        QVERIFY(writeFile(path, bytes));

    QString error, loadedFormat;
    auto mesh = Files::load(path, {}, &error, &loadedFormat);
    if (format.isEmpty()) {
        QVERIFY(!mesh);
        QVERIFY2(error.contains(reason), qPrintable(error));
        return;
    }
    QVERIFY2(mesh, qPrintable(error));
    QCOMPARE(loadedFormat, format);
    QCOMPARE(checkMesh(*mesh), QString());
}

// Load, save at once, load again: the same arrays, positions equal up to the float error of the
// division by the scale.
void TestFiles::roundTrip_data()
{
    QTest::addColumn<Files::Kind>("kind");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("icosphere, binary STL") << Files::Kind::Stl << icosphereSTL(3);
    const TestMeshes::IcosphereData sphere = TestMeshes::icosphereData(2);
    QTest::newRow("icosphere, text STL")
        << Files::Kind::Stl
        << textSTL(facetsOf(sphere.positions,
               std::vector<std::array<int, 3>>(sphere.triangles.begin(), sphere.triangles.end())));
    // Far from the origin and not unit sized, so that scale and centre matter.
    PositionList moved;
    for (const QVector3D &p : cubePositions)
        moved.push_back(p * 37.5f + QVector3D(1000, -250, 3));
    QTest::newRow("moved cube, 3DS")
        << Files::Kind::ThreeDs
        << file3DS(object3DS("Box", vertexList(moved) + faceList(cubeFaces)));
}

void TestFiles::roundTrip()
{
    QFETCH(Files::Kind, kind);
    QFETCH(QByteArray, bytes);
    writeSeed(kind, bytes);

    MeshData original;
    QString error;
    const bool parsed = kind == Files::Kind::Stl ? Files::parseSTL(bytes, original, &error)
                                                 : Files::parse3DS(bytes, original, &error);
    QVERIFY2(parsed, qPrintable(error));

    auto first = Files::loadBytes(kind, bytes, {}, &error);
    QVERIFY2(first, qPrintable(error));
    QCOMPARE(checkMesh(*first), QString());
    const QString path = dir_.filePath(QStringLiteral("round-%1.stl").arg(QTest::currentDataTag()));
    QVERIFY2(Files::saveSTL(*first, path, {}, &error), qPrintable(error));
    const QByteArray saved = readFile(path);
    QCOMPARE(saved.size(), 84 + 50 * first->getNbTriangles());

    auto second = Files::loadSTL(path, {}, &error);
    QVERIFY2(second, qPrintable(error));
    QCOMPARE(checkMesh(*second), QString());
    QCOMPARE(second->getNbTriangles(), first->getNbTriangles());
    QVERIFY(qFuzzyCompare(second->getScale(), first->getScale()));
    // Every corner is where the original file put it, up to single-precision error.
    const IntList corners = cornersOf(*second);
    for (std::size_t c = 0; c < corners.size(); ++c) {
        const QVector3D written = second->getVertex(corners[c]).position / second->getScale();
        const QVector3D expected = original.positions[original.corners[c]];
        const float tolerance = 2e-6f * std::max(1.0f, expected.length());
        QVERIFY2((written - expected).length() <= tolerance,
            qPrintable(
                QStringLiteral("corner %1 off by %2").arg(c).arg((written - expected).length())));
    }
    // From STL, the very same arrays.
    if (kind == Files::Kind::Stl) {
        QCOMPARE(second->getNbVertices(), first->getNbVertices());
        QCOMPARE(corners, cornersOf(*first));
        QCOMPARE(corners, original.corners);
        for (int i = 0; i < second->getNbVertices(); ++i)
            QCOMPARE(second->getVertex(i).triangleIndices, first->getVertex(i).triangleIndices);
    }
}

// Exactly 84 + 50 T bytes, zero header and attributes, unit normals, corners divided by the scale.
void TestFiles::savedFileLayout()
{
    auto mesh = TestMeshes::makeIcosphere(1);
    const QString path = dir_.filePath("layout.stl");
    QString error;
    QVERIFY2(Files::saveSTL(*mesh, path, {}, &error), qPrintable(error));
    const QByteArray b = readFile(path);
    const int t = mesh->getNbTriangles();
    QCOMPARE(b.size(), 84 + 50 * t);
    QCOMPARE(b.left(80), QByteArray(80, '\0'));
    QCOMPARE(qFromLittleEndian<qint32>(b.constData() + 80), t);
    const float k = 1.0f / mesh->getScale();
    auto floatAt = [&](qsizetype offset) {
        return std::bit_cast<float>(qFromLittleEndian<quint32>(b.constData() + offset));
    };
    for (int i = 0; i < t; ++i) {
        const qsizetype at = 84 + 50 * i;
        const Triangle &tri = mesh->getTriangle(i);
        QCOMPARE(QVector3D(floatAt(at), floatAt(at + 4), floatAt(at + 8)), tri.normal);
        const int corners[3] = {tri.vertex1, tri.vertex2, tri.vertex3};
        for (int c = 0; c < 3; ++c) {
            const QVector3D p = mesh->getVertex(corners[c]).position;
            const qsizetype o = at + 12 + 12 * c;
            QCOMPARE(floatAt(o), p.x() * k);
            QCOMPARE(floatAt(o + 4), p.y() * k);
            QCOMPARE(floatAt(o + 8), p.z() * k);
        }
        QCOMPARE(qFromLittleEndian<quint16>(b.constData() + at + 48), quint16(0));
    }
    QCOMPARE(checkMesh(*mesh), QString());
}

// A save that cannot complete reports why and leaves the file that was there as it was, with no
// temporary file left behind.
void TestFiles::failedSaveKeepsOldFile_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("file size limit (a full disk)") << "fsize";
    QTest::newRow("read-only folder") << "readonly";
    QTest::newRow("target is a folder") << "folder";
}

void TestFiles::failedSaveKeepsOldFile()
{
    QFETCH(QString, how);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString path = folder.filePath("model.stl");
    const QByteArray old = "the user's previous model";
    auto mesh = TestMeshes::makeIcosphere(3); // 1280 triangles, 64 kB

    QString error;
    bool saved = true;
    if (how == "folder") {
        QVERIFY(QDir(folder.path()).mkdir("model.stl"));
        saved = Files::saveSTL(*mesh, path, {}, &error);
        QVERIFY(QFileInfo(path).isDir());
    } else {
        QVERIFY(writeFile(path, old));
#ifdef Q_OS_UNIX
        if (how == "fsize") {
            struct rlimit previous;
            QCOMPARE(getrlimit(RLIMIT_FSIZE, &previous), 0);
            struct rlimit limited = previous;
            limited.rlim_cur = 4096;
            auto *oldHandler = std::signal(SIGXFSZ, SIG_IGN);
            QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
            saved = Files::saveSTL(*mesh, path, {}, &error);
            setrlimit(RLIMIT_FSIZE, &previous);
            std::signal(SIGXFSZ, oldHandler);
        } else {
            if (geteuid() == 0)
                QSKIP("permissions do not hold for root");
            QFile::setPermissions(folder.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
            saved = Files::saveSTL(*mesh, path, {}, &error);
            QFile::setPermissions(folder.path(),
                QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        }
#else
        QSKIP("needs a Unix system");
#endif
        QCOMPARE(readFile(path), old);
    }
    QVERIFY(!saved);
    QVERIFY2(error.startsWith("cannot write"), qPrintable(error));
    QVERIFY(!error.contains(u'\n'));
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::NoDotAndDotDot),
        how == "folder" ? QStringList() : QStringList {"model.stl"});
    QCOMPARE(checkMesh(*mesh), QString());
}

QTEST_GUILESS_MAIN(TestFiles)
#include "tst_files.moc"
