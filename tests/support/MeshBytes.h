#pragma once

#include <QByteArray>
#include <QVector3D>
#include <QtEndian>

#include <array>
#include <bit>
#include <optional>
#include <vector>

// Writers of small mesh files in memory, for the reader tests, the command-line tests, the
// benchmarks and the fuzzing seeds. They write what the formats allow, including odd but valid
// variants, and let a test lie in a count or a length on purpose.
namespace MeshBytes {

using IntList = std::vector<int>;
using PositionList = std::vector<QVector3D>;
using Face = std::array<int, 3>;
using FaceList = std::vector<Face>;
using Facet = std::array<QVector3D, 3>;
using FacetList = std::vector<Facet>;

inline void putU16(QByteArray &b, quint16 v)
{
    b.append(reinterpret_cast<const char *>(&(v = qToLittleEndian(v))), 2);
}
inline void putU32(QByteArray &b, quint32 v)
{
    b.append(reinterpret_cast<const char *>(&(v = qToLittleEndian(v))), 4);
}
inline void putFloat(QByteArray &b, float f)
{
    putU32(b, std::bit_cast<quint32>(f));
}
inline void putVector(QByteArray &b, const QVector3D &v)
{
    for (float f : {v.x(), v.y(), v.z()})
        putFloat(b, f);
}
// "x y z" with numbers that read back to the same floats.
inline QByteArray vectorText(const QVector3D &p)
{
    return QByteArray::number(p.x(), 'g', 9) + ' ' + QByteArray::number(p.y(), 'g', 9) + ' '
        + QByteArray::number(p.z(), 'g', 9);
}

// Binary STL. The facet normals are written as given by `normals`; `count` replaces the real
// facet count in the header.
enum class Normals { Correct, Zero, Wrong };
inline QByteArray binarySTL(const FacetList &facets, const QByteArray &header = {},
    Normals normals = Normals::Correct, std::optional<qint32> count = {})
{
    QByteArray b = header.left(80).leftJustified(80, '\0');
    putU32(b, static_cast<quint32>(count.value_or(static_cast<qint32>(facets.size()))));
    for (const Facet &f : facets) {
        putVector(b,
            normals == Normals::Zero        ? QVector3D()
                : normals == Normals::Wrong ? QVector3D(0.0f, 0.0f, -7.0f)
                                            : QVector3D::normal(f[0], f[1], f[2]));
        for (const QVector3D &p : f)
            putVector(b, p);
        putU16(b, 0);
    }
    return b;
}
// Text STL with numbers written to round-trip exactly; `upper` writes the keywords in capitals.
inline QByteArray textSTL(const FacetList &facets, const char *eol = "\n", bool upper = false)
{
    QByteArray b = "solid test part" + QByteArray(eol);
    for (const Facet &f : facets) {
        b += "  facet normal " + vectorText(QVector3D::normal(f[0], f[1], f[2])) + eol
            + "    outer loop" + eol;
        for (const QVector3D &p : f)
            b += "      vertex " + vectorText(p) + eol;
        b += QByteArray("    endloop") + eol + "  endfacet" + eol;
    }
    b += "endsolid test part" + QByteArray(eol);
    return upper ? b.toUpper() : b;
}
// OBJ with "v" and "f" lines (1-based references).
inline QByteArray objText(const PositionList &positions, const FaceList &faces)
{
    QByteArray b;
    for (const QVector3D &p : positions)
        b += "v " + vectorText(p) + '\n';
    for (const Face &f : faces)
        b += QString::asprintf("f %d %d %d\n", f[0] + 1, f[1] + 1, f[2] + 1).toLatin1();
    return b;
}

// 3DS chunks: a chunk is its id, its length (header included) and its payload.
inline QByteArray chunk(quint16 id, const QByteArray &payload)
{
    QByteArray b;
    putU16(b, id);
    putU32(b, static_cast<quint32>(payload.size() + 6));
    return b + payload;
}
inline QByteArray vertexList(const PositionList &positions)
{
    QByteArray b;
    putU16(b, static_cast<quint16>(positions.size()));
    for (const QVector3D &p : positions)
        putVector(b, p);
    return chunk(0x4110, b);
}
inline QByteArray faceList(const FaceList &faces, const QByteArray &subChunks = {})
{
    QByteArray b;
    putU16(b, static_cast<quint16>(faces.size()));
    for (const auto &f : faces)
        for (int v : {f[0], f[1], f[2], 7}) // the corners, then the flags
            putU16(b, static_cast<quint16>(v));
    return chunk(0x4120, b + subChunks);
}
inline QByteArray mappingList(int n)
{
    QByteArray b;
    putU16(b, static_cast<quint16>(n));
    for (int i = 0; i < n; ++i)
        for (float f : {0.25f * i, 0.5f})
            putFloat(b, f);
    return chunk(0x4140, b);
}
// An object block with its name and one triangle mesh holding `meshChunks`.
inline QByteArray object3DS(const QByteArray &name, const QByteArray &meshChunks)
{
    return chunk(0x4000, name + '\0' + chunk(0x4100, meshChunks));
}
// The main chunk with a version chunk, the editor chunk holding `editorChunks`, then `mainExtra`.
inline QByteArray file3DS(const QByteArray &editorChunks, const QByteArray &mainExtra = {})
{
    QByteArray version;
    putU32(version, 3);
    return chunk(0x4D4D, chunk(0x0002, version) + chunk(0x3D3D, editorChunks) + mainExtra);
}

// A unit cube: 8 corners, 12 outward triangles.
inline const PositionList cubePositions = {
    {0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
inline const FaceList cubeFaces = {{0, 2, 1}, {0, 3, 2}, {4, 5, 6}, {4, 6, 7}, {0, 1, 5}, {0, 5, 4},
    {1, 2, 6}, {1, 6, 5}, {2, 3, 7}, {2, 7, 6}, {3, 0, 4}, {3, 4, 7}};
// The unit cube scaled to side 4 and centred on (10, -2, 1), so that a file's units differ from
// those of the mesh read from it: diagonal 4 * sqrt(3).
inline PositionList movedCube()
{
    PositionList out;
    for (const QVector3D &p : cubePositions)
        out.push_back((p - QVector3D(0.5f, 0.5f, 0.5f)) * 4.0f + QVector3D(10, -2, 1));
    return out;
}

inline IntList flatten(const FaceList &faces, int offset = 0)
{
    IntList out;
    for (const auto &f : faces)
        out.insert(out.end(), {f[0] + offset, f[1] + offset, f[2] + offset});
    return out;
}
inline FacetList facetsOf(const PositionList &positions, const FaceList &faces)
{
    FacetList out;
    for (const auto &f : faces)
        out.push_back({positions[f[0]], positions[f[1]], positions[f[2]]});
    return out;
}

} // namespace MeshBytes
