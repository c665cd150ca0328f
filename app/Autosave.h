#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <memory>

class Document;
class Mesh;
class QLockFile;
class QWidget;
class Widget3D;

// Keeps a recovery copy of unsaved work. While the mesh has changes that are not saved, every
// interval (2 minutes) the mesh is written as binary STL, through a temporary file and a rename,
// to "recovery-<process id>.stl" in the application's local data folder, beside a lock file
// that this running process holds and a ".path" file naming the file the work came from. The
// copy goes away as soon as the work is unmodified again (saved, undone back, another file
// opened) and on a clean exit. A copy whose lock no running process holds is what a crash
// left: the next start offers to open it.
class Autosave : public QObject
{
    Q_OBJECT

public:
    static constexpr int defaultIntervalMs = 2 * 60 * 1000;

    // The interval is defaultIntervalMs unless ARGILIUM_AUTOSAVE_SECONDS names another.
    Autosave(Widget3D *view, Document *document);
    ~Autosave() override;

    // The folder of the recovery files: the one given to setFolder, or else
    // QStandardPaths::AppLocalDataLocation. An empty name restores the default.
    static QString folder();
    static void setFolder(const QString &folder);

    QString filePath() const;
    void setInterval(int milliseconds);
    int interval() const { return timer.interval(); }

    // Writes the recovery file when the mesh has unsaved changes that the file does not hold
    // yet; removes it when there is nothing unsaved. True when a file was written.
    bool saveNow();
    // Removes this process's recovery file.
    void discard();

    // Recovery files left by processes that are gone, newest first.
    static QStringList orphans();
    // At start: for each orphan, newest first, asks "Recover unsaved work from <time>?". Yes
    // opens it in the view as unsaved work and hands it over to `autosave`; No deletes it.
    // Stops at the first one opened; returns true when one was.
    static bool offerRecovery(Widget3D *view, Document *document, Autosave *autosave);

signals:
    // A recovery file was written, or could not be (with the reason).
    void written(const QString &path);
    void failed(const QString &reason);

private:
    void documentChanged(bool modified);
    QString basePath() const;

    Widget3D *view;
    Document *document;
    QTimer timer;
    std::unique_ptr<QLockFile> lock;
    const Mesh *writtenMesh = nullptr; // not owning; only compared
    std::uint64_t writtenVersion = 0;
    QString writtenName;
};
