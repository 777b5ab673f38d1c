#include "enginedocuments.h"

#include "storedzip.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>

// First a pair of pages that print the same, the first with hidden text whose
// condition holds (the office evaluates such conditions when it loads a document only
// if a field such as the page count makes it compute fields). Then pages that print blank but carry
// what editing views mark: an empty table without borders, an empty section, a comment, and nothing
// but spaces, tabs, a line break and a column break. Then more pairs, the first of each with what
// editing views mark or shade. screenOnlyMarksAreNotDrawn_data() names the pages.
extern const QByteArray kEditingAids =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<office:document xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\"\n"
    " xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\"\n"
    " xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\"\n"
    " xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\"\n"
    " xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\"\n"
    " xmlns:dc=\"http://purl.org/dc/elements/1.1/\"\n"
    " xmlns:ooow=\"http://openoffice.org/2004/writer\"\n"
    " office:version=\"1.3\" office:mimetype=\"application/vnd.oasis.opendocument.text\">\n"
    "<office:automatic-styles>\n"
    " <style:page-layout style:name=\"pm\"><style:page-layout-properties fo:page-width=\"21cm\""
    " fo:page-height=\"29.7cm\" fo:margin-top=\"2cm\" fo:margin-bottom=\"2cm\""
    " fo:margin-left=\"2cm\" fo:margin-right=\"2cm\"/></style:page-layout>\n"
    " <style:style style:name=\"Break\" style:family=\"paragraph\">"
    "<style:paragraph-properties fo:break-before=\"page\"/></style:style>\n"
    " <style:style style:name=\"BreakTable\" style:family=\"table\">"
    "<style:table-properties fo:break-before=\"page\"/></style:style>\n"
    " <style:style style:name=\"ColumnBreak\" style:family=\"paragraph\">"
    "<style:paragraph-properties fo:break-before=\"column\"/></style:style>\n"
    " <style:style style:name=\"Columns\" style:family=\"section\"><style:section-properties>"
    "<style:columns fo:column-count=\"2\" fo:column-gap=\"1cm\"/></style:section-properties>"
    "</style:style>\n"
    " <style:style style:name=\"Hidden\" style:family=\"text\">"
    "<style:text-properties text:display=\"none\"/></style:style>\n"
    "</office:automatic-styles>\n"
    "<office:master-styles><style:master-page style:name=\"Standard\""
    " style:page-layout-name=\"pm\"/></office:master-styles>\n"
    "<office:body><office:text>\n"
    "<text:p>Field:<text:span text:style-name=\"Hidden\"> and"
    "</text:span> <text:hidden-text text:condition=\"ooow:1\" text:string-value=\"HIDDEN\" "
    "text:is-hidden=\"true\">HIDDEN</text:hidden-text> words.</text:p>\n"
    "<text:p text:style-name=\"Break\">Field: <text:s/>words.</text:p>\n"
    "<table:table table:name=\"Empty\" table:style-name=\"BreakTable\"><table:table-column "
    "table:number-columns-repeated=\"3\"/>"
    "<table:table-row><table:table-cell><text:p/></table:table-cell><table:table-cell><text:p/>"
    "</table:table-cell><table:table-cell><text:p/></table:table-cell></table:table-row>"
    "<table:table-row><table:table-cell><text:p/></table:table-cell><table:table-cell><text:p/>"
    "</table:table-cell><table:table-cell><text:p/></table:table-cell></table:table-row>"
    "</table:table>\n"
    "<text:section text:name=\"Quiet\"><text:p "
    "text:style-name=\"Break\"/><text:p/></text:section>\n"
    "<text:p text:style-name=\"Break\"><office:annotation><dc:creator>Reviewer</dc:creator>"
    "<text:p>A remark that is never printed.</text:p></office:annotation></text:p>\n"
    "<text:p text:style-name=\"Break\"><text:tab/> <text:s text:c=\"3\"/><text:line-break/>"
    "&#160;<text:tab/></text:p><text:p/>\n"
    "<text:section text:name=\"TwoColumns\" text:style-name=\"Columns\"><text:p/>"
    "<text:p text:style-name=\"ColumnBreak\"/></text:section>\n"
    // Indexes: a table of contents, a bibliography and an alphabetical index, each
    // followed by the same lines as plain paragraphs.
    "<text:p text:style-name=\"Break\">Contents</text:p>\n"
    "<text:table-of-content text:name=\"Contents\"><text:table-of-content-source "
    "text:outline-level=\"3\"/><text:index-body><text:p>Chapter one</text:p>"
    "<text:p>Chapter two</text:p></text:index-body></text:table-of-content>\n"
    "<text:p text:style-name=\"Break\">Contents</text:p>\n"
    "<text:p>Chapter one</text:p><text:p>Chapter two</text:p>\n"
    "<text:p text:style-name=\"Break\">Sources</text:p>\n"
    "<text:bibliography text:name=\"Sources\"><text:bibliography-source/><text:index-body>"
    "<text:p>Smith, A Book, 1999</text:p></text:index-body></text:bibliography>\n"
    "<text:p text:style-name=\"Break\">Sources</text:p>\n"
    "<text:p>Smith, A Book, 1999</text:p>\n"
    "<text:p text:style-name=\"Break\">Index</text:p>\n"
    "<text:alphabetical-index text:name=\"Index\"><text:alphabetical-index-source/>"
    "<text:index-body><text:p>Apple, 1</text:p></text:index-body></text:alphabetical-index>\n"
    "<text:p text:style-name=\"Break\">Index</text:p>\n"
    "<text:p>Apple, 1</text:p>\n"
    "<text:p text:style-name=\"Break\">Soft hy&#173;phens in the mid&#173;dle of words</text:p>\n"
    "<text:p text:style-name=\"Break\">Soft hyphens in the middle of words</text:p>\n"
    "<text:p text:style-name=\"Break\">Page <text:page-number "
    "text:select-page=\"current\">15</text:page-number></text:p>\n"
    "<text:p text:style-name=\"Break\">Page 15</text:p>\n"
    "<text:p text:style-name=\"Break\">Shown words.</text:p>\n"
    "<text:p><text:hidden-paragraph text:condition=\"ooow:1\" text:is-hidden=\"true\"/>"
    "A hidden paragraph.</text:p><text:p>More shown words.</text:p>\n"
    "<text:p text:style-name=\"Break\">Shown words.</text:p>\n"
    "<text:p>More shown words.</text:p>\n"
    "<text:p text:style-name=\"Break\">Shown<text:span text:style-name=\"Hidden\"> and hidden"
    "</text:span> words.</text:p>\n"
    "<text:p text:style-name=\"Break\">Shown words.</text:p>\n"
    "</office:text></office:body></office:document>\n";

