#include "webpencode.h"

#include <webp/encode.h>

namespace {

// libwebp's speed settings, taken for pages converted in bulk: lossy at method 2 of
// 0-6 (6 is the slowest), lossless at level 1 of 0-9. See docs/formats.md.
constexpr int kLossyMethod = 2;
constexpr int kLosslessLevel = 1;

} // namespace

std::string encodeWebp(const unsigned char *bits, int width, int height, int bytesPerLine,
                       int quality)
{
    WebPConfig config;
    if (!WebPConfigPreset(&config, WEBP_PRESET_TEXT, float(quality)))
        return {};
    if (quality >= 100) {
        if (!WebPConfigLosslessPreset(&config, kLosslessLevel))
            return {};
    } else {
        config.method = kLossyMethod;
    }
    config.thread_level = 1;
    WebPPicture picture;
    if (!WebPPictureInit(&picture))
        return {};
    picture.width = width;
    picture.height = height;
    picture.use_argb = config.lossless;
    WebPMemoryWriter writer;
    WebPMemoryWriterInit(&writer);
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &writer;
    // Pages are opaque: the fourth byte is never read, so no alpha plane is written.
    const bool encoded =
        WebPPictureImportBGRX(&picture, bits, bytesPerLine) && WebPEncode(&config, &picture);
    std::string webp;
    if (encoded)
        webp.assign(reinterpret_cast<const char *>(writer.mem), writer.size);
    WebPPictureFree(&picture);
    WebPMemoryWriterClear(&writer);
    return webp;
}
