#pragma once

// JPEG encoding of a picture one row of blocks (16 rows of pixels, 8 for grey) at a
// time, with a restart marker after every row of blocks, on several threads.
//
// A page is mostly white paper. After a restart a row of blocks is coded on its own,
// so every row that is white from edge to edge has the same code: it is encoded once
// and copied. The other rows are encoded in groups, several groups at once, and the
// pieces are joined into one baseline JPEG. Every row is coded as it would be within
// the whole picture after a restart: the coefficients are the same, and so are the
// decoded pixels, as for the picture encoded in one go. The encoder is libjpeg-turbo,
// set as its TurboJPEG interface sets it. A picture of a single row of blocks is
// encoded in one go.

#include <string>

struct JpegSource
{
    const unsigned char *bits = nullptr;
    int width = 0;
    int bytesPerLine = 0;
    int height = 0;
    int pixelFormat = 0; // a TurboJPEG pixel format (TJPF_...)
};

// Rows of pixels in a row of blocks: 16 for a picture with colour, whose colour is
// subsampled 2x2, and 8 for a grey one.
int jpegBlockRows(bool grey);

// Rows of blocks that one call of the encoder takes at most. The groups depend on the
// picture alone, never on the threads: a picture gives the same bytes on every machine.
inline constexpr int kJpegRowsPerGroup = 8;

// The JPEG of `source` at `quality` (0-100), with colour subsampled 2x2 (or grey for
// TJPF_GRAY), using up to `threads` threads. Empty when the encoder failed.
std::string encodeJpegByRows(const JpegSource &source, int quality, int threads);
