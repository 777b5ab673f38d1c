#include "engineclient.h"

#include "enginechannel.h"
#include "error.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>

#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

using engineprotocol::Call;
using engineprotocol::Refusal;
using engineprotocol::Request;

namespace {

// How long an engine may take to end after Quit before it is killed.
constexpr int kQuitGraceMs = 5000;
// Refusal details longer than this are not the engine's words.
constexpr uint32_t kMaxDetail = 64 * 1024;

QString seconds(int ms)
{
    return QString::number(ms / 1000.0, 'g', 4);
}

// A picture over the pixels in the shared memory `memory`, which it unmaps when it
// goes; null when the memory does not hold such a picture.
QImage mapSharedPixels(const UniqueFd &memory, int width, int height)
{
    struct Mapping
    {
        void *address;
        size_t size;
    };
    const size_t size = size_t(width) * size_t(height) * 4;
    struct stat info;
    if (::fstat(memory.get(), &info) != 0 || size_t(info.st_size) != size)
        return {};
    void *address = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE, memory.get(), 0);
    if (address == MAP_FAILED)
        return {};
    auto *mapping = new Mapping{address, size};
    return QImage(
        static_cast<uchar *>(address), width, height, qsizetype(width) * 4,
        QImage::Format_ARGB32_Premultiplied,
        [](void *info) {
            auto *m = static_cast<Mapping *>(info);
            ::munmap(m->address, m->size);
            delete m;
        },
        mapping);
}

EngineFailure failureOf(Refusal refusal)
{
    switch (refusal) {
    case Refusal::FileNotFound:
        return EngineFailure::FileNotFound;
    case Refusal::Unreadable:
        return EngineFailure::Unreadable;
    case Refusal::NotADocument:
        return EngineFailure::NotADocument;
    case Refusal::Password:
        return EngineFailure::Password;
    case Refusal::Corrupt:
        return EngineFailure::Corrupt;
    case Refusal::EngineFailure:
        return EngineFailure::OfficeFailed;
    default:
        return EngineFailure::Refused;
    }
}

} // namespace

QString engineFailureMessage(EngineFailure failure, const QString &subject, const QString &call,
                             const QString &detail, int timeoutMs)
{
    const QString file = QDir::toNativeSeparators(subject);
    const QString because = detail.isEmpty() ? QString(".") : QString(": %1.").arg(detail);
    switch (failure) {
    case EngineFailure::StartFailed:
        return QString("The document engine \"%1\" could not be started.").arg(file);
    case EngineFailure::FileNotFound:
        return QString("The file \"%1\" does not exist.").arg(file);
    case EngineFailure::Unreadable:
        return QString("The file \"%1\" cannot be read.").arg(file);
    case EngineFailure::NotADocument:
        return QString("\"%1\" is not a document that Pagelift can open.").arg(file);
    case EngineFailure::Password:
        return QString("\"%1\" is protected by a password.").arg(file);
    case EngineFailure::Corrupt:
        return QString("\"%1\" is damaged and cannot be opened.").arg(file);
    case EngineFailure::OfficeFailed:
        return QString("The document engine could not start LibreOffice while working on \"%1\"%2")
            .arg(file, because);
    case EngineFailure::Refused:
        return QString("The document engine refused %1 while working on \"%2\"%3")
            .arg(call, file, because);
    case EngineFailure::Crashed:
        return QString("The document engine stopped unexpectedly while working on \"%1\".")
            .arg(file);
    case EngineFailure::Garbled:
        return QString("The document engine gave an answer that makes no sense while working "
                       "on \"%1\".")
            .arg(file);
    case EngineFailure::TimedOut:
        return QString("The document engine did not answer within %1 seconds while working on "
                       "\"%2\".")
            .arg(seconds(timeoutMs), file);
    case EngineFailure::NotRunning:
        return QString("The document engine has already ended, so %1 cannot be done on \"%2\".")
            .arg(call, file);
    }
    return QString();
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

EngineClient::EngineClient(std::unique_ptr<EngineChannel> channel, int callTimeoutMs)
    : m_channel(std::move(channel)), m_callTimeoutMs(callTimeoutMs)
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
    // After any failure the engine's state is unknown: it is ended at once, and the
    // answers still owed die with it.
    if (m_channel)
        m_channel->kill();
    m_posted.clear();
    throw Error(
        engineFailureNumber(failure),
        engineFailureMessage(failure, m_path, QString::fromLatin1(call), detail, m_callTimeoutMs));
}

