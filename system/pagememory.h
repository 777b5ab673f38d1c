#pragma once

// Pages at high resolutions pass through blocks of tens or hundreds of megabytes: the
// rasteriser's page, its copies, the picture saved and read back, the JPEG encoder's
// input. The C library maps any block above 32 MB afresh and unmaps it when it is freed,
// so every such page pays again for the system to find, clear and map its memory, which
// on a virtual machine costs more than drawing the page. After this call, large blocks
// come from the heap, and a block freed after one page serves the next. For the
// processes pages pass through (the window, engines, the command line's workers); what
// they keep is bounded by their largest page.
void keepPageMemoryForReuse();
