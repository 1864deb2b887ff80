// Slot 117: cross-correlation of two 16-bit vectors over a range of lags (see xcorr.cpp).
#pragma once

#include <cstdint>

#include "layer1/vek/core/vek_status.h"

#define VEK_XCORR_DECLARE(col)                                                                                    \
    VekStatus vek_cross_corr_16_##col(const std::int16_t* src1, std::int32_t len1, const std::int16_t* src2,     \
                                      std::int32_t len2, std::int16_t* dst, std::int32_t dstLen,                 \
                                      std::int32_t lowLag, std::int32_t sf);
VEK_XCORR_DECLARE(gen)
VEK_XCORR_DECLARE(mm)
VEK_XCORR_DECLARE(ss)
VEK_XCORR_DECLARE(wd)
#undef VEK_XCORR_DECLARE
