#pragma once

#include <QString>

class QWidget;

// Writes where the controls of a window are on the screen, one line per visible button or
// slider: its kind ("button" or "slider"), the global x and y of its centre, its width, then its
// text (buttons) or object name (sliders). Scripts that drive the real program with synthetic
// input events read it to find the controls. Returns false when the file cannot be written.
bool writeWidgetMap(const QWidget *window, const QString &path);
