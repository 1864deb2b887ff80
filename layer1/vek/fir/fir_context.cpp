#include "layer1/vek/fir/fir_context.h"

#include <cstring>

#include "layer1/vek/fir/fir_internal.h"

namespace fir {

int normalising_shift(const std::int32_t* values, std::int64_t count) {
    // Magnitudes in 64 bits: the most negative tap has no 32-bit magnitude.
    std::int64_t largest = 0;
    for (std::int64_t i = 0; i < count; ++i) {
        std::int64_t v = load32(values, i);
        if (v < 0) v = -v;
        if (v > largest) largest = v;
    }
    int s = 0;
    while (largest > 32766) {
        largest >>= 1;
        ++s;
    }
    return s;
}

std::int32_t scale_word(std::int32_t tapsFactor, int shift) {
    std::int64_t v = std::int64_t{tapsFactor} + shift;
    if (v > INT32_MAX) v = INT32_MAX;
    return static_cast<std::int32_t>(v);
}

FirState* new_record() {
    static_assert(sizeof(FirState) % 4 == 0);
    auto* st = static_cast<FirState*>(vek_alloc_32(static_cast<std::int32_t>(sizeof(FirState) / 4)));
    if (st != nullptr) *st = FirState{};
    return st;
}

void release(FirState* st) {
    vek_free(st->delay);
    vek_free(st->phaseTable);
    vek_free(st->taps16);
    vek_free(st->taps32);
    vek_free(st);
}

VekStatus init_real(FirState** out, const std::int32_t* taps, std::int32_t len, std::int32_t tapsFactor,
                    const std::int16_t* delay, RealLayout layout) {
    if (out == nullptr || taps == nullptr) return VEK_ERR_NULL_POINTER;
    if (len < 1) return VEK_ERR_FIR_LENGTH;
    const bool wide = layout == RealLayout::Wide;
    const std::int64_t padded = wide ? wide_padded_length(len) : 0;
    const std::int64_t taps16Count = wide ? 4 * padded : len;
    const std::int64_t delayCount = wide ? wide_delay_elements(len) : generic_delay_elements(len);
    if (!fits_count(taps16Count) || !fits_count(delayCount)) return VEK_ERR_NO_MEMORY;

    FirState* st = new_record();
    if (st == nullptr) return VEK_ERR_NO_MEMORY;
    st->taps32 = static_cast<std::int32_t*>(vek_alloc_32(len));
    st->taps16 = st->taps32 ? static_cast<std::int16_t*>(vek_alloc_16(static_cast<std::int32_t>(taps16Count))) : nullptr;
    st->delay = st->taps16 ? vek_alloc_16(static_cast<std::int32_t>(delayCount)) : nullptr;
    if (st->delay == nullptr) {
        release(st);
        return VEK_ERR_NO_MEMORY;
    }
    st->kind = FIR_KIND_REAL;
    st->tapsLength = len;
    const int s = normalising_shift(taps, len);
    for (std::int32_t i = 0; i < len; ++i) st->taps32[i] = load32(taps, len - 1 - i) >> s;
    st->scale = scale_word(tapsFactor, s);

    auto* d = static_cast<std::int16_t*>(st->delay);
    if (wide) {
        // Four copies of the taps, copy c shifted right by c + 1 places, zeros around them; the whole
        // delay line starts zeroed because the wide kernel reads past the valid samples into zero taps.
        std::memset(st->taps16, 0, static_cast<std::size_t>(taps16Count) * 2);
        for (std::int64_t c = 0; c < 4; ++c)
            for (std::int32_t i = 0; i < len; ++i)
                st->taps16[c * padded + c + 1 + i] = static_cast<std::int16_t>(st->taps32[i]);
        std::memset(d, 0, static_cast<std::size_t>(delayCount) * 2);
        st->blockLength = static_cast<std::int32_t>(padded);
        st->paddedLength = static_cast<std::int32_t>(padded);
    } else {
        for (std::int32_t i = 0; i < len; ++i) st->taps16[i] = static_cast<std::int16_t>(st->taps32[i]);
        std::memset(d, 0, static_cast<std::size_t>(delayCount) * 2);
        st->blockLength = static_cast<std::int32_t>(generic_block_elements(len));
    }
    if (delay != nullptr)
        for (std::int32_t i = 0; i < len; ++i) d[i] = load16(delay, len - 1 - i);
    st->position = 0;
    *out = st;
    return VEK_OK;
}

VekStatus init_complex(FirState** out, const VekC32* taps, std::int32_t len, std::int32_t tapsFactor,
                       const VekC16* delay) {
    if (out == nullptr || taps == nullptr) return VEK_ERR_NULL_POINTER;
    if (len < 1) return VEK_ERR_FIR_LENGTH;
    const std::int64_t delayCount = generic_delay_elements(len);
    if (!fits_count(4 * std::int64_t{len}) || !fits_count(delayCount)) return VEK_ERR_NO_MEMORY;

    FirState* st = new_record();
    if (st == nullptr) return VEK_ERR_NO_MEMORY;
    st->taps32 = static_cast<std::int32_t*>(vek_alloc_32(2 * len));
    st->taps16 = st->taps32 ? static_cast<std::int16_t*>(vek_alloc_16(4 * len)) : nullptr;
    st->delay = st->taps16 ? vek_alloc_32(static_cast<std::int32_t>(delayCount)) : nullptr;
    if (st->delay == nullptr) {
        release(st);
        return VEK_ERR_NO_MEMORY;
    }
    st->kind = FIR_KIND_COMPLEX;
    st->tapsLength = len;
    const int s = normalising_shift(reinterpret_cast<const std::int32_t*>(taps), 2 * std::int64_t{len});
    for (std::int32_t i = 0; i < len; ++i) {
        const std::int64_t src = len - 1 - i;
        const std::int32_t re = load32(taps, 2 * src) >> s;
        const std::int32_t im = load32(taps, 2 * src + 1) >> s;
        st->taps32[2 * i] = re;
        st->taps32[2 * i + 1] = im;
        // (re, -im) pairs give the real part of a pairwise product, (im, re) pairs the imaginary part.
        st->taps16[2 * i] = static_cast<std::int16_t>(re);
        st->taps16[2 * i + 1] = static_cast<std::int16_t>(-im);
        st->taps16[2 * len + 2 * i] = static_cast<std::int16_t>(im);
        st->taps16[2 * len + 2 * i + 1] = static_cast<std::int16_t>(re);
    }
    st->scale = scale_word(tapsFactor, s);
    auto* d = static_cast<VekC16*>(st->delay);
    std::memset(d, 0, static_cast<std::size_t>(delayCount) * 4);
    if (delay != nullptr)
        for (std::int32_t i = 0; i < len; ++i) d[i] = loadc(delay, len - 1 - i);
    st->blockLength = static_cast<std::int32_t>(round_up(2 * std::int64_t{len}, 8) + 2);
    st->position = 0;
    *out = st;
    return VEK_OK;
}

}  // namespace fir

