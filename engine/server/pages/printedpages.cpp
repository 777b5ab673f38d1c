#include "printedpages.h"

#include "opendocument.h"
#include "rectanglefill.h"

#include <Error.h>
#include <ErrorCodes.h>
#include <GlobalParams.h>
#include <PDFDoc.h>
#include <Page.h>
#include <SplashOutputDev.h>
#include <goo/gmem.h>
#include <splash/SplashBitmap.h>
#include <splash/SplashFont.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <unistd.h>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#ifdef PAGELIFT_POPPLER_GLYPH_CACHE
// The tag of a glyph in poppler's glyph cache (splash/SplashFont.cc), which its header
// only declares; the same since xpdf, and checked for the poppler this is built with
// (see CMakeLists.txt).
struct SplashFontCacheTag
{
    int c;
    short xFrac, yFrac; // where the glyph starts within a pixel, in quarters
    int mru;            // valid bit (0x80000000) and place in the set, latest used first
    int x, y, w, h;
};
#endif

namespace {

constexpr int kTwipsPerPoint = 20;

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

#ifdef PAGELIFT_POPPLER_GLYPH_CACHE
// Poppler keeps the glyphs it drew per font and size in a cache of 8 ways, looked up
// by character code, and as few as 4 sets for text at 96 pixels per inch. Smoothed
// text starts a glyph at a quarter of a pixel, each start drawn apart, so the starts
// of a few characters fill a set: a page of text drew most of its glyphs again with
// FreeType, about a quarter of the time the page took. A font's cache is made
// larger when it is first used: 32 ways, and as many sets (up to 64) as fit in 256 KiB.
// A glyph found in the cache is the glyph drawn anew, so the pixels stay the same.
class GlyphCache : public SplashFont
{
public:
    static void enlarge(SplashFont *font)
    {
        constexpr int kPoppersWays = 8;
        constexpr int kWays = 32;
        constexpr int kMostSets = 64;
        constexpr size_t kMostBytes = 256u << 10;
        if (!font || font->*(&GlyphCache::cacheAssoc) != kPoppersWays)
            return; // already enlarged, or poppler could not make a cache at all
        const int glyphBytes = font->*(&GlyphCache::glyphSize);
        if (glyphBytes <= 0)
            return;
        int sets = 0;
        while (sets < kMostSets &&
               size_t(sets == 0 ? 1 : sets * 2) * kWays * size_t(glyphBytes) <= kMostBytes)
            sets = sets == 0 ? 1 : sets * 2;
        if (sets * kWays <= font->*(&GlyphCache::cacheSets) * kPoppersWays)
            return; // large glyphs: poppler's own cache holds as many
        auto *cache =
            static_cast<unsigned char *>(gmallocn_checkoverflow(sets * kWays, glyphBytes));
        auto *tags = static_cast<SplashFontCacheTag *>(
            gmallocn_checkoverflow(sets * kWays, int(sizeof(SplashFontCacheTag))));
        if (!cache || !tags) {
            gfree(cache);
            gfree(tags);
            return;
        }
        // Empty, each way's place in its set told apart, as poppler starts its own.
        for (int i = 0; i < sets * kWays; ++i)
            tags[i].mru = i & (kWays - 1);
        gfree(font->*(&GlyphCache::cache));
        gfree(font->*(&GlyphCache::cacheTags));
        font->*(&GlyphCache::cache) = cache;
        font->*(&GlyphCache::cacheTags) = tags;
        font->*(&GlyphCache::cacheSets) = sets;
        font->*(&GlyphCache::cacheAssoc) = kWays;
    }
};
#endif

// A drawing device that leaves the page's pixels over no paper: the paper is laid
// under them as they are copied out (`layOnPaper`), in one pass instead of two; a
// rectangle of one colour is filled quickly (`fillRectangleQuickly`). Each
// font's glyph cache is made larger as the font is first used (GlyphCache).
class PageDevice : public SplashOutputDev
{
public:
    using SplashOutputDev::SplashOutputDev;
    void startPage(int pageNumber, GfxState *state, XRef *xref) override
    {
        SplashOutputDev::startPage(pageNumber, state, xref);
        m_page = getBitmap();
    }
    void endPage() override {}
    // Only on the page itself: a pattern's tile or a Type 3 glyph poppler caches is a
    // mask it paints in colours of its own, a group a bitmap of its own.
    void fill(GfxState *state) override
    {
        if (getBitmap() != m_page || !fillRectangleQuickly(*this, state, false))
            SplashOutputDev::fill(state);
    }
    void eoFill(GfxState *state) override
    {
        if (getBitmap() != m_page || !fillRectangleQuickly(*this, state, true))
            SplashOutputDev::eoFill(state);
    }
    void drawChar(GfxState *state, double x, double y, double dx, double dy, double originX,
                  double originY, CharCode code, int nBytes, const Unicode *u, int uLen) override
    {
        SplashOutputDev::drawChar(state, x, y, dx, dy, originX, originY, code, nBytes, u, uLen);
#ifdef PAGELIFT_POPPLER_GLYPH_CACHE
        GlyphCache::enlarge(getCurrentFont());
#endif
    }

private:
    const SplashBitmap *m_page = nullptr; // the page's own bitmap, drawn on now
};

// Divides a value of 0 to 255 * 255 by 255, rounded, as poppler does.
inline uint8_t div255(int x)
{
    return uint8_t((x + (x >> 8) + 0x80) >> 8);
}

// One pixel drawn over no paper with coverage `a`, as it is over white paper, its
// fourth byte full: what poppler's own compositing gives, where bare paper stays white
// and a pixel drawn in full keeps its colour (div255 gives back c from 255 * c).
inline void layPixelOnPaper(const uint8_t *from, int a, uint8_t *to)
{
    const int paper = (255 - a) * 255;
    to[0] = div255(paper + a * from[0]);
    to[1] = div255(paper + a * from[1]);
    to[2] = div255(paper + a * from[2]);
    to[3] = 0xFF;
}

#ifdef __SSE2__
// Four pixels of `colour` (16 bytes) as 16-bit channels, each laid on paper with the
// coverage in `cover` (the pixels' coverages, each in four channels): layPixelOnPaper's
// sum, 255 * 255 - a * (255 - c), and its division by 255, all within 16 bits.
inline __m128i layHalfOnPaper(__m128i colour, __m128i cover)
{
    const __m128i full = _mm_set1_epi16(255);
    const __m128i sum = _mm_sub_epi16(_mm_set1_epi16(255 * 255),
                                      _mm_mullo_epi16(cover, _mm_sub_epi16(full, colour)));
    const __m128i rounded =
        _mm_add_epi16(_mm_add_epi16(sum, _mm_srli_epi16(sum, 8)), _mm_set1_epi16(0x80));
    return _mm_srli_epi16(rounded, 8);
}

// Eight pixels at once, as layPixelOnPaper lays each.
inline void layEightOnPaper(const uint8_t *from, const uint8_t *alpha, uint8_t *to)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i cover =
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(alpha)), zero);
    const __m128i low = _mm_unpacklo_epi16(cover, cover);  // pixels 0-3, each twice
    const __m128i high = _mm_unpackhi_epi16(cover, cover); // pixels 4-7
    const __m128i fourth = _mm_set1_epi32(int(0xFF000000u));
    for (int half = 0; half < 2; ++half) {
        const __m128i pairs = half == 0 ? low : high;
        const __m128i colour = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from + 16 * half));
        const __m128i first =
            layHalfOnPaper(_mm_unpacklo_epi8(colour, zero), _mm_unpacklo_epi32(pairs, pairs));
        const __m128i second =
            layHalfOnPaper(_mm_unpackhi_epi8(colour, zero), _mm_unpackhi_epi32(pairs, pairs));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(to + 16 * half),
                         _mm_or_si128(_mm_packus_epi16(first, second), fourth));
    }
}
#else
inline void layEightOnPaper(const uint8_t *from, const uint8_t *alpha, uint8_t *to)
{
    for (int i = 0; i < 8; ++i)
        layPixelOnPaper(from + i * 4, alpha[i], to + i * 4);
}
#endif

