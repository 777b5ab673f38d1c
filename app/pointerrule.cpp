#include "pointerrule.h"

#include <QMouseEvent>
#include <QWidget>

PointerRule::PointerRule(QWidget *window, PointerOwner &owner, QList<QWidget *> handWidgets,
                         QList<QWidget *> arrowWidgets)
    : QObject(window), m_window(window), m_owner(owner), m_handWidgets(std::move(handWidgets))
{
    // Moves without a pressed button reach only widgets that track the mouse; moves
    // over the other controls travel up to the window.
    const QList<QWidget *> watched = QList<QWidget *>{window} + m_handWidgets + arrowWidgets;
    for (QWidget *widget : watched) {
        widget->setMouseTracking(true);
        widget->installEventFilter(this);
    }
}

void PointerRule::point(MousePointer pointer)
{
    if (m_owner.mousePointer() != MousePointer::Hourglass && m_owner.mousePointer() != pointer)
        m_owner.setMousePointer(pointer);
}

bool PointerRule::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::MouseMove)
        return false;
    if (m_handWidgets.contains(watched)) {
        point(MousePointer::Hand);
    } else if (watched == m_window) {
        // Only the bare background: moves over a control that does not track the
        // mouse arrive here too.
        const auto *move = static_cast<QMouseEvent *>(event);
        if (!m_window->childAt(move->position().toPoint()))
            point(MousePointer::Arrow);
    } else {
        point(MousePointer::Arrow); // an arrow widget
    }
    return false;
}