namespace {

bool is_real(const FirState* st) {
    return st->kind == FIR_KIND_REAL || st->kind == FIR_KIND_REAL_MULTIRATE;
}
bool is_complex(const FirState* st) {
    return st->kind == FIR_KIND_COMPLEX || st->kind == FIR_KIND_COMPLEX_MULTIRATE;
}
bool is_multirate(const FirState* st) {
    return st->kind == FIR_KIND_REAL_MULTIRATE || st->kind == FIR_KIND_COMPLEX_MULTIRATE;
}

// History elements that get and set act on: len (single-rate) or ceil(len / U) (multi-rate).
std::int64_t history_length(const FirState* st) {
    if (!is_multirate(st)) return st->tapsLength;
    return (std::int64_t{st->tapsLength} + st->upFactor - 1) / st->upFactor;
}

// Index of the element holding the history value i (most recent first).
std::int64_t history_index(const FirState* st, std::int64_t i) {
    const std::int64_t h = history_length(st);
    const std::int64_t base = is_multirate(st) ? 0 : st->position;
    return base + h - 1 - i;
}

}  // namespace

VekStatus vek_fir_free_real_all(FirState* state) {
    if (state == nullptr) return VEK_ERR_NULL_POINTER;
    if (!is_real(state)) return VEK_ERR_CONTEXT_MISMATCH;
    fir::release(state);
    return VEK_OK;
}

