// IIR contexts: creation from the caller's taps, release, and the delay line. Every column builds the same record;
// the columns differ only in the allocator of the two arrays (wd has its own) and in the byte copy and clear behind
// the delay-line access.
//
// A caller's tap t with exponent tapsFactor stands for t * 2^tapsFactor. Conversion by a divisor d: the magnitude of
// t shifted by -tapsFactor (exactly, in 128 bits), the sign put back, divided by d truncating toward zero,
// saturated to 32 bits; complex taps are rotated by conj(d) and divided by |d|^2. An arbitrary-order context stores
// b0..bn and a1..an divided by a0 (copied unchanged when a0 is 2^-tapsFactor); a biquad cascade stores the overall
// gain G = 2^-tapsFactor * prod(b0 / a0) and per section a1/a0, a2/a0, b1/b0, b2/b0.
#include "layer1/vek/core/vek_copy.h"
#include "layer1/vek/core/vek_memory.h"
#include "layer1/vek/iir/iir.h"
#include "layer1/vek/iir/iir_arith.h"
#include "layer1/vek/iir/iir_columns.h"

namespace {

using namespace vek::iir;

// t * 2^-e with the magnitude shifted (a right shift cuts toward zero), exact; far beyond any 32-bit quotient it is
// limited to +-2^100, which still saturates after any division by a 64-bit divisor.
i128 unscaled(i128 t, int32_t e) {
    return clamp(shift(t, -int64_t{e}), -(static_cast<i128>(1) << 100), static_cast<i128>(1) << 100);
}

int32_t convert(int32_t t, int32_t e, int64_t d) {
    return sat32(unscaled(t, e) / d);
}

VekC32 convert(VekC32 t, int32_t e, VekC32 d) {
    const i128 den = static_cast<i128>(d.re) * d.re + static_cast<i128>(d.im) * d.im;
    const i128 re = static_cast<i128>(t.re) * d.re + static_cast<i128>(t.im) * d.im;
    const i128 im = static_cast<i128>(t.im) * d.re - static_cast<i128>(t.re) * d.im;
    return VekC32{sat32(unscaled(re, e) / den), sat32(unscaled(im, e) / den)};
}

bool is_zero(int32_t v) {
    return v == 0;
}
bool is_zero(VekC32 v) {
    return v.re == 0 && v.im == 0;
}

// 2^-tapsFactor saturated to 32 bits (0 for a positive tapsFactor).
int32_t unit(int32_t tf) {
    return sat32(tf > 0 ? 0 : shift(1, -int64_t{tf}));
}
bool is_unit(int32_t v, int32_t tf) {
    return v == unit(tf);
}
bool is_unit(VekC32 v, int32_t tf) {
    return v.re == unit(tf) && v.im == 0;
}

void release(IirState* st) {
    vek_free(st->delay);
    vek_free(st->taps);
    vek_free(st);
}

// The record and its two arrays; null (nothing left allocated) when an allocation fails.
template <Col C, class Tap>
IirState* create(int64_t tap_count, int64_t delay_count) {
    auto* st = static_cast<IirState*>(vek_alloc_8(static_cast<int32_t>(sizeof(IirState))));
    if (st == nullptr) return nullptr;
    *st = IirState{};
    st->taps = tap_count <= INT32_MAX ? alloc_elements<C, Tap>(static_cast<int32_t>(tap_count)) : nullptr;
    st->delay = delay_count > 0 && delay_count <= INT32_MAX ? alloc_elements<C, Tap>(static_cast<int32_t>(delay_count))
                                                            : nullptr;
    if (st->taps == nullptr || (delay_count > 0 && st->delay == nullptr)) {
        release(st);
        return nullptr;
    }
    return st;
}

template <class Tap>
void load_delay(IirState* st, const Tap* init, int64_t count) {
    auto* d = static_cast<Tap*>(st->delay);
    for (int64_t i = 0; i < count; ++i) store(d, i, init != nullptr ? load(init, i) : Tap{});
}

template <Col C, class Tap>
VekStatus init_arbitrary(IirState** out, const Tap* taps, int32_t order, int32_t tf, const Tap* delay, uint32_t kind) {
    if (taps == nullptr || out == nullptr) return VEK_ERR_NULL_POINTER;
    if (order < 0) return VEK_ERR_IIR_ORDER;
    *out = nullptr;
    const int64_t n = order;
    IirState* st = create<C, Tap>(2 * n + 1, n);
    if (st == nullptr) return VEK_ERR_NO_MEMORY;
    st->kind = kind;
    st->order = order;
    const Tap a0 = load(taps, n + 1);
    if (is_zero(a0)) {
        release(st);
        return VEK_ERR_DIV_BY_ZERO;
    }
    auto* stored = static_cast<Tap*>(st->taps);
    const bool copy = is_unit(a0, tf);
    auto put = [&](int64_t to, int64_t from) {
        const Tap t = load(taps, from);
        store(stored, to, copy ? t : convert(t, tf, a0));
    };
    put(0, 0);
    for (int64_t k = 1; k <= n; ++k) {
        put(k, k);          // bk
        put(n + k, n + 1 + k);  // ak
    }
    st->tapsFactor = tf;
    load_delay(st, delay, n);
    *out = st;
    return VEK_OK;
}

// The running gain: a real or complex 128-bit value limited to +-2^60 after each section, where any stored gain
// has long saturated.
i128 limit_gain(i128 g) {
    return clamp(g, -(static_cast<i128>(1) << 60), static_cast<i128>(1) << 60);
}
template <class Gain>
Gain start_gain(int32_t tf) {
    const i128 u = limit_gain(tf > 0 ? 0 : shift(1, -int64_t{tf}));
    if constexpr (sizeof(Gain) == sizeof(i128))
        return u;
    else
        return Gain{u, 0};
}
void gain_step(i128& g, int32_t b0, int32_t a0) {
    g = limit_gain(g * b0 / a0);
}
void gain_step(Complex::Pair& g, VekC32 b0, VekC32 a0) {
    const i128 pr = g.re * b0.re - g.im * b0.im, pi = g.re * b0.im + g.im * b0.re;
    const i128 den = static_cast<i128>(a0.re) * a0.re + static_cast<i128>(a0.im) * a0.im;
    g.re = limit_gain((pr * a0.re + pi * a0.im) / den);
    g.im = limit_gain((pi * a0.re - pr * a0.im) / den);
}
int32_t gain_tap(i128 g) {
    return sat32(g);
}
VekC32 gain_tap(Complex::Pair g) {
    return VekC32{sat32(g.re), sat32(g.im)};
}

template <Col C, class Tap, class Gain>
VekStatus init_biquad(IirState** out, const Tap* taps, int32_t sections, int32_t tf, const Tap* delay, uint32_t kind) {
    if (taps == nullptr || out == nullptr) return VEK_ERR_NULL_POINTER;
    if (sections <= 0) return VEK_ERR_IIR_ORDER;
    *out = nullptr;
    const int64_t m = sections;
    IirState* st = create<C, Tap>(4 * m + 1, 2 * m);
    if (st == nullptr) return VEK_ERR_NO_MEMORY;
    st->kind = kind;
    st->order = static_cast<int32_t>(2 * m);
    Gain g = start_gain<Gain>(tf);
    auto* stored = static_cast<Tap*>(st->taps);
    for (int64_t j = 0; j < m; ++j) {
        const Tap* s = taps + 6 * j;
        const Tap b0 = load(s, 0), a0 = load(s, 3);
        if (is_zero(a0) || is_zero(b0)) {
            release(st);
            return VEK_ERR_DIV_BY_ZERO;
        }
        gain_step(g, b0, a0);
        store(stored, 4 * j + 1, convert(load(s, 4), tf, a0));
        store(stored, 4 * j + 2, convert(load(s, 5), tf, a0));
        store(stored, 4 * j + 3, convert(load(s, 1), tf, b0));
        store(stored, 4 * j + 4, convert(load(s, 2), tf, b0));
    }
    store(stored, 0, gain_tap(g));
    st->tapsFactor = tf;
    load_delay(st, delay, 2 * m);
    *out = st;
    return VEK_OK;
}

template <Col C>
VekStatus get_delay(const IirState* st, void* dst, uint32_t k1, uint32_t k2, int bytes) {
    if (st == nullptr || dst == nullptr) return VEK_ERR_NULL_POINTER;
    if (st->kind != k1 && st->kind != k2) return VEK_ERR_CONTEXT_MISMATCH;
    copy_bytes<C>(st->delay, dst, int64_t{st->order} * bytes);  // its status (order 0: nothing) is not passed on
    return VEK_OK;
}

template <Col C>
VekStatus set_delay(IirState* st, const void* src, uint32_t k1, uint32_t k2, int bytes) {
    if (st == nullptr) return VEK_ERR_NULL_POINTER;
    if (st->kind != k1 && st->kind != k2) return VEK_ERR_CONTEXT_MISMATCH;
    if (src != nullptr)
        copy_bytes<C>(src, st->delay, int64_t{st->order} * bytes);
    else
        zero_bytes<C>(st->delay, int64_t{st->order} * bytes);
    return VEK_OK;
}

VekStatus free_kind(IirState* st, uint32_t k1, uint32_t k2) {
    if (st == nullptr) return VEK_ERR_NULL_POINTER;
    if (st->kind != k1 && st->kind != k2) return VEK_ERR_CONTEXT_MISMATCH;
    release(st);
    return VEK_OK;
}

}  // namespace

