// MMX copy, zero and fill kernels: 8-byte moves in 64-byte rounds after an alignment head. Each kernel ends
// by clearing the MMX state, so floating-point code may follow.
#include "layer1/vek/core/vek_copy.h"
#include "layer1/vek/core/vek_copy_mm.h"
#include "layer1/vek/core/vek_copy_ops.h"

using namespace vekcopy;

namespace vekcopy {

// Tail of a copy: by 16, 8 and 4 bytes, then single bytes.
void mm_copy_tail(const Byte* s, Byte* d, std::size_t n)
{
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        move16(s + i, d + i);
    }
    if (i + 8 <= n) {
        move8(s + i, d + i);
        i += 8;
    }
    if (i + 4 <= n) {
        move4(s + i, d + i);
        i += 4;
    }
    for (; i < n; ++i) {
        move1(s + i, d + i);
    }
}

// 64-byte rounds of 8-byte moves; returns the bytes done.
std::size_t mm_copy_rounds(const Byte* s, Byte* d, std::size_t n)
{
    std::size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        const __m64 a0 = load8(s + i);
        const __m64 a1 = load8(s + i + 8);
        const __m64 a2 = load8(s + i + 16);
        const __m64 a3 = load8(s + i + 24);
        const __m64 a4 = load8(s + i + 32);
        const __m64 a5 = load8(s + i + 40);
        const __m64 a6 = load8(s + i + 48);
        const __m64 a7 = load8(s + i + 56);
        store8(d + i, a0);
        store8(d + i + 8, a1);
        store8(d + i + 16, a2);
        store8(d + i + 24, a3);
        store8(d + i + 32, a4);
        store8(d + i + 40, a5);
        store8(d + i + 48, a6);
        store8(d + i + 56, a7);
    }
    return i;
}

// 64-byte rounds of 8-byte stores of a pattern into an 8-byte aligned destination, plain or non-temporal.
std::size_t mm_fill_rounds(Byte* d, std::uint64_t pattern, std::size_t n, bool nonTemporal)
{
    const __m64 v = _mm_cvtsi64_m64(static_cast<long long>(pattern));
    std::size_t i = 0;
    if (nonTemporal) {
        for (; i + 64 <= n; i += 64) {
            __m64* p = reinterpret_cast<__m64*>(d + i);
            for (int k = 0; k < 8; ++k) {
                _mm_stream_pi(p + k, v);
            }
        }
    } else {
        for (; i + 64 <= n; i += 64) {
            for (int k = 0; k < 8; ++k) {
                store8(d + i + 8 * k, v);
            }
        }
    }
    return i;
}

// Pattern fill: one unaligned 8-byte store, then 8-byte aligned 64-byte rounds, tail by 32, 16, 8 and single
// bytes. The pattern is relative to the start of the destination; every store lands at a multiple of 4
// (a multiple of 8 for byte patterns) from the start, as the pattern repeats every 4 bytes.
void mm_fill(Byte* d, std::uint64_t pattern, std::size_t n, bool nonTemporal)
{
    std::size_t i = 0;
    if (n >= 64) {
        put8(d, pattern);
        std::size_t step = step_to_align(d, 8);
        // The pattern repeats every 4 bytes; keep the store offsets on that period.
        if ((step & 3) != 0) {
            const std::size_t skip = step & 3;
            pattern = (pattern >> (8 * skip)) | (pattern << (8 * (8 - skip)));
        }
        i = step;
        i += mm_fill_rounds(d + i, pattern, n - i, nonTemporal);
        if (nonTemporal) {
            _mm_sfence();
        }
    }
    // Tail, on the pattern's phase at offset i.
    for (; i + 32 <= n; i += 32) {
        put8(d + i, pattern);
        put8(d + i + 8, pattern);
        put8(d + i + 16, pattern);
        put8(d + i + 24, pattern);
    }
    for (; i + 16 <= n; i += 16) {
        put8(d + i, pattern);
        put8(d + i + 8, pattern);
    }
    for (; i + 8 <= n; i += 8) {
        put8(d + i, pattern);
    }
    for (std::size_t k = 0; i < n; ++i, ++k) {
        d[i] = static_cast<Byte>(pattern >> (8 * (k & 7)));
    }
}

} // namespace vekcopy

void vek_k_copy_mm(const void* src, void* dst, std::size_t bytes)
{
    const Byte* s = static_cast<const Byte*>(src);
    Byte* d = static_cast<Byte*>(dst);
    std::size_t n = bytes;
    if (n >= 64) {
        move8(s, d);
        std::size_t step = step_to_align(d, 8);
        s += step;
        d += step;
        n -= step;
        if (misalign(s, 4) != 0) {
            move8(s, d);
            step = step_to_align(s, 8);
            s += step;
            d += step;
            n -= step;
        }
        const std::size_t done = mm_copy_rounds(s, d, n);
        s += done;
        d += done;
        n -= done;
    }
    mm_copy_tail(s, d, n);
    _mm_empty();
}

void vek_k_zero_mm(void* dst, std::size_t bytes)
{
    mm_fill(static_cast<Byte*>(dst), 0, bytes, false);
    _mm_empty();
}

void vek_k_fill8_mm(std::uint8_t value, void* dst, std::size_t bytes)
{
    mm_fill(static_cast<Byte*>(dst), 0x0101010101010101ull * value, bytes, false);
    _mm_empty();
}

void vek_k_fill32_mm(std::int32_t value, std::int32_t* dst, std::size_t count)
{
    const std::uint64_t word = static_cast<std::uint32_t>(value);
    mm_fill(reinterpret_cast<Byte*>(dst), word | (word << 32), count * 4, false);
    _mm_empty();
}
