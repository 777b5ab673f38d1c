#include "startup.h"

#include "cursorfile.h"
#include "engineclient.h"
#include "enginepool.h"
#include "filelistview.h"
#include "helpers.h"
#include "homepage.h"
#include "mainmodule.h"
#include "settings.h"
#include "skinengine.h"
#include "splash.h"
#include "splashshow.h"
#include "twips.h"

#include <QApplication>
#include <QIcon>
#include <QPixmap>
#include <QSlider>

#include <cstdlib>

void loadMainWindow(Form1 &form)
{
    const Form1Environment &environment = form.environment();
    const SettingsStore store(environment.settingsFolder);

    CenterOnScreen(&form);

    auto *skin = new SkinEngine(&form);
    skin->setObjectName(QStringLiteral("SkinFramework1"));
    ApplySkin(form, *skin, environment.programFolder);

    form.setWindowTitle(QStringLiteral("Pagelift"));
    form.setWindowIcon(QIcon(QStringLiteral(":/pagelift.png")));

    const QString handFile = environment.programFolder + QStringLiteral("/HAND-M.CUR");
    if (FileExists(handFile)) {
        // A cursor file that cannot be read leaves the arrow in its place.
        const CursorFile hand = CursorFile::read(handFile);
        if (hand.status == CursorFile::Status::Ok)
            form.setMouseIcon(
                QCursor(QPixmap::fromImage(hand.image), hand.hotSpot.x(), hand.hotSpot.y()));
    }

    OpenHomePageAtRandom(environment.randomFraction, environment.openHomePage);

    // Stays loaded and hidden after its pause, and goes with the main window. Not a
    // child of it, so that the main window's skin leaves the splash's looks alone.
    auto *splash = new Splash;
    QObject::connect(&form, &QObject::destroyed, splash, [splash] { delete splash; });
    SplashShow(*splash, {store, environment.programFolder, environment.splashPause});

    form.ListView1->setHeaderLabels({QStringLiteral(" Word File(s)")});
    form.ListView1->setColumnWidth(0, twips::toPixels(5700));

    form.Slider1->setValue(settings::readInt(store, settings::kSlider1));
    // Connected only now, so that restoring the value writes nothing.
    QObject::connect(form.Slider1, &QSlider::valueChanged, &form,
                     [store](int value) { settings::write(store, settings::kSlider1, value); });
}

void useEnginePool(Form1Environment &environment, std::shared_ptr<EnginePool> pool)
{
    environment.createWord = pooledEngineFactory(pool);
    environment.expectDocuments = [pool](const QStringList &documents) { pool->expect(documents); };
}

Form1Environment realEnvironment()
{
    Form1Environment environment;
    environment.settingsFolder = SettingsStore::userFolder();
    environment.programFolder = QCoreApplication::applicationDirPath();
    // The launcher starts now, beside the splash window, so the first document
    // already finds an engine made ready.
    useEnginePool(environment, std::make_shared<EnginePool>(environment.programFolder));
    environment.openHomePage = [](const QString &address) { openInBrowser(address); };
    environment.randomFraction = timeOfDayRandomFraction;
    environment.splashPause = std::chrono::seconds(4);
    // The window is gone and the engines are killed; nothing that was running when
    // the window closed is to continue.
    environment.endProgram = [] { std::_Exit(0); };
    return environment;
}

int runPagelift(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("pagelift"));
    Form1 form(realEnvironment());
    loadMainWindow(form);
    form.show();
    return app.exec();
}
