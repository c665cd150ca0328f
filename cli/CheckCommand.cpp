#include "Commands.h"

#include "mesh/MeshCheck.h"
#include "mesh/SurfaceReport.h"

// argilium-cli check FILE: loads the file and runs the mesh consistency check; prints "ok" and
// what the surface is like (its border, the edges and triangles that are not those of a
// manifold, whether it is closed), or the first problem found and exits with 1. A surface that
// is open or not a manifold is a fact about the file: the exit status stays 0.
int runCheck(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Loads a mesh file and runs the mesh consistency check (ids, triangle and ring lists, "
        "octree). Prints \"ok\" followed by the counts of border edges, edges with more than two "
        "triangles, repeated triangles and triangles with two equal corners, and whether the "
        "surface is closed; or the first problem found, with exit status 1."));
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
    const SurfaceReport surface = surfaceReport(*mesh);
    Cli::printLine(QStringLiteral("ok"));
    Cli::printLine(QStringLiteral("border edges: %1").arg(surface.borderEdges));
    Cli::printLine(
        QStringLiteral("edges with more than two triangles: %1").arg(surface.nonManifoldEdges));
    Cli::printLine(QStringLiteral("repeated triangles: %1").arg(surface.repeatedTriangles));
    Cli::printLine(
        QStringLiteral("triangles with two equal corners: %1").arg(surface.degenerateTriangles));
    Cli::printLine(QStringLiteral("closed: %1").arg(surface.closed() ? "yes" : "no"));
    return 0;
}
