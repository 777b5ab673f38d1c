#pragma once

#include <QDeadlineTimer>

// The one place where long work lets the window's events through, so that the window
// stays responsive during a folder scan, a page export or a wait for the engine
// (closing the window comes as user input, and must get through at any of these).
//
// Any handler of the window may run in these calls, closing the window included.
// Closing ends the program at once (_Exit, after killing the engines) instead of
// returning here: the work below this call on the stack (an export half-way through
// a document, a scan half-way through a tree) must not go on with its window gone,
// and nothing it holds needs saving.
namespace events {

// Handles every pending event, user input included.
void processPending();
// Handles events as they come until the deadline.
void processUntil(QDeadlineTimer deadline);

} // namespace events
