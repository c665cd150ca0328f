// The 3DS reader of Files.

#include "Files.h"
#include "ParseCommon.h"
#include "VertexMap.h"

#include <cstring>

using ParseCommon::fail;
using ParseCommon::isFinite;
using ParseCommon::maxTriangles;
using ParseCommon::readFloat;
using ParseCommon::readU16;
using ParseCommon::readU32;

namespace {

constexpr quint16 chunkMain = 0x4D4D;
constexpr quint16 chunkEditor = 0x3D3D;
constexpr quint16 chunkObject = 0x4000;
constexpr quint16 chunkTriangleMesh = 0x4100;
constexpr quint16 chunkVertexList = 0x4110;
constexpr quint16 chunkFaceList = 0x4120;
constexpr quint16 chunkMapping = 0x4140;
constexpr qsizetype chunkHeaderSize = 6;

QString chunkName(quint16 id, qsizetype offset)
{
    return QStringLiteral("3DS: chunk 0x%1 at offset %2")
        .arg(id, 4, 16, QLatin1Char('0'))
        .arg(offset);
}

// Walks the chunk tree without recursion. Chunks that hold chunks are entered; the vertex,
// face and mapping lists are read and whatever follows their data inside their chunk is walked
// as sub-chunks; every other chunk is skipped by its length. Each length must be at least a
// header and stay inside its parent (the file for top-level chunks). Several triangle meshes are
// appended one after the other: a face list's indices count from the first vertex of the
// triangle mesh that holds it.
bool parse3DSChunks(QByteArrayView bytes, MeshData &data, QString *error, const ProgressSink &sink)
{
    ProgressReporter progress(sink, bytes.size());
    data.format = QStringLiteral("3ds");
    const char *base = bytes.data();
    const qsizetype fileEnd = bytes.size();
    std::vector<qsizetype> parentEnds;
    qsizetype pos = 0;
    qsizetype meshBase = 0; // first vertex of the current triangle mesh
    for (;;) {
        progress.update(pos);
        qsizetype end = parentEnds.empty() ? fileEnd : parentEnds.back();
        while (pos == end && !parentEnds.empty()) {
            parentEnds.pop_back();
            end = parentEnds.empty() ? fileEnd : parentEnds.back();
        }
        if (end - pos < chunkHeaderSize) {
            // A tail too short to hold a chunk header: nothing more to read in this parent.
            if (parentEnds.empty()) {
                weldEqualPositions(data.positions, data.corners);
                progress.finish();
                return true;
            }
            pos = end;
            continue;
        }
        const quint16 id = readU16(base + pos);
        const quint32 length = readU32(base + pos + 2);
        if (length < chunkHeaderSize)
            return fail(error,
                chunkName(id, pos)
                    + QStringLiteral(" has a length of %1, less than its own "
                                     "header")
                          .arg(length));
        if (static_cast<qsizetype>(length) > end - pos)
            return fail(error,
                chunkName(id, pos)
                    + QStringLiteral(" is %1 bytes long but only %2 bytes remain in %3")
                          .arg(length)
                          .arg(end - pos)
                          .arg(parentEnds.empty() ? QStringLiteral("the file")
                                                  : QStringLiteral("its parent chunk")));
        const qsizetype chunkEnd = pos + length;
        const qsizetype dataStart = pos + chunkHeaderSize;
        const char *d = base + dataStart;
        const qsizetype room = chunkEnd - dataStart;
        switch (id) {
        case chunkMain:
        case chunkEditor:
        case chunkTriangleMesh:
            if (id == chunkTriangleMesh)
                meshBase = static_cast<qsizetype>(data.positions.size());
            parentEnds.push_back(chunkEnd);
            pos = dataStart;
            break;
        case chunkObject: {
            const void *zero = std::memchr(d, 0, static_cast<std::size_t>(room));
            if (!zero)
                return fail(error,
                    chunkName(id, pos)
                        + QStringLiteral(": the object's name "
                                         "has no end"));
            parentEnds.push_back(chunkEnd);
            pos = static_cast<const char *>(zero) + 1 - base;
            break;
        }
        case chunkVertexList:
        case chunkFaceList:
        case chunkMapping: {
            // Vertices are three floats; faces four 16-bit values; mapping pairs two floats.
            const qsizetype recordSize = id == chunkVertexList ? 12 : 8;
            if (room < 2)
                return fail(error,
                    chunkName(id, pos)
                        + QStringLiteral(" has no room for its "
                                         "count"));
            const quint16 n = readU16(d);
            if (2 + n * recordSize > room)
                return fail(error,
                    chunkName(id, pos)
                        + QStringLiteral(" announces %1 records but has room for %2")
                              .arg(n)
                              .arg((room - 2) / recordSize));
            const char *r = d + 2;
            if (id == chunkVertexList) {
                if (data.positions.size() + n > static_cast<std::size_t>(maxTriangles))
                    return fail(error, QStringLiteral("3DS: too many vertices"));
                for (int i = 0; i < n; ++i, r += 12) {
                    const QVector3D position(readFloat(r), readFloat(r + 4), readFloat(r + 8));
                    if (!isFinite(position))
                        return fail(error,
                            chunkName(id, pos)
                                + QStringLiteral(": vertex %1 has a coordinate that is not a "
                                                 "finite number")
                                      .arg(i));
                    data.positions.push_back(position);
                }
            } else if (id == chunkFaceList) {
                if (data.corners.size() / 3 + n > static_cast<std::size_t>(maxTriangles))
                    return fail(error, QStringLiteral("3DS: too many faces"));
                const qsizetype known = static_cast<qsizetype>(data.positions.size()) - meshBase;
                for (int i = 0; i < n; ++i, r += 8) {
                    for (int c = 0; c < 3; ++c) {
                        const quint16 v = readU16(r + 2 * c);
                        if (v >= known)
                            return fail(error,
                                chunkName(id, pos)
                                    + QStringLiteral(": face %1 names vertex %2 but its mesh "
                                                     "has %3 vertices")
                                          .arg(i)
                                          .arg(v)
                                          .arg(known));
                        data.corners.push_back(static_cast<int>(meshBase + v));
                    }
                    // The fourth value, the face's flags, is not used.
                }
            }
            // Whatever follows the records inside the chunk (smoothing groups, material
            // groups) is walked as sub-chunks.
            parentEnds.push_back(chunkEnd);
            pos = dataStart + 2 + n * recordSize;
            break;
        }
        default:
            pos = chunkEnd;
            break;
        }
    }
}

} // namespace

bool Files::parse3DS(
    QByteArrayView bytes, MeshData &data, QString *error, const ProgressSink &progress)
{
    data = MeshData();
    return parse3DSChunks(bytes, data, error, progress);
}
