#include "Commands.h"

#include "io/Files.h"
#include "sculpt/StrokeScript.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// A count option: absent gives 0; anything but a non-negative integer is refused.
bool countOption(const QCommandLineParser &parser, const QCommandLineOption &option, int *value)
{
    *value = 0;
    if (!parser.isSet(option))
        return true;
    bool ok = false;
    const QString text = parser.value(option);
    const int n = text.toInt(&ok);
    if (!ok || n < 0) {
        Cli::printError(QStringLiteral("--%1 needs a whole number of 0 or more, not \"%2\"")
                            .arg(option.names().constFirst(), text));
        return false;
    }
    *value = n;
    return true;
}

} // namespace

// argilium-cli sculpt IN OUT --stroke STROKE.json [--undo N] [--redo N]: replays the brush
// strokes of a stroke file on a mesh file headlessly, in order, each its own history step,
// through the same picking and brush code as the view, applies the undo and redo steps, saves
// the result as binary STL and prints one JSON line of counts and timings.
int runSculpt(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Replays brush strokes on a mesh file and writes the result as binary STL. A stroke "
        "holds the brush settings (\"tool\", \"topology\", \"intensity\", \"detail\", "
        "\"culling\", \"symmetry\", \"invert\"), an optional \"press\" ray and the "
        "\"dabs\": rays (\"origin\", \"direction\") in the loaded mesh's own coordinates, "
        "each with a brush \"radius\" in those units. The file holds one stroke, or several "
        "as {\"strokes\": [...]}, replayed in order, each one undo step. Prints one JSON line "
        "with the counts and the time per dab."));
    parser.addPositionalArgument(QStringLiteral("in"), QStringLiteral("The mesh file to read."));
    parser.addPositionalArgument(
        QStringLiteral("out"), QStringLiteral("The binary STL file to write (.stl)."));
    const QCommandLineOption strokeOption(QStringLiteral("stroke"),
        QStringLiteral("The stroke to replay (JSON)."), QStringLiteral("file"));
    const QCommandLineOption undoOption(QStringLiteral("undo"),
        QStringLiteral("Undo steps (strokes) after the strokes."), QStringLiteral("n"));
    const QCommandLineOption redoOption(QStringLiteral("redo"),
        QStringLiteral("Redo steps after the undo steps."), QStringLiteral("n"));
    parser.addOption(strokeOption);
    parser.addOption(undoOption);
    parser.addOption(redoOption);
    int status = 0;
    if (!Cli::parseArguments(parser, arguments, 2, &status))
        return status;

    const QString in = parser.positionalArguments().at(0);
    const QString out = parser.positionalArguments().at(1);
    if (!out.endsWith(QLatin1String(".stl"), Qt::CaseInsensitive)) {
        Cli::printError(QStringLiteral("the output \"%1\" must end in .stl").arg(out));
        return 2;
    }
    if (!parser.isSet(strokeOption)) {
        Cli::printError(QStringLiteral("--stroke is required"));
        return 2;
    }
    int undoCount = 0;
    int redoCount = 0;
    if (!countOption(parser, undoOption, &undoCount)
        || !countOption(parser, redoOption, &redoCount))
        return 2;

    const QString strokePath = parser.value(strokeOption);
    QFile strokeFile(strokePath);
    if (!strokeFile.open(QIODevice::ReadOnly)) {
        Cli::printError(QStringLiteral("cannot read the stroke \"%1\": %2")
                            .arg(strokePath, strokeFile.errorString()));
        return 1;
    }
    std::vector<StrokeScript> strokes;
    QString error;
    if (!StrokeScript::parseList(strokeFile.readAll(), strokes, &error)) {
        Cli::printError(QStringLiteral("stroke \"%1\": %2").arg(strokePath, error));
        return 1;
    }

    std::unique_ptr<Mesh> mesh = Cli::loadMesh(in);
    if (!mesh)
        return 1;
    const int verticesBefore = mesh->getNbVertices();
    const int trianglesBefore = mesh->getNbTriangles();

    StrokeReport report;
    for (const StrokeScript &script : strokes) {
        const StrokeReport one = replayStroke(*mesh, script);
        report.dabs.insert(report.dabs.end(), one.dabs.begin(), one.dabs.end());
        report.hits += one.hits;
        report.applications += one.applications;
    }
    for (int i = 0; i < undoCount; ++i)
        mesh->undo();
    for (int i = 0; i < redoCount; ++i)
        mesh->redo();

    if (!Files::saveSTL(*mesh, out, {}, &error)) {
        Cli::printError(error);
        return 1;
    }

    QJsonArray times;
    double total = 0.0;
    for (const StrokeReport::DabReport &dab : report.dabs) {
        times.append(dab.milliseconds);
        total += dab.milliseconds;
    }
    QJsonObject line;
    line.insert(QStringLiteral("strokes"), int(strokes.size()));
    line.insert(QStringLiteral("dabs"), int(report.dabs.size()));
    line.insert(QStringLiteral("hits"), report.hits);
    line.insert(QStringLiteral("applications"), report.applications);
    line.insert(QStringLiteral("undo"), undoCount);
    line.insert(QStringLiteral("redo"), redoCount);
    line.insert(QStringLiteral("vertices_before"), verticesBefore);
    line.insert(QStringLiteral("triangles_before"), trianglesBefore);
    line.insert(QStringLiteral("vertices"), mesh->getNbVertices());
    line.insert(QStringLiteral("triangles"), mesh->getNbTriangles());
    line.insert(QStringLiteral("ms_total"), total);
    line.insert(QStringLiteral("ms_per_dab"), times);
    Cli::printLine(QString::fromUtf8(QJsonDocument(line).toJson(QJsonDocument::Compact)));
    return 0;
}
