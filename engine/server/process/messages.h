#pragma once

#include <cstdio>

// Where the engine's own messages go: the standard error it was started with.
FILE *messageStream();

// From now on the office's own output (notes about pictures, fonts and the like, on
// standard output and error) goes nowhere, unless PAGELIFT_ENGINE_LOG is set: it is no
// news to Pagelift's user, and the command line's output must stay readable. The
// engine's own messages still reach messageStream().
void quietOffice();
