#include "Commands.h"

#include "io/Files.h"

// argilium-cli convert IN OUT.stl|OUT.obj: reads any supported file and writes it as binary STL
// or OBJ, in the units of the file it came from.
int runConvert(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Reads a mesh file (.stl, .obj or .3ds) and writes it as binary STL or as OBJ, by the "
        "output's ending. An existing output file is replaced only once the new one is "
        "completely written."));
    parser.addPositionalArgument(QStringLiteral("in"), QStringLiteral("The file to read."));
    parser.addPositionalArgument(QStringLiteral("out"),
        QStringLiteral("The file to write: binary STL (.stl) or OBJ (.obj)."));
    int status = 0;
    if (!Cli::parseArguments(parser, arguments, 2, &status))
        return status;

    const QString in = parser.positionalArguments().at(0);
    const QString out = parser.positionalArguments().at(1);
    if (!out.endsWith(QLatin1String(".stl"), Qt::CaseInsensitive)
        && !out.endsWith(QLatin1String(".obj"), Qt::CaseInsensitive)) {
        Cli::printError(QStringLiteral("the output \"%1\" must end in .stl or .obj").arg(out));
        return 2;
    }
    std::unique_ptr<Mesh> mesh = Cli::loadMesh(in);
    if (!mesh)
        return 1;
    QString error;
    if (!Files::save(*mesh, out, {}, &error)) {
        Cli::printError(error);
        return 1;
    }
    return 0;
}
