#include "HelpDialog.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace {

struct Row
{
    const char *what;
    const char *does;
};

QString table(const char *title, std::initializer_list<Row> rows)
{
    QString html = QStringLiteral("<h3>%1</h3><table cellspacing='0' cellpadding='3'>")
                       .arg(QLatin1String(title));
    for (const Row &row : rows)
        html += QStringLiteral("<tr><td valign='top'><b>%1</b></td><td>%2</td></tr>")
                    .arg(QLatin1String(row.what), QLatin1String(row.does));
    return html + QStringLiteral("</table>");
}

} // namespace

HelpDialog::HelpDialog(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("controlsDialog"));
    setWindowTitle(QStringLiteral("Controls"));
    auto *text = new QTextBrowser;
    text->setObjectName(QStringLiteral("controlsText"));
    text->setHtml(controlsText());
    text->setOpenLinks(false);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addWidget(buttons);
    resize(620, 680);
}

QString HelpDialog::controlsText()
{
    QString html;
    html += table("Mouse and keys in the view",
        {
            {"left drag", "turn the camera"},
            {"middle drag", "pan"},
            {"wheel", "zoom"},
            {"right drag", "sculpt with the current tool; one stroke is one undo step"},
            {"Ctrl held while sculpting",
                "invert the tool: inflate and deflate swap, mask erases the mask, crease "
                "raises a ridge"},
            {"Z Q S D, arrow keys", "move the camera forward, left, back and right while held"},
            {"Shift held while sculpting",
                "smooth, whatever the tool; released, the chosen tool comes back"},
            {"Ctrl held while sculpting", "inflate and deflate swap for that stroke"},
            {"[ and ]", "brush radius one step smaller or larger (the Radius slider follows)"},
            {"O", "show or hide the octree boxes"},
            {"Ctrl+O", "open a mesh file (binary or text STL, OBJ, 3DS)"},
            {"Ctrl+S", "save the mesh as binary STL, or as OBJ for a name ending in .obj"},
            {"Ctrl+Z, Ctrl+Y", "undo, redo"},
            {"Ctrl+Q", "exit"},
            {"drop a file", "open a mesh file dropped on the window"},
            {"File, Recent files",
                "the last eight files opened; one that no longer exists is removed from the "
                "list"},
            {"next start", "the window's size, position and docks come back as they were left"},
        });
    html += table("Graphics tablet",
        {
            {"pen tip with the barrel button", "sculpt; the pen's pressure scales the intensity"},
            {"pen tip alone",
                "sculpt while \"pen sculpts\" is checked, otherwise turn the camera "
                "like the left button"},
        });
    html += table("Tools",
        {
            {"Radius", "the brush size on the screen, in pixels"},
            {"inflate", "pushes the surface outwards along its normals, most at the brush centre"},
            {"deflate", "pushes the surface inwards"},
            {"smooth", "evens out bumps: each vertex moves towards the average of its neighbours"},
            {"flatten", "pulls the surface onto the mean plane of the brushed area"},
            {"sweep", "drags the surface along with the cursor, like pulling clay"},
            {"mask",
                "paints a mask that protects the surface: masked parts are drawn darker, no "
                "tool moves them and the topology leaves them as they are"},
            {"crease", "draws a sharp valley along the stroke, pinching the surface towards it"},
            {"Invert mask, Clear mask",
                "in the Edit menu: swap masked and free parts, or free the whole surface (each "
                "one undo step)"},
            {"Intensity", "how strongly each brush step acts"},
        });
    html += table("Topology (re-meshing under the brush)",
        {
            {"static", "keeps the triangles as they are; only vertices move"},
            {"subdivide", "splits edges that grow longer than the detail allows"},
            {"decimate", "collapses edges that become shorter than the detail allows"},
            {"uniform", "both, so that edges under the brush keep about one length"},
            {"adaptive", "like uniform, and fuses surfaces that the brush pushes together"},
            {"Detail",
                "the edge length the topology aims for, relative to the brush: higher "
                "gives finer triangles"},
        });
    html += table("Options",
        {
            {"culling", "sculpt only the side of the surface that faces you"},
            {"symmetry",
                "mirror every stroke across the plane x = 0 of the model (not with "
                "sweep)"},
            {"pen sculpts", "let the pen tip alone sculpt"},
        });
    return html;
}

QString HelpDialog::aboutText()
{
    return QStringLiteral("<h3>Argilium</h3>"
                          "<p>Sculpt triangle meshes as if they were clay.</p>"
                          "<p>Reads binary and text STL, OBJ and 3DS files; writes binary STL "
                          "and OBJ.</p>"
                          "<p>Built with Qt %1.</p>")
        .arg(QLatin1String(QT_VERSION_STR));
}

void HelpDialog::addHelpMenu(QMainWindow *window)
{
    QMenu *helpMenu = window->menuBar()->addMenu(QStringLiteral("&Help"));
    QAction *controls = helpMenu->addAction(QStringLiteral("&Controls"));
    controls->setShortcut(QKeySequence::HelpContents);
    QAction *about = helpMenu->addAction(QStringLiteral("&About"));
    connect(controls, &QAction::triggered, window, [window] { showControls(window); });
    connect(about, &QAction::triggered, window, [window] { showAbout(window); });
}

HelpDialog *HelpDialog::showControls(QWidget *parent)
{
    auto *dialog = parent->findChild<HelpDialog *>(QString(), Qt::FindDirectChildrenOnly);
    if (!dialog)
        dialog = new HelpDialog(parent);
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
    return dialog;
}

void HelpDialog::showAbout(QWidget *parent)
{
    auto *box = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("About Argilium"), aboutText(),
        QMessageBox::Ok, parent);
    box->setObjectName(QStringLiteral("aboutBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}
