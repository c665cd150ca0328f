#include "Autosave.h"

#include "Document.h"
#include "Prompts.h"
#include "Widget3D.h"
#include "io/Files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>

namespace {

QString &folderOverride()
{
    static QString folder;
    return folder;
}

const QString prefix = QStringLiteral("recovery-");

// Removes a recovery file with its ".path" file and any temporary file a write left behind.
void removeRecovery(const QString &base)
{
    QFile::remove(base + QStringLiteral(".stl"));
    QFile::remove(base + QStringLiteral(".path"));
    const QFileInfo info(base);
    const QStringList leftovers = info.dir().entryList(
        {info.fileName() + QStringLiteral(".stl.*")}, QDir::Files | QDir::Hidden);
    for (const QString &name : leftovers)
        QFile::remove(info.dir().filePath(name));
}

} // namespace

Autosave::Autosave(Widget3D *view, Document *document)
    : QObject(document)
    , view(view)
    , document(document)
{
    int interval = defaultIntervalMs;
    bool ok = false;
    const int seconds = qEnvironmentVariableIntValue("ARGILIUM_AUTOSAVE_SECONDS", &ok);
    if (ok && seconds > 0)
        interval = seconds * 1000;
    timer.setInterval(interval);
    connect(&timer, &QTimer::timeout, this, &Autosave::saveNow);
    connect(document, &Document::modifiedChanged, this, &Autosave::documentChanged);
    documentChanged(document->isModified());
}

Autosave::~Autosave() = default;

QString Autosave::folder()
{
    if (!folderOverride().isEmpty())
        return folderOverride();
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
}

void Autosave::setFolder(const QString &folder)
{
    folderOverride() = folder;
}

QString Autosave::basePath() const
{
    return QDir(folder()).filePath(prefix + QString::number(QCoreApplication::applicationPid()));
}

QString Autosave::filePath() const
{
    return basePath() + QStringLiteral(".stl");
}

void Autosave::setInterval(int milliseconds)
{
    timer.setInterval(milliseconds);
}

void Autosave::documentChanged(bool modified)
{
    if (modified) {
        if (!timer.isActive())
            timer.start();
    } else {
        timer.stop();
        discard();
    }
}

bool Autosave::saveNow()
{
    const Mesh *mesh = view->getMesh();
    if (!mesh || !document->isModified()) {
        discard();
        return false;
    }
    if (mesh == writtenMesh && mesh->getContentVersion() == writtenVersion
        && writtenName == document->path() && QFile::exists(filePath()))
        return false;

    const QString base = basePath();
    if (!QDir().mkpath(folder())) {
        emit failed(QStringLiteral("cannot create the folder %1").arg(folder()));
        return false;
    }
    if (!lock) {
        lock = std::make_unique<QLockFile>(base + QStringLiteral(".lock"));
        // Only a lock whose process is gone counts as stale, however old it is.
        lock->setStaleLockTime(0);
        if (!lock->tryLock(0)) {
            // A lock of another system's process with our number: write anyway, our file must
            // exist; the next start asks only for copies whose lock it can take.
            lock.reset();
        }
    }

    QSaveFile pathFile(base + QStringLiteral(".path"));
    if (pathFile.open(QIODevice::WriteOnly)) {
        pathFile.write(document->path().toUtf8());
        pathFile.commit();
    }
    QString error;
    if (!Files::saveSTL(*mesh, base + QStringLiteral(".stl"), {}, &error)) {
        emit failed(error);
        return false;
    }
    writtenMesh = mesh;
    writtenVersion = mesh->getContentVersion();
    writtenName = document->path();
    emit written(filePath());
    return true;
}

void Autosave::discard()
{
    writtenMesh = nullptr;
    if (lock || QFile::exists(filePath()))
        removeRecovery(basePath());
    if (lock) {
        lock->unlock();
        lock.reset();
    }
}

QStringList Autosave::orphans()
{
    QDir dir(folder());
    const QString own = prefix + QString::number(QCoreApplication::applicationPid());
    QFileInfoList files = dir.entryInfoList({prefix + QStringLiteral("*.stl")}, QDir::Files);
    std::sort(files.begin(), files.end(),
        [](const QFileInfo &a, const QFileInfo &b) { return a.lastModified() > b.lastModified(); });
    QStringList found;
    for (const QFileInfo &info : files) {
        const QString base = info.completeBaseName();
        if (base == own)
            continue;
        QLockFile other(dir.filePath(base + QStringLiteral(".lock")));
        other.setStaleLockTime(0);
        // Taken only when no running process holds it; it is released again at once.
        if (other.tryLock(0))
            found.append(info.absoluteFilePath());
    }
    return found;
}

bool Autosave::offerRecovery(Widget3D *view, Document *document, Autosave *autosave)
{
    for (const QString &file : orphans()) {
        const QFileInfo info(file);
        const QString base = info.absolutePath() + QLatin1Char('/') + info.completeBaseName();
        // Hold the copy's lock while it is dealt with, so that no other start takes it too.
        QLockFile other(base + QStringLiteral(".lock"));
        other.setStaleLockTime(0);
        if (!other.tryLock(0))
            continue;
        if (!Prompts::askRecover(static_cast<QWidget *>(view)->window(), info.lastModified())) {
            removeRecovery(base);
            continue;
        }
        QString original;
        QFile pathFile(base + QStringLiteral(".path"));
        if (pathFile.open(QIODevice::ReadOnly))
            original = QString::fromUtf8(pathFile.readAll());
        if (!view->openFile(file)) {
            // The copy cannot be read (the reason is shown): keep it aside for a later look,
            // under a name that is not offered again.
            QFile::rename(file, base + QStringLiteral(".unreadable"));
            continue;
        }
        document->markRecovered(original);
        // Our own copy first, then the old one goes: the work is never without a copy.
        if (autosave && autosave->saveNow())
            removeRecovery(base);
        return true;
    }
    return false;
}
