// Mesh files: the readers' exact arrays and the progress of a load, damaged files and every prefix
// of them, the STL merge against a sorted set, and the writers' round trips and layout with saves
// that fail without harm.

#include "MeshBytes.h"
#include "TestIo.h"
#include "TestMeshes.h"
#include "io/Files.h"
#include "mesh/MeshCheck.h"

#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <csignal>
#include <cstring>
#include <functional>
#include <random>
#include <set>

#include <sys/resource.h>
#include <unistd.h>

using namespace MeshBytes;
using namespace TestIo;

namespace {

const float notANumber = std::numeric_limits<float>::quiet_NaN();
const auto stl = Files::Kind::Stl, obj = Files::Kind::Obj, tds = Files::Kind::ThreeDs;

// The same floats, bit for bit (-0 differs from 0).
bool sameBits(const PositionList &a, const PositionList &b)
{
    return a.size() == b.size()
        && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(a[0])) == 0);
}

// The corners of the mesh's triangles, in order.
IntList cornersOf(const Mesh &mesh)
{
    IntList corners;
    for (const Triangle &t : mesh.getTriangles())
        corners.insert(corners.end(), {t.vertex1, t.vertex2, t.vertex3});
    return corners;
}

// Each kind's file ending and reader, in the order of Files::Kind.
const char *const endings[] = {"stl", "obj", "3ds"};
bool (*const parsers[])(QByteArrayView, MeshData &, QString *, const ProgressSink &) = {
    Files::parseSTL, Files::parseOBJ, Files::parse3DS};

// With ARGILIUM_FUZZ_SEEDS set to a folder, every file a reader test reads is also written there
// (one sub-folder per reader), as seeds for the fuzzing corpus.
void writeSeed(Files::Kind kind, const QByteArray &bytes)
{
    const QString root = qEnvironmentVariable("ARGILIUM_FUZZ_SEEDS");
    static int count = 0;
    if (!root.isEmpty() && QDir(root).mkpath(endings[int(kind)]))
        writeFile(QDir(root).filePath(QStringLiteral("%1/%2").arg(endings[int(kind)]).arg(count++)),
            bytes);
}

} // namespace

class TestFiles : public QObject
{
    Q_OBJECT

