#pragma once

#include <cstddef>
#include <memory>
#include <string>

class EngineOffice;
class EngineSession;
namespace engineprotocol {
class RequestReader;
struct Request;
} // namespace engineprotocol

// The exit code of an engine that ended because its document took more memory than
// it may.
inline constexpr int kExitTooMuchMemory = 4;

// The session an engine serves its calls with, up to `documents` documents and while
// its memory allows (EngineSession::Reuse), once `office` warmed up on `warmUpDocument`
// (none: no warm-up). Null without an office.
std::unique_ptr<EngineSession> startSession(EngineOffice *office, const std::string &warmUpDocument,
                                            int documents, size_t memoryLimitBytes);
// Whether `first`, an engine's first call, opens a PDF document (the one sent along as
// `document`), which poppler draws from the file: the engine then needs no office.
bool opensPdf(const engineprotocol::Request &first, int document);
// The session of an engine that has no office, for one PDF document.
std::unique_ptr<EngineSession> startPdfSession(size_t memoryLimitBytes);

// Answers the calls read from `requests` (with the documents sent along) on `replies` until the
// client closes its end or asks the engine to quit; returns the exit code. Without a session (the
// office did not start) every call is refused with `startError`. Once the process's memory passes
// `memoryLimitBytes` (0: no limit), the call in progress, or the next one, is answered with
// Refusal::TooMuchMemory and the engine ends.
int serveCalls(engineprotocol::RequestReader &requests, int replies, EngineSession *session,
               const std::string &startError, size_t memoryLimitBytes);
