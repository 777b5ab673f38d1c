#include "engineclient.h"

#include "enginechannel.h"
#include "error.h"
#include "machineshare.h"
#include "pathbytes.h"
#include "socketio.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QRegularExpression>

#include <algorithm>
#include <map>
#include <utility>

#include <string>
#include <unistd.h>

using engineprotocol::Call;
using engineprotocol::Refusal;
using engineprotocol::Request;

namespace {

// The engine's answer to Open when the document is to go to a fresh office.
struct NeedsFreshOffice
{
};

// How long an engine may take to end after Quit before it is killed.
constexpr int kQuitGraceMs = 5000;
// Refusal details longer than this are not the engine's words.
constexpr uint32_t kMaxDetail = 64 * 1024;

QString seconds(int ms)
{
    return ms == 1000 ? QStringLiteral("1 second")
                      : QString::number(ms / 1000.0, 'g', 4) + QStringLiteral(" seconds");
}

// What the engine's refusals mean to the user; any other is a refused call.
EngineFailure failureOf(Refusal refusal)
{
    static const std::pair<Refusal, EngineFailure> kMeanings[] = {
        {Refusal::FileNotFound, EngineFailure::FileNotFound},
        {Refusal::Unreadable, EngineFailure::Unreadable},
        {Refusal::Folder, EngineFailure::Folder},
        {Refusal::SpecialFile, EngineFailure::SpecialFile},
        {Refusal::TooMuchMemory, EngineFailure::TooMuchMemory},
        {Refusal::NotADocument, EngineFailure::NotADocument},
        {Refusal::Password, EngineFailure::Password},
        {Refusal::Corrupt, EngineFailure::Corrupt},
        {Refusal::EngineFailure, EngineFailure::OfficeFailed},
        {Refusal::NeedsFreshOffice, EngineFailure::OfficeFailed},
    };
    for (const auto &[engineSays, failure] : kMeanings) {
        if (engineSays == refusal)
            return failure;
    }
    return EngineFailure::Refused;
}

} // namespace

QString engineFailureMessage(EngineFailure failure, const QString &subject, const QString &call,
                             const QString &detail, int timeoutMs)
{
    // {file} is the document (or the engine program), {call} the call, {because} the
    // engine's explanation when it gave one ({detail} the bare words), {seconds} the
    // call's time limit.
    static const std::pair<EngineFailure, const char *> kTexts[] = {
        {EngineFailure::StartFailed, "The document engine \"{file}\" could not be started."},
        {EngineFailure::FileNotFound, "The file \"{file}\" does not exist."},
        {EngineFailure::Unreadable, "The file \"{file}\" cannot be read."},
        {EngineFailure::Folder, "\"{file}\" is a folder, not a document."},
        {EngineFailure::SpecialFile, "\"{file}\" is a {detail}, not a document."},
        {EngineFailure::TooMuchMemory,
         "\"{file}\" needs more memory than Pagelift allows for one document."},
        {EngineFailure::NotADocument,
         "\"{file}\" is not a document that Pagelift can open{because}"},
        {EngineFailure::Password, "\"{file}\" is protected by a password."},
        {EngineFailure::Corrupt, "\"{file}\" is damaged and cannot be opened."},
        {EngineFailure::OfficeFailed,
         "The document engine could not start LibreOffice while working on \"{file}\"{because}"},
        {EngineFailure::Refused,
         "The document engine refused {call} while working on \"{file}\"{because}"},
        {EngineFailure::Crashed,
         "The document engine stopped unexpectedly while working on \"{file}\"."},
        {EngineFailure::Garbled, "The document engine gave an answer that makes no sense while "
                                 "working on \"{file}\"."},
        {EngineFailure::TimedOut, "The document engine did not answer within {seconds} "
                                  "while working on \"{file}\"."},
        {EngineFailure::NotRunning,
         "The document engine has already ended, so {call} cannot be done on \"{file}\"."},
    };
    const auto text = std::find_if(std::begin(kTexts), std::end(kTexts),
                                   [failure](const auto &entry) { return entry.first == failure; });
    if (text == std::end(kTexts))
        return QString();
    const std::map<QString, QString> values = {
        {QStringLiteral("file"), QDir::toNativeSeparators(subject)},
        {QStringLiteral("call"), call},
        {QStringLiteral("because"),
         detail.isEmpty() ? QStringLiteral(".") : QStringLiteral(": %1.").arg(detail)},
        {QStringLiteral("detail"), detail},
        {QStringLiteral("seconds"), seconds(timeoutMs)},
    };
    // In one pass, so that a file name or an explanation is never read as a placeholder.
    static const QRegularExpression placeholder(QStringLiteral("\\{(\\w+)\\}"));
    const QString pattern = QString::fromUtf8(text->second);
    QString message;
    qsizetype from = 0;
    for (const QRegularExpressionMatch &match : placeholder.globalMatch(pattern)) {
        message += pattern.mid(from, match.capturedStart() - from);
        message += values.at(match.captured(1));
        from = match.capturedEnd();
    }
    return message + pattern.mid(from);
}

