#pragma once

#include <QPointF>
#include <QSizeF>

class QWidget;

// Places a top-level window in the middle of the primary screen; only its position
// changes. A window larger than the screen gets a negative left or top.
void centerOnScreen(QWidget *window);

// The top-left corner, in twips, that centres a window of outer size `window` on a
// screen of size `screen` (both in twips).
QPointF centeredPosition(QSizeF window, QSizeF screen);
