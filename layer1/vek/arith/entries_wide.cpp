// The widening and unsigned entries: 8u + 8u and 8u * 8u into 16u (exact), saturating 16u and 32u sums, and the
// scaled 16s * 16s product into 32s. One loop serves every column.
#include "layer1/vek/arith/entries.h"

namespace {

using namespace vek::exact;

// The checks of an out-of-place vector form, then dst[i] = f(src1[i], src2[i]).
template <class A, class D, class F>
VekStatus each(const A* src1, const A* src2, D* dst, int32_t n, F f) {
    if (src1 == nullptr || src2 == nullptr || dst == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    for (int64_t i = 0; i < n; ++i) st(dst, i, f(ld(src1, i), ld(src2, i)));
    return VEK_OK;
}

VekStatus add_8_to16u(const uint8_t* s1, const uint8_t* s2, uint16_t* d, int32_t n) {
    return each(s1, s2, d, n, [](uint8_t a, uint8_t b) { return static_cast<uint16_t>(a + b); });
}
VekStatus mul_8_to16u(const uint8_t* s1, const uint8_t* s2, uint16_t* d, int32_t n) {
    return each(s1, s2, d, n, [](uint8_t a, uint8_t b) { return static_cast<uint16_t>(uint32_t{a} * b); });
}
VekStatus add_16u_sat(const uint16_t* s1, const uint16_t* s2, uint16_t* d, int32_t n) {
    return each(s1, s2, d, n, [](uint16_t a, uint16_t b) {
        const uint32_t s = uint32_t{a} + b;
        return static_cast<uint16_t>(s > 0xFFFF ? 0xFFFF : s);
    });
}
VekStatus add_32u_sat(const uint32_t* s1, const uint32_t* s2, uint32_t* d, int32_t n) {
    return each(s1, s2, d, n, [](uint32_t a, uint32_t b) {
        const uint32_t s = a + b;
        return s < a ? UINT32_MAX : s;
    });
}

// 16s * 16s into 32s: the product needs 31 bits, so only sf 31 and above clear and sf -31 and below saturate.
constexpr Bounds kProduct16To32{INT32_MIN, INT32_MAX, 30, -31};

VekStatus mul_16_to32(const int16_t* s1, const int16_t* s2, int32_t* d, int32_t n, int32_t sf) {
    if (s1 == nullptr || s2 == nullptr || d == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    with_case(case_of(sf, kProduct16To32), [&](auto k) {
        for (int64_t i = 0; i < n; ++i) {
            const int64_t p = int64_t{ld(s1, i)} * ld(s2, i);
            st(d, i, static_cast<int32_t>(scale<k.value>(p, sf, kProduct16To32)));
        }
    });
    return VEK_OK;
}

}  // namespace

#define VEK_WIDE_Each(name, impl, params, args)   \
    VekStatus name##_mm params { return impl args; } \
    VekStatus name##_ss params { return impl args; }
#define VEK_WIDE_Shared(name, impl, params, args) VekStatus name##_mmss params { return impl args; }
#define VEK_WIDE_COLUMNS(name, kind, impl, params, args) \
    VekStatus name##_gen params { return impl args; }   \
    VEK_WIDE_##kind(name, impl, params, args)            \
    VekStatus name##_wd params { return impl args; }
VEK_WIDE_COLUMNS(vek_add_vec_8_to16u, Each, add_8_to16u,
                 (const uint8_t* src1, const uint8_t* src2, uint16_t* dst, int32_t n), (src1, src2, dst, n))
VEK_WIDE_COLUMNS(vek_mul_vec_8_to16u, Shared, mul_8_to16u,
                 (const uint8_t* src1, const uint8_t* src2, uint16_t* dst, int32_t n), (src1, src2, dst, n))
VEK_WIDE_COLUMNS(vek_add_vec_16u_sat, Shared, add_16u_sat,
                 (const uint16_t* src1, const uint16_t* src2, uint16_t* dst, int32_t n), (src1, src2, dst, n))
VEK_WIDE_COLUMNS(vek_add_vec_32u_sat, Shared, add_32u_sat,
                 (const uint32_t* src1, const uint32_t* src2, uint32_t* dst, int32_t n), (src1, src2, dst, n))
VEK_WIDE_COLUMNS(vek_mul_vec_16_to32_scaled, Each, mul_16_to32,
                 (const int16_t* src1, const int16_t* src2, int32_t* dst, int32_t n, int32_t sf),
                 (src1, src2, dst, n, sf))
#undef VEK_WIDE_COLUMNS
#undef VEK_WIDE_Each
#undef VEK_WIDE_Shared
