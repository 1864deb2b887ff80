// The filtering kernels. One implementation of each form serves every column; the named kernels of the columns
// are thin wrappers around it.
//
// Arbitrary order n (transposed direct form II, taps B0..Bn then A1..An, delay d0..d(n-1)). A call whose scale
// factor sf is below the context's tapsFactor tf first rescales every tap to t * 2^(tf - sf) (saturated) and lowers
// tf to sf, for good. With k = sf - tf, FF(v) = S(v, -k) brings feed-forward sums to the output scale and
// FB(v) = S(v, tf) feedback sums; S cuts toward zero. One sample:
//   acc = FF(B0 x) + d0;  dj = Sat32(FF(B(j+1) x) + d(j+1) - FB(A(j+1) acc)) for j = 0..n-1;  y = Sat16(acc).
// Blocks of order 2 and more take the samples in pairs, adding the two products of each tap before shifting.
//
// Biquad cascade (gain G, per section A1, A2, B1, B2 with b0 folded into G, delay W1, W2): r = S(G x, tf - sf);
// per section w = r - FB(A1 W1 + A2 W2), r = w + FB(B1 W1 + B2 W2), W2 = W1, W1 = Sat32(w); y = Sat16(r). Blocks
// take pairs, the second sample using the first one's unsaturated w.
#include "layer1/vek/iir/iir.h"
#include "layer1/vek/iir/iir_arith.h"

namespace {

using namespace vek::iir;

// --- arbitrary order --------------------------------------------------------------------------------------------

template <class Ops>
struct Arbitrary {
    using Tap = typename Ops::Tap;
    using Wide = typename Ops::Wide;
    using Work = typename Ops::Work;

    Tap* t;    // B0..Bn, A1..An
    Tap* d;    // d0..d(n-1)
    int64_t n, k, tf;

    Tap b(int64_t j) const { return load(t, j); }
    Tap a(int64_t j) const { return load(t, n + j); }  // A1 at n + 1
    Wide dd(int64_t j) const { return j < n ? Ops::stored(load(d, j)) : Ops::zero(); }
    Wide ff(Wide v) const { return Ops::sh(v, -k); }
    Wide fb(Wide v) const { return Ops::sh(v, tf); }

    // The single step; n >= 1.
    Wide one(Wide x) {
        const Work acc = Ops::to_work(Ops::add(ff(Ops::mulw(b(0), x)), dd(0)));
        const Wide w = Ops::work(acc);
        for (int64_t j = 0; j < n; ++j)
            store(d, j, Ops::to_stored(Ops::sub(Ops::add(ff(Ops::mulw(b(j + 1), x)), dd(j + 1)), fb(Ops::mulw(a(j + 1), w)))));
        return w;
    }

