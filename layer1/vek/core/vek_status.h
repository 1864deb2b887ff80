// Status codes of the vector library and their texts.
#pragma once

#include "layer1/vek/core/vek_types.h"

inline constexpr VekStatus VEK_OK = 0;
inline constexpr VekStatus VEK_WARN_DIV_BY_ZERO = 6;
inline constexpr VekStatus VEK_WARN_SQRT_NEGATIVE = 3;
inline constexpr VekStatus VEK_ERR_UNKNOWN = -2;
inline constexpr VekStatus VEK_ERR_BAD_ARG = -5;
inline constexpr VekStatus VEK_ERR_SIZE = -6;
inline constexpr VekStatus VEK_ERR_NULL_POINTER = -8;
inline constexpr VekStatus VEK_ERR_NO_MEMORY = -9;
inline constexpr VekStatus VEK_ERR_DIV_BY_ZERO = -10;
inline constexpr VekStatus VEK_ERR_FFT_ORDER = -15;
inline constexpr VekStatus VEK_ERR_FFT_FLAG = -16;
inline constexpr VekStatus VEK_ERR_CONTEXT_MISMATCH = -17;
inline constexpr VekStatus VEK_ERR_DELAY_INDEX = -24;
inline constexpr VekStatus VEK_ERR_IIR_ORDER = -25;
inline constexpr VekStatus VEK_ERR_FIR_LENGTH = -26;
inline constexpr VekStatus VEK_ERR_MR_PHASE = -28;
inline constexpr VekStatus VEK_ERR_MR_FACTOR = -29;
inline constexpr VekStatus VEK_ERR_SAMPLE_PHASE = -30;
inline constexpr VekStatus VEK_ERR_SAMPLE_FACTOR = -31;
inline constexpr VekStatus VEK_ERR_SHIFT = -32;
inline constexpr VekStatus VEK_ERR_CPU_NOT_SUPPORTED = -9998;
inline constexpr VekStatus VEK_ERR_MODE_NOT_SUPPORTED = -9999;

// One entry of the status vocabulary.
struct VekStatusText {
    VekStatus code;
    const char* text;
};

// The 121 known codes in ascending order, and their count.
extern const VekStatusText vek_status_texts[];
extern const int vek_status_text_count;

// Slot 1: the text of a status code; "Unknown Status Code" for any code not in the vocabulary.
const char* vek_status_text(VekStatus code);
