#pragma once

#include <QWidget>

// A line drawn on its container from (x1, y1) to (x2, y2), in twips, in the
// window-text colour, one pixel wide. It takes no input; the container clips what
// lies beyond its edges.
class LineShape : public QWidget
{
    Q_OBJECT
public:
    explicit LineShape(QWidget *parent = nullptr);

    void setEnds(double x1, double y1, double x2, double y2);
    double x1() const { return m_x1; }
    double y1() const { return m_y1; }
    double x2() const { return m_x2; }
    double y2() const { return m_y2; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    double m_x1 = 0, m_y1 = 0, m_x2 = 0, m_y2 = 0;
};
