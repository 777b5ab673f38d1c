#pragma once

#include <string>

class EngineSession;

// Answers the calls read from `requests` on `replies` until the client closes its end
// or asks the engine to quit; returns the exit code. Without a session (the office
// did not start) every call is refused with `startError`.
int serveCalls(int requests, int replies, EngineSession *session, const std::string &startError);
