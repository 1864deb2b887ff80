// The generic FIR loops in plain integer arithmetic. The generic and MMX columns each compile their own
// instance (the Column parameter only tells the instances apart).
#pragma once

#include <algorithm>
#include <cstring>

#include "layer1/vek/fir/fir_elements.h"

namespace fir {

template <class E, int Column>
struct GenericLoops {
    using Elem = typename E::Elem;
    using Acc = typename E::Acc;

    // Sum over the len taps of w[i] * taps32[i], the window read through `at`.
    template <class At>
    static Acc dot(const std::int32_t* taps32, std::int64_t len, At at) {
        Acc acc;
        for (std::int64_t i = 0; i < len; ++i) E::mac(acc, at(i), taps32 + E::tapWords * i);
        return acc;
    }

    // One sample: store at the position and len further on, step the position, filter the len newest.
    static Elem one(FirState* st, Elem in, std::int32_t sf) {
        const std::int64_t len = st->tapsLength;
        auto* d = static_cast<Elem*>(st->delay);
        std::int64_t pos = st->position;
        d[pos] = in;
        d[pos + len] = in;
        pos = pos + 1 == len ? 0 : pos + 1;
        st->position = static_cast<std::int32_t>(pos);
        const Elem* w = d + pos;
        return E::scale(dot(st->taps32, len, [w](std::int64_t i) { return w[i]; }), net_shift(st->scale, sf));
    }

    // Block: the first outputs from the delay window (history followed by the first inputs), the rest
    // straight from the caller's input, then the newest len inputs become the history at position 0.
    static void block(FirState* st, const Elem* src, Elem* dst, std::int64_t count, std::int32_t sf) {
        const std::int64_t len = st->tapsLength;
        const int c = net_shift(st->scale, sf);
        auto* d = static_cast<Elem*>(st->delay);
        const std::int64_t p = st->position;
        st->position = 0;
        const std::int64_t B = generic_block_elements(len);
        const std::int64_t appended = std::min(count, B);
        for (std::int64_t k = 0; k < appended; ++k) d[p + len + k] = E::load(src, k);
        const Elem* w = d + p + 1;
        const std::int64_t fromDelay = count < B ? count : round_up(len, 4);
        const std::int32_t* taps = st->taps32;
        std::int64_t j = 0;
        for (; j + 4 <= fromDelay; j += 4)
            for (std::int64_t q = 0; q < 4; ++q)
                E::store(dst, j + q, E::scale(dot(taps, len, [w, j, q](std::int64_t i) { return w[j + q + i]; }), c));
        for (; j < fromDelay; ++j)
            E::store(dst, j, E::scale(dot(taps, len, [w, j](std::int64_t i) { return w[j + i]; }), c));
        // Output j reads inputs j - len + 1 .. j.
        auto fromInput = [&](std::int64_t jj) {
            const std::int64_t first = jj - len + 1;
            return E::scale(dot(taps, len, [src, first](std::int64_t i) { return E::load(src, first + i); }), c);
        };
        for (; j + 4 <= count; j += 4)
            for (std::int64_t q = 0; q < 4; ++q) E::store(dst, j + q, fromInput(j + q));
        for (; j < count; ++j) E::store(dst, j, fromInput(j));
        // The window of the last len inputs overlaps the history when count < len.
        if (count >= len)
            for (std::int64_t k = 0; k < len; ++k) d[k] = E::load(src, count - len + k);
        else
            std::memmove(d, w + count - 1, static_cast<std::size_t>(len) * sizeof(Elem));
    }
};

}  // namespace fir
