// Fixed-point (Q14) kernels of the 16-bit FFT (see fft_q14.h). All arithmetic wraps in 32 bits as the
// fixed-point path defines it; sums that feed a halving are formed in 64 bits.
#include "layer1/vek/fft/engine/fft_q14.h"

#include <cmath>

#include "layer1/vek/core/vek_memory.h"
#include "layer1/vek/fft/engine/fft_engine.h"

namespace {

inline std::int32_t wrap(std::int64_t v) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(v)); }

// P(a, b; w, v) ~ (a w + b v) / 16384, the low halves losing their lowest bit.
inline std::int32_t q14(std::int32_t a, std::int32_t b, std::int32_t w, std::int32_t v, std::int32_t r)
{
    const std::int64_t la = (static_cast<std::uint32_t>(a) & 0xFFFFu) >> 1;
    const std::int64_t lb = (static_cast<std::uint32_t>(b) & 0xFFFFu) >> 1;
    const std::int64_t lo = (la * w + lb * v + r) >> 13;
    const std::int64_t hi = (static_cast<std::int64_t>(a >> 16) * w + static_cast<std::int64_t>(b >> 16) * v) * 4;
    return wrap(lo + hi);
}

struct Pair {
    std::int32_t re;
    std::int32_t im;
};

inline Pair times(Pair z, const std::int16_t* q, std::int32_t r)
{
    return {q14(z.re, z.im, q[0], q[1], r), q14(z.re, z.im, q[2], q[3], r)};
}

std::int16_t* sin_q14(std::int32_t order)
{
    const std::int64_t n = std::int64_t{1} << order;
    const std::int64_t q = n / 4;
    const std::int64_t bytes = 2 * q + 2;
    if (bytes > INT32_MAX) {
        return nullptr;
    }
    auto* t = static_cast<std::int16_t*>(vek_alloc_8(static_cast<std::int32_t>(bytes)));
    if (t == nullptr) {
        return nullptr;
    }
    const long double x = 6.283185307179586L / static_cast<long double>(n);
    for (std::int64_t i = 0; i <= q; ++i) {
        const long double v = i <= n / 8 ? sinl(static_cast<long double>(i) * x) : cosl(static_cast<long double>(q - i) * x);
        t[i] = static_cast<std::int16_t>(truncl(0.5L + 16384.0L * v));
    }
    return t;
}

std::int16_t* quads(std::int32_t order, const std::int16_t* sine, std::int32_t sineOrder)
{
    const std::int64_t n = std::int64_t{1} << order;
    if (8 * n > INT32_MAX) {
        return nullptr;
    }
    auto* t = static_cast<std::int16_t*>(vek_alloc_8(static_cast<std::int32_t>(8 * n)));
    if (t == nullptr) {
        return nullptr;
    }
    if (order < 2) {
        for (std::int64_t i = 0; i < 4 * n; ++i) {
            t[i] = 0;  // never read
        }
        return t;
    }
    const std::int64_t d = std::int64_t{1} << (sineOrder - order);
    const std::int64_t q = n / 4;
    for (std::int64_t j = 0; j < q; ++j) {
        const std::int16_t c = sine[(q - j) * d];
        const std::int16_t s = sine[j * d];
        const std::int16_t v[4] = {c, s, static_cast<std::int16_t>(-s), c};
        for (int k = 0; k < 4; ++k) {
            t[4 * j + k] = v[k];
            t[4 * (j + q) + k] = 0;
        }
    }
    for (std::int64_t j = 0; j < q; ++j) {
        const std::int16_t* p = t + 4 * j;
        std::int16_t* o = t + 4 * (j + q);
        o[0] = static_cast<std::int16_t>(-p[1]);
        o[1] = p[0];
        o[2] = static_cast<std::int16_t>(-p[0]);
        o[3] = static_cast<std::int16_t>(-p[1]);
    }
    for (std::int64_t j = 0; j < 2 * q; ++j) {
        const std::int16_t* p = t + 4 * j;
        std::int16_t* o = t + 4 * (j + 2 * q);
        o[0] = static_cast<std::int16_t>(-p[0]);
        o[1] = static_cast<std::int16_t>(-p[1]);
        o[2] = p[1];
        o[3] = static_cast<std::int16_t>(-p[0]);
    }
    return t;
}

