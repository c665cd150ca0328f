#include "ParseCommon.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>

#if defined(__linux__)
#include <sys/mman.h>
#endif

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

void prefault(const void *data, std::size_t bytes)
{
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
    constexpr std::uintptr_t page = 4096;
    constexpr std::uintptr_t huge = std::uintptr_t(2) << 20;
    constexpr std::uintptr_t piece = 2 * huge;
    if (bytes < piece)
        return;
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (start + huge - 1) & ~(huge - 1);
    const std::uintptr_t last = (start + bytes) & ~(huge - 1);
#if defined(MADV_HUGEPAGE)
    // A refusal (no transparent huge pages) leaves ordinary pages.
    if (last > first)
        // NOLINTNEXTLINE(performance-no-int-to-ptr): madvise takes page-aligned addresses
        madvise(reinterpret_cast<void *>(first), last - first, MADV_HUGEPAGE);
#endif
    const std::uintptr_t begin = start & ~(page - 1);
    const std::uintptr_t end = (start + bytes + page - 1) & ~(page - 1);
    const auto pieces = static_cast<std::ptrdiff_t>((end - begin + piece - 1) / piece);
    // A refusal (an older kernel) leaves the pages to be faulted in as they are written.
#pragma omp parallel for schedule(dynamic, 1) if (pieces > 2)
    for (std::ptrdiff_t k = 0; k < pieces; ++k) {
        const std::uintptr_t from = begin + static_cast<std::uintptr_t>(k) * piece;
        // NOLINTNEXTLINE(performance-no-int-to-ptr): madvise takes page-aligned addresses
        madvise(reinterpret_cast<void *>(from), std::min(piece, end - from), MADV_POPULATE_WRITE);
    }
#else
    (void)data;
    (void)bytes;
#endif
}

void prefaultRead(const void *data, std::size_t bytes)
{
#if defined(__linux__) && defined(MADV_POPULATE_READ)
    constexpr std::uintptr_t page = 4096;
    const std::uintptr_t begin = reinterpret_cast<std::uintptr_t>(data) & ~(page - 1);
    const std::uintptr_t end =
        (reinterpret_cast<std::uintptr_t>(data) + bytes + page - 1) & ~(page - 1);
    if (bytes >= (std::size_t(1) << 20))
        // NOLINTNEXTLINE(performance-no-int-to-ptr): madvise takes page-aligned addresses
        madvise(reinterpret_cast<void *>(begin), end - begin, MADV_POPULATE_READ);
#else
    (void)data;
    (void)bytes;
#endif
}

bool tokenToFloat(QByteArrayView token, float &value)
{
    const char *end = token.data() + token.size();
    return !token.isEmpty() && readNumber(token.data(), end, value) == end;
}

} // namespace ParseCommon