#define VEK_IIR_INITS(col, C)                                                                                        \
    VekStatus vek_iir_init_real_##col(IirState** st, const int32_t* t, int32_t order, int32_t tf, const int32_t* d) { \
        return init_arbitrary<C>(st, t, order, tf, d, VEK_IIR_REAL_ARBITRARY);                                      \
    }                                                                                                                \
    VekStatus vek_iir_init_complex_##col(IirState** st, const VekC32* t, int32_t order, int32_t tf,                  \
                                         const VekC32* d) {                                                          \
        return init_arbitrary<C>(st, t, order, tf, d, VEK_IIR_COMPLEX_ARBITRARY);                                   \
    }                                                                                                                \
    VekStatus vek_iir_init_biquad_real_##col(IirState** st, const int32_t* t, int32_t m, int32_t tf,                 \
                                             const int32_t* d) {                                                     \
        return init_biquad<C, int32_t, i128>(st, t, m, tf, d, VEK_IIR_REAL_BIQUAD);                                  \
    }                                                                                                                \
    VekStatus vek_iir_init_biquad_complex_##col(IirState** st, const VekC32* t, int32_t m, int32_t tf,               \
                                                const VekC32* d) {                                                   \
        return init_biquad<C, VekC32, Complex::Pair>(st, t, m, tf, d, VEK_IIR_COMPLEX_BIQUAD);                       \
    }
