#include "WidgetMap.h"

#include <QAbstractButton>
#include <QSaveFile>
#include <QSlider>
#include <QTextStream>
#include <QWidget>

bool writeWidgetMap(const QWidget *window, const QString &path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    QTextStream out(&file);
    const auto line = [&out](const char *kind, const QWidget *w, const QString &name) {
        const QPoint centre = w->mapToGlobal(w->rect().center());
        out << kind << ' ' << centre.x() << ' ' << centre.y() << ' ' << w->width() << ' ' << name
            << '\n';
    };
    for (const QAbstractButton *button : window->findChildren<QAbstractButton *>()) {
        if (button->isVisible() && !button->text().isEmpty())
            line("button", button, button->text());
    }
    for (const QSlider *slider : window->findChildren<QSlider *>()) {
        if (slider->isVisible())
            line("slider", slider, slider->objectName());
    }
    out.flush();
    return file.commit();
}
