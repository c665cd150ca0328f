#pragma once

#include <QObject>
#include <QString>

#include <cstdint>

class Mesh;
class QWidget;
class Widget3D;

// What the user's work is in relation to its file: the file's name, and whether the mesh holds
// strokes that are not saved. The mesh's history numbers every content it leads to, so undoing
// back to the content that was saved or opened makes the mesh unmodified again. Keeps the
// window title ("<file name>* - Argilium") up to date.
class Document : public QObject
{
    Q_OBJECT

public:
    // `titled` is the window whose title shows the name and the mark.
    Document(Widget3D *view, QWidget *titled);

    bool isModified() const;
    // The file name without folders, or "untitled" for recovered work of unknown origin.
    QString displayName() const;
    const QString &path() const { return filePath; }
    QString title() const;

    // When there are unsaved changes, asks "Save changes to <name>?": Save (then the save
    // dialog) and Discard return true, Cancel, a cancelled save dialog or a failed save false.
    // With no unsaved change it asks nothing and returns true.
    bool maybeSave();

    // The view's mesh came from a recovery file: it is unsaved work, named after `originalPath`
    // (which may be empty).
    void markRecovered(const QString &originalPath);

public slots:
    void opened(const QString &path);
    void saved(const QString &path);
    void edited();

signals:
    void modifiedChanged(bool modified);

private:
    void refresh();

    Widget3D *view;
    QWidget *titled;
    QString filePath;
    const Mesh *savedMesh = nullptr; // not owning; only compared
    std::uint64_t savedVersion = 0;
    bool recovered = false;
    bool lastModified = false;
};
