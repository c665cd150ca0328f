// The view's file and history commands: open, save, undo, redo and the whole-mesh mask edits.
#include "Widget3D.h"

#include "LoadProgress.h"
#include "Prompts.h"
#include "StartHint.h"
#include "Window.h"
#include "io/Files.h"
#include "mesh/SurfaceReport.h"
#include "render/CameraGL.h"
#include "sculpt/MaskEdit.h"
#include <QButtonGroup>
#include <QMessageBox>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QStatusBar>

void Widget3D::loadFile()
{
    const QString name = Prompts::askOpenFileName(this);
    if (name.isNull())
        return;
    openFile(name);
}

bool Widget3D::openFile(const QString &path)
{
    // The load paints as it goes; an open asked for meanwhile (a drop) waits for no one.
    if (loading) {
        showError(
            tr("Open"), QStringLiteral("Cannot open %1: another file is still loading").arg(path));
        return false;
    }
    // The new mesh's records start with stamp 1, so the counters restart from 1; a failed load
    // puts them back, since the mesh that stays was stamped with their former values.
    const int historyCounter = Mesh::historyCounter;
    const int vertexVisit = Vertex::visitCounter;
    const int vertexBrush = Vertex::brushCounter;
    const int triangleVisit = Triangle::visitCounter;
    Mesh::historyCounter = 1;
    Vertex::visitCounter = 1;
    Vertex::brushCounter = 1;
    Triangle::visitCounter = 1;

    QString error;
    std::unique_ptr<Mesh> loaded;
    {
        // Step messages and the parsing's progress in the status bar, painted as the load goes.
        LoadProgress progress(window ? window->statusBar() : nullptr);
        QScopedValueRollback<bool> busy(loading, true);
        loaded = Files::load(path, progress.messages(), &error, nullptr, progress.progress());
    }
    if (!loaded) {
        Mesh::historyCounter = historyCounter;
        Vertex::visitCounter = vertexVisit;
        Vertex::brushCounter = vertexBrush;
        Triangle::visitCounter = triangleVisit;
        showError(tr("Open"), QStringLiteral("Cannot open %1: %2").arg(path, error));
        return false;
    }

    releaseMesh();
    mesh = std::move(loaded);
    lastErrorText.clear();
    if (auto *hint = findChild<StartHint *>())
        hint->hide();
    // The picking named the old mesh; nothing under the cursor until the next move.
    picking.setMesh(nullptr);
    picking.setRadiusWorldSquared(0.0f);

    camera.reset();
    const Aabb &box = mesh->getOctree()->aabbLoose;
    camera.setMotionScale((box.max - box.min).length());
    camera.zoom(-0.4f);
    // The screen transform follows the new pose at once, so that a pick before the next paint
    // does not use the old camera.
    camera.computeProjection();
    camera.computeView();
    if (window) {
        if (QPushButton *button = window->getColorButton())
            button->setPalette(QPalette(mesh->getColor()));
        if (QButtonGroup *group = window->getShaderGroup()) {
            if (QAbstractButton *button = group->button(mesh->getShaderType()))
                button->setChecked(true);
        }
    }
    updateMeshStatus();
    // Said once, in place of the counts; the dynamic topology leaves such places as they are.
    if (!surfaceReport(*mesh).manifold())
        showMessage(tr("Warning : not a manifold (see argilium-cli check)"));
    emit meshOpened(path);
    return true;
}

void Widget3D::saveFile()
{
    const QString name = Prompts::askSaveFileName(this);
    if (name.isNull() || !mesh)
        return;
    saveMesh(name);
}

bool Widget3D::saveMesh(const QString &path)
{
    if (!mesh)
        return false;
    QString error;
    if (!Files::save(
            *mesh, path, [this](const QString &text) { showMessage(text); }, &error)) {
        showError(tr("Save"), QStringLiteral("Cannot save %1: %2").arg(path, error));
        return false;
    }
    lastErrorText.clear();
    emit meshSaved(path);
    return true;
}

void Widget3D::undo()
{
    if (!mesh)
        return;
    if (glReady)
        makeCurrent();
    mesh->undo();
    if (glReady)
        doneCurrent();
    updateMeshStatus();
    emit meshEdited();
}

void Widget3D::invertMask()
{
    editMask(MaskEdit::invert);
}

void Widget3D::clearMask()
{
    editMask(MaskEdit::clear);
}

void Widget3D::editMask(bool (*edit)(Mesh &))
{
    if (!mesh)
        return;
    if (glReady)
        makeCurrent();
    const bool changed = edit(*mesh);
    if (glReady)
        doneCurrent();
    if (changed)
        emit meshEdited();
}

void Widget3D::redo()
{
    if (!mesh)
        return;
    if (glReady)
        makeCurrent();
    mesh->redo();
    if (glReady)
        doneCurrent();
    updateMeshStatus();
    emit meshEdited();
}
