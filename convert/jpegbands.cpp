#include "jpegbands.h"

#include <turbojpeg.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <new>
#include <thread>
#include <vector>

namespace {

constexpr int kBandBlockRows = 8;
constexpr int kMostRestartBlocks = 0xFFFF;

struct Encoded
{
    unsigned char *data = nullptr;
    unsigned long size = 0;
    Encoded() = default;
    Encoded(const Encoded &) = delete;
    Encoded &operator=(const Encoded &) = delete;
    ~Encoded()
    {
        if (data)
            tjFree(data);
    }
};

struct Compressor
{
    tjhandle handle = tjInitCompress();
    ~Compressor()
    {
        if (handle)
            tjDestroy(handle);
    }
};

int subsamplingOf(const JpegSource &source)
{
    return source.pixelFormat == TJPF_GRAY ? TJSAMP_GRAY : TJSAMP_420;
}

int bandRowsOf(int subsampling)
{
    return kBandBlockRows * tjMCUHeight[subsampling];
}

bool encodeRows(tjhandle handle, const JpegSource &source, int firstRow, int rows, int quality,
                Encoded &out)
{
    const unsigned char *bits = source.bits + size_t(firstRow) * size_t(source.bytesPerLine);
    return tjCompress2(handle, bits, source.width, source.bytesPerLine, rows, source.pixelFormat,
                       &out.data, &out.size, subsamplingOf(source), quality, 0) == 0 &&
           out.data;
}

// Where the encoder put a stream's frame header (SOF0) and scan header (SOS), and
// where the coded data after the scan header begins.
struct Layout
{
    size_t frame = 0;
    size_t scan = 0;
    size_t data = 0;
};

// False for a stream not laid out as a baseline JPEG of one scan, ending in EOI.
bool layoutOf(const Encoded &encoded, Layout &layout)
{
    const unsigned char *p = encoded.data;
    const size_t size = encoded.size;
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
            layout.scan = at;
            layout.data = at + 2 + length;
            return layout.frame != 0;
        }
        at += 2 + length;
    }
    return false;
}

std::string encodeWhole(const JpegSource &source, int quality)
{
    Compressor compressor;
    Encoded encoded;
    if (!compressor.handle ||
        !encodeRows(compressor.handle, source, 0, source.height, quality, encoded))
        return {};
    return std::string(reinterpret_cast<const char *>(encoded.data), encoded.size);
}

// The bands' streams as one: the first band's headers with the picture's height and a
// restart interval of one band, then every band's coded data, a restart marker
// (RST0 to RST7 in turn) between each two.
std::string join(const std::vector<Encoded> &bands, int height, unsigned restartBlocks)
{
    std::vector<Layout> layouts(bands.size());
    size_t total = 8;
    for (size_t i = 0; i < bands.size(); ++i) {
        if (!layoutOf(bands[i], layouts[i]))
            return {};
        total += bands[i].size - layouts[i].data + 2;
    }
    const Encoded &first = bands.front();
    const char *bytes = reinterpret_cast<const char *>(first.data);
    std::string out;
    out.reserve(total + layouts.front().data);
    out.append(bytes, layouts.front().scan);
    // Height: the frame header's marker, length and precision come first.
    out[layouts.front().frame + 5] = char(height >> 8);
    out[layouts.front().frame + 6] = char(height & 0xFF);
    const char restart[] = {
        char(0xFF), char(0xDD), 0, 4, char(restartBlocks >> 8), char(restartBlocks & 0xFF)};
    out.append(restart, sizeof restart);
    out.append(bytes + layouts.front().scan, first.size - 2 - layouts.front().scan);
    for (size_t i = 1; i < bands.size(); ++i) {
        out += char(0xFF);
        out += char(0xD0 + (i - 1) % 8);
        out.append(reinterpret_cast<const char *>(bands[i].data) + layouts[i].data,
                   bands[i].size - 2 - layouts[i].data);
    }
    out += char(0xFF);
    out += char(0xD9);
    return out;
}

std::string encodeBands(const JpegSource &source, int quality, int threads)
{
    const int subsampling = subsamplingOf(source);
    const int bandRows = bandRowsOf(subsampling);
    const int bandCount = (source.height + bandRows - 1) / bandRows;
    const int64_t blocksAcross =
        (int64_t(source.width) + tjMCUWidth[subsampling] - 1) / tjMCUWidth[subsampling];
    const int64_t restartBlocks = blocksAcross * kBandBlockRows;
    if (bandCount <= 1 || restartBlocks > kMostRestartBlocks || source.height > 0xFFFF)
        return encodeWhole(source, quality);

    std::vector<Encoded> bands(static_cast<size_t>(bandCount));
    std::atomic<int> next{0};
    std::atomic<bool> failed{false};
    const auto work = [&] {
        Compressor compressor;
        if (!compressor.handle) {
            failed = true;
            return;
        }
        for (int band = next++; band < bandCount && !failed; band = next++) {
            const int first = band * bandRows;
            const int rows = std::min(bandRows, source.height - first);
            if (!encodeRows(compressor.handle, source, first, rows, quality, bands[size_t(band)]))
                failed = true;
        }
    };
    std::vector<std::thread> helpers;
    for (int i = 1; i < std::min(threads, bandCount); ++i) {
        try {
            helpers.emplace_back(work);
        } catch (...) {
            break; // no thread to be had: the threads there are encode the bands left
        }
    }
    work();
    for (std::thread &helper : helpers)
        helper.join();
    if (failed)
        return {};
    return join(bands, source.height, unsigned(restartBlocks));
}

} // namespace

int jpegBandRows(bool grey)
{
    return bandRowsOf(grey ? TJSAMP_GRAY : TJSAMP_420);
}

std::string encodeJpegInBands(const JpegSource &source, int quality, int threads)
{
    try {
        return encodeBands(source, quality, threads);
    } catch (const std::bad_alloc &) {
        return {}; // a failed encoding, as when the encoder runs out of memory
    }
}
