#include "offscreen.h"

#include <QClipboard>

#include <cstdio>

OffscreenPages::OffscreenPages(int quality) : m_quality(Qt::Horizontal), m_busy(m_pointer)
{
    m_quality.setRange(1, 100);
    m_quality.setValue(quality);
}

ExportHost OffscreenPages::host()
{
    ExportHost host;
    host.canvas = &m_canvas;
    host.quality = &m_quality;
    host.busy = &m_busy;
    host.clipboard = QGuiApplication::clipboard();
    return host;
}

std::unique_ptr<QApplication> OffscreenPages::application(int &argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
        if (type == QtCriticalMsg || type == QtFatalMsg)
            std::fprintf(stderr, "pagelift-convert: %s\n", qPrintable(text));
    });
    return std::make_unique<QApplication>(argc, argv);
}
