#include "splashshow.h"

#include "dirlisting.h"
#include "events.h"
#include "lineshape.h"
#include "picturebox.h"
#include "programfiles.h"
#include "splash.h"
#include "twips.h"
#include "windowplacement.h"

#include <QCheckBox>
#include <QDeadlineTimer>
#include <QFile>
#include <QImageReader>

namespace {

constexpr double kStrip = 300;        // below the picture, for the check box
constexpr double kCheckGap = 20;      // between the check box and the bottom edge
constexpr double kFrameInset = 10;    // of the right and bottom lines
constexpr double kLineLength = 10000; // the window clips the rest
constexpr char kShownProperty[] = "pagelift_splashShown";

} // namespace

SplashGeometry splashGeometry(QSizeF pictureTwips)
{
    const double w = pictureTwips.width();
    const double h = pictureTwips.height() + kStrip;
    const double checkHeight = 375;
    SplashGeometry g;
    g.window = QSizeF(w, h);
    g.check1 = QRectF(120, h - checkHeight - kCheckGap, 4215, checkHeight);
    g.lines = {QLineF(0, 0, 0, kLineLength), QLineF(0, 0, kLineLength, 0),
               QLineF(w - kFrameInset, 0, w - kFrameInset, kLineLength),
               QLineF(0, h - kFrameInset, kLineLength, h - kFrameInset)};
    return g;
}

QString firstListedFile(const QString &folder)
{
    // Plain files only, in the file system's own order: no hidden files, no folders.
    DirListing listing(folder.endsWith(u'/') ? folder : folder + u'/', 0);
    return listing.next() ? listing.name() : QString();
}

void showSplash(Splash &window, const SplashEnvironment &environment)
{
    if (window.property(kShownProperty).toBool())
        return;
    if (settings::read(environment.store, settings::kShowAgain) != 0)
        return;

    const QString folder =
        programfiles::dataPath(environment.programFolder, QStringLiteral("Splash")) + u'/';
    const QString picturePath = folder + firstListedFile(folder);
    if (!fileExists(picturePath))
        return;
    QImageReader reader(picturePath);
    const QImage picture = reader.read();
    if (picture.isNull()) // not a picture: start-up goes on without the window
        return;

    window.setWindowTitle(QStringLiteral("Pagelift"));
    window.picture->move(0, 0);
    window.picture->setPicture(picture);
    const SplashGeometry g = splashGeometry(
        QSizeF(twips::fromPixels(picture.width()), twips::fromPixels(picture.height())));
    const QSize outer = twips::size(g.window.width(), g.window.height());
    window.picture->resize(outer); // the strip below the picture shows the background
    window.setFixedSize(outer);
    window.hideCheckBox->setGeometry(
        twips::rect(g.check1.x(), g.check1.y(), g.check1.width(), g.check1.height()));
    for (size_t i = 0; i < window.frame.size(); ++i)
        window.frame[i]->setEnds(g.lines[i].x1(), g.lines[i].y1(), g.lines[i].x2(),
                                 g.lines[i].y2());

    // Every change of the box is stored at once.
    const SettingsStore store = environment.store;
    const QMetaObject::Connection writeOnToggle =
        QObject::connect(window.hideCheckBox, &QCheckBox::toggled, &window, [store](bool checked) {
            settings::write(store, settings::kShowAgain, checked ? 1 : 0);
        });

    window.setProperty(kShownProperty, true);
    window.show();
    centerOnScreen(&window);
    // The window's events keep flowing until the time is up, by the monotonic clock.
    events::processUntil(QDeadlineTimer(environment.pause, Qt::PreciseTimer));
    window.hide();
    QObject::disconnect(writeOnToggle);
}
