// The STL readers of Files (binary and text) and the binary STL writer.

#include "Files.h"
#include "ParseCommon.h"
#include "SaveCommon.h"

#include <QSaveFile>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>

using ParseCommon::fail;
using ParseCommon::isBlank;
using ParseCommon::isFinite;
using ParseCommon::maxTriangles;
using ParseCommon::quoted;
using ParseCommon::readU32;
using ParseCommon::tokenToFloat;

namespace {

// Binary STL

constexpr qsizetype stlHeaderSize = 84;
constexpr qsizetype stlFacetSize = 50;

bool parseBinarySTL(
    QByteArrayView bytes, qint64 n, MeshData &data, QString *error, const ProgressSink &sink)
{
    data.format = QStringLiteral("stl");
    const char *facets = bytes.data() + stlHeaderSize;
    const auto corners = static_cast<std::size_t>(n) * 3;
    data.corners.reserve(corners);
    ParseCommon::prefault(data.corners.data(), corners * sizeof(int));
    data.corners.resize(corners);
    // The facet normal is recomputed from the corners. The merge reads every corner: the first
    // one with a coordinate that is NaN or infinite (all exponent bits set) is noted on the way,
    // and then the file is refused.
    std::atomic<std::size_t> bad = corners;
    auto position = [facets, &bad](std::size_t c) {
        const char *p = facets + stlFacetSize * static_cast<qsizetype>(c / 3) + 12 + 12 * (c % 3);
        const quint32 x = readU32(p), y = readU32(p + 4), z = readU32(p + 8);
        constexpr quint32 exponent = 0x7f800000u;
        if ((x & exponent) == exponent || (y & exponent) == exponent || (z & exponent) == exponent)
            [[unlikely]] {
            std::size_t first = bad.load(std::memory_order_relaxed);
            while (c < first && !bad.compare_exchange_weak(first, c, std::memory_order_relaxed)) { }
        }
        return QVector3D(std::bit_cast<float>(x), std::bit_cast<float>(y), std::bit_cast<float>(z));
    };
    mergeEqualPositions(corners, position, data.corners.data(), data.positions,
        static_cast<std::size_t>(n / 2), sink);
    if (bad < corners)
        return fail(error,
            QStringLiteral("binary STL: facet %1 has a coordinate that is not a finite number")
                .arg(bad / 3));
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

} // namespace

bool Files::parseSTL(
    QByteArrayView bytes, MeshData &data, QString *error, const ProgressSink &progress)
{
    data = MeshData();
    const qsizetype size = bytes.size();
    const qint64 n = size >= stlHeaderSize ? static_cast<qint32>(readU32(bytes.data() + 80)) : 0;
    const qint64 needed = stlHeaderSize + stlFacetSize * n;
    // A binary file that is first tried as text would see its percents start again from 0:
    // only rising percents reach the caller.
    int reached = -1;
    ProgressSink rising;
    if (progress) {
        rising = [&](int percent) {
            if (percent > reached) {
                reached = percent;
                progress(percent);
            }
        };
    }

    if (startsWithSolid(bytes) && !(n > 0 && needed == size)) {
        // Text STL, unless the text reading fails on what is a binary file with a header that
        // begins with "solid" and a few extra bytes after its facets.
        QString textError;
        if (parseTextSTL(bytes, data, &textError, rising))
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
    return parseBinarySTL(bytes, n, data, error, rising);
}

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
