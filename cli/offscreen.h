#pragma once

#include "mousepointer.h"
#include "pageexporter.h"
#include "picturebox.h"

#include <QApplication>
#include <QSlider>

#include <memory>

// The window's page path without a window, as the command line runs it: the
// application on Qt's offscreen platform, and the canvas, quality slider and busy
// pointer the page exporter writes pages through.
class OffscreenPages
{
public:
    explicit OffscreenPages(int quality);

    // An exporter's host over these parts, with the system clipboard.
    ExportHost host();

    // Qt's application, offscreen; Qt's notes about the desktop it runs without are no
    // news to the user, its errors go to standard error.
    static std::unique_ptr<QApplication> application(int &argc, char **argv);

private:
    // No window, so no pointer to show.
    class NoPointer : public PointerOwner
    {
    public:
        MousePointer mousePointer() const override { return m_pointer; }
        void setMousePointer(MousePointer pointer) override { m_pointer = pointer; }

    private:
        MousePointer m_pointer = MousePointer::Arrow;
    };

    PictureBox m_canvas;
    QSlider m_quality;
    NoPointer m_pointer;
    BusyPointer m_busy;
};
