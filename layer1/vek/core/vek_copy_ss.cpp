// SSE-tier copy, zero and fill kernels: MMX integer code with the SSE extensions (16-byte moves, non-temporal
// 8-byte stores, prefetch, store fence). Each kernel ends by clearing the MMX state.
#include "layer1/vek/core/vek_copy.h"
#include "layer1/vek/core/vek_copy_mm.h"
#include "layer1/vek/core/vek_copy_ops.h"

using namespace vekcopy;

namespace {

constexpr std::size_t kPage = 4096;

// Below 8192 bytes: like mm, but the head aligns the destination to 16 bytes with one unaligned 16-byte
// move, and a source that is then 16-byte aligned too is copied with aligned 16-byte moves.
void ss_copy_small(const Byte* s, Byte* d, std::size_t n)
{
    if (n >= 64) {
        _mm_storeu_ps(reinterpret_cast<float*>(d), _mm_loadu_ps(reinterpret_cast<const float*>(s)));
        const std::size_t step = step_to_align(d, 16);
        s += step;
        d += step;
        n -= step;
        std::size_t done = 0;
        if (misalign(s, 16) == 0) {
            for (; done + 64 <= n; done += 64) {
                const float* sf = reinterpret_cast<const float*>(s + done);
                float* df = reinterpret_cast<float*>(d + done);
                const __m128 a0 = _mm_load_ps(sf);
                const __m128 a1 = _mm_load_ps(sf + 4);
                const __m128 a2 = _mm_load_ps(sf + 8);
                const __m128 a3 = _mm_load_ps(sf + 12);
                _mm_store_ps(df, a0);
                _mm_store_ps(df + 4, a1);
                _mm_store_ps(df + 8, a2);
                _mm_store_ps(df + 12, a3);
            }
        } else {
            done = mm_copy_rounds(s, d, n);
        }
        s += done;
        d += done;
        n -= done;
    }
    mm_copy_tail(s, d, n);
}

// The bulk kernel: bytes up to an 8-byte aligned destination, 64-byte rounds of non-temporal 8-byte stores,
// the tail, and a store fence.
void ss_copy_bulk(const Byte* s, Byte* d, std::size_t n)
{
    const std::size_t head = head_to_align(d, 8) < n ? head_to_align(d, 8) : n;
    for (std::size_t i = 0; i < head; ++i) {
        d[i] = s[i];
    }
    s += head;
    d += head;
    n -= head;
    std::size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        __m64* p = reinterpret_cast<__m64*>(d + i);
        for (int k = 0; k < 8; ++k) {
            _mm_stream_pi(p + k, load8(s + i + 8 * k));
        }
    }
    mm_copy_tail(s + i, d + i, n - i);
    _mm_sfence();
}

// Reads one 4096-byte block of the source ahead of its copy: its first and last byte, then a non-temporal
// prefetch every 32 bytes.
void ss_preread_page(const Byte* s)
{
    const volatile Byte* v = s;
    (void)v[0];
    (void)v[kPage - 1];
    for (std::size_t i = 0; i < kPage; i += 32) {
        _mm_prefetch(reinterpret_cast<const char*>(s + i), _MM_HINT_NTA);
    }
}

void ss_copy_large(const Byte* s, Byte* d, std::size_t n)
{
    const std::size_t head = head_to_align(d, 8);
    for (std::size_t i = 0; i < head; ++i) {
        d[i] = s[i];
    }
    s += head;
    d += head;
    n -= head;
    if (n <= VEK_SS_COPY_PAGED_REST) {
        ss_copy_bulk(s, d, n);
        return;
    }
    const std::size_t toPage = head_to_align(s, kPage);
    if (toPage != 0) {
        ss_copy_bulk(s, d, toPage);
        s += toPage;
        d += toPage;
        n -= toPage;
    }
    while (n >= kPage) {
        ss_preread_page(s);
        ss_copy_bulk(s, d, kPage);
        s += kPage;
        d += kPage;
        n -= kPage;
    }
    if (n != 0) {
        ss_copy_bulk(s, d, n);
    }
}

} // namespace

void vek_k_copy_ss(const void* src, void* dst, std::size_t bytes)
{
    const Byte* s = static_cast<const Byte*>(src);
    Byte* d = static_cast<Byte*>(dst);
    if (bytes < VEK_SS_COPY_BULK_MIN) {
        ss_copy_small(s, d, bytes);
    } else if (bytes < VEK_SS_COPY_PAGED_MIN) {
        ss_copy_bulk(s, d, bytes);
    } else {
        ss_copy_large(s, d, bytes);
    }
    _mm_empty();
}

void vek_k_zero_ss(void* dst, std::size_t bytes)
{
    mm_fill(static_cast<Byte*>(dst), 0, bytes, bytes >= VEK_SS_ZERO_NT_MIN);
    _mm_empty();
}

void vek_k_fill8_ss(std::uint8_t value, void* dst, std::size_t bytes)
{
    mm_fill(static_cast<Byte*>(dst), 0x0101010101010101ull * value, bytes, bytes >= VEK_SS_ZERO_NT_MIN);
    _mm_empty();
}

void vek_k_fill32_ss(std::int32_t value, std::int32_t* dst, std::size_t count)
{
    const std::uint64_t word = static_cast<std::uint32_t>(value);
    mm_fill(reinterpret_cast<Byte*>(dst), word | (word << 32), count * 4, count >= VEK_SS_FILL32_NT_MIN);
    _mm_empty();
}
