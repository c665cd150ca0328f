// Mesh file benchmark: loads generated icospheres (binary STL, text STL, OBJ) through the
// readers and the loading pipeline without a GPU, and saves binary STL.
//
//   bench_files [--levels 7,8] [--runs N] [--dir DIR]
//
// Every measurement runs in a child process of its own (this program started again with
// --child), so that the peak resident memory reported is that of a process doing nothing but
// that one load or save. One JSON object per line:
// see BenchCommon.h, in ms, plus "cpu_ms", the median processor time of the process (all threads)
// over the same span, which tells how much of a wall time came from waiting on a busy machine.
// "memory" is the bytes per triangle of a loaded binary STL: the peak of the loading process
// minus that of a process that loads nothing, divided by the triangle count. The loads make no
// GPU buffers: "gpu_bytes_per_triangle" gives what the view's buffers of that mesh take (with
// their room for growth: twice the data of positions, normals, masks and triangle indices).

#include "BenchCommon.h"
#include "MeshBytes.h"
#include "TestMeshes.h"
#include "io/Files.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {

// Child: one load (or one load then a timed save, or nothing at all); prints
// "milliseconds cpu_ms peak_mb".
int child(const QStringList &args)
{
    using Bench::cpuMs;
    const QString mode = args.value(0);
    if (mode == QLatin1String("empty")) {
        std::printf("0 0 %.3f\n", Bench::peakRssMb());
        return 0;
    }
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
    std::printf("%.3f %.3f %.3f\n", ms, cpu, Bench::peakRssMb());
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

std::vector<double> peaks(const std::vector<Sample> &samples)
{
    std::vector<double> values;
    for (const Sample &s : samples)
        values.push_back(s.peakMb);
    return values;
}

void report(const QString &name, int size, const std::vector<Sample> &samples)
{
    std::vector<double> ms, cpu;
    for (const Sample &s : samples) {
        ms.push_back(s.ms);
        cpu.push_back(s.cpuMs);
    }
    QJsonObject extra;
    extra.insert(QStringLiteral("cpu_ms"), Bench::rounded(Bench::stats(cpu).median, 1));
    Bench::report(name, size, Bench::stats(ms), QStringLiteral("ms"),
        Bench::stats(peaks(samples)).max, extra);
}

bool measure(const QStringList &args, int runs, std::vector<Sample> &samples)
{
    samples.clear();
    for (int r = 0; r < runs; ++r) {
        Sample s;
        if (!runChild(args, s))
            return false;
        samples.push_back(s);
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.value(0) == QLatin1String("--child"))
        return child(args.mid(1));

    std::vector<int> levels = {7, 8};
    int runs = 5;
    QString dirPath;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--levels") && i + 1 < args.size()) {
            levels = Bench::intList(args[++i]);
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
        int vertices = 0;
        {
            const TestMeshes::IcosphereData data = TestMeshes::icosphereData(level);
            triangles = static_cast<int>(data.triangles.size());
            vertices = static_cast<int>(data.positions.size());
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
        std::vector<Sample> samples;
        for (const auto &load : loads) {
            if (!measure({QStringLiteral("load"), load.path}, runs, samples))
                return 1;
            report(QString::fromLatin1(load.name), triangles, samples);
            if (load.path == stl) {
                // Bytes per triangle: the loading process's peak over that of an empty one.
                std::vector<Sample> empty;
                if (!measure({QStringLiteral("empty")}, runs, empty))
                    return 1;
                const double base = Bench::stats(peaks(empty)).median;
                std::vector<double> perTriangle;
                for (const Sample &s : samples)
                    perTriangle.push_back((s.peakMb - base) * 1048576.0 / triangles);
                QJsonObject extra;
                extra.insert(QStringLiteral("empty_process_mb"), Bench::rounded(base, 1));
                const double gpuBytes = 2.0
                    * (double(MeshGpu::bytesPerVertex) * vertices
                        + double(MeshGpu::bytesPerTriangle) * triangles);
                extra.insert(QStringLiteral("gpu_bytes_per_triangle"),
                    Bench::rounded(gpuBytes / triangles, 1));
                Bench::report(QStringLiteral("memory"), triangles, Bench::stats(perTriangle),
                    QStringLiteral("B/triangle"), Bench::stats(peaks(samples)).max, extra);
            }
        }
        if (!measure({QStringLiteral("save"), stl, dir.filePath(QStringLiteral("saved.stl"))}, runs,
                samples))
            return 1;
        report(QStringLiteral("save binary STL"), triangles, samples);
        QFile::remove(stl);
        QFile::remove(text);
        QFile::remove(obj);
        QFile::remove(dir.filePath(QStringLiteral("saved.stl")));
    }
    return 0;
}