    // A pair of samples; n >= 2.
    void pair(Wide x0, Wide x1, Wide& y0, Wide& y1) {
        const Wide acc0 = Ops::work(Ops::to_work(Ops::add(ff(Ops::mulw(b(0), x0)), dd(0))));
        const Wide sum1 = Ops::add(Ops::mulw(b(1), x0), Ops::mulw(b(0), x1));
        const Wide acc1 = Ops::work(Ops::to_work(Ops::sub(Ops::add(ff(sum1), dd(1)), fb(Ops::mulw(a(1), acc0)))));
        for (int64_t j = 0; j + 2 < n; ++j) {
            const Wide f = ff(Ops::add(Ops::mulw(b(j + 1), x1), Ops::mulw(b(j + 2), x0)));
            const Wide g = fb(Ops::add(Ops::mulw(a(j + 1), acc1), Ops::mulw(a(j + 2), acc0)));
            store(d, j, Ops::to_stored(Ops::sub(Ops::add(f, dd(j + 2)), g)));
        }
        const Wide f2 = ff(Ops::add(Ops::mulw(b(n - 1), x1), Ops::mulw(b(n), x0)));
        const Wide g2 = fb(Ops::add(Ops::mulw(a(n - 1), acc1), Ops::mulw(a(n), acc0)));
        store(d, n - 2, Ops::to_stored(Ops::sub(f2, g2)));
        store(d, n - 1, Ops::to_stored(Ops::sub(ff(Ops::mulw(b(n), x1)), fb(Ops::mulw(a(n), acc1)))));
        y0 = acc0;
        y1 = acc1;
    }
};

// Lowers tapsFactor to sf when sf is below it, rescaling every tap; returns the filter's view of the context.
template <class Ops>
Arbitrary<Ops> prepare(IirState* st, int32_t sf) {
    using Tap = typename Ops::Tap;
    auto* taps = static_cast<Tap*>(st->taps);
    const int64_t n = st->order;
    if (sf < st->tapsFactor) {
        const int64_t up = int64_t{st->tapsFactor} - sf;
        for (int64_t j = 0; j <= 2 * n; ++j) store(taps, j, Ops::to_stored(Ops::sh(Ops::stored(load(taps, j)), up)));
        st->tapsFactor = sf;
    }
    return Arbitrary<Ops>{taps, static_cast<Tap*>(st->delay), n, int64_t{sf} - st->tapsFactor, st->tapsFactor};
}

template <class Ops>
VekStatus arb_one(typename Ops::Sample x, typename Ops::Sample* y, IirState* st, int32_t sf) {
    if (y == nullptr) return VEK_ERR_NULL_POINTER;
    Arbitrary<Ops> f = prepare<Ops>(st, sf);
    const typename Ops::Wide xs = Ops::sample(x);
    *y = Ops::to_sample(f.n == 0 ? f.ff(Ops::mulw(f.b(0), xs)) : f.one(xs));
    return VEK_OK;
}

template <class Ops>
VekStatus arb_block(const typename Ops::Sample* src, typename Ops::Sample* dst, int32_t len, IirState* st, int32_t sf) {
    if (src == nullptr || dst == nullptr) return VEK_ERR_NULL_POINTER;
    if (len < 1) return VEK_ERR_SIZE;
    Arbitrary<Ops> f = prepare<Ops>(st, sf);
    int64_t i = 0;
    if (f.n == 0) {
        for (; i < len; ++i) store(dst, i, Ops::to_sample(f.ff(Ops::mulw(f.b(0), Ops::sample(load(src, i))))));
        return VEK_OK;
    }
    if (f.n >= 2) {
        for (; i + 1 < len; i += 2) {
            typename Ops::Wide y0, y1;
            f.pair(Ops::sample(load(src, i)), Ops::sample(load(src, i + 1)), y0, y1);
            store(dst, i, Ops::to_sample(y0));
            store(dst, i + 1, Ops::to_sample(y1));
        }
    }
    for (; i < len; ++i) store(dst, i, Ops::to_sample(f.one(Ops::sample(load(src, i)))));
    return VEK_OK;
}

// --- biquad cascade ---------------------------------------------------------------------------------------------

template <class Ops>
struct Cascade {
    using Tap = typename Ops::Tap;
    using Wide = typename Ops::Wide;

    const Tap* t;  // G, then A1, A2, B1, B2 per section
    Tap* d;        // W1, W2 per section
    int64_t m, in_shift, tf;

    Wide fb(Wide v) const { return Ops::sh(v, tf); }
    Wide input(typename Ops::Sample x) const {
        return Ops::work(Ops::to_work(Ops::sh(Ops::mulw(load(t, 0), Ops::sample(x)), in_shift)));
    }
    // sum of two tap products
    static Wide dot(Tap p, Wide u, Tap q, Wide v) { return Ops::add(Ops::mulw(p, u), Ops::mulw(q, v)); }

    Wide one(Wide r) {
        for (int64_t j = 0; j < m; ++j) {
            const Tap a1 = load(t, 4 * j + 1), a2 = load(t, 4 * j + 2), b1 = load(t, 4 * j + 3), b2 = load(t, 4 * j + 4);
            const Wide w1 = Ops::stored(load(d, 2 * j)), w2 = Ops::stored(load(d, 2 * j + 1));
            const Wide w = Ops::work(Ops::to_work(Ops::sub(r, fb(dot(a1, w1, a2, w2)))));
            r = Ops::work(Ops::to_work(Ops::add(w, fb(dot(b1, w1, b2, w2)))));
            store(d, 2 * j + 1, load(d, 2 * j));
            store(d, 2 * j, Ops::to_stored(w));
        }
        return r;
    }

