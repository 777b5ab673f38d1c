#include "printable.h"

#include "pathbytes.h"

namespace {

bool isControl(char16_t c)
{
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F);
}

// A byte of a name that is not UTF-8 travels as U+DC80..U+DCFF (see pathbytes.h).
bool isControlByte(char16_t c)
{
    return c >= 0xDC80 && c <= 0xDC9F;
}

QByteArray escaped(unsigned byte)
{
    switch (byte) {
    case '\n':
        return "\\n";
    case '\r':
        return "\\r";
    case '\t':
        return "\\t";
    default:
        return "\\x" + QByteArray::number(byte, 16).rightJustified(2, '0');
    }
}

} // namespace

QByteArray printable(const QString &text)
{
    QByteArray out;
    qsizetype plainFrom = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        const char16_t c = i < text.size() ? text[i].unicode() : u'\0';
        if (i < text.size() && !isControl(c) && !isControlByte(c))
            continue;
        out += encodePath(text.mid(plainFrom, i - plainFrom));
        if (i < text.size())
            out += escaped(isControlByte(c) ? unsigned(c - 0xDC00) : unsigned(c));
        plainFrom = i + 1;
    }
    return out;
}

QByteArray printableLine(const QString &message)
{
    return printable(QString(message).replace(u'\n', u' ').simplified());
}
