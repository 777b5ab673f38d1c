#include "opendocument.h"

#include "fileurl.h"
#include "office.h"

#include <LibreOfficeKit/LibreOfficeKit.hxx>

#include <cstdlib>
#include <utility>

OpenDocument::OpenDocument(std::unique_ptr<lok::Document> document)
    : m_document(std::move(document))
{
}

OpenDocument::~OpenDocument() = default;

void OpenDocument::prepareForDrawing()
{
    m_document->initializeForRendering(kRenderingOptions);
    m_document->postUnoCommand(".uno:UpdateFields", nullptr, false);
}

std::string OpenDocument::pageRectangles()
{
    char *rectangles = m_document->getPartPageRectangles();
    std::string text = rectangles ? rectangles : "";
    std::free(rectangles);
    return text;
}

void OpenDocument::paint(uint8_t *buffer, int canvasWidth, int canvasHeight, int x, int y,
                         int width, int height)
{
    m_document->paintTile(buffer, canvasWidth, canvasHeight, x, y, width, height);
}

bool OpenDocument::exportPdf(const std::filesystem::path &file)
{
    // The options of the office's own conversion to PDF, which leaves comments out;
    // through LibreOfficeKit the export would add them as annotations, which poppler
    // draws as icons on the page.
    constexpr const char *kExportOptions = R"({"ExportNotes":{"type":"boolean","value":"false"}})";
    return m_document->saveAs(fileUrl(file).c_str(), "pdf", kExportOptions);
}

void OpenDocument::abandon()
{
    static_cast<void>(m_document.release());
}
