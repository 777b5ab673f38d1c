#include "otherdocuments.h"
#include "storedzip.h"

#include <QList>

namespace {

const char *const kDocumentStart =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<office:document xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\""
    " xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\""
    " xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\""
    " xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\""
    " xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\""
    " xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\""
    " xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\""
    " xmlns:presentation=\"urn:oasis:names:tc:opendocument:xmlns:presentation:1.0\""
    " office:version=\"1.2\" office:mimetype=\"application/vnd.oasis.opendocument.%1\">\n"
    // The office takes the page layouts of drawings and presentations only after
    // common styles, even none.
    "<office:styles/>\n";

QByteArray start(const char *kind)
{
    return QByteArray(kDocumentStart).replace("%1", kind);
}

QByteArray pageLayout(const char *name, const char *width, const char *height, const char *margin)
{
    return QByteArray("<style:page-layout style:name=\"") + name +
           "\"><style:page-layout-properties fo:page-width=\"" + width + "\" fo:page-height=\"" +
           height + "\" fo:margin-left=\"" + margin + "\" fo:margin-right=\"" + margin +
           "\" fo:margin-top=\"" + margin + "\" fo:margin-bottom=\"" + margin +
           "\"/></style:page-layout>\n";
}

QByteArray textFrame(const char *y, const char *text)
{
    return QByteArray("<draw:frame svg:x=\"2cm\" svg:y=\"") + y +
           "\" svg:width=\"16cm\" svg:height=\"3cm\"><draw:text-box><text:p>" + text +
           "</text:p></draw:text-box></draw:frame>";
}

} // namespace

QByteArray flatPresentation(const char *width, const char *height)
{
    return start("presentation") + "<office:automatic-styles>" +
           pageLayout("PM1", width, height, "0cm") +
           "<style:style style:name=\"hide\" style:family=\"drawing-page\">"
           "<style:drawing-page-properties presentation:visibility=\"hidden\"/></style:style>"
           "</office:automatic-styles>\n<office:master-styles><style:master-page "
           "style:name=\"Default\" style:page-layout-name=\"PM1\"/></office:master-styles>\n"
           "<office:body><office:presentation>\n"
           "<draw:page draw:name=\"one\" draw:master-page-name=\"Default\">" +
           textFrame("2cm", "First slide") + "<presentation:notes>" +
           textFrame("2cm", "Notes are not printed") +
           "</presentation:notes></draw:page>\n"
           "<draw:page draw:name=\"hidden\" draw:master-page-name=\"Default\" "
           "draw:style-name=\"hide\">" +
           textFrame("2cm", "Hidden slide") +
           "</draw:page>\n<draw:page draw:name=\"two\" draw:master-page-name=\"Default\">" +
           textFrame("5cm", "Second slide") +
           "</draw:page>\n</office:presentation></office:body></office:document>\n";
}

