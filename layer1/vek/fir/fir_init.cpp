// Creation entries of every column.
#include "layer1/vek/fir/fir_columns.h"
#include "layer1/vek/fir/fir_multirate.h"

VekStatus vek_fir_init_real_gen(FirState** state, const std::int32_t* taps, std::int32_t len,
                                std::int32_t tapsFactor, const std::int16_t* delay) {
    return fir::init_real(state, taps, len, tapsFactor, delay, fir::RealLayout::Generic);
}

VekStatus vek_fir_init_real_wd(FirState** state, const std::int32_t* taps, std::int32_t len,
                               std::int32_t tapsFactor, const std::int16_t* delay) {
    return fir::init_real(state, taps, len, tapsFactor, delay, fir::RealLayout::Wide);
}

VekStatus vek_fir_init_complex_all(FirState** state, const VekC32* taps, std::int32_t len,
                                   std::int32_t tapsFactor, const VekC16* delay) {
    return fir::init_complex(state, taps, len, tapsFactor, delay);
}

VekStatus vek_fir_init_real_multirate_gen(FirState** state, const std::int32_t* taps, std::int32_t len,
                                          std::int32_t tapsFactor, std::int32_t upFactor, std::int32_t upPhase,
                                          std::int32_t downFactor, std::int32_t downPhase,
                                          const std::int16_t* delay) {
    return fir::init_multirate(state, taps, false, len, tapsFactor, upFactor, upPhase, downFactor, downPhase, delay,
                               fir::MultirateLayout::Generic);
}

VekStatus vek_fir_init_real_multirate_ss(FirState** state, const std::int32_t* taps, std::int32_t len,
                                         std::int32_t tapsFactor, std::int32_t upFactor, std::int32_t upPhase,
                                         std::int32_t downFactor, std::int32_t downPhase,
                                         const std::int16_t* delay) {
    return fir::init_multirate(state, taps, false, len, tapsFactor, upFactor, upPhase, downFactor, downPhase, delay,
                               fir::MultirateLayout::Padded);
}

VekStatus vek_fir_init_complex_multirate_gen(FirState** state, const VekC32* taps, std::int32_t len,
                                             std::int32_t tapsFactor, std::int32_t upFactor,
                                             std::int32_t upPhase, std::int32_t downFactor,
                                             std::int32_t downPhase, const VekC16* delay) {
    return fir::init_multirate(state, reinterpret_cast<const std::int32_t*>(taps), true, len, tapsFactor, upFactor,
                               upPhase, downFactor, downPhase, delay, fir::MultirateLayout::Generic);
}

VekStatus vek_fir_init_complex_multirate_ss(FirState** state, const VekC32* taps, std::int32_t len,
                                            std::int32_t tapsFactor, std::int32_t upFactor,
                                            std::int32_t upPhase, std::int32_t downFactor,
                                            std::int32_t downPhase, const VekC16* delay) {
    return fir::init_multirate(state, reinterpret_cast<const std::int32_t*>(taps), true, len, tapsFactor, upFactor,
                               upPhase, downFactor, downPhase, delay, fir::MultirateLayout::Padded);
}