    QTemporaryDir dir_;

private slots:
    // The file positions exactly as read (before the pipeline scales them) and the corners of the
    // triangles in order; the mesh loaded through the file's name (its ending in any case) has
    // exactly those arrays, each vertex listing its triangles in triangle order, and the load
    // reported its percents rising from 0 to 100.
    void readers()
    {
        const QVector3D a(0, 0, 0), b(1, 0, 0), c(0, 1, 0), d(0, 0, 1);
        const FacetList two = {{a, b, c}, {c, b, d}};
        const PositionList abcd = {a, b, c, d};
        const IntList twoCorners = {0, 1, 2, 2, 1, 3};
        const QByteArray four = "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 0 1\n";
        const QByteArray material("\xef\xbe\xad\xde", 4),
            smoothing = QByteArray("\1\0\0\0", 4).repeated(12);
        const QByteArray extras = chunk(0xAFFF, chunk(0xA000, "red\0"_qba) + material)
            + chunk(0x4600, material) + chunk(0x4700, material);
        const QByteArray cube = vertexList(cubePositions) + mappingList(8)
            + faceList(cubeFaces, chunk(0x4130, "red\0\x01\0\0\0"_qba) + chunk(0x4150, smoothing));
        const auto join = [](auto x, const auto &y) {
            return x.insert(x.end(), y.begin(), y.end()), x;
        };
        const std::tuple<Files::Kind, QByteArray, QString, PositionList, IntList> cases[] = {
            // stl: merged by first appearance, wrong normals
            {stl, binarySTL(two, {}, Normals::Wrong), "stl", abcd, twoCorners},
            // stl: header beginning with solid, bytes after the last facet
            {stl, binarySTL(two, "solid two") + "\n\n", "stl", abcd, twoCorners},
            // stl text: CR LF, capitals, two solids
            {stl, textSTL({two[0]}, "\r\n", true) + textSTL({two[1]}), "stl-text", abcd,
                twoCorners},
            // stl text: padding after endsolid is left unread
            {stl, textSTL(two) + QByteArray("\x1a\0\0\0", 4), "stl-text", abcd, twoCorners},
            // stl text: exponents, signs, -0, NaN normal
            {stl,
                QByteArray("solid\nfacet normal nan 0 1\nouter loop\nvertex 0 0 0\nvertex 1e0 +0 "
                           "-0\nvertex -0.0 1.0E+00 0\nendloop\nendfacet\nendsolid\n"),
                "stl-text", {a, QVector3D(1, 0, -0.0f), QVector3D(-0.0f, 1, 0)}, {0, 1, 2}},
            // obj: negative references count from the face line; a quad
            {obj, QByteArray("v 0 0 0\nv 1 0 0\nv 0 1 0\nf -3 -2 -1\nv 0 0 1\nf -4 -3 -2 -1\n"),
                "obj", abcd, {0, 1, 2, 0, 1, 2, 0, 2, 3}},
            // obj: texture and normal indices, pentagon keeps four corners
            {obj, four + "v 1 1 1\nf 1/1/1 2/2/2 3/3/3\nf 1//1 3//3 4//4 5//5 2//2\n", "obj",
                {a, b, c, d, {1, 1, 1}}, {0, 1, 2, 0, 2, 3, 0, 3, 4}},
            // obj: other lines change nothing
            {obj,
                "# comment\nmtllib m.mtl\no thing\ng group\ns 1\nvn 0 0 1\nvt 0.5 0.5\nv\t9 9 9\n  "
                "v 9 "
                "9 9\nvp 1\nf\t1 2 3\n"
                    + four + "f 1 2 3 # triangle\nl 1 2\n",
                "obj", abcd, {0, 1, 2}},
            // obj: missing or bad coordinates, w, equal positions, CR LF, no last line feed
            {obj,
                QByteArray("v 1.5 2\r\nv 1 0 0 1\r\nv 0 1 x 3\r\nv 1.5 2 0\r\nf 1 2 3\r\nf 4 3 2"),
                "obj", {{1.5f, 2, 0}, b, c}, {0, 1, 2, 0, 2, 1}},
            // 3ds: materials, light, camera, keyframes, mapping and groups are skipped
            {tds, file3DS(extras + object3DS("Box", cube) + extras, chunk(0xB000, extras)), "3ds",
                cubePositions, flatten(cubeFaces)},
            // 3ds: two objects, the file ending after the second's faces
            {tds,
                chunk(0x4D4D,
                    chunk(0x3D3D,
                        object3DS("A", cube)
                            + object3DS("B", vertexList(movedCube()) + faceList(cubeFaces)))),
                "3ds", join(cubePositions, movedCube()),
                join(flatten(cubeFaces), flatten(cubeFaces, 8))},
        };
        for (const auto &[kind, bytes, format, positions, corners] : cases) {
            writeSeed(kind, bytes);
            MeshData data;
            QString error, loadedFormat;
            QVERIFY2(parsers[int(kind)](bytes, data, &error, {}), qPrintable(error));
            QVERIFY(data.format == format && data.corners == corners
                && sameBits(data.positions, positions));
            const QString path = dir_.filePath("r." + QString(endings[int(kind)]).toUpper());
            QList<int> percents;
            std::unique_ptr<Mesh> mesh = writeFile(path, bytes)
                ? Files::load(path, {}, &error, &loadedFormat, [&](int p) { percents << p; })
                : nullptr;
            // Percents rising also for a binary file beginning with "solid", first tried as text.
            QVERIFY2(mesh && loadedFormat == format && percents.size() > 1 && percents.first() == 0
                    && percents.last() == 100
                    && std::adjacent_find(percents.begin(), percents.end(), std::greater_equal<>())
                        == percents.end(),
                qPrintable(error));
            QCOMPARE(cornersOf(*mesh), corners);
            for (const Vertex &v : mesh->getVertices()) // the lists' contents: checkMesh
                QVERIFY(std::is_sorted(v.triangleIndices.begin(), v.triangleIndices.end()));
            QCOMPARE(checkMesh(*mesh), QString());
        }
    }

