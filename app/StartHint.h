#pragma once

#include <QLabel>

// A short hint centred over the empty view, shown until a mesh is loaded. It lets mouse events,
// wheel turns and drops through to the view beneath it.
class StartHint : public QLabel
{
    Q_OBJECT

public:
    static const QString message;

    explicit StartHint(QWidget *view);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void centre();
};
