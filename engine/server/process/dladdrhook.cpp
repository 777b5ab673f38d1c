// The engine's dladdr, exported from the executable (see CMakeLists.txt) so that the
// office's libraries, loaded later, call it rather than glibc's; it keeps glibc's
// answers (see moduleaddress.h).

#include "moduleaddress.h"

extern "C" int dladdr(const void *address, Dl_info *info)
{
    static const auto glibc =
        reinterpret_cast<ModuleAddressCache::Lookup>(::dlsym(RTLD_NEXT, "dladdr"));
    if (!glibc)
        return 0;
    static ModuleAddressCache cache(glibc, ModuleAddressCache::locateLoaded);
    return cache.find(address, info);
}
