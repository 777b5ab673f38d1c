#include "systempaper.h"

#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <set>
#include <string>

namespace systempaper {
namespace {

struct Answer
{
    std::mutex mutex;
    bool asked = false;
    std::string output;
    int status = 0;
    std::set<FILE *> given;
};

Answer &kept()
{
    static Answer answer;
    return answer;
}

} // namespace

void askOnce()
{
    // The C library's own: the engine's stand-in would answer from what is asked here.
    using Open = FILE *(*)(const char *, const char *);
    using Close = int (*)(FILE *);
    static const auto open = reinterpret_cast<Open>(::dlsym(RTLD_NEXT, "popen"));
    static const auto close = reinterpret_cast<Close>(::dlsym(RTLD_NEXT, "pclose"));
    Answer &answer = kept();
    std::lock_guard lock(answer.mutex);
    if (answer.asked || !open || !close)
        return;
    FILE *pipe = open(kCommand, "r");
    if (!pipe)
        return;
    char buffer[256];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        answer.output.append(buffer, n);
    answer.status = close(pipe);
    answer.asked = true;
}

FILE *answer(const char *command)
{
    Answer &answer = kept();
    std::lock_guard lock(answer.mutex);
    if (!answer.asked || !command || std::strcmp(command, kCommand) != 0)
        return nullptr;
    // fmemopen reads from the buffer it is given, which the kept answer outlives.
    FILE *stream = answer.output.empty()
                       ? std::fopen("/dev/null", "r")
                       : ::fmemopen(answer.output.data(), answer.output.size(), "r");
    if (stream)
        answer.given.insert(stream);
    return stream;
}

bool close(FILE *stream, int &status)
{
    Answer &answer = kept();
    std::lock_guard lock(answer.mutex);
    if (answer.given.erase(stream) == 0)
        return false;
    std::fclose(stream);
    status = answer.status;
    return true;
}

} // namespace systempaper
