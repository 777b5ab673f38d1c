#include "browser.h"

#include <QProcess>

bool openInBrowser(const QString &address)
{
    return QProcess::startDetached(QStringLiteral("xdg-open"), {address});
}
