#include "storedzip.h"

namespace {

quint32 crc32(const QByteArray &data)
{
    quint32 crc = 0xFFFFFFFF;
    for (char c : data) {
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    return ~crc;
}

void put16(QByteArray &out, quint32 v)
{
    out.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF));
}

void put32(QByteArray &out, quint32 v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

} // namespace

QByteArray storedZip(const QList<QPair<QByteArray, QByteArray>> &entries)
{
    QByteArray zip;
    QByteArray directory;
    for (const auto &[name, data] : entries) {
        const quint32 offset = quint32(zip.size());
        const quint32 crc = crc32(data);
        zip.append("PK\x03\x04", 4);
        put16(zip, 10), put16(zip, 0), put16(zip, 0), put16(zip, 0), put16(zip, 0x21);
        put32(zip, crc), put32(zip, quint32(data.size())), put32(zip, quint32(data.size()));
        put16(zip, quint32(name.size())), put16(zip, 0);
        zip.append(name).append(data);

        directory.append("PK\x01\x02", 4);
        put16(directory, 20), put16(directory, 10), put16(directory, 0), put16(directory, 0);
        put16(directory, 0), put16(directory, 0x21);
        put32(directory, crc), put32(directory, quint32(data.size()));
        put32(directory, quint32(data.size()));
        put16(directory, quint32(name.size())), put16(directory, 0), put16(directory, 0);
        put16(directory, 0), put16(directory, 0), put32(directory, 0), put32(directory, offset);
        directory.append(name);
    }
    const quint32 directoryOffset = quint32(zip.size());
    zip.append(directory);
    zip.append("PK\x05\x06", 4);
    put16(zip, 0), put16(zip, 0);
    put16(zip, quint32(entries.size())), put16(zip, quint32(entries.size()));
    put32(zip, quint32(directory.size())), put32(zip, directoryOffset), put16(zip, 0);
    return zip;
}
