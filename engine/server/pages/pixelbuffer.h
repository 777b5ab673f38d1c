#pragma once

#include "uniquefd.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// The pixels of a cut. They live in a shared memory file when the system offers one,
// so that the client maps the page instead of reading it through the socket; else
// in ordinary memory, sent after the reply. A new buffer is zeroed.
class PixelBuffer
{
public:
    PixelBuffer() = default;
    explicit PixelBuffer(size_t size);
    ~PixelBuffer();
    PixelBuffer(PixelBuffer &&other) noexcept;
    PixelBuffer &operator=(PixelBuffer &&other) noexcept;
    PixelBuffer(const PixelBuffer &) = delete;
    PixelBuffer &operator=(const PixelBuffer &) = delete;

    uint8_t *data() { return m_data; }
    const uint8_t *data() const { return m_data; }
    size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    // The shared memory file, or -1 when the pixels are in ordinary memory.
    int descriptor() const { return m_fd.get(); }

private:
    void release();

    UniqueFd m_fd;
    uint8_t *m_data = nullptr;
    size_t m_size = 0;
    std::vector<uint8_t> m_heap;
};

// A picture's memory: one of the engine's page buffers, or (number -1) its own.
struct Picture
{
    std::shared_ptr<PixelBuffer> pixels;
    int number = -1;
    bool opaque = false; // known to be: every pixel's alpha is full
};
