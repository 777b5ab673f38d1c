#pragma once

#include "settings.h"

#include <QLineF>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <array>
#include <chrono>

class Splash;

// What `showSplash` reaches beyond the window.
struct SplashEnvironment
{
    SettingsStore store;
    QString programFolder; // holds the folder "Splash"
    std::chrono::milliseconds pause{4000};
};

// Where the splash window's parts go for a picture of a given size, all in twips.
struct SplashGeometry
{
    QSizeF window;
    QRectF check1;
    std::array<QLineF, 4> lines; // of the frame: left, top, right, bottom
};
SplashGeometry splashGeometry(QSizeF pictureTwips);

// The first name that the folder's unsorted listing returns among its ordinary
// files (no hidden files, no folders); empty when there is none.
QString firstListedFile(const QString &folder);

// Shows the splash window for its pause, unless "ShowAgain" says otherwise or there
// is no picture to show; returns when it is hidden again. The window is shown at
// most once in a run.
void showSplash(Splash &window, const SplashEnvironment &environment);
