#pragma once

#include "word1.h"

#include <QString>
#include <functional>

class Dialogs;
class PointerOwner;
class QProgressBar;
class QWidget;

// What a batch run reads and writes on the main window.
struct BatchHost
{
    QWidget *window = nullptr; // owner of the run's message boxes
    Dialogs *dialogs = nullptr;
    PointerOwner *pointer = nullptr;
    QProgressBar *progressBar = nullptr;
    std::function<int()> rowCount;               // the file list, read as the run goes
    std::function<QString(int position)> rowText; // 1 is the top row
    ExportHost exporter;                         // its pageWritten is the run's own
    WordFactory createWord;
    std::function<bool()> isWordRunning;
};

// The start button: converts every listed document, in list order, each through a
// fresh word processor, and ends with "Done.". An error ends the run with its message;
// the images of the documents done before stay.
class BatchDriver
{
public:
    explicit BatchDriver(BatchHost host);

    // The click handler. A click while a run is going on does nothing.
    void run();
    bool isRunning() const { return m_running; }

private:
    void convertAll();

    BatchHost m_host;
    bool m_running = false;
};
