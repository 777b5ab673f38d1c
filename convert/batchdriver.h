#pragma once

#include "pageexporter.h"

#include <QString>
#include <QStringList>
#include <functional>

class BusyPointer;
class Dialogs;
class PointerOwner;
class QProgressBar;
class QWidget;
class RunImages;

// What a batch run reads and writes on the main window.
struct BatchHost
{
    QWidget *window = nullptr; // owner of the run's message boxes
    Dialogs *dialogs = nullptr;
    PointerOwner *pointer = nullptr;
    QProgressBar *progressBar = nullptr;
    std::function<int()> rowCount;           // the file list, read as the run goes
    std::function<QString(int row)> rowText; // row 1 is the top one
    ExportHost exporter;                     // its pageWritten is the run's own
    WordFactory createWord;
    std::function<bool()> isOfficeRunning;
    // Told, as each document's turn comes, that document and the ones listed after it
    // (the next two), so that engines can open those ahead; told an empty list when
    // the run ends. Optional.
    std::function<void(const QStringList &documents)> expectDocuments;
    // What the user is told once, at the end of the first run, about the engines'
    // sandbox: empty when it is wholly in force. Optional.
    std::function<QString()> sandboxNotice;
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

private:
    void convertAll(BusyPointer &busy);
    // Tells expectDocuments the document at `position` and those after it.
    void expectFrom(int position, const QString &document);
    void expectNothing();
    // No image of the run may be written over a document of the list.
    void protectListedDocuments();
    // The run's last message: `message`, then what the run replaced of its own and
    // left out of its documents, and after the first run what the sandbox lacks.
    QString finalMessage(const QString &message, const RunImages &written,
                         const QStringList &leftOut);

    BatchHost m_host;
    bool m_running = false;
    bool m_sandboxTold = false;
};
