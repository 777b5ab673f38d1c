#include "linkeddocuments.h"

#include "storedzip.h"

#include <QBuffer>
#include <QImage>

#include <cstdlib>

namespace {

QByteArray escaped(const QString &text)
{
    return text.toHtmlEscaped().toUtf8();
}

const QByteArray kOdfNamespaces =
    R"(xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" )"
    R"(xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" )"
    R"(xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" )"
    R"(xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0" )"
    R"(xmlns:script="urn:oasis:names:tc:opendocument:xmlns:script:1.0" )"
    R"(xmlns:ooo="http://openoffice.org/2004/office" xmlns:dom="http://www.w3.org/2001/xml-events" )"
    R"(xmlns:xlink="http://www.w3.org/1999/xlink" office:version="1.3")";

QByteArray odfBody(const QString &href)
{
    return R"(<office:body><office:text><text:p>A linked picture: <draw:frame draw:name="picture" )"
           R"(text:anchor-type="as-char" svg:width="2in" svg:height="2in"><draw:image xlink:href=")" +
           escaped(href) +
           R"(" xlink:type="simple" xlink:show="embed" xlink:actuate="onLoad"/></draw:frame>)"
           R"(</text:p></office:text></office:body>)";
}

QByteArray docx(const QString &href)
{
    const QByteArray types =
        R"(<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
        R"(<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>)"
        R"(<Default Extension="xml" ContentType="application/xml"/>)"
        R"(<Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/></Types>)";
    const QByteArray rels =
        R"(<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
        R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/></Relationships>)";
    const QByteArray documentRels =
        R"(<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
        R"(<Relationship Id="rIdPicture" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/image" Target=")" +
        escaped(href) + R"(" TargetMode="External"/></Relationships>)";
    // Two inches are 1828800 EMU.
    const QByteArray document =
        R"(<?xml version="1.0" encoding="UTF-8"?><w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main" )"
        R"(xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships" )"
        R"(xmlns:wp="http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing" )"
        R"(xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main" )"
        R"(xmlns:pic="http://schemas.openxmlformats.org/drawingml/2006/picture"><w:body><w:p>)"
        R"(<w:r><w:t xml:space="preserve">A linked picture: </w:t></w:r><w:r><w:drawing><wp:inline>)"
        R"(<wp:extent cx="1828800" cy="1828800"/><wp:docPr id="1" name="Picture 1"/><a:graphic>)"
        R"(<a:graphicData uri="http://schemas.openxmlformats.org/drawingml/2006/picture"><pic:pic>)"
        R"(<pic:nvPicPr><pic:cNvPr id="1" name="linked"/><pic:cNvPicPr/></pic:nvPicPr>)"
        R"(<pic:blipFill><a:blip r:link="rIdPicture"/><a:stretch><a:fillRect/></a:stretch></pic:blipFill>)"
        R"(<pic:spPr><a:xfrm><a:off x="0" y="0"/><a:ext cx="1828800" cy="1828800"/></a:xfrm>)"
        R"(<a:prstGeom prst="rect"/></pic:spPr></pic:pic></a:graphicData></a:graphic></wp:inline>)"
        R"(</w:drawing></w:r></w:p><w:sectPr/></w:body></w:document>)";
    return storedZip({{"[Content_Types].xml", types},
                      {"_rels/.rels", rels},
                      {"word/_rels/document.xml.rels", documentRels},
                      {"word/document.xml", document}});
}

} // namespace

QByteArray linkedPictureDocument(LinkingFormat format, const QString &href)
{
    const QByteArray mimeType = "application/vnd.oasis.opendocument.text";
    switch (format) {
    case LinkingFormat::FlatOdt:
        return R"(<?xml version="1.0" encoding="UTF-8"?><office:document )" + kOdfNamespaces +
               R"( office:mimetype=")" + mimeType + R"(">)" + odfBody(href) + "</office:document>";
    case LinkingFormat::Odt: {
        // In a package a relative link names a part of it; a file beside the document
        // is reached by climbing out of the package first.
        const bool relative = !href.contains(u':') && !href.startsWith(u'/');
        const QByteArray manifest =
            R"(<?xml version="1.0" encoding="UTF-8"?><manifest:manifest xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0" manifest:version="1.3">)"
            R"(<manifest:file-entry manifest:full-path="/" manifest:media-type=")" +
            mimeType +
            R"("/><manifest:file-entry manifest:full-path="content.xml" manifest:media-type="text/xml"/></manifest:manifest>)";
        const QByteArray content =
            R"(<?xml version="1.0" encoding="UTF-8"?><office:document-content )" + kOdfNamespaces +
            ">" + odfBody(relative ? "../" + href : href) + "</office:document-content>";
        return storedZip({{"mimetype", mimeType},
                          {"META-INF/manifest.xml", manifest},
                          {"content.xml", content}});
    }
    case LinkingFormat::Docx:
        return docx(href);
    }
    return {};
}

QByteArray solidPng(const QColor &color)
{
    QImage image(64, 64, QImage::Format_RGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

int pixelsNear(const QImage &page, const QColor &color)
{
    int count = 0;
    for (int y = 0; y < page.height(); ++y) {
        for (int x = 0; x < page.width(); ++x) {
            const QColor pixel = page.pixelColor(x, y);
            if (std::abs(pixel.red() - color.red()) < 40 &&
                std::abs(pixel.green() - color.green()) < 40 &&
                std::abs(pixel.blue() - color.blue()) < 40)
                ++count;
        }
    }
    return count;
}

QByteArray macroDocument()
{
    return R"(<?xml version="1.0" encoding="UTF-8"?><office:document )" + kOdfNamespaces +
           R"( office:mimetype="application/vnd.oasis.opendocument.text"><office:scripts>)"
           R"(<office:script script:language="ooo:Basic"><ooo:libraries>)"
           R"(<ooo:library-embedded ooo:name="Standard"><ooo:module ooo:name="Marker"><ooo:source-code>)"
           "Sub Mark\n"
           "    path = CreateUnoService(&quot;com.sun.star.util.PathSubstitution&quot;)"
           ".substituteVariables(&quot;$(user)&quot;, True) &amp; &quot;/" +
           QByteArray(kMacroMarker) +
           "&quot;\n"
           "    Open ConvertFromURL(path) For Output As #1\n"
           "    Print #1, &quot;ran&quot;\n"
           "    Close #1\n"
           "End Sub\n"
           R"(</ooo:source-code></ooo:module></ooo:library-embedded></ooo:libraries></office:script>)"
           R"(<office:event-listeners><script:event-listener script:language="ooo:script" )"
           R"(script:event-name="dom:load" xlink:type="simple" )"
           R"(xlink:href="vnd.sun.star.script:Standard.Marker.Mark?language=Basic&amp;location=document"/>)"
           R"(</office:event-listeners></office:scripts><office:body><office:text>)"
           R"(<text:p>A document that runs a macro as it opens.</text:p></office:text></office:body>)"
           R"(</office:document>)";
}