int engineFailureNumber(EngineFailure failure)
{
    switch (failure) {
    case EngineFailure::FileNotFound:
        return kErrorFileNotFound;
    case EngineFailure::StartFailed:
        return kErrorCannotCreateObject;
    default:
        return kErrorAutomation;
    }
}

EngineClient::EngineClient(std::unique_ptr<EngineChannel> channel, DocumentOptions options,
                           Recycler recycler, FreshEngine freshEngine)
    : m_channel(std::move(channel)), m_callTimeoutMs(options.callTimeoutMs),
      m_options(std::move(options)), m_recycler(std::move(recycler)),
      m_freshEngine(std::move(freshEngine))
{
}

EngineClient::~EngineClient()
{
    if (m_channel)
        m_channel->kill();
}

qint64 EngineClient::enginePid() const
{
    return m_channel && m_channel->isRunning() ? m_channel->pid() : 0;
}

void EngineClient::fail(EngineFailure failure, const char *call, const QString &detail)
{
    // After any failure the engine's state is unknown: it is ended at once.
    endEngine();
    throw Error(
        engineFailureNumber(failure),
        engineFailureMessage(failure, m_path, QString::fromLatin1(call), detail, m_callTimeoutMs));
}

void EngineClient::endEngine()
{
    if (m_channel)
        m_channel->kill();
    m_posted.clear();
    m_unsent.clear();
    m_servesAnother = false;
}

void EngineClient::writeUnsent(const char *name, int descriptor)
{
    const std::string frames = std::exchange(m_unsent, {});
    const ChannelStatus status = m_channel->writeWithDescriptor(
        frames.data(), frames.size(), descriptor, QDeadlineTimer(m_callTimeoutMs));
    if (status == ChannelStatus::Closed)
        fail(EngineFailure::Crashed, name);
    if (status == ChannelStatus::TimedOut)
        fail(EngineFailure::TimedOut, name);
}

void EngineClient::post(const char *name, const Request &request)
{
    // Answers pile up in the socket meanwhile; collecting now and then keeps them
    // far below what it holds.
    constexpr size_t kMaxPosted = 1000;
    if (m_posted.size() >= kMaxPosted)
        collectPosted();
    if (!m_channel || !m_channel->isRunning())
        fail(EngineFailure::NotRunning, name);
    // Written with the next call that waits for its answer: one write, and one wake-up
    // of the engine, for a page's hundred selection calls.
    m_unsent += engineprotocol::encodeRequest(request);
    m_posted.push_back(name);
}

void EngineClient::collectPosted()
{
    if (!m_unsent.empty())
        writeUnsent(m_posted.front());
    while (!m_posted.empty()) {
        const char *name = m_posted.front();
        m_posted.pop_front();
        receive(name, Call::GoTo);
    }
}

EngineClient::Answer EngineClient::call(const char *name, const Request &request, int descriptor)
{
    if (!m_channel || !m_channel->isRunning())
        fail(EngineFailure::NotRunning, name);
    // The posted calls and this one go in one write; their answers come back in order.
    m_unsent += engineprotocol::encodeRequest(request);
    writeUnsent(name, descriptor);
    collectPosted();
    return receive(name, request.call);
}

