#include "messages.h"

#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

FILE *ownMessages = nullptr;

} // namespace

FILE *messageStream()
{
    return ownMessages ? ownMessages : stderr;
}

void quietOffice()
{
    if (ownMessages || std::getenv("PAGELIFT_ENGINE_LOG"))
        return;
    const int saved = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (saved < 0)
        return;
    ownMessages = ::fdopen(saved, "w");
    if (ownMessages)
        std::setvbuf(ownMessages, nullptr, _IONBF, 0); // as standard error: a forked engine
                                                       // must not repeat what was held back
    const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (devNull >= 0) {
        ::dup2(devNull, STDOUT_FILENO);
        ::dup2(devNull, STDERR_FILENO);
        ::close(devNull);
    }
}
