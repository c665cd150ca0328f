#include "RecentFiles.h"

#include "Autosave.h"
#include "Settings.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>

namespace {

const QString settingsKey = QStringLiteral("recentFiles");

} // namespace

RecentFiles::RecentFiles(QMenu *menu, QWidget *parent)
    : QObject(parent)
    , menu(menu)
    , parent(parent)
{
    rebuild();
}

QStringList RecentFiles::files() const
{
    return userSettings().value(settingsKey).toStringList();
}

void RecentFiles::store(const QStringList &files)
{
    userSettings().setValue(settingsKey, files);
    rebuild();
}

void RecentFiles::add(const QString &path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    // A recovery copy is the program's own file, not one the user opened.
    if (absolute.startsWith(QDir(Autosave::folder()).absolutePath() + QLatin1Char('/')))
        return;
    QStringList list = files();
    list.removeAll(absolute);
    list.prepend(absolute);
    store(list.mid(0, maxFiles));
}

void RecentFiles::choose(const QString &path)
{
    if (QFileInfo::exists(path)) {
        emit openRequested(path);
        return;
    }
    QStringList list = files();
    list.removeAll(path);
    store(list);
    auto *box = new QMessageBox(QMessageBox::Warning, tr("Open"),
        QStringLiteral("%1 no longer exists; it is removed from the recent files.").arg(path),
        QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void RecentFiles::rebuild()
{
    // Deleted later: the entry being chosen may be the one whose signal runs this.
    for (QAction *action : menu->actions()) {
        menu->removeAction(action);
        action->deleteLater();
    }
    const QStringList list = files();
    for (int k = 0; k < list.size(); ++k) {
        const QString &path = list[k];
        // "&1 sphere.stl": a number to choose it with, the name, and the whole path as a tip.
        QAction *action = new QAction(menu);
        action->setText(QStringLiteral("&%1 %2").arg(k + 1).arg(QFileInfo(path).fileName()));
        menu->addAction(action);
        action->setData(path);
        action->setToolTip(path);
        connect(action, &QAction::triggered, this, [this, path] { choose(path); });
    }
    menu->setEnabled(!list.isEmpty());
}