VekStatus vek_fir_free_complex_all(FirState* state) {
    if (state == nullptr) return VEK_ERR_NULL_POINTER;
    if (!is_complex(state)) return VEK_ERR_CONTEXT_MISMATCH;
    fir::release(state);
    return VEK_OK;
}

VekStatus vek_fir_get_taps_real_all(const FirState* state, std::int32_t* dst, std::int32_t* factor) {
    if (state == nullptr || dst == nullptr || factor == nullptr) return VEK_ERR_NULL_POINTER;
    if (!is_real(state)) return VEK_ERR_CONTEXT_MISMATCH;
    const std::int32_t len = state->tapsLength;
    for (std::int32_t i = 0; i < len; ++i) fir::store32(dst, i, state->taps32[len - 1 - i]);
    fir::store32(factor, 0, state->scale);
    return VEK_OK;
}

VekStatus vek_fir_get_taps_complex_all(const FirState* state, VekC32* dst, std::int32_t* factor) {
    if (state == nullptr || dst == nullptr || factor == nullptr) return VEK_ERR_NULL_POINTER;
    if (!is_complex(state)) return VEK_ERR_CONTEXT_MISMATCH;
    const std::int32_t len = state->tapsLength;
    for (std::int32_t i = 0; i < len; ++i) {
        fir::store32(dst, 2 * std::int64_t{i}, state->taps32[2 * (len - 1 - i)]);
        fir::store32(dst, 2 * std::int64_t{i} + 1, state->taps32[2 * (len - 1 - i) + 1]);
    }
    fir::store32(factor, 0, state->scale);
    return VEK_OK;
}

VekStatus vek_fir_get_delay_real_all(const FirState* state, std::int16_t* dst) {
    if (state == nullptr || dst == nullptr) return VEK_ERR_NULL_POINTER;
    if (!is_real(state)) return VEK_ERR_CONTEXT_MISMATCH;
    const auto* d = static_cast<const std::int16_t*>(state->delay);
    const std::int64_t h = history_length(state);
    for (std::int64_t i = 0; i < h; ++i) fir::store16(dst, i, d[history_index(state, i)]);
    return VEK_OK;
}

VekStatus vek_fir_set_delay_real_all(FirState* state, const std::int16_t* src) {
    if (state == nullptr) return VEK_ERR_NULL_POINTER;
    if (!is_real(state)) return VEK_ERR_CONTEXT_MISMATCH;
    if (!is_multirate(state)) state->position = 0;
    auto* d = static_cast<std::int16_t*>(state->delay);
    const std::int64_t h = history_length(state);
    for (std::int64_t i = 0; i < h; ++i) d[history_index(state, i)] = src ? fir::load16(src, i) : 0;
    return VEK_OK;
}

VekStatus vek_fir_get_delay_complex_all(const FirState* state, VekC16* dst) {
    if (state == nullptr || dst == nullptr) return VEK_ERR_NULL_POINTER;
    if (!is_complex(state)) return VEK_ERR_CONTEXT_MISMATCH;
    const auto* d = static_cast<const VekC16*>(state->delay);
    const std::int64_t h = history_length(state);
    for (std::int64_t i = 0; i < h; ++i) fir::storec(dst, i, d[history_index(state, i)]);
    return VEK_OK;
}

VekStatus vek_fir_set_delay_complex_all(FirState* state, const VekC16* src) {
    if (state == nullptr) return VEK_ERR_NULL_POINTER;
    if (!is_complex(state)) return VEK_ERR_CONTEXT_MISMATCH;
    if (!is_multirate(state)) state->position = 0;
    auto* d = static_cast<VekC16*>(state->delay);
    const std::int64_t h = history_length(state);
    for (std::int64_t i = 0; i < h; ++i) d[history_index(state, i)] = src ? fir::loadc(src, i) : VekC16{0, 0};
    return VEK_OK;
}
