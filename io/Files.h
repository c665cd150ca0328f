#pragma once

#include "io/Progress.h"
#include "io/VertexMap.h"
#include "mesh/Mesh.h"

#include <QByteArrayView>
#include <QString>
#include <QVector3D>

#include <memory>
#include <vector>

// Positions and triangles as a parser read them, before Vertex and Triangle records are built.
struct MeshData
{
    std::vector<QVector3D> positions;
    std::vector<int> corners; // three vertex indices per triangle, in winding order
    QString format; // "stl", "stl-text", "obj" or "3ds"
};

// Mesh file reading and writing. Stateless: every operation is static.
//
// Readers work on the whole file in memory (mapped when possible). They hand back a new Mesh that
// went through the loading pipeline (initTopology, initVBO, moveTo(origin)), or no mesh and a
// one-line reason in *error. Progress texts go to the optional sink: "Loading : parsing", the
// pipeline's own, then "Argilium"; saving shows "Save" then "Argilium". The optional progress
// sink receives the parsing's progress in percent, from 0 to 100.
class Files
{
public:
    enum class Kind { Stl, Obj, ThreeDs };

    // Picks the reader by the file name's ending (".stl", ".obj", ".3ds", in any case).
    static std::unique_ptr<Mesh> load(const QString &path, const MessageSink &sink = {},
        QString *error = nullptr, QString *format = nullptr, const ProgressSink &progress = {});
    // Binary STL, or text STL for a file that begins with "solid" and whose size does not match
    // its facet count. *format receives "stl" or "stl-text".
    static std::unique_ptr<Mesh> loadSTL(const QString &path, const MessageSink &sink = {},
        QString *error = nullptr, QString *format = nullptr);
    static std::unique_ptr<Mesh> loadOBJ(
        const QString &path, const MessageSink &sink = {}, QString *error = nullptr);
    static std::unique_ptr<Mesh> load3DS(
        const QString &path, const MessageSink &sink = {}, QString *error = nullptr);
    // The same readers over bytes already in memory (tests, fuzzing).
    static std::unique_ptr<Mesh> loadBytes(Kind kind, QByteArrayView bytes,
        const MessageSink &sink = {}, QString *error = nullptr, QString *format = nullptr,
        const ProgressSink &progress = {});
    // The reader for a file name, false when the ending is none of the three.
    static bool kindFromPath(const QString &path, Kind *kind);

    // Binary STL: 80 zero bytes, the triangle count, then per triangle its normal, its three
    // corners divided by the mesh's scale, and a zero attribute. Writes a temporary file beside
    // the target and renames it over the target only once everything was written, so a failed
    // save leaves an existing file as it was. Returns false with the reason in *error.
    static bool saveSTL(const Mesh &mesh, const QString &path, const MessageSink &sink = {},
        QString *error = nullptr);
    // OBJ: a "v" line per vertex (its position divided by the mesh's scale) and an "f" line per
    // triangle (1-based, in winding order), through a temporary file like saveSTL. Shared
    // vertices stay shared, so the file reads back to the same vertices and triangles.
    static bool saveOBJ(const Mesh &mesh, const QString &path, const MessageSink &sink = {},
        QString *error = nullptr);
    // OBJ for a name ending in ".obj" (in any case), binary STL for any other name.
    static bool save(const Mesh &mesh, const QString &path, const MessageSink &sink = {},
        QString *error = nullptr);

    // Parsers: fill `data` (cleared first) or return false with a reason. They never read outside
    // `bytes`, check every count against the room the bytes have, and refuse coordinates that are
    // NaN or infinite. Vertex references are checked against the vertices read so far. Corners
    // at exactly equal positions become one vertex (0.0 equal to -0.0) in every format, so that
    // a surface that an exporter split at its seams stays one surface.
    // The optional progress sink hears from 0 to 100 percent of the bytes read.
    static bool parseSTL(QByteArrayView bytes, MeshData &data, QString *error = nullptr,
        const ProgressSink &progress = {});
    static bool parseOBJ(QByteArrayView bytes, MeshData &data, QString *error = nullptr,
        const ProgressSink &progress = {});
    static bool parse3DS(QByteArrayView bytes, MeshData &data, QString *error = nullptr,
        const ProgressSink &progress = {});

    // The merging step of the STL reader: the index of the vertex at exactly this position,
    // appended to `positions` when it is met for the first time (indices follow first appearance).
    static int findOrAddVertex(
        const QVector3D &position, VertexMap &map, std::vector<QVector3D> &positions)
    {
        return map.findOrAdd(position, positions);
    }

    // Vertex and Triangle records from parsed data, without the pipeline: vertex ids equal their
    // indices, and each vertex lists its triangles in triangle order. Normals are left zero, for
    // the pipeline to compute (initTopology from the scaled corners, initVBO for the vertices).
    // Null with a reason when the data cannot make a mesh: no triangle, a corner naming a missing
    // vertex, all vertices at one point, or a size that cannot be scaled.
    static std::unique_ptr<Mesh> buildMesh(const MeshData &data, QString *error = nullptr);
};
