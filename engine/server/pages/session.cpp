#include "session.h"

#include "automation.h"
#include "handover.h"
#include "machineshare.h"
#include "office.h"
#include "wireformat.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <utility>

using engineprotocol::Call;
using engineprotocol::Refusal;

namespace {

constexpr int kMaxPixels = 1 << 28; // a picture larger than 1 GiB is refused
// Pictures up to this size (an A3 page at 300 pixels per inch) are drawn into the page
// buffers, which the engine keeps; larger ones get memory of their own, which goes
// with them, so that the buffers never hold more than a few pages' worth.
constexpr size_t kMaxBufferBytes = 72u << 20;
// Pages up to this size (an A3 page at 96 pixels per inch) are drawn by helper threads
// when the document is converted alone.
constexpr size_t kMostHelperBytes = 8u << 20;

EngineSession::Reply refuse(Refusal refusal, std::string detail = {})
{
    EngineSession::Reply reply;
    reply.header.refusal = refusal;
    reply.detail = std::move(detail);
    return reply;
}

EngineSession::Reply value(int32_t v)
{
    EngineSession::Reply reply;
    reply.header.value = v;
    return reply;
}

// Reads the PDF the office gives as the pages `pages`: the document's own, or those it
// stands for when the office printed the chosen pages alone.
PdfReader readInto(std::unique_ptr<PrintedPages> &pages)
{
    return [&pages](const std::filesystem::path &pdf, const PrintedChoice *standsFor) {
        bool locked = false;
        pages = PrintedPages::read(pdf, locked);
        if (pages && standsFor && !pages->standFor(standsFor->pageCount, standsFor->printed)) {
            pages.reset();
            return PdfRead::OtherPages;
        }
        return pages ? PdfRead::Read : locked ? PdfRead::Locked : PdfRead::Unreadable;
    };
}

std::optional<RemainingPages::Extend> extendOf(int32_t extend)
{
    if (extend == automation::kMove)
        return RemainingPages::Extend::Move;
    if (extend == automation::kExtend)
        return RemainingPages::Extend::Extend;
    return std::nullopt;
}

bool isOpaque(const PixelBuffer &pixels)
{
    // Premultiplied BGRA: the alpha is the top byte of each little-endian word.
    const uint8_t *data = pixels.data();
    const size_t words = pixels.size() / 8;
    uint64_t all = ~uint64_t(0);
    for (size_t i = 0; i < words; ++i) {
        uint64_t two;
        std::memcpy(&two, data + i * 8, 8);
        all &= two;
    }
    if (pixels.size() % 8 != 0) {
        uint32_t last;
        std::memcpy(&last, data + words * 8, 4);
        all &= last | 0xFFFFFFFF00000000u;
    }
    constexpr uint64_t kAlphas = 0xFF000000FF000000u;
    return (all & kAlphas) == kAlphas;
}

} // namespace

size_t EngineSession::reuseResidentBytes(size_t memoryLimitBytes)
{
    constexpr size_t kMost = size_t(1) << 30;
    return memoryLimitBytes == 0 ? kMost : std::min(kMost, memoryLimitBytes / 2);
}

EngineSession::EngineSession(EngineOffice *office, Reuse reuse) : m_office(office), m_reuse(reuse)
{
}

bool EngineSession::warmUp(const std::string &path)
{
    if (!m_office)
        return false;
    std::error_code ec;
    std::unique_ptr<PrintedPages> printed;
    const EngineOffice::Loaded loaded = m_office->loadDocument(
        path, std::filesystem::temp_directory_path(ec), {}, {}, readInto(printed));
    int64_t width = 0;
    int64_t height = 0;
    if (!printed || !printed->size(0, width, height))
        return false;
    // The first page drawn small: fonts and the drawing code load now.
    constexpr int kDpi = 24;
    const int pixelWidth = pageunits::toPixels(width, kDpi);
    const int pixelHeight = pageunits::toPixels(height, kDpi);
    std::vector<uint8_t> pixels(size_t(pixelWidth) * size_t(pixelHeight) * 4);
    m_warmedUp = printed->draw(0, kDpi, pixels.data(), pixelWidth, pixelHeight, pixelWidth);
    return m_warmedUp;
}

EngineSession::~EngineSession()
{
    m_ahead.settle(true);
    // The engine's process ends with its session; see m_closed.
    for (std::unique_ptr<OpenDocument> &document : m_closed)
        document->abandon();
}

