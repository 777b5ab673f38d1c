#pragma once

#include "pagechoice.h"
#include "wireformat.h"
#include "wordapplication.h"

#include <QImage>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <memory>
#include <string>

class EngineChannel;

// Why a call to the engine failed. Each reason has one message, made by
// engineFailureMessage().
enum class EngineFailure
{
    StartFailed,   // the engine program could not be started
    FileNotFound,  // the document does not exist
    Unreadable,    // the document exists but cannot be read
    Folder,        // a folder, not a document
    SpecialFile,   // a named pipe, device or socket
    TooMuchMemory, // the document needs more memory than an engine may take
    NotADocument,  // nothing the office prints
    Password,      // protected by a password
    Corrupt,       // a document, but damaged
    OfficeFailed,  // the engine could not start its office
    Refused,       // the engine refused a call (for example Cut with nothing selected)
    Crashed,       // the engine ended without answering
    Garbled,       // the engine's answer did not follow the protocol
    TimedOut,      // the engine did not answer in time and was killed
    NotRunning,    // a call after the engine had already ended
};

// How long a call to the engine may take before the engine is taken for hung and
// ended, unless the caller says otherwise.
inline constexpr int kDefaultCallTimeoutMs = 120000;

// How one document is converted: how long each call to its engine may take, and the
// resolution its pages are drawn at.
struct DocumentOptions
{
    int callTimeoutMs = kDefaultCallTimeoutMs;
    int dpi = pageunits::kDefaultDpi;
    // No other document is converted meanwhile: the engine may use every processor.
    bool onlyDocument = false;
    // Each page drawn to fit a box of this many pixels, its proportions kept, instead
    // of at `dpi` (0: no bound that way).
    int boxWidth = 0;
    int boxHeight = 0;
    bool grey = false; // drawn in 8-bit grey
    // The pages drawn: a cut of none of them brings no picture, and the clipboard is
    // left empty.
    PageChoice pages{};
};

// What an engine may read beyond its document (the LinkedFiles setting): nothing, or
// the files under the document's own folder.
enum class LinkedFiles
{
    None,
    Beside,
};
// How engines are sandboxed: pagelift-engine's --linked-files and --require-sandbox.
struct SandboxChoice
{
    LinkedFiles linkedFiles = LinkedFiles::None;
    bool required = false; // documents are refused unless the whole sandbox is in force
};
QStringList sandboxArguments(const SandboxChoice &choice);

// The memory one engine may take when `enginesAtOnce` engines may be alive together:
// half of the memory this process may still use (machineshare.h), shared among them,
// and at least 512 MiB. An engine that needs more ends its document with
// EngineFailure::TooMuchMemory rather than drive the system (or its cgroup) to kill
// programs for memory.
size_t engineMemoryLimit(int enginesAtOnce, size_t shareBytes);
size_t engineMemoryLimit(int enginesAtOnce);
// The arguments that give an engine (or a launcher's engines) that limit.
QStringList memoryLimitArguments(size_t bytes);

// The error numbers callers see: the classic ones for a missing file and an object
// that cannot be created, the automation error for everything else.
inline constexpr int kErrorFileNotFound = 53;
inline constexpr int kErrorCannotCreateObject = 429;
inline constexpr int kErrorAutomation = 440;

// `subject` is the document's path (the engine program's path for StartFailed);
// `detail` is what the engine said, `call` the call that failed, `timeoutMs` the
// limit a timed-out call had.
QString engineFailureMessage(EngineFailure failure, const QString &subject,
                             const QString &call = {}, const QString &detail = {},
                             int timeoutMs = 0);
int engineFailureNumber(EngineFailure failure);

// The word processor of one document, run in a pagelift-engine process. Every call
// waits for the engine's answer for at most the call time-out; an engine that crashes,
// refuses or does not answer makes the call throw Error, and is ended at once. No
// engine process outlives this object, except one handed back for another document.
class EngineClient : public WordApplication
{
public:
    // Takes back an engine that may serve another document.
    using Recycler = std::function<void(std::unique_ptr<EngineChannel>)>;
    // Starts an engine whose office has printed nothing, null when none starts.
    using FreshEngine = std::function<std::unique_ptr<EngineChannel>()>;