    // No mesh and a one-line reason (a part of the expected message), given before the pipeline;
    // every prefix of the file gives no mesh or a sound one, without reading out of bounds; a
    // name with none of the three endings, or a folder, is refused before anything is read, and a
    // damaged file read through its name as from memory.
    void damagedFiles()
    {
        const FacetList facets = facetsOf(cubePositions, cubeFaces);
        const QByteArray text = textSTL(facets);
        const QVector3D a(0, 0, 0), b(1, 0, 0), c(0, 1, 0);
        const QByteArray three = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
        const QByteArray cube = vertexList(cubePositions) + faceList(cubeFaces);
        const QByteArray good = file3DS(object3DS("Box", cube));
        // The main chunk's length 3; the vertex list's 500, beyond its mesh; 100 vertices in a list
        // with room for one.
        QByteArray shortLength = good, pastParent = good, lying = vertexList({{1, 2, 3}});
        qToLittleEndian<quint32>(3, shortLength.data() + 2);
        qToLittleEndian<quint32>(
            500, pastParent.data() + good.indexOf(vertexList(cubePositions)) + 2);
        lying[6] = 100;
        const std::tuple<Files::Kind, QByteArray, QString> cases[] = {
            // Binary STL: empty, negative and huge counts, NaN, one point, too large to scale.
            {stl, QByteArray(), "fewer than the 84"},
            {stl, binarySTL(facets, {}, Normals::Correct, -5), "no triangle"},
            {stl, binarySTL(facets, {}, Normals::Correct, 0x7fffffff),
                "announces 2147483647 facets"},
            {stl, binarySTL({{a, b, c}, {a, QVector3D(notANumber, 0, 0), c}}),
                "facet 1 has a coordinate that is not a finite number"},
            {stl, binarySTL({{b, b, b}}), "at one point"},
            {stl, binarySTL({{QVector3D(-3e38f, 0, 0), QVector3D(3e38f, 0, 0), c}}),
                "cannot be scaled"},
            // Text STL: no endsolid, a bad number, four corners, an overflowing coordinate.
            {stl, text.left(text.lastIndexOf("endsolid")), "cut short"},
            {stl, QByteArray(text).replace("vertex 0 0 0", "vertex 0 0,5 0"),
                "expected a number, found \"0,5\""},
            {stl, QByteArray(text).replace("endloop", "vertex 1 1 0\nendloop"),
                "line 7: expected \"endloop\""},
            {stl, QByteArray(text).replace("vertex 0 0 0", "vertex 1e39 0 0"),
                "a coordinate is not a finite number"},
            // OBJ: vertices only, reference 0, not a number, two corners, NaN.
            {obj, three, "no triangle"},
            {obj, three + "f 0 1 2\n", "line 4: face names vertex 0"},
            {obj, three + "f 1 two 3\n", "corner \"two\" does not name a vertex"},
            {obj, three + "f 1 2\n", "at least three corners, it has 2"},
            {obj, three + "v nan 0 0\nf 1 2 3\n",
                "line 4: a vertex coordinate is not a finite number"},
            // 3DS: truncated, chunk lengths below a header or past the parent, faces naming missing
            // vertices (also those of another object), counts larger than the chunk or cut off, an
            // unterminated name, NaN.
            {tds, good.left(good.size() - 10), "chunk 0x4d4d at offset 0 is"},
            {tds, shortLength, "length of 3, less than its own header"},
            {tds, pastParent, "remain in its parent chunk"},
            {tds,
                file3DS(
                    object3DS("Box", vertexList(cubePositions) + faceList({{0, 1, 2}, {0, 8, 2}}))),
                "face 1 names vertex 8 but its mesh has 8 vertices"},
            {tds, file3DS(object3DS("A", cube) + object3DS("B", faceList(cubeFaces))),
                "has 0 vertices"},
            {tds, file3DS(object3DS("Box", lying)), "announces 100 records but has room for 1"},
            {tds, file3DS(object3DS("Box", chunk(0x4120, "\x01"_qba))), "no room for its count"},
            {tds, file3DS(chunk(0x4000, "Box")), "name has no end"},
            {tds,
                file3DS(object3DS("Box",
                    vertexList({a, b, QVector3D(0, notANumber, 0)}) + faceList({{0, 1, 2}}))),
                "vertex 2 has a coordinate that is not a finite number"},
        };
        for (const auto &[kind, bytes, reason] : cases) {
            writeSeed(kind, bytes);
            QStringList messages;
            QString error, format;
            QVERIFY(!Files::loadBytes(
                kind, bytes, [&](const QString &m) { messages << m; }, &error, &format));
            QVERIFY2(error.contains(reason) && !error.contains(u'\n'),
                qPrintable(reason + " / " + error));
            QCOMPARE(messages, QStringList {"Loading : parsing"});
            for (qsizetype n = 0; n < std::min<qsizetype>(bytes.size(), 400); ++n)
                if (std::unique_ptr<Mesh> part = Files::loadBytes(kind, bytes.left(n), {}, &error))
                    QVERIFY2(checkMesh(*part).isEmpty(), qPrintable(reason));
        }
        QVERIFY(QDir(dir_.path()).mkpath("folder.stl") && writeFile(dir_.filePath("a.ply"), text)
            && writeFile(dir_.filePath("a.obj"), three + "f 1 2\n"));
        for (const auto &[name, reason] : {std::pair {"a.ply", "does not end in .stl"},
                 {"folder.stl", "it is a folder"}, {"a.obj", "it has 2"}}) {
            QString error;
            QVERIFY(!Files::load(dir_.filePath(name), {}, &error) && error.contains(reason));
        }
    }