EngineSession::Reply EngineSession::handle(const engineprotocol::Request &request,
                                           UniqueFd document)
{
    Reply reply = answer(request, std::move(document));
    if (reply.header.refusal != Refusal::None)
        m_refused = true;
    return reply;
}

EngineSession::Reply EngineSession::answer(const engineprotocol::Request &request,
                                           UniqueFd document)
{
    if (request.call == Call::Open)
        return open(request, std::move(document));
    if (request.call == Call::Quit)
        return value(0);
    if (!m_open)
        return refuse(Refusal::NoDocument, "no document is open");

    switch (request.call) {
    case Call::Repaginate:
        m_ahead.drop();
        m_onlyDocument = request.a == engineprotocol::kOnlyDocument;
        m_rest.reset();
        paginate();
        return value(0);
    case Call::Property:
        if (request.a != automation::kPropertyPages)
            return refuse(Refusal::BadArguments, "only the page count property is known");
        paginate();
        return value(m_rest->pageCount());
    case Call::GoTo: {
        if (request.a != automation::kGoToPage)
            return refuse(Refusal::BadArguments, "GoTo only goes to pages");
        paginate();
        if (request.b == automation::kGoToAbsolute || request.b == automation::kGoToNext)
            m_rest->goToPage(request.c);
        else if (request.b == automation::kGoToLast)
            m_rest->goToPage(m_rest->pageCount());
        else
            return refuse(Refusal::BadArguments, "GoTo direction " + std::to_string(request.b));
        return value(0);
    }
    case Call::MoveUp:
    case Call::EndKey:
        return moveActiveEnd(request);
    case Call::Cut:
        paginate();
        return cut(request.a);
    case Call::Drawing:
        return chooseDrawing(request);
    case Call::Close:
        if (request.a != automation::kDoNotSaveChanges)
            return refuse(Refusal::BadArguments, "the engine never saves a document");
        return close();
    default:
        return refuse(Refusal::BadArguments, "unknown call " + std::to_string(int(request.call)));
    }
}

EngineSession::Reply EngineSession::moveActiveEnd(const engineprotocol::Request &request)
{
    // MoveUp(unit, count, extend) by lines; EndKey(unit, extend) to the end of the story.
    const bool up = request.call == Call::MoveUp;
    const auto extend = extendOf(up ? request.c : request.b);
    if (request.a != (up ? automation::kLine : automation::kStory) || !extend)
        return refuse(Refusal::BadArguments, up ? "MoveUp moves by lines only"
                                                : "EndKey moves to the end of the story only");
    paginate();
    const int before = m_rest->active();
    if (up)
        m_rest->moveUp(request.b, *extend);
    else
        m_rest->endKey(*extend);
    // The lines the active end moved.
    return value(std::abs(m_rest->active() - before));
}

EngineSession::Reply EngineSession::open(const engineprotocol::Request &request, UniqueFd document)
{
    if (m_open)
        return refuse(Refusal::BadArguments, "a document is already open");
    const int dpi = request.a == 0 ? pageunits::kDefaultDpi : request.a;
    if (dpi < pageunits::kMinDpi || dpi > pageunits::kMaxDpi)
        return refuse(Refusal::BadArguments, "no resolution of " + std::to_string(dpi));
    const engineprotocol::OpenText text = engineprotocol::splitOpenText(request.text);
    const std::optional<PageChoice> choice =
        text.pages.empty() ? PageChoice() : PageChoice::parse(text.pages);
    if (!choice)
        return refuse(Refusal::BadArguments, "no such pages: " + std::string(text.pages));
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::temp_directory_path(ec);
    // The office answers a password question for the address as it normalised it, so
    // it is given one with nothing to normalise ("./x.docx", "../dir/x.odt").
    const std::filesystem::path path = std::filesystem::absolute(text.path, ec).lexically_normal();
    // The document handed over is read from the copy; a folder, or a path the program
    // could not open, is told by its path.
    m_copy = HandedDocument::copy(document.get(), folder / "document", path.filename());
    // The engine may not read the document but through its copy, which found no room.
    if (!m_copy && HandedDocument::isRegularFile(document.get()))
        return refuse(Refusal::TooMuchMemory);
    std::unique_ptr<PrintedPages> printed;
    const std::filesystem::path copy = m_copy ? m_copy->path() : std::filesystem::path();
    EngineOffice::Loaded loaded =
        m_office ? m_office->loadDocument(path, folder, copy, *choice, readInto(printed))
                 : EngineOffice::loadPdf(path, copy, readInto(printed));
    if (!loaded.printed && !loaded.document) {
        m_copy.reset();
        return refuse(loaded.refusal, loaded.detail);
    }
    // The office colours tracked changes and comments by each author's place in a table
    // it keeps for its life, where a document printed before, the warm-up included, has
    // put the user first: only an office that printed nothing before gives them the
    // colours the office's own converter gives the document alone. That office has not
    // warmed up, so it serves no other document after it either.
    if (loaded.changesOrComments && (m_warmedUp || m_opened > 0)) {
        m_copy.reset();
        return refuse(Refusal::NeedsFreshOffice);
    }
    m_open = true;
    m_printed = std::move(printed);
    m_printedTried = bool(m_printed);
    m_document = std::move(loaded.document);
    m_path = m_copy ? m_copy->path().string() : path.string();
    ++m_opened;
    m_dpi = dpi;
    if (m_document)
        m_document->prepareForDrawing();
    Reply reply = value(0);
    for (const std::string &link : leftOutLinks(loaded.links))
        reply.detail += link + "\n";
    return reply;
}

