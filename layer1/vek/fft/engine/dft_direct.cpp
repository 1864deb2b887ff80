// The direct DFTs of the vector columns on split and real data (no record kind routes to them). The split
// kernel is the complex one on two arrays; the real kernels use the pair sums and differences of real data:
// forward R_k = x0 (+- h) + sum c * S_j, I_k = sum s * D_j; inverse from the doubled pairs (2R_k, 2I_k),
// x[n] = f0 + f1 and x[N - n] = f0 - f1 with f0 = start + sum c * 2R_k, f1 = sum s * 2I_k. The table point
// m = j * k mod N steps by k. Single precision, as the vector columns compute.
#include "layer1/vek/fft/engine/dft_kernels.h"

namespace {

std::int32_t pairs_of(std::int32_t n) { return (n % 2 == 1) ? (n - 1) / 2 : n / 2 - 1; }

// The alternating sum a0 - p1 + p2 - ... (-1)^(N/2) h over the pairs p_j, formed as the complex kernel forms
// X[N/2]: a running value replaced by p_j - a, then less h, negated when N/2 is even.
float alternating(float a0, const float* pairs, std::int32_t count, float h, std::int32_t n)
{
    float a = a0;
    for (std::int32_t j = 0; j < count; ++j) {
        a = pairs[2 * j] - a;
    }
    a -= h;
    return (n / 2) % 2 == 0 ? -a : a;
}

void real_forward(const float* x, float* dst, std::int32_t n, const float* table, float* work)
{
    const std::int32_t p = pairs_of(n);
    const bool even = n % 2 == 0;
    const float x0 = x[0], h = even ? x[n / 2] : 0.0f;
    float r0 = x0 + h;
    for (std::int32_t j = 1; j <= p; ++j) {
        work[2 * (j - 1)] = x[j] + x[n - j];
        work[2 * (j - 1) + 1] = x[j] - x[n - j];
        r0 += work[2 * (j - 1)];
    }
    const float half = even ? alternating(x0, work, p, h, n) : 0.0f;
    float* out = dst + (even ? 2 : 1);
    for (std::int32_t k = 1; k <= p; ++k) {
        float re = even ? ((k % 2 == 1) ? x0 - h : x0 + h) : x0;
        float im = 0.0f;
        std::int64_t m = k;
        for (std::int32_t j = 1; j <= p; ++j) {
            re += table[2 * m] * work[2 * (j - 1)];
            im += table[2 * m + 1] * work[2 * (j - 1) + 1];
            m += k;
            if (m >= n) {
                m -= n;
            }
        }
        out[2 * (k - 1)] = re;
        out[2 * (k - 1) + 1] = im;
    }
    dst[0] = r0;
    if (even) {
        dst[1] = half;
    }
}

void real_inverse(const float* src, float* dst, std::int32_t n, const float* table, float* work)
{
    const std::int32_t p = pairs_of(n);
    const bool even = n % 2 == 0;
    const float r0 = src[0], h = even ? src[1] : 0.0f;
    const float* in = src + (even ? 2 : 1);
    float x0 = r0;
    for (std::int32_t k = 1; k <= p; ++k) {
        work[2 * (k - 1)] = in[2 * (k - 1)] + in[2 * (k - 1)];
        work[2 * (k - 1) + 1] = in[2 * (k - 1) + 1] + in[2 * (k - 1) + 1];
        x0 += work[2 * (k - 1)];
    }
    if (even) {
        x0 += h;
    }
    const float half = even ? alternating(r0, work, p, h, n) : 0.0f;
    for (std::int32_t i = 1; i <= p; ++i) {
        float f0 = even ? ((i % 2 == 1) ? r0 - h : r0 + h) : r0;
        float f1 = 0.0f;
        std::int64_t m = i;
        for (std::int32_t k = 1; k <= p; ++k) {
            f0 += table[2 * m] * work[2 * (k - 1)];
            f1 += table[2 * m + 1] * work[2 * (k - 1) + 1];
            m += i;
            if (m >= n) {
                m -= n;
            }
        }
        dst[i] = f0 + f1;
        dst[n - i] = f0 - f1;
    }
    dst[0] = x0;
    if (even) {
        dst[n / 2] = half;
    }
}

}  // namespace

#define VEK_DFT_DIRECT(col)                                                                                        \
    void vek_k_dft_direct_split_##col(const float* sr, const float* si, float* dr, float* di, std::int32_t n,      \
                                      std::int32_t direction, const float* table, float* work)                     \
    {                                                                                                              \
        vekfft::dft_direct<float>(vekfft::Split{const_cast<float*>(sr), const_cast<float*>(si)},                   \
                                  vekfft::Split{dr, di}, n, direction, table, work);                               \
    }                                                                                                              \
    void vek_k_dft_direct_real_fwd_##col(const float* src, float* dst, std::int32_t n, const float* table,         \
                                         float* work)                                                              \
    {                                                                                                              \
        real_forward(src, dst, n, table, work);                                                                    \
    }                                                                                                              \
    void vek_k_dft_direct_real_inv_##col(const float* src, float* dst, std::int32_t n, const float* table,         \
                                         float* work)                                                              \
    {                                                                                                              \
        real_inverse(src, dst, n, table, work);                                                                    \
    }
VEK_DFT_DIRECT(wd)
VEK_DFT_DIRECT(ss)
#undef VEK_DFT_DIRECT
