// Test support for the FIR family: the four columns' entry points, exact reference models written from the
// filter's definition, and guarded buffers at any byte offset.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "layer1/vek/fir/fir.h"
#include "layer1/vek/fir/fir_columns.h"
#include "tests/vek/vek_harness.h"

namespace firtest {

struct Column {
    const char* name;
    FirInitRealFn initReal;
    FirInitComplexFn initComplex;
    FirInitRealMultirateFn initRealMultirate;
    FirInitComplexMultirateFn initComplexMultirate;
    FirOneRealFn oneReal;
    FirOneComplexFn oneComplex;
    FirBlockRealFn blockReal;
    FirBlockComplexFn blockComplex;
    FirBlockRealInplaceFn blockRealInplace;
    FirBlockComplexInplaceFn blockComplexInplace;
};

// The functions the variant rows hold for one column.
inline Column column(int c) {
    return Column{vektest::column_name(c),
                  vek_variant<VekSlot::vek_fir_init_real>(c),
                  vek_variant<VekSlot::vek_fir_init_complex>(c),
                  vek_variant<VekSlot::vek_fir_init_real_multirate>(c),
                  vek_variant<VekSlot::vek_fir_init_complex_multirate>(c),
                  vek_variant<VekSlot::vek_fir_one_real>(c),
                  vek_variant<VekSlot::vek_fir_one_complex>(c),
                  vek_variant<VekSlot::vek_fir_block_real>(c),
                  vek_variant<VekSlot::vek_fir_block_complex>(c),
                  vek_variant<VekSlot::vek_fir_block_real_inplace>(c),
                  vek_variant<VekSlot::vek_fir_block_complex_inplace>(c)};
}

inline std::array<Column, 4> columns() {
    return {column(VEK_CPU_GEN), column(VEK_CPU_MM), column(VEK_CPU_SS), column(VEK_CPU_WD)};
}

// ---- Exact reference -------------------------------------------------------------------------------

// Halvings that bring the largest magnitude to 32766 or less.
inline int ref_shift(const std::vector<std::int64_t>& values) {
    std::int64_t m = 0;
    for (std::int64_t v : values) m = std::max(m, v < 0 ? -v : v);
    int s = 0;
    while (m > 32766) m /= 2, ++s;
    return s;
}

// acc * 2^c for c >= 0, acc / 2^-c rounded to nearest with ties to even for c < 0, saturated to 16 bits.
inline std::int16_t ref_scale(std::int64_t acc, std::int64_t scale, std::int64_t sf) {
    std::int64_t c = std::clamp<std::int64_t>(scale - sf, -31, 31);
    __int128 v;
    if (c >= 0) {
        v = static_cast<__int128>(acc) << c;
    } else {
        const std::int64_t d = std::int64_t{1} << -c;
        std::int64_t q = acc >= 0 ? acc / d : -((-acc + d - 1) / d);  // floor
        const std::int64_t r = acc - q * d;
        if (2 * r > d || (2 * r == d && (q & 1))) ++q;
        v = q;
    }
    if (v > 32767) return 32767;
    if (v < -32768) return -32768;
    return static_cast<std::int16_t>(v);
}

inline std::int64_t wrap32(std::int64_t v) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(v)); }

// Real filter over a whole life of inputs: history (most recent first) then the inputs.
struct RealReference {
    std::vector<std::int64_t> taps;  // normalised, caller order
    std::int64_t scale = 0;
    std::vector<std::int64_t> x;     // oldest first; the last len - 1 before the first input are history
    RealReference(const std::vector<std::int32_t>& callerTaps, std::int32_t tapsFactor,
                  const std::vector<std::int16_t>* history) {
        std::vector<std::int64_t> t(callerTaps.begin(), callerTaps.end());
        const int s = ref_shift(t);
        for (auto& v : t) v >>= s;  // arithmetic
        taps = t;
        scale = std::int64_t{tapsFactor} + s;
        x.assign(taps.size(), 0);
        if (history)
            for (std::size_t i = 0; i < taps.size(); ++i) x[taps.size() - 1 - i] = (*history)[i];
    }
    std::int16_t push(std::int16_t in, std::int32_t sf) {
        x.push_back(in);
        std::int64_t acc = 0;
        for (std::size_t k = 0; k < taps.size(); ++k) acc = wrap32(acc + taps[k] * x[x.size() - 1 - k]);
        return ref_scale(acc, scale, sf);
    }
};

struct ComplexReference {
    std::vector<std::int64_t> re, im;
    std::int64_t scale = 0;
    std::vector<VekC16> x;
    ComplexReference(const std::vector<VekC32>& callerTaps, std::int32_t tapsFactor, const std::vector<VekC16>* history) {
        std::vector<std::int64_t> all;
        for (auto t : callerTaps) all.push_back(t.re), all.push_back(t.im);
        const int s = ref_shift(all);
        for (auto t : callerTaps) re.push_back(std::int64_t{t.re} >> s), im.push_back(std::int64_t{t.im} >> s);
        scale = std::int64_t{tapsFactor} + s;
        x.assign(re.size(), VekC16{0, 0});
        if (history)
            for (std::size_t i = 0; i < re.size(); ++i) x[re.size() - 1 - i] = (*history)[i];
    }
    VekC16 push(VekC16 in, std::int32_t sf) {
        x.push_back(in);
        std::int64_t ar = 0, ai = 0;
        for (std::size_t k = 0; k < re.size(); ++k) {
            const VekC16 v = x[x.size() - 1 - k];
            ar = wrap32(ar + re[k] * v.re - im[k] * v.im);
            ai = wrap32(ai + re[k] * v.im + im[k] * v.re);
        }
        return VekC16{ref_scale(ar, scale, sf), ref_scale(ai, scale, sf)};
    }
};

// ---- Random data ---------------------------------------------------------------------------------------

inline std::vector<std::int16_t> random16(std::mt19937& rng, std::size_t n) {
    std::uniform_int_distribution<int> edge(0, 9), which(0, 4), any(-32768, 32767);
    const std::int16_t edges[] = {-32768, -1, 0, 1, 32767};
    std::vector<std::int16_t> v(n);
    for (auto& x : v) x = edge(rng) == 0 ? edges[which(rng)] : static_cast<std::int16_t>(any(rng));
    return v;
}

// Taps of varied magnitude: some sets need normalising, some do not.
inline std::vector<std::int32_t> random_taps(std::mt19937& rng, std::size_t n) {
    std::uniform_int_distribution<int> pick(0, 3);
    std::int64_t limit;
    switch (pick(rng)) {
        case 0: limit = 300; break;
        case 1: limit = 32766; break;
        case 2: limit = 1 << 20; break;
        default: limit = INT32_MAX; break;
    }
    std::uniform_int_distribution<std::int64_t> d(-limit, limit);
    std::vector<std::int32_t> v(n);
    for (auto& t : v) t = static_cast<std::int32_t>(d(rng));
    return v;
}

}  // namespace firtest