EngineSession::Reply EngineSession::chooseDrawing(const engineprotocol::Request &request)
{
    const std::optional<PageChoice> choice =
        request.text.empty() ? PageChoice() : PageChoice::parse(request.text);
    if (!choice || request.a < 0 || request.b < 0)
        return refuse(Refusal::BadArguments, "no such pages or box: " + request.text);
    m_ahead.drop();
    m_boxWidth = request.a;
    m_boxHeight = request.b;
    m_grey = request.c == engineprotocol::kDrawGrey;
    m_choice = *choice;
    m_rest.reset(); // the pages' sizes follow the box
    return value(0);
}

EngineSession::Reply EngineSession::close()
{
    // Asked with the document still open: what it brought shows in the office's
    // tables, which a document reports.
    m_servesAnother = mayServeAnother();
    m_ahead.drop();
    m_onlyDocument = false;
    m_boxWidth = m_boxHeight = 0;
    m_grey = false;
    m_choice = {};
    m_rest.reset();
    m_pages.clear();
    m_printed.reset();
    m_printedTried = false;
    if (m_document)
        m_closed.push_back(std::move(m_document));
    m_copy.reset();
    m_open = false;
    return value(m_servesAnother ? engineprotocol::kServesAnother : 0);
}

bool EngineSession::mayServeAnother()
{
    return m_office && m_opened < m_reuse.documents && !m_refused && m_warmedUp &&
           m_reuse.currentResidentBytes() < m_reuse.residentBytes &&
           m_office->stateBroughtBy(m_path, bool(m_document)).empty();
}

void EngineSession::paginate()
{
    if (m_rest)
        return;
    m_pages.clear();
    if (!m_document) {
        // Printed pages follow each other on the paper, as they do in the view. A page
        // the office did not print (none of those chosen at Open) is counted, and
        // cannot be drawn.
        PageBox box;
        for (int page = 0; page < m_printed->pageCount(); ++page) {
            if (!m_printed->isPrinted(page)) {
                m_pages.push_back(PageBox());
                continue;
            }
            if (!m_printed->size(page, box.width, box.height))
                break;
            measure(box);
            if (box.pixelWidth > 0 && box.pixelHeight > 0)
                m_pages.push_back(box);
            box.y += box.height;
        }
        m_rest.emplace(int(m_pages.size()));
        return;
    }
    // The page rectangles come as "x, y, width, height; ..." in twips, in page order.
    std::string text = m_document->pageRectangles();
    std::replace(text.begin(), text.end(), ',', ' ');
    std::replace(text.begin(), text.end(), ';', ' ');
    std::istringstream in(text);
    PageBox box;
    while (in >> box.x >> box.y >> box.width >> box.height) {
        measure(box);
        if (box.pixelWidth > 0 && box.pixelHeight > 0)
            m_pages.push_back(box);
    }
    m_rest.emplace(int(m_pages.size()));
    if (!m_printedTried) {
        m_printedTried = true;
        usePrintedPages();
    }
}

