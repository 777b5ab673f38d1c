#include "events.h"

#include <QCoreApplication>
#include <QTimer>

namespace events {

void processPending()
{
    QCoreApplication::processEvents();
}

void processUntil(QDeadlineTimer deadline)
{
    QTimer wake; // ends the wait for events when nothing else arrives
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(std::chrono::milliseconds(std::max<qint64>(0, deadline.remainingTime())));
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

} // namespace events
