#include "Files.h"
#include "SaveCommon.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QtEndian>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

namespace {

const QString parsingMessage = QStringLiteral("Loading : parsing");
const QString readyMessage = QStringLiteral("Argilium");

// At most this many triangles (and vertices): three corners per triangle must fit an int.
constexpr qint64 maxTriangles = std::numeric_limits<int>::max() / 3;

void show(const MessageSink &sink, const QString &text)
{
    if (sink)
        sink(text);
}

bool fail(QString *error, const QString &reason)
{
    if (error)
        *error = reason;
    return false;
}

quint16 readU16(const char *p)
{
    return qFromLittleEndian<quint16>(p);
}

quint32 readU32(const char *p)
{
    return qFromLittleEndian<quint32>(p);
}

float readFloat(const char *p)
{
    return std::bit_cast<float>(readU32(p));
}

bool isFinite(const QVector3D &p)
{
    return std::isfinite(p.x()) && std::isfinite(p.y()) && std::isfinite(p.z());
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// A short printable rendering of a token for error messages.
QString quoted(QByteArrayView token)
{
    QString s;
    const qsizetype n = std::min<qsizetype>(token.size(), 24);
    for (qsizetype i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(token[i]);
        s += (c >= 0x20 && c < 0x7f) ? QChar(c) : QChar(u'?');
    }
    if (token.size() > n)
        s += QStringLiteral("...");
    return u'"' + s + u'"';
}

// Reads the longest number at the start of [p, end) the way strtof does, but independent of the
// locale: an optional sign, then a decimal, "inf" or "nan" form. Returns the end of the number,
// or p itself when there is none. Values beyond the float range read as infinity, values below
// it as zero (or a subnormal).
const char *readNumber(const char *p, const char *end, float &value)
{
    const char *start = p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    // A second sign is not a number ("--1", "+-1").
    if (p < end && (*p == '+' || *p == '-'))
        return start;
    float f = 0.0f;
    auto [ptr, ec] = std::from_chars(p, end, f);
    if (ptr == p)
        return start;
    if (ec == std::errc::result_out_of_range) {
        double d = 0.0;
        auto r = std::from_chars(p, end, d);
        if (r.ec == std::errc::result_out_of_range)
            // Tell overflow from underflow by the exponent's sign.
            d = std::memchr(p, '-', static_cast<std::size_t>(ptr - p)) ? 0.0 : HUGE_VAL;
        f = static_cast<float>(d);
    }
    value = negative ? -f : f;
    return ptr;
}

// A whole token as a float; false when the token is not exactly one number.
bool tokenToFloat(QByteArrayView token, float &value)
{
    const char *end = token.data() + token.size();
    return !token.isEmpty() && readNumber(token.data(), end, value) == end;
}

// How a format is named in messages.
QString formatName(const QString &format)
{
    if (format == QLatin1String("stl"))
        return QStringLiteral("binary STL");
    if (format == QLatin1String("stl-text"))
        return QStringLiteral("text STL");
    if (format == QLatin1String("obj"))
        return QStringLiteral("OBJ");
    if (format == QLatin1String("3ds"))
        return QStringLiteral("3DS");
    return QStringLiteral("mesh file");
}

// ---------------------------------------------------------------------------------------------
// Binary STL

constexpr qsizetype stlHeaderSize = 84;
constexpr qsizetype stlFacetSize = 50;

bool parseBinarySTL(
    QByteArrayView bytes, qint64 n, MeshData &data, QString *error, const ProgressSink &sink)
{
    ProgressReporter progress(sink, n);
    data.format = QStringLiteral("stl");
    data.corners.resize(static_cast<std::size_t>(n) * 3);
    data.positions.reserve(static_cast<std::size_t>(n / 2));
    VertexMap map(static_cast<std::size_t>(n / 2));
    const char *facet = bytes.data() + stlHeaderSize;
    int *corner = data.corners.data();
    // Lookups run a few facets behind the prefetches of their hash slots.
    constexpr qint64 lookahead = 4;
    auto prefetchFacet = [&](const char *f) {
        for (int c = 0; c < 3; ++c) {
            const char *p = f + 12 + 12 * c;
            map.prefetch(QVector3D(readFloat(p), readFloat(p + 4), readFloat(p + 8)));
        }
    };
    for (qint64 i = 0; i < std::min(n, lookahead); ++i)
        prefetchFacet(facet + stlFacetSize * i);
    for (qint64 i = 0; i < n; ++i, facet += stlFacetSize) {
        if (i + lookahead < n)
            prefetchFacet(facet + stlFacetSize * lookahead);
        progress.update(i);
        const char *p = facet + 12; // the facet normal is recomputed from the corners
        for (int c = 0; c < 3; ++c, p += 12) {
            const QVector3D position(readFloat(p), readFloat(p + 4), readFloat(p + 8));
            if (!isFinite(position))
                return fail(error,
                    QStringLiteral("binary STL: facet %1 has a coordinate that is not a finite "
                                   "number")
                        .arg(i));
            *corner++ = Files::findOrAddVertex(position, map, data.positions);
        }
    }
    progress.finish();
    return true;
}

// ---------------------------------------------------------------------------------------------
// Text STL

// Splits text into blank-separated tokens and counts lines for error messages.
class Tokenizer
{
public:
    explicit Tokenizer(QByteArrayView text)
        : p_(text.data())
        , end_(text.data() + text.size())
    { }

    QByteArrayView next()
    {
        skipBlanks();
        const char *start = p_;
        while (p_ < end_ && !isBlank(*p_))
            ++p_;
        return QByteArrayView(start, p_ - start);
    }

    // Skips to the end of the current line (a solid's name).
    void skipLine()
    {
        while (p_ < end_ && *p_ != '\n')
            ++p_;
    }

    bool atEnd()
    {
        skipBlanks();
        return p_ == end_;
    }

    int line() const { return line_; }
    qsizetype remaining() const { return end_ - p_; }

private:
    void skipBlanks()
    {
        while (p_ < end_ && isBlank(*p_)) {
            if (*p_ == '\n')
                ++line_;
            ++p_;
        }
    }

    const char *p_;
    const char *end_;
    int line_ = 1;
};

bool keywordIs(QByteArrayView token, const char *keyword)
{
    return token.compare(QByteArrayView(keyword), Qt::CaseInsensitive) == 0;
}

bool startsWithSolid(QByteArrayView bytes)
{
    qsizetype i = 0;
    while (i < bytes.size() && isBlank(bytes[i]))
        ++i;
    return bytes.size() - i >= 5 && keywordIs(bytes.sliced(i, 5), "solid");
}

bool parseTextSTL(QByteArrayView bytes, MeshData &data, QString *error, const ProgressSink &sink)
{
    ProgressReporter progress(sink, bytes.size());
    data.format = QStringLiteral("stl-text");
    // A facet takes at least ~90 characters; reserve for a typical ~250.
    const std::size_t expected = static_cast<std::size_t>(bytes.size() / 256);
    data.corners.reserve(expected * 3);
    data.positions.reserve(expected / 2);
    VertexMap map(expected / 2);
    Tokenizer tokens(bytes);

    auto expect = [&](QByteArrayView token, const char *keyword) {
        if (keywordIs(token, keyword))
            return true;
        return fail(error,
            QStringLiteral("text STL, line %1: expected \"%2\", found %3")
                .arg(tokens.line())
                .arg(QLatin1String(keyword))
                .arg(token.isEmpty() ? QStringLiteral("the end of the file") : quoted(token)));
    };
    auto number = [&](float &value) {
        const QByteArrayView token = tokens.next();
        if (tokenToFloat(token, value))
            return true;
        return fail(error,
            QStringLiteral("text STL, line %1: expected a number, found %2")
                .arg(tokens.line())
                .arg(token.isEmpty() ? QStringLiteral("the end of the file") : quoted(token)));
    };

    if (!expect(tokens.next(), "solid"))
        return false;
    tokens.skipLine(); // the solid's name
    for (;;) {
        progress.update(bytes.size() - tokens.remaining());
        const QByteArrayView token = tokens.next();
        if (keywordIs(token, "facet")) {
            float ignored;
            if (!expect(tokens.next(), "normal") || !number(ignored) || !number(ignored)
                || !number(ignored))
                return false;
            if (!expect(tokens.next(), "outer") || !expect(tokens.next(), "loop"))
                return false;
            if (data.corners.size() / 3 >= static_cast<std::size_t>(maxTriangles))
                return fail(error, QStringLiteral("text STL: too many facets"));
            for (int c = 0; c < 3; ++c) {
                float x, y, z;
                if (!expect(tokens.next(), "vertex") || !number(x) || !number(y) || !number(z))
                    return false;
                const QVector3D position(x, y, z);
                if (!isFinite(position))
                    return fail(error,
                        QStringLiteral("text STL, line %1: a coordinate is not a finite number")
                            .arg(tokens.line()));
                data.corners.push_back(Files::findOrAddVertex(position, map, data.positions));
            }
            if (!expect(tokens.next(), "endloop") || !expect(tokens.next(), "endfacet"))
                return false;
        } else if (keywordIs(token, "endsolid")) {
            tokens.skipLine();
            if (tokens.atEnd()) {
                progress.finish();
                return true;
            }
            // Several solids in one file are read one after the other; anything else after a
            // complete solid (an end-of-file byte, padding) is left unread.
            if (!keywordIs(tokens.next(), "solid")) {
                progress.finish();
                return true;
            }
            tokens.skipLine();
        } else {
            return fail(error,
                QStringLiteral("text STL, line %1: expected \"facet\" or \"endsolid\", found %2")
                    .arg(tokens.line())
                    .arg(token.isEmpty() ? QStringLiteral("the end of the file (the file is cut "
                                                          "short)")
                                         : quoted(token)));
        }
    }
}

// ---------------------------------------------------------------------------------------------
// OBJ

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

// ---------------------------------------------------------------------------------------------
// 3DS

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

// ---------------------------------------------------------------------------------------------
// Whole files

// The bytes of a file: mapped when possible, read otherwise.
class FileBytes
{
public:
    ~FileBytes()
    {
        if (mapped_)
            file_.unmap(mapped_);
    }

    bool open(const QString &path, QString *error)
    {
        file_.setFileName(path);
        if (QFileInfo(path).isDir())
            return fail(error, QStringLiteral("cannot open \"%1\": it is a folder").arg(path));
        if (!file_.open(QIODevice::ReadOnly))
            return fail(
                error, QStringLiteral("cannot open \"%1\": %2").arg(path, file_.errorString()));
        const qint64 size = file_.size();
        if (size > 0)
            mapped_ = file_.map(0, size);
        if (mapped_) {
            view_ = QByteArrayView(reinterpret_cast<const char *>(mapped_), size);
            return true;
        }
        buffer_ = file_.readAll();
        if (file_.error() != QFileDevice::NoError)
            return fail(
                error, QStringLiteral("cannot read \"%1\": %2").arg(path, file_.errorString()));
        view_ = buffer_;
        return true;
    }

    QByteArrayView view() const { return view_; }

    // Gives the memory back as soon as parsing is done.
    void release()
    {
        if (mapped_)
            file_.unmap(mapped_);
        mapped_ = nullptr;
        buffer_ = QByteArray();
        view_ = QByteArrayView();
        file_.close();
    }

private:
    QFile file_;
    uchar *mapped_ = nullptr;
    QByteArray buffer_;
    QByteArrayView view_;
};

bool parse(Files::Kind kind, QByteArrayView bytes, MeshData &data, QString *error,
    const ProgressSink &progress)
{
    switch (kind) {
    case Files::Kind::Stl:
        return Files::parseSTL(bytes, data, error, progress);
    case Files::Kind::Obj:
        return Files::parseOBJ(bytes, data, error, progress);
    case Files::Kind::ThreeDs:
        return Files::parse3DS(bytes, data, error, progress);
    }
    return fail(error, QStringLiteral("unknown file type"));
}

// Records, then the loading pipeline; "Argilium" at the end. The parsed arrays are released
// once the records are made, before the pipeline needs its own memory.
std::unique_ptr<Mesh> finish(MeshData &&data, const MessageSink &sink, QString *error)
{
    std::unique_ptr<Mesh> mesh = Files::buildMesh(data, error);
    data = MeshData();
    if (!mesh)
        return nullptr;
    mesh->initTopology(sink);
    mesh->initVBO(sink);
    mesh->moveTo(QVector3D(0.0f, 0.0f, 0.0f));
    show(sink, readyMessage);
    return mesh;
}

std::unique_ptr<Mesh> loadFile(Files::Kind kind, const QString &path, const MessageSink &sink,
    QString *error, QString *format, const ProgressSink &progress = {})
{
    show(sink, parsingMessage);
    MeshData data;
    {
        FileBytes file;
        if (!file.open(path, error))
            return nullptr;
        const bool ok = parse(kind, file.view(), data, error, progress);
        if (format)
            *format = data.format;
        if (!ok)
            return nullptr;
    }
    return finish(std::move(data), sink, error);
}

} // namespace

// ---------------------------------------------------------------------------------------------

bool Files::kindFromPath(const QString &path, Kind *kind)
{
    Kind k;
    if (path.endsWith(QLatin1String(".stl"), Qt::CaseInsensitive))
        k = Kind::Stl;
    else if (path.endsWith(QLatin1String(".obj"), Qt::CaseInsensitive))
        k = Kind::Obj;
    else if (path.endsWith(QLatin1String(".3ds"), Qt::CaseInsensitive))
        k = Kind::ThreeDs;
    else
        return false;
    if (kind)
        *kind = k;
    return true;
}

std::unique_ptr<Mesh> Files::load(const QString &path, const MessageSink &sink, QString *error,
    QString *format, const ProgressSink &progress)
{
    Kind kind;
    if (!kindFromPath(path, &kind)) {
        fail(error,
            QStringLiteral("cannot read \"%1\": the name does not end in .stl, .obj or .3ds")
                .arg(path));
        return nullptr;
    }
    return loadFile(kind, path, sink, error, format, progress);
}

std::unique_ptr<Mesh> Files::loadSTL(
    const QString &path, const MessageSink &sink, QString *error, QString *format)
{
    return loadFile(Kind::Stl, path, sink, error, format);
}

std::unique_ptr<Mesh> Files::loadOBJ(const QString &path, const MessageSink &sink, QString *error)
{
    return loadFile(Kind::Obj, path, sink, error, nullptr);
}

std::unique_ptr<Mesh> Files::load3DS(const QString &path, const MessageSink &sink, QString *error)
{
    return loadFile(Kind::ThreeDs, path, sink, error, nullptr);
}

std::unique_ptr<Mesh> Files::loadBytes(Kind kind, QByteArrayView bytes, const MessageSink &sink,
    QString *error, QString *format, const ProgressSink &progress)
{
    show(sink, parsingMessage);
    MeshData data;
    const bool ok = parse(kind, bytes, data, error, progress);
    if (format)
        *format = data.format;
    if (!ok)
        return nullptr;
    return finish(std::move(data), sink, error);
}

bool Files::parseSTL(
    QByteArrayView bytes, MeshData &data, QString *error, const ProgressSink &progress)
{
    data = MeshData();
    const qsizetype size = bytes.size();
    const qint64 n = size >= stlHeaderSize ? static_cast<qint32>(readU32(bytes.data() + 80)) : 0;
    const qint64 needed = stlHeaderSize + stlFacetSize * n;

    if (startsWithSolid(bytes) && !(n > 0 && needed == size)) {
        // Text STL, unless the text reading fails on what is a binary file with a header that
        // begins with "solid" and a few extra bytes after its facets.
        QString textError;
        if (parseTextSTL(bytes, data, &textError, progress))
            return true;
        data = MeshData();
        if (!(n > 0 && n <= maxTriangles && needed <= size))
            return fail(error, textError);
    } else if (size < stlHeaderSize) {
        data.format = QStringLiteral("stl");
        return fail(error,
            QStringLiteral("binary STL: the file has %1 bytes, fewer than the 84 of its header")
                .arg(size));
    } else if (n <= 0) {
        data.format = QStringLiteral("stl");
        return fail(error,
            QStringLiteral("binary STL: the file holds no triangle (facet count "
                           "%1)")
                .arg(n));
    } else if (needed > size) {
        data.format = QStringLiteral("stl");
        return fail(error,
            QStringLiteral("binary STL: the header announces %1 facets, which take %2 bytes, but "
                           "the file has %3 bytes")
                .arg(n)
                .arg(needed)
                .arg(size));
    } else if (n > maxTriangles) {
        data.format = QStringLiteral("stl");
        return fail(error, QStringLiteral("binary STL: too many facets (%1)").arg(n));
    }
    // Bytes after the last facet, if any, are ignored.
    return parseBinarySTL(bytes, n, data, error, progress);
}

bool Files::parseOBJ(
    QByteArrayView bytes, MeshData &data, QString *error, const ProgressSink &progress)
{
    data = MeshData();
    return parseOBJLines(bytes, data, error, progress);
}

bool Files::parse3DS(
    QByteArrayView bytes, MeshData &data, QString *error, const ProgressSink &progress)
{
    data = MeshData();
    return parse3DSChunks(bytes, data, error, progress);
}

std::unique_ptr<Mesh> Files::buildMesh(const MeshData &data, QString *error)
{
    const std::vector<QVector3D> &positions = data.positions;
    const std::vector<int> &corners = data.corners;
    const QString what = formatName(data.format);
    if (corners.empty() || positions.empty()) {
        fail(error, QStringLiteral("%1: the file holds no triangle").arg(what));
        return nullptr;
    }
    if (corners.size() % 3 != 0 || corners.size() / 3 > static_cast<std::size_t>(maxTriangles)
        || positions.size() > static_cast<std::size_t>(maxTriangles)) {
        fail(error, QStringLiteral("%1: too many vertices or triangles").arg(what));
        return nullptr;
    }
    const int vertexCount = static_cast<int>(positions.size());
    const int triangleCount = static_cast<int>(corners.size() / 3);
    std::vector<int> valence(positions.size(), 0);
    for (int c : corners) {
        if (c < 0 || c >= vertexCount) {
            fail(error,
                QStringLiteral("%1: a triangle names vertex %2, which does not exist")
                    .arg(what)
                    .arg(c));
            return nullptr;
        }
        ++valence[static_cast<std::size_t>(c)];
    }

    // The pipeline scales the model to a fixed diagonal; refuse what it cannot scale.
    QVector3D low = positions.front();
    QVector3D high = low;
    float largest = 0.0f;
    for (const QVector3D &p : positions) {
        for (int k = 0; k < 3; ++k) {
            low[k] = std::min(low[k], p[k]);
            high[k] = std::max(high[k], p[k]);
            largest = std::max(largest, std::fabs(p[k]));
        }
    }
    const float diagonal = (high - low).length();
    if (diagonal == 0.0f) {
        fail(error, QStringLiteral("%1: all the vertices are at one point").arg(what));
        return nullptr;
    }
    const float scale = 500.0f / diagonal;
    if (!std::isfinite(diagonal) || !std::isfinite(scale) || !std::isfinite(largest * scale)) {
        fail(error,
            QStringLiteral("%1: the model's size (diagonal %2) cannot be scaled for display")
                .arg(what)
                .arg(double(diagonal)));
        return nullptr;
    }

    // Records are made in parallel (each iteration writes only its own record); the
    // triangle lists are then filled in triangle order, into room reserved to the exact size.
    auto mesh = std::make_unique<Mesh>();
    mesh->reserveRecords(positions.size(), corners.size() / 3);
    std::vector<Vertex> &vertices = mesh->getVertices();
    vertices.resize(positions.size(), Vertex(QVector3D(), -1));
#pragma omp parallel for schedule(static)
    for (int i = 0; i < vertexCount; ++i) {
        Vertex &v = vertices[i];
        v.position = positions[static_cast<std::size_t>(i)];
        v.id = i;
        v.triangleIndices.reserve(static_cast<std::size_t>(valence[i]));
    }
    std::vector<int>().swap(valence);

    std::vector<Triangle> &triangles = mesh->getTriangles();
    triangles.resize(
        static_cast<std::size_t>(triangleCount), Triangle(QVector3D(), -1, -1, -1, -1));
#pragma omp parallel for schedule(static)
    for (int t = 0; t < triangleCount; ++t) {
        const int *c = corners.data() + 3 * static_cast<std::size_t>(t);
        Triangle &tri = triangles[t];
        tri.normal = QVector3D::normal(positions[c[0]], positions[c[1]], positions[c[2]]);
        tri.vertex1 = c[0];
        tri.vertex2 = c[1];
        tri.vertex3 = c[2];
        tri.id = t;
    }
    const int *c = corners.data();
    for (int t = 0; t < triangleCount; ++t, c += 3) {
        vertices[c[0]].addTriangle(t);
        vertices[c[1]].addTriangle(t);
        vertices[c[2]].addTriangle(t);
    }
    return mesh;
}

// ---------------------------------------------------------------------------------------------

bool Files::saveSTL(const Mesh &mesh, const QString &path, const MessageSink &sink, QString *error)
{
    QSaveFile file(path);
    if (!SaveCommon::start(mesh, file, path, sink, error))
        return false;

    const std::vector<Vertex> &vertices = mesh.getVertices();
    const std::vector<Triangle> &triangles = mesh.getTriangles();

    // Written in blocks of whole facets through one buffer.
    constexpr qsizetype facetsPerBlock = 1 << 14;
    QByteArray block(stlHeaderSize + stlFacetSize * facetsPerBlock, Qt::Uninitialized);
    char *out = block.data();
    std::memset(out, 0, 80);
    qToLittleEndian<qint32>(static_cast<qint32>(triangles.size()), out + 80);
    out += stlHeaderSize;

    auto flush = [&]() {
        const qsizetype size = out - block.data();
        out = block.data();
        return file.write(block.constData(), size) == size;
    };
    auto putFloat = [&](float f) {
        qToLittleEndian<quint32>(std::bit_cast<quint32>(f), out);
        out += 4;
    };
    const float k = 1.0f / mesh.getScale();
    const char *blockEnd = block.constData() + block.size();
    bool ok = true;
    for (const Triangle &t : triangles) {
        if (blockEnd - out < stlFacetSize && !(ok = flush()))
            break;
        putFloat(t.normal.x());
        putFloat(t.normal.y());
        putFloat(t.normal.z());
        for (int v : {t.vertex1, t.vertex2, t.vertex3}) {
            const QVector3D &p = vertices[static_cast<std::size_t>(v)].position;
            putFloat(p.x() * k);
            putFloat(p.y() * k);
            putFloat(p.z() * k);
        }
        *out++ = 0;
        *out++ = 0;
    }
    if (ok)
        ok = flush();
    return SaveCommon::finish(file, ok, path, sink, error);
}
