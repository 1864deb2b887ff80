// The modulator's block: interpolation by the six polyphase branches, pre-emphasis, the carrier and the level.
#include "layer1/modem/v34/v34_modulator.h"

#include <cmath>
#include <cstring>

#include "layer1/vek/core/vek_dispatch.h"

namespace {

inline void StoreOne(V34EchoRing* echo, PackedComplex point, int16_t cosine, int16_t sine)
{
    const int32_t re = RealPart(point);
    const int32_t im = ImagPart(point);
    const int32_t x = (re * cosine - im * sine + 0x4000) >> 15;
    const int32_t y = (im * cosine + re * sine + 0x4000) >> 15;
    echo->ring[echo->writeIndex & 0xFFFu] = PackComplex(x, y);
    echo->writeIndex = (echo->writeIndex + 1u) & 0xFFFu;
    echo->readIndex = echo->writeIndex;
}

}  // namespace

void StoreTransmitSymbol(V34EchoRing* echo, PackedComplex point, int16_t cosine, int16_t sine)
{
    StoreOne(echo, point, cosine, sine);
}

int32_t CreateV34PreEmphasisFilters(FirState* filters[kV34PreEmphasisFilters])
{
    int32_t result = 0;
    for (int32_t i = 0; i < kV34PreEmphasisFilters; ++i) {
        const int16_t(*taps)[2] = V34PreEmphasisTaps(i);
        VekC32 wide[kV34PreEmphasisTaps];
        for (int t = 0; t < kV34PreEmphasisTaps; ++t) {
            wide[t].re = taps[t][0];
            wide[t].im = taps[t][1];
        }
        filters[i] = nullptr;
        if (vek_fir_init_complex(&filters[i], wide, kV34PreEmphasisTaps, 0, nullptr) != 0)
            result = -1;
    }
    return result;
}

void FreeV34PreEmphasisFilters(FirState* filters[kV34PreEmphasisFilters])
{
    for (int32_t i = 0; i < kV34PreEmphasisFilters; ++i) {
        if (filters[i] != nullptr)
            vek_fir_free_complex(filters[i]);
        filters[i] = nullptr;
    }
}

void SetupV34Modulator(int32_t preEmphasis, int32_t rateIndex, int32_t highCarrier, V34ModulatorState* mod)
{
    if (preEmphasis < 0 || preEmphasis >= kV34PreEmphasisFilters)
        preEmphasis = 0;
    mod->preEmphasis = mod->preEmphasisSet != nullptr ? mod->preEmphasisSet[preEmphasis] : nullptr;
    if (mod->preEmphasis != nullptr) {
        // A few zero samples clear the six-tap history.
        VekC16 zeros[kV34PreEmphasisTaps] = {};
        vek_fir_block_complex_inplace(zeros, kV34PreEmphasisTaps, mod->preEmphasis, 15);
    }
    for (auto& rail : mod->branch) {
        for (FirState* b : rail) {
            if (b == nullptr)
                continue;
            const int16_t zeros[16] = {};
            vek_fir_set_delay_real(b, zeros);
        }
    }
    // 3429 baud has one carrier: its high-carrier bit selects the same one.
    const int32_t combination = rateIndex >= 5 ? 10 : 2 * (rateIndex < 0 ? 0 : rateIndex) + (highCarrier != 0);
    int32_t period = 0;
    int32_t step = 0;
    V34CarrierPeriod(combination, &period, &step);
    const double pi = std::acos(-1.0);
    for (int32_t n = 0; n < kV34CarrierArray; ++n) {
        const double phase = 2.0 * pi * step * (n % period) / period;
        mod->cosine[n] = static_cast<int16_t>(std::lround(32767.0 * std::cos(phase)));
        mod->sine[n] = static_cast<int16_t>(std::lround(32767.0 * std::sin(phase)));
    }
    mod->period = period;
    mod->carrierIndex = 0;
    mod->level = 0;
}

namespace {

// The leaky peak follower, level += |x| - (level >> 14) with saturating sums. From a level in [0, 2^29] no
// sum saturates and the level stays there (at 2^29 the leak, 32768, takes off at least what any sample
// adds), so that range runs on plain sums.
int32_t FollowLevel(int32_t level, const int16_t samples[kV34BlockSamples])
{
    constexpr int32_t kCeiling = 1 << 29;
    if (level >= 0 && level <= kCeiling) {
        for (int i = 0; i < kV34BlockSamples; ++i) {
            const int32_t magnitude = samples[i] < 0 ? -samples[i] : samples[i];
            level += magnitude - (level >> 14);
        }
        return level;
    }
    for (int i = 0; i < kV34BlockSamples; ++i) {
        const int32_t magnitude = samples[i] < 0 ? -samples[i] : samples[i];
        level = AddSat32(level, AddSat32(magnitude, -(level >> 14)));
    }
    return level;
}

}  // namespace

void V34Modulator(const PackedComplex symbols[kV34BlockSymbols], V34ModulatorState* mod,
                  int16_t samples[kV34BlockSamples])
{
    int16_t rail[2][kV34BlockSymbols];
    for (int n = 0; n < kV34BlockSymbols; ++n) {
        rail[0][n] = RealPart(symbols[n]);
        rail[1][n] = ImagPart(symbols[n]);
    }
    int16_t re[kV34BlockSamples];
    int16_t im[kV34BlockSamples];
    int16_t out[2][3][kV34BlockSymbols] = {};
    for (int r = 0; r < 2; ++r)
        for (int k = 0; k < 3; ++k)
            if (mod->branch[r][k] != nullptr)
                vek_fir_block_real(rail[r], out[r][k], kV34BlockSymbols, mod->branch[r][k], 14);
    VekC16 complexSamples[kV34BlockSamples];
    for (int n = 0; n < kV34BlockSymbols; ++n)
        for (int k = 0; k < 3; ++k)
            complexSamples[3 * n + k] = VekC16{out[0][k][n], out[1][k][n]};
    if (mod->preEmphasis != nullptr)
        vek_fir_block_complex_inplace(complexSamples, kV34BlockSamples, mod->preEmphasis, 15);
    for (int i = 0; i < kV34BlockSamples; ++i) {
        re[i] = complexSamples[i].re;
        im[i] = complexSamples[i].im;
    }
    const int16_t* cosine = mod->cosine + mod->carrierIndex;
    const int16_t* sine = mod->sine + mod->carrierIndex;
    if (mod->echo != nullptr) {
        for (int n = 0; n < kV34BlockSymbols; ++n)
            StoreOne(mod->echo, symbols[n], cosine[3 * n], sine[3 * n]);
    }
    vek_mul_vec_16_inplace_scaled(cosine, re, kV34BlockSamples, 15);
    vek_mul_vec_16_inplace_scaled(sine, im, kV34BlockSamples, 15);
    vek_sub_vec_16(im, re, samples, kV34BlockSamples);
    vek_mul_const_16_inplace_scaled(mod->outputGain, samples, kV34BlockSamples, 13);
    mod->level = FollowLevel(mod->level, samples);
    mod->carrierIndex = (mod->carrierIndex + kV34BlockSamples) % mod->period;
}
