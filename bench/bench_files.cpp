// Mesh file benchmark: loads generated icospheres (binary STL, text STL, OBJ) through the
// readers and the loading pipeline without a GPU, and saves binary STL.
//
//   bench_files [--levels 7,8] [--runs N] [--dir DIR]
//
// Every measurement runs in a child process of its own (this program started again with
// --child), so that the peak resident memory reported is that of a process doing nothing but
// that one load or save. One JSON object per line:
// {"name", "size" (triangles), "median_ms", "min_ms", "max_ms", "peak_rss_mb"}, plus "cpu_ms", the
// median processor time of the process (all threads) over the same span, which tells how much of
// a wall time came from waiting on a busy machine.

#include "MeshBytes.h"
#include "TestMeshes.h"
#include "io/Files.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

// Peak resident set size of this process, in MB (VmHWM), or -1 where it cannot be read.
double peakRssMb()
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

double cpuMs()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Child: one load (or one load then a timed save); prints "milliseconds cpu_ms peak_mb".
int child(const QStringList &args)
{
    const QString mode = args.value(0);
    const QString path = args.value(1);
    QString error;
    QElapsedTimer timer;
    timer.start();
    double cpu = cpuMs();
    std::unique_ptr<Mesh> mesh = Files::load(path, {}, &error);
    double ms = timer.nsecsElapsed() / 1e6;
    cpu = cpuMs() - cpu;
    if (!mesh) {
        std::fprintf(stderr, "bench_files: %s\n", qPrintable(error));
        return 1;
    }
    if (mode == QLatin1String("save")) {
        timer.restart();
        cpu = cpuMs();
        if (!Files::saveSTL(*mesh, args.value(2), {}, &error)) {
            std::fprintf(stderr, "bench_files: %s\n", qPrintable(error));
            return 1;
        }
        ms = timer.nsecsElapsed() / 1e6;
        cpu = cpuMs() - cpu;
    }
    std::printf("%.3f %.3f %.1f\n", ms, cpu, peakRssMb());
    return 0;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

struct Sample
{
    double ms;
    double cpuMs;
    double peakMb;
};

bool runChild(const QStringList &args, Sample &sample)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QCoreApplication::applicationFilePath(), QStringList {"--child"} + args);
    if (!process.waitForFinished(-1) || process.exitCode() != 0)
        return false;
    const QList<QByteArray> fields = process.readAllStandardOutput().trimmed().split(' ');
    if (fields.size() != 3)
        return false;
    sample = {fields[0].toDouble(), fields[1].toDouble(), fields[2].toDouble()};
    return true;
}

void report(const QString &name, int size, std::vector<Sample> samples)
{
    std::sort(samples.begin(), samples.end(),
        [](const Sample &a, const Sample &b) { return a.ms < b.ms; });
    const std::size_t n = samples.size();
    const double median =
        n % 2 ? samples[n / 2].ms : (samples[n / 2 - 1].ms + samples[n / 2].ms) / 2.0;
    double peak = 0.0;
    std::vector<double> cpu;
    for (const Sample &s : samples) {
        peak = std::max(peak, s.peakMb);
        cpu.push_back(s.cpuMs);
    }
    std::sort(cpu.begin(), cpu.end());
    const double cpuMedian = n % 2 ? cpu[n / 2] : (cpu[n / 2 - 1] + cpu[n / 2]) / 2.0;
    QJsonObject o;
    o.insert(QStringLiteral("name"), name);
    o.insert(QStringLiteral("size"), size);
    o.insert(QStringLiteral("median_ms"), qRound(median * 10) / 10.0);
    o.insert(QStringLiteral("min_ms"), qRound(samples.front().ms * 10) / 10.0);
    o.insert(QStringLiteral("max_ms"), qRound(samples.back().ms * 10) / 10.0);
    o.insert(QStringLiteral("peak_rss_mb"), qRound(peak * 10) / 10.0);
    o.insert(QStringLiteral("cpu_ms"), qRound(cpuMedian * 10) / 10.0);
    std::printf("%s\n", QJsonDocument(o).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.value(0) == QLatin1String("--child"))
        return child(args.mid(1));

    QList<int> levels = {7, 8};
    int runs = 5;
    QString dirPath;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--levels") && i + 1 < args.size()) {
            levels.clear();
            for (const QString &l : args[++i].split(u','))
                levels << l.toInt();
        } else if (args[i] == QLatin1String("--runs") && i + 1 < args.size()) {
            runs = std::max(1, args[++i].toInt());
        } else if (args[i] == QLatin1String("--dir") && i + 1 < args.size()) {
            dirPath = args[++i];
        } else {
            std::fprintf(stderr, "usage: bench_files [--levels 7,8] [--runs N] [--dir DIR]\n");
            return 2;
        }
    }
    QTemporaryDir temporary;
    if (dirPath.isEmpty())
        dirPath = temporary.path();
    const QDir dir(dirPath);

    for (int level : levels) {
        const QString stl = dir.filePath(QStringLiteral("sphere%1.stl").arg(level));
        const QString text = dir.filePath(QStringLiteral("sphere%1-text.stl").arg(level));
        const QString obj = dir.filePath(QStringLiteral("sphere%1.obj").arg(level));
        int triangles = 0;
        {
            const TestMeshes::IcosphereData data = TestMeshes::icosphereData(level);
            triangles = static_cast<int>(data.triangles.size());
            const MeshBytes::FaceList faces(data.triangles.begin(), data.triangles.end());
            const MeshBytes::FacetList facets = MeshBytes::facetsOf(data.positions, faces);
            if (!writeFile(stl, MeshBytes::binarySTL(facets))
                || !writeFile(text, MeshBytes::textSTL(facets))
                || !writeFile(obj, MeshBytes::objText(data.positions, faces))) {
                std::fprintf(stderr, "bench_files: cannot write into %s\n", qPrintable(dirPath));
                return 1;
            }
        }
        const struct
        {
            const char *name;
            QString path;
        } loads[] = {{"load binary STL", stl}, {"load text STL", text}, {"load OBJ", obj}};
        for (const auto &load : loads) {
            std::vector<Sample> samples;
            for (int r = 0; r < runs; ++r) {
                Sample s;
                if (!runChild({QStringLiteral("load"), load.path}, s))
                    return 1;
                samples.push_back(s);
            }
            report(QString::fromLatin1(load.name), triangles, samples);
        }
        std::vector<Sample> samples;
        for (int r = 0; r < runs; ++r) {
            Sample s;
            if (!runChild(
                    {QStringLiteral("save"), stl, dir.filePath(QStringLiteral("saved.stl"))}, s))
                return 1;
            samples.push_back(s);
        }
        report(QStringLiteral("save binary STL"), triangles, samples);
        QFile::remove(stl);
        QFile::remove(text);
        QFile::remove(obj);
        QFile::remove(dir.filePath(QStringLiteral("saved.stl")));
    }
    return 0;
}
