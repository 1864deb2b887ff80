// An exact model of the IIR family's arithmetic for the tests, written from the filters' definitions: complex
// 128-bit values throughout (a real filter is the same model with zero imaginary parts, which stay zero), the
// sign-magnitude shifts that cut toward zero, and saturation of every stored, working and output value.
#pragma once

#include <cstdint>
#include <vector>

#include "layer1/vek/core/vek_types.h"

namespace iirmodel {

using i128 = __int128;

struct C {
    i128 re = 0, im = 0;
};

inline i128 clampv(i128 v, i128 lo, i128 hi) {
    return v < lo ? lo : (v > hi ? hi : v);
}
inline C sat(C v, i128 lo, i128 hi) {
    return {clampv(v.re, lo, hi), clampv(v.im, lo, hi)};
}
inline C sat64(C v) {
    return sat(v, INT64_MIN, INT64_MAX);
}
inline C sat32(C v) {
    return sat(v, INT32_MIN, INT32_MAX);
}
inline C sat16(C v) {
    return sat(v, -32768, 32767);
}

// The magnitude shifted left (saturating at 2^125) or right (toward zero), the sign put back.
inline i128 sh(i128 v, int64_t c) {
    const i128 lim = static_cast<i128>(1) << 125;
    i128 m = v < 0 ? -v : v;
    if (c > 0) {
        for (int64_t i = 0; i < c && m != 0; ++i) m = m > lim / 2 ? lim : m * 2;
    } else {
        for (int64_t i = 0; i < -c && m != 0; ++i) m /= 2;
    }
    return v < 0 ? -m : m;
}
inline C sh(C v, int64_t c) {
    return {sh(v.re, c), sh(v.im, c)};
}
inline C mul(C a, C b) {
    return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re};
}
inline C add(C a, C b) {
    return {a.re + b.re, a.im + b.im};
}
inline C sub(C a, C b) {
    return {a.re - b.re, a.im - b.im};
}

// Arbitrary order n: taps B0..Bn, A1..An (stored, divided by a0), delay d0..d(n-1).
struct Arbitrary {
    std::vector<C> b, a;  // a[0] unused
    std::vector<C> d;
    int n = 0;
    int64_t tf = 0;

    void rescale(int64_t sf) {
        if (sf >= tf) return;
        for (auto& t : b) t = sat32(sh(t, tf - sf));
        for (size_t j = 1; j < a.size(); ++j) a[j] = sat32(sh(a[j], tf - sf));
        tf = sf;
    }
    C dd(int j) const { return j < n ? d[j] : C{}; }
    C one(C x, int64_t sf) {
        const int64_t k = sf - tf;
        if (n == 0) return sh(mul(b[0], x), -k);
        const C acc = sat64(add(sh(mul(b[0], x), -k), d[0]));
        for (int j = 0; j < n; ++j)
            d[j] = sat32(sub(add(sh(mul(b[j + 1], x), -k), dd(j + 1)), sh(mul(a[j + 1], acc), tf)));
        return acc;
    }
    void pair(C x0, C x1, int64_t sf, C& y0, C& y1) {
        const int64_t k = sf - tf;
        const C acc0 = sat64(add(sh(mul(b[0], x0), -k), d[0]));
        const C acc1 = sat64(sub(add(sh(add(mul(b[1], x0), mul(b[0], x1)), -k), d[1]), sh(mul(a[1], acc0), tf)));
        std::vector<C> nd(n);
        for (int j = 0; j < n; ++j) {
            const C f = add(mul(b[j + 1], x1), j + 2 <= n ? mul(b[j + 2], x0) : C{});
            const C g = add(mul(a[j + 1], acc1), j + 2 <= n ? mul(a[j + 2], acc0) : C{});
            nd[j] = sat32(sub(add(sh(f, -k), dd(j + 2)), sh(g, tf)));
        }
        d = nd;
        y0 = acc0;
        y1 = acc1;
    }
    std::vector<C> block(const std::vector<C>& x, int64_t sf) {
        rescale(sf);
        std::vector<C> y(x.size());
        size_t i = 0;
        if (n >= 2)
            for (; i + 1 < x.size(); i += 2) pair(x[i], x[i + 1], sf, y[i], y[i + 1]);
        for (; i < x.size(); ++i) y[i] = one(x[i], sf);
        for (auto& v : y) v = sat16(v);
        return y;
    }
    C single(C x, int64_t sf) {
        rescale(sf);
        return sat16(one(x, sf));
    }
};

// Biquad cascade: gain G, per section A1, A2, B1, B2 (stored), delay W1, W2.
struct Cascade {
    C g;
    std::vector<C> t;  // 4 per section
    std::vector<C> d;  // 2 per section
    int64_t tf = 0;

