#pragma once

#include "mousepointer.h"

#include <QList>
#include <QObject>

class QWidget;

// Switches a window's pointer as the mouse moves: the hand over the hand widgets, the
// arrow over the window's bare background and the arrow widgets, nothing over the
// other controls; the hourglass of long work is never replaced.
class PointerRule : public QObject
{
    Q_OBJECT
public:
    PointerRule(QWidget *window, PointerOwner &owner, QList<QWidget *> handWidgets,
                QList<QWidget *> arrowWidgets);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void point(MousePointer pointer);

    QWidget *m_window;
    PointerOwner &m_owner;
    QList<QWidget *> m_handWidgets;
};
