#include "printedpages.h"

#include "profile.h"

#include <Error.h>
#include <GlobalParams.h>
#include <LibreOfficeKit/LibreOfficeKit.hxx>
#include <PDFDoc.h>
#include <Page.h>
#include <SplashOutputDev.h>
#include <splash/SplashBitmap.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string>
#include <unistd.h>

namespace {

constexpr int kTwipsPerPoint = 20;
constexpr const char *kExportOptions = R"({"ExportNotes":{"type":"boolean","value":"false"}})";

// Poppler reports what it finds odd in a PDF on standard error, where the engine's
// client takes the last line for the engine's own message. The office's PDFs are
// well formed; anything that is not shows up as a page that is not drawn.
void ignorePopplerMessage(ErrorCategory, Goffset, const char *) {}

void setUpPoppler()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (!globalParams)
            globalParams = std::make_unique<GlobalParams>();
        setErrorCallback(&ignorePopplerMessage);
    });
}

} // namespace

PrintedPages::PrintedPages(std::unique_ptr<PDFDoc> pdf) : m_pdf(std::move(pdf))
{
    // As pdftoppm draws: on white paper, smoothed shapes and text, no hinting of the
    // glyphs. Four bytes a pixel, blue first, the fourth full: premultiplied BGRA.
    SplashColor paper;
    paper[0] = paper[1] = paper[2] = paper[3] = 0xFF;
    m_device = std::make_unique<SplashOutputDev>(splashModeXBGR8, 4, false, paper, true,
                                                 splashThinLineDefault);
    m_device->setFontAntialias(true);
    m_device->setVectorAntialias(true);
    m_device->setFreeTypeHinting(false, false);
    m_device->startDoc(m_pdf.get());
}

PrintedPages::~PrintedPages() = default;

std::unique_ptr<PrintedPages> PrintedPages::make(lok::Document &document,
                                                 const std::filesystem::path &folder)
{
    const std::filesystem::path file =
        folder / ("pagelift-printed-" + std::to_string(::getpid()) + ".pdf");
    std::error_code ec;
    std::filesystem::remove(file, ec);
    // The options of the office's own conversion to PDF, which leaves comments out;
    // through LibreOfficeKit the export would add them as annotations, which poppler
    // draws as icons on the page.
    if (!document.saveAs(fileUrl(file).c_str(), "pdf", kExportOptions)) {
        std::filesystem::remove(file, ec);
        return nullptr;
    }
    return open(file);
}

std::unique_ptr<PrintedPages> PrintedPages::open(const std::filesystem::path &file)
{
    setUpPoppler();
    auto pdf = std::make_unique<PDFDoc>(std::make_unique<GooString>(file.string()));
    // Poppler keeps the file open; its name is no longer needed.
    std::error_code ec;
    std::filesystem::remove(file, ec);
    if (!pdf->isOk() || pdf->getNumPages() <= 0)
        return nullptr;
    return std::unique_ptr<PrintedPages>(new PrintedPages(std::move(pdf)));
}

int PrintedPages::pageCount() const
{
    return m_pdf->getNumPages();
}

bool PrintedPages::size(int index, int64_t &width, int64_t &height) const
{
    Page *page = index >= 0 && index < pageCount() ? m_pdf->getPage(index + 1) : nullptr;
    if (!page)
        return false;
    // The office writes page sizes in points to many decimals: the twips of its
    // layout, to a fraction of one.
    const PDFRectangle *box = page->getMediaBox();
    const bool turned = page->getRotate() == 90 || page->getRotate() == 270;
    const double boxWidth = std::abs(box->x2 - box->x1);
    const double boxHeight = std::abs(box->y2 - box->y1);
    width = std::llround((turned ? boxHeight : boxWidth) * kTwipsPerPoint);
    height = std::llround((turned ? boxWidth : boxHeight) * kTwipsPerPoint);
    return true;
}

bool PrintedPages::hasSize(int index, int64_t width, int64_t height) const
{
    int64_t pdfWidth = 0;
    int64_t pdfHeight = 0;
    return size(index, pdfWidth, pdfHeight) && std::abs(pdfWidth - width) <= kTwipsPerPoint &&
           std::abs(pdfHeight - height) <= kTwipsPerPoint;
}

bool PrintedPages::draw(int index, int dpi, uint8_t *buffer, int width, int height,
                        int canvasWidth) const
{
    if (index < 0 || index >= pageCount() || !m_pdf->getPage(index + 1))
        return false;
    m_pdf->displayPageSlice(m_device.get(), index + 1, dpi, dpi, 0, false, true, false, 0, 0, width,
                            height);
    const SplashBitmap *image = m_device->getBitmap();
    if (!image || image->getMode() != splashModeXBGR8 || !image->getDataPtr())
        return false;
    // Poppler draws the slice asked for, the paper white where the page ends; should
    // it ever give less, the rest stays white.
    const int rows = std::min(height, image->getHeight());
    const int columns = std::min(width, image->getWidth());
    for (int y = 0; y < height; ++y) {
        uint8_t *line = buffer + size_t(y) * size_t(canvasWidth) * 4;
        const int from = y < rows ? columns : 0;
        if (from > 0)
            std::memcpy(line, image->getDataPtr() + size_t(y) * size_t(image->getRowSize()),
                        size_t(from) * 4);
        std::memset(line + size_t(from) * 4, 0xFF, size_t(width - from) * 4);
    }
    return true;
}
