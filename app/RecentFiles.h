#pragma once

#include <QObject>
#include <QStringList>

class QMenu;
class QWidget;

// The "Recent files" submenu of the File menu: the last files that opened successfully, newest
// first, kept in the user's settings. Choosing an entry asks for the file to be opened through
// `openRequested`; a file that no longer exists is removed from the list with a message instead.
class RecentFiles : public QObject
{
    Q_OBJECT

public:
    static constexpr int maxFiles = 8;

    // `menu` is filled and kept up to date; messages are shown over `parent`.
    RecentFiles(QMenu *menu, QWidget *parent);

    QStringList files() const;

public slots:
    // Puts `path` at the top of the list (once), dropping the oldest beyond maxFiles.
    void add(const QString &path);

signals:
    void openRequested(const QString &path);

private:
    void store(const QStringList &files);
    void choose(const QString &path);
    void rebuild();

    QMenu *menu;
    QWidget *parent;
};
