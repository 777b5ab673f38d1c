// Closes the main window while a long operation pumps events, with the program's
// real end: prints the pid of an engine stand-in it started, then must end at once
// with code 0 and never print "continued".
#include "childprocesses.h"
#include "mainwindow.h"
#include "startup.h"

#include <QApplication>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    MainWindowEnvironment environment = realEnvironment();
    environment.settingsFolder.clear(); // this check stores nothing
    MainWindow form(std::move(environment));

    QProcess engine;
    engine.start(QStringLiteral("sleep"), {QStringLiteral("60")});
    if (!engine.waitForStarted(10000))
        return 2;
    childprocesses::add(engine.processId());
    std::printf("%lld\n", static_cast<long long>(engine.processId()));
    std::fflush(stdout);

    form.show();
    QTimer::singleShot(50, &form, &QWidget::close);
    // The long operation: it would carry on after the close if the end returned.
    QEventLoop work;
    QTimer::singleShot(20000, &work, &QEventLoop::quit);
    work.exec();
    std::printf("continued\n");
    std::fflush(stdout);
    return 3;
}
