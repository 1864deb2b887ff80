// The exact sums behind the statistics of 16-bit vectors, one set per column: the sum, the sum of squares, the sums
// of the real and imaginary parts of a complex vector, the largest absolute difference of two vectors and the sum of
// their squared differences. Sums of 16-bit values are formed in blocks of 65536 elements (a block fits in 32 bits)
// and carried in 64 bits; each square and squared difference fits in 32 unsigned bits.
#pragma once

#include <algorithm>
#include <initializer_list>
#include <cstdint>

#include "layer1/vek/arith/lanes.h"

namespace vek::stats {

using lanes::ld16;

inline constexpr int64_t kBlock = 65536;

struct ComplexSums {
    int64_t re = 0, im = 0;
};

// Plain loops.
struct ScalarSums {
    static int64_t sum(const int16_t* s, int64_t n) {
        int64_t t = 0;
        for (int64_t i = 0; i < n; ++i) t += ld16(s, i);
        return t;
    }
    static uint64_t sumsq(const int16_t* s, int64_t n) {
        uint64_t t = 0;
        for (int64_t i = 0; i < n; ++i) t += static_cast<uint64_t>(int64_t{ld16(s, i)} * ld16(s, i));
        return t;
    }
    static ComplexSums csum(const int16_t* s, int64_t n) {
        ComplexSums c;
        for (int64_t i = 0; i < n; ++i) {
            c.re += ld16(s, 2 * i);
            c.im += ld16(s, 2 * i + 1);
        }
        return c;
    }
    static uint32_t maxdiff(const int16_t* a, const int16_t* b, int64_t n) {
        uint32_t m = 0;
        for (int64_t i = 0; i < n; ++i) {
            const int32_t d = int32_t{ld16(a, i)} - ld16(b, i);
            m = std::max(m, static_cast<uint32_t>(d < 0 ? -d : d));
        }
        return m;
    }
    static uint64_t sumsq_diff(const int16_t* a, const int16_t* b, int64_t n) {
        uint64_t t = 0;
        for (int64_t i = 0; i < n; ++i) {
            const int64_t d = int32_t{ld16(a, i)} - ld16(b, i);
            t += static_cast<uint64_t>(d * d);
        }
        return t;
    }
};

// Lane sums: L is a lane set of lanes.h. 32-bit lanes are read back through memory and widened.
template <class L>
struct LaneSums {
    using V = typename L::V;
    static constexpr int64_t kStep = L::kLanes16;

    template <class T>
    static void lanes32(V v, T out[kStep / 2]) {
        L::store(out, v);
    }
    static int64_t sum(const int16_t* s, int64_t n) {
        int64_t t = 0, i = 0;
        const V ones = L::set1_16(1);
        while (n - i >= kStep) {
            const int64_t end = i + std::min(kBlock, (n - i) / kStep * kStep);
            V acc = L::zero();
            for (; i < end; i += kStep) acc = L::add32(acc, L::madd16(L::load(s + i), ones));
            int32_t l[kStep / 2];
            lanes32(acc, l);
            for (int32_t x : l) t += x;
        }
        L::done();
        return t + ScalarSums::sum(s + i, n - i);
    }
    // Pair sums of squares read as unsigned (two -32768 squares give 2^31), one vector at a time into 64 bits.
    static uint64_t sumsq(const int16_t* s, int64_t n) {
        uint64_t t = 0;
        int64_t i = 0;
        for (; n - i >= kStep; i += kStep) {
            const V v = L::load(s + i);
            uint32_t l[kStep / 2];
            lanes32(L::madd16(v, v), l);
            for (uint32_t x : l) t += x;
        }
        L::done();
        return t + ScalarSums::sumsq(s + i, n - i);
    }
    static ComplexSums csum(const int16_t* s, int64_t n) {
        ComplexSums c;
        const V re1 = L::pair16(1, 0), im1 = L::pair16(0, 1);
        const int64_t per = kStep / 2;  // complex elements per vector
        int64_t i = 0;
        while (n - i >= per) {
            const int64_t end = i + std::min(kBlock, (n - i) / per * per);
            V ar = L::zero(), ai = L::zero();
            for (; i < end; i += per) {
                const V v = L::load(s + 2 * i);
                ar = L::add32(ar, L::madd16(v, re1));
                ai = L::add32(ai, L::madd16(v, im1));
            }
            int32_t r[kStep / 2], m[kStep / 2];
            lanes32(ar, r);
            lanes32(ai, m);
            for (int k = 0; k < kStep / 2; ++k) {
                c.re += r[k];
                c.im += m[k];
            }
        }
        L::done();
        const ComplexSums rest = ScalarSums::csum(s + 2 * i, n - i);
        c.re += rest.re;
        c.im += rest.im;
        return c;
    }
    // Both inputs biased by 0x8000 to compare as unsigned; |a - b| by saturating subtractions both ways; the running
    // maximum by a saturating subtract and add.
    static uint32_t maxdiff(const int16_t* a, const int16_t* b, int64_t n) {
        const V bias = L::set1_16(-32768);
        V m = L::zero();
        int64_t i = 0;
        for (; n - i >= kStep; i += kStep) {
            const V x = L::xor_(L::load(a + i), bias), y = L::xor_(L::load(b + i), bias);
            const V d = L::or_(L::subus16(x, y), L::subus16(y, x));
            m = L::add16(L::subus16(m, d), d);  // max(m, d) for unsigned lanes
        }
        uint16_t l[kStep];
        L::store(l, m);
        L::done();
        uint32_t best = ScalarSums::maxdiff(a + i, b + i, n - i);
        for (uint16_t x : l) best = std::max<uint32_t>(best, x);
        return best;
    }
    // (a - b)^2 = (a^2 + b^2) - 2ab, exact modulo 2^32 and so exact, since the square lies in [0, 2^32).
    static uint64_t sumsq_diff(const int16_t* a, const int16_t* b, int64_t n) {
        uint64_t t = 0;
        int64_t i = 0;
        for (; n - i >= kStep; i += kStep) {
            const V x = L::load(a + i), y = L::load(b + i);
            for (const V v : {L::unpacklo16(x, y), L::unpackhi16(x, y)}) {
                const V sq = L::madd16(v, v), cross = L::madd16(v, swap_pairs(v));
                uint32_t l[kStep / 2];
                lanes32(L::sub32(sq, cross), l);
                for (uint32_t d : l) t += d;
            }
        }
        L::done();
        return t + ScalarSums::sumsq_diff(a + i, b + i, n - i);
    }
    // {a0, b0, a1, b1, ...} -> {b0, a0, b1, a1, ...}
    static V swap_pairs(V v) { return L::or_(L::slli32(v, 16), L::srli32(v, 16)); }
};

}  // namespace vek::stats
