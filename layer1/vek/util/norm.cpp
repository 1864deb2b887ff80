// L1 norm of a vector and of the difference of two vectors, shifted by the scale factor.
//
// abs is taken without saturation (abs(-32768) = 32768; a difference reaches 65535). The sum is exact: blocks of
// 65536 samples fit in 32 unsigned bits and are accumulated in 64 bits. sf > 0 shifts the total right (truncation,
// no rounding); sf < 0 shifts it left with saturation; the result saturates to 2147483647. Shifts of 64 bits and
// more give 0 (right) or the saturated value for any non-zero total (left).
#include <algorithm>

#include "layer1/vek/arith/lanes.h"
#include "layer1/vek/util/util.h"

namespace {

using vek::lanes::ld16;
using vek::lanes::Mmx;
using vek::lanes::Sse2;

constexpr int64_t kBlock = 65536;

struct Abs {
    static uint32_t scalar(const int16_t* a, const int16_t*, int64_t i) {
        const int32_t x = ld16(a, i);
        return static_cast<uint32_t>(x < 0 ? -x : x);
    }
    // |x| as an unsigned 16-bit lane: (x ^ sign) - sign wraps -32768 to 32768.
    template <class L>
    static typename L::V lanes(const int16_t* a, const int16_t*, int64_t i) {
        const typename L::V x = L::load(a + i), sign = L::srai16(x, 15);
        return L::sub16(L::xor_(x, sign), sign);
    }
};

struct AbsDiff {
    static uint32_t scalar(const int16_t* a, const int16_t* b, int64_t i) {
        const int32_t d = int32_t{ld16(a, i)} - ld16(b, i);
        return static_cast<uint32_t>(d < 0 ? -d : d);
    }
    // Biased to unsigned, |a - b| = (a' -us b') | (b' -us a').
    template <class L>
    static typename L::V lanes(const int16_t* a, const int16_t* b, int64_t i) {
        const typename L::V bias = L::set1_16(-32768);
        const typename L::V x = L::xor_(L::load(a + i), bias), y = L::xor_(L::load(b + i), bias);
        return L::or_(L::subus16(x, y), L::subus16(y, x));
    }
};

template <class Op>
uint64_t total_scalar(const int16_t* a, const int16_t* b, int64_t from, int64_t to) {
    uint64_t t = 0;
    for (int64_t i = from; i < to; ++i) t += Op::scalar(a, b, i);
    return t;
}

// Generic: blocks of 65536 into a 32-bit unsigned sum, accumulated in 64 bits.
template <class Op>
uint64_t total_gen(const int16_t* a, const int16_t* b, int64_t n) {
    uint64_t t = 0;
    for (int64_t i = 0; i < n; i += kBlock) {
        uint32_t block = 0;
        for (int64_t k = i, end = std::min(n, i + kBlock); k < end; ++k) block += Op::scalar(a, b, k);
        t += block;
    }
    return t;
}

// SIMD: 16 samples per round, |x| zero-extended into 32-bit lanes; the SSE2 form first aligns the first source.
template <class L, class Op, bool kAlignHead>
uint64_t total_simd(const int16_t* a, const int16_t* b, int64_t n) {
    int64_t h = kAlignHead ? vek::lanes::align_head16<L>(a) : 0;
    if (h > n) h = n;
    uint64_t t = total_scalar<Op>(a, b, 0, h);
    const typename L::V z = L::zero();
    int64_t i = h;
    while (n - i >= 16) {
        const int64_t end = i + std::min(kBlock, (n - i) / 16 * 16);
        typename L::V acc = z;
        for (; i < end; i += 16) {
            for (int k = 0; k < 16; k += L::kLanes16) {
                const typename L::V v = Op::template lanes<L>(a, b, i + k);
                acc = L::add32(acc, L::add32(L::unpacklo16(v, z), L::unpackhi16(v, z)));
            }
        }
        uint32_t lanes[L::kLanes16 / 2];
        L::store(lanes, acc);
        for (uint32_t x : lanes) t += x;
    }
    L::done();
    return t + total_scalar<Op>(a, b, i, n);
}

int32_t finish(uint64_t t, int32_t sf) {
    if (sf > 0) {
        t = sf >= 64 ? 0 : t >> sf;
    } else if (sf < 0 && t != 0) {
        const int64_t k = -int64_t{sf};
        t = (k >= 32 || t > (uint64_t{INT32_MAX} >> k)) ? uint64_t{INT32_MAX} : t << k;
    }
    return static_cast<int32_t>(std::min<uint64_t>(t, INT32_MAX));
}

template <uint64_t (*Total)(const int16_t*, const int16_t*, int64_t)>
VekStatus norm(const int16_t* a, int32_t n, int32_t* result, int32_t sf) {
    if (a == nullptr || result == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    *result = finish(Total(a, nullptr, n), sf);
    return VEK_OK;
}
template <uint64_t (*Total)(const int16_t*, const int16_t*, int64_t)>
VekStatus norm_diff(const int16_t* a, const int16_t* b, int32_t n, int32_t* result, int32_t sf) {
    if (a == nullptr || b == nullptr || result == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    *result = finish(Total(a, b, n), sf);
    return VEK_OK;
}

}  // namespace

VekStatus vek_norm_l1_16_gen(const int16_t* s, int32_t n, int32_t* r, int32_t sf) {
    return norm<total_gen<Abs>>(s, n, r, sf);
}
VekStatus vek_norm_l1_16_mm(const int16_t* s, int32_t n, int32_t* r, int32_t sf) {
    return norm<total_simd<Mmx, Abs, false>>(s, n, r, sf);
}
VekStatus vek_norm_l1_16_ss(const int16_t* s, int32_t n, int32_t* r, int32_t sf) {
    return norm<total_simd<Mmx, Abs, false>>(s, n, r, sf);
}
VekStatus vek_norm_l1_16_wd(const int16_t* s, int32_t n, int32_t* r, int32_t sf) {
    return norm<total_simd<Sse2, Abs, true>>(s, n, r, sf);
}

VekStatus vek_norm_diff_l1_16_gen(const int16_t* a, const int16_t* b, int32_t n, int32_t* r, int32_t sf) {
    return norm_diff<total_gen<AbsDiff>>(a, b, n, r, sf);
}
VekStatus vek_norm_diff_l1_16_mm(const int16_t* a, const int16_t* b, int32_t n, int32_t* r, int32_t sf) {
    return norm_diff<total_simd<Mmx, AbsDiff, false>>(a, b, n, r, sf);
}
VekStatus vek_norm_diff_l1_16_ss(const int16_t* a, const int16_t* b, int32_t n, int32_t* r, int32_t sf) {
    return norm_diff<total_simd<Mmx, AbsDiff, false>>(a, b, n, r, sf);
}
VekStatus vek_norm_diff_l1_16_wd(const int16_t* a, const int16_t* b, int32_t n, int32_t* r, int32_t sf) {
    return norm_diff<total_simd<Sse2, AbsDiff, true>>(a, b, n, r, sf);
}