// Writes `count` pixels of the page, drawn over no paper with their coverage in
// `alpha`, to `to` as they are over white paper (layPixelOnPaper).
void layOnPaper(const uint8_t *color, const uint8_t *alpha, int count, uint8_t *to)
{
    constexpr uint64_t kNone = 0;
    constexpr uint64_t kFull = ~uint64_t(0);
    int x = 0;
    // Eight pixels at a time where none is drawn (most of a page) or all are in full.
    for (; x + 8 <= count; x += 8) {
        uint64_t eight;
        std::memcpy(&eight, alpha + x, 8);
        uint8_t *pixels = to + size_t(x) * 4;
        if (eight == kNone) {
            std::memset(pixels, 0xFF, 32);
            continue;
        }
        const uint8_t *from = color + size_t(x) * 4;
        if (eight == kFull) {
            uint32_t words[8];
            std::memcpy(words, from, 32);
            for (uint32_t &word : words)
                word |= 0xFF000000u;
            std::memcpy(pixels, words, 32);
            continue;
        }
        layEightOnPaper(from, alpha + x, pixels);
    }
    for (; x < count; ++x)
        layPixelOnPaper(color + size_t(x) * 4, alpha[x], to + size_t(x) * 4);
}

// A grey pixel drawn over no paper, laid on paper as layPixelOnPaper lays a colour
// and written to all three colours.
inline void layGreyPixelOnPaper(uint8_t grey, int a, uint8_t *to)
{
    const uint32_t v = div255((255 - a) * 255 + a * grey);
    const uint32_t word = 0xFF000000u | v * 0x010101u;
    std::memcpy(to, &word, 4);
}

