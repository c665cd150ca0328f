#include "TestIo.h"

#include "TestMeshes.h"
#include "io/Files.h"

#include <QFile>
#include <QProcess>

namespace TestIo {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QString icosphereFile(const QString &path, int level)
{
    if (!QFile::exists(path))
        Files::saveSTL(*TestMeshes::makeIcosphere(level), path);
    return path;
}

Run runProgram(const QString &program, const QStringList &arguments, int timeoutMs)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), QString::fromLocal8Bit(process.readAllStandardOutput()),
        QString::fromLocal8Bit(process.readAllStandardError())};
}

} // namespace TestIo
