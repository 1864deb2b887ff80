// SSE2 column: the wide real kernels on the four-copy layout, the SSE column's complex kernels.
#include "layer1/vek/fir/fir_kernels_ss.h"
#include "layer1/vek/fir/fir_columns.h"
#include "layer1/vek/fir/fir_entries.h"

namespace {

// Pairwise multiply-add kernels; the complex ones are shared by the SSE and SSE2 columns.
struct Kernels {
    static std::int16_t one_real(FirState* st, std::int16_t in, std::int32_t sf) { return fir::wd_one_real(st, in, sf); }
    static VekC16 one_complex(FirState* st, VekC16 in, std::int32_t sf) { return fir::ss_one_complex(st, in, sf); }
    static void block_real(FirState* st, const std::int16_t* src, std::int16_t* dst, std::int64_t count,
                           std::int32_t sf) {
        fir::wd_block_real(st, src, dst, count, sf);
    }
    static void block_complex(FirState* st, const VekC16* src, VekC16* dst, std::int64_t count, std::int32_t sf) {
        fir::ss_block_complex(st, src, dst, count, sf);
    }
};

using Column = fir::Entries<Kernels>;

}  // namespace

VekStatus vek_fir_one_real_wd(std::int16_t in, std::int16_t* out, FirState* state, std::int32_t sf) {
    return Column::one_real(in, out, state, sf);
}
VekStatus vek_fir_one_complex_wd(VekC16 in, VekC16* out, FirState* state, std::int32_t sf) {
    return Column::one_complex(in, out, state, sf);
}
VekStatus vek_fir_block_real_wd(const std::int16_t* src, std::int16_t* dst, std::int32_t count, FirState* state,
                              std::int32_t sf) {
    return Column::block_real(src, dst, count, state, sf);
}
VekStatus vek_fir_block_complex_wd(const VekC16* src, VekC16* dst, std::int32_t count, FirState* state,
                                 std::int32_t sf) {
    return Column::block_complex(src, dst, count, state, sf);
}
VekStatus vek_fir_block_real_inplace_wd(std::int16_t* buf, std::int32_t count, FirState* state, std::int32_t sf) {
    return Column::block_real_inplace(buf, count, state, sf);
}
VekStatus vek_fir_block_complex_inplace_wd(VekC16* buf, std::int32_t count, FirState* state, std::int32_t sf) {
    return Column::block_complex_inplace(buf, count, state, sf);
}