void EngineSession::measure(PageBox &box) const
{
    box.scale.grey = m_grey;
    if (m_boxWidth == 0 && m_boxHeight == 0) {
        box.pixelWidth = pageunits::toPixels(box.width, m_dpi);
        box.pixelHeight = pageunits::toPixels(box.height, m_dpi);
        box.scale.dpiX = box.scale.dpiY = m_dpi;
        return;
    }
    // Drawn at the size that fits, each way at the resolution that fills it exactly.
    const PixelSize size = fitToBox(box.width, box.height, m_boxWidth, m_boxHeight);
    box.pixelWidth = size.width;
    box.pixelHeight = size.height;
    box.scale.dpiX = double(size.width) * pageunits::kTwipsPerInch / double(box.width);
    box.scale.dpiY = double(size.height) * pageunits::kTwipsPerInch / double(box.height);
}

void EngineSession::usePrintedPages()
{
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::temp_directory_path(ec);
    if (ec)
        return;
    m_printed = PrintedPages::make(*m_document, folder);
    // The view and the print path lay out the same document; should they ever
    // disagree on the pages, every page comes from the view, so that the pages
    // counted are the pages drawn.
    bool same = m_printed && m_printed->pageCount() == int(m_pages.size());
    for (size_t i = 0; same && i < m_pages.size(); ++i)
        same = m_printed->hasSize(int(i), m_pages[i].width, m_pages[i].height);
    if (!same)
        m_printed.reset();
}

bool EngineSession::renderInto(int page, uint8_t *buffer, int canvasWidth, int reader)
{
    const PageBox &box = m_pages[page];
    if (m_printed && m_printed->draw(page, box.scale, buffer, box.pixelWidth, box.pixelHeight,
                                     canvasWidth, reader))
        return true;
    if (!m_document)
        return false;
    m_document->paint(buffer, canvasWidth, box.pixelHeight, int(box.x), int(box.y), int(box.width),
                      int(box.height));
    return true;
}

EngineSession::Reply EngineSession::cut(int32_t givenBack)
{
    for (int number = 0; number < engineprotocol::kPageBuffers; ++number) {
        if (givenBack & (1 << number))
            m_lent[size_t(number)] = false;
    }
    if (m_rest->selection().count == 0)
        return refuse(Refusal::NothingSelected, "nothing is selected");

    const std::vector<int> pages = m_rest->cut();
    if (std::none_of(pages.begin(), pages.end(),
                     [&](int page) { return m_choice.contains(page + 1); }))
        return value(0); // no picture: none of these pages is to be drawn
    int width = 0;
    int64_t height = 0;
    for (int page : pages) {
        if (m_printed && !m_document && !m_printed->isPrinted(page))
            return refuse(Refusal::BadArguments, "page " + std::to_string(page + 1) +
                                                     " was not printed: Open chose other pages");
        width = std::max(width, m_pages[page].pixelWidth);
        height += m_pages[page].pixelHeight;
    }
    if (int64_t(width) * height > kMaxPixels)
        return refuse(Refusal::EngineFailure, "the selection is too large to draw");

    Picture picture = pages.size() == 1 ? m_ahead.take(pages[0]) : Picture();
    if (!picture.pixels) {
        const int failed = drawPicture(pages, width, height, picture);
        if (failed >= 0)
            return refuse(Refusal::EngineFailure,
                          "page " + std::to_string(failed + 1) + " could not be drawn");
    }

    Reply reply;
    reply.header.width = width;
    reply.header.height = int32_t(height);
    reply.header.value =
        (picture.number + 1) | (picture.opaque ? engineprotocol::kOpaquePicture : 0);
    if (picture.number >= 0)
        m_lent[size_t(picture.number)] = true;
    reply.pixels = std::move(picture.pixels);
    return reply;
}

Picture EngineSession::pictureMemory(size_t size, bool blank)
{
    if (size <= kMaxBufferBytes) {
        for (int number = 0; number < engineprotocol::kPageBuffers; ++number) {
            std::shared_ptr<PixelBuffer> &buffer = m_buffers[size_t(number)];
            if (m_lent[size_t(number)] || m_ahead.holds(number))
                continue;
            // A buffer of another size, or one in ordinary memory (which travels
            // through the socket anyway), is made anew.
            if (!buffer || buffer->size() != size || buffer->descriptor() < 0)
                buffer = std::make_shared<PixelBuffer>(size);
            else if (blank)
                std::memset(buffer->data(), 0, size);
            return {buffer, number};
        }
    }
    return {std::make_shared<PixelBuffer>(size), -1};
}

