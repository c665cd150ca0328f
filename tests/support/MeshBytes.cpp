#include "MeshBytes.h"

#include <QtEndian>

#include <bit>

namespace MeshBytes {

namespace {

// "x y z" with numbers that read back to the same floats.
QByteArray text(const QVector3D &p)
{
    return QByteArray::number(p.x(), 'g', 9) + ' ' + QByteArray::number(p.y(), 'g', 9) + ' '
        + QByteArray::number(p.z(), 'g', 9);
}

} // namespace

void putFloat(QByteArray &b, float f)
{
    putU32(b, std::bit_cast<quint32>(f));
}

void putU16(QByteArray &b, quint16 v)
{
    b.append(reinterpret_cast<const char *>(&(v = qToLittleEndian(v))), 2);
}

void putU32(QByteArray &b, quint32 v)
{
    b.append(reinterpret_cast<const char *>(&(v = qToLittleEndian(v))), 4);
}

void putVector(QByteArray &b, const QVector3D &v)
{
    for (float f : {v.x(), v.y(), v.z()})
        putFloat(b, f);
}

QByteArray binarySTL(
    const FacetList &facets, const QByteArray &header, Normals normals, std::optional<qint32> count)
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

QByteArray textSTL(const FacetList &facets, const char *eol, bool upper)
{
    QByteArray b = "solid test part" + QByteArray(eol);
    for (const Facet &f : facets) {
        b += "  facet normal " + text(QVector3D::normal(f[0], f[1], f[2])) + eol + "    outer loop"
            + eol;
        for (const QVector3D &p : f)
            b += "      vertex " + text(p) + eol;
        b += QByteArray("    endloop") + eol + "  endfacet" + eol;
    }
    b += "endsolid test part" + QByteArray(eol);
    return upper ? b.toUpper() : b;
}

QByteArray chunk(quint16 id, const QByteArray &payload)
{
    QByteArray b;
    putU16(b, id);
    putU32(b, static_cast<quint32>(payload.size() + 6));
    return b + payload;
}

QByteArray vertexList(const PositionList &positions)
{
    QByteArray b;
    putU16(b, static_cast<quint16>(positions.size()));
    for (const QVector3D &p : positions)
        putVector(b, p);
    return chunk(0x4110, b);
}

QByteArray faceList(const FaceList &faces, const QByteArray &subChunks)
{
    QByteArray b;
    putU16(b, static_cast<quint16>(faces.size()));
    for (const auto &f : faces)
        for (int v : {f[0], f[1], f[2], 7}) // the corners, then the flags
            putU16(b, static_cast<quint16>(v));
    return chunk(0x4120, b + subChunks);
}

QByteArray mappingList(int n)
{
    QByteArray b;
    putU16(b, static_cast<quint16>(n));
    for (int i = 0; i < n; ++i) {
        putFloat(b, 0.25f * i);
        putFloat(b, 0.5f);
    }
    return chunk(0x4140, b);
}

QByteArray object3DS(const QByteArray &name, const QByteArray &meshChunks)
{
    return chunk(0x4000, name + '\0' + chunk(0x4100, meshChunks));
}

QByteArray file3DS(const QByteArray &editorChunks, const QByteArray &mainExtra)
{
    QByteArray version;
    putU32(version, 3);
    return chunk(0x4D4D, chunk(0x0002, version) + chunk(0x3D3D, editorChunks) + mainExtra);
}

const PositionList cubePositions = {
    {0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
const FaceList cubeFaces = {{0, 2, 1}, {0, 3, 2}, {4, 5, 6}, {4, 6, 7}, {0, 1, 5}, {0, 5, 4},
    {1, 2, 6}, {1, 6, 5}, {2, 3, 7}, {2, 7, 6}, {3, 0, 4}, {3, 4, 7}};

IntList flatten(const FaceList &faces, int offset)
{
    IntList out;
    for (const auto &f : faces)
        out.insert(out.end(), {f[0] + offset, f[1] + offset, f[2] + offset});
    return out;
}

PositionList movedCube()
{
    PositionList out;
    for (const QVector3D &p : cubePositions)
        out.push_back((p - QVector3D(0.5f, 0.5f, 0.5f)) * 4.0f + QVector3D(10, -2, 1));
    return out;
}

FacetList facetsOf(const PositionList &positions, const FaceList &faces)
{
    FacetList out;
    for (const auto &f : faces)
        out.push_back({positions[f[0]], positions[f[1]], positions[f[2]]});
    return out;
}

QByteArray objText(const PositionList &positions, const FaceList &faces)
{
    QByteArray b;
    b.reserve(static_cast<qsizetype>(positions.size() * 40 + faces.size() * 24));
    for (const QVector3D &p : positions)
        b += "v " + text(p) + '\n';
    for (const Face &f : faces)
        b += QString::asprintf("f %d %d %d\n", f[0] + 1, f[1] + 1, f[2] + 1).toLatin1();
    return b;
}

} // namespace MeshBytes
