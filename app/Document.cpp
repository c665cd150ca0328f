#include "Document.h"

#include "Prompts.h"
#include "Widget3D.h"

#include <QFileInfo>
#include <QWidget>

Document::Document(Widget3D *view, QWidget *titled)
    : QObject(view)
    , view(view)
    , titled(titled)
{
    refresh();
}

bool Document::isModified() const
{
    const Mesh *mesh = view->getMesh();
    if (!mesh)
        return false;
    return recovered || mesh != savedMesh || mesh->getContentVersion() != savedVersion;
}

QString Document::displayName() const
{
    if (filePath.isEmpty())
        return QStringLiteral("untitled");
    return QFileInfo(filePath).fileName();
}

QString Document::title() const
{
    QString application = QObject::tr("Argilium");
    if (!view->getMesh())
        return application;
    return displayName() + (isModified() ? QStringLiteral("*") : QString()) + QStringLiteral(" - ")
        + application;
}

bool Document::maybeSave()
{
    if (!isModified())
        return true;
    switch (Prompts::askSaveChanges(titled, displayName())) {
    case Prompts::SaveAnswer::Discard:
        return true;
    case Prompts::SaveAnswer::Cancel:
        return false;
    case Prompts::SaveAnswer::Save:
        break;
    }
    const QString name = Prompts::askSaveFileName(titled);
    if (name.isNull())
        return false;
    return view->saveMesh(name);
}

void Document::markRecovered(const QString &originalPath)
{
    filePath = originalPath;
    savedMesh = view->getMesh();
    savedVersion = savedMesh ? savedMesh->getContentVersion() : 0;
    recovered = true;
    refresh();
}

void Document::opened(const QString &path)
{
    filePath = path;
    savedMesh = view->getMesh();
    savedVersion = savedMesh ? savedMesh->getContentVersion() : 0;
    recovered = false;
    refresh();
}

void Document::saved(const QString &path)
{
    opened(path);
}

void Document::edited()
{
    refresh();
}

void Document::refresh()
{
    if (titled)
        titled->setWindowTitle(title());
    const bool modified = isModified();
    if (modified != lastModified) {
        lastModified = modified;
        emit modifiedChanged(modified);
    }
}
