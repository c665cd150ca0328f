#pragma once

#include <QMainWindow>

class Autosave;
class Document;
class QButtonGroup;
class QCloseEvent;
class QDragEnterEvent;
class QDropEvent;
class QDockWidget;
class QKeyEvent;
class QMimeData;
class QPushButton;
class QSlider;
class RecentFiles;
class Widget3D;

// The main window: the 3D view in the centre, the sculpting dock on the left, the mesh dock on
// the right, and the File, Edit and Display menus. Every control drives a slot of the view.
class Window : public QMainWindow
{
    Q_OBJECT

public:
    Window();
    ~Window() override;

    QPushButton *getColorButton() const { return colorButton; }
    QButtonGroup *getShaderGroup() const { return shaderGroup; }
    Widget3D *getView() const { return view; }
    Document *getDocument() const { return document; }
    Autosave *getAutosave() const { return autosave; }
    RecentFiles *getRecentFiles() const { return recentFiles; }
    // The size, position and dock layout of the last window closed, restored from the user's
    // settings (the controls keep their initial values); false when none was saved.
    bool restoreLayout();
    // The mesh file named by a drag's data, or an empty string when it names none we can read.
    static QString droppedMeshFile(const QMimeData *data);

protected:
    // Keys that no child consumed reach the view, even when the focus lies in a dock.
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    // A mesh file dropped anywhere on the window is opened like "&Open" does.
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    // Asks to save unsaved changes first; a clean exit removes the recovery copy.
    void closeEvent(QCloseEvent *event) override;

private:
    void createSculptDock();
    void createMeshDock();
    void createMenus();
    void createRadiusKeys();
    void saveLayout() const;

    Widget3D *view = nullptr;
    QDockWidget *sculptDock = nullptr;
    QDockWidget *meshDock = nullptr;
    QButtonGroup *shaderGroup = nullptr;
    QPushButton *colorButton = nullptr;
    QSlider *radiusSlider = nullptr;
    RecentFiles *recentFiles = nullptr;
    Document *document = nullptr;
    Autosave *autosave = nullptr;
};
