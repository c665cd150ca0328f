#include "Commands.h"

#include "io/Files.h"

#include <QCoreApplication>

#include <cstdio>

namespace Cli {

void printError(const QString &reason)
{
    std::fprintf(stderr, "error: %s\n", reason.toLocal8Bit().constData());
}

void printLine(const QString &text)
{
    std::fprintf(stdout, "%s\n", text.toLocal8Bit().constData());
}

namespace {

// QCommandLineParser names the program in its usage line; name the command too.
QString helpOf(const QCommandLineParser &parser, const QStringList &arguments)
{
    QString text = parser.helpText();
    const QStringList programArguments = QCoreApplication::arguments();
    if (!programArguments.isEmpty() && !arguments.isEmpty()) {
        const qsizetype at = text.indexOf(programArguments.first());
        if (at >= 0)
            text.replace(at, programArguments.first().size(), arguments.first());
    }
    if (!text.endsWith(u'\n'))
        text += u'\n';
    return text;
}

} // namespace

bool parseArguments(
    QCommandLineParser &parser, const QStringList &arguments, int positionals, int *status)
{
    const QCommandLineOption help = parser.addHelpOption();
    if (!parser.parse(arguments)) {
        printError(parser.errorText());
        std::fputs(qPrintable(helpOf(parser, arguments)), stderr);
        *status = 2;
        return false;
    }
    if (parser.isSet(help)) {
        std::fputs(qPrintable(helpOf(parser, arguments)), stdout);
        *status = 0;
        return false;
    }
    const int given = static_cast<int>(parser.positionalArguments().size());
    if (given != positionals) {
        printError(QStringLiteral("expected %1 argument%2, got %3")
                       .arg(positionals)
                       .arg(positionals == 1 ? "" : "s")
                       .arg(given));
        std::fputs(qPrintable(helpOf(parser, arguments)), stderr);
        *status = 2;
        return false;
    }
    return true;
}

std::unique_ptr<Mesh> loadMesh(const QString &path, QString *format)
{
    QString error;
    std::unique_ptr<Mesh> mesh = Files::load(path, {}, &error, format);
    if (!mesh)
        printError(error);
    return mesh;
}

} // namespace Cli
