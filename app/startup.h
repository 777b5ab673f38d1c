#pragma once

#include "engineclient.h"
#include "mainwindow.h"
#include "settings.h"

#include <memory>

class EnginePool;

// The main window's load: the whole start-up, in its fixed order, before the window
// is first shown. Uses what the window's environment names.
void loadMainWindow(MainWindow &form);

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

// Starts the program: the main window, until it is closed.
int runPagelift(int argc, char *argv[]);
