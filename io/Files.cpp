// The entry of Files: the reader chosen by a file's name, the bytes of a file, the mesh records
// built from parsed data and the loading pipeline after them, and the writer chosen by name.

#include "Files.h"
#include "ParseCommon.h"

#include <QFile>
#include <QFileInfo>

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

using ParseCommon::fail;
using ParseCommon::maxTriangles;

namespace {

const QString parsingMessage = QStringLiteral("Loading : parsing");
const QString readyMessage = QStringLiteral("Argilium");

void show(const MessageSink &sink, const QString &text)
{
    if (sink)
        sink(text);
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
            ParseCommon::prefaultRead(mapped_, static_cast<std::size_t>(size));
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

// Records, then the loading pipeline; "Argilium" at the end. The parsed positions are released
// once the records are made, the corners once the topology has read the rings from them.
std::unique_ptr<Mesh> finish(MeshData &&data, const MessageSink &sink, QString *error)
{
    std::unique_ptr<Mesh> mesh = Files::buildMesh(data, error);
    std::vector<QVector3D>().swap(data.positions);
    if (!mesh)
        return nullptr;
    // The topology reads the rings' corners from the parsed array, far smaller than the records.
    mesh->initTopology(sink, data.corners.data());
    data = MeshData();
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
    const auto cornerCount = static_cast<std::ptrdiff_t>(corners.size());
    // The first corner that names a missing vertex.
    std::ptrdiff_t bad = cornerCount;
#pragma omp parallel for schedule(static) reduction(min : bad) if (cornerCount > 100000)
    for (std::ptrdiff_t k = 0; k < cornerCount; ++k) {
        if (static_cast<unsigned>(corners[k]) >= static_cast<unsigned>(vertexCount))
            bad = std::min(bad, k);
    }
    if (bad < cornerCount) {
        fail(error,
            QStringLiteral("%1: a triangle names vertex %2, which does not exist")
                .arg(what)
                .arg(corners[bad]));
        return nullptr;
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

    // The records are written into memory faulted in beforehand by all threads, the vertices and
    // the triangles at the same time. Each thread then fills the triangle lists of its own range of
    // vertices, in triangle order, each list reserved to its exact size first.
    auto mesh = std::make_unique<Mesh>();
    mesh->reserveRecords(positions.size(), corners.size() / 3);
    std::vector<Vertex> &vertices = mesh->getVertices();
    std::vector<Triangle> &triangles = mesh->getTriangles();
    ParseCommon::prefault(vertices.data(), positions.size() * sizeof(Vertex));
    ParseCommon::prefault(
        triangles.data(), static_cast<std::size_t>(triangleCount) * sizeof(Triangle));
#pragma omp parallel sections
    {
#pragma omp section
        for (int i = 0; i < vertexCount; ++i)
            vertices.emplace_back(positions[static_cast<std::size_t>(i)], i);
#pragma omp section
        {
            const int *c = corners.data();
            for (int t = 0; t < triangleCount; ++t, c += 3)
                triangles.emplace_back(QVector3D(), c[0], c[1], c[2], t);
        }
    }
    // On all threads whatever the size, so that the smallest files check this path too.
#pragma omp parallel
    {
        const int threads = omp_get_num_threads();
        const int thread = omp_get_thread_num();
        const int from = static_cast<int>(std::int64_t(vertexCount) * thread / threads);
        const int to = static_cast<int>(std::int64_t(vertexCount) * (thread + 1) / threads);
        const auto mine = [from, to](int v) { return v >= from && v < to; };
        // The lists are first gathered into one array, by vertex and in triangle order, then
        // copied into the records in vertex order: the records, much larger than the array,
        // are written one after the other rather than in the corners' order.
        const std::size_t count = static_cast<std::size_t>(to - from);
        std::vector<std::size_t> start(count + 1, 0);
        for (std::ptrdiff_t k = 0; k < cornerCount; ++k) {
            if (mine(corners[k]))
                ++start[static_cast<std::size_t>(corners[k] - from) + 1];
        }
        for (std::size_t i = 0; i < count; ++i)
            start[i + 1] += start[i];
        std::vector<int> lists(start[count]);
        std::vector<std::size_t> next(start.begin(), start.end() - 1);
        for (std::ptrdiff_t k = 0; k < cornerCount; ++k) {
            if (mine(corners[k]))
                lists[next[static_cast<std::size_t>(corners[k] - from)]++] =
                    static_cast<int>(k / 3);
        }
        for (std::size_t i = 0; i < count; ++i) {
            vertices[from + static_cast<int>(i)].triangleIndices.assign(
                lists.data() + start[i], lists.data() + start[i + 1]);
        }
    }
    return mesh;
}

bool Files::save(const Mesh &mesh, const QString &path, const MessageSink &sink, QString *error)
{
    if (path.endsWith(QLatin1String(".obj"), Qt::CaseInsensitive))
        return saveOBJ(mesh, path, sink, error);
    return saveSTL(mesh, path, sink, error);
}
