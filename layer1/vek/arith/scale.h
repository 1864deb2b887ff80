// Scalar scale-factor arithmetic shared by the generic entry points and the scalar heads and tails of the kernels.
//
// A scaled integer primitive takes an exact intermediate r and delivers r * 2^-sf rounded half to even and
// saturated. The ranges of sf split into cases; which bounds apply depends on the width of r.
#pragma once

#include <cstdint>
#include <type_traits>

namespace vek::scale {

inline int16_t sat16(int64_t v) {
    return static_cast<int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
}
inline int32_t sat32(int64_t v) {
    return static_cast<int32_t>(v > INT32_MAX ? INT32_MAX : (v < INT32_MIN ? INT32_MIN : v));
}

// r / 2^sf rounded half to even, for 1 <= sf <= 62 and |r| <= 2^62: the bias 2^(sf-1) - 1 plus the lowest kept
// bit turns the arithmetic shift into round-half-to-even.
inline int64_t round_shift(int64_t r, int sf) {
    return (r + ((int64_t{1} << (sf - 1)) - 1) + ((r >> sf) & 1)) >> sf;
}

// The scale-factor cases of the in-place kernels.
enum class SfCase { Zero, Sf0, Sf1, Pos, Neg, Sign };

// Bounds by the width of the exact intermediate: a 16-bit product (|p| <= 2^30) rounds to 0 above sf = 30 and
// saturates to its sign at sf <= -16; a 32-bit product (|p| <= 2^62) above 62 and at <= -32; a 16-bit difference
// (|d| <= 65535) above 16 and at <= -16.
struct SfBounds {
    int zero_above;  // sf above this: every result 0
    int sign_at;     // sf at or below this: only the sign survives
};
inline constexpr SfBounds kProduct16{30, -16};
inline constexpr SfBounds kProduct32{62, -32};
inline constexpr SfBounds kDifference16{16, -16};

inline SfCase sf_case(int32_t sf, SfBounds b) {
    if (sf == 0) return SfCase::Sf0;
    if (sf == 1) return SfCase::Sf1;
    if (sf > b.zero_above) return SfCase::Zero;
    if (sf > 1) return SfCase::Pos;
    if (sf <= b.sign_at) return SfCase::Sign;
    return SfCase::Neg;
}

// One 16-bit result from an exact intermediate r (a product or a difference) in the given case. For Neg the
// product rule saturates r to 16 bits before the shift; the difference rule shifts the exact value. Both equal
// sat16(r * 2^-sf), the left shift of at most 15 on |r| <= 65535 staying inside 32 bits.
inline int16_t scale16(int32_t r, SfCase c, int32_t sf) {
    switch (c) {
        case SfCase::Zero:
            return 0;
        case SfCase::Sf0:
            return sat16(r);
        case SfCase::Sf1:
        case SfCase::Pos:
            return sat16(round_shift(r, sf));
        case SfCase::Neg:
            return sat16(static_cast<int64_t>(sat16(r)) * (int64_t{1} << -sf));
        case SfCase::Sign:
            return static_cast<int16_t>(r > 0 ? 32767 : (r < 0 ? -32768 : 0));
    }
    return 0;
}

// Calls f with the case as a compile-time constant, so that a loop written inside f is compiled once per case
// without a branch per element.
template <class F>
inline void with_case(SfCase c, F&& f) {
    switch (c) {
        case SfCase::Zero:
            f(std::integral_constant<SfCase, SfCase::Zero>{});
            break;
        case SfCase::Sf0:
            f(std::integral_constant<SfCase, SfCase::Sf0>{});
            break;
        case SfCase::Sf1:
            f(std::integral_constant<SfCase, SfCase::Sf1>{});
            break;
        case SfCase::Pos:
            f(std::integral_constant<SfCase, SfCase::Pos>{});
            break;
        case SfCase::Neg:
            f(std::integral_constant<SfCase, SfCase::Neg>{});
            break;
        case SfCase::Sign:
            f(std::integral_constant<SfCase, SfCase::Sign>{});
            break;
    }
}

// One 32-bit result from an exact 64-bit product (|p| <= 2^62).
inline int32_t scale32(int64_t p, SfCase c, int32_t sf) {
    switch (c) {
        case SfCase::Zero:
            return 0;
        case SfCase::Sf0:
            return sat32(p);
        case SfCase::Sf1:
        case SfCase::Pos:
            return sat32(round_shift(p, sf));
        case SfCase::Neg:
            return sat32(static_cast<int64_t>(sat32(p)) * (int64_t{1} << -sf));
        case SfCase::Sign:
            return p > 0 ? INT32_MAX : (p < 0 ? INT32_MIN : 0);
    }
    return 0;
}

// Saturating left shift of a 64-bit value into 32 bits: 0 stays 0, anything that leaves the range becomes the
// bound of its sign.
inline int32_t shl_sat32(int64_t r, int k) {
    if (r == 0) return 0;
    if (k >= 32) return r > 0 ? INT32_MAX : INT32_MIN;
    if (r > (int64_t{INT32_MAX} >> k)) return INT32_MAX;
    if (r < (int64_t{INT32_MIN} >> k)) return INT32_MIN;
    return static_cast<int32_t>(r * (int64_t{1} << k));
}

}  // namespace vek::scale
