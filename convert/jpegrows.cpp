#include "jpegrows.h"

#include "threadshare.h"

#include <turbojpeg.h>

// libjpeg's header needs FILE and size_t declared first.
#include <cstdio>
#include <jerror.h>
#include <jpeglib.h>

#include <algorithm>
#include <atomic>
#include <csetjmp>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr int kMostHeight = 0xFFFF; // the frame header's height field

// The libjpeg colour space that reads a TurboJPEG pixel format's memory as it is.
J_COLOR_SPACE colourSpaceOf(int pixelFormat)
{
    switch (pixelFormat) {
    case TJPF_RGB:
        return JCS_EXT_RGB;
    case TJPF_BGR:
        return JCS_EXT_BGR;
    case TJPF_RGBX:
        return JCS_EXT_RGBX;
    case TJPF_BGRX:
        return JCS_EXT_BGRX;
    case TJPF_XBGR:
        return JCS_EXT_XBGR;
    case TJPF_XRGB:
        return JCS_EXT_XRGB;
    case TJPF_GRAY:
        return JCS_GRAYSCALE;
    default:
        return JCS_UNKNOWN;
    }
}

bool isGrey(const JpegSource &source)
{
    return source.pixelFormat == TJPF_GRAY;
}

// The byte of a pixel that the encoder ignores, or -1 when it reads every byte.
int paddingByteOf(int pixelFormat)
{
    switch (pixelFormat) {
    case TJPF_RGBX:
    case TJPF_BGRX:
        return 3;
    case TJPF_XBGR:
    case TJPF_XRGB:
        return 0;
    default:
        return -1;
    }
}

// Whether every pixel of rows [first, first + count) is white.
bool isWhite(const JpegSource &source, int first, int count)
{
    const int pixelSize = tjPixelSize[source.pixelFormat];
    const int padding = paddingByteOf(source.pixelFormat);
    // Eight bytes hold two whole pixels of four bytes: the padding bytes are left out.
    uint64_t colour = ~uint64_t(0);
    if (padding >= 0)
        colour &= ~((uint64_t(0xFF) << (8 * padding)) | (uint64_t(0xFF) << (8 * (padding + 4))));
    const size_t lineBytes = size_t(source.width) * size_t(pixelSize);
    for (int row = first; row < first + count; ++row) {
        const unsigned char *line = source.bits + size_t(row) * size_t(source.bytesPerLine);
        size_t at = 0;
        for (; at + 8 <= lineBytes; at += 8) {
            uint64_t bytes;
            std::memcpy(&bytes, line + at, sizeof bytes);
            if ((bytes | ~colour) != ~uint64_t(0))
                return false;
        }
        for (; at < lineBytes; ++at)
            if (line[at] != 0xFF && int(at % size_t(pixelSize)) != padding)
                return false;
    }
    return true;
}

// A libjpeg compressor of one thread, set for each picture as TurboJPEG sets its own,
// writing into memory of its own. libjpeg reports a failure (running out of memory,
// say) by calling error_exit, which must not return: it jumps back into compress().
class Compressor
{
public:
    Compressor()
    {
        m_info.err = jpeg_std_error(&m_failure.manager);
        m_failure.manager.error_exit = [](j_common_ptr info) {
            std::longjmp(reinterpret_cast<Failure *>(info->err)->jump, 1);
        };
        m_failure.manager.output_message = [](j_common_ptr) {};
        m_output.manager.init_destination = [](j_compress_ptr info) {
            Output &out = *reinterpret_cast<Output *>(info->dest);
            out.manager.next_output_byte = out.buffer;
            out.manager.free_in_buffer = out.capacity;
            if (out.capacity == 0)
                grow(info);
        };
        m_output.manager.empty_output_buffer = [](j_compress_ptr info) -> boolean {
            grow(info);
            return TRUE;
        };
        m_output.manager.term_destination = [](j_compress_ptr info) {
            Output &out = *reinterpret_cast<Output *>(info->dest);
            out.size = out.capacity - out.manager.free_in_buffer;
        };
        if (setjmp(m_failure.jump) == 0) {
            jpeg_create_compress(&m_info);
            m_created = true;
        }
    }
    ~Compressor()
    {
        if (m_created)
            jpeg_destroy_compress(&m_info);
        std::free(m_output.buffer);
    }
    Compressor(const Compressor &) = delete;
    Compressor &operator=(const Compressor &) = delete;

