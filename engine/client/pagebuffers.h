#pragma once

#include "uniquefd.h"
#include "wireformat.h"

#include <QImage>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <sys/types.h>

// The pictures of one engine's cuts, as this side maps them. A picture in one of the
// engine's page buffers (engineprotocol::kPageBuffers) is mapped once and the mapping
// kept while the engine may send that buffer again, so a page costs no new mapping;
// when the last picture in a buffer goes, the buffer is given back, and the next cut
// tells the engine. Pictures keep what they lie in mapped, even after the engine and
// its channel are gone.
class PageBuffers : public std::enable_shared_from_this<PageBuffers>
{
public:
    PageBuffers() = default;
    ~PageBuffers();
    PageBuffers(const PageBuffers &) = delete;
    PageBuffers &operator=(const PageBuffers &) = delete;

    // A picture of `width` x `height` premultiplied BGRA pixels in the shared memory
    // `memory`, which lies in page buffer `number` (-1: memory of the picture's own,
    // mapped for it alone). Opaque pixels make an RGB32 picture, byte for byte the same.
    // Null when the memory does not hold such a picture, or when the engine sends a
    // buffer in which a picture of this side still lies.
    QImage picture(const UniqueFd &memory, int number, int width, int height, bool opaque);
    // The buffers given back since the last call, bit n for buffer n.
    uint32_t takeGivenBack() { return m_givenBack.exchange(0); }

private:
    struct Mapping
    {
        dev_t device = 0;
        ino_t inode = 0;
        void *address = nullptr;
        size_t size = 0;
        bool held = false; // a picture lies in it
    };
    void giveBack(int number);

    std::mutex m_mutex;
    std::array<Mapping, engineprotocol::kPageBuffers> m_mappings;
    std::atomic<uint32_t> m_givenBack{0};
};
