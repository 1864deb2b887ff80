// Large orders. A level of order n with factor F runs 2^F sub-block transforms of order M = n - F on
// consecutive blocks (leaves, nested levels, or the block scheme), then 2^M column transforms of order F on
// four columns at a time gathered into the work buffer with the level twiddles. The block scheme (orders 11
// and 12 outside wd) runs 1024-point leaves joined by radix-2 passes. Leaves apply the scale factor once.
#pragma once

#include <xmmintrin.h>

#include <cstdint>

#include "layer1/vek/core/vek_memory.h"
#include "layer1/vek/fft/engine/fft_column.h"
#include "layer1/vek/fft/engine/fft_radix_sse.h"

namespace vekfft {

inline float* alloc_float_block(std::int64_t count)
{
    const std::int64_t bytes = count * 4;
    if (count <= 0 || bytes > INT32_MAX) {
        return nullptr;
    }
    return static_cast<float*>(vek_alloc_8(static_cast<std::int32_t>(bytes)));
}

// Twiddles of the block scheme of order n: N/4 pairs (cos, -sin) of 2*pi*i/N.
inline float* block_twiddles(std::int32_t order, const float* sine, std::uint32_t sineOrder)
{
    const std::int64_t n = std::int64_t{1} << order;
    float* t = alloc_float_block(n / 2);
    if (t == nullptr) {
        return nullptr;
    }
    for (std::int64_t i = 0; i < n / 4; ++i) {
        vek_k_fft_fold_twiddle(sine, sineOrder, order, i, &t[2 * i], &t[2 * i + 1]);
    }
    return t;
}

// Level twiddles of a level of order n, factor F: column groups of four, rows in bit-reversed row order;
// a row holds four cos then four -sin (vector columns) or four (cos, -sin) pairs.
template <class Tr>
float* level_twiddles(std::int32_t n, std::int32_t f, const float* sine, std::uint32_t sineOrder)
{
    const std::int64_t rows = std::int64_t{1} << f;
    const std::int64_t cols = std::int64_t{1} << (n - f);
    float* t = alloc_float_block(2 * rows * cols);
    if (t == nullptr) {
        return nullptr;
    }
    for (std::int64_t k0 = 0; k0 < cols; k0 += 4) {
        float* group = t + k0 / 4 * rows * 8;
        for (std::int64_t j = 0; j < rows; ++j) {
            std::int64_t rj = 0;
            for (std::int32_t b = 0; b < f; ++b) {
                rj = (rj << 1) | ((j >> b) & 1);
            }
            for (int c = 0; c < 4; ++c) {
                float* re = Tr::vector ? &group[8 * j + c] : &group[8 * j + 2 * c];
                float* im = Tr::vector ? &group[8 * j + 4 + c] : &group[8 * j + 2 * c + 1];
                vek_k_fft_fold_twiddle(sine, sineOrder, n, rj * (k0 + c), re, im);
            }
        }
    }
    return t;
}

template <class Tr>
VekStatus factor_tables(FftSpec32f* spec, std::int32_t n, const float* sine, std::uint32_t sineOrder,
                        std::int32_t depth)
{
    const std::int32_t f = Tr::factors[n];
    const std::int32_t m = n - f;
    if (m <= Tr::directLimit) {
        spec->twiddle = Tr::twiddles(m, sine, sineOrder);
        if (spec->twiddle == nullptr) {
            return VEK_ERR_NO_MEMORY;
        }
    } else if (Tr::factors[m] != 0) {
        const VekStatus st = factor_tables<Tr>(spec, m, sine, sineOrder, depth + 1);
        if (st != VEK_OK) {
            return st;
        }
    } else {
        spec->large1 = block_twiddles(m, sine, sineOrder);
        if (spec->large1 == nullptr) {
            return VEK_ERR_NO_MEMORY;
        }
        spec->twiddle = Tr::twiddles(10, sine, sineOrder);
        if (spec->twiddle == nullptr) {
            return VEK_ERR_NO_MEMORY;
        }
    }
    spec->levels[depth] = Tr::twiddles(f, sine, sineOrder);
    if (spec->levels[depth] == nullptr) {
        return VEK_ERR_NO_MEMORY;
    }
    spec->levels[3 + depth] = level_twiddles<Tr>(n, f, sine, sineOrder);
    if (spec->levels[3 + depth] == nullptr) {
        return VEK_ERR_NO_MEMORY;
    }
    const std::int32_t columnBytes = 32 * (1 << f);
    if (spec->workBytes < columnBytes) {
        spec->workBytes = columnBytes;
    }
    return VEK_OK;
}

template <class Tr>
VekStatus large_tables(FftSpec32f* spec, std::int32_t order, const float* sine, std::uint32_t sineOrder)
{
    if (Tr::factors[order] != 0) {
        return factor_tables<Tr>(spec, order, sine, sineOrder, 0);
    }
    spec->large1 = block_twiddles(order, sine, sineOrder);
    if (spec->large1 == nullptr) {
        return VEK_ERR_NO_MEMORY;
    }
    spec->twiddle = Tr::twiddles(10, sine, sineOrder);
    return spec->twiddle == nullptr ? VEK_ERR_NO_MEMORY : VEK_OK;
}

template <class Tr, bool Inv, class D>
void scale_block(const FftSpec32f* spec, const D& x, std::int64_t count)
{
    if ((Inv ? spec->invScale : spec->fwdScale) == 0) {
        return;
    }
    if constexpr (std::is_same_v<D, Split>) {
        Tr::scale(spec->factor, x.re, count);
        Tr::scale(spec->factor, x.im, count);
    } else {
        Tr::scale(spec->factor, x.d, 2 * count);
    }
}

template <class Tr, bool Inv, class D>
void block_scheme(const FftSpec32f* spec, const D& x, std::int32_t order, float* work)
{
    using Acc = typename Tr::Acc;
    const std::int64_t n = std::int64_t{1} << order;
    for (std::int64_t g = 0; g < n; g += 1024) {
        column_passes<Tr, Inv>(x.at(g), 10, spec->twiddle, work);
        scale_block<Tr, Inv>(spec, x.at(g), 1024);
    }
    const float* t = spec->large1;
    for (std::int64_t size = 2048; size <= n; size *= 2) {
        const std::int64_t stride = n / size;
        const std::int64_t half = size / 2;
        for (std::int64_t g = 0; g < n; g += size) {
            for (std::int64_t k = 0; k < half; ++k) {
                const std::int64_t e = (k < size / 4 ? k : k - size / 4) * stride;
                Acc c = t[2 * e];
                Acc s = t[2 * e + 1];
                if (k >= size / 4) {  // times -i
                    const Acc r = s;
                    s = -c;
                    c = r;
                }
                float ar, ai, br, bi;
                x.load(g + k, ar, ai);
                x.load(g + k + half, br, bi);
                Acc zr = br, zi = bi;
                twiddle_mul<Acc, Inv>(c, s, zr, zi);
                x.store(g + k, static_cast<float>(Acc(ar) + zr), static_cast<float>(Acc(ai) + zi));
                x.store(g + k + half, static_cast<float>(Acc(ar) - zr), static_cast<float>(Acc(ai) - zi));
            }
        }
    }
}

// The column half of a level in the vector columns on interleaved data: a row's four points of a group are
// one vector pair (lanes = columns), multiplied by the row's level twiddles (four cos, then four -sin) in one
// step and spread to the four work columns; the scatter collects a row's four points from the columns. The
// values are those of the scalar gather and scatter.
template <class Tr, bool Inv>
void level_columns_vector(const FftSpec32f* spec, float* x, std::int32_t f, std::int64_t cols, std::int32_t depth,
                          float* work, const float* lt)
{
    const std::int64_t rows = std::int64_t{1} << f;
    for (std::int64_t k0 = 0; k0 < cols; k0 += 4) {
        const float* group = lt + k0 / 4 * rows * 8;
        for (std::int64_t j = 0; j < rows; ++j) {
            const float* p = x + 2 * (j * cols + k0);
            const __m128 a = _mm_loadu_ps(p), b = _mm_loadu_ps(p + 4);
            const Quad z{_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)), _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1))};
            const Quad w = twiddle4<Inv>(z, group + 8 * j);
            const __m128 lo = _mm_unpacklo_ps(w.re, w.im), hi = _mm_unpackhi_ps(w.re, w.im);
            _mm_storel_pi(reinterpret_cast<__m64*>(work + 2 * j), lo);
            _mm_storeh_pi(reinterpret_cast<__m64*>(work + 2 * (rows + j)), lo);
            _mm_storel_pi(reinterpret_cast<__m64*>(work + 2 * (2 * rows + j)), hi);
            _mm_storeh_pi(reinterpret_cast<__m64*>(work + 2 * (3 * rows + j)), hi);
        }
        for (int c = 0; c < 4; ++c) {
            column_passes<Tr, Inv>(Interleaved{work + 2 * c * rows}, f, spec->levels[depth], nullptr);
        }
        for (std::int64_t q = 0; q < rows; ++q) {
            __m128 lo = _mm_setzero_ps(), hi = _mm_setzero_ps();
            lo = _mm_loadl_pi(lo, reinterpret_cast<const __m64*>(work + 2 * q));
            lo = _mm_loadh_pi(lo, reinterpret_cast<const __m64*>(work + 2 * (rows + q)));
            hi = _mm_loadl_pi(hi, reinterpret_cast<const __m64*>(work + 2 * (2 * rows + q)));
            hi = _mm_loadh_pi(hi, reinterpret_cast<const __m64*>(work + 2 * (3 * rows + q)));
            float* p = x + 2 * (q * cols + k0);
            _mm_storeu_ps(p, lo);
            _mm_storeu_ps(p + 4, hi);
        }
    }
}

