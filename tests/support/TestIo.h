#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Files and processes for tests: whole files read and written, a sphere file written once, and a
// program run to its end.
namespace TestIo {

// The whole file, or nothing when it cannot be read.
QByteArray readFile(const QString &path);
// Writes `bytes` as the whole file; false when it cannot be opened or not all bytes were written.
bool writeFile(const QString &path, const QByteArray &bytes);

// A binary STL of TestMeshes::makeIcosphere(level) at `path`, written only when there is no file
// there yet. Returns the path.
QString icosphereFile(const QString &path, int level);

// How a program run ended: its exit code, or -1 when it did not end normally within the time
// limit (then nothing of its output), and what it printed.
struct Run
{
    int status = -1;
    QString out;
    QString err;
};

Run runProgram(const QString &program, const QStringList &arguments, int timeoutMs);

} // namespace TestIo
