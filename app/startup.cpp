#include "startup.h"

#include "browser.h"
#include "cursorfile.h"
#include "dirlisting.h"
#include "dropping.h"
#include "engineclient.h"
#include "enginepool.h"
#include "filelistview.h"
#include "pagememory.h"
#include "pathbytes.h"
#include "sandboxstatus.h"
#include "programfiles.h"
#include "settings.h"
#include "skinengine.h"
#include "splash.h"
#include "splashshow.h"
#include "startupsteps.h"
#include "twips.h"
#include "windowplacement.h"

#include <QApplication>
#include <QIcon>
#include <QPixmap>
#include <QSlider>

#include <cstdio>
#include <cstdlib>
#include <optional>

void loadMainWindow(MainWindow &window)
{
    const MainWindowEnvironment &environment = window.environment();
    const SettingsStore store(environment.settingsFolder);

    centerOnScreen(&window);

    auto *skin = new SkinEngine(&window);
    skin->setObjectName(QStringLiteral("SkinFramework1"));
    applySkin(window, *skin, environment.programFolder);

    window.setWindowTitle(QStringLiteral("Pagelift"));
    window.setWindowIcon(QIcon(QStringLiteral(":/pagelift.png")));

    const QString handFile =
        programfiles::dataPath(environment.programFolder, QStringLiteral("HAND-M.CUR"));
    if (fileExists(handFile)) {
        // A cursor file that cannot be read leaves the arrow in its place.
        const CursorFile hand = CursorFile::read(handFile);
        if (hand.status == CursorFile::Status::Ok)
            window.setMouseIcon(
                QCursor(QPixmap::fromImage(hand.image), hand.hotSpot.x(), hand.hotSpot.y()));
    }

    openHomePageAtRandom(environment.randomFraction, environment.openHomePage);

    // Stays loaded and hidden after its pause, and goes with the main window. Not a
    // child of it, so that the main window's skin leaves the splash's looks alone.
    auto *splash = new Splash;
    QObject::connect(&window, &QObject::destroyed, splash, [splash] { delete splash; });
    showSplash(*splash, {store, environment.programFolder, environment.splashPause});

    window.fileList->setHeaderLabels({QStringLiteral(" Word File(s)")});
    window.fileList->setColumnWidth(0, twips::toPixels(5700));

    window.qualitySlider->setValue(settings::readInt(store, settings::kQuality));
    // Connected only now, so that restoring the value writes nothing.
    QObject::connect(window.qualitySlider, &QSlider::valueChanged, &window,
                     [store](int value) { settings::write(store, settings::kQuality, value); });
}

DocumentOptions documentOptions(const SettingsStore &store)
{
    return {settings::readInt(store, settings::kTimeout) * 1000,
            settings::readInt(store, settings::kResolution)};
}

void useEnginePool(MainWindowEnvironment &environment, std::shared_ptr<EnginePool> pool)
{
    // Read for every document: settings are never cached.
    const SettingsStore store(environment.settingsFolder);
    environment.createWord = [pool, store] {
        return pooledEngineFactory(pool, documentOptions(store))();
    };
    environment.expectDocuments = [pool, store](const QStringList &documents) {
        pool->expect(documents, documentOptions(store).dpi);
    };
}

MainWindowEnvironment realEnvironment()
{
    MainWindowEnvironment environment;
    environment.settingsFolder = SettingsStore::userFolder();
    environment.programFolder = QCoreApplication::applicationDirPath();
    // The launcher starts now, beside the splash window, so the first document
    // already finds an engine made ready. Its engines read what LinkedFiles allowed
    // when the window opened.
    SandboxChoice sandbox;
    if (settings::readChoice(SettingsStore(environment.settingsFolder), settings::kLinkedFiles) ==
        1)
        sandbox.linkedFiles = LinkedFiles::Beside;
    const QString engineFolder = programfiles::engineFolder(environment.programFolder);
    useEnginePool(environment,
                  std::make_shared<EnginePool>(engineFolder, kDefaultCallTimeoutMs, 0,
                                               2, EnginePool::kDefaultDocumentsPerEngine, sandbox));
    environment.sandboxNotice = [engineFolder] {
        return sandboxNotice(sandboxStatus(engineFolder));
    };
    environment.openHomePage = [](const QString &address) { openInBrowser(address); };
    environment.randomFraction = [] { return timeOfDayRandomFraction(); };
    environment.splashPause = std::chrono::seconds(4);
    // The window is gone and the engines are killed; nothing that was running when
    // the window closed is to continue.
    environment.endProgram = [] { std::_Exit(0); };
    return environment;
}

std::optional<int> answerOnTheTerminal(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::fputs("usage: pagelift [OPTIONS] [FILE|FOLDER...]\n"
                       "Opens Pagelift's window with the documents in its list (a folder adds\n"
                       "every file of its tree). To convert without a window, see\n"
                       "pagelift-convert --help.\n"
                       "\n"
                       "  FILE|FOLDER           a document, or a folder whose every file is added\n"
                       "  -h, --help            this text\n"
                       "      --version         the program's version\n",
                       stdout);
            return 0;
        }
        if (argument == "--version") {
            std::printf("pagelift %s\n", PAGELIFT_VERSION);
            return 0;
        }
    }
    return std::nullopt;
}

int runPagelift(int argc, char *argv[], const std::function<void(MainWindow &)> &shown)
{
    if (const std::optional<int> answered = answerOnTheTerminal(argc, argv))
        return *answered;
    // Pages come and go at the same sizes: their memory is kept for the next one.
    keepPageMemoryForReuse();
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("pagelift"));
    MainWindow window(realEnvironment());
    loadMainWindow(window);
    // Files and folders opened with the program (from a file manager's "Open with")
    // land in the list as a drop would put them there; Qt has taken its own options.
    QStringList paths;
    for (int i = 1; i < argc; ++i)
        paths << decodePath(QByteArray(argv[i]));
    appendDroppedPaths(*window.fileList, paths);
    window.show();
    if (shown)
        shown(window);
    return app.exec();
}