    void pair(Wide& r0, Wide& r1) {
        for (int64_t j = 0; j < m; ++j) {
            const Tap a1 = load(t, 4 * j + 1), a2 = load(t, 4 * j + 2), b1 = load(t, 4 * j + 3), b2 = load(t, 4 * j + 4);
            const Wide w1 = Ops::stored(load(d, 2 * j)), w2 = Ops::stored(load(d, 2 * j + 1));
            const Wide w0 = Ops::work(Ops::to_work(Ops::sub(r0, fb(dot(a1, w1, a2, w2)))));
            const Wide f1 = fb(dot(a1, w0, a2, w1)), g1 = fb(dot(b1, w0, b2, w1));
            r0 = Ops::work(Ops::to_work(Ops::add(w0, fb(dot(b1, w1, b2, w2)))));
            const Wide w = Ops::work(Ops::to_work(Ops::sub(r1, f1)));
            r1 = Ops::work(Ops::to_work(Ops::add(w, g1)));
            store(d, 2 * j + 1, Ops::to_stored(w0));
            store(d, 2 * j, Ops::to_stored(w));
        }
    }
};

template <class Ops>
Cascade<Ops> cascade(IirState* st, int32_t sf) {
    using Tap = typename Ops::Tap;
    return Cascade<Ops>{static_cast<const Tap*>(st->taps), static_cast<Tap*>(st->delay), st->order / 2,
                        int64_t{st->tapsFactor} - sf, st->tapsFactor};
}

template <class Ops>
VekStatus biquad_one(typename Ops::Sample x, typename Ops::Sample* y, IirState* st, int32_t sf) {
    if (y == nullptr) return VEK_ERR_NULL_POINTER;
    Cascade<Ops> c = cascade<Ops>(st, sf);
    *y = Ops::to_sample(c.one(c.input(x)));
    return VEK_OK;
}

template <class Ops>
VekStatus biquad_block(const typename Ops::Sample* src, typename Ops::Sample* dst, int32_t len, IirState* st,
                       int32_t sf) {
    if (src == nullptr || dst == nullptr) return VEK_ERR_NULL_POINTER;
    if (len < 1) return VEK_ERR_SIZE;
    Cascade<Ops> c = cascade<Ops>(st, sf);
    int64_t i = 0;
    for (; i + 1 < len; i += 2) {
        typename Ops::Wide r0 = c.input(load(src, i)), r1 = c.input(load(src, i + 1));
        c.pair(r0, r1);
        store(dst, i, Ops::to_sample(r0));
        store(dst, i + 1, Ops::to_sample(r1));
    }
    if (i < len) store(dst, i, Ops::to_sample(c.one(c.input(load(src, i)))));
    return VEK_OK;
}

VekC16 unpack(uint32_t x) {
    return VekC16{static_cast<int16_t>(x & 0xFFFF), static_cast<int16_t>(x >> 16)};
}

}  // namespace

#define VEK_IIR_KERNELS(col)                                                                                        \
    VekStatus vek_k_iir_arb_real_one_##col(int16_t x, int16_t* y, IirState* st, int32_t sf) {                       \
        return arb_one<Real>(x, y, st, sf);                                                                         \
    }                                                                                                               \
    VekStatus vek_k_iir_arb_complex_one_##col(uint32_t x, VekC16* y, IirState* st, int32_t sf) {                    \
        return arb_one<Complex>(unpack(x), y, st, sf);                                                              \
    }                                                                                                               \
    VekStatus vek_k_iir_arb_real_block_##col(const int16_t* s, int16_t* d, int32_t n, IirState* st, int32_t sf) {   \
        return arb_block<Real>(s, d, n, st, sf);                                                                    \
    }                                                                                                               \
    VekStatus vek_k_iir_arb_complex_block_##col(const VekC16* s, VekC16* d, int32_t n, IirState* st, int32_t sf) {  \
        return arb_block<Complex>(s, d, n, st, sf);                                                                 \
    }                                                                                                               \
    VekStatus vek_k_iir_biquad_real_one_##col(int16_t x, int16_t* y, IirState* st, int32_t sf) {                    \
        return biquad_one<Real>(x, y, st, sf);                                                                      \
    }                                                                                                               \
    VekStatus vek_k_iir_biquad_complex_one_##col(uint32_t x, VekC16* y, IirState* st, int32_t sf) {                 \
        return biquad_one<Complex>(unpack(x), y, st, sf);                                                           \
    }                                                                                                               \
    VekStatus vek_k_iir_biquad_real_block_##col(const int16_t* s, int16_t* d, int32_t n, IirState* st,              \
                                                int32_t sf) {                                                       \
        return biquad_block<Real>(s, d, n, st, sf);                                                                 \
    }                                                                                                               \
    VekStatus vek_k_iir_biquad_complex_block_##col(const VekC16* s, VekC16* d, int32_t n, IirState* st,             \
                                                   int32_t sf) {                                                    \
        return biquad_block<Complex>(s, d, n, st, sf);                                                              \
    }
VEK_IIR_KERNELS(gen)
VEK_IIR_KERNELS(mmss)
VEK_IIR_KERNELS(wd)
#undef VEK_IIR_KERNELS
