#include "pixelbuffer.h"

#include <sys/mman.h>
#include <unistd.h>
#include <utility>

PixelBuffer::PixelBuffer(size_t size) : m_size(size)
{
    if (size == 0)
        return;
    const int fd = ::memfd_create("pagelift-page", MFD_CLOEXEC);
    if (fd >= 0 && ::ftruncate(fd, off_t(size)) == 0) {
        void *address = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (address != MAP_FAILED) {
            m_fd = fd;
            m_data = static_cast<uint8_t *>(address);
            return;
        }
    }
    if (fd >= 0)
        ::close(fd);
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
        m_fd = std::exchange(other.m_fd, -1);
        m_size = std::exchange(other.m_size, 0);
        m_heap = std::move(other.m_heap);
        m_data = m_fd >= 0 ? other.m_data : m_heap.data();
        other.m_data = nullptr;
        other.m_heap.clear();
    }
    return *this;
}

void PixelBuffer::release()
{
    if (m_fd >= 0) {
        ::munmap(m_data, m_size);
        ::close(m_fd);
    }
    m_fd = -1;
    m_data = nullptr;
    m_size = 0;
    m_heap.clear();
}
