// Statistics of 16-bit vectors: mean of a real and of a complex vector, standard deviation (32-bit and 16-bit
// results), L2 norm, and the Inf and L2 norms of a difference, each scaled by 2^-sf.
//
// Every column forms exact sums (its own loops, stats_sums.h) and finishes them with the same exact arithmetic:
// - mean: sum * 2^-sf / len rounded half to even, saturated to 16 bits. gen, mm and ss give 0 for sf > 15 and only
//   the sign (32767, -32768 or 0) for sf <= -15 without forming the quotient; wd has no such shortcut and gives the
//   scaled mean itself, saturated.
// - standard deviation: sqrt((len * S2 - S1^2) / (len * (len - 1))) * 2^-sf rounded half to even, at most
//   2147483647 (the numerator can need 92 bits: it is formed in 128 bits); the 16-bit form is at most 32767.
// - L2 norms: sqrt(S) * 2^-sf truncated, at most 2147483647.
// - Inf norm of a difference: the largest |a - b| shifted right by sf or left by -sf as a plain 32-bit shift
//   (no saturation); a shift of 32 or more gives 0.
#include <cmath>
#include <cstring>

#include "layer1/vek/util/root.h"
#include "layer1/vek/util/stats_sums.h"
#include "layer1/vek/util/util.h"
#include "layer1/vek/util/utilities.h"

