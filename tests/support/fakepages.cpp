#include "fakepages.h"

#include "madedocuments.h"

#include <QDir>

QString writeScript(const QString &folder, const QString &name, const QString &text)
{
    const QString path = QDir(folder).filePath(name);
    if (!writeFile(path, text.toUtf8()))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

bool isFakePage(const QImage &image, int page, int top, int width, int height)
{
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (image.pixel(x, top + y) != qRgba(y % 256, x % 256, page, 255))
                return false;
        }
    }
    return true;
}
