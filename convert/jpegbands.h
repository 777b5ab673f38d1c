#pragma once

// JPEG encoding of a picture in bands of rows, several bands at once on threads of
// their own, joined into one baseline JPEG with a restart marker between bands.
// Every band is coded as it would be within the whole picture, after a restart: the
// coefficients are the same, and so are the decoded pixels, as for the picture
// encoded in one go. Pictures of a single band are encoded in one go, as are those
// whose bands would hold more blocks than a restart interval can count.

#include <string>

struct JpegSource
{
    const unsigned char *bits = nullptr;
    int width = 0;
    int bytesPerLine = 0;
    int height = 0;
    int pixelFormat = 0; // a TurboJPEG pixel format (TJPF_...)
};

// Rows in a band: eight rows of blocks, so 128 rows of a picture with colour (whose
// blocks are 16 rows high) and 64 of a grey one. The bands depend on the picture alone,
// never on the threads: a picture gives the same bytes on every machine.
int jpegBandRows(bool grey);

// The JPEG of `source` at `quality` (0-100), with colour subsampled 2x2 (or grey for
// TJPF_GRAY), using up to `threads` threads. Empty when the encoder failed.
std::string encodeJpegInBands(const JpegSource &source, int quality, int threads);