// layOnPaper for a page drawn grey, one byte a pixel.
void layGreyOnPaper(const uint8_t *grey, const uint8_t *alpha, int count, uint8_t *to)
{
    for (int x = 0; x < count; ++x) {
        uint64_t eight = 1;
        if (x % 8 == 0 && x + 8 <= count)
            std::memcpy(&eight, alpha + x, 8);
        if (eight == 0) {
            std::memset(to + size_t(x) * 4, 0xFF, 32); // bare paper, most of a page
            x += 7;
            continue;
        }
        layGreyPixelOnPaper(grey[x], alpha[x], to + size_t(x) * 4);
    }
}

} // namespace

PrintedPages::PrintedPages(std::unique_ptr<PDFDoc> pdf, UniqueFd file) : m_file(std::move(file))
{
    m_readers[0] = readerOf(std::move(pdf));
}

PrintedPages::Reader PrintedPages::readerOf(std::unique_ptr<PDFDoc> pdf)
{
    Reader reader;
    reader.pdf = std::move(pdf);
    reader.device = deviceFor(*reader.pdf, false);
    return reader;
}

std::unique_ptr<SplashOutputDev> PrintedPages::deviceFor(PDFDoc &pdf, bool grey)
{
    // As pdftoppm draws: on white paper, smoothed shapes and text, no hinting of the
    // glyphs. Four bytes a pixel, blue first, the fourth full: premultiplied BGRA; or
    // one byte of grey, as pdftoppm -gray draws.
    SplashColor paper;
    paper[0] = paper[1] = paper[2] = paper[3] = 0xFF;
    auto device = std::make_unique<PageDevice>(grey ? splashModeMono8 : splashModeXBGR8, 4, false,
                                               paper, true, splashThinLineDefault);
    device->setFontAntialias(true);
    device->setVectorAntialias(true);
    device->setFreeTypeHinting(false, false);
    device->startDoc(&pdf);
    return device;
}

bool PrintedPages::addReader(int reader)
{
    if (reader <= 0 || reader >= kReaders || m_file.get() < 0)
        return false;
    if (m_readers[size_t(reader)].pdf)
        return true;
    // A file of its own, opened anew: the readers' positions in it are their own.
    const std::string path = "/proc/self/fd/" + std::to_string(m_file.get());
    auto pdf = std::make_unique<PDFDoc>(std::make_unique<GooString>(path));
    if (!pdf->isOk() || pdf->getNumPages() != m_readers[0].pdf->getNumPages())
        return false;
    m_readers[size_t(reader)] = readerOf(std::move(pdf));
    return true;
}

PrintedPages::~PrintedPages() = default;

std::unique_ptr<PrintedPages> PrintedPages::make(OpenDocument &document,
                                                 const std::filesystem::path &folder)
{
    const std::filesystem::path file =
        folder / ("pagelift-printed-" + std::to_string(::getpid()) + ".pdf");
    std::error_code ec;
    std::filesystem::remove(file, ec);
    if (!document.exportPdf(file)) {
        std::filesystem::remove(file, ec);
        return nullptr;
    }
    return open(file);
}