// Small justified text, pages of it, then a long table ruled with thin lines: the kind
// of page where drawing for the screen and drawing for print differ most.
QByteArray denseDocument()
{
    static const char *const words[] = {
        "pagination", "of",     "a",       "dense", "justified", "paragraph", "spreads",
        "the",        "spaces", "between", "words", "unevenly",  "so",        "every",
        "glyph",      "sits",   "at",      "its",   "own",       "fraction",  "pixel",
        "and",        "rules",  "measure", "half",  "point",     "across",    "table"};
    QByteArray body;
    unsigned seed = 7;
    for (int paragraph = 0; paragraph < 30; ++paragraph) {
        body += "<text:p text:style-name=\"Dense\">";
        for (int word = 0; word < 90; ++word) {
            seed = seed * 1103515245u + 12345u;
            body += words[(seed >> 16) % std::size(words)];
            body += word % 13 == 12 ? ". " : " ";
        }
        body += "</text:p>\n";
    }
    body += "<table:table table:name=\"Ruled\"><table:table-column "
            "table:number-columns-repeated=\"5\"/>\n";
    for (int row = 0; row < 60; ++row) {
        body += "<table:table-row>";
        for (int column = 0; column < 5; ++column)
            body +=
                "<table:table-cell table:style-name=\"Ruled\"><text:p text:style-name=\"Dense\">" +
                QByteArray::number(row * 5 + column + 1000) + "</text:p></table:table-cell>";
        body += "</table:table-row>\n";
    }
    body += "</table:table>\n";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<office:document xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\"\n"
           " xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\"\n"
           " xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\"\n"
           " xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\"\n"
           " xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\"\n"
           " office:version=\"1.3\" office:mimetype=\"application/vnd.oasis.opendocument.text\">\n"
           "<office:automatic-styles>\n"
           " <style:page-layout style:name=\"pm\"><style:page-layout-properties "
           "fo:page-width=\"21cm\" fo:page-height=\"29.7cm\" fo:margin-top=\"1.5cm\" "
           "fo:margin-bottom=\"1.5cm\" fo:margin-left=\"1.5cm\" fo:margin-right=\"1.5cm\"/>"
           "</style:page-layout>\n"
           " <style:style style:name=\"Dense\" style:family=\"paragraph\">"
           "<style:paragraph-properties fo:text-align=\"justify\"/><style:text-properties "
           "style:font-name=\"Liberation Serif\" fo:font-family=\"'Liberation Serif'\" "
           "fo:font-size=\"8pt\"/></style:style>\n"
           " <style:style style:name=\"Ruled\" style:family=\"table-cell\">"
           "<style:table-cell-properties fo:border=\"0.5pt solid #000000\" "
           "fo:padding=\"0.05cm\"/></style:style>\n"
           "</office:automatic-styles>\n"
           "<office:master-styles><style:master-page style:name=\"Standard\""
           " style:page-layout-name=\"pm\"/></office:master-styles>\n"
           "<office:body><office:text>\n" +
           body + "</office:text></office:body></office:document>\n";
}

