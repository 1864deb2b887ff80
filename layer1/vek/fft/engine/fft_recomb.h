// Real-data recombination: the spectrum of N real values from the complex transform of the N/2 values
// z[n] = x[2n] + i*x[2n+1], and back. Bins 0 and N/2 belong to the drivers; these kernels do bins 1..H-1.
#pragma once

#include <cstdint>

namespace vekfft {

// Coefficients of bin k (1 <= k <= N/4) in the pair layout (gen, mm) or the block layout (ss, wd).
template <bool Blocks>
inline void recomb_coeffs(const float* t, std::int64_t k, float& a, float& b)
{
    if (Blocks) {
        const std::int64_t m = (k - 1) / 4;
        const std::int64_t l = (k - 1) % 4;
        a = t[8 * m + l];
        b = t[8 * m + 4 + l];
    } else {
        a = t[2 * k];
        b = t[2 * k + 1];
    }
}

// In place on the 2H floats of data holding Z[0..H-1]; floats 2..2H-1 become R(1), I(1), ...
template <class Acc, bool Blocks>
void recomb_fwd(float* data, std::int64_t h, const float* table)
{
    const std::int64_t n = 2 * h;
    for (std::int64_t k = 1; k < h / 2; ++k) {
        float a, b;
        recomb_coeffs<Blocks>(table, k, a, b);
        const Acc ar = data[2 * k], ai = data[2 * k + 1];
        const Acc br = data[n - 2 * k], bi = data[n - 2 * k + 1];
        const Acc s = ai + bi;
        const Acc d = ar - br;
        const Acc g = d * Acc(b) + s * Acc(a);
        const Acc t = s * Acc(b) - d * Acc(a);
        data[2 * k] = static_cast<float>(br + g);
        data[2 * k + 1] = static_cast<float>(t - bi);
        data[n - 2 * k] = static_cast<float>(ar - g);
        data[n - 2 * k + 1] = static_cast<float>(t - ai);
    }
    data[h + 1] = -data[h + 1];
}

// Floats 2..2H-1 of src (bins 1..H-1) to 2*Z[1..H-1] in dst; src may equal dst.
template <class Acc, bool Blocks>
void recomb_inv(const float* src, float* dst, std::int64_t h, const float* table)
{
    const std::int64_t n = 2 * h;
    const float mr = src[h];
    const float mi = src[h + 1];
    for (std::int64_t k = 1; k < h / 2; ++k) {
        float c, e;
        recomb_coeffs<Blocks>(table, k, c, e);
        const Acc pr = src[2 * k], pi = src[2 * k + 1];
        const Acc qr = src[n - 2 * k], qi = src[n - 2 * k + 1];
        const Acc d = (pr - qr) * Acc(e) - (pi + qi) * Acc(c);
        const Acc u = (pr - qr) * Acc(c) + (pi + qi) * Acc(e);
        dst[2 * k] = static_cast<float>(pr + qr + d);
        dst[2 * k + 1] = static_cast<float>(pi - qi + u);
        dst[n - 2 * k] = static_cast<float>(pr + qr - d);
        dst[n - 2 * k + 1] = static_cast<float>(u - (pi - qi));
    }
    dst[h] = 2.0f * mr;
    dst[h + 1] = -2.0f * mi;
}

}  // namespace vekfft
