// Generic copy, zero and fill kernels: plain integer code. Bytes until the destination is 4-byte aligned,
// then 32-byte rounds of 32-bit words, then the tail byte by byte.
#include <cstring>

#include "layer1/vek/core/vek_copy.h"

namespace {

inline std::size_t head_to_align(const void* p, std::size_t align, std::size_t bytes)
{
    const std::size_t mis = reinterpret_cast<std::uintptr_t>(p) & (align - 1);
    const std::size_t head = mis == 0 ? 0 : align - mis;
    return head < bytes ? head : bytes;
}

// Stores a 32-bit pattern into 32-byte rounds of an aligned destination; returns the bytes written.
inline std::size_t store_words(unsigned char* d, std::uint32_t word, std::size_t bytes)
{
    std::size_t done = 0;
    for (; done + 32 <= bytes; done += 32) {
        std::uint32_t* w = reinterpret_cast<std::uint32_t*>(d + done);
        w[0] = word;
        w[1] = word;
        w[2] = word;
        w[3] = word;
        w[4] = word;
        w[5] = word;
        w[6] = word;
        w[7] = word;
    }
    return done;
}

void fill_bytes(std::uint8_t value, void* dst, std::size_t bytes)
{
    unsigned char* d = static_cast<unsigned char*>(dst);
    const std::size_t head = head_to_align(d, 4, bytes);
    for (std::size_t i = 0; i < head; ++i) {
        d[i] = value;
    }
    d += head;
    bytes -= head;
    const std::size_t body = store_words(d, 0x01010101u * value, bytes);
    for (std::size_t i = body; i < bytes; ++i) {
        d[i] = value;
    }
}

} // namespace

void vek_k_copy_gen(const void* src, void* dst, std::size_t bytes)
{
    const unsigned char* s = static_cast<const unsigned char*>(src);
    unsigned char* d = static_cast<unsigned char*>(dst);
    const std::size_t head = head_to_align(d, 4, bytes);
    for (std::size_t i = 0; i < head; ++i) {
        d[i] = s[i];
    }
    s += head;
    d += head;
    bytes -= head;
    std::size_t done = 0;
    for (; done + 32 <= bytes; done += 32) {
        // The source may be misaligned: words are read through memcpy.
        std::uint32_t w[8];
        std::memcpy(w, s + done, sizeof w);
        std::uint32_t* out = reinterpret_cast<std::uint32_t*>(d + done);
        for (int k = 0; k < 8; ++k) {
            out[k] = w[k];
        }
    }
    for (; done < bytes; ++done) {
        d[done] = s[done];
    }
}

void vek_k_zero_gen(void* dst, std::size_t bytes)
{
    fill_bytes(0, dst, bytes);
}

void vek_k_fill8_gen(std::uint8_t value, void* dst, std::size_t bytes)
{
    fill_bytes(value, dst, bytes);
}

void vek_k_fill32_gen(std::int32_t value, std::int32_t* dst, std::size_t count)
{
    // 8 words a round; a destination that is not 4-byte aligned is written through memcpy.
    unsigned char* d = reinterpret_cast<unsigned char*>(dst);
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        for (int k = 0; k < 8; ++k) {
            std::memcpy(d + (i + k) * 4, &value, 4);
        }
    }
    for (; i < count; ++i) {
        std::memcpy(d + i * 4, &value, 4);
    }
}