    // The STL reader's hash map merges exactly like a sorted set ordered by position: same
    // vertices, in the same order of first appearance, same corner indices. The coordinates come
    // from a small pool, so that many corners repeat, with neighbours one bit apart, both zeros
    // and denormals.
    void mergeMatchesSortedSet()
    {
        for (int distinct : {4, 40}) {
            std::mt19937 random(distinct);
            const float tiny = std::numeric_limits<float>::denorm_min();
            std::vector<float> pool = {0.0f, -0.0f, tiny, -tiny};
            while (int(pool.size()) < distinct) {
                const float f = std::uniform_real_distribution<float>(-10.0f, 10.0f)(random);
                pool.insert(pool.end(), {f, std::nextafter(f, 100.0f), std::nextafter(f, -100.0f)});
            }
            std::uniform_int_distribution<std::size_t> pick(0, pool.size() - 1);
            FacetList facets(10000);
            std::set<Vertex> seen;
            PositionList positions;
            IntList corners;
            for (Facet &f : facets)
                for (QVector3D &p : f) {
                    p = QVector3D(pool[pick(random)], pool[pick(random)], pool[pick(random)]);
                    const auto [it, added] = seen.insert(Vertex(p, int(positions.size())));
                    if (added)
                        positions.push_back(p);
                    corners.push_back(it->id);
                }
            MeshData data;
            QVERIFY(Files::parseSTL(binarySTL(facets), data) && data.corners == corners
                && sameBits(data.positions, positions));
        }
    }