QByteArray flatSlideShow(int slides)
{
    const QList<QByteArray> colours{"#3465a4", "#c9211e", "#2a6099", "#77bc65", "#ff972f"};
    QByteArray styles = pageLayout("PM1", "28cm", "15.75cm", "0cm") +
                        "<style:style style:name=\"title\" style:family=\"paragraph\">"
                        "<style:text-properties fo:font-size=\"32pt\" fo:font-weight=\"bold\"/>"
                        "</style:style>"
                        "<style:style style:name=\"text\" style:family=\"graphic\">"
                        "<style:graphic-properties draw:fill=\"none\" draw:stroke=\"none\"/>"
                        "</style:style>";
    for (qsizetype i = 0; i < colours.size(); ++i)
        styles += "<style:style style:name=\"fill" + QByteArray::number(i) +
                  "\" style:family=\"graphic\"><style:graphic-properties draw:fill=\"solid\" "
                  "draw:fill-color=\"" +
                  colours[i] + "\"/></style:style>";
    QByteArray pages;
    for (int slide = 1; slide <= slides; ++slide) {
        const QByteArray number = QByteArray::number(slide);
        const auto fill = [&](int shape) {
            return "fill" + QByteArray::number((slide + shape) % colours.size());
        };
        const QByteArray left = QByteArray::number(14 + slide % 4) + "cm";
        QByteArray text;
        for (int line = 1; line <= 4; ++line)
            text += "<text:p>Point " + QByteArray::number(line) + " of slide " + number +
                    ": a line of ordinary words</text:p>";
        pages +=
            "<draw:page draw:name=\"slide" + number +
            "\" draw:master-page-name=\"Default\">"
            "<draw:frame draw:style-name=\"text\" svg:x=\"1.5cm\" svg:y=\"1cm\" svg:width=\"25cm\" "
            "svg:height=\"2.5cm\"><draw:text-box><text:p text:style-name=\"title\">Slide " +
            number +
            "</text:p></draw:text-box></draw:frame>"
            "<draw:frame draw:style-name=\"text\" svg:x=\"1.5cm\" svg:y=\"4cm\" svg:width=\"12cm\" "
            "svg:height=\"8cm\"><draw:text-box>" +
            text +
            "</draw:text-box></draw:frame>"
            "<draw:rect draw:style-name=\"" +
            fill(0) + "\" svg:x=\"" + left +
            "\" svg:y=\"4cm\" svg:width=\"6cm\" svg:height=\"4cm\"><text:p>Box " + number +
            "</text:p></draw:rect>"
            "<draw:ellipse draw:style-name=\"" +
            fill(1) +
            "\" svg:x=\"21.5cm\" svg:y=\"5cm\" svg:width=\"5cm\" svg:height=\"5cm\"/>"
            "<draw:rect draw:style-name=\"" +
            fill(2) +
            "\" svg:x=\"1.5cm\" svg:y=\"13cm\" svg:width=\"25cm\" "
            "svg:height=\"1cm\"/></draw:page>\n";
    }
    return start("presentation") + "<office:automatic-styles>" + styles +
           "</office:automatic-styles>\n<office:master-styles><style:master-page "
           "style:name=\"Default\" style:page-layout-name=\"PM1\"/></office:master-styles>\n"
           "<office:body><office:presentation>\n" +
           pages + "</office:presentation></office:body></office:document>\n";
}

QByteArray flatSpreadsheet()
{
    QByteArray cells;
    for (int column = 1; column <= 9; ++column)
        cells += "<table:table-cell office:value-type=\"string\"><text:p>Column " +
                 QByteArray::number(column) + "</text:p></table:table-cell>";
    return start("spreadsheet") +
           "<office:automatic-styles>"
           "<style:style style:name=\"wide\" style:family=\"table-column\">"
           "<style:table-column-properties style:column-width=\"5cm\"/></style:style>"
           "<style:style style:name=\"portrait\" style:family=\"table\" "
           "style:master-page-name=\"Portrait\"/>"
           "<style:style style:name=\"landscape\" style:family=\"table\" "
           "style:master-page-name=\"Landscape\"/>" +
           pageLayout("PA4", "21cm", "29.7cm", "2cm") + pageLayout("PA5", "21cm", "14.8cm", "2cm") +
           "</office:automatic-styles>\n<office:master-styles>"
           "<style:master-page style:name=\"Portrait\" style:page-layout-name=\"PA4\"/>"
           "<style:master-page style:name=\"Landscape\" style:page-layout-name=\"PA5\"/>"
           "</office:master-styles>\n<office:body><office:spreadsheet>\n"
           "<table:table table:name=\"Wide\" table:style-name=\"portrait\">"
           "<table:table-column table:style-name=\"wide\" table:number-columns-repeated=\"9\"/>"
           "<table:table-row>" +
           cells +
           "</table:table-row></table:table>\n"
           "<table:table table:name=\"Second\" table:style-name=\"landscape\"><table:table-row>"
           "<table:table-cell office:value-type=\"string\"><text:p>Second sheet</text:p>"
           "</table:table-cell></table:table-row></table:table>\n"
           "</office:spreadsheet></office:body></office:document>\n";
}

