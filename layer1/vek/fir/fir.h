// FIR filters of the vector library: single-rate and multi-rate, real (16-bit samples) and complex (packed
// 16-bit pairs), with 32-bit taps. Callers reach these through the dispatch table; the per-column
// implementations are declared in fir_columns.h.
#pragma once

#include <cstdint>

#include "layer1/vek/core/vek_memory.h"
#include "layer1/vek/core/vek_status.h"
#include "layer1/vek/core/vek_types.h"

// Kind ids, the first word of every FIR record ("FI09" .. "FI12" read as big-endian four-character codes).
inline constexpr std::uint32_t FIR_KIND_REAL = 0x46493039;               // "FI09"
inline constexpr std::uint32_t FIR_KIND_COMPLEX = 0x46493130;            // "FI10"
inline constexpr std::uint32_t FIR_KIND_REAL_MULTIRATE = 0x46493131;     // "FI11"
inline constexpr std::uint32_t FIR_KIND_COMPLEX_MULTIRATE = 0x46493132;  // "FI12"

// One record per filter, allocated by an init function, owned by the caller until the matching free.
// The thirteen fields keep their traditional order; the four pointer fields are 8 bytes wide on 64-bit, so
// the record is larger than thirteen 32-bit words.
struct FirState {
    std::uint32_t kind;          // FIR_KIND_*
    std::int32_t* taps32;        // normalised taps, reversed (complex: re, im words)
    void* delay;                 // int16 (real) or VekC16 (complex) delay line
    std::int32_t tapsLength;     // len >= 1
    std::int32_t upFactor;       // multi-rate: U
    std::int32_t blockLength;    // single-rate: elements appended per block pass; multi-rate: T + 1 (complex 2T + 2)
    std::int32_t downFactor;     // multi-rate: D
    std::int32_t multirateWord;  // multi-rate: U * C (complex: twice it)
    std::int32_t scale;          // taps factor + normalising shift
    std::int16_t* taps16;        // 16-bit taps in the creating column's layout; multi-rate: polyphase tap table
    std::int32_t position;       // single-rate: position in the delay line; multi-rate: n (complex: 2n)
    std::int32_t* phaseTable;    // multi-rate: phase table (padded layouts: byte steps); else null
    std::int32_t paddedLength;   // 0 for the generic layouts; P (wide real layout) or 2 * npad (padded multi-rate)
};

// The FIR slots of the dispatch table, in the argument orders of the library's interface.
using FirInitRealFn = VekStatus (*)(FirState** state, const std::int32_t* taps, std::int32_t len,
                                    std::int32_t tapsFactor, const std::int16_t* delay);
using FirInitComplexFn = VekStatus (*)(FirState** state, const VekC32* taps, std::int32_t len,
                                       std::int32_t tapsFactor, const VekC16* delay);
using FirInitRealMultirateFn = VekStatus (*)(FirState** state, const std::int32_t* taps, std::int32_t len,
                                             std::int32_t tapsFactor, std::int32_t upFactor,
                                             std::int32_t upPhase, std::int32_t downFactor,
                                             std::int32_t downPhase, const std::int16_t* delay);
using FirInitComplexMultirateFn = VekStatus (*)(FirState** state, const VekC32* taps, std::int32_t len,
                                                std::int32_t tapsFactor, std::int32_t upFactor,
                                                std::int32_t upPhase, std::int32_t downFactor,
                                                std::int32_t downPhase, const VekC16* delay);
using FirFreeFn = VekStatus (*)(FirState* state);
using FirGetTapsRealFn = VekStatus (*)(const FirState* state, std::int32_t* dst, std::int32_t* factor);
using FirGetTapsComplexFn = VekStatus (*)(const FirState* state, VekC32* dst, std::int32_t* factor);
using FirGetDelayRealFn = VekStatus (*)(const FirState* state, std::int16_t* dst);
using FirSetDelayRealFn = VekStatus (*)(FirState* state, const std::int16_t* src);
using FirGetDelayComplexFn = VekStatus (*)(const FirState* state, VekC16* dst);
using FirSetDelayComplexFn = VekStatus (*)(FirState* state, const VekC16* src);
using FirOneRealFn = VekStatus (*)(std::int16_t in, std::int16_t* out, FirState* state, std::int32_t sf);
using FirOneComplexFn = VekStatus (*)(VekC16 in, VekC16* out, FirState* state, std::int32_t sf);
using FirBlockRealFn = VekStatus (*)(const std::int16_t* src, std::int16_t* dst, std::int32_t count,
                                     FirState* state, std::int32_t sf);
using FirBlockComplexFn = VekStatus (*)(const VekC16* src, VekC16* dst, std::int32_t count, FirState* state,
                                        std::int32_t sf);
using FirBlockRealInplaceFn = VekStatus (*)(std::int16_t* buf, std::int32_t count, FirState* state,
                                            std::int32_t sf);
using FirBlockComplexInplaceFn = VekStatus (*)(VekC16* buf, std::int32_t count, FirState* state,
                                               std::int32_t sf);
