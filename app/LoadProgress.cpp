#include "LoadProgress.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProgressBar>
#include <QStatusBar>

const QString LoadProgress::parsingMessage = QStringLiteral("Loading : parsing");

LoadProgress::LoadProgress(QStatusBar *statusBar)
    : bar(statusBar)
{
    if (bar)
        progressBarWidget = progressBar(bar);
}

LoadProgress::~LoadProgress()
{
    if (progressBarWidget)
        progressBarWidget->hide();
}

QProgressBar *LoadProgress::progressBar(QStatusBar *statusBar)
{
    const QString name = QStringLiteral("loadProgress");
    if (auto *existing = statusBar->findChild<QProgressBar *>(name))
        return existing;
    auto *progress = new QProgressBar(statusBar);
    progress->setObjectName(name);
    progress->setRange(0, 100);
    progress->setMaximumWidth(240);
    progress->setTextVisible(true);
    statusBar->addPermanentWidget(progress);
    progress->hide();
    return progress;
}

MessageSink LoadProgress::messages()
{
    return [this](const QString &text) { showMessage(text); };
}

ProgressSink LoadProgress::progress()
{
    return [this](int percent) { showProgress(percent); };
}

void LoadProgress::showMessage(const QString &text)
{
    if (!bar)
        return;
    // The bar first, so that it is up (or gone) by the time the message is shown.
    if (progressBarWidget) {
        if (text == parsingMessage) {
            progressBarWidget->show();
            progressBarWidget->setValue(0);
        } else {
            progressBarWidget->hide();
        }
    }
    bar->showMessage(text, 0);
    repaint();
}

void LoadProgress::showProgress(int percent)
{
    // A new value repaints the bar at once: at most every 40 ms, so that a slow display does
    // not slow the load, and always the end.
    if (!progressBarWidget
        || (percent < 100 && sinceRepaint.isValid() && sinceRepaint.elapsed() < 40))
        return;
    progressBarWidget->show();
    progressBarWidget->setValue(percent);
    repaint();
}

void LoadProgress::repaint()
{
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    sinceRepaint.start();
}
