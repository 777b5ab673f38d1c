#pragma once

#include <QFont>

// The windows' text face: Arial, bold (fontconfig supplies a metric-compatible face).
inline QFont arialBold(double points)
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    font.setBold(true);
    return font;
}
