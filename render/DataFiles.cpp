#include "DataFiles.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSet>

QStringList dataFolders()
{
    QStringList folders;
    if (QCoreApplication::instance()) {
        const QString program = QCoreApplication::applicationDirPath();
        folders << QDir::cleanPath(program + QStringLiteral("/../share/argilium"))
                << QDir::cleanPath(program);
    }
    const QString current = QDir::cleanPath(QDir::currentPath());
    if (!folders.contains(current))
        folders << current;
    return folders;
}

QString findDataFile(const QString &relativePath, const QStringList &folders)
{
    for (const QString &folder : folders) {
        QString path = QDir(folder).filePath(relativePath);
        if (QFileInfo(path).isFile())
            return path;
    }
    return {};
}

QString findDataFile(const QString &relativePath)
{
    return findDataFile(relativePath, dataFolders());
}

bool reportRenderProblem(const QString &message)
{
    static QSet<QString> reported;
    if (reported.contains(message))
        return false;
    reported.insert(message);
    // Qt's default message handler writes warnings to standard error.
    qWarning().noquote() << "argilium:" << message;
    return true;
}