// The radix-4 DIF FFT; r is the rounding term of the Q14 products.
void radix4_q14(std::int32_t* data, std::int32_t n, std::int32_t direction, const std::int16_t* tw, std::int32_t r)
{
    auto* x = reinterpret_cast<Pair*>(data);
    auto add = [](Pair a, Pair b) { return Pair{wrap(std::int64_t{a.re} + b.re), wrap(std::int64_t{a.im} + b.im)}; };
    auto sub = [](Pair a, Pair b) { return Pair{wrap(std::int64_t{a.re} - b.re), wrap(std::int64_t{a.im} - b.im)}; };
    if (n == 2) {
        const Pair a = x[0];
        x[0] = add(a, x[1]);
        x[1] = sub(a, x[1]);
        return;
    }
    if (direction < 0 && n > 3) {
        for (std::int32_t k = 1; k < n / 2; ++k) {
            const Pair t = x[k];
            x[k] = x[n - k];
            x[n - k] = t;
        }
    }
    // The pi/4 column: (1 - i) and (-1 - i) times cos(pi/4) in Q14.
    static const std::int16_t kEighth1[4] = {11585, 11585, -11585, 11585};
    static const std::int16_t kEighth3[4] = {-11585, 11585, -11585, -11585};
    std::int32_t span = n;
    std::int32_t stride = 1;
    while (span > 2) {
        const std::int32_t q = span / 4;
        const std::int32_t b = span / 8;
        for (std::int32_t k = 0; k < q; ++k) {
            for (std::int32_t g = 0; g < n; g += span) {
                Pair* y = x + g + k;
                const Pair a0 = y[0], a1 = y[q], a2 = y[2 * q], a3 = y[3 * q];
                const Pair d0 = sub(a0, a2);
                const Pair d1 = sub(a1, a3);
                const Pair o0 = add(add(a0, a1), add(a2, a3));
                const Pair o2 = sub(add(a0, a2), add(a1, a3));
                const Pair o1{wrap(std::int64_t{d0.re} + d1.im), wrap(std::int64_t{d0.im} - d1.re)};
                const Pair o3{wrap(std::int64_t{d0.re} - d1.im), wrap(std::int64_t{d0.im} + d1.re)};
                y[0] = o0;
                if (k == 0) {
                    y[q] = o2;
                    y[2 * q] = o1;
                    y[3 * q] = o3;
                } else if (k == b) {
                    y[q] = Pair{o2.im, wrap(-std::int64_t{o2.re})};
                    y[2 * q] = times(o1, kEighth1, r);
                    y[3 * q] = times(o3, kEighth3, r);
                } else {
                    const std::int64_t e = std::int64_t{k} * stride;
                    y[q] = times(o2, tw + 8 * e, r);
                    y[2 * q] = times(o1, tw + 4 * e, r);
                    y[3 * q] = times(o3, tw + 12 * e, r);
                }
            }
        }
        span /= 4;
        stride *= 4;
    }
    if (span == 2) {
        for (std::int32_t m = 0; m < n; m += 2) {
            const Pair a = x[m];
            x[m] = add(a, x[m + 1]);
            x[m + 1] = sub(a, x[m + 1]);
        }
    }
}

void recomb_fwd(std::int32_t* data, std::int32_t m, const std::int16_t* tw, std::int32_t r)
{
    if (m <= 1) {
        return;
    }
    auto* z = reinterpret_cast<Pair*>(data);
    for (std::int32_t j = 1; j < m / 2; ++j) {
        const std::int32_t i = m - j;
        const Pair a = z[j], b = z[i];
        const auto u = static_cast<std::int32_t>((std::int64_t{a.re} + b.re) >> 1);
        const auto v = static_cast<std::int32_t>((std::int64_t{a.im} - b.im) >> 1);
        const auto xx = static_cast<std::int32_t>((std::int64_t{a.re} - b.re) >> 1);
        const auto yy = static_cast<std::int32_t>(-((std::int64_t{a.im} + b.im) >> 1));
        const std::int16_t* q = tw + 4 * j;
        const std::int32_t t = q14(xx, yy, q[1], q[0], r);
        const std::int32_t t2 = q14(xx, yy, q[3], q[2], r);
        z[j] = Pair{wrap(std::int64_t{u} - t), wrap(std::int64_t{v} - t2)};
        z[i] = Pair{wrap(std::int64_t{u} + t), wrap(-std::int64_t{v} - t2)};
    }
    z[m / 2].im = wrap(-std::int64_t{z[m / 2].im});
}