EngineClient::Answer EngineClient::receive(const char *name, Call call)
{
    // No check that the engine still runs: it may answer and end at once (Quit), and
    // its answer is still there to read.
    const QDeadlineTimer deadline(m_callTimeoutMs);
    auto check = [&](ChannelStatus status) {
        if (status == ChannelStatus::Closed)
            fail(EngineFailure::Crashed, name);
        if (status == ChannelStatus::TimedOut)
            fail(EngineFailure::TimedOut, name);
    };

    char head[4 + engineprotocol::kReplyHeaderSize];
    UniqueFd sharedPixels;
    check(m_channel->readWithDescriptor(head, sizeof head, sharedPixels, deadline));
    Answer answer;
    if (!engineprotocol::decodeReplyHeader(head, answer.header))
        fail(EngineFailure::Garbled, name);
    const engineprotocol::ReplyHeader &header = answer.header;

    if (header.refusal != Refusal::None) {
        if (header.extra > kMaxDetail)
            fail(EngineFailure::Garbled, name);
        QByteArray detail(int(header.extra), '\0');
        check(m_channel->read(detail.data(), header.extra, deadline));
        if (header.refusal == Refusal::NeedsFreshOffice && call == Call::Open && m_freshEngine)
            throw NeedsFreshOffice{};
        const EngineFailure failure = failureOf(header.refusal);
        // The user's words say enough for a document the engine cannot take.
        const bool tellDetail =
            failure == EngineFailure::OfficeFailed || failure == EngineFailure::Refused ||
            failure == EngineFailure::SpecialFile || failure == EngineFailure::NotADocument;
        fail(failure, name, tellDetail ? QString::fromUtf8(detail) : QString());
    }

    if (call == Call::Cut && header.width == 0 && header.height == 0 && header.extra == 0 &&
        !sharedPixels) {
        return answer; // pages that are not to be drawn: no picture
    }
    if (call == Call::Cut) {
        const qint64 expected = qint64(header.width) * header.height * 4;
        if (header.width <= 0 || header.height <= 0)
            fail(EngineFailure::Garbled, name);
        if (header.extra == 0 && sharedPixels) {
            const int buffer = (header.value & engineprotocol::kPageBufferMask) - 1;
            const bool opaque = (header.value & engineprotocol::kOpaquePicture) != 0;
            answer.picture = m_channel->pageBuffers()->picture(sharedPixels, buffer, header.width,
                                                               header.height, opaque);
            if (answer.picture.isNull())
                fail(EngineFailure::Garbled, name);
            return answer;
        }
        if (expected != qint64(header.extra))
            fail(EngineFailure::Garbled, name);
        // Read straight into the picture's own memory.
        answer.picture = QImage(header.width, header.height, QImage::Format_ARGB32_Premultiplied);
        if (answer.picture.isNull() || answer.picture.sizeInBytes() != expected)
            fail(EngineFailure::Refused, name, "there is not enough memory for the picture");
        check(m_channel->read(answer.picture.bits(), size_t(expected), deadline));
    } else if (call == Call::Open && header.extra <= kMaxDetail) {
        // What the engine left out of the document.
        QByteArray leftOut(int(header.extra), '\0');
        check(m_channel->read(leftOut.data(), header.extra, deadline));
        for (const QByteArray &link : leftOut.split('\n')) {
            if (!link.isEmpty())
                m_leftOut << QString::fromUtf8(link);
        }
    } else if (header.extra != 0) {
        fail(EngineFailure::Garbled, name);
    }
    return answer;
}

void EngineClient::documentsOpen(const QString &path)
{
    m_path = path;
    m_servesAnother = false;
    m_leftOut.clear();
    try {
        open(path);
    } catch (const NeedsFreshOffice &) {
        // The engine has nothing else open: it ends, and an engine that has printed
        // nothing opens the document, once.
        endEngine();
        m_channel = std::exchange(m_freshEngine, FreshEngine())();
        if (!m_channel)
            fail(EngineFailure::StartFailed, "Documents.Open");
        open(path);
    }
    // Pages drawn otherwise than all of them at the resolution: the engine hears how
    // before it counts them.
    if (m_options.boxWidth > 0 || m_options.boxHeight > 0 || m_options.grey ||
        !m_options.pages.everyPage())
        post("Documents.Open",
             {Call::Drawing, m_options.boxWidth, m_options.boxHeight,
              m_options.grey ? engineprotocol::kDrawGrey : 0, m_options.pages.text()});
}

void EngineClient::open(const QString &path)
{
    if (m_channel && !m_channel->openedAhead().empty() &&
        opensSameDocument(m_channel->openedAhead(), path, m_options.dpi)) {
        // The engine was given this very call before it was handed over: only its
        // answer is still to come.
        m_channel->setOpenedAhead({});
        collectPosted();
        receive("Documents.Open", Call::Open);
    } else {
        // The engine may not open the path itself: the document goes to it open.
        const UniqueFd document = engineprotocol::openDocument(encodePath(path).toStdString());
        call("Documents.Open", openRequest(path, m_options.dpi, bool(document), m_options.pages),
             document.get());
    }
}

void EngineClient::activeDocumentRepaginate()
{
    call("ActiveDocument.Repaginate",
         {Call::Repaginate, m_options.onlyDocument ? engineprotocol::kOnlyDocument : 0, 0, 0, {}});
}

