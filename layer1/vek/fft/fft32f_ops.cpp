// The float FFT operations of each column gathered in one table per column.
#include "layer1/vek/fft/fft32f.h"

#define VEK_FFT32F_OPS(col, sizeSuffix, mul, scaleFn)                                                               \
    {{vek_k_fft32f_init_complex_##col, vek_k_fft32f_init_split_##col, vek_k_fft32f_init_real_##col},              \
     {vek_k_fft32f_free_complex_##col, vek_k_fft32f_free_split_##col, vek_k_fft32f_free_real_##col},              \
     {vek_k_fft32f_buffer_size_complex##sizeSuffix, vek_k_fft32f_buffer_size_split##sizeSuffix,                    \
      vek_k_fft32f_buffer_size_real##sizeSuffix},                                                                  \
     {vek_k_fft32f_fwd_complex_##col, vek_k_fft32f_inv_complex_##col},                                            \
     {vek_k_fft32f_fwd_split_##col, vek_k_fft32f_inv_split_##col},                                                \
     {vek_k_fft32f_fwd_real_pack1_##col, vek_k_fft32f_fwd_real_pack2_##col, vek_k_fft32f_fwd_real_pack3_##col},   \
     {vek_k_fft32f_inv_real_pack1_##col, vek_k_fft32f_inv_real_pack2_##col, vek_k_fft32f_inv_real_pack3_##col},   \
     mul,                                                                                                          \
     scaleFn}

namespace {
const Fft32fOps kOps[4] = {
    VEK_FFT32F_OPS(gen, , vek_k_mul_packed_spectra_conj_gen, vek_k_fft_scale_f32),
    VEK_FFT32F_OPS(mm, , vek_k_mul_packed_spectra_conj_gen, vek_k_fft_scale_f32),
    VEK_FFT32F_OPS(ss, , vek_k_mul_packed_spectra_conj_ss, vek_k_fft_scale_f32_wd),
    VEK_FFT32F_OPS(wd, _wd, vek_k_mul_packed_spectra_conj_wd, vek_k_fft_scale_f32_wd),
};
}  // namespace

const Fft32fOps& vek_fft32f_ops(int column) { return kOps[column & 3]; }
