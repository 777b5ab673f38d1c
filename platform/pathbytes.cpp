#include "pathbytes.h"

namespace {

constexpr char16_t kEscapeBase = 0xDC00; // + the byte (0x80..0xFF)

// The length of the valid UTF-8 sequence at `p` (at most `left` bytes), or 0.
int validSequence(const unsigned char *p, qsizetype left)
{
    const unsigned char c = p[0];
    int length;
    char32_t minimum;
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
        minimum = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        minimum = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        minimum = 0x10000;
    } else {
        return 0;
    }
    if (left < length)
        return 0;
    char32_t value = c & (0x3F >> (length - 1));
    for (int i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (p[i] & 0x3F);
    }
    // Overlong forms, surrogates and values beyond Unicode are not valid UTF-8.
    if (value < minimum || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF)
        return 0;
    return length;
}

} // namespace

QString decodePath(QByteArrayView bytes)
{
    QString path;
    path.reserve(bytes.size());
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    qsizetype runStart = 0;
    qsizetype i = 0;
    auto flush = [&] {
        if (i > runStart)
            path += QString::fromUtf8(bytes.data() + runStart, i - runStart);
    };
    while (i < bytes.size()) {
        const int length = validSequence(p + i, bytes.size() - i);
        if (length > 0) {
            i += length;
            continue;
        }
        flush();
        path += QChar(char16_t(kEscapeBase + p[i]));
        runStart = ++i;
    }
    flush();
    return path;
}

QByteArray encodePath(const QString &path)
{
    QByteArray bytes;
    bytes.reserve(path.size());
    const qsizetype size = path.size();
    qsizetype runStart = 0;
    auto flush = [&](qsizetype end) {
        if (end > runStart)
            bytes += QStringView(path).mid(runStart, end - runStart).toUtf8();
    };
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t unit = path[i].unicode();
        const bool lowSurrogate = unit >= 0xDC00 && unit <= 0xDFFF;
        const bool paired = lowSurrogate && i > 0 && path[i - 1].isHighSurrogate();
        if (lowSurrogate && !paired && unit >= kEscapeBase + 0x80 && unit <= kEscapeBase + 0xFF) {
            flush(i);
            bytes += char(unit - kEscapeBase);
            runStart = i + 1;
        }
    }
    flush(size);
    return bytes;
}
