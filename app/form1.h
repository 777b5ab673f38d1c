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
struct Form1Environment
{
    Dialogs *dialogs = nullptr;          // every modal dialog; the real ones when not set
    WordFactory createWord;              // a fresh word processor for each document
    std::function<bool()> isWordRunning; // the guard's check; the real one when not set
    // Told during a run which documents come next, so their engines can open them
    // ahead (see BatchHost); unset: nothing is told.
    std::function<void(const QStringList &documents)> expectDocuments;

    // Start-up and the end of the program; runPagelift fills in the real ones.
    QString settingsFolder; // holds Orvanta.conf; empty: nothing is read or written
    QString programFolder;  // holds HAND-M.CUR, x/o.cjs and the folder Splash
    std::function<void(const QString &address)> openHomePage; // unset: nothing is opened
    std::function<double()> randomFraction; // a draw in [0, 1); unset: seeded by the time of day
    std::chrono::milliseconds splashPause{4000};
    std::function<void()> endProgram; // after the engines are killed; the real one never returns
};

// The main window. Its controls carry the names by which the rest of the program
// addresses them.
class Form1 : public QWidget, public PointerOwner
{
    Q_OBJECT
public:
    explicit Form1(Form1Environment environment = {}, QWidget *parent = nullptr);
    ~Form1() override;

    Dialogs &dialogs() const { return *m_dialogs; }
    const Form1Environment &environment() const { return m_environment; }

    // The client area, in twips.
    static constexpr int kClientWidth = 6600;
    static constexpr int kClientHeight = 4320;

    QGroupBox *Frame1;
    QSlider *Slider1;
    PictureBox *Creator;
    FileListView *ListView1;
    QProgressBar *ProgressBar1;
    QPushButton *PushButton1;
    QPushButton *PushButton4;
    QPushButton *PushButton2;

    int mousePointer() const override { return m_mousePointer; }
    void setMousePointer(int pointer) override;
    // The picture that the custom pointer setting shows.
    void setMouseIcon(const QCursor &cursor);
    bool hasMouseIcon() const { return m_hasMouseIcon; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    Form1Environment m_environment;
    std::unique_ptr<Dialogs> m_ownDialogs;
    Dialogs *m_dialogs;
    std::unique_ptr<BatchDriver> m_batch;
    int m_mousePointer = vbDefault;
    QCursor m_mouseIcon;
    bool m_hasMouseIcon = false;
};
