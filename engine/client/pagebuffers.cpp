#include "pagebuffers.h"

#include <sys/mman.h>
#include <sys/stat.h>

namespace {

// Read only: a picture is never drawn on (a writer gets a copy of its own). Mapped in
// one go rather than a fault for every 4 KiB on the first read.
void *mapPixels(int fd, size_t size)
{
    void *address = ::mmap(nullptr, size, PROT_READ, MAP_SHARED | MAP_POPULATE, fd, 0);
    return address == MAP_FAILED ? nullptr : address;
}

QImage over(void *address, int width, int height, bool opaque, QImageCleanupFunction cleanup,
            void *info)
{
    return QImage(static_cast<const uchar *>(address), width, height, qsizetype(width) * 4,
                  opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied, cleanup,
                  info);
}

} // namespace

PageBuffers::~PageBuffers()
{
    for (const Mapping &mapping : m_mappings) {
        if (mapping.address)
            ::munmap(mapping.address, mapping.size);
    }
}

QImage PageBuffers::picture(const UniqueFd &memory, int number, int width, int height, bool opaque)
{
    const size_t size = size_t(width) * size_t(height) * 4;
    struct stat info;
    if (::fstat(memory.get(), &info) != 0 || size_t(info.st_size) != size ||
        number < -1 || number >= engineprotocol::kPageBuffers)
        return {};

    if (number < 0) {
        struct Own
        {
            void *address;
            size_t size;
        };
        void *address = mapPixels(memory.get(), size);
        if (!address)
            return {};
        return over(
            address, width, height, opaque,
            [](void *own) {
                auto *o = static_cast<Own *>(own);
                ::munmap(o->address, o->size);
                delete o;
            },
            new Own{address, size});
    }

    std::lock_guard lock(m_mutex);
    Mapping &mapping = m_mappings[size_t(number)];
    if (mapping.held)
        return {};
    const bool same = mapping.address && mapping.device == info.st_dev &&
                      mapping.inode == info.st_ino && mapping.size == size;
    if (!same) {
        // The engine made the buffer anew (for pages of another size): it no longer
        // draws into the old one, in which no picture of ours lies.
        if (mapping.address)
            ::munmap(mapping.address, mapping.size);
        mapping = Mapping{info.st_dev, info.st_ino, mapPixels(memory.get(), size), size};
        if (!mapping.address)
            return {};
    }
    mapping.held = true;
    struct Lent
    {
        std::shared_ptr<PageBuffers> buffers;
        int number;
    };
    return over(
        mapping.address, width, height, opaque,
        [](void *lent) {
            auto *l = static_cast<Lent *>(lent);
            l->buffers->giveBack(l->number);
            delete l;
        },
        new Lent{shared_from_this(), number});
}

void PageBuffers::giveBack(int number)
{
    std::lock_guard lock(m_mutex);
    m_mappings[size_t(number)].held = false;
    m_givenBack.fetch_or(1u << number);
}
