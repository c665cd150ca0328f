#include "StartHint.h"

#include <QEvent>

const QString StartHint::message = QStringLiteral("Open a mesh with Ctrl+O, or drop a file here");

StartHint::StartHint(QWidget *view)
    : QLabel(message, view)
{
    setObjectName(QStringLiteral("startHint"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAlignment(Qt::AlignCenter);
    QFont big = font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    setFont(big);
    // Light grey on the dark grey background of the view.
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, QColor(190, 190, 190));
    setPalette(colours);
    view->installEventFilter(this);
    centre();
}

bool StartHint::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        centre();
    return QLabel::eventFilter(watched, event);
}

void StartHint::centre()
{
    const QSize size = sizeHint();
    const QRect area = parentWidget()->rect();
    setGeometry(QRect(area.center() - QPoint(size.width() / 2, size.height() / 2), size));
}
