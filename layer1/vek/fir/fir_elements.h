// Element traits of the FIR loops: real filters run on int16 samples with one wrapping accumulator,
// complex filters on packed (re, im) pairs with two.
#pragma once

#include "layer1/vek/fir/fir_internal.h"

namespace fir {

struct RealElements {
    using Elem = std::int16_t;
    struct Acc {
        std::uint32_t v = 0;
    };
    static constexpr std::uint32_t kind = FIR_KIND_REAL;
    static constexpr std::uint32_t multirateKind = FIR_KIND_REAL_MULTIRATE;
    static Elem load(const void* base, std::int64_t i) { return load16(base, i); }
    static void store(void* base, std::int64_t i, Elem v) { store16(base, i, v); }
    // taps points at one tap (one int32 word; 16-bit copies take the same form).
    template <class Tap>
    static void mac(Acc& acc, Elem x, const Tap* tap) {
        acc.v = fir::mac(acc.v, x, tap[0]);
    }
    static Elem scale(const Acc& acc, int c) { return scale_output(acc.v, c); }
    static constexpr int tapWords = 1;
};

struct ComplexElements {
    using Elem = VekC16;
    struct Acc {
        std::uint32_t re = 0;
        std::uint32_t im = 0;
    };
    static constexpr std::uint32_t kind = FIR_KIND_COMPLEX;
    static constexpr std::uint32_t multirateKind = FIR_KIND_COMPLEX_MULTIRATE;
    static Elem load(const void* base, std::int64_t i) { return loadc(base, i); }
    static void store(void* base, std::int64_t i, Elem v) { storec(base, i, v); }
    // re += xre*tre - xim*tim, im += xim*tre + xre*tim, each wrapping in 32 bits.
    template <class Tap>
    static void mac(Acc& acc, Elem x, const Tap* tap) {
        const std::int32_t tre = tap[0], tim = tap[1];
        acc.re = fir::mac(acc.re, x.re, tre);
        acc.re -= static_cast<std::uint32_t>(x.im * tim);
        acc.im = fir::mac(acc.im, x.im, tre);
        acc.im = fir::mac(acc.im, x.re, tim);
    }
    static Elem scale(const Acc& acc, int c) { return Elem{scale_output(acc.re, c), scale_output(acc.im, c)}; }
    static constexpr int tapWords = 2;
};

}  // namespace fir