    // Encodes `height` rows of `source`, the pixel rows that `rows` points at, with a
    // restart marker after every row of blocks where asked. True when libjpeg made the
    // stream, which is then data() and size() bytes; false when it failed.
    bool compress(const JpegSource &source, const unsigned char *const *rows, int height,
                  int quality, bool restartEveryRow)
    {
        if (!m_created)
            return false;
        if (setjmp(m_failure.jump) != 0) {
            jpeg_abort_compress(&m_info);
            return false;
        }
        m_info.dest = &m_output.manager;
        m_info.image_width = JDIMENSION(source.width);
        m_info.image_height = JDIMENSION(height);
        m_info.input_components = tjPixelSize[source.pixelFormat];
        m_info.in_color_space = colourSpaceOf(source.pixelFormat);
        // TurboJPEG's settings: 2x2 subsampled colour (libjpeg's default for colour),
        // and the fast transform below quality 96.
        jpeg_set_defaults(&m_info);
        jpeg_set_quality(&m_info, quality, TRUE);
        m_info.dct_method = quality >= 96 ? JDCT_ISLOW : JDCT_FASTEST;
        m_info.restart_in_rows = restartEveryRow ? 1 : 0;
        jpeg_start_compress(&m_info, TRUE);
        while (m_info.next_scanline < m_info.image_height) {
            const JDIMENSION done = m_info.next_scanline;
            jpeg_write_scanlines(&m_info, const_cast<JSAMPARRAY>(rows + done),
                                 m_info.image_height - done);
        }
        jpeg_finish_compress(&m_info);
        return true;
    }

    const unsigned char *data() const { return m_output.buffer; }
    size_t size() const { return m_output.size; }

private:
    struct Failure
    {
        jpeg_error_mgr manager; // first: libjpeg hands the jump its address
        std::jmp_buf jump;
    };
    struct Output
    {
        jpeg_destination_mgr manager; // first, as for Failure
        unsigned char *buffer = nullptr;
        size_t capacity = 0;
        size_t size = 0;
    };

    // Doubles the output memory (64 KiB at first); libjpeg has filled what there was.
    static void grow(j_compress_ptr info)
    {
        Output &out = *reinterpret_cast<Output *>(info->dest);
        const size_t filled = out.capacity;
        const size_t capacity = std::max<size_t>(filled * 2, 64 * 1024);
        auto *buffer = static_cast<unsigned char *>(std::realloc(out.buffer, capacity));
        if (!buffer)
            ERREXIT(info, JERR_OUT_OF_MEMORY);
        out.buffer = buffer;
        out.capacity = capacity;
        out.manager.next_output_byte = buffer + filled;
        out.manager.free_in_buffer = capacity - filled;
    }

    jpeg_compress_struct m_info{};
    Failure m_failure{};
    Output m_output{};
    bool m_created = false;
};

// Where a stream's frame header (SOF0) lies, and where the coded data after its scan
// header begins.
struct Layout
{
    size_t frame = 0;
    size_t data = 0;
};

// False for a stream not laid out as a baseline JPEG of one scan, ending in EOI.
bool layoutOf(const std::string &stream, Layout &layout)
{
    const auto *p = reinterpret_cast<const unsigned char *>(stream.data());
    const size_t size = stream.size();
    if (size < 6 || p[0] != 0xFF || p[1] != 0xD8 || p[size - 2] != 0xFF || p[size - 1] != 0xD9)
        return false;
    size_t at = 2;
    while (at + 4 <= size) {
        if (p[at] != 0xFF)
            return false;
        const unsigned marker = p[at + 1];
        const size_t length = (size_t(p[at + 2]) << 8) | p[at + 3];
        if (length < 2 || at + 2 + length > size - 2)
            return false;
        if (marker == 0xC0)
            layout.frame = at;
        else if (marker >= 0xC1 && marker <= 0xCF && marker != 0xC4 && marker != 0xCC)
            return false; // not baseline
        if (marker == 0xDA) {
            layout.data = at + 2 + length;
            return layout.frame != 0;
        }
        at += 2 + length;
    }
    return false;
}

// One call of the encoder: rows of blocks, and what came of them.
struct Group
{
    std::vector<int> blockRows;
    std::string stream;
    Layout layout;
    std::vector<std::pair<size_t, size_t>> pieces; // offset and length of each row's code
};

// Splits a group's coded data at its restart markers, one piece for each row of blocks.
bool cutIntoRows(Group &group)
{
    if (!layoutOf(group.stream, group.layout))
        return false;
    const auto *p = reinterpret_cast<const unsigned char *>(group.stream.data());
    const size_t end = group.stream.size() - 2; // the EOI marker
    size_t start = group.layout.data;
    for (size_t at = start; at + 1 < end; ++at) {
        // Coded data holds 0xFF only before 0x00 (stuffing) or a marker.
        if (p[at] == 0xFF && p[at + 1] >= 0xD0 && p[at + 1] <= 0xD7) {
            group.pieces.emplace_back(start, at - start);
            start = at + 2;
            ++at;
        }
    }
    group.pieces.emplace_back(start, end - start);
    return group.pieces.size() == group.blockRows.size();
}

// Adds the addresses of rows [first, end) of `source` to `rows`.
void appendRows(const JpegSource &source, int first, int end,
                std::vector<const unsigned char *> &rows)
{
    for (int row = first; row < end; ++row)
        rows.push_back(source.bits + size_t(row) * size_t(source.bytesPerLine));
}

