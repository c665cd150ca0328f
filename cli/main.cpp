// argilium-cli: mesh files and checks from the command line, without a display.
//
//   argilium-cli info FILE           what the file holds, as one JSON object
//   argilium-cli convert IN OUT      any supported file to binary STL (.stl) or OBJ (.obj)
//   argilium-cli check FILE          load and run the mesh consistency check
//   argilium-cli sculpt IN OUT.stl --stroke STROKE.json [--undo N] [--redo N]
//                                    replay a brush stroke and save the result

#include "Commands.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

const std::vector<Command> &commands()
{
    static const std::vector<Command> list = {
        {"info", "Print what a mesh file holds as one JSON object.", runInfo},
        {"convert", "Read a mesh file (.stl, .obj, .3ds) and write it as binary STL or OBJ.",
            runConvert},
        {"check", "Load a mesh file and run the mesh consistency check.", runCheck},
        {"sculpt", "Replay a brush stroke on a mesh file and save it as binary STL.", runSculpt},
    };
    return list;
}

namespace {

QString usage()
{
    QString text = QStringLiteral("Usage: argilium-cli <command> [arguments]\n\nCommands:\n");
    for (const Command &c : commands())
        text +=
            QStringLiteral("  %1  %2\n")
                .arg(QString::fromLatin1(c.name).leftJustified(8), QString::fromLatin1(c.summary));
    text +=
        QStringLiteral("\nRun \"argilium-cli <command> --help\" for the arguments of a command.\n");
    return text;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("argilium-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ARGILIUM_VERSION));

    // Only the command name is parsed here; what follows it belongs to the command.
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const QCommandLineOption help(
        {QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help."));
    const QCommandLineOption version(
        {QStringLiteral("v"), QStringLiteral("version")}, QStringLiteral("Show the version."));
    parser.addOption(help);
    parser.addOption(version);
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("The command to run."));
    if (!parser.parse(QCoreApplication::arguments())) {
        Cli::printError(parser.errorText());
        std::fputs(qPrintable(usage()), stderr);
        return 2;
    }
    if (parser.isSet(version)) {
        Cli::printLine(QStringLiteral("argilium-cli ") + QCoreApplication::applicationVersion());
        return 0;
    }
    const QStringList rest = parser.positionalArguments();
    if (parser.isSet(help) || rest.isEmpty()) {
        std::fputs(qPrintable(usage()), parser.isSet(help) ? stdout : stderr);
        return parser.isSet(help) ? 0 : 2;
    }
    for (const Command &c : commands()) {
        if (rest.first() == QLatin1String(c.name)) {
            QStringList arguments = rest.mid(1);
            arguments.prepend(QStringLiteral("argilium-cli ") + rest.first());
            return c.run(arguments);
        }
    }
    Cli::printError(QStringLiteral("unknown command \"%1\"").arg(rest.first()));
    std::fputs(qPrintable(usage()), stderr);
    return 2;
}
