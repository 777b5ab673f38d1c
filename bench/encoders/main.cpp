// pagelift-encoders [--repeat=N] PICTURE...
//
// Times the picture encoders on page pictures (PNG files of pages, as pdftoppm -png
// draws them): Pagelift's JPEG, PNG and WebP writers' encoders, and for PNG libspng and
// libpng at the same levels, each from the page's 0xAARRGGBB words as the writers get
// them. Prints, for each encoder, the milliseconds per page (the fastest of N runs over
// all the pictures, 5 unless given) and the kilobytes per page.

#include "jpegrows.h"
#include "machineshare.h"
#include "pngrows.h"
#include "webpencode.h"

#include <QElapsedTimer>
#include <QImage>

#ifdef PAGELIFT_BENCH_SPNG
#include <spng.h>
#endif
#ifdef PAGELIFT_BENCH_LIBPNG
#include <png.h>
#endif

#include <turbojpeg.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using Encoder = std::function<std::string(const QImage &)>;

#ifdef PAGELIFT_BENCH_SPNG
std::string spng(const QImage &page, int level, int filters)
{
    // libspng reads RGB: the conversion is part of its cost, as it is of ours.
    const QImage rgb = page.convertToFormat(QImage::Format_RGB888);
    spng_ctx *context = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(context, SPNG_ENCODE_TO_BUFFER, 1);
    spng_set_option(context, SPNG_IMG_COMPRESSION_LEVEL, level);
    spng_set_option(context, SPNG_FILTER_CHOICE, filters);
    spng_ihdr header{
        uint32_t(rgb.width()), uint32_t(rgb.height()), 8, SPNG_COLOR_TYPE_TRUECOLOR, 0, 0, 0};
    spng_set_ihdr(context, &header);
    std::string out;
    if (rgb.bytesPerLine() == qsizetype(rgb.width()) * 3 &&
        spng_encode_image(context, rgb.constBits(), size_t(rgb.sizeInBytes()), SPNG_FMT_PNG,
                          SPNG_ENCODE_FINALIZE) == 0) {
        size_t size = 0;
        int error = 0;
        void *png = spng_get_png_buffer(context, &size, &error);
        out.assign(static_cast<const char *>(png), size);
        std::free(png);
    }
    spng_ctx_free(context);
    return out;
}
#endif

#ifdef PAGELIFT_BENCH_LIBPNG
std::string libpng(const QImage &page, int level, int filters)
{
    std::string out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png)) == 0) {
        png_set_write_fn(
            png, &out,
            [](png_structp p, png_bytep data, png_size_t size) {
                static_cast<std::string *>(png_get_io_ptr(p))
                    ->append(reinterpret_cast<const char *>(data), size);
            },
            nullptr);
        png_set_compression_level(png, level);
        png_set_filter(png, PNG_FILTER_TYPE_BASE, filters);
        png_set_IHDR(png, info, png_uint_32(page.width()), png_uint_32(page.height()), 8,
                     PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE,
                     PNG_FILTER_TYPE_BASE);
        png_write_info(png, info);
        // Blue first, the fourth byte dropped: libpng reads the words as they lie.
        png_set_bgr(png);
        png_set_filler(png, 0, PNG_FILLER_AFTER);
        for (int y = 0; y < page.height(); ++y)
            png_write_row(png, page.constScanLine(y));
        png_write_end(png, info);
    } else {
        out.clear();
    }
    png_destroy_write_struct(&png, &info);
    return out;
}
#endif

} // namespace

int main(int argc, char *argv[])
{
    int repeat = 5;
    std::vector<QImage> pages;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--repeat=", 9) == 0) {
            repeat = std::max(1, std::atoi(argv[i] + 9));
            continue;
        }
        QImage page(QString::fromLocal8Bit(argv[i]));
        if (page.isNull()) {
            std::fprintf(stderr, "pagelift-encoders: cannot read %s\n", argv[i]);
            return 2;
        }
        pages.push_back(page.convertToFormat(QImage::Format_RGB32));
    }
    if (pages.empty()) {
        std::fprintf(stderr, "usage: pagelift-encoders [--repeat=N] PICTURE...\n");
        return 2;
    }
    const int cpus = machineshare::cpus();
    const auto ours = [](int threads, int level, PngFilter filter) -> Encoder {
        return [=](const QImage &page) {
            return encodePng(
                {page.constBits(), page.width(), int(page.bytesPerLine()), page.height(), 4},
                threads, level, filter);
        };
    };
    const auto webp = [](int quality) -> Encoder {
        return [=](const QImage &page) {
            return encodeWebp(page.constBits(), page.width(), page.height(),
                              int(page.bytesPerLine()), quality);
        };
    };
    std::vector<std::pair<std::string, Encoder>> encoders = {
        {"JPEG q75 (Pagelift, all CPUs)",
         [&](const QImage &page) {
             return encodeJpegByRows({page.constBits(), page.width(), int(page.bytesPerLine()),
                                      page.height(), TJPF_BGRX},
                                     75, cpus);
         }},
        {"WebP q75 (libwebp, method 2)", webp(75)},
        {"WebP lossless (libwebp, level 1)", webp(100)},
        {"PNG Pagelift level 1 None, all CPUs", ours(cpus, 1, PngFilter::None)},
        {"PNG Pagelift level 1 None, 1 thread", ours(1, 1, PngFilter::None)},
        {"PNG Pagelift level 1 Up, 1 thread", ours(1, 1, PngFilter::Up)},
        {"PNG Pagelift level 1 Sub, 1 thread", ours(1, 1, PngFilter::Sub)},
        {"PNG Pagelift level 6 None, 1 thread", ours(1, 6, PngFilter::None)},
    };
#ifdef PAGELIFT_BENCH_SPNG
    encoders.push_back({"PNG libspng level 1, every filter",
                        [](const QImage &p) { return spng(p, 1, SPNG_FILTER_CHOICE_ALL); }});
    encoders.push_back({"PNG libspng level 1, Up",
                        [](const QImage &p) { return spng(p, 1, SPNG_FILTER_CHOICE_UP); }});
    encoders.push_back({"PNG libspng level 6, every filter",
                        [](const QImage &p) { return spng(p, 6, SPNG_FILTER_CHOICE_ALL); }});
#endif
#ifdef PAGELIFT_BENCH_LIBPNG
    encoders.push_back({"PNG libpng level 1, every filter",
                        [](const QImage &p) { return libpng(p, 1, PNG_ALL_FILTERS); }});
    encoders.push_back(
        {"PNG libpng level 1, Up", [](const QImage &p) { return libpng(p, 1, PNG_FILTER_UP); }});
#endif

    std::printf("%zu pages of %dx%d (first), %d CPUs\n", pages.size(), pages[0].width(),
                pages[0].height(), cpus);
    std::printf("%-40s %10s %10s\n", "encoder", "ms/page", "KB/page");
    for (const auto &[name, encode] : encoders) {
        double best = 1e30;
        size_t bytes = 0;
        for (int run = 0; run < repeat; ++run) {
            QElapsedTimer clock;
            clock.start();
            bytes = 0;
            for (const QImage &page : pages)
                bytes += encode(page).size();
            best = std::min(best, double(clock.nsecsElapsed()) / 1e6);
        }
        std::printf("%-40s %10.2f %10.1f\n", name.c_str(), best / double(pages.size()),
                    double(bytes) / 1024.0 / double(pages.size()));
    }
    return 0;
}
