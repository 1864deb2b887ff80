// Kernels of the DFT of any length (1 to 4 points take the small kernels): the direct DFT by pair sums and
// differences, and the complex products of the chirp-z transform. Acc is long double for the x87 columns
// and float for the vector columns; every stored value is rounded to float.
#pragma once

#include <cstdint>

#include "layer1/vek/fft/engine/fft_radix.h"

namespace vekfft {

// Direct DFT of n points (odd or even, >= 5) with the table of the length; work holds 4 floats per pair.
// The inputs x[0] and x[n/2] are kept before dst is written, so src may equal dst. D: interleaved or split
// float data (fft_radix.h).
template <class Acc, class D>
void dft_direct(const D& x, const D& dst, std::int32_t n, std::int32_t direction, const float* table, float* work)
{
    const std::int32_t p = (n % 2 == 1) ? (n - 1) / 2 : n / 2 - 1;
    for (std::int32_t j = 1; j <= p; ++j) {
        float* e = work + 4 * (j - 1);
        float ar, ai, br, bi;
        x.load(j, ar, ai);
        x.load(n - j, br, bi);
        e[0] = ar + br;
        e[1] = ai + bi;
        e[2] = ar - br;
        e[3] = ai - bi;
    }
    const bool even = n % 2 == 0;
    float x0r, x0i, h0r = 0.0f, h0i = 0.0f;
    x.load(0, x0r, x0i);
    if (even) {
        x.load(n / 2, h0r, h0i);
    }
    const Acc hr = h0r, hi = h0i;
    Acc sr = Acc(x0r) + hr, si = Acc(x0i) + hi;
    Acc ar = x0r, ai = x0i;
    for (std::int32_t j = 1; j <= p; ++j) {
        sr += work[4 * (j - 1)];
        si += work[4 * (j - 1) + 1];
        ar = Acc(work[4 * (j - 1)]) - ar;
        ai = Acc(work[4 * (j - 1) + 1]) - ai;
    }
    for (std::int32_t k = 1; k <= p; ++k) {
        Acc u = x0r, t = x0i;
        if (even) {
            u = (k % 2 == 1) ? x0r - hr : x0r + hr;
            t = (k % 2 == 1) ? x0i - hi : x0i + hi;
        }
        Acc v = 0, w = 0;
        std::int64_t m = k;
        for (std::int32_t j = 1; j <= p; ++j) {
            const Acc c = table[2 * m], s = table[2 * m + 1];
            const float* e = work + 4 * (j - 1);
            u += c * Acc(e[0]);
            t += c * Acc(e[1]);
            v += s * Acc(e[3]);
            w += s * Acc(e[2]);
            m += k;
            if (m >= n) {
                m -= n;
            }
        }
        const bool fwd = direction > 0;
        dst.store(k, static_cast<float>(fwd ? u - v : u + v), static_cast<float>(fwd ? t + w : t - w));
        dst.store(n - k, static_cast<float>(fwd ? u + v : u - v), static_cast<float>(fwd ? t - w : t + w));
    }
    dst.store(0, static_cast<float>(sr), static_cast<float>(si));
    if (even) {
        ar -= hr;
        ai -= hi;
        if ((n / 2) % 2 == 0) {
            ar = -ar;
            ai = -ai;
        }
        dst.store(n / 2, static_cast<float>(ar), static_cast<float>(ai));
    }
}

}  // namespace vekfft

// Array kernels of the chirp-z transform, n complex floats. Product dst = a * b (dst may be a or b): the wd
// member (also ss) four elements a step from the top down in single precision, then the n mod 4 lowest;
// the x87 member (mm, gen) in extended precision, rounded once. Conjugate copy dst = conj(src); zero fill
// dst = (+0, +0).
void vek_k_mul_c32f_wd(const float* a, const float* b, float* dst, std::int32_t n);
void vek_k_mul_c32f(const float* a, const float* b, float* dst, std::int32_t n);
void vek_k_conj_c32f_wd(const float* src, float* dst, std::int32_t n);
void vek_k_conj_c32f_ss(const float* src, float* dst, std::int32_t n);
void vek_k_conj_c32f(const float* src, float* dst, std::int32_t n);
void vek_k_zero_c32f_wd(float* dst, std::int32_t n);
void vek_k_zero_c32f_ss(float* dst, std::int32_t n);
void vek_k_zero_c32f(float* dst, std::int32_t n);

// Direct DFTs of the vector columns with no caller in the library: n >= 5, the DftChirpTable of the length,
// work of 16 bytes per pair (split) or 8 bytes per pair (real) of the (n - 1) / 2 pairs.
// Split data in either direction (+1 forward, -1 inverse); real data forward into packed layout 1 (R0,
// R(n/2) for even n, then R1, I1, ...) and back from it, unscaled. The destination may be the source.
void vek_k_dft_direct_split_wd(const float* srcRe, const float* srcIm, float* dstRe, float* dstIm, std::int32_t n,
                               std::int32_t direction, const float* table, float* work);
void vek_k_dft_direct_split_ss(const float* srcRe, const float* srcIm, float* dstRe, float* dstIm, std::int32_t n,
                               std::int32_t direction, const float* table, float* work);
void vek_k_dft_direct_real_fwd_wd(const float* src, float* dst, std::int32_t n, const float* table, float* work);
void vek_k_dft_direct_real_fwd_ss(const float* src, float* dst, std::int32_t n, const float* table, float* work);
void vek_k_dft_direct_real_inv_wd(const float* src, float* dst, std::int32_t n, const float* table, float* work);
void vek_k_dft_direct_real_inv_ss(const float* src, float* dst, std::int32_t n, const float* table, float* work);
