#include "batchdriver.h"

#include "dialogs.h"
#include "error.h"
#include "filereplace.h"
#include "leftout.h"
#include "mousepointer.h"
#include "officecheck.h"
#include "pathbytes.h"
#include "runimages.h"

#include <QProgressBar>

#include <optional>
#include <sys/stat.h>

namespace {

// Progress steps per document, so that the bar moves page by page.
constexpr int kStepsPerDocument = 100;
// Documents after the current one that engines may open ahead.
constexpr int kLookAhead = 2;

QString describeFailure(const QString &message, const QString &document)
{
    if (message.contains(document))
        return message;
    return QStringLiteral("%1\n\nThe run stopped at \"%2\".").arg(message, document);
}

} // namespace

BatchDriver::BatchDriver(BatchHost host) : m_host(std::move(host))
{
    if (!m_host.isOfficeRunning)
        m_host.isOfficeRunning = [] { return isOfficeRunning(); };
}

void BatchDriver::run()
{
    // The exporter processes events, so this handler can be reached again meanwhile.
    if (m_running)
        return;
    m_running = true;
    struct Reset
    {
        bool &running;
        ~Reset() { running = false; }
    } reset{m_running};

    BusyPointer busy(*m_host.pointer);
    if (m_host.rowCount() == 0) {
        m_host.dialogs->messageBox(m_host.window, QStringLiteral("No files added."));
    } else if (!officeGuardCancels(*m_host.dialogs, m_host.window, m_host.isOfficeRunning)) {
        convertAll(busy);
    }
}

void BatchDriver::expectFrom(int position, const QString &document)
{
    if (!m_host.expectDocuments)
        return;
    QStringList documents{document};
    for (int next = position + 1; next <= position + kLookAhead && next <= m_host.rowCount();
         ++next)
        documents << m_host.rowText(next);
    m_host.expectDocuments(documents);
}

void BatchDriver::expectNothing()
{
    if (m_host.expectDocuments)
        m_host.expectDocuments({});
}

void BatchDriver::protectListedDocuments()
{
    clearProtectedFiles();
    for (int position = 1; position <= m_host.rowCount(); ++position) {
        struct stat info;
        if (::stat(encodePath(m_host.rowText(position)).constData(), &info) == 0)
            protectFromReplacement(info.st_dev, info.st_ino);
    }
}

QString BatchDriver::finalMessage(const QString &message, const RunImages &written,
                                  const QStringList &leftOut)
{
    QStringList parts{message};
    if (const QString replaced = written.describe(); !replaced.isEmpty())
        parts << replaced;
    if (!leftOut.isEmpty())
        parts << leftOut.join(u'\n');
    if (!m_sandboxTold && m_host.sandboxNotice) {
        m_sandboxTold = true;
        if (const QString notice = m_host.sandboxNotice(); !notice.isEmpty())
            parts << notice;
    }
    return parts.join(QStringLiteral("\n\n"));
}

void BatchDriver::convertAll(BusyPointer &busy)
{
    const int count = m_host.rowCount();
    QProgressBar *bar = m_host.progressBar;
    RunImages written;
    protectListedDocuments();
    QStringList leftOut; // a sentence for each document that had something left out
    bar->setRange(0, count * kStepsPerDocument);
    bar->setValue(0);

    for (int position = 1; position <= count; ++position) {
        // Rows may have been removed while events were processed: a position that
        // no longer exists ends the run as if the list ended there.
        if (position > m_host.rowCount())
            break;
        const QString document = m_host.rowText(position);
        expectFrom(position, document);
        busy.show();

        ExportHost exporter = m_host.exporter;
        exporter.busy = &busy;
        const int before = (position - 1) * kStepsPerDocument;
        exporter.imageWritten = [&written, document](const QString &image) {
            written.note(document, image);
        };
        exporter.leftOut = [&leftOut, document](const QStringList &links) {
            leftOut << describeLeftOut(document, links);
        };
        exporter.pageWritten = [bar, before](int pagesDone, int pageCount) {
            const int share = pageCount > 0
                                  ? std::min(pagesDone, pageCount) * kStepsPerDocument / pageCount
                                  : kStepsPerDocument;
            bar->setValue(before + share);
        };
        const std::optional<QString> failure =
            failureOf([&] { exportPages(document, m_host.createWord, exporter); });
        if (failure) {
            expectNothing();
            busy.end();
            m_host.dialogs->messageBox(
                m_host.window, finalMessage(describeFailure(*failure, document), written, leftOut));
            return;
        }
        bar->setValue(position * kStepsPerDocument);
        busy.show();
    }

    expectNothing();
    bar->setValue(0);
    m_host.dialogs->messageBox(m_host.window,
                               finalMessage(QStringLiteral("Done."), written, leftOut));
}
