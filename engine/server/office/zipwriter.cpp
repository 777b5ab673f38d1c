#include "zipwriter.h"

#include <cstdint>

namespace {

uint32_t crc32(const std::string &data)
{
    uint32_t crc = 0xFFFFFFFF;
    for (unsigned char c : data) {
        crc ^= c;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    return ~crc;
}

void put16(std::string &out, uint32_t v)
{
    out += char(v & 0xFF);
    out += char((v >> 8) & 0xFF);
}

void put32(std::string &out, uint32_t v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

} // namespace

std::string makeStoredZip(const std::vector<std::pair<std::string, std::string>> &entries)
{
    std::string zip;
    std::string directory;
    for (const auto &[name, data] : entries) {
        const uint32_t offset = uint32_t(zip.size());
        const uint32_t crc = crc32(data);
        const uint32_t size = uint32_t(data.size());
        zip += "PK\x03\x04";
        put16(zip, 10), put16(zip, 0), put16(zip, 0), put16(zip, 0), put16(zip, 0x21);
        put32(zip, crc), put32(zip, size), put32(zip, size);
        put16(zip, uint32_t(name.size())), put16(zip, 0);
        zip += name + data;

        directory += "PK\x01\x02";
        put16(directory, 20), put16(directory, 10), put16(directory, 0), put16(directory, 0);
        put16(directory, 0), put16(directory, 0x21);
        put32(directory, crc), put32(directory, size), put32(directory, size);
        put16(directory, uint32_t(name.size())), put16(directory, 0), put16(directory, 0);
        put16(directory, 0), put16(directory, 0), put32(directory, 0), put32(directory, offset);
        directory += name;
    }
    const uint32_t directoryOffset = uint32_t(zip.size());
    zip += directory;
    zip += "PK\x05\x06";
    put16(zip, 0), put16(zip, 0);
    put16(zip, uint32_t(entries.size())), put16(zip, uint32_t(entries.size()));
    put32(zip, uint32_t(directory.size())), put32(zip, directoryOffset), put16(zip, 0);
    return zip;
}
