// Radix-4 passes of the float FFT (and of the x87 float64 kernels): one template for every column, data form,
// element type and direction. Input in bit-reversed order, output the transform in natural order, in place,
// unscaled. Passes: size 4, for odd orders a radix-2 pass of size 8, then radix-4 passes of size 16 (even) or
// 32 (odd), each four times larger.
//
// Acc is the arithmetic type: long double for the x87 columns (gen, mm: sums and products stay in extended
// precision, a value is rounded when stored). The twiddle reader hides the table layout (entry layout). The
// vector columns (ss, wd) run their own kernels on the quad-block layout (fft_radix_vector.cpp).
#pragma once

#include <cstdint>
#include <type_traits>

#include "layer1/vek/fft/engine/fft_engine.h"

namespace vekfft {

// Interleaved complex data (re, im pairs) of float or double elements.
template <class E>
struct InterleavedOf {
    using Elem = E;
    static constexpr bool kInterleaved = true;
    E* d;
    void load(std::int64_t i, E& re, E& im) const
    {
        re = d[2 * i];
        im = d[2 * i + 1];
    }
    void store(std::int64_t i, E re, E im) const
    {
        d[2 * i] = re;
        d[2 * i + 1] = im;
    }
    InterleavedOf at(std::int64_t i) const { return {d + 2 * i}; }
};
using Interleaved = InterleavedOf<float>;

// Split complex data: one array of real parts, one of imaginary parts.
template <class E>
struct SplitOf {
    using Elem = E;
    static constexpr bool kInterleaved = false;
    E* re;
    E* im;
    void load(std::int64_t i, E& r, E& m) const
    {
        r = re[i];
        m = im[i];
    }
    void store(std::int64_t i, E r, E m) const
    {
        re[i] = r;
        im[i] = m;
    }
    SplitOf at(std::int64_t i) const { return {re + i, im + i}; }
};
using Split = SplitOf<float>;

// Twiddles in the entry layout: entry j of a table of N points holds w^j, w^2j, w^3j (w = e^(-2*pi*i/N)),
// each as (cos, -sin); float or double values like the data they weight.
template <class V>
struct EntryTwiddlesOf {
    const V* t;
    std::int64_t n;
    struct Stage {
        const V* t;
        std::int64_t stride;
        void get(std::int64_t j, int m, V& c, V& s) const
        {
            const V* e = t + 6 * j * stride + 2 * (m - 1);
            c = e[0];
            s = e[1];
        }
    };
    Stage stage(std::int64_t size) const { return {t, n / size}; }
    V eighth_root() const { return t[6 * (n / 8)]; }
};
using EntryTwiddles = EntryTwiddlesOf<float>;

template <class Acc, bool Inv>
inline void twiddle_mul(Acc c, Acc s, Acc& zr, Acc& zi)
{
    const Acc r = Inv ? c * zr + s * zi : c * zr - s * zi;
    const Acc i = Inv ? c * zi - s * zr : c * zi + s * zr;
    zr = r;
    zi = i;
}

// One radix-4 butterfly on x[0], x[q], x[2q], x[3q] (b, c, d already multiplied by their twiddles).
template <class Acc, bool Inv, class D>
inline void butterfly4(const D& x, std::int64_t q, Acc ar, Acc ai, Acc br, Acc bi, Acc cr, Acc ci, Acc dr, Acc di)
{
    const Acc s1r = ar + br, s1i = ai + bi;
    const Acc d1r = ar - br, d1i = ai - bi;
    const Acc s2r = cr + dr, s2i = ci + di;
    const Acc d2r = cr - dr, d2i = ci - di;
    // rho * (c - d): rho = -i forward, +i inverse.
    const Acc rr = Inv ? -d2i : d2i;
    const Acc ri = Inv ? d2r : -d2r;
    using E = typename D::Elem;
    x.store(0, static_cast<E>(s2r + s1r), static_cast<E>(s2i + s1i));
    x.store(2 * q, static_cast<E>(s1r - s2r), static_cast<E>(s1i - s2i));
    x.store(q, static_cast<E>(d1r + rr), static_cast<E>(d1i + ri));
    x.store(3 * q, static_cast<E>(d1r - rr), static_cast<E>(d1i - ri));
}

template <class Acc, bool Inv, class D>
void pass4_first(const D& x, std::int64_t n)
{
    for (std::int64_t g = 0; g < n; g += 4) {
        typename D::Elem v[8];
        for (int k = 0; k < 4; ++k) {
            x.load(g + k, v[2 * k], v[2 * k + 1]);
        }
        butterfly4<Acc, Inv>(x.at(g), 1, Acc(v[0]), Acc(v[1]), Acc(v[2]), Acc(v[3]), Acc(v[4]), Acc(v[5]), Acc(v[6]),
                             Acc(v[7]));
    }
}

template <class Acc, bool Inv, class D>
void pass2_eighth(const D& x, std::int64_t n, Acc root)
{
    using E = typename D::Elem;
    const Acc c = root;
    const Acc d = -root;
    for (std::int64_t g = 0; g < n; g += 8) {
        for (int j = 0; j < 4; ++j) {
            E ar0, ai0, br0, bi0;
            x.load(g + j, ar0, ai0);
            x.load(g + j + 4, br0, bi0);
            const Acc zr = br0, zi = bi0;
            Acc br = zr, bi = zi;
            if (j == 1) {
                br = Inv ? c * (zr - zi) : c * (zr + zi);
                bi = Inv ? c * (zr + zi) : c * (zi - zr);
            } else if (j == 2) {
                br = Inv ? -zi : zi;
                bi = Inv ? zr : -zr;
            } else if (j == 3) {
                br = Inv ? d * (zr + zi) : d * (zr - zi);
                bi = Inv ? d * (zi - zr) : d * (zr + zi);
            }
            const Acc ar = ar0, ai = ai0;
            x.store(g + j, static_cast<E>(ar + br), static_cast<E>(ai + bi));
            x.store(g + j + 4, static_cast<E>(ar - br), static_cast<E>(ai - bi));
        }
    }
}

template <class Acc, bool Inv, class D, class T>
void pass4(const D& x, std::int64_t n, std::int64_t size, const T& tw)
{
    const std::int64_t q = size / 4;
    const auto st = tw.stage(size);
    for (std::int64_t g = 0; g < n; g += size) {
        const D y = x.at(g);
        for (std::int64_t j = 0; j < q; ++j) {
            typename D::Elem v[8];
            for (int k = 0; k < 4; ++k) {
                y.load(j + k * q, v[2 * k], v[2 * k + 1]);
            }
            Acc br = v[2], bi = v[3], cr = v[4], ci = v[5], dr = v[6], di = v[7];
            if (j != 0) {
                typename D::Elem c, s;
                st.get(j, 2, c, s);
                twiddle_mul<Acc, Inv>(Acc(c), Acc(s), br, bi);
                st.get(j, 1, c, s);
                twiddle_mul<Acc, Inv>(Acc(c), Acc(s), cr, ci);
                st.get(j, 3, c, s);
                twiddle_mul<Acc, Inv>(Acc(c), Acc(s), dr, di);
            }
            butterfly4<Acc, Inv>(y.at(j), q, Acc(v[0]), Acc(v[1]), br, bi, cr, ci, dr, di);
        }
    }
}

// All passes of an n-point transform (n >= 4, a power of two) on bit-reversed data.
template <class Acc, bool Inv, class D, class T>
void radix4_all(const D& x, std::int64_t n, const T& tw)
{
    if (n < 4) {
        return;
    }
    pass4_first<Acc, Inv>(x, n);
    int order = 0;
    while ((std::int64_t{1} << order) < n) {
        ++order;
    }
    std::int64_t size = 16;
    if (order & 1) {
        if (n >= 8) {
            pass2_eighth<Acc, Inv>(x, n, tw.eighth_root());
        }
        size = 32;
    }
    for (; size <= n; size *= 4) {
        pass4<Acc, Inv>(x, n, size, tw);
    }
}

}  // namespace vekfft
