// The OBJ reader and writer of Files.

#include "Files.h"
#include "ParseCommon.h"
#include "SaveCommon.h"
#include "VertexMap.h"

#include <QSaveFile>

#include <charconv>
#include <cstring>

using ParseCommon::fail;
using ParseCommon::isBlank;
using ParseCommon::isFinite;
using ParseCommon::maxTriangles;
using ParseCommon::quoted;
using ParseCommon::readNumber;

namespace {

// One line at a time; the line excludes its line feed.
class LineReader
{
public:
    explicit LineReader(QByteArrayView text)
        : p_(text.data())
        , end_(text.data() + text.size())
    { }

    bool next(QByteArrayView &line)
    {
        if (p_ == end_)
            return false;
        const void *nl = std::memchr(p_, '\n', static_cast<std::size_t>(end_ - p_));
        const char *stop = nl ? static_cast<const char *>(nl) : end_;
        line = QByteArrayView(p_, stop - p_);
        p_ = nl ? stop + 1 : end_;
        ++number_;
        return true;
    }

    int number() const { return number_; }

private:
    const char *p_;
    const char *end_;
    int number_ = 0;
};

// The leading decimal integer of a face word ("7", "7/2", "7//3", "7/2/3" all give 7).
// False when the word does not begin with an integer or the integer does not fit an int.
bool leadingInteger(QByteArrayView word, qint64 &value)
{
    const char *p = word.data();
    const char *end = p + word.size();
    if (p < end && *p == '+')
        ++p;
    if (p < end && *p == '+')
        return false;
    int v = 0;
    auto [ptr, ec] = std::from_chars(p, end, v);
    if (ptr == p || ec != std::errc())
        return false;
    value = v;
    return true;
}

bool parseOBJLines(QByteArrayView bytes, MeshData &data, QString *error, const ProgressSink &sink)
{
    ProgressReporter progress(sink, bytes.size());
    data.format = QStringLiteral("obj");

    // First pass: count vertex and face lines to reserve the arrays once.
    qint64 vertexLines = 0;
    qint64 faceLines = 0;
    {
        LineReader lines(bytes);
        QByteArrayView line;
        while (lines.next(line)) {
            if (line.size() >= 2 && line[1] == ' ') {
                vertexLines += line[0] == 'v';
                faceLines += line[0] == 'f';
            }
        }
    }
    if (vertexLines > maxTriangles || faceLines * 2 > maxTriangles)
        return fail(error, QStringLiteral("OBJ: too many vertices or faces"));
    data.positions.reserve(static_cast<std::size_t>(vertexLines));
    data.corners.reserve(static_cast<std::size_t>(faceLines) * 3);

    LineReader lines(bytes);
    QByteArrayView line;
    while (lines.next(line)) {
        progress.update(line.data() - bytes.data());
        if (line.size() < 2 || line[1] != ' ')
            continue;
        const char *p = line.data() + 2;
        const char *end = line.data() + line.size();
        if (line[0] == 'v') {
            // Up to three numbers, each starting where the previous one stopped; a missing
            // number reads as 0 and so does everything after it.
            float xyz[3] = {0.0f, 0.0f, 0.0f};
            for (float &coordinate : xyz) {
                while (p < end && isBlank(*p))
                    ++p;
                const char *after = readNumber(p, end, coordinate);
                if (after == p)
                    break;
                p = after;
            }
            const QVector3D position(xyz[0], xyz[1], xyz[2]);
            if (!isFinite(position))
                return fail(error,
                    QStringLiteral("OBJ, line %1: a vertex coordinate is not a finite number")
                        .arg(lines.number()));
            data.positions.push_back(position);
        } else if (line[0] == 'f') {
            QByteArrayView words[4];
            int count = 0;
            while (count < 4) {
                while (p < end && isBlank(*p))
                    ++p;
                if (p == end)
                    break;
                const char *start = p;
                while (p < end && !isBlank(*p))
                    ++p;
                words[count++] = QByteArrayView(start, p - start);
            }
            if (count < 3)
                return fail(error,
                    QStringLiteral("OBJ, line %1: a face needs at least three corners, it has %2")
                        .arg(lines.number())
                        .arg(count));
            const qint64 known = static_cast<qint64>(data.positions.size());
            int index[4];
            int corners = 3;
            for (int w = 0; w < count; ++w) {
                qint64 reference = 0;
                if (!leadingInteger(words[w], reference)) {
                    if (w == 3)
                        break; // a fourth word that is no number does not make a quad
                    return fail(error,
                        QStringLiteral("OBJ, line %1: face corner %2 does not name a vertex")
                            .arg(lines.number())
                            .arg(quoted(words[w])));
                }
                const qint64 i = reference > 0 ? reference - 1 : known + reference;
                if (reference == 0 || i < 0 || i >= known)
                    return fail(error,
                        QStringLiteral("OBJ, line %1: face names vertex %2, which does not exist "
                                       "(%3 vertices read so far)")
                            .arg(lines.number())
                            .arg(reference)
                            .arg(known));
                index[w] = static_cast<int>(i);
                corners = w + 1;
            }
            data.corners.insert(data.corners.end(), {index[0], index[1], index[2]});
            // A quad is split along the diagonal from its first to its third corner.
            if (corners == 4)
                data.corners.insert(data.corners.end(), {index[0], index[2], index[3]});
        }
    }
    weldEqualPositions(data.positions, data.corners);
    progress.finish();
    return true;
}

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

bool Files::parseOBJ(
    QByteArrayView bytes, MeshData &data, QString *error, const ProgressSink &progress)
{
    data = MeshData();
    return parseOBJLines(bytes, data, error, progress);
}

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
