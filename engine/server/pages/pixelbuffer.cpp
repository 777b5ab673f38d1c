#include "pixelbuffer.h"

#include <sys/mman.h>
#include <unistd.h>
#include <utility>

PixelBuffer::PixelBuffer(size_t size) : m_size(size)
{
    if (size == 0)
        return;
    UniqueFd fd(::memfd_create("pagelift-page", MFD_CLOEXEC));
    if (fd && ::ftruncate(fd.get(), off_t(size)) == 0) {
        // Every byte is written at once; the whole buffer is made ready in one call
        // rather than page by page as the drawing first touches it.
        void *address =
            ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd.get(), 0);
        if (address != MAP_FAILED) {
            m_fd = std::move(fd);
            m_data = static_cast<uint8_t *>(address);
            return;
        }
    }
    m_heap.assign(size, 0);
    m_data = m_heap.data();
}

PixelBuffer::~PixelBuffer()
{
    release();
}

PixelBuffer::PixelBuffer(PixelBuffer &&other) noexcept
{
    *this = std::move(other);
}

PixelBuffer &PixelBuffer::operator=(PixelBuffer &&other) noexcept
{
    if (this != &other) {
        release();
        m_fd = std::move(other.m_fd);
        m_size = std::exchange(other.m_size, 0);
        m_heap = std::move(other.m_heap);
        m_data = m_fd ? other.m_data : m_heap.data();
        other.m_data = nullptr;
        other.m_heap.clear();
    }
    return *this;
}

void PixelBuffer::release()
{
    if (m_fd)
        ::munmap(m_data, m_size);
    m_fd.reset();
    m_data = nullptr;
    m_size = 0;
    m_heap.clear();
}
