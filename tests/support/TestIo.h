#pragma once

#include "TestMeshes.h"
#include "io/Files.h"

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

// Files and processes for tests: whole files read and written, a sphere file written once, and a
// program run to its end.
namespace TestIo {

// The whole file, or nothing when it cannot be read.
inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
// Writes `bytes` as the whole file; false when it cannot be opened or not all bytes were written.
inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// A binary STL of TestMeshes::makeIcosphere(level) at `path`, written only when there is no file
// there yet. Returns the path.
inline QString icosphereFile(const QString &path, int level)
{
    if (!QFile::exists(path))
        Files::saveSTL(*TestMeshes::makeIcosphere(level), path);
    return path;
}

// How a program run ended: its exit code, or -1 when it did not end normally within the time
// limit (then nothing of its output), and what it printed.
struct Run
{
    int status = -1;
    QString out;
    QString err;
};
inline Run runProgram(const QString &program, const QStringList &arguments, int timeoutMs)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), QString::fromLocal8Bit(process.readAllStandardOutput()),
        QString::fromLocal8Bit(process.readAllStandardError())};
}

} // namespace TestIo
