#pragma once

#include <QObject>

class Form1;

// Switches the main window's pointer as the mouse moves: the hand over the three
// buttons, the arrow over the window's background and the list, nothing over the
// other controls; the hourglass of long work is never replaced.
class PointerRule : public QObject
{
    Q_OBJECT
public:
    explicit PointerRule(Form1 *form);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void point(int pointer);
    Form1 *m_form;
};
