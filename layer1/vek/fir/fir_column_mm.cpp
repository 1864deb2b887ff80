// MMX column: its own compilation of the generic loops.
#include "layer1/vek/fir/fir_generic.h"
#include "layer1/vek/fir/fir_columns.h"
#include "layer1/vek/fir/fir_entries.h"

namespace {

// The generic loops, compiled for this column.
struct Kernels {
    using Real = fir::GenericLoops<fir::RealElements, 1>;
    using Complex = fir::GenericLoops<fir::ComplexElements, 1>;
    static std::int16_t one_real(FirState* st, std::int16_t in, std::int32_t sf) { return Real::one(st, in, sf); }
    static VekC16 one_complex(FirState* st, VekC16 in, std::int32_t sf) { return Complex::one(st, in, sf); }
    static void block_real(FirState* st, const std::int16_t* src, std::int16_t* dst, std::int64_t count,
                           std::int32_t sf) {
        Real::block(st, src, dst, count, sf);
    }
    static void block_complex(FirState* st, const VekC16* src, VekC16* dst, std::int64_t count, std::int32_t sf) {
        Complex::block(st, src, dst, count, sf);
    }
};

}  // namespace

FIR_COLUMN_ENTRIES(mm, Kernels)
