// What each column of the 16-bit FFT calls: its Q14 kernels, permutations, conversions and float FFT.
#pragma once

#include <cstdint>

#include "layer1/vek/fft/fft16.h"
#include "layer1/vek/fft/fft32f.h"

struct Fft16Column {
    int column;
    std::int32_t fixedLimitHint1;  // largest order of the fixed-point path with hint 1 (hint 0: 8)
    std::int32_t* (*pairs)(std::int32_t order);
    std::int16_t* (*sine)(std::int32_t order);
    std::int16_t* (*quads)(std::int32_t order, const std::int16_t* sine, std::int32_t sineOrder);
    void (*fft)(std::int32_t* data, std::int32_t n, std::int32_t direction, const std::int16_t* quads);
    void (*recombFwd)(std::int32_t* data, std::int32_t m, std::int32_t dir, const std::int16_t* quads);
    void (*recombInv)(std::int32_t* data, std::int32_t m, std::int32_t dir, const std::int16_t* quads);
    void (*permute)(std::int32_t* data, std::int32_t n, const std::int32_t* pairs);
    void (*permuteSplit)(void* data, std::int32_t n, const std::int32_t* pairs);
    void (*widen)(const std::int16_t* src, std::int32_t* dst, std::int32_t count, std::int32_t s);
    void (*narrow)(const std::int32_t* src, std::int16_t* dst, std::int32_t count, std::int32_t sf);
    void (*interleave)(std::int16_t* dst, const std::int16_t* re, const std::int16_t* im, std::int32_t order);
    void (*deinterleave)(const std::int16_t* src, std::int16_t* re, std::int16_t* im, std::int32_t order);
    void (*invSqrt2)(std::int32_t* data, std::int32_t count);
    VekStatus (*toFloat)(const std::int16_t* src, float* dst, std::int32_t len);
    VekStatus (*toInt)(const float* src, std::int16_t* dst, std::int32_t len, std::int32_t mode, std::int32_t sf);
};

const Fft16Column& vek_fft16_column(int column);

VekStatus fft16_init(const Fft16Column& c, FftSpec** out, std::int32_t order, std::int32_t flag, std::int32_t hint,
                     std::int32_t kind);
VekStatus fft16_free(const Fft16Column& c, FftSpec* spec, std::int32_t kind);
VekStatus fft16_size(const FftSpec* spec, std::int32_t* size, std::int32_t kind);
VekStatus fft16_complex(const Fft16Column& c, const std::int16_t* src, std::int16_t* dst, const FftSpec* spec,
                        std::int32_t sf, std::uint8_t* work, bool inverse);
VekStatus fft16_split(const Fft16Column& c, const std::int16_t* sr, const std::int16_t* si, std::int16_t* dr,
                      std::int16_t* di, const FftSpec* spec, std::int32_t sf, std::uint8_t* work, bool inverse);
VekStatus fft16_real_fwd(const Fft16Column& c, const std::int16_t* src, std::int16_t* dst, const FftSpec* spec,
                         std::int32_t sf, std::uint8_t* work, int layout);
VekStatus fft16_real_inv(const Fft16Column& c, const std::int16_t* src, std::int16_t* dst, const FftSpec* spec,
                         std::int32_t sf, std::uint8_t* work, int layout);
