#include "printedpages.h"

#include "profile.h"

#include <LibreOfficeKit/LibreOfficeKit.hxx>
#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

constexpr int kTwipsPerPoint = 20;
constexpr const char *kExportOptions = R"({"ExportNotes":{"type":"boolean","value":"false"}})";

// Poppler reports what it finds odd in a PDF on standard error, where the engine's
// client takes the last line for the engine's own message. The office's PDFs are
// well formed; anything that is not shows up as a page that is not drawn.
void ignorePopplerMessage(const std::string &, void *) {}

} // namespace

PrintedPages::PrintedPages(std::unique_ptr<poppler::document> pdf)
    : m_pdf(std::move(pdf)), m_renderer(std::make_unique<poppler::page_renderer>())
{
    // As pdftoppm draws: smoothed shapes and text, no hinting of the glyphs.
    m_renderer->set_render_hints(poppler::page_renderer::antialiasing |
                                 poppler::page_renderer::text_antialiasing);
    m_renderer->set_image_format(poppler::image::format_argb32);
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
    poppler::set_debug_error_function(&ignorePopplerMessage, nullptr);
    std::unique_ptr<poppler::document> pdf(poppler::document::load_from_file(file.string()));
    // Poppler keeps the file open; its name is no longer needed.
    std::error_code ec;
    std::filesystem::remove(file, ec);
    if (!pdf || pdf->is_locked() || pdf->pages() <= 0)
        return nullptr;
    return std::unique_ptr<PrintedPages>(new PrintedPages(std::move(pdf)));
}

int PrintedPages::pageCount() const
{
    return m_pdf->pages();
}

bool PrintedPages::size(int index, int64_t &width, int64_t &height) const
{
    const std::unique_ptr<poppler::page> page(m_pdf->create_page(index));
    if (!page)
        return false;
    // The office writes page sizes in points to many decimals: the twips of its
    // layout, to a fraction of one.
    const poppler::rectf box = page->page_rect(poppler::media_box);
    const bool turned = page->orientation() == poppler::page::landscape ||
                        page->orientation() == poppler::page::seascape;
    width = std::llround((turned ? box.height() : box.width()) * kTwipsPerPoint);
    height = std::llround((turned ? box.width() : box.height()) * kTwipsPerPoint);
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
    const std::unique_ptr<poppler::page> page(m_pdf->create_page(index));
    if (!page)
        return false;
    const poppler::image image = m_renderer->render_page(page.get(), dpi, dpi, 0, 0, width, height);
    if (!image.is_valid() || image.format() != poppler::image::format_argb32)
        return false;
    // Poppler draws the slice asked for, the paper white where the page ends; should
    // it ever give less, the rest stays white.
    const int rows = std::min(height, image.height());
    const int columns = std::min(width, image.width());
    for (int y = 0; y < height; ++y) {
        uint8_t *line = buffer + size_t(y) * size_t(canvasWidth) * 4;
        const int from = y < rows ? columns : 0;
        if (from > 0)
            std::memcpy(line, image.const_data() + size_t(y) * image.bytes_per_row(),
                        size_t(from) * 4);
        std::memset(line + size_t(from) * 4, 0xFF, size_t(width - from) * 4);
    }
    return true;
}