std::unique_ptr<PrintedPages> PrintedPages::open(const std::filesystem::path &file)
{
    bool locked = false;
    std::unique_ptr<PrintedPages> pages = read(file, locked);
    // Poppler keeps the file open; its name is no longer needed.
    std::error_code ec;
    std::filesystem::remove(file, ec);
    return pages;
}

std::unique_ptr<PrintedPages> PrintedPages::read(const std::filesystem::path &file, bool &locked)
{
    setUpPoppler();
    auto pdf = std::make_unique<PDFDoc>(std::make_unique<GooString>(file.string()));
    UniqueFd descriptor(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    locked = !pdf->isOk() && pdf->getErrorCode() == errEncrypted;
    if (!pdf->isOk() || pdf->getNumPages() <= 0)
        return nullptr;
    return std::unique_ptr<PrintedPages>(new PrintedPages(std::move(pdf), std::move(descriptor)));
}

bool PrintedPages::standFor(int pageCount, const PageChoice &printed)
{
    std::vector<int> pdfPages(size_t(std::max(pageCount, 0)), 0);
    int printedPages = 0;
    for (int page = 1; page <= pageCount; ++page) {
        if (printed.contains(page))
            pdfPages[size_t(page - 1)] = ++printedPages;
    }
    if (printedPages != m_readers[0].pdf->getNumPages())
        return false;
    m_pdfPages = std::move(pdfPages);
    return true;
}

int PrintedPages::pageCount() const
{
    return m_pdfPages.empty() ? m_readers[0].pdf->getNumPages() : int(m_pdfPages.size());
}

int PrintedPages::pdfPage(int index) const
{
    if (index < 0 || index >= pageCount())
        return 0;
    return m_pdfPages.empty() ? index + 1 : m_pdfPages[size_t(index)];
}

bool PrintedPages::size(int index, int64_t &width, int64_t &height) const
{
    Page *page = isPrinted(index) ? m_readers[0].pdf->getPage(pdfPage(index)) : nullptr;
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

bool PrintedPages::draw(int index, const Scale &scale, uint8_t *buffer, int width, int height,
                        int canvasWidth, int reader)
{
    if (reader < 0 || reader >= kReaders || !m_readers[size_t(reader)].pdf)
        return false;
    Reader &with = m_readers[size_t(reader)];
    const int pdfPageNumber = pdfPage(index);
    if (pdfPageNumber == 0 || !with.pdf->getPage(pdfPageNumber))
        return false;
    if (scale.grey && !with.greyDevice)
        with.greyDevice = deviceFor(*with.pdf, true);
    SplashOutputDev *device = scale.grey ? with.greyDevice.get() : with.device.get();
    // The whole media box, as pdftoppm draws a page (a PDF's crop box may be smaller;
    // the office's never is).
    with.pdf->displayPageSlice(device, pdfPageNumber, scale.dpiX, scale.dpiY, 0, true, false, false,
                               0, 0, width, height);
    const SplashBitmap *image = device->getBitmap();
    const SplashColorMode mode = scale.grey ? splashModeMono8 : splashModeXBGR8;
    if (!image || image->getMode() != mode || !image->getDataPtr())
        return false;
    // Poppler draws the slice asked for, the paper white where the page ends; should
    // it ever give less, the rest stays white.
    const int rows = std::min(height, image->getHeight());
    const int columns = std::min(width, image->getWidth());
    const uint8_t *alpha = image->getAlphaPtr();
    if (!alpha)
        return false;
    for (int y = 0; y < height; ++y) {
        uint8_t *line = buffer + size_t(y) * size_t(canvasWidth) * 4;
        const int from = y < rows ? columns : 0;
        const uint8_t *drawn = image->getDataPtr() + size_t(y) * size_t(image->getRowSize());
        const uint8_t *cover = alpha + size_t(y) * size_t(image->getAlphaRowSize());
        if (from > 0 && scale.grey)
            layGreyOnPaper(drawn, cover, from, line);
        else if (from > 0)
            layOnPaper(drawn, cover, from, line);
        std::memset(line + size_t(from) * 4, 0xFF, size_t(width - from) * 4);
    }
    return true;
}
