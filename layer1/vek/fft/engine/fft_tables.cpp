// Sine, twiddle and bit-reversal tables of the float FFT. Every twiddle is folded from one quarter-wave sine
// table, which alone evaluates sines (in extended precision, rounded once to float).
#include <cmath>
#include <cstring>

#include "layer1/vek/core/vek_memory.h"
#include "layer1/vek/fft/engine/fft_engine.h"

namespace {

constexpr long double kTwoPi = 6.283185307179586;  // the double constant, widened exactly

// Block of `count` floats from the 8-byte allocator, or null when the size does not fit in 32 bits.
float* alloc_floats(std::int64_t count)
{
    const std::int64_t bytes = count * 4;
    if (count <= 0 || bytes > INT32_MAX) {
        return nullptr;
    }
    return static_cast<float*>(vek_alloc_8(static_cast<std::int32_t>(bytes)));
}

float* sin_table(std::uint32_t order)
{
    const std::int64_t n = std::int64_t{1} << order;
    const std::int64_t q = n / 4;
    const std::int64_t e = n / 8;
    float* t = alloc_floats(q + 1);
    if (t == nullptr) {
        return nullptr;
    }
    const long double x = kTwoPi / static_cast<long double>(n);
    for (std::int64_t i = 0; i <= e; ++i) {
        t[i] = static_cast<float>(sinl(static_cast<long double>(i) * x));
    }
    for (std::int64_t i = e + 1; i <= q; ++i) {
        t[i] = static_cast<float>(cosl(static_cast<long double>(q - i) * x));
    }
    return t;
}

// Reversal of the low `bits` bits of v.
std::uint32_t reverse_bits(std::uint32_t v, int bits)
{
    std::uint32_t r = 0;
    for (int b = 0; b < bits; ++b) {
        r = (r << 1) | ((v >> b) & 1u);
    }
    return r;
}

std::int32_t* bitrev_pairs(std::int32_t order, void* (*alloc)(std::int32_t))
{
    const std::int32_t m = order >= 2 ? (1 << (order - 2)) : 0;
    auto* t = static_cast<std::int32_t*>(alloc(m + 1));
    if (t == nullptr) {
        return nullptr;
    }
    if (order < 2) {
        t[0] = 0;
        return t;
    }
    std::int32_t front = 0;
    std::int32_t back = m - 1;
    std::int32_t r = 0;
    for (std::int32_t k = 1; k < m; ++k) {
        std::int32_t e = m / 2;
        while (e <= r && e > 0) {
            r -= e;
            e /= 2;
        }
        r += e;
        if (k < r) {
            t[front++] = 4 * k;
            t[front++] = 4 * r;
        } else if (k == r) {
            t[back--] = 4 * k;
        }
    }
    t[front] = 0;
    t[m] = 0;
    return t;
}

std::int32_t* bitrev_index(std::int32_t order, void* (*alloc)(std::int32_t))
{
    const std::int32_t m = order >= 2 ? (1 << (order - 2)) : 0;
    auto* t = static_cast<std::int32_t*>(alloc(m + 1));
    if (t == nullptr) {
        return nullptr;
    }
    t[0] = 0;
    for (std::int32_t k = 1; k < m; ++k) {
        t[k] = static_cast<std::int32_t>(2 * reverse_bits(static_cast<std::uint32_t>(k), order - 2));
    }
    t[m] = 0;
    return t;
}

float* stage_block_table(std::int32_t order, const float* sine, std::uint32_t sineOrder)
{
    const std::int64_t n = std::int64_t{1} << order;
    if (n <= 8) {
        return static_cast<float*>(vek_alloc_8(8));
    }
    float* t = alloc_floats(2 * n);
    if (t == nullptr) {
        return nullptr;
    }
    float* block = t;
    for (std::int32_t i = 4 + (order & 1); i <= order; i += 2) {
        const std::int64_t c = std::int64_t{1} << i;
        for (std::int64_t j = 0; j < c / 4; ++j) {
            float* g = block + (j / 4) * 24;
            const std::int64_t lane = j % 4;
            for (int m = 1; m <= 3; ++m) {
                vek_k_fft_fold_twiddle(sine, sineOrder, i, m * j, &g[8 * (m - 1) + lane], &g[8 * (m - 1) + 4 + lane]);
            }
        }
        block += 3 * c / 2;
    }
    return t;
}

}  // namespace

void vek_k_fft_fold_twiddle(const float* sine, std::uint32_t sineOrder, std::int32_t sizeOrder, std::int64_t e,
                            float* re, float* im)
{
    const std::int64_t s = std::int64_t{1} << sizeOrder;
    const std::int64_t q = s / 4;
    const std::int64_t stride = std::int64_t{1} << (sineOrder - static_cast<std::uint32_t>(sizeOrder));
    auto t = [&](std::int64_t k) { return sine[k * stride]; };
    if (e <= q) {
        *re = t(q - e);
        *im = -t(e);
    } else if (e <= s / 2) {
        *re = -t(e - q);
        *im = -t(s / 2 - e);
    } else if (e <= 3 * q) {
        *re = -t(3 * q - e);
        *im = t(e - s / 2);
    } else {
        *re = t(e - 3 * q);
        *im = t(s - e);
    }
}

float* vek_k_fft_sin_table_gen(std::uint32_t order) { return sin_table(order); }
float* vek_k_fft_sin_table_mm(std::uint32_t order) { return sin_table(order); }
float* vek_k_fft_sin_table_ss(std::uint32_t order) { return sin_table(order); }
float* vek_k_fft_sin_table_wd(std::uint32_t order) { return sin_table(order); }

float* vek_k_fft_twiddle_table(std::int32_t order, const float* sine, std::uint32_t sineOrder)
{
    const std::int64_t n = std::int64_t{1} << order;
    const std::int64_t q = n / 4;
    float* t = alloc_floats((q + 1) * 6);
    if (t == nullptr) {
        return nullptr;
    }
    for (std::int64_t j = 0; j <= q; ++j) {
        for (int m = 1; m <= 3; ++m) {
            vek_k_fft_fold_twiddle(sine, sineOrder, order, m * j, &t[6 * j + 2 * (m - 1)],
                                   &t[6 * j + 2 * (m - 1) + 1]);
        }
    }
    return t;
}

float* vek_k_fft_twiddle_table_ss(std::int32_t order, const float* sine, std::uint32_t sineOrder)
{
    return stage_block_table(order, sine, sineOrder);
}

float* vek_k_fft_twiddle_table_wd(std::int32_t order, const float* sine, std::uint32_t sineOrder)
{
    return stage_block_table(order, sine, sineOrder);
}

std::int32_t vek_k_fft_stage_block_offset(std::int32_t order, std::int32_t stageOrder)
{
    std::int32_t offset = 0;
    for (std::int32_t i = 4 + (order & 1); i < stageOrder; i += 2) {
        offset += 3 * (1 << i) / 2;
    }
    return offset;
}

std::int32_t* vek_k_fft_bitrev_pairs_wd(std::int32_t order) { return bitrev_pairs(order, vek_alloc_32_wd); }
std::int32_t* vek_k_fft_bitrev_pairs(std::int32_t order) { return bitrev_pairs(order, vek_alloc_32_gen); }
std::int32_t* vek_fft_bitrev_table(std::int32_t order) { return bitrev_pairs(order, vek_alloc_32_gen); }
std::int32_t* vek_bitrev_index(std::int32_t order) { return bitrev_index(order, vek_alloc_32_wd); }
std::int32_t* vek_k_fft_bitrev_index_ss(std::int32_t order) { return bitrev_index(order, vek_alloc_32_gen); }
