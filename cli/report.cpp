#include "report.h"

#include "printable.h"
#include "runimages.h"

#include <algorithm>
#include <unistd.h>

QByteArray jsonString(const QString &value)
{
    QByteArray out = "\"";
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char16_t c = value[i].unicode();
        if (c == u'"' || c == u'\\') {
            out += '\\';
            out += char(c);
        } else if (c == u'\n') {
            out += "\\n";
        } else if (c == u'\t') {
            out += "\\t";
        } else if (c < 0x20) {
            out += QByteArray("\\u") + QByteArray::number(c, 16).rightJustified(4, '0');
        } else if (QChar::isHighSurrogate(c) && i + 1 < value.size() &&
                   value[i + 1].isLowSurrogate()) {
            out += value.mid(i, 2).toUtf8();
            ++i;
        } else if (QChar::isSurrogate(c)) {
            out += QByteArray("\\u") + QByteArray::number(c, 16);
        } else {
            out += QString(QChar(c)).toUtf8();
        }
    }
    return out + "\"";
}

QString plural(qsizetype count, const char *one, const char *many)
{
    return QString::number(count) + u' ' + QLatin1String(count == 1 ? one : many);
}

namespace {

// The document's own page count; never fewer than its images (a document that reports
// no pages still gives its one picture).
qsizetype pageCount(const DocumentResult &result)
{
    return std::max<qsizetype>(result.pageCount, result.images.size());
}

// "3 pages", or "1 of 180 pages" when only some were chosen.
QString pagesWritten(const DocumentResult &result)
{
    const qsizetype images = result.images.size();
    if (images == pageCount(result))
        return plural(images, "page", "pages");
    return QStringLiteral("%1 of %2").arg(images).arg(plural(pageCount(result), "page", "pages"));
}

} // namespace

QByteArray documentLine(const QString &document, const DocumentResult &result,
                        const RunImages &written, bool json)
{
    if (!json)
        return printable(document) +
               (result.failed ? QByteArray(": failed") : ": " + pagesWritten(result).toUtf8()) +
               '\n';
    QByteArray object = "{\"document\":" + jsonString(document);
    if (result.failed)
        return object + ",\"error\":" + jsonString(result.error) + "}\n";
    object += ",\"pages\":" + QByteArray::number(pageCount(result)) + ",\"images\":[";
    const QStringList own = written.ownImages(document);
    for (qsizetype i = 0; i < own.size(); ++i)
        object += (i ? "," : "") + jsonString(own[i]);
    object += ']';
    const auto replaced = written.replacedImages(document);
    if (!replaced.isEmpty()) {
        object += ",\"replaced\":[";
        for (qsizetype i = 0; i < replaced.size(); ++i)
            object += (i ? "," : "") + QByteArray("{\"image\":") + jsonString(replaced[i].first) +
                      ",\"by\":" + jsonString(replaced[i].second) + '}';
        object += ']';
    }
    object += ",\"left_out\":[";
    for (qsizetype i = 0; i < result.leftOut.size(); ++i)
        object += (i ? "," : "") + jsonString(result.leftOut[i]);
    return object + "],\"seconds\":" + QByteArray::number(result.seconds, 'f', 3) + "}\n";
}

void writeSummary(FILE *err, const QString &lead, qsizetype converted, qsizetype total,
                  qsizetype failed, int pages, double seconds, const RunImages &written)
{
    for (const QString &line : written.describe().split(u'\n', Qt::SkipEmptyParts))
        std::fprintf(err, "pagelift-convert: %s\n", printable(line).constData());
    QString summary =
        lead + QStringLiteral("%1 of %2 converted, %3, %4 s")
                   .arg(converted)
                   .arg(plural(total, "document", "documents"), plural(pages, "page", "pages"))
                   .arg(seconds, 0, 'f', 1);
    if (failed)
        summary += QStringLiteral("; %1 failed").arg(failed);
    std::fprintf(err, "pagelift-convert: %s\n", printable(summary).constData());
}

ProgressLine::ProgressLine(FILE *err) : m_err(err), m_enabled(::isatty(::fileno(err)))
{
    m_clock.start();
}

void ProgressLine::show(qsizetype finished, qsizetype total, int pages)
{
    if (!m_enabled || m_clock.elapsed() - m_last < 200)
        return;
    m_last = m_clock.elapsed();
    const double seconds = m_clock.elapsed() / 1000.0;
    const double rate = seconds > 0 ? pages / seconds : 0;
    const qsizetype left = total - finished;
    QString line = QStringLiteral("%1 of %2 documents, %3 pages, %4 pages/s")
                       .arg(finished)
                       .arg(total)
                       .arg(pages)
                       .arg(rate, 0, 'f', 1);
    if (finished > 0 && left > 0) {
        const qint64 remaining = qint64(seconds / double(finished) * double(left));
        line += QStringLiteral(", about %1:%2 left")
                    .arg(remaining / 60)
                    .arg(remaining % 60, 2, 10, QChar(u'0'));
    }
    std::fprintf(m_err, "\r%s\033[K", printable(line).constData());
    std::fflush(m_err);
    m_shown = true;
}

void ProgressLine::clear()
{
    if (m_shown) {
        std::fprintf(m_err, "\r\033[K");
        std::fflush(m_err);
        m_shown = false;
    }
}
