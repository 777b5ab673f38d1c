#include "lineshape.h"

#include "twips.h"

#include <QPainter>
#include <algorithm>

LineShape::LineShape(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
}

void LineShape::setEnds(double x1, double y1, double x2, double y2)
{
    m_x1 = x1;
    m_y1 = y1;
    m_x2 = x2;
    m_y2 = y2;
    // The widget covers the line's bounding box, one pixel wide at the least.
    const QPoint a = twips::point(x1, y1);
    const QPoint b = twips::point(x2, y2);
    setGeometry(QRect(QPoint(std::min(a.x(), b.x()), std::min(a.y(), b.y())),
                      QPoint(std::max(a.x(), b.x()), std::max(a.y(), b.y()))));
    update();
}

void LineShape::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(QPen(palette().color(QPalette::WindowText), 1));
    const QPoint origin = geometry().topLeft();
    painter.drawLine(twips::point(m_x1, m_y1) - origin, twips::point(m_x2, m_y2) - origin);
}
