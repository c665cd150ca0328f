#pragma once

// Byte and number reading shared by the mesh file parsers of Files: little-endian values,
// locale-independent numbers, blanks, and the short forms used in their error messages.

#include <QByteArrayView>
#include <QString>
#include <QVector3D>
#include <QtEndian>

#include <bit>
#include <cmath>
#include <cstddef>
#include <limits>

namespace ParseCommon {

// At most this many triangles (and vertices): three corners per triangle must fit an int.
constexpr qint64 maxTriangles = std::numeric_limits<int>::max() / 3;

// Stores the reason in *error (when given) and returns false.
inline bool fail(QString *error, const QString &reason)
{
    if (error)
        *error = reason;
    return false;
}

inline quint16 readU16(const char *p)
{
    return qFromLittleEndian<quint16>(p);
}

inline quint32 readU32(const char *p)
{
    return qFromLittleEndian<quint32>(p);
}

inline float readFloat(const char *p)
{
    return std::bit_cast<float>(readU32(p));
}

inline bool isFinite(const QVector3D &p)
{
    return std::isfinite(p.x()) && std::isfinite(p.y()) && std::isfinite(p.z());
}

inline bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// A short printable rendering of a token for error messages.
QString quoted(QByteArrayView token);

// Reads the longest number at the start of [p, end) the way strtof does, but independent of the
// locale: an optional sign, then a decimal, "inf" or "nan" form. Returns the end of the number,
// or p itself when there is none. Values beyond the float range read as infinity, values below
// it as zero (or a subnormal).
const char *readNumber(const char *p, const char *end, float &value);

// A whole token as a float; false when the token is not exactly one number.
bool tokenToFloat(QByteArrayView token, float &value);

// For a large array that a load is about to fill: backs the whole 2 MB blocks of
// [data, data + bytes) with huge pages where the system allows it, and maps all the pages at
// once, the threads sharing the work, instead of taking a page fault per page as the array is
// written (which costs many times more, in particular in a virtual machine). Memory beyond the
// range (the room an array keeps for growth) is left as it is. No effect on small arrays or
// other systems.
void prefault(const void *data, std::size_t bytes);
// For a mapped file about to be read whole: maps all its pages at once.
void prefaultRead(const void *data, std::size_t bytes);

} // namespace ParseCommon