// Encodes a group: the rows of pixels of its rows of blocks, one after another, as a
// picture of their own. `white` is a line of white pixels; a group whose rows are -1
// is one row of blocks of it.
bool encodeGroup(Compressor &compressor, const JpegSource &source, int quality, int blockHeight,
                 const unsigned char *white, Group &group)
{
    std::vector<const unsigned char *> rows;
    for (int blockRow : group.blockRows) {
        if (blockRow < 0) {
            rows.insert(rows.end(), size_t(blockHeight), white);
            continue;
        }
        const int first = blockRow * blockHeight;
        appendRows(source, first, std::min(source.height, first + blockHeight), rows);
    }
    if (!compressor.compress(source, rows.data(), int(rows.size()), quality, true))
        return false;
    group.stream.assign(reinterpret_cast<const char *>(compressor.data()), compressor.size());
    return cutIntoRows(group);
}

std::string encodeWhole(const JpegSource &source, int quality)
{
    std::vector<const unsigned char *> rows;
    appendRows(source, 0, source.height, rows);
    Compressor compressor;
    if (!compressor.compress(source, rows.data(), source.height, quality, false))
        return {};
    return std::string(reinterpret_cast<const char *>(compressor.data()), compressor.size());
}

// The groups' pieces as one stream: the first group's headers with the picture's
// height, then each row's piece in the picture's order, a restart marker (RST0 to
// RST7 in turn) between each two. `pieceOf` has, for each row of blocks, its group and
// its piece there.
std::string join(const std::vector<Group> &groups, const std::vector<std::pair<int, int>> &pieceOf,
                 int height)
{
    size_t total = 0;
    for (const Group &group : groups)
        total += group.stream.size();
    const Group &first = groups.front();
    std::string out;
    out.reserve(total + 2 * pieceOf.size());
    out.append(first.stream, 0, first.layout.data);
    // Height: the frame header's marker, length and precision come first.
    out[first.layout.frame + 5] = char(height >> 8);
    out[first.layout.frame + 6] = char(height & 0xFF);
    for (size_t row = 0; row < pieceOf.size(); ++row) {
        if (row > 0) {
            out += char(0xFF);
            out += char(0xD0 + (row - 1) % 8);
        }
        const Group &group = groups[size_t(pieceOf[row].first)];
        const auto [offset, length] = group.pieces[size_t(pieceOf[row].second)];
        out.append(group.stream, offset, length);
    }
    out += char(0xFF);
    out += char(0xD9);
    return out;
}

std::string encodeRows(const JpegSource &source, int quality, int threads)
{
    const int blockHeight = jpegBlockRows(isGrey(source));
    const int blockRowCount = (source.height + blockHeight - 1) / blockHeight;
    if (colourSpaceOf(source.pixelFormat) == JCS_UNKNOWN)
        return {};
    if (blockRowCount <= 1 || source.height > kMostHeight)
        return encodeWhole(source, quality);

    // The white rows share one piece, in a group of its own; the others are taken in
    // groups of up to kJpegRowsPerGroup.
    std::vector<Group> groups;
    std::vector<std::pair<int, int>> pieceOf(static_cast<size_t>(blockRowCount));
    int whiteGroup = -1;
    for (int blockRow = 0; blockRow < blockRowCount; ++blockRow) {
        const int first = blockRow * blockHeight;
        if (isWhite(source, first, std::min(blockHeight, source.height - first))) {
            if (whiteGroup < 0) {
                whiteGroup = int(groups.size());
                groups.push_back(Group{{-1}, {}, {}, {}});
            }
            pieceOf[size_t(blockRow)] = {whiteGroup, 0};
            continue;
        }
        if (groups.empty() || int(groups.size()) - 1 == whiteGroup ||
            groups.back().blockRows.size() >= size_t(kJpegRowsPerGroup))
            groups.push_back(Group{});
        pieceOf[size_t(blockRow)] = {int(groups.size()) - 1, int(groups.back().blockRows.size())};
        groups.back().blockRows.push_back(blockRow);
    }

    const std::vector<unsigned char> white(
        size_t(source.width) * size_t(tjPixelSize[source.pixelFormat]), 0xFF);
    const int groupCount = int(groups.size());
    const bool encoded = runTasksOnThreads(
        threads, groupCount, [] { return Compressor(); },
        [&](Compressor &compressor, int group) {
            return encodeGroup(compressor, source, quality, blockHeight, white.data(),
                               groups[size_t(group)]);
        });
    if (!encoded)
        return {};
    return join(groups, pieceOf, source.height);
}

} // namespace

int jpegBlockRows(bool grey)
{
    return tjMCUHeight[grey ? TJSAMP_GRAY : TJSAMP_420];
}

std::string encodeJpegByRows(const JpegSource &source, int quality, int threads)
{
    try {
        return encodeRows(source, quality, threads);
    } catch (const std::bad_alloc &) {
        return {}; // a failed encoding, as when the encoder runs out of memory
    }
}
