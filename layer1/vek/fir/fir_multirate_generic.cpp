// Generic multi-rate block loop: output groups of four lanes over the polyphase tap table.
#include <algorithm>
#include <cstring>

#include "layer1/vek/fir/fir_elements.h"
#include "layer1/vek/fir/fir_multirate.h"

namespace fir {

namespace {

// The window of one block call: the n history elements, then the inputs. Positions below n + appended sit
// in the delay line (the history and the inputs copied behind it); later positions are read from the
// caller's input (window position n + k is input k).
template <class E>
struct Window {
    using Elem = typename E::Elem;
    const Elem* delay;
    const Elem* src;
    std::int64_t n;
    std::int64_t inDelay;  // n + appended
    std::int64_t limit;    // n + inputs of this call: nothing at or past it is read
    Elem at(std::int64_t w) const { return w < inDelay ? delay[w] : E::load(src, w - n); }
};

// Copies min(F, T + 1) inputs behind the history and returns the window of this call.
template <class E>
Window<E> open_window(FirState* st, const typename E::Elem* src, std::int64_t inputs) {
    const MultirateSizes z = multirate_sizes(st->tapsLength, st->upFactor, st->downFactor);
    auto* d = static_cast<typename E::Elem*>(st->delay);
    const std::int64_t appended = std::min(inputs, z.T + 1);
    for (std::int64_t k = 0; k < appended; ++k) d[z.n + k] = E::load(src, k);
    return Window<E>{d, src, z.n, z.n + appended, z.n + inputs};
}

// The newest n inputs become the history, oldest first.
template <class E>
void close_window(FirState* st, const Window<E>& win, std::int64_t inputs) {
    auto* d = static_cast<typename E::Elem*>(st->delay);
    const std::int64_t n = win.n;
    if (inputs + n <= win.inDelay)
        std::memmove(d, d + inputs, static_cast<std::size_t>(n) * sizeof(typename E::Elem));
    else
        for (std::int64_t i = 0; i < n; ++i) d[i] = E::load(win.src, inputs - n + i);
}

template <class E>
void block_generic(FirState* st, const typename E::Elem* src, typename E::Elem* dst, std::int64_t iterations,
                   std::int32_t sf) {
    using Acc = typename E::Acc;
    const std::int64_t U = st->upFactor;
    const std::int64_t inputs = st->downFactor * iterations;
    const std::int64_t outputs = U * iterations;
    const Window<E> win = open_window<E>(st, src, inputs);
    const std::int64_t n = win.n;
    const std::int32_t* phase = st->phaseTable;
    const std::int16_t* table = st->taps16;
    const int c = net_shift(st->scale, sf);
    std::int64_t base = 0;  // running window offset, grows by the last phase entry every U groups
    std::int64_t g = 0;
    for (std::int64_t j = 0; j < outputs; j += 4) {
        const std::int64_t lanes = std::min<std::int64_t>(4, outputs - j);
        for (std::int64_t l = 0; l < lanes; ++l) {
            const std::int64_t start = base + phase[4 * g + l];
            const std::int64_t stop = std::min(n, win.limit - start);  // a sum stops at the last input
            Acc acc;
            for (std::int64_t r = 0; r < stop; ++r)
                E::mac(acc, win.at(start + r), table + E::tapWords * ((g * n + r) * 4 + l));
            E::store(dst, j + l, E::scale(acc, c));
        }
        if (++g == U) {
            g = 0;
            base += phase[4 * U];
        }
    }
    close_window<E>(st, win, inputs);
}

}  // namespace

void multirate_block_real_generic(FirState* st, const std::int16_t* src, std::int16_t* dst,
                                  std::int64_t iterations, std::int32_t sf) {
    block_generic<RealElements>(st, src, dst, iterations, sf);
}

void multirate_block_complex_generic(FirState* st, const VekC16* src, VekC16* dst, std::int64_t iterations,
                                     std::int32_t sf) {
    block_generic<ComplexElements>(st, src, dst, iterations, sf);
}

}  // namespace fir
