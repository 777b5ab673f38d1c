#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "pagechoice.h"
#include "uniquefd.h"

class OpenDocument;
class PDFDoc;
class SplashOutputDev;

// A document's pages as LibreOffice prints them: its own PDF export, drawn by poppler
// as pdftoppm draws it, page after page with one drawing device, whose glyphs are
// kept from page to page.
//
// Tiled rendering draws for the screen: each glyph starts on a whole pixel and thin
// lines are smoothed over two pixels, so dense justified text and ruled tables come
// out visibly darker and shifted against the printed page. The PDF export places
// everything exactly, as a printer gets it.
class PrintedPages
{
public:
    ~PrintedPages();
    PrintedPages(const PrintedPages &) = delete;
    PrintedPages &operator=(const PrintedPages &) = delete;

    // Exports `document` to a PDF file in `folder`, opens it and removes the file.
    // Null when the export or the PDF fails.
    static std::unique_ptr<PrintedPages> make(OpenDocument &document,
                                              const std::filesystem::path &folder);
    // Opens the PDF file `file` and removes it. Null when it is no PDF with pages.
    static std::unique_ptr<PrintedPages> open(const std::filesystem::path &file);
    // Reads the PDF file `file`, which stays. Null when it is no PDF with pages, with
    // `locked` set when it needs a password.
    static std::unique_ptr<PrintedPages> read(const std::filesystem::path &file, bool &locked);

    // Takes the PDF's pages, in order, for the pages that `printed` chooses of a
    // document that prints `pageCount` pages, when the office printed those alone: the
    // others are counted but have no size and are not drawn. False, with nothing
    // changed, when the PDF holds another number of pages.
    bool standFor(int pageCount, const PageChoice &printed);
    // The document's pages: the PDF's, unless it stands for more.
    int pageCount() const;
    bool isPrinted(int index) const { return pdfPage(index) > 0; }
    // The size of page `index` in twips, upright as it is read; false when the page
    // cannot be read or was not printed.
    bool size(int index, int64_t &width, int64_t &height) const;
    // Whether page `index` measures `width` x `height` twips, within a point.
    bool hasSize(int index, int64_t width, int64_t height) const;
    // The file is read by up to kReaders readers, each with a drawing device of its
    // own, so that as many threads may draw at once, each with a reader no other uses
    // meanwhile. Reader 0 is always there; `addReader` opens another (on the thread
    // that owns this object, before any other draws with it). Every reader draws a
    // page to the same pixels.
    static constexpr int kReaders = 3;
    bool addReader(int reader);
    // How a page is drawn: dots per inch across and down (a page drawn to fit a box
    // has both its own), and whether in 8-bit grey.
    struct Scale
    {
        double dpiX = 96;
        double dpiY = 96;
        bool grey = false;
    };
    // Draws page `index` at `scale` into `width` x `height` pixels of premultiplied
    // BGRA at `buffer`, `canvasWidth` pixels to a row, with reader `reader`; a page
    // drawn grey has its grey in each colour. False when poppler cannot draw it, or the
    // reader is not open.
    bool draw(int index, const Scale &scale, uint8_t *buffer, int width, int height,
              int canvasWidth, int reader = 0);
    bool draw(int index, int dpi, uint8_t *buffer, int width, int height, int canvasWidth,
              int reader = 0)
    {
        return draw(index, Scale{double(dpi), double(dpi), false}, buffer, width, height,
                    canvasWidth, reader);
    }

private:
    struct Reader
    {
        std::unique_ptr<PDFDoc> pdf;
        std::unique_ptr<SplashOutputDev> device;
        std::unique_ptr<SplashOutputDev> greyDevice; // made when first asked for
    };
    static std::unique_ptr<SplashOutputDev> deviceFor(PDFDoc &pdf, bool grey);
    PrintedPages(std::unique_ptr<PDFDoc> pdf, UniqueFd file);
    static Reader readerOf(std::unique_ptr<PDFDoc> pdf);
    // The PDF's page (from 1) of the document's page `index` (from 0); 0 for none.
    int pdfPage(int index) const;

    // The removed file, read again through its descriptor by each reader added.
    UniqueFd m_file;
    std::array<Reader, kReaders> m_readers;
    // The PDF's page of each of the document's pages (standFor); empty when the PDF
    // holds them all.
    std::vector<int> m_pdfPages;
};
