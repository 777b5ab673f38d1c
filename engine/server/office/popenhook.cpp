// The engine's popen and pclose, exported from the executable (see CMakeLists.txt) so
// that the office's libraries call them rather than glibc's: the office's question for
// the system's paper is answered from what the engine asked before its sandbox went up
// (see systempaper.h); every other command goes to glibc, whose program the sandbox
// does not let run.

#include "systempaper.h"

#include <dlfcn.h>

extern "C" FILE *popen(const char *command, const char *mode)
{
    if (FILE *answer = systempaper::answer(command))
        return answer;
    using Open = FILE *(*)(const char *, const char *);
    static const auto glibc = reinterpret_cast<Open>(::dlsym(RTLD_NEXT, "popen"));
    return glibc ? glibc(command, mode) : nullptr;
}

extern "C" int pclose(FILE *stream)
{
    int status = 0;
    if (systempaper::close(stream, status))
        return status;
    using Close = int (*)(FILE *);
    static const auto glibc = reinterpret_cast<Close>(::dlsym(RTLD_NEXT, "pclose"));
    return glibc ? glibc(stream) : -1;
}
