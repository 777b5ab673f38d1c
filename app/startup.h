#pragma once

#include "engineclient.h"
#include "mainwindow.h"
#include "settings.h"

#include <functional>
#include <memory>
#include <optional>

class EnginePool;

// The main window's load: the whole start-up, in its fixed order, before the window
// is first shown. Uses what the window's environment names.
void loadMainWindow(MainWindow &window);

// How the window converts a document: the settings "Timeout" (seconds) and
// "Resolution" (pixels per inch).
DocumentOptions documentOptions(const SettingsStore &store);

// Lets the window's runs take their engines from `pool` and tell it the documents
// that come next, as the real program does. Each document is converted with the
// documentOptions of the environment's settings folder, read as its turn comes.
void useEnginePool(MainWindowEnvironment &environment, std::shared_ptr<EnginePool> pool);

// The environment of the real program: the user's settings, the executable's
// folder, the browser, the time-of-day draw, the four-second splash and an end
// that never returns.
MainWindowEnvironment realEnvironment();

// --help and --version, answered on the terminal without a window (and without a
// display); nothing when the arguments ask for the window.
std::optional<int> answerOnTheTerminal(int argc, char *argv[]);

// Starts the program: the main window, with the documents and folders named on the
// command line in its list, until it is closed. `shown` runs once the window is shown.
int runPagelift(int argc, char *argv[], const std::function<void(MainWindow &)> &shown = {});
