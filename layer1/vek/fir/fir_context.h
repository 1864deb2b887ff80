// Creation and release of FIR records: taps normalisation, the single-rate layouts, the shared free.
#pragma once

#include "layer1/vek/fir/fir.h"

namespace fir {

// Number of halvings that bring the largest magnitude among the values to 32766 or less.
int normalising_shift(const std::int32_t* values, std::int64_t count);

// Layout of the 16-bit real taps a column builds for its single-rate real filters.
enum class RealLayout { Generic, Wide };

VekStatus init_real(FirState** out, const std::int32_t* taps, std::int32_t len, std::int32_t tapsFactor,
                    const std::int16_t* delay, RealLayout layout);
VekStatus init_complex(FirState** out, const VekC32* taps, std::int32_t len, std::int32_t tapsFactor,
                       const VekC16* delay);

// Allocates a zeroed record; null when memory is short.
FirState* new_record();
// Frees every array the record holds, then the record.
void release(FirState* st);

// Scale word: taps factor plus the normalising shift, kept within 32 bits.
std::int32_t scale_word(std::int32_t tapsFactor, int shift);

}  // namespace fir

// Shared by every column.
VekStatus vek_fir_free_real_all(FirState* state);
VekStatus vek_fir_free_complex_all(FirState* state);
VekStatus vek_fir_get_taps_real_all(const FirState* state, std::int32_t* dst, std::int32_t* factor);
VekStatus vek_fir_get_taps_complex_all(const FirState* state, VekC32* dst, std::int32_t* factor);
VekStatus vek_fir_get_delay_real_all(const FirState* state, std::int16_t* dst);
VekStatus vek_fir_set_delay_real_all(FirState* state, const std::int16_t* src);
VekStatus vek_fir_get_delay_complex_all(const FirState* state, VekC16* dst);
VekStatus vek_fir_set_delay_complex_all(FirState* state, const VekC16* src);
