#pragma once

// What every benchmark program shares: memory and processor-time readings, statistics over a
// list of samples, and the JSON line that reports one measurement:
// {"name", "size" (triangles), "median", "min", "max", "unit", "peak_rss_mb", ...extra fields}.

#include <QByteArray>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

namespace Bench {

// Peak resident set size of this process in MiB (VmHWM), or -1 where it cannot be read.
inline double peakRssMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1.0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return -1.0;
}

// Processor time of the whole process (all threads), in milliseconds.
inline double cpuMs()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

struct Stats
{
    double median = 0.0;
    double min = 0.0;
    double max = 0.0;
};

inline Stats stats(std::vector<double> values)
{
    if (values.empty())
        return {};
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
    return {median, values.front(), values.back()};
}

inline double rounded(double value, int decimals)
{
    double scale = 1.0;
    for (int i = 0; i < decimals; ++i)
        scale *= 10.0;
    return std::round(value * scale) / scale;
}

// Prints one measurement as a JSON line (flushed, so that a crash later loses nothing).
inline void report(const QString &name, int size, const Stats &s, const QString &unit,
    double peakMb, const QJsonObject &extra = {})
{
    QJsonObject o = extra;
    o.insert(QStringLiteral("name"), name);
    o.insert(QStringLiteral("size"), size);
    o.insert(QStringLiteral("median"), rounded(s.median, 3));
    o.insert(QStringLiteral("min"), rounded(s.min, 3));
    o.insert(QStringLiteral("max"), rounded(s.max, 3));
    o.insert(QStringLiteral("unit"), unit);
    o.insert(QStringLiteral("peak_rss_mb"), rounded(peakMb, 1));
    std::printf("%s\n", QJsonDocument(o).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
}

// "--levels 5,7,8" style list of integers.
inline std::vector<int> intList(const QString &text)
{
    std::vector<int> values;
    for (const QString &item : text.split(u',', Qt::SkipEmptyParts))
        values.push_back(item.toInt());
    return values;
}

} // namespace Bench
