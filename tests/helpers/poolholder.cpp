// Holds an engine pool over the engine folder given as its argument: prints the
// launcher's and the spare engine's process ids, then waits to be killed.
#include "enginepool.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    EnginePool pool(QString::fromLocal8Bit(argv[1]), 20000);
    const long long spare = pool.sparePid();
    std::printf("%lld %lld\n", static_cast<long long>(pool.launcherPid()), spare);
    std::fflush(stdout);
    return app.exec();
}
