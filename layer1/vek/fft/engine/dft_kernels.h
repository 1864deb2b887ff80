// Kernels of the DFT of any length (1 to 4 points take the small kernels): the direct DFT by pair sums and
// differences, and the complex products of the chirp-z transform. Acc is long double for the x87 columns
// and float for the vector columns; every stored value is rounded to float.
#pragma once

#include <cstdint>

namespace vekfft {

// Direct DFT of n points (odd or even, >= 5) with the table of the length; work holds 4 floats per pair.
// The inputs x[0] and x[n/2] are kept before dst is written, so src may equal dst.
template <class Acc>
void dft_direct(const float* x, float* dst, std::int32_t n, std::int32_t direction, const float* table, float* work)
{
    const std::int32_t p = (n % 2 == 1) ? (n - 1) / 2 : n / 2 - 1;
    for (std::int32_t j = 1; j <= p; ++j) {
        float* e = work + 4 * (j - 1);
        e[0] = x[2 * j] + x[2 * (n - j)];
        e[1] = x[2 * j + 1] + x[2 * (n - j) + 1];
        e[2] = x[2 * j] - x[2 * (n - j)];
        e[3] = x[2 * j + 1] - x[2 * (n - j) + 1];
    }
    const Acc x0r = x[0], x0i = x[1];
    const bool even = n % 2 == 0;
    const Acc hr = even ? Acc(x[n]) : Acc(0), hi = even ? Acc(x[n + 1]) : Acc(0);
    Acc sr = x0r + hr, si = x0i + hi;
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
        dst[2 * k] = static_cast<float>(fwd ? u - v : u + v);
        dst[2 * k + 1] = static_cast<float>(fwd ? t + w : t - w);
        dst[2 * (n - k)] = static_cast<float>(fwd ? u + v : u - v);
        dst[2 * (n - k) + 1] = static_cast<float>(fwd ? t - w : t + w);
    }
    dst[0] = static_cast<float>(sr);
    dst[1] = static_cast<float>(si);
    if (even) {
        ar -= hr;
        ai -= hi;
        if ((n / 2) % 2 == 0) {
            ar = -ar;
            ai = -ai;
        }
        dst[n] = static_cast<float>(ar);
        dst[n + 1] = static_cast<float>(ai);
    }
}

// dst[i] = a[i] * b[i] (complex); dst may be a or b.
template <class Acc>
void mul_complex(const float* a, const float* b, float* dst, std::int64_t n)
{
    for (std::int64_t i = 0; i < n; ++i) {
        const Acc ar = a[2 * i], ai = a[2 * i + 1], br = b[2 * i], bi = b[2 * i + 1];
        dst[2 * i] = static_cast<float>(ar * br - ai * bi);
        dst[2 * i + 1] = static_cast<float>(ar * bi + ai * br);
    }
}

}  // namespace vekfft
