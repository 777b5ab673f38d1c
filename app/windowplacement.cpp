#include "windowplacement.h"

#include "twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

QPointF centeredPosition(QSizeF window, QSizeF screen)
{
    return QPointF((screen.width() - window.width()) / 2, (screen.height() - window.height()) / 2);
}

void centerOnScreen(QWidget *window)
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!window || !screen)
        return;
    // The whole screen, task bar included; the window's outer size, frame included.
    const QRect screenRect = screen->geometry();
    const QSize outer = window->frameGeometry().size();
    const QPointF corner = centeredPosition(
        QSizeF(twips::fromPixels(outer.width()), twips::fromPixels(outer.height())),
        QSizeF(twips::fromPixels(screenRect.width()), twips::fromPixels(screenRect.height())));
    window->move(screenRect.topLeft() + twips::point(corner.x(), corner.y()));
}
