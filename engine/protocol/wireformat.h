#pragma once

// The wire format between the automation client and pagelift-engine, shared by both
// sides (and by the test double of the engine). Plain C++ so the engine needs no Qt;
// socketio.h moves these frames over descriptors.
//
// Every message is a frame: a 32-bit payload length, then the payload. Integers are
// little-endian. A request carries one call with its automation arguments; a reply
// carries the call's value, or a refusal with its reason. A cut's pixels follow the
// reply header as raw bytes, so a page travels without any re-encoding.

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace engineprotocol {

static_assert(std::endian::native == std::endian::little, "the wire format is little-endian");

enum class Call : uint8_t
{
    Open = 1,       // text: the document's path, and the pages to print (openText);
                    // a: pixels per inch of its pages (0: 96); b: kDocumentAttached or 0
    Repaginate = 2, // a: kOnlyDocument or 0 (see below)
    Property = 3,   // a: property number; value: the property (14 = page count)
    GoTo = 4,       // a: What, b: Which, c: Name
    MoveUp = 5,     // a: Unit, b: Count, c: Extend
    EndKey = 6,     // a: Unit, b: Extend
    Cut = 7,        // a: page buffers given back; width, height and the cut's pixels
    Close = 8,      // a: savechanges; value: kServesAnother or 0 (see below)
    Quit = 9,       // the engine replies, then exits
    // After Open, before Repaginate: how the open document's pages are drawn, when not
    // all of them at the Open call's resolution in colour. a, b: a box in pixels that
    // each page is drawn to fit, its proportions kept (0: no bound that way); c:
    // kDrawGrey or 0; text: the pages to draw (pagechoice.h; empty: every page). A cut
    // of pages none of which is to be drawn answers with no picture (width and height 0);
    // one that takes a page Open's text left unprinted is refused.
    Drawing = 10,
};

// Why the engine refused a call. The client turns these into the user's words.
enum class Refusal : uint8_t
{
    None = 0,
    FileNotFound = 1,
    NotADocument = 2,   // nothing the office prints (picture, binary data, database)
    Password = 3,       // protected by a password
    Corrupt = 4,        // looks like a document but cannot be read
    Unreadable = 9,     // exists but the engine may not read it
    Folder = 10,        // a folder, not a file
    SpecialFile = 11,   // a named pipe, device or socket; the detail says which
    TooMuchMemory = 12, // the document needs more memory than an engine may take
    // Tracked changes or comments, printed by an office that printed other documents
    // before: their colours would not be the ones a fresh office gives them. Another
    // engine, one that has printed nothing, is to open the document.
    NeedsFreshOffice = 13,
    NothingSelected = 5,
    NoDocument = 6,    // a document call before a document was opened
    BadArguments = 7,  // a call with arguments this engine does not implement
    EngineFailure = 8, // the office could not be started or failed internally
};

struct Request
{
    Call call = Call::Quit;
    int32_t a = 0;
    int32_t b = 0;
    int32_t c = 0;
    std::string text;
};

// The fixed part of a reply; `extra` bytes follow it: the pixels of a cut
// (height * width * 4, rows top to bottom, premultiplied BGRA) or a refusal's detail
// as UTF-8. A cut whose `extra` is 0 has its pixels, in that layout, in a shared
// memory file whose descriptor travels with the header (SCM_RIGHTS).
struct ReplyHeader
{
    Refusal refusal = Refusal::None;
    int32_t value = 0;
    int32_t width = 0;
    int32_t height = 0;
    uint32_t extra = 0;
};

// Open's `b` when the document itself travels with the call, as a descriptor open for
// reading (SCM_RIGHTS): a sandboxed engine may not open the path, and reads the
// document through the descriptor instead. The path still names it (for its folder,
// its links and the messages). Open's reply may carry `extra` bytes: what the engine
// left out of the document, one link a line (a picture linked from a file it may not
// read, or from the network).
inline constexpr int32_t kDocumentAttached = 1;

// Open's text: the document's path and, when only some of its pages are to be drawn, a
// NUL and those pages (pagechoice.h). The office then prints those pages alone, which
// for a first-page preview of a long document saves most of the work; the document's
// page count is still its own. A path holds no NUL.
inline std::string openText(std::string_view path, std::string_view pages)
{
    std::string text(path);
    if (!pages.empty()) {
        text += '\0';
        text += pages;
    }
    return text;
}

// The path in Open's text, and the pages after it (empty: every page).
struct OpenText
{
    std::string_view path;
    std::string_view pages;
};
inline OpenText splitOpenText(std::string_view text)
{
    const size_t end = text.find('\0');
    if (end == std::string_view::npos)
        return {text, {}};
    return {text.substr(0, end), text.substr(end + 1)};
}

// The value of Close's reply when the engine may open another document after it; any
// other value means it must be told to quit. An engine says so only while every call
// has gone well and no document it served left anything behind that could change how
// a later document looks.
inline constexpr int32_t kServesAnother = 1;

// Repaginate's `a` when no other document is converted beside this one: the engine
// may then draw pages ahead on more than one processor. The pictures are the same.
inline constexpr int32_t kOnlyDocument = 1;

// Drawing's `c` for pages drawn in 8-bit grey; their pictures still travel as BGRA,
// the grey in each of the three colours.
inline constexpr int32_t kDrawGrey = 1;

// A cut's picture in shared memory may lie in one of the engine's page buffers, which
// it draws page after page into instead of making fresh memory for each: the low byte
// of the reply's value is then the buffer's number plus one (0: memory of the
// picture's own). The engine draws into a numbered buffer again only once the client
// has given it back: bit n of a later Cut's `a` for buffer n, once no picture of the
// client's lies in it.
inline constexpr int kPageBuffers = 4;
inline constexpr int32_t kPageBufferMask = 0xFF;
// Set in a cut's value when every pixel of the picture is opaque, as the office's pages
// on white paper are: the client need not look at each pixel's alpha again.
inline constexpr int32_t kOpaquePicture = 1 << 8;

inline constexpr size_t kRequestFixedSize = 1 + 3 * 4;
inline constexpr size_t kReplyHeaderSize = 1 + 4 * 4;
// Longest request payload a side accepts (a path is far shorter).
inline constexpr uint32_t kMaxRequestSize = 1 << 20;

namespace detail {

inline void put32(std::string &out, uint32_t v)
{
    char bytes[4];
    std::memcpy(bytes, &v, 4);
    out.append(bytes, 4);
}

inline uint32_t get32(const char *p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

} // namespace detail

// The whole frame of a request, length included.
inline std::string encodeRequest(const Request &request)
{
    std::string out;
    detail::put32(out, uint32_t(kRequestFixedSize + request.text.size()));
    out.push_back(char(request.call));
    detail::put32(out, uint32_t(request.a));
    detail::put32(out, uint32_t(request.b));
    detail::put32(out, uint32_t(request.c));
    out += request.text;
    return out;
}

// Decodes a request payload (the frame without its length). False if malformed.
inline bool decodeRequest(std::string_view payload, Request &request)
{
    if (payload.size() < kRequestFixedSize)
        return false;
    request.call = Call(uint8_t(payload[0]));
    request.a = int32_t(detail::get32(payload.data() + 1));
    request.b = int32_t(detail::get32(payload.data() + 5));
    request.c = int32_t(detail::get32(payload.data() + 9));
    request.text.assign(payload.substr(kRequestFixedSize));
    return true;
}

// The frame length and the fixed header of a reply whose `extra` bytes follow.
inline std::string encodeReplyHeader(const ReplyHeader &header)
{
    std::string out;
    detail::put32(out, uint32_t(kReplyHeaderSize + header.extra));
    out.push_back(char(header.refusal));
    detail::put32(out, uint32_t(header.value));
    detail::put32(out, uint32_t(header.width));
    detail::put32(out, uint32_t(header.height));
    detail::put32(out, header.extra);
    return out;
}

// Decodes the frame length and fixed header (kReplyHeaderSize + 4 bytes). False if the
// length does not agree with the header.
inline bool decodeReplyHeader(const char *bytes, ReplyHeader &header)
{
    const uint32_t length = detail::get32(bytes);
    header.refusal = Refusal(uint8_t(bytes[4]));
    header.value = int32_t(detail::get32(bytes + 5));
    header.width = int32_t(detail::get32(bytes + 9));
    header.height = int32_t(detail::get32(bytes + 13));
    header.extra = detail::get32(bytes + 17);
    return length == kReplyHeaderSize + header.extra;
}

// The orders a launcher (pagelift-engine --launcher) reads on its control socket, one
// per engine wanted. It answers each with a 32-bit process id (-1 when the fork failed)
// that carries two descriptors: the engine's end of its call socket and a pidfd of the
// engine.
namespace launcher {

// An engine that serves calls at once.
inline constexpr char kEngine = 'e';
// An engine that first loads and drops a small document of its own, so that the
// office's one-time set-up for a first document is paid before it is used.
inline constexpr char kWarmEngine = 'w';
// Followed by one request frame (at most kMaxCallAhead bytes, length included): an
// engine whose first call is already written, so that it starts on that call (opening
// the next document ahead) instead of on a document of its own.
inline constexpr char kEngineWithCall = 'a';
// Small enough for the call socket to hold it before the engine reads it.
inline constexpr size_t kMaxCallAhead = 32768;

} // namespace launcher

} // namespace engineprotocol

// Page geometry comes from the office in twips, 1440 to the inch; page pictures are
// drawn at a resolution in dots per inch (the Open call's), by default the screen's 96.
namespace pageunits {

inline constexpr int kTwipsPerInch = 1440;
inline constexpr int kDefaultDpi = 96;
// The resolutions a page may be drawn at: from a thumbnail to print quality.
inline constexpr int kMinDpi = 48;
inline constexpr int kMaxDpi = 600;

// The pixels that `twips` cover at `dpi`, to the nearest whole pixel (halves up).
constexpr int toPixels(int64_t twips, int dpi)
{
    return int((twips * dpi + kTwipsPerInch / 2) / kTwipsPerInch);
}

} // namespace pageunits
