// Registration of the transform family: the 16-bit FFT (slots 89-107), the cross-correlation (117) and the
// DFT of any length (241-244).
#include "layer1/vek/core/vek_dispatch.h"
#include "layer1/vek/fft/dft.h"
#include "layer1/vek/fft/fft16.h"
#include "layer1/vek/fft/xcorr.h"

#define VEK_FFT_ROW(name) rows.set<VekSlot::name>(name##_gen, name##_mm, name##_ss, name##_wd)

void vek_register_fft(VekRowWriter& rows)
{
    VEK_FFT_ROW(vek_fft_init_complex);
    VEK_FFT_ROW(vek_fft_init_split);
    VEK_FFT_ROW(vek_fft_init_real);
    VEK_FFT_ROW(vek_fft_free_complex);
    VEK_FFT_ROW(vek_fft_free_split);
    VEK_FFT_ROW(vek_fft_free_real);
    rows.set<VekSlot::vek_fft_buffer_size_complex>(vek_fft_buffer_size_complex_gen, vek_fft_buffer_size_complex_gen,
                                                   vek_fft_buffer_size_complex_gen, vek_fft_buffer_size_complex_wd);
    rows.set<VekSlot::vek_fft_buffer_size_split>(vek_fft_buffer_size_split_gen, vek_fft_buffer_size_split_gen,
                                                 vek_fft_buffer_size_split_gen, vek_fft_buffer_size_split_wd);
    rows.set<VekSlot::vek_fft_buffer_size_real>(vek_fft_buffer_size_real_gen, vek_fft_buffer_size_real_gen,
                                                vek_fft_buffer_size_real_gen, vek_fft_buffer_size_real_wd);
    VEK_FFT_ROW(vek_fft_fwd_complex);
    VEK_FFT_ROW(vek_fft_inv_complex);
    VEK_FFT_ROW(vek_fft_fwd_split);
    VEK_FFT_ROW(vek_fft_inv_split);
    VEK_FFT_ROW(vek_fft_fwd_real_pack1);
    VEK_FFT_ROW(vek_fft_inv_real_pack1);
    VEK_FFT_ROW(vek_fft_fwd_real_pack2);
    VEK_FFT_ROW(vek_fft_inv_real_pack2);
    VEK_FFT_ROW(vek_fft_fwd_real_pack3);
    VEK_FFT_ROW(vek_fft_inv_real_pack3);
    VEK_FFT_ROW(vek_cross_corr_16);
    VEK_FFT_ROW(vek_dft_init);
    VEK_FFT_ROW(vek_dft_free);
    VEK_FFT_ROW(vek_dft_fwd);
    VEK_FFT_ROW(vek_dft_inv);
}
