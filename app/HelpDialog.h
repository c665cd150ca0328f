#pragma once

#include <QDialog>

class QMainWindow;

// The controls reference of the "&Help" menu: mouse, pen and keys of the view, the brush tools,
// the topology modes and the options. Not modal, so that it can stay open while sculpting.
class HelpDialog : public QDialog
{
    Q_OBJECT

public:
    explicit HelpDialog(QWidget *parent = nullptr);

    // The reference as rich text.
    static QString controlsText();
    static QString aboutText();

    // Adds "&Help" with "&Controls" and "&About" to the window's menu bar.
    static void addHelpMenu(QMainWindow *window);
    // Opens the window's controls dialog, or raises it when it is already open.
    static HelpDialog *showControls(QWidget *parent);
    // The "About" box, window-modal but not blocking.
    static void showAbout(QWidget *parent);
};
