#include "pointerrule.h"

#include "filelistview.h"
#include "form1.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QPushButton>

PointerRule::PointerRule(Form1 *form) : QObject(form), m_form(form)
{
    // Moves without a pressed button reach only widgets that track the mouse; moves
    // over the other controls travel up to the window.
    QWidget *watched[] = {form,
                          form->PushButton1,
                          form->PushButton2,
                          form->PushButton4,
                          form->ListView1,
                          form->ListView1->viewport(),
                          form->ListView1->header(),
                          form->ListView1->header()->viewport()};
    for (QWidget *widget : watched) {
        widget->setMouseTracking(true);
        widget->installEventFilter(this);
    }
}

void PointerRule::point(int pointer)
{
    if (m_form->mousePointer() != vbHourglass && m_form->mousePointer() != pointer)
        m_form->setMousePointer(pointer);
}

bool PointerRule::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::MouseMove)
        return false;
    if (watched == m_form->PushButton1 || watched == m_form->PushButton2 ||
        watched == m_form->PushButton4) {
        point(vbCustom);
    } else if (watched == m_form) {
        // Only the bare background: moves over a control that does not track the
        // mouse arrive here too.
        const auto *move = static_cast<QMouseEvent *>(event);
        if (!m_form->childAt(move->position().toPoint()))
            point(vbDefault);
    } else {
        point(vbDefault); // the list, its header and its scroll area
    }
    return false;
}
