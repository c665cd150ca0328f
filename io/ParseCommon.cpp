#include "ParseCommon.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace ParseCommon {

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

bool tokenToFloat(QByteArrayView token, float &value)
{
    const char *end = token.data() + token.size();
    return !token.isEmpty() && readNumber(token.data(), end, value) == end;
}

} // namespace ParseCommon
