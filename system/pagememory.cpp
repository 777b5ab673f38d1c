#include "pagememory.h"

#include <malloc.h>

void keepPageMemoryForReuse()
{
    ::mallopt(M_MMAP_MAX, 0);
    // Freed memory at the top of the heap goes back to the system only past this much.
    ::mallopt(M_TRIM_THRESHOLD, 512 * 1024 * 1024);
}
