#include "Commands.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <charconv>

namespace {

// A float as the double with the same shortest decimal form, so that JSON shows 0.1 for 0.1f
// rather than 0.10000000149011612.
double tidy(float f)
{
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, f);
    double d = f;
    std::from_chars(text, written.ptr, d);
    return d;
}

} // namespace

// argilium-cli info FILE: one JSON object with the file, its format, the counts, the scale the
// loading pipeline applied, and the centre and diagonal of the bounding box in the file's units.
int runInfo(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Prints what a mesh file holds as one JSON object: file, format (stl, stl-text, obj, "
        "3ds), vertices, triangles, scale, center and diagonal (in the file's units)."));
    parser.addPositionalArgument(
        QStringLiteral("file"), QStringLiteral("The mesh file (.stl, .obj or .3ds)."));
    int status = 0;
    if (!Cli::parseArguments(parser, arguments, 1, &status))
        return status;

    const QString path = parser.positionalArguments().first();
    QString format;
    std::unique_ptr<Mesh> mesh = Cli::loadMesh(path, &format);
    if (!mesh)
        return 1;

    // The loaded positions are scaled; the file's units come back by dividing by the scale.
    const std::vector<Vertex> &vertices = mesh->getVertices();
    QVector3D low = vertices.front().position;
    QVector3D high = low;
    for (const Vertex &v : vertices) {
        for (int k = 0; k < 3; ++k) {
            low[k] = std::min(low[k], v.position[k]);
            high[k] = std::max(high[k], v.position[k]);
        }
    }
    const float scale = mesh->getScale();
    const QVector3D center = (low + high) * 0.5f / scale;
    const float diagonal = (high - low).length() / scale;

    QJsonObject info;
    info.insert(QStringLiteral("file"), path);
    info.insert(QStringLiteral("format"), format);
    info.insert(QStringLiteral("vertices"), mesh->getNbVertices());
    info.insert(QStringLiteral("triangles"), mesh->getNbTriangles());
    info.insert(QStringLiteral("scale"), tidy(scale));
    info.insert(QStringLiteral("center"),
        QJsonArray {tidy(center.x()), tidy(center.y()), tidy(center.z())});
    info.insert(QStringLiteral("diagonal"), tidy(diagonal));
    Cli::printLine(QString::fromUtf8(QJsonDocument(info).toJson(QJsonDocument::Compact)));
    return 0;
}