namespace {

using vek::root::u128;
using vek::stats::ComplexSums;

// --- finishing arithmetic (shared by every column) ----------------------------------------------------------------

// num / den rounded half to even, den > 0.
__int128 div_round_even(__int128 num, __int128 den) {
    __int128 q = num / den, r = num % den;
    if (r < 0) {
        r += den;
        --q;
    }
    if (2 * r > den || (2 * r == den && (q & 1))) ++q;
    return q;
}

int16_t sat16(__int128 v) {
    return static_cast<int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
}

int16_t mean_value(int64_t total, int32_t len, int32_t sf, bool shortcut) {
    if (shortcut && sf > 15) return 0;
    if (shortcut && sf <= -15) return static_cast<int16_t>(total > 0 ? 32767 : (total < 0 ? -32768 : 0));
    if (sf > 16) return 0;  // |mean| <= 32768, so |mean| * 2^-17 < 1/2
    if (sf < -40) return static_cast<int16_t>(total > 0 ? 32767 : (total < 0 ? -32768 : 0));
    if (sf >= 0) return sat16(div_round_even(total, static_cast<__int128>(len) << sf));
    return sat16(div_round_even(static_cast<__int128>(total) << -sf, len));
}

// Sign of (k + 1/2)^2 - v^2 where v^2 = num * 4^-sf / den, all non-negative; a product past 128 bits counts as
// larger than anything on the other side.
int mid_sign(uint64_t k, u128 num, u128 den, int32_t sf) {
    auto mul = [](u128 a, u128 b, bool& big) {
        u128 r = 0;
        big = big || __builtin_mul_overflow(a, b, &r);
        return r;
    };
    bool big_l = false, big_r = false;
    const u128 m = static_cast<u128>(2 * k + 1);
    u128 lhs = mul(mul(m, m, big_l), den, big_l);  // (2k + 1)^2 * den
    u128 rhs = mul(num, 4, big_r);                  // 4 * num
    for (int32_t i = 0; i < (sf > 0 ? sf : -sf); ++i) {
        if (sf > 0)
            lhs = mul(lhs, 4, big_l);
        else
            rhs = mul(rhs, 4, big_r);
    }
    if (big_l || big_r) return big_l == big_r ? 0 : (big_l ? 1 : -1);
    return lhs > rhs ? 1 : (lhs < rhs ? -1 : 0);
}

int32_t stddev_value(int64_t s1, uint64_t s2, int32_t len, int32_t sf) {
    const __int128 n = static_cast<__int128>(len) * s2 - static_cast<__int128>(s1) * s1;
    if (n <= 0) return 0;
    const u128 num = static_cast<u128>(n), den = static_cast<u128>(int64_t{len} * (len - 1));
    if (sf > 70) return 0;
    const long double est = std::sqrt(static_cast<long double>(num) / static_cast<long double>(den)) *
                            std::ldexp(1.0L, -(sf < -70 ? -70 : sf));
    if (sf < -70 || est > 2147483650.0L) return INT32_MAX;
    uint64_t k = static_cast<uint64_t>(est);
    while (mid_sign(k, num, den, sf) < 0) ++k;
    while (k > 0 && mid_sign(k - 1, num, den, sf) > 0) --k;
    if (mid_sign(k, num, den, sf) == 0 && (k & 1)) ++k;
    else if (k > 0 && mid_sign(k - 1, num, den, sf) == 0 && (k & 1)) --k;
    return k > INT32_MAX ? INT32_MAX : static_cast<int32_t>(k);
}

int32_t l2_value(uint64_t s, int32_t sf) {
    uint64_t r;
    if (sf >= 0) {
        r = sf >= 64 ? 0 : vek::root::isqrt(s) >> sf;
    } else {
        const int k = sf < -40 ? 40 : -sf;
        const uint64_t r0 = vek::root::isqrt(s);
        if (r0 != 0 && (k >= 32 || (r0 << k) >= (uint64_t{1} << 31))) return INT32_MAX;
        r = vek::root::isqrt(s << (2 * k));  // s < 2^(62 - 2k) here
    }
    return r > INT32_MAX ? INT32_MAX : static_cast<int32_t>(r);
}

int32_t inf_shift(uint32_t m, int32_t sf) {
    if (sf >= 32 || sf <= -32) return 0;
    return static_cast<int32_t>(sf >= 0 ? m >> sf : m << -sf);
}

// --- entries ------------------------------------------------------------------------------------------------------

enum class Col { Gen, Mm, Ss, Wd };

template <Col C>
struct Sums;
template <>
struct Sums<Col::Gen> : vek::stats::ScalarSums {};
template <>
struct Sums<Col::Mm> : vek::stats::LaneSums<vek::lanes::Mmx> {};
template <>
struct Sums<Col::Ss> : vek::stats::LaneSums<vek::lanes::MmxSse> {};
template <>
struct Sums<Col::Wd> : vek::stats::LaneSums<vek::lanes::Sse2> {};

template <Col C>
int64_t total(const int16_t* s, int32_t n) {
    if constexpr (C == Col::Mm) {
        int64_t t;
        vek_k_sum_16_block_mm(s, n, &t);
        return t;
    } else if constexpr (C == Col::Ss) {
        int64_t t;
        vek_k_sum_16_block_ss(s, n, &t);
        return t;
    } else if constexpr (C == Col::Wd) {
        return static_cast<int64_t>(vek_k_sum_16_block_wd(s, n));  // exact: |sum| < 2^47
    } else {
        return Sums<C>::sum(s, n);
    }
}

template <Col C>
VekStatus mean(const int16_t* s, int32_t n, int16_t* out, int32_t sf) {
    if (s == nullptr || out == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    *out = mean_value(total<C>(s, n), n, sf, C != Col::Wd);
    return VEK_OK;
}

template <Col C>
VekStatus mean_complex(const VekC16* s, int32_t n, VekC16* out, int32_t sf) {
    if (s == nullptr || out == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    const ComplexSums c = Sums<C>::csum(reinterpret_cast<const int16_t*>(s), n);
    const VekC16 r{mean_value(c.re, n, sf, C != Col::Wd), mean_value(c.im, n, sf, C != Col::Wd)};
    std::memcpy(out, &r, sizeof r);
    return VEK_OK;
}

template <Col C>
VekStatus stddev(const int16_t* s, int32_t n, int32_t* out, int32_t sf) {
    if (s == nullptr || out == nullptr) return VEK_ERR_NULL_POINTER;
    if (n < 2) return VEK_ERR_SIZE;
    *out = stddev_value(total<C>(s, n), Sums<C>::sumsq(s, n), n, sf);
    return VEK_OK;
}

template <Col C>
VekStatus stddev16(const int16_t* s, int32_t n, int16_t* out, int32_t sf) {
    if (s == nullptr || out == nullptr) return VEK_ERR_NULL_POINTER;
    if (n < 2) return VEK_ERR_SIZE;
    int32_t v = 0;
    stddev<C>(s, n, &v, sf);
    *out = static_cast<int16_t>(v > 32767 ? 32767 : v);
    return VEK_OK;
}

template <Col C>
VekStatus norm_l2(const int16_t* s, int32_t n, int32_t* out, int32_t sf) {
    if (s == nullptr || out == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    *out = l2_value(Sums<C>::sumsq(s, n), sf);
    return VEK_OK;
}

template <Col C>
VekStatus norm_diff_inf(const int16_t* a, const int16_t* b, int32_t n, int32_t* out, int32_t sf) {
    if (a == nullptr || b == nullptr || out == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    *out = inf_shift(Sums<C>::maxdiff(a, b, n), sf);
    return VEK_OK;
}

template <Col C>
VekStatus norm_diff_l2(const int16_t* a, const int16_t* b, int32_t n, int32_t* out, int32_t sf) {
    if (a == nullptr || b == nullptr || out == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    *out = l2_value(Sums<C>::sumsq_diff(a, b, n), sf);
    return VEK_OK;
}

}  // namespace

#define VEK_STATS_ENTRIES(col, C)                                                                               \
    VekStatus vek_mean_16_##col(const int16_t* s, int32_t n, int16_t* out, int32_t sf) {                        \
        return mean<C>(s, n, out, sf);                                                                          \
    }                                                                                                           \
    VekStatus vek_mean_complex_16_##col(const VekC16* s, int32_t n, VekC16* out, int32_t sf) {                  \
        return mean_complex<C>(s, n, out, sf);                                                                  \
    }                                                                                                           \
    VekStatus vek_stddev_16_##col(const int16_t* s, int32_t n, int32_t* out, int32_t sf) {                      \
        return stddev<C>(s, n, out, sf);                                                                        \
    }                                                                                                           \
    VekStatus vek_stddev_16_scaled_##col(const int16_t* s, int32_t n, int16_t* out, int32_t sf) {               \
        return stddev16<C>(s, n, out, sf);                                                                      \
    }                                                                                                           \
    VekStatus vek_norm_l2_16_##col(const int16_t* s, int32_t n, int32_t* out, int32_t sf) {                     \
        return norm_l2<C>(s, n, out, sf);                                                                       \
    }                                                                                                           \
    VekStatus vek_norm_diff_inf_16_##col(const int16_t* a, const int16_t* b, int32_t n, int32_t* out,           \
                                         int32_t sf) {                                                          \
        return norm_diff_inf<C>(a, b, n, out, sf);                                                              \
    }                                                                                                           \
    VekStatus vek_norm_diff_l2_16_##col(const int16_t* a, const int16_t* b, int32_t n, int32_t* out, int32_t sf) { \
        return norm_diff_l2<C>(a, b, n, out, sf);                                                               \
    }
VEK_STATS_ENTRIES(gen, Col::Gen)
VEK_STATS_ENTRIES(mm, Col::Mm)
VEK_STATS_ENTRIES(ss, Col::Ss)
VEK_STATS_ENTRIES(wd, Col::Wd)
#undef VEK_STATS_ENTRIES
