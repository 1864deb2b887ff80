#include <cstring>

#include "layer1/vek/core/vek_copy.h"
#include "layer1/vek/fir/fir_context.h"
#include "layer1/vek/fir/fir_internal.h"
#include "layer1/vek/fir/fir_multirate.h"

namespace fir {

MultirateSizes multirate_sizes(std::int64_t len, std::int64_t up, std::int64_t down) {
    MultirateSizes z;
    z.n = (len + up - 1) / up;
    z.T = (z.n / (4 * down) + 1) * (4 * down);
    z.C = (z.n + down - 1) / down;
    z.npad = round_up(z.n, 4);
    return z;
}

namespace {

// One polyphase list: the taps (reversed-tap indices first, first + U, ...) that lane l of group g applies
// to consecutive window positions starting at its phase offset.
struct LaneList {
    std::int32_t first;
    std::int32_t count;
};

bool fits_word(std::int64_t v) { return v >= 0 && v <= INT32_MAX; }

}  // namespace

VekStatus init_multirate(FirState** out, const std::int32_t* taps, bool complex, std::int32_t len,
                         std::int32_t tapsFactor, std::int32_t up, std::int32_t upPhase, std::int32_t down,
                         std::int32_t downPhase, const void* delay, MultirateLayout layout) {
    if (out == nullptr || taps == nullptr) return VEK_ERR_NULL_POINTER;
    if (len <= 0) return VEK_ERR_FIR_LENGTH;
    if (up <= 0 || down <= 0) return VEK_ERR_MR_FACTOR;
    if (upPhase < 0 || upPhase >= up || downPhase < 0 || downPhase >= down) return VEK_ERR_MR_PHASE;

    const std::int64_t U = up, D = down, pu = upPhase, pd = downPhase;
    const MultirateSizes z = multirate_sizes(len, U, D);
    const std::int64_t n = z.n;
    const bool padded = layout == MultirateLayout::Padded;
    const std::int64_t laneTaps = padded ? z.npad : n;
    const std::int64_t tableElements = 4 * U * laneTaps;
    const std::int64_t halvesPerElement = complex ? 2 : 1;
    const std::int64_t delayElements = n + z.T + 2;
    const std::int64_t phaseCount = 4 * U + 1;
    const std::int64_t ucWord = padded ? round_up(U * z.C, 4) : U * z.C;
    if (!fits_count(tableElements * halvesPerElement) || !fits_count(delayElements * halvesPerElement) ||
        !fits_count(phaseCount) || !fits_count(8 * U) || !fits_word(halvesPerElement * (z.T + 1)) ||
        !fits_word(halvesPerElement * ucWord) || !fits_word(2 * laneTaps) || !fits_word(8 * (z.T + 2)))
        return VEK_ERR_NO_MEMORY;

    FirState* st = new_record();
    if (st == nullptr) return VEK_ERR_NO_MEMORY;
    st->taps32 = static_cast<std::int32_t*>(vek_alloc_32(static_cast<std::int32_t>(halvesPerElement * len)));
    st->taps16 = st->taps32 ? static_cast<std::int16_t*>(vek_alloc_16(static_cast<std::int32_t>(tableElements * halvesPerElement)))
                            : nullptr;
    st->phaseTable = st->taps16 ? static_cast<std::int32_t*>(vek_alloc_32(static_cast<std::int32_t>(phaseCount))) : nullptr;
    st->delay = st->phaseTable ? vek_alloc_16(static_cast<std::int32_t>(delayElements * halvesPerElement)) : nullptr;
    if (st->delay == nullptr) {
        release(st);
        return VEK_ERR_NO_MEMORY;
    }

    // Normalised, reversed taps as in the single-rate filters.
    const int s = normalising_shift(taps, halvesPerElement * len);
    for (std::int64_t i = 0; i < len; ++i)
        for (std::int64_t h = 0; h < halvesPerElement; ++h)
            st->taps32[halvesPerElement * i + h] = load32(taps, halvesPerElement * (len - 1 - i) + h) >> s;

    // Walk the up-sampled positions group by group. Column c of lane l's row stands for the reversed tap
    // c - l*D; u runs over the up-sampled positions where inputs land and a counts the matching window
    // position of the input (window position n + k holds input k).
    std::int32_t* phase = st->phaseTable;
    // Offsets not set by a lane stay -1 until the fix-up below (the column's own 32-bit fill).
    (padded ? vek_set_32_ss : vek_set_32_gen)(-1, phase, static_cast<std::int32_t>(4 * U));
    std::int64_t u = (std::int64_t{len} - 1) % U + pu;
    std::int64_t a = 1;
    if (u >= U) {
        u -= U;
        a = 0;
    }
    auto advance_to = [&](std::int64_t t) {
        if (u < t) {
            const std::int64_t steps = (t - u + U - 1) / U;
            u += steps * U;
            a += steps;
        }
    };
    std::int64_t a0 = 0;
    // Scratch: one list per lane of every group.
    auto* lists = static_cast<LaneList*>(vek_alloc_32(static_cast<std::int32_t>(8 * U)));
    if (lists == nullptr) {
        release(st);
        return VEK_ERR_NO_MEMORY;
    }
    for (std::int64_t e = 0; e < 4 * U; ++e) lists[e] = LaneList{-1, 0};
    for (std::int64_t g = 0; g < U; ++g) {
        const std::int64_t t = pd + 4 * D * g;
        advance_to(t);
        if (g == 0) a0 = a;
        const std::int64_t cStart = u - t;  // in [0, U)
        for (std::int64_t l = 0; l < 4; ++l) {
            const std::int64_t lo = l * D, hi = l * D + len;  // columns holding taps
            std::int64_t c1 = cStart;
            if (c1 < lo) c1 += (lo - c1 + U - 1) / U * U;
            if (c1 >= hi) continue;
            LaneList& list = lists[4 * g + l];
            list.first = static_cast<std::int32_t>(c1 - lo);
            list.count = static_cast<std::int32_t>((hi - 1 - c1) / U + 1);
            phase[4 * g + l] = static_cast<std::int32_t>(a + (c1 - cStart) / U);
        }
    }
    advance_to(pd + 4 * U * D);
    if (phase[0] == -1) phase[0] = static_cast<std::int32_t>(a0);
    phase[4 * U] = static_cast<std::int32_t>(a - phase[0]);
    for (std::int64_t e = 1; e < 4 * U; ++e)
        if (phase[e] == -1) phase[e] = phase[e - 1];

    // Tap tables: 16-bit copies of the normalised taps, zero where a lane's list is shorter.
    std::memset(st->taps16, 0, static_cast<std::size_t>(tableElements * halvesPerElement) * 2);
    for (std::int64_t g = 0; g < U; ++g)
        for (std::int64_t l = 0; l < 4; ++l) {
            const LaneList& list = lists[4 * g + l];
            for (std::int64_t r = 0; r < list.count; ++r) {
                const std::int64_t k = list.first + r * U;
                const std::int64_t slot = padded ? (4 * g + l) * laneTaps + r : (g * n + r) * 4 + l;
                for (std::int64_t h = 0; h < halvesPerElement; ++h)
                    st->taps16[slot * halvesPerElement + h] =
                        static_cast<std::int16_t>(st->taps32[halvesPerElement * k + h]);
            }
        }
    vek_free(lists);

    if (padded) {
        // Window offsets become pointer steps in bytes of 16-bit data: the first offset doubled, every later
        // entry (the step after the last group included) twice its difference to the one before.
        std::int32_t prev = phase[0];
        phase[0] = 2 * prev;
        for (std::int64_t e = 1; e <= 4 * U; ++e) {
            const std::int32_t cur = phase[e];
            phase[e] = 2 * (cur - prev);
            prev = cur;
        }
    }

    std::memset(st->delay, 0, static_cast<std::size_t>(delayElements * halvesPerElement) * 2);
    auto* d16 = static_cast<std::int16_t*>(st->delay);
    if (delay != nullptr)
        for (std::int64_t i = 0; i < n; ++i)
            for (std::int64_t h = 0; h < halvesPerElement; ++h)
                d16[i * halvesPerElement + h] = load16(delay, (n - 1 - i) * halvesPerElement + h);

    st->kind = complex ? FIR_KIND_COMPLEX_MULTIRATE : FIR_KIND_REAL_MULTIRATE;
    st->tapsLength = len;
    st->upFactor = up;
    st->downFactor = down;
    st->blockLength = static_cast<std::int32_t>(halvesPerElement * (z.T + 1));
    st->multirateWord = static_cast<std::int32_t>(halvesPerElement * ucWord);
    st->scale = scale_word(tapsFactor, s);
    st->position = static_cast<std::int32_t>(halvesPerElement * n);
    st->paddedLength = padded ? static_cast<std::int32_t>(2 * laneTaps) : 0;
    *out = st;
    return VEK_OK;
}

}  // namespace fir
