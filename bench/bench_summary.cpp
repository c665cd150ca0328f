// Summary of a benchmark run: reads the JSON lines that the benchmark programs printed (from
// the files given, or standard input), and prints one table row per measurement, with the
// target that applies to it and whether it was met. Lines that are not JSON objects are skipped.
//
//   bench_summary [FILE...]

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <cstdio>
#include <optional>
#include <vector>

namespace {

// A limit on the median and, optionally, on the maximum of one measurement at one size.
struct Target
{
    const char *name;
    int size;
    double median;
    double max; // 0: no limit on the maximum
};

constexpr int largest = 1310720;
const Target targets[] = {
    {"load binary STL", largest, 350.0, 0.0},
    {"load OBJ", largest, 2000.0, 0.0},
    {"pick", largest, 0.5, 0.0},
    {"stroke inflate static", largest, 0.5, 0.0},
    {"stroke smooth static", largest, 0.6, 0.0},
    {"stroke flatten static", largest, 0.6, 0.0},
    {"stroke sweep static", largest, 1.5, 0.0},
    {"stroke inflate uniform", largest, 5.0, 25.0},
    {"stroke inflate adaptive", largest, 8.0, 25.0},
    {"undo inflate uniform", largest, 400.0, 0.0},
    {"redo inflate uniform", largest, 400.0, 0.0},
    {"memory", largest, 200.0, 0.0},
};

std::optional<Target> targetOf(const QString &name, int size)
{
    for (const Target &t : targets) {
        if (name == QLatin1String(t.name) && size == t.size)
            return t;
    }
    return std::nullopt;
}

QString number(double value)
{
    return QString::number(value, 'g', value >= 1000.0 ? 7 : 4);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList files = app.arguments().mid(1);
    QByteArray input;
    if (files.isEmpty()) {
        QFile in;
        if (in.open(stdin, QIODevice::ReadOnly))
            input = in.readAll();
    }
    for (const QString &path : files) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "bench_summary: cannot read %s\n", qPrintable(path));
            return 1;
        }
        input += f.readAll() + '\n';
    }

    std::printf("%-28s %9s %10s %10s %10s %-11s %8s  %s\n", "measurement", "size", "median", "min",
        "max", "unit", "peak MB", "target");
    int met = 0;
    int missed = 0;
    for (const QByteArray &line : input.split('\n')) {
        const QJsonDocument doc = QJsonDocument::fromJson(line.trimmed());
        if (!doc.isObject())
            continue;
        const QJsonObject o = doc.object();
        const QString name = o.value(QStringLiteral("name")).toString();
        const int size = o.value(QStringLiteral("size")).toInt();
        const double median = o.value(QStringLiteral("median")).toDouble();
        const double max = o.value(QStringLiteral("max")).toDouble();
        QString verdict;
        if (const std::optional<Target> t = targetOf(name, size)) {
            const bool ok = median <= t->median && (t->max <= 0.0 || max <= t->max);
            verdict = QStringLiteral("median <= %1").arg(number(t->median));
            if (t->max > 0.0)
                verdict += QStringLiteral(", max <= %1").arg(number(t->max));
            verdict += ok ? QStringLiteral(": met") : QStringLiteral(": MISSED");
            ++(ok ? met : missed);
        }
        std::printf("%-28s %9d %10s %10s %10s %-11s %8s  %s\n", qPrintable(name), size,
            qPrintable(number(median)),
            qPrintable(number(o.value(QStringLiteral("min")).toDouble())), qPrintable(number(max)),
            qPrintable(o.value(QStringLiteral("unit")).toString()),
            qPrintable(number(o.value(QStringLiteral("peak_rss_mb")).toDouble())),
            qPrintable(verdict));
    }
    if (met + missed > 0)
        std::printf("\ntargets: %d met, %d missed\n", met, missed);
    return 0;
}
