#include "pngrows.h"

#include "threadshare.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr size_t kWindow = 32768; // deflate's reach back, and a band's dictionary
// Filtered bytes a band holds, about: a sixth of a page at 96 pixels per inch, so that
// two threads share a page evenly and a band's dictionary rows cost little.
constexpr size_t kBandBytes = 384 * 1024;

int channelsOf(const PngSource &source)
{
    return source.bytesPerPixel == 4 ? 3 : 1;
}

size_t filteredRowBytes(const PngSource &source)
{
    return 1 + size_t(source.width) * size_t(channelsOf(source));
}

void put32(std::string &out, uint32_t value)
{
    const char bytes[4] = {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
    out.append(bytes, 4);
}

// A chunk of `type` holding `data`, with its length and checksum.
void appendChunk(std::string &out, const char *type, const unsigned char *data, size_t size)
{
    put32(out, uint32_t(size));
    const size_t start = out.size();
    out.append(type, 4);
    out.append(reinterpret_cast<const char *>(data), size);
    put32(out, uint32_t(crc32(0, reinterpret_cast<const Bytef *>(out.data() + start),
                              uInt(out.size() - start))));
}

// Row `row` of the picture as the PNG holds it, unfiltered, into `to`.
void pixelsOf(const PngSource &source, int row, unsigned char *to)
{
    const unsigned char *from = source.bits + size_t(row) * size_t(source.bytesPerLine);
    if (source.bytesPerPixel == 1) {
        std::memcpy(to, from, size_t(source.width));
        return;
    }
    for (int x = 0; x < source.width; ++x, from += 4, to += 3) {
        to[0] = from[2];
        to[1] = from[1];
        to[2] = from[0];
    }
}

// Filters the rows [first, end) into `out`, each a filter byte and its filtered pixels.
void filterRows(const PngSource &source, PngFilter filter, int first, int end, unsigned char *out)
{
    const size_t pixelBytes = filteredRowBytes(source) - 1;
    const size_t step = size_t(channelsOf(source));
    std::vector<unsigned char> above(pixelBytes, 0), current(pixelBytes);
    if (filter == PngFilter::Up && first > 0)
        pixelsOf(source, first - 1, above.data());
    for (int row = first; row < end; ++row, out += pixelBytes + 1) {
        pixelsOf(source, row, current.data());
        out[0] = static_cast<unsigned char>(filter);
        unsigned char *to = out + 1;
        switch (filter) {
        case PngFilter::None:
            std::memcpy(to, current.data(), pixelBytes);
            break;
        case PngFilter::Sub:
            std::memcpy(to, current.data(), std::min(step, pixelBytes));
            for (size_t i = step; i < pixelBytes; ++i)
                to[i] = static_cast<unsigned char>(current[i] - current[i - step]);
            break;
        case PngFilter::Up:
            for (size_t i = 0; i < pixelBytes; ++i)
                to[i] = static_cast<unsigned char>(current[i] - above[i]);
            break;
        }
        current.swap(above);
    }
}

// One band of rows, compressed: an IDAT chunk, and the checksum of what it holds.
struct Band
{
    int first = 0;
    int end = 0;
    std::string chunk;
    uLong adler = 1;
    size_t filteredBytes = 0;
};

class Deflater
{
public:
    explicit Deflater(int level) : m_level(level)
    {
        m_ready = deflateInit2(&m_stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    }
    ~Deflater()
    {
        if (m_ready)
            deflateEnd(&m_stream);
    }
    Deflater(const Deflater &) = delete;
    Deflater &operator=(const Deflater &) = delete;

    // Compresses `band`'s rows after the rows before them as dictionary, ending the
    // stream when it is the last band and flushing it to a whole byte otherwise.
    bool compress(const PngSource &source, PngFilter filter, bool first, bool last, Band &band)
    {
        if (!m_ready || deflateReset(&m_stream) != Z_OK)
            return false;
        const size_t rowBytes = filteredRowBytes(source);
        const int dictionaryRows = std::min(band.first, int((kWindow + rowBytes - 1) / rowBytes));
        const int from = band.first - dictionaryRows;
        m_filtered.resize(size_t(band.end - from) * rowBytes);
        filterRows(source, filter, from, band.end, m_filtered.data());
        const size_t dictionaryBytes = size_t(dictionaryRows) * rowBytes;
        const size_t reach = std::min(dictionaryBytes, kWindow);
        if (reach > 0 &&
            deflateSetDictionary(&m_stream, m_filtered.data() + dictionaryBytes - reach,
                                 uInt(reach)) != Z_OK)
            return false;

        band.filteredBytes = m_filtered.size() - dictionaryBytes;
        band.adler = adler32(1, m_filtered.data() + dictionaryBytes, uInt(band.filteredBytes));
        // The chunk's length and type, then the zlib header before the first band.
        m_out.assign(8, '\0');
        std::memcpy(m_out.data() + 4, "IDAT", 4);
        if (first) {
            // A 32 KiB window, deflate; the level's hint, and a check that makes the
            // two bytes a multiple of 31.
            const unsigned levelHint = m_level <= 1 ? 0 : m_level <= 5 ? 1 : m_level == 6 ? 2 : 3;
            const unsigned header = 0x7800 | (levelHint << 6);
            m_out.push_back(char(header >> 8));
            m_out.push_back(char((header | (31 - header % 31)) & 0xFF));
        }
        const size_t start = m_out.size();
        m_out.resize(start + deflateBound(&m_stream, uLong(band.filteredBytes)) + 16);
        m_stream.next_in = m_filtered.data() + dictionaryBytes;
        m_stream.avail_in = uInt(band.filteredBytes);
        m_stream.next_out = reinterpret_cast<Bytef *>(m_out.data() + start);
        m_stream.avail_out = uInt(m_out.size() - start);
        const int status = deflate(&m_stream, last ? Z_FINISH : Z_SYNC_FLUSH);
        if (m_stream.avail_in != 0 || (last ? status != Z_STREAM_END : status != Z_OK))
            return false;
        m_out.resize(m_out.size() - m_stream.avail_out);
        const uint32_t length = uint32_t(m_out.size() - 8);
        for (int i = 0; i < 4; ++i)
            m_out[size_t(i)] = char(length >> (24 - 8 * i));
        put32(m_out, uint32_t(crc32(0, reinterpret_cast<const Bytef *>(m_out.data() + 4),
                                    uInt(m_out.size() - 4))));
        band.chunk = m_out;
        return true;
    }

private:
    z_stream m_stream{};
    bool m_ready = false;
    int m_level;
    std::vector<unsigned char> m_filtered;
    std::string m_out;
};

std::string encode(const PngSource &source, int threads, int level, PngFilter filter)
{
    if (!source.bits || source.width <= 0 || source.height <= 0 ||
        (source.bytesPerPixel != 4 && source.bytesPerPixel != 1) || level < 0 || level > 9)
        return {};
    const size_t rowBytes = filteredRowBytes(source);
    if (rowBytes > (1u << 30))
        return {};
    const int rowsPerBand = int(std::max<size_t>(1, kBandBytes / rowBytes));
    std::vector<Band> bands;
    for (int first = 0; first < source.height; first += rowsPerBand) {
        Band band;
        band.first = first;
        band.end = std::min(source.height, first + rowsPerBand);
        bands.push_back(std::move(band));
    }

    const int bandCount = int(bands.size());
    const bool encoded = runTasksOnThreads(
        threads, bandCount, [level] { return Deflater(level); },
        [&](Deflater &deflater, int band) {
            return deflater.compress(source, filter, band == 0, band == bandCount - 1,
                                     bands[size_t(band)]);
        });
    if (!encoded)
        return {};

    std::string png("\x89PNG\r\n\x1a\n", 8);
    std::string header;
    put32(header, uint32_t(source.width));
    put32(header, uint32_t(source.height));
    // 8 bits a sample; RGB or grey; deflate, the five filter types, no interlacing.
    header += {char(8), char(channelsOf(source) == 3 ? 2 : 0), 0, 0, 0};
    appendChunk(png, "IHDR", reinterpret_cast<const unsigned char *>(header.data()), header.size());
    size_t total = png.size() + 3 * 12 + 4;
    uLong adler = 1;
    for (const Band &band : bands) {
        total += band.chunk.size();
        adler = adler32_combine(adler, band.adler, z_off_t(band.filteredBytes));
    }
    png.reserve(total);
    for (const Band &band : bands)
        png += band.chunk;
    // The stream's checksum, in a chunk of its own: it is known only now.
    const unsigned char check[4] = {uint8_t(adler >> 24), uint8_t(adler >> 16), uint8_t(adler >> 8),
                                    uint8_t(adler)};
    appendChunk(png, "IDAT", check, sizeof check);
    appendChunk(png, "IEND", nullptr, 0);
    return png;
}

} // namespace

std::string encodePng(const PngSource &source, int threads, int level, PngFilter filter)
{
    try {
        return encode(source, threads, level, filter);
    } catch (const std::bad_alloc &) {
        return {};
    }
}
