// SSE2 copy, zero and fill kernels: 16-byte moves in 64-byte rounds after an alignment head, non-temporal
// stores with a store fence above the size thresholds.
#include <emmintrin.h>

#include "layer1/vek/core/vek_copy.h"
#include "layer1/vek/core/vek_copy_ops.h"

using namespace vekcopy;

namespace {

inline __m128i load16u(const Byte* s) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(s)); }
inline __m128i load16a(const Byte* s) { return _mm_load_si128(reinterpret_cast<const __m128i*>(s)); }
inline void store16u(Byte* d, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(d), v); }
inline void store16a(Byte* d, __m128i v) { _mm_store_si128(reinterpret_cast<__m128i*>(d), v); }
inline void stream16(Byte* d, __m128i v) { _mm_stream_si128(reinterpret_cast<__m128i*>(d), v); }

// 64-byte rounds into a 16-byte aligned destination.
template <bool AlignedSource, bool NonTemporal>
std::size_t wd_copy_rounds(const Byte* s, Byte* d, std::size_t n)
{
    std::size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        const __m128i a0 = AlignedSource ? load16a(s + i) : load16u(s + i);
        const __m128i a1 = AlignedSource ? load16a(s + i + 16) : load16u(s + i + 16);
        const __m128i a2 = AlignedSource ? load16a(s + i + 32) : load16u(s + i + 32);
        const __m128i a3 = AlignedSource ? load16a(s + i + 48) : load16u(s + i + 48);
        if (NonTemporal) {
            stream16(d + i, a0);
            stream16(d + i + 16, a1);
            stream16(d + i + 32, a2);
            stream16(d + i + 48, a3);
        } else {
            store16a(d + i, a0);
            store16a(d + i + 16, a1);
            store16a(d + i + 32, a2);
            store16a(d + i + 48, a3);
        }
    }
    return i;
}

// Fill with a 16-byte pattern relative to d (its bytes repeat every 4): from 16 bytes one unaligned store,
// 16-byte aligned 64-byte rounds (non-temporal above the threshold), then a tail by 16 bytes and less.
void wd_fill(Byte* d, std::uint32_t word, std::size_t n, std::size_t ntAbove)
{
    std::size_t i = 0;
    __m128i v = _mm_set1_epi32(static_cast<int>(word));
    if (n >= 16) {
        store16u(d, v);
        i = step_to_align(d, 16);
        const std::size_t skip = i & 3;
        if (skip != 0) {
            word = (word >> (8 * skip)) | (word << (8 * (4 - skip)));
            v = _mm_set1_epi32(static_cast<int>(word));
        }
        const bool nonTemporal = n - i > ntAbove;
        std::size_t r = i;
        if (nonTemporal) {
            for (; r + 64 <= n; r += 64) {
                stream16(d + r, v);
                stream16(d + r + 16, v);
                stream16(d + r + 32, v);
                stream16(d + r + 48, v);
            }
            _mm_sfence();
        } else {
            for (; r + 64 <= n; r += 64) {
                store16a(d + r, v);
                store16a(d + r + 16, v);
                store16a(d + r + 32, v);
                store16a(d + r + 48, v);
            }
        }
        i = r;
    }
    for (; i + 16 <= n; i += 16) {
        store16u(d + i, v);
    }
    const std::uint64_t pattern = word | (static_cast<std::uint64_t>(word) << 32);
    if (i + 8 <= n) {
        put8(d + i, pattern);
        i += 8;
    }
    if (i + 4 <= n) {
        put4(d + i, pattern);
        i += 4;
    }
    for (std::size_t k = 0; i < n; ++i, ++k) {
        d[i] = static_cast<Byte>(word >> (8 * (k & 3)));
    }
}

} // namespace

void vek_k_copy_wd(const void* src, void* dst, std::size_t bytes)
{
    const Byte* s = static_cast<const Byte*>(src);
    Byte* d = static_cast<Byte*>(dst);
    std::size_t n = bytes;
    if (n >= 64) {
        store16u(d, load16u(s));
        const std::size_t step = step_to_align(d, 16);
        s += step;
        d += step;
        n -= step;
        const bool aligned = misalign(s, 16) == 0;
        std::size_t done = 0;
        if (n > VEK_WD_COPY_NT_ABOVE) {
            done = aligned ? wd_copy_rounds<true, true>(s, d, n) : wd_copy_rounds<false, true>(s, d, n);
            _mm_sfence();
        } else {
            done = aligned ? wd_copy_rounds<true, false>(s, d, n) : wd_copy_rounds<false, false>(s, d, n);
        }
        s += done;
        d += done;
        n -= done;
    }
    // Tail by 8 and 4 bytes, then single bytes.
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t v;
        std::memcpy(&v, s + i, 8);
        std::memcpy(d + i, &v, 8);
    }
    if (i + 4 <= n) {
        move4(s + i, d + i);
        i += 4;
    }
    for (; i < n; ++i) {
        d[i] = s[i];
    }
}

void vek_k_zero_wd(void* dst, std::size_t bytes)
{
    wd_fill(static_cast<Byte*>(dst), 0, bytes, VEK_WD_ZERO_NT_ABOVE);
}

void vek_k_fill8_wd(std::uint8_t value, void* dst, std::size_t bytes)
{
    wd_fill(static_cast<Byte*>(dst), 0x01010101u * value, bytes, VEK_WD_ZERO_NT_ABOVE);
}

void vek_k_fill32_wd(std::int32_t value, std::int32_t* dst, std::size_t count)
{
    // A destination that is not 4-byte aligned takes a plain loop.
    if (misalign(dst, 4) != 0) {
        Byte* d = reinterpret_cast<Byte*>(dst);
        for (std::size_t i = 0; i < count; ++i) {
            std::memcpy(d + 4 * i, &value, 4);
        }
        return;
    }
    wd_fill(reinterpret_cast<Byte*>(dst), static_cast<std::uint32_t>(value), count * 4, VEK_WD_ZERO_NT_ABOVE);
}
