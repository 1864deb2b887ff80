// Shared helpers of the FIR family: element access on caller memory, layout sizes, the output scaling rule.
#pragma once

#include <cstdint>
#include <cstring>

#include "layer1/vek/fir/fir.h"

namespace fir {

// Caller arrays may sit at any byte address, so every access to them goes through memcpy.
inline std::int16_t load16(const void* base, std::int64_t i) {
    std::int16_t v;
    std::memcpy(&v, static_cast<const unsigned char*>(base) + 2 * i, 2);
    return v;
}
inline void store16(void* base, std::int64_t i, std::int16_t v) {
    std::memcpy(static_cast<unsigned char*>(base) + 2 * i, &v, 2);
}
inline VekC16 loadc(const void* base, std::int64_t i) {
    VekC16 v;
    std::memcpy(&v, static_cast<const unsigned char*>(base) + 4 * i, 4);
    return v;
}
inline void storec(void* base, std::int64_t i, VekC16 v) {
    std::memcpy(static_cast<unsigned char*>(base) + 4 * i, &v, 4);
}
inline std::int32_t load32(const void* base, std::int64_t i) {
    std::int32_t v;
    std::memcpy(&v, static_cast<const unsigned char*>(base) + 4 * i, 4);
    return v;
}
inline void store32(void* base, std::int64_t i, std::int32_t v) {
    std::memcpy(static_cast<unsigned char*>(base) + 4 * i, &v, 4);
}

inline std::int64_t round_up(std::int64_t x, std::int64_t m) { return (x + m - 1) / m * m; }

// Single-rate sizes. Generic layout: delay line of 3*len + 4 elements, block pass of len rounded up to 4
// plus 1. Wide (SSE2) real layout: padded length P = len + 4 rounded up to 8, delay line P + 2*len + 4.
inline std::int64_t generic_delay_elements(std::int64_t len) { return 3 * len + 4; }
inline std::int64_t generic_block_elements(std::int64_t len) { return round_up(len, 4) + 1; }
inline std::int64_t wide_padded_length(std::int64_t len) { return round_up(len + 4, 8); }
inline std::int64_t wide_delay_elements(std::int64_t len) { return wide_padded_length(len) + 2 * len + 4; }

// True when the record carries the wide real layout that the SSE2 column builds.
inline bool has_wide_layout(const FirState* st) {
    return st->kind == FIR_KIND_REAL && st->paddedLength != 0 &&
           st->paddedLength == wide_padded_length(st->tapsLength);
}

// Net shift of an output: scale word minus the call's scale factor, limited to [-31, 31].
inline int net_shift(std::int32_t scale, std::int32_t sf) {
    std::int64_t c = std::int64_t{scale} - sf;
    if (c > 31) c = 31;
    if (c < -31) c = -31;
    return static_cast<int>(c);
}

inline std::int16_t saturate16(std::int64_t v) {
    if (v > 32767) return 32767;
    if (v < -32768) return -32768;
    return static_cast<std::int16_t>(v);
}

// Output rule of every form and column. The accumulator is the wrapped 32-bit sum. A positive net shift
// scales in 64 bits and saturates (a 32-bit shift would drop high bits and flip signs); a negative one
// rounds half to even, computed in 64 bits so the rounding bias cannot overflow.
inline std::int16_t scale_output(std::uint32_t accBits, int c) {
    const std::int64_t acc = static_cast<std::int32_t>(accBits);
    if (c == 0) return saturate16(acc);
    if (c > 0) return saturate16(acc * (std::int64_t{1} << c));
    const int k = -c;
    const std::int64_t bias = (std::int64_t{1} << (k - 1)) - 1 + ((acc >> k) & 1);
    return saturate16((acc + bias) >> k);
}

// Wrapping multiply-accumulate of a 16-bit sample and a normalised tap (the product fits in 32 bits).
inline std::uint32_t mac(std::uint32_t acc, std::int32_t x, std::int32_t tap) {
    return acc + static_cast<std::uint32_t>(x * tap);
}

// Allocation sizes beyond what a 32-bit element count can express are treated as failed allocations.
inline bool fits_count(std::int64_t n) { return n > 0 && n <= 0x7FFFFFF0; }

}  // namespace fir