int EngineSession::drawPicture(const std::vector<int> &pages, int width, int64_t height,
                               Picture &picture)
{
    picture = memoryFor(width, height);
    return drawInto(pages, width, picture, 0);
}

size_t EngineSession::pictureBytes(int page) const
{
    return size_t(m_pages[page].pixelWidth) * size_t(m_pages[page].pixelHeight) * 4;
}

Picture EngineSession::memoryFor(int width, int64_t height)
{
    return pictureMemory(size_t(width) * size_t(height) * 4, bool(m_document));
}

int EngineSession::drawInto(const std::vector<int> &pages, int width, Picture &picture, int reader)
{
    uint8_t *pixels = picture.pixels->data();
    // White where a narrower page leaves room beside it.
    if (std::any_of(pages.begin(), pages.end(),
                    [&](int page) { return m_pages[page].pixelWidth != width; }))
        std::memset(pixels, 0xFF, picture.pixels->size());
    std::vector<uint8_t> narrow;
    size_t offset = 0;
    for (int page : pages) {
        const PageBox &box = m_pages[page];
        const int w = box.pixelWidth;
        const int h = box.pixelHeight;
        bool drawn = false;
        if (w == width) {
            drawn = renderInto(page, pixels + offset, width, reader);
        } else {
            narrow.assign(size_t(w) * size_t(h) * 4, 0xFF);
            drawn = renderInto(page, narrow.data(), w, reader);
            for (int row = 0; row < h; ++row)
                std::memcpy(pixels + offset + size_t(row) * width * 4,
                            narrow.data() + size_t(row) * w * 4, size_t(w) * 4);
        }
        if (!drawn) {
            picture = {};
            return page;
        }
        offset += size_t(width) * size_t(h) * 4;
    }
    // Poppler draws every pixel on white paper; a tile of the view may leave some
    // transparent.
    picture.opaque = !m_document || isOpaque(*picture.pixels);
    return -1;
}

void EngineSession::afterReply(const engineprotocol::Request &request)
{
    // The next document must not find the last one's memory taken: it is destroyed
    // while the client writes its last page.
    if (request.call == Call::Close && m_servesAnother) {
        m_closed.clear();
        return;
    }
    if (!m_open || !m_rest || m_rest->pageCount() == 0)
        return;
    // Pages are drawn ahead where the selection lies at the start of what is left: after
    // a cut, on this thread, while the client is busy with the page before. A document
    // converted alone has its next two pages drawn from the moment its pages are
    // counted, on two helper threads with a reader each, so that this thread stays free
    // to answer; only small pages, since larger ones take long enough to draw that
    // starting early gains little (nothing measured at 300 pixels per inch), and each
    // helper keeps a page's pixels of its own. A picture drawn ahead that fails is drawn
    // again by the cut that wants it, which reports it.
    // Only pages to be drawn are drawn ahead: the next one or two of them.
    const std::vector<int> chosen = chosenAhead(2);
    if (chosen.empty())
        return;
    const bool helpers = m_onlyDocument && m_printed && !m_document && machineshare::cpus() > 1 &&
                         pictureBytes(chosen.front()) <= kMostHelperBytes;
    const bool counted = request.call == Call::Repaginate || request.call == Call::Property;
    if (request.call != Call::Cut && !(helpers && counted))
        return;
    m_ahead.settle(false);
    std::vector<int> wanted{chosen.front()};
    if (helpers && chosen.size() > 1)
        wanted.push_back(chosen[1]);
    m_ahead.keepOnly(wanted);
    for (int page : wanted) {
        if (m_ahead.has(page))
            continue;
        const PageBox &box = m_pages[page];
        if (!helpers) {
            Picture picture;
            if (drawPicture({page}, box.pixelWidth, box.pixelHeight, picture) < 0)
                m_ahead.keep(page, std::move(picture));
            break;
        }
        m_ahead.startHelper(
            page, [this](int reader) { return m_printed->addReader(reader); },
            [this, box] { return memoryFor(box.pixelWidth, box.pixelHeight); },
            [this, page, width = box.pixelWidth](Picture &picture, int reader) {
                return drawInto({page}, width, picture, reader);
            });
    }
}

std::vector<int> EngineSession::chosenAhead(size_t count) const
{
    std::vector<int> chosen;
    for (int page : m_rest->pages()) {
        if (chosen.size() == count)
            break;
        if (m_choice.contains(page + 1))
            chosen.push_back(page);
    }
    return chosen;
}