template <class Tr, bool Inv, class D>
void level(const FftSpec32f* spec, const D& x, std::int32_t n, std::int32_t depth, float* work)
{
    using Acc = typename Tr::Acc;
    const std::int32_t f = Tr::factors[n];
    const std::int32_t m = n - f;
    const std::int64_t rows = std::int64_t{1} << f;
    const std::int64_t cols = std::int64_t{1} << m;
    for (std::int64_t j = 0; j < rows; ++j) {
        const D sub = x.at(j * cols);
        if (m <= Tr::directLimit) {
            column_passes<Tr, Inv>(sub, m, spec->twiddle, work);
            scale_block<Tr, Inv>(spec, sub, cols);
        } else if (Tr::factors[m] != 0) {
            level<Tr, Inv>(spec, sub, m, depth + 1, work);
        } else {
            block_scheme<Tr, Inv>(spec, sub, m, work);
        }
    }
    const float* lt = spec->levels[3 + depth];
    if constexpr (Tr::vector && D::kInterleaved) {
        level_columns_vector<Tr, Inv>(spec, x.d, f, cols, depth, work, lt);
        return;
    }
    for (std::int64_t k0 = 0; k0 < cols; k0 += 4) {
        const float* group = lt + k0 / 4 * rows * 8;
        for (int c = 0; c < 4; ++c) {
            for (std::int64_t j = 0; j < rows; ++j) {
                const float* row = group + 8 * j;
                const Acc wr = Tr::vector ? row[c] : row[2 * c];
                const Acc wi = Tr::vector ? row[4 + c] : row[2 * c + 1];
                float r, i;
                x.load(j * cols + k0 + c, r, i);
                Acc zr = r, zi = i;
                twiddle_mul<Acc, Inv>(wr, wi, zr, zi);
                work[2 * (c * rows + j)] = static_cast<float>(zr);
                work[2 * (c * rows + j) + 1] = static_cast<float>(zi);
            }
        }
        for (int c = 0; c < 4; ++c) {
            column_passes<Tr, Inv>(Interleaved{work + 2 * c * rows}, f, spec->levels[depth], nullptr);
        }
        for (int c = 0; c < 4; ++c) {
            for (std::int64_t q = 0; q < rows; ++q) {
                x.store(q * cols + k0 + c, work[2 * (c * rows + q)], work[2 * (c * rows + q) + 1]);
            }
        }
    }
}

template <class Tr, bool Inv, class D>
void large_transform(const FftSpec32f* spec, const D& x, std::int32_t order, float* work)
{
    if (Tr::factors[order] != 0) {
        level<Tr, Inv>(spec, x, order, 0, work);
    } else {
        block_scheme<Tr, Inv>(spec, x, order, work);
    }
}

}  // namespace vekfft
