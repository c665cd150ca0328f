// The OBJ writer of Files, and the writer chosen by a file's name.

#include "Files.h"
#include "SaveCommon.h"

#include <QSaveFile>

#include <charconv>

namespace {

// Text of a float that reads back to the same float (the shortest such form).
void appendFloat(QByteArray &out, float value)
{
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    out.append(text, result.ptr - text);
}

void appendInt(QByteArray &out, qint64 value)
{
    char text[24];
    const auto result = std::to_chars(text, text + sizeof text, value);
    out.append(text, result.ptr - text);
}

} // namespace

bool Files::saveOBJ(const Mesh &mesh, const QString &path, const MessageSink &sink, QString *error)
{
    QSaveFile file(path);
    if (!SaveCommon::start(mesh, file, path, sink, error))
        return false;

    const std::vector<Vertex> &vertices = mesh.getVertices();
    const std::vector<Triangle> &triangles = mesh.getTriangles();
    const int vertexCount = static_cast<int>(vertices.size());

    // Lines are gathered in a buffer that is written whenever it passes a megabyte.
    constexpr qsizetype flushSize = 1 << 20;
    QByteArray buffer;
    buffer.reserve(flushSize + 256);
    bool ok = true;
    auto flush = [&]() {
        if (ok && !buffer.isEmpty())
            ok = file.write(buffer) == buffer.size();
        buffer.clear();
        return ok;
    };

    buffer.append("# Argilium: ");
    appendInt(buffer, vertexCount);
    buffer.append(" vertices, ");
    appendInt(buffer, static_cast<qint64>(triangles.size()));
    buffer.append(" triangles\n");

    // The same factor as the STL writer, so that both formats hold the same numbers.
    const float k = 1.0f / mesh.getScale();
    for (const Vertex &v : vertices) {
        buffer.append("v ");
        appendFloat(buffer, v.position.x() * k);
        buffer.append(' ');
        appendFloat(buffer, v.position.y() * k);
        buffer.append(' ');
        appendFloat(buffer, v.position.z() * k);
        buffer.append('\n');
        if (buffer.size() >= flushSize && !flush())
            break;
    }
    for (const Triangle &t : triangles) {
        if (!ok)
            break;
        buffer.append("f ");
        appendInt(buffer, t.vertex1 + 1);
        buffer.append(' ');
        appendInt(buffer, t.vertex2 + 1);
        buffer.append(' ');
        appendInt(buffer, t.vertex3 + 1);
        buffer.append('\n');
        if (buffer.size() >= flushSize)
            flush();
    }
    flush();
    return SaveCommon::finish(file, ok, path, sink, error);
}

bool Files::save(const Mesh &mesh, const QString &path, const MessageSink &sink, QString *error)
{
    if (path.endsWith(QLatin1String(".obj"), Qt::CaseInsensitive))
        return saveOBJ(mesh, path, sink, error);
    return saveSTL(mesh, path, sink, error);
}
