#pragma once

#include "mousepointer.h"

#include <QCursor>
#include <QWidget>

class FileListView;
class PictureBox;
class QGroupBox;
class QProgressBar;
class QPushButton;
class QSlider;

// The main window. Its controls carry the names by which the rest of the program
// addresses them.
class Form1 : public QWidget, public PointerOwner
{
    Q_OBJECT
public:
    explicit Form1(QWidget *parent = nullptr);

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

private:
    int m_mousePointer = vbDefault;
    QCursor m_mouseIcon;
    bool m_hasMouseIcon = false;
};
