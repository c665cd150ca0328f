#include "Commands.h"

#include "mesh/MeshCheck.h"

// argilium-cli check FILE: loads the file and runs the mesh consistency check; prints "ok", or
// the first problem found and exits with 1.
int runCheck(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Loads a mesh file and runs the mesh consistency check (ids, triangle and ring lists, "
        "octree). Prints \"ok\", or the first problem found."));
    parser.addPositionalArgument(
        QStringLiteral("file"), QStringLiteral("The mesh file (.stl, .obj or .3ds)."));
    int status = 0;
    if (!Cli::parseArguments(parser, arguments, 1, &status))
        return status;

    std::unique_ptr<Mesh> mesh = Cli::loadMesh(parser.positionalArguments().first());
    if (!mesh)
        return 1;
    const QString problem = checkMesh(*mesh);
    if (!problem.isEmpty()) {
        Cli::printLine(problem);
        return 1;
    }
    Cli::printLine(QStringLiteral("ok"));
    return 0;
}
