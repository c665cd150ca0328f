#pragma once

#include <QByteArray>
#include <QVector3D>

#include <array>
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

void putFloat(QByteArray &b, float f);
void putU16(QByteArray &b, quint16 v);
void putU32(QByteArray &b, quint32 v);
void putVector(QByteArray &b, const QVector3D &v);

// Binary STL. The facet normals are written as given by `normals`; `count` replaces the real
// facet count in the header.
enum class Normals { Correct, Zero, Wrong };
QByteArray binarySTL(const FacetList &facets, const QByteArray &header = {},
    Normals normals = Normals::Correct, std::optional<qint32> count = {});
// Text STL with numbers written to round-trip exactly; `upper` writes the keywords in capitals.
QByteArray textSTL(const FacetList &facets, const char *eol = "\n", bool upper = false);
// OBJ with "v" and "f" lines (1-based references).
QByteArray objText(const PositionList &positions, const FaceList &faces);

// 3DS chunks: a chunk is its id, its length (header included) and its payload.
QByteArray chunk(quint16 id, const QByteArray &payload);
QByteArray vertexList(const PositionList &positions);
QByteArray faceList(const FaceList &faces, const QByteArray &subChunks = {});
QByteArray mappingList(int n);
// An object block with its name and one triangle mesh holding `meshChunks`.
QByteArray object3DS(const QByteArray &name, const QByteArray &meshChunks);
// The main chunk with a version chunk, the editor chunk holding `editorChunks`, then `mainExtra`.
QByteArray file3DS(const QByteArray &editorChunks, const QByteArray &mainExtra = {});

// A unit cube: 8 corners, 12 outward triangles.
extern const PositionList cubePositions;
extern const FaceList cubeFaces;
// The unit cube scaled to side 4 and centred on (10, -2, 1), so that a file's units differ from
// those of the mesh read from it: diagonal 4 * sqrt(3).
PositionList movedCube();

IntList flatten(const FaceList &faces, int offset = 0);
FacetList facetsOf(const PositionList &positions, const FaceList &faces);

} // namespace MeshBytes
