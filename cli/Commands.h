#pragma once

#include "mesh/Mesh.h"

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// Subcommands of argilium-cli. Each receives its own arguments, the first being the program
// name followed by the command name (as QCommandLineParser expects), and returns the exit status:
// 0 on success, 1 when the work failed, 2 for a usage error.
int runInfo(const QStringList &arguments);
int runConvert(const QStringList &arguments);
int runCheck(const QStringList &arguments);
int runSculpt(const QStringList &arguments);

struct Command
{
    const char *name;
    const char *summary;
    int (*run)(const QStringList &arguments);
};

// Every subcommand, in the order the help lists them.
const std::vector<Command> &commands();

// Shared by the commands.
namespace Cli {

// Prints "error: <reason>" on standard error.
void printError(const QString &reason);
// Prints on standard output, followed by a line feed.
void printLine(const QString &text);
// Parses a subcommand's arguments, which must leave exactly `positionals` positional
// arguments. Returns true when the command should go on; otherwise *status holds the exit status
// (0 after printing the help, 2 after a usage error).
bool parseArguments(
    QCommandLineParser &parser, const QStringList &arguments, int positionals, int *status);
// Loads any supported mesh file; prints the reason and returns null when it cannot.
std::unique_ptr<Mesh> loadMesh(const QString &path, QString *format = nullptr);

} // namespace Cli