// A WordPerfect 4.2 document: text with one-byte codes (bold on, bold off) and control
// bytes, a NUL among them. It starts with no signature, and the office's type
// detection recognises it whatever its name.
extern const QByteArray kWordPerfect42("Pagelift reads \x9dWordPerfect\x9c 4.2 files.\n\0\n"
                                       "A second line of words.\n",
                                       66);

// A web page: on a screen one long page as wide as the window; printed, as the office
// prints it, pages of the default paper.
QByteArray webPage()
{
    QByteArray paragraphs;
    for (int i = 1; i <= 30; ++i)
        paragraphs += "<p>Paragraph " + QByteArray::number(i) +
                      " of a web page, with words enough to wrap over more than one line of "
                      "the printed page and fill it.</p>\n";
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>A web page</title>"
           "</head><body>\n" +
           paragraphs + "</body></html>\n";
}

// Text with tracked changes, each insertion by one of `authors`: the office colours
// the changes of each author by the author's place in its table of authors, a table
// every document opened in the process adds to.
QByteArray trackedChanges(const QStringList &authors)
{
    QByteArray regions;
    QByteArray text = "<text:p>Reviewed text.";
    for (int i = 0; i < authors.size(); ++i) {
        const QByteArray id = "ct" + QByteArray::number(i + 1);
        regions += "<text:changed-region text:id=\"" + id +
                   "\"><text:insertion>"
                   "<office:change-info><dc:creator>" +
                   authors[i].toUtf8() + "</dc:creator><dc:date>2024-01-0" +
                   QByteArray::number(i + 1) +
                   "T10:00:00</dc:date></office:change-info></text:insertion>"
                   "</text:changed-region>\n";
        text += " <text:change-start text:change-id=\"" + id + "\"/>Words that " +
                authors[i].toUtf8() + " inserted, in a colour of their own." +
                "<text:change-end text:change-id=\"" + id + "\"/>";
    }
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<office:document xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\"\n"
           " xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\"\n"
           " xmlns:dc=\"http://purl.org/dc/elements/1.1/\"\n"
           " office:version=\"1.3\" office:mimetype=\"application/vnd.oasis.opendocument.text\">\n"
           "<office:body><office:text>\n<text:tracked-changes>\n" +
           regions + "</text:tracked-changes>\n" + text + "</text:p>\n" +
           "</office:text></office:body></office:document>\n";
}

// An OpenDocument text that carries the font its text is set in, a font of this
// machine's put in the package as documents made elsewhere carry theirs.
QByteArray fontCarryingDocument(const QByteArray &font)
{
    const QByteArray content =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<office:document-content "
        "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\"\n"
        " xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\"\n"
        " xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\"\n"
        " xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\"\n"
        " xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\"\n"
        " xmlns:xlink=\"http://www.w3.org/1999/xlink\" office:version=\"1.3\">\n"
        "<office:font-face-decls><style:font-face style:name=\"DejaVu Sans Mono\" "
        "svg:font-family=\"'DejaVu Sans Mono'\"><svg:font-face-src><svg:font-face-uri "
        "xlink:href=\"Fonts/carried.ttf\" xlink:type=\"simple\"><svg:font-face-format "
        "svg:string=\"truetype\"/></svg:font-face-uri></svg:font-face-src></style:font-face>"
        "</office:font-face-decls>\n"
        "<office:automatic-styles><style:style style:name=\"F\" style:family=\"paragraph\">"
        "<style:text-properties style:font-name=\"DejaVu Sans Mono\" fo:font-size=\"14pt\"/>"
        "</style:style></office:automatic-styles>\n"
        "<office:body><office:text><text:p text:style-name=\"F\">A document that carries its "
        "font along.</text:p></office:text></office:body></office:document-content>\n";
    const QByteArray manifest =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<manifest:manifest "
        "xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\">\n"
        " <manifest:file-entry manifest:full-path=\"/\" "
        "manifest:media-type=\"application/vnd.oasis.opendocument.text\"/>\n"
        " <manifest:file-entry manifest:full-path=\"content.xml\" "
        "manifest:media-type=\"text/xml\"/>\n"
        " <manifest:file-entry manifest:full-path=\"Fonts/carried.ttf\" "
        "manifest:media-type=\"application/x-font-ttf\"/>\n"
        "</manifest:manifest>\n";
    return storedZip({{"mimetype", "application/vnd.oasis.opendocument.text"},
                      {"content.xml", content},
                      {"Fonts/carried.ttf", font},
                      {"META-INF/manifest.xml", manifest}});
}

QByteArray hashOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result();
}

bool run(const QString &program, const QStringList &arguments, QString *output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool finished = process.waitForFinished(120000);
    if (output)
        *output = QString::fromLocal8Bit(process.readAll());
    if (!finished)
        process.kill();
    return finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}