    C input(C x, int64_t sf) const { return sat64(sh(mul(g, x), tf - sf)); }
    C two(C p, C u, C q, C v) const { return sh(add(mul(p, u), mul(q, v)), tf); }
    C one(C r) {
        for (size_t j = 0; j < d.size() / 2; ++j) {
            const C* s = &t[4 * j];
            const C w1 = d[2 * j], w2 = d[2 * j + 1];
            const C w = sat64(sub(r, two(s[0], w1, s[1], w2)));
            r = sat64(add(w, two(s[2], w1, s[3], w2)));
            d[2 * j + 1] = w1;
            d[2 * j] = sat32(w);
        }
        return r;
    }
    void pair(C& r0, C& r1) {
        for (size_t j = 0; j < d.size() / 2; ++j) {
            const C* s = &t[4 * j];
            const C w1 = d[2 * j], w2 = d[2 * j + 1];
            const C w0 = sat64(sub(r0, two(s[0], w1, s[1], w2)));
            const C nr0 = sat64(add(w0, two(s[2], w1, s[3], w2)));
            const C w = sat64(sub(r1, two(s[0], w0, s[1], w1)));
            r1 = sat64(add(w, two(s[2], w0, s[3], w1)));
            r0 = nr0;
            d[2 * j + 1] = sat32(w0);
            d[2 * j] = sat32(w);
        }
    }
    std::vector<C> block(const std::vector<C>& x, int64_t sf) {
        std::vector<C> y(x.size());
        size_t i = 0;
        for (; i + 1 < x.size(); i += 2) {
            C r0 = input(x[i], sf), r1 = input(x[i + 1], sf);
            pair(r0, r1);
            y[i] = sat16(r0);
            y[i + 1] = sat16(r1);
        }
        if (i < x.size()) y[i] = sat16(one(input(x[i], sf)));
        return y;
    }
    C single(C x, int64_t sf) { return sat16(one(input(x, sf))); }
};

// The caller's tap t * 2^-e divided by d, cutting toward zero, saturated (complex: times conj(d) over |d|^2).
inline C convert(C t, int64_t e, C d) {
    const i128 den = d.re * d.re + d.im * d.im;
    const C num = {t.re * d.re + t.im * d.im, t.im * d.re - t.re * d.im};
    const i128 lim = static_cast<i128>(1) << 100;
    return sat32({clampv(sh(num.re, -e), -lim, lim) / den, clampv(sh(num.im, -e), -lim, lim) / den});
}

inline i128 unit(int64_t tf) {
    return clampv(tf > 0 ? 0 : sh(static_cast<i128>(1), -tf), INT32_MIN, INT32_MAX);
}

// Models built from the caller's taps (b0..bn, a0..an; or b0 b1 b2 a0 a1 a2 per section).
inline Arbitrary make_arbitrary(const std::vector<C>& taps, int n, int64_t tf) {
    Arbitrary m;
    m.n = n;
    m.tf = tf;
    const C a0 = taps[n + 1];
    const bool copy = a0.re == unit(tf) && a0.im == 0;
    for (int k = 0; k <= n; ++k) m.b.push_back(copy ? taps[k] : convert(taps[k], tf, a0));
    m.a.push_back(C{});
    for (int k = 1; k <= n; ++k) m.a.push_back(copy ? taps[n + 1 + k] : convert(taps[n + 1 + k], tf, a0));
    m.d.assign(n, C{});
    return m;
}

inline Cascade make_cascade(const std::vector<C>& taps, int sections, int64_t tf) {
    Cascade m;
    m.tf = tf;
    const i128 lim = static_cast<i128>(1) << 60;
    C g{clampv(tf > 0 ? 0 : sh(static_cast<i128>(1), -tf), -lim, lim), 0};
    for (int j = 0; j < sections; ++j) {
        const C* s = &taps[6 * j];
        const C p = mul(g, s[0]);
        const i128 den = s[3].re * s[3].re + s[3].im * s[3].im;
        g = {clampv((p.re * s[3].re + p.im * s[3].im) / den, -lim, lim),
             clampv((p.im * s[3].re - p.re * s[3].im) / den, -lim, lim)};
        m.t.push_back(convert(s[4], tf, s[3]));
        m.t.push_back(convert(s[5], tf, s[3]));
        m.t.push_back(convert(s[1], tf, s[0]));
        m.t.push_back(convert(s[2], tf, s[0]));
    }
    m.g = sat32(g);
    m.d.assign(2 * sections, C{});
    return m;
}

}  // namespace iirmodel
