// Closes the main window the way its user does, with the window system's close
// request, while the document's engine is busy with a call that would take 30
// seconds: the program must end at once, with the real end (code 0) and no engine
// left. Runs on a real X display (xvfb-run). Prints the engine's pid, and
// "message: ..." for any message the window shows.
//
//   closeduringcall FAKE_ENGINE_FOLDER SCRIPT
#include "dialogs.h"
#include "engineclient.h"
#include "filelistview.h"
#include "mainwindow.h"
#include "processes.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <xcb/xcb.h>

namespace {

class PrintedDialogs : public Dialogs
{
public:
    void messageBox(QWidget *, const QString &text) override
    {
        std::printf("message: %s\n", qPrintable(text));
        std::fflush(stdout);
    }
    bool askYesNo(QWidget *, const QString &) override { return true; }
    QString inputBox(QWidget *, const QString &, const QString &) override { return {}; }
    QString showOpen(QWidget *, const QString &, const QString &) override { return {}; }
    QString browseForFolder(QWidget *, const QString &) override { return {}; }
};

xcb_atom_t atom(xcb_connection_t *connection, const char *name)
{
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name);
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    const xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return value;
}

// What a window manager sends when the user clicks the window's close button.
void requestClose(QWidget &window)
{
    auto *x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *connection = x11->connection();
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = xcb_window_t(window.winId());
    event.type = atom(connection, "WM_PROTOCOLS");
    event.data.data32[0] = atom(connection, "WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(connection, 0, event.window, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char *>(&event));
    xcb_flush(connection);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 3 || !qApp->nativeInterface<QNativeInterface::QX11Application>())
        return 2;
    PrintedDialogs dialogs;
    MainWindowEnvironment environment;
    environment.dialogs = &dialogs;
    environment.isOfficeRunning = [] { return false; };
    environment.createWord = engineFactory(QString::fromLocal8Bit(argv[1]), {30000});
    environment.endProgram = [] { std::_Exit(0); };
    MainWindow window(environment);
    window.fileList->appendRow(QString::fromLocal8Bit(argv[2]));
    window.show();

    QTimer::singleShot(200, &window, [&] { window.startButton->click(); });
    // Runs during the engine's call: timers are no user input.
    QTimer::singleShot(1200, &window, [&] {
        const QList<qint64> engines = childrenOf(::getpid());
        std::printf("%lld\n", engines.isEmpty() ? 0LL : static_cast<long long>(engines.first()));
        std::fflush(stdout);
        requestClose(window);
    });
    app.exec();
    std::printf("continued\n");
    std::fflush(stdout);
    return 3;
}