void recomb_inv(std::int32_t* data, std::int32_t m, const std::int16_t* tw, bool conjugateQuad)
{
    if (m <= 1) {
        return;
    }
    auto* z = reinterpret_cast<Pair*>(data);
    for (std::int32_t j = 1; j < m / 2; ++j) {
        const std::int32_t i = m - j;
        const std::int64_t e = z[j].re, f = z[i].re, g = z[j].im, h = z[i].im;
        const std::int32_t o = wrap(e - f);
        const std::int32_t rr = wrap(g + h);
        std::int32_t t, t2;
        if (conjugateQuad) {
            const std::int16_t* q = tw + 4 * (2 * m - j);
            t = q14(wrap(-std::int64_t{rr}), o, q[0], q[1], 4096);
            t2 = q14(wrap(-std::int64_t{rr}), o, q[2], q[3], 4096);
        } else {
            const std::int16_t* q = tw + 4 * j;
            t = q14(wrap(-std::int64_t{o}), wrap(-std::int64_t{rr}), q[1], q[0], 4096);
            t2 = q14(o, rr, q[3], q[2], 4096);
        }
        z[i] = Pair{wrap(e + f + t), wrap(g - h + t2)};
        z[j] = Pair{wrap(e + f - t), wrap(h - g + t2)};
    }
    z[m / 2] = Pair{wrap(2 * std::int64_t{z[m / 2].re}), wrap(-2 * std::int64_t{z[m / 2].im})};
}

}  // namespace

std::int16_t* vek_k_fft_sin_table_q14_gen(std::int32_t order) { return sin_q14(order); }
std::int16_t* vek_k_fft_sin_table_q14_mm(std::int32_t order) { return sin_q14(order); }
std::int16_t* vek_fft_sin_table_q14(std::int32_t order) { return sin_q14(order); }
std::int16_t* vek_sin_q14(std::int32_t order) { return sin_q14(order); }
std::int16_t* vek_k_fft_twiddle_q14(std::int32_t o, const std::int16_t* s, std::int32_t so) { return quads(o, s, so); }
std::int16_t* vek_twiddle_q14(std::int32_t o, const std::int16_t* s, std::int32_t so) { return quads(o, s, so); }

void vek_k_fft_radix4_q14_gen(std::int32_t* d, std::int32_t n, std::int32_t dir, const std::int16_t* q)
{
    radix4_q14(d, n, dir, q, 4096);
}
void vek_k_fft_radix4_q14_mm(std::int32_t* d, std::int32_t n, std::int32_t dir, const std::int16_t* q)
{
    radix4_q14(d, n, dir, q, 0);
}
void vek_fft16_radix4(std::int32_t* d, std::int32_t n, std::int32_t dir, const std::int16_t* q)
{
    radix4_q14(d, n, dir, q, 0);
}

void vek_k_fft_real_recomb_q14_fwd_gen(std::int32_t* d, std::int32_t m, std::int32_t, const std::int16_t* q)
{
    recomb_fwd(d, m, q, 4096);
}
void vek_k_fft_real_recomb_q14_fwd_mm(std::int32_t* d, std::int32_t m, std::int32_t, const std::int16_t* q)
{
    recomb_fwd(d, m, q, 0);
}
void vek_k_fft_real_recomb_q14_fwd_wd(std::int32_t* d, std::int32_t m, std::int32_t, const std::int16_t* q)
{
    recomb_fwd(d, m, q, 0);
}
void vek_k_fft_real_recomb_q14_inv_gen(std::int32_t* d, std::int32_t m, std::int32_t, const std::int16_t* q)
{
    recomb_inv(d, m, q, false);
}
void vek_k_fft_real_recomb_q14_inv_mm(std::int32_t* d, std::int32_t m, std::int32_t, const std::int16_t* q)
{
    recomb_inv(d, m, q, true);
}
void vek_k_fft_real_recomb_q14_inv_wd(std::int32_t* d, std::int32_t m, std::int32_t, const std::int16_t* q)
{
    recomb_inv(d, m, q, true);
}

void vek_k_fft_permute_q14_inplace_wd(std::int32_t* data, std::int32_t n, const std::int32_t* pairs)
{
    vek_k_fft_permute_inplace_gen(data, n, pairs);
}