    // Takes over a started engine. With a `recycler`, quit() hands the engine to it
    // instead of ending it when the engine said, as its document closed, that it may
    // serve another (engineprotocol::kServesAnother), and every call went well. An
    // engine that had printed other documents before may find that the document needs
    // an office that has not (Refusal::NeedsFreshOffice): it is ended, and the
    // document opened in one from `freshEngine`.
    EngineClient(std::unique_ptr<EngineChannel> channel, DocumentOptions options,
                 Recycler recycler = {}, FreshEngine freshEngine = {});
    ~EngineClient() override;

    void documentsOpen(const QString &path) override;
    void activeDocumentRepaginate() override;
    qint32 activeDocumentBuiltInDocumentProperties(qint32 property) override;
    void selectionGoTo(qint32 what, qint32 which, qint16 page) override;
    void selectionMoveUp(qint32 unit, qint16 count, qint32 extend) override;
    void selectionEndKey(qint32 unit, qint32 extend) override;
    // The picture is premultiplied ARGB32 and shares the received pixels.
    void selectionCut() override;
    void activeDocumentClose(qint32 savechanges) override;
    void quit() override;
    QStringList leftOut() const override { return m_leftOut; }

    // The engine's process id while it runs, else 0.
    qint64 enginePid() const;

private:
    struct Answer
    {
        engineprotocol::ReplyHeader header;
        QImage picture; // a cut's, over the pixels as they were received
    };

    // Sends one call and waits for its answer; throws on any failure. A cut's pixels
    // are used where they arrive: mapped from the engine's shared memory, or read
    // straight into the picture's buffer.
    Answer call(const char *name, const engineprotocol::Request &request, int descriptor = -1);
    // Sends a call whose answer carries nothing the caller needs; the answer is
    // collected before the next call that waits, and a refusal is reported then,
    // under this call's name.
    void post(const char *name, const engineprotocol::Request &request);
    // Writes the frames not written yet, `descriptor` along with them when not
    // negative; a failure is reported under `name`.
    void writeUnsent(const char *name, int descriptor = -1);
    Answer receive(const char *name, engineprotocol::Call call);
    // Opens the document in the engine, or finds it opened ahead.
    void open(const QString &path);
    void collectPosted();
    [[noreturn]] void fail(EngineFailure failure, const char *call, const QString &detail = {});
    // Ends the engine at once; the answers still owed die with it.
    void endEngine();

    std::unique_ptr<EngineChannel> m_channel;
    int m_callTimeoutMs;
    DocumentOptions m_options;
    QString m_path;                    // the document, for messages
    std::deque<const char *> m_posted; // calls posted whose answers are still to be read
    std::string m_unsent;              // the frames of posted calls not written yet
    Recycler m_recycler;
    FreshEngine m_freshEngine;
    bool m_servesAnother = false; // the engine's answer to Close
    QStringList m_leftOut;        // what the engine left out of the open document
};

// The call that opens `path` with its pages drawn at `dpi`, the office printing only
// the pages of `pages`; `attached` when the document's descriptor goes with it.
engineprotocol::Request openRequest(const QString &path, int dpi, bool attached = false,
                                    const PageChoice &pages = {});
// Whether the call in `frame` opens `path` at `dpi` with every page printed, which
// serves any choice of pages.
bool opensSameDocument(const std::string &frame, const QString &path, int dpi);

// Creates a fresh engine from `engineFolder`/pagelift-engine for each instance;
// creation throws Error when the engine cannot be started. The engine may take
// `memoryLimitBytes` of memory (0: engineMemoryLimit(1)).
WordFactory engineFactory(const QString &engineFolder, DocumentOptions options = {},
                          size_t memoryLimitBytes = 0, SandboxChoice sandbox = {});