qint32 EngineClient::activeDocumentBuiltInDocumentProperties(qint32 property)
{
    return call("ActiveDocument.BuiltInDocumentProperties", {Call::Property, property, 0, 0, {}})
        .header.value;
}

void EngineClient::selectionGoTo(qint32 what, qint32 which, qint16 page)
{
    post("Selection.GoTo", {Call::GoTo, what, which, page, {}});
}

void EngineClient::selectionMoveUp(qint32 unit, qint16 count, qint32 extend)
{
    post("Selection.MoveUp", {Call::MoveUp, unit, count, extend, {}});
}

void EngineClient::selectionEndKey(qint32 unit, qint32 extend)
{
    call("Selection.EndKey", {Call::EndKey, unit, extend, 0, {}});
}

void EngineClient::selectionCut()
{
    if (!m_channel)
        fail(EngineFailure::NotRunning, "Selection.Cut");
    const uint32_t givenBack = m_channel->pageBuffers()->takeGivenBack();
    const Answer answer = call("Selection.Cut", {Call::Cut, int32_t(givenBack), 0, 0, {}});
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        fail(EngineFailure::Refused, "Selection.Cut", "there is no clipboard");
    // The clipboard shares the picture: no copy of the pixels is made.
    if (answer.picture.isNull())
        QGuiApplication::clipboard()->clear();
    else
        QGuiApplication::clipboard()->setImage(answer.picture);
}

void EngineClient::activeDocumentClose(qint32 savechanges)
{
    m_servesAnother =
        call("ActiveDocument.Close", {Call::Close, savechanges, 0, 0, {}}).header.value ==
        engineprotocol::kServesAnother;
}

void EngineClient::quit()
{
    // Only an engine whose every call went well, up to the close of its document, gets
    // here still running; any failure has ended it.
    if (m_recycler && m_servesAnother && m_posted.empty() && m_channel && m_channel->isRunning()) {
        m_servesAnother = false;
        m_recycler(std::move(m_channel));
        return;
    }
    call("Quit", {Call::Quit, 0, 0, 0, {}});
    m_channel->finish(QDeadlineTimer(kQuitGraceMs));
}

engineprotocol::Request openRequest(const QString &path, int dpi, bool attached,
                                    const PageChoice &pages)
{
    return {Call::Open, dpi, attached ? engineprotocol::kDocumentAttached : 0, 0,
            engineprotocol::openText(encodePath(path).toStdString(), pages.text())};
}

bool opensSameDocument(const std::string &frame, const QString &path, int dpi)
{
    // Whether the document came along with the call does not matter here: it may have
    // become readable or not since.
    Request request;
    return frame.size() >= 4 &&
           engineprotocol::decodeRequest(std::string_view(frame).substr(4), request) &&
           request.call == Call::Open && request.a == dpi &&
           request.text == engineprotocol::openText(encodePath(path).toStdString(), {});
}

size_t engineMemoryLimit(int enginesAtOnce, size_t shareBytes)
{
    constexpr size_t kLeast = size_t(512) << 20;
    return std::max(kLeast, shareBytes / 2 / size_t(std::max(1, enginesAtOnce)));
}

size_t engineMemoryLimit(int enginesAtOnce)
{
    return engineMemoryLimit(enginesAtOnce, size_t(machineshare::current().memoryBytes));
}

QStringList memoryLimitArguments(size_t bytes)
{
    return {QStringLiteral("--memory-limit"), QString::number(qulonglong(bytes))};
}

QStringList sandboxArguments(const SandboxChoice &choice)
{
    QStringList arguments{QStringLiteral("--linked-files"),
                          choice.linkedFiles == LinkedFiles::Beside ? QStringLiteral("beside")
                                                                    : QStringLiteral("none")};
    if (choice.required)
        arguments << QStringLiteral("--require-sandbox");
    return arguments;
}

WordFactory engineFactory(const QString &engineFolder, DocumentOptions options,
                          size_t memoryLimitBytes, SandboxChoice sandbox)
{
    if (memoryLimitBytes == 0)
        memoryLimitBytes = engineMemoryLimit(1);
    return
        [engineFolder, options, memoryLimitBytes, sandbox]() -> std::unique_ptr<WordApplication> {
            const QString program = QDir(engineFolder).filePath("pagelift-engine");
            std::unique_ptr<EngineChannel> channel = startEngineProcess(
                program, memoryLimitArguments(memoryLimitBytes) + sandboxArguments(sandbox));
            if (!channel)
                throw Error(engineFailureNumber(EngineFailure::StartFailed),
                            engineFailureMessage(EngineFailure::StartFailed, program));
            return std::make_unique<EngineClient>(std::move(channel), options);
        };
}