    // Written, read back: the very floats written (the positions divided by the scale, which puts
    // a file's mesh back in the file's units and place), the same triangles; for STL the layout:
    // zero header, the count, the triangles' normals, zero attributes. OBJ keeps the vertex array
    // as it is. The writer is chosen by the name; the meshes are the moved cube of a file, and an
    // icosphere with moved vertices and a degenerate triangle, as edits may leave the arrays.
    // A save that cannot complete (a file size limit as on a full disk, for each writer; a
    // read-only folder; a folder in the way; a triangle naming a missing vertex) reports why in
    // one line and leaves the file that was there as it was, with no temporary file left behind.
    void saves()
    {
        struct rlimit previous;
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &previous), 0);
        const struct rlimit limited = {4096, previous.rlim_max};
        auto *handler = std::signal(SIGXFSZ, SIG_IGN);
        const QByteArray old = "the user's previous model";
        const auto rwx = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
        const PositionList cube = movedCube();
        for (const auto &[name, edited, how] :
            {std::tuple<QString, bool, QString> {"a.stl", false, ""}, {"a.OBJ", false, ""},
                {"b.stl", true, ""}, {"b.obj", true, ""}, {"no ending", false, ""},
                {"c.stl", true, "fsize"}, {"c.obj", true, "fsize"}, {"c.stl", true, "readonly"},
                {"c.stl", true, "folder"}, {"c.obj", true, "vertex 99999"}}) {
            if (how == "readonly" && geteuid() == 0)
                continue; // permissions do not hold for root
            QTemporaryDir folder;
            const QString path = folder.filePath(name);
            std::unique_ptr<Mesh> m =
                edited ? TestMeshes::makeIcosphere(3) : TestMeshes::meshFromArrays(cube, cubeFaces);
            for (int i = 0; edited && i < m->getNbVertices(); i += 7)
                m->getVertex(i).position *= 1.25f;
            if (edited)
                m->getTriangle(0).vertex2 = m->getTriangle(0).vertex1;
            if (how == "vertex 99999")
                m->getTriangle(2).vertex3 = 99999;
            QVERIFY(how == "folder" ? QDir(folder.path()).mkdir(name) : writeFile(path, old));
            QVERIFY(how != "fsize" || setrlimit(RLIMIT_FSIZE, &limited) == 0);
            QFile::setPermissions(
                folder.path(), how == "readonly" ? rwx & ~QFileDevice::WriteOwner : rwx);
            QStringList messages;
            QString error;
            const bool saved = Files::save(
                *m, path, [&](const QString &text) { messages << text; }, &error);
            setrlimit(RLIMIT_FSIZE, &previous);
            QFile::setPermissions(folder.path(), rwx);
            QVERIFY2(saved == how.isEmpty() && messages == QStringList({"Save", "Argilium"})
                    && error.contains(how == "vertex 99999" ? how
                            : how.isEmpty()                 ? ""
                                                            : "cannot write")
                    && !error.contains(u'\n'),
                qPrintable(error));
            QCOMPARE(QDir(folder.path()).entryList(QDir::Files),
                how == "folder" ? QStringList() : QStringList {name});
            const QByteArray bytes = readFile(path);
            if (!how.isEmpty()) {
                QCOMPARE(bytes, how == "folder" ? QByteArray() : old);
                continue;
            }
            const bool isObj = path.endsWith(".obj", Qt::CaseInsensitive);
            MeshData data;
            QVERIFY2(parsers[int(isObj ? obj : stl)](bytes, data, &error, {}), qPrintable(error));
            const IntList corners = cornersOf(*m);
            QCOMPARE(data.corners.size(), corners.size());
            PositionList written, expected;
            for (std::size_t c = 0; c < corners.size(); ++c) {
                written.push_back(data.positions[data.corners[c]]);
                expected.push_back(m->getVertex(corners[c]).position * (1.0f / m->getScale()));
                QVERIFY(edited || (written.back() - cube[corners[c]]).length() <= 1e-5f);
            }
            // OBJ: the same vertex array; STL: zero header, the count, each triangle's normal,
            // corners and zero attribute.
            QByteArray layout(80, '\0');
            putU32(layout, m->getNbTriangles());
            for (const Triangle &t : m->getTriangles()) {
                putVector(layout, t.normal);
                layout += bytes.mid(layout.size(), 36); // the corners, compared above
                putU16(layout, 0);
            }
            QVERIFY(sameBits(written, expected)
                && (isObj ? data.corners == corners
                            && int(data.positions.size()) == m->getNbVertices()
                            && bytes.startsWith("# Argilium") && bytes.endsWith('\n')
                          : bytes == layout));
        }
        std::signal(SIGXFSZ, handler);
    }
};

QTEST_GUILESS_MAIN(TestFiles)
#include "tst_files.moc"
