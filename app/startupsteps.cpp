#include "startupsteps.h"

#include "mainwindow.h"
#include "programfiles.h"
#include "skinengine.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QTime>

#include <cmath>
#include <random>

namespace {

void setButtonFace(QWidget *widget)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, QApplication::palette().color(QPalette::Button));
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

// The window's controls, in creation order, without descending into other windows
// (the splash window is a child of the main window).
void recolourControls(QWidget *parent)
{
    for (QObject *child : parent->children()) {
        auto *control = qobject_cast<QWidget *>(child);
        if (!control || control->isWindow())
            continue;
        if (qobject_cast<QGroupBox *>(control) || qobject_cast<QCheckBox *>(control) ||
            qobject_cast<QRadioButton *>(control) || qobject_cast<QLabel *>(control))
            setButtonFace(control);
        recolourControls(control);
    }
}

} // namespace

void applySkin(MainWindow &window, SkinEngine &engine, const QString &programFolder)
{
    const QString skinFile = programfiles::dataPath(programFolder, QLatin1String(kSkinFile));
    // An ordinary file only: not a folder, and no name that begins with ".".
    const QFileInfo info(skinFile);
    if (!info.isFile() || info.fileName().startsWith(QLatin1Char('.')))
        return;

    setButtonFace(&window);
    recolourControls(&window);

    engine.loadSkin(skinFile, QString());
    engine.setOptions(engine.options() | SkinEngine::RestyleDialogs);
    engine.setEnabled(true);
    engine.setFollowSystemColors(true);
    engine.applyWindow(&window);
}

int homePageNumber(double r)
{
    return int(std::floor(r * 100)) + 1;
}

void openHomePageAtRandom(const std::function<double()> &randomFraction,
                          const std::function<void(const QString &)> &openHomePage)
{
    const double r = randomFraction ? randomFraction() : timeOfDayRandomFraction();
    if (homePageNumber(r) == 7 && openHomePage)
        openHomePage(QLatin1String(kHomePage));
}

double timeOfDayRandomFraction(QTime now)
{
    std::mt19937 generator(unsigned(now.msecsSinceStartOfDay() / 1000));
    return std::uniform_real_distribution<double>(0.0, 1.0)(generator);
}
