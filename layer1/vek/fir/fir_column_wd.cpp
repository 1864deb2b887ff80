// SSE2 column: the wide real kernels on the four-copy layout, its own complex block kernel and the SSE
// column's one-sample complex kernel.
#include "layer1/vek/fir/fir_kernels.h"
#include "layer1/vek/fir/fir_columns.h"
#include "layer1/vek/fir/fir_entries.h"

namespace {

struct Kernels {
    static std::int16_t one_real(FirState* st, std::int16_t in, std::int32_t sf) { return fir::wd_one_real(st, in, sf); }
    static VekC16 one_complex(FirState* st, VekC16 in, std::int32_t sf) { return fir::ss_one_complex(st, in, sf); }
    static void block_real(FirState* st, const std::int16_t* src, std::int16_t* dst, std::int64_t count,
                           std::int32_t sf) {
        fir::wd_block_real(st, src, dst, count, sf);
    }
    static void block_complex(FirState* st, const VekC16* src, VekC16* dst, std::int64_t count, std::int32_t sf) {
        fir::wd_block_complex(st, src, dst, count, sf);
    }
};

}  // namespace

FIR_COLUMN_ENTRIES(wd, Kernels)
