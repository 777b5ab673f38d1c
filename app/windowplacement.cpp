#include "helpers.h"

#include "pathbytes.h"
#include "twips.h"

#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <sys/stat.h>

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

bool fileExists(const QString &path)
{
    // stat() of "file/" fails, but of "folder/" it succeeds; neither names a file.
    if (path.isEmpty() || path.endsWith(QLatin1Char('/')))
        return false;
    struct stat info;
    return ::stat(encodePath(path).constData(), &info) == 0;
}