QByteArray flatDrawing()
{
    return start("graphics") + "<office:automatic-styles>" +
           pageLayout("PM1", "14.8cm", "21cm", "1cm") +
           "</office:automatic-styles>\n<office:master-styles><style:master-page "
           "style:name=\"Default\" style:page-layout-name=\"PM1\"/></office:master-styles>\n"
           "<office:body><office:drawing>\n"
           "<draw:page draw:name=\"one\" draw:master-page-name=\"Default\"><draw:rect "
           "svg:x=\"2cm\" svg:y=\"2cm\" svg:width=\"8cm\" svg:height=\"5cm\"><text:p>A box"
           "</text:p></draw:rect></draw:page>\n"
           "<draw:page draw:name=\"two\" draw:master-page-name=\"Default\"><draw:ellipse "
           "svg:x=\"3cm\" svg:y=\"6cm\" svg:width=\"6cm\" svg:height=\"6cm\"><text:p>A circle"
           "</text:p></draw:ellipse></draw:page>\n"
           "</office:drawing></office:body></office:document>\n";
}

QByteArray keynotePresentation()
{
    QByteArray slides;
    for (const char *text : {"First slide", "Second slide"}) {
        slides += QByteArray(R"(<key:slide><key:page><sf:layers><sf:layer><sf:drawables>
<sf:shape><sf:geometry><sf:naturalSize sfa:w="400" sfa:h="100"/><sf:position sfa:x="100" sfa:y="100"/></sf:geometry>
<sf:path><sf:point-path sf:type="rectangle"><sf:point sfa:x="0" sfa:y="0"/><sf:size sfa:w="400" sfa:h="100"/></sf:point-path></sf:path>
<sf:text><sf:text-storage><sf:text-body><sf:p>)") +
                  text + R"(</sf:p></sf:text-body></sf:text-storage></sf:text></sf:shape>
</sf:drawables></sf:layer></sf:layers></key:page></key:slide>
)";
    }
    const QByteArray index =
        R"(<?xml version="1.0" encoding="UTF-8"?>
<key:presentation xmlns:key="http://developer.apple.com/namespaces/keynote2" xmlns:sf="http://developer.apple.com/namespaces/sf" xmlns:sfa="http://developer.apple.com/namespaces/sfa" key:version="92008102400">
<key:size sfa:w="1024" sfa:h="768"/>
<key:slide-list>
)" + slides +
        "</key:slide-list>\n</key:presentation>\n";
    return storedZip({{"index.apxl", index}});
}

QByteArray madePdf()
{
    // Each page a filled box; its boxes and turn as its dictionary's tail.
    const QList<QByteArray> pages{
        "/MediaBox [0 0 595 842]",
        "/MediaBox [0 0 792 612] /CropBox [36 36 756 576]",
        "/MediaBox [0 0 420 595] /Rotate 90",
    };
    const QByteArray content = "0.2 0.4 0.8 rg 72 72 200 120 re f";
    QList<QByteArray> objects{"<< /Type /Catalog /Pages 2 0 R >>", {}};
    QByteArray kids;
    for (const QByteArray &page : pages) {
        const int pageObject = int(objects.size()) + 1;
        kids += QByteArray::number(pageObject) + " 0 R ";
        objects << "<< /Type /Page /Parent 2 0 R " + page + " /Contents " +
                       QByteArray::number(pageObject + 1) + " 0 R >>";
        objects << "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content +
                       "\nendstream";
    }
    objects[1] =
        "<< /Type /Pages /Kids [" + kids + "] /Count " + QByteArray::number(pages.size()) + " >>";
    QByteArray pdf = "%PDF-1.4\n";
    QList<qsizetype> offsets;
    for (int i = 0; i < objects.size(); ++i) {
        offsets << pdf.size();
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype table = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype offset : offsets)
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) +
           " /Root 1 0 R >>\nstartxref\n" + QByteArray::number(table) + "\n%%EOF\n";
    return pdf;
}
