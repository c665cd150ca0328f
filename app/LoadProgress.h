#pragma once

#include "io/Progress.h"
#include "mesh/Mesh.h"

#include <QElapsedTimer>
#include <QPointer>

class QProgressBar;
class QStatusBar;

// Shows a load as it runs in the main window's status bar: every step's message, and a progress
// bar while the file is parsed. The load runs on the GUI thread, so after each change the sinks
// let the event loop process what is pending except user input: the window repaints and keeps
// answering the window system, while clicks and keys wait until the load is over. (The view
// itself does not redraw its unchanged mesh meanwhile; see Widget3D::timerEvent.)
class LoadProgress
{
public:
    // The message that starts the parsing (and shows the bar); any later message hides the bar.
    static const QString parsingMessage;

    // Without a status bar both sinks stay silent.
    explicit LoadProgress(QStatusBar *bar);
    // Hides the progress bar, whatever the load's outcome.
    ~LoadProgress();
    LoadProgress(const LoadProgress &) = delete;
    LoadProgress &operator=(const LoadProgress &) = delete;

    MessageSink messages();
    ProgressSink progress();

    // The status bar's progress bar, made hidden the first time it is asked for.
    static QProgressBar *progressBar(QStatusBar *bar);

private:
    void showMessage(const QString &text);
    void showProgress(int percent);
    // Lets pending events but user input through.
    void repaint();

    QPointer<QStatusBar> bar;
    QPointer<QProgressBar> progressBarWidget;
    QElapsedTimer sinceRepaint;
};