void EngineClient::send(const char *name, const Request &request)
{
    if (!m_channel || !m_channel->isRunning())
        fail(EngineFailure::NotRunning, name);
    const std::string frame = engineprotocol::encodeRequest(request);
    const ChannelStatus status =
        m_channel->write(frame.data(), frame.size(), QDeadlineTimer(m_callTimeoutMs));
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
    send(name, request);
    m_posted.push_back(name);
}

void EngineClient::collectPosted()
{
    while (!m_posted.empty()) {
        const char *name = m_posted.front();
        m_posted.pop_front();
        receive(name, Call::GoTo);
    }
}

EngineClient::Answer EngineClient::call(const char *name, const Request &request)
{
    if (!m_channel || !m_channel->isRunning())
        fail(EngineFailure::NotRunning, name);
    collectPosted();
    send(name, request);
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
        const EngineFailure failure = failureOf(header.refusal);
        // The user's words say enough for a document the engine cannot take.
        const bool tellDetail =
            failure == EngineFailure::OfficeFailed || failure == EngineFailure::Refused;
        fail(failure, name, tellDetail ? QString::fromUtf8(detail) : QString());
    }

    if (call == Call::Cut) {
        const qint64 expected = qint64(header.width) * header.height * 4;
        if (header.width <= 0 || header.height <= 0)
            fail(EngineFailure::Garbled, name);
        if (header.extra == 0 && sharedPixels) {
            answer.picture = mapSharedPixels(sharedPixels, header.width, header.height);
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
    } else if (header.extra != 0) {
        fail(EngineFailure::Garbled, name);
    }
    return answer;
}

void EngineClient::documentsOpen(const QString &path)
{
    m_path = path;
    if (m_channel && !m_channel->openedAhead().isEmpty() && m_channel->openedAhead() == path) {
        // The engine was given this document before it was handed over: only its
        // answer is still to come.
        m_channel->setOpenedAhead({});
        collectPosted();
        receive("Documents.Open", Call::Open);
        return;
    }
    call("Documents.Open", openRequest(path));
}

void EngineClient::activeDocumentRepaginate()
{
    call("ActiveDocument.Repaginate", {Call::Repaginate, 0, 0, 0, {}});
}

qint32 EngineClient::activeDocumentBuiltInDocumentProperties(qint32 property)
{
    return call("ActiveDocument.BuiltInDocumentProperties", {Call::Property, property, 0, 0, {}})
        .header.value;
}

void EngineClient::selectionGoTo(qint32 what, qint32 which, qint16 name)
{
    post("Selection.GoTo", {Call::GoTo, what, which, name, {}});
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
    const Answer answer = call("Selection.Cut", {Call::Cut, 0, 0, 0, {}});
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        fail(EngineFailure::Refused, "Selection.Cut", "there is no clipboard");
    // The clipboard shares the picture: no copy of the pixels is made.
    QGuiApplication::clipboard()->setImage(answer.picture);
}

void EngineClient::activeDocumentClose(qint32 savechanges)
{
    call("ActiveDocument.Close", {Call::Close, savechanges, 0, 0, {}});
}

void EngineClient::quit()
{
    call("Quit", {Call::Quit, 0, 0, 0, {}});
    m_channel->finish(QDeadlineTimer(kQuitGraceMs));
}

engineprotocol::Request openRequest(const QString &path)
{
    return {Call::Open, 0, 0, 0, QFile::encodeName(path).toStdString()};
}

WordFactory engineFactory(const QString &engineFolder, int callTimeoutMs)
{
    return [engineFolder, callTimeoutMs]() -> std::unique_ptr<WordApplication> {
        const QString program = QDir(engineFolder).filePath("pagelift-engine");
        std::unique_ptr<EngineChannel> channel = startEngineProcess(program);
        if (!channel)
            throw Error(engineFailureNumber(EngineFailure::StartFailed),
                        engineFailureMessage(EngineFailure::StartFailed, program));
        return std::make_unique<EngineClient>(std::move(channel), callTimeoutMs);
    };
}