VEK_IIR_INITS(gen, Col::Gen)
VEK_IIR_INITS(mmss, Col::Ss)
VEK_IIR_INITS(wd, Col::Wd)
#undef VEK_IIR_INITS

VekStatus vek_iir_free_real(IirState* st) {
    return free_kind(st, VEK_IIR_REAL_ARBITRARY, VEK_IIR_REAL_BIQUAD);
}
VekStatus vek_iir_free_complex(IirState* st) {
    return free_kind(st, VEK_IIR_COMPLEX_ARBITRARY, VEK_IIR_COMPLEX_BIQUAD);
}

#define VEK_IIR_DELAY(col, C)                                                                                  \
    VekStatus vek_iir_get_delay_real_##col(const IirState* st, int32_t* dst) {                                 \
        return get_delay<C>(st, dst, VEK_IIR_REAL_ARBITRARY, VEK_IIR_REAL_BIQUAD, 4);                          \
    }                                                                                                          \
    VekStatus vek_iir_set_delay_real_##col(IirState* st, const int32_t* src) {                                 \
        return set_delay<C>(st, src, VEK_IIR_REAL_ARBITRARY, VEK_IIR_REAL_BIQUAD, 4);                          \
    }                                                                                                          \
    VekStatus vek_iir_get_delay_complex_##col(const IirState* st, VekC32* dst) {                               \
        return get_delay<C>(st, dst, VEK_IIR_COMPLEX_ARBITRARY, VEK_IIR_COMPLEX_BIQUAD, 8);                    \
    }                                                                                                          \
    VekStatus vek_iir_set_delay_complex_##col(IirState* st, const VekC32* src) {                               \
        return set_delay<C>(st, src, VEK_IIR_COMPLEX_ARBITRARY, VEK_IIR_COMPLEX_BIQUAD, 8);                    \
    }
VEK_IIR_DELAY(gen, Col::Gen)
VEK_IIR_DELAY(mm, Col::Mm)
VEK_IIR_DELAY(ss, Col::Ss)
VEK_IIR_DELAY(wd, Col::Wd)
#undef VEK_IIR_DELAY
