#pragma once

#include <QString>
#include <QTime>

#include <functional>

class MainWindow;
class SkinEngine;

// The publisher's home page, opened now and then at start-up.
inline constexpr const char *kHomePage = "https://orvanta.example/pagelift";

// The skin file, relative to the program folder (or the installed data folder).
inline constexpr const char *kSkinFile = "x/o.cjs";

// Skins the main window when the skin file is present: the window and its frames,
// check boxes, option buttons and labels take the system's button-face colour, and
// the skin engine restyles the window. Without the file nothing changes.
void applySkin(MainWindow &window, SkinEngine &engine, const QString &programFolder);

// The number from 1 to 100 that a draw r in [0, 1) stands for.
int homePageNumber(double r);

// On a draw of 7 (about one start in a hundred) opens the home page.
void openHomePageAtRandom(const std::function<double()> &randomFraction,
                          const std::function<void(const QString &)> &openHomePage);

// A uniform draw in [0, 1) from a generator seeded with the time of day `now`, in
// whole seconds since midnight: starts within the same second draw the same.
double timeOfDayRandomFraction(QTime now = QTime::currentTime());
