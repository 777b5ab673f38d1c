#pragma once

#include "mousepointer.h"
#include "wordapplication.h"

#include <QCursor>
#include <QString>
#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>

class BatchDriver;
class Dialogs;
class FileListView;
class PictureBox;
class QGroupBox;
class QProgressBar;
class QPushButton;
class QSlider;

// What the main window reaches beyond itself. Tests put stand-ins here.
struct MainWindowEnvironment
{
    Dialogs *dialogs = nullptr;            // every modal dialog; the real ones when not set
    WordFactory createWord;                // a fresh word processor for each document
    std::function<bool()> isOfficeRunning; // the guard's check; the real one when not set
    // Told during a run which documents come next, so their engines can open them
    // ahead (see BatchHost); unset: nothing is told.
    std::function<void(const QStringList &documents)> expectDocuments;
    // What the user is told once, after the first run, about the engines' sandbox
    // (see BatchHost); unset: nothing.
    std::function<QString()> sandboxNotice;

    // Start-up and the end of the program; runPagelift fills in the real ones.
    QString settingsFolder; // holds Orvanta.conf; empty: nothing is read or written
    QString programFolder;  // holds HAND-M.CUR, x/o.cjs and the folder Splash
    std::function<void(const QString &address)> openHomePage; // unset: nothing is opened
    std::function<double()> randomFraction; // a draw in [0, 1); unset: seeded by the time of day
    std::chrono::milliseconds splashPause{4000};
    std::function<void()> endProgram; // after the engines are killed; the real one never returns
};

// The main window. Its controls keep the object names they were designed with
// ("Form1", "Slider1"...), which a user's skin may select.
class MainWindow : public QWidget, public PointerOwner
{
    Q_OBJECT
public:
    explicit MainWindow(MainWindowEnvironment environment = {}, QWidget *parent = nullptr);
    ~MainWindow() override;

    Dialogs &dialogs() const { return *m_dialogs; }
    const MainWindowEnvironment &environment() const { return m_environment; }

    // The client area, in twips.
    static constexpr int kClientWidth = 6600;
    static constexpr int kClientHeight = 4320;

    QGroupBox *qualityFrame;
    QSlider *qualitySlider;
    PictureBox *pageCanvas;
    FileListView *fileList;
    QProgressBar *progressBar;
    QPushButton *addFilesButton;
    QPushButton *addFolderButton;
    QPushButton *startButton;

    MousePointer mousePointer() const override { return m_mousePointer; }
    void setMousePointer(MousePointer pointer) override;
    // The picture that the custom pointer setting shows.
    void setMouseIcon(const QCursor &cursor);
    bool hasMouseIcon() const { return m_hasMouseIcon; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    MainWindowEnvironment m_environment;
    std::unique_ptr<Dialogs> m_ownDialogs;
    Dialogs *m_dialogs;
    std::unique_ptr<BatchDriver> m_batch;
    MousePointer m_mousePointer = MousePointer::Arrow;
    QCursor m_mouseIcon;
    bool m_hasMouseIcon = false;
};
