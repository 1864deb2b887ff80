// The members of slots 89 to 107 of every column, and what each column's 16-bit FFT calls.
#include "layer1/vek/fft/engine/fft_q14.h"
#include "layer1/vek/fft/fft16_column.h"
#include "layer1/vek/fft/fft_convert.h"

namespace {

// gen moves its 32-bit pairs with the float complex permutation (same 8-byte elements).
void permute_pairs_gen(std::int32_t* data, std::int32_t n, const std::int32_t* pairs)
{
    vek_k_fft_permute_inplace_gen(data, n, pairs);
}

const Fft16Column kColumns[4] = {
    {0, 8, vek_fft_bitrev_table, vek_k_fft_sin_table_q14_gen, vek_k_fft_twiddle_q14, vek_k_fft_radix4_q14_gen,
     vek_k_fft_real_recomb_q14_fwd_gen, vek_k_fft_real_recomb_q14_inv_gen, permute_pairs_gen,
     vek_k_fft_permute_split_inplace_gen, vek_k_convert_s16_s32_shift_gen, vek_k_convert_s32_s16_scaled_gen,
     vek_k_interleave_c16_gen, vek_k_deinterleave_c16_gen, vek_k_fft_mul_inv_sqrt2_s32_gen,
     vek_k_convert_s16_f32_gen, vek_k_convert_f32_s16_scaled_gen},
    {1, 10, vek_k_fft_bitrev_pairs, vek_k_fft_sin_table_q14_mm, vek_k_fft_twiddle_q14, vek_k_fft_radix4_q14_mm,
     vek_k_fft_real_recomb_q14_fwd_mm, vek_k_fft_real_recomb_q14_inv_mm,
     vek_k_fft_permute_q14_inplace_wd,
     vek_k_fft_permute_split_inplace_mm, vek_k_convert_s16_s32_shift_mmx, vek_k_convert_s32_s16_scaled_mmx,
     vek_k_interleave_c16_mmx, vek_k_deinterleave_c16_mmx, vek_k_fft_mul_inv_sqrt2_s32_mmx,
     vek_k_convert_s16_f32_mm, vek_k_convert_f32_s16_scaled_mm},
    {2, 8, vek_k_fft_bitrev_pairs, vek_fft_sin_table_q14, vek_k_fft_twiddle_q14, vek_fft16_radix4,
     vek_k_fft_real_recomb_q14_fwd_wd, vek_k_fft_real_recomb_q14_inv_wd,
     vek_k_fft_permute_q14_inplace_wd,
     vek_k_fft_permute_split_inplace_ss, vek_k_convert_s16_s32_shift_mmx, vek_k_convert_s32_s16_scaled_mmx,
     vek_k_interleave_c16_mmx, vek_k_deinterleave_c16_mmx, vek_k_fft_mul_inv_sqrt2_s32_mmx,
     vek_k_convert_s16_f32_ss, vek_k_convert_f32_s16_scaled_ss},
    {3, 8, vek_k_fft_bitrev_pairs_wd, vek_sin_q14, vek_twiddle_q14, vek_fft16_radix4,
     vek_k_fft_real_recomb_q14_fwd_wd, vek_k_fft_real_recomb_q14_inv_wd,
     vek_k_fft_permute_q14_inplace_wd,
     vek_k_fft_permute_split_inplace_wd, vek_k_convert_s16_s32_shift_mmx, vek_k_convert_s32_s16_scaled_mmx,
     vek_k_interleave_c16_mmx, vek_k_deinterleave_c16_mmx, vek_k_fft_mul_inv_sqrt2_s32_mmx,
     vek_k_convert_s16_f32_wd, vek_k_convert_f32_s16_scaled_wd},
};

}  // namespace

const Fft16Column& vek_fft16_column(int column) { return kColumns[column & 3]; }

#define VEK_FFT16_MEMBERS(col, C)                                                                                \
    VekStatus vek_fft_init_complex_##col(FftSpec** s, std::int32_t o, std::int32_t f, std::int32_t h)           \
    {                                                                                                            \
        return fft16_init(kColumns[C], s, o, f, h, VEK_KIND_FFT16_COMPLEX);                                      \
    }                                                                                                            \
    VekStatus vek_fft_init_split_##col(FftSpec** s, std::int32_t o, std::int32_t f, std::int32_t h)             \
    {                                                                                                            \
        return fft16_init(kColumns[C], s, o, f, h, VEK_KIND_FFT16_SPLIT);                                        \
    }                                                                                                            \
    VekStatus vek_fft_init_real_##col(FftSpec** s, std::int32_t o, std::int32_t f, std::int32_t h)              \
    {                                                                                                            \
        return fft16_init(kColumns[C], s, o, f, h, VEK_KIND_FFT16_REAL);                                         \
    }                                                                                                            \
    VekStatus vek_fft_free_complex_##col(FftSpec* s) { return fft16_free(kColumns[C], s, VEK_KIND_FFT16_COMPLEX); } \
    VekStatus vek_fft_free_split_##col(FftSpec* s) { return fft16_free(kColumns[C], s, VEK_KIND_FFT16_SPLIT); }     \
    VekStatus vek_fft_free_real_##col(FftSpec* s) { return fft16_free(kColumns[C], s, VEK_KIND_FFT16_REAL); }       \
    VekStatus vek_fft_buffer_size_complex_##col(const FftSpec* s, std::int32_t* z)                               \
    {                                                                                                            \
        return fft16_size(s, z, VEK_KIND_FFT16_COMPLEX);                                                         \
    }                                                                                                            \
    VekStatus vek_fft_buffer_size_split_##col(const FftSpec* s, std::int32_t* z)                                 \
    {                                                                                                            \
        return fft16_size(s, z, VEK_KIND_FFT16_SPLIT);                                                           \
    }                                                                                                            \
    VekStatus vek_fft_buffer_size_real_##col(const FftSpec* s, std::int32_t* z)                                  \
    {                                                                                                            \
        return fft16_size(s, z, VEK_KIND_FFT16_REAL);                                                            \
    }                                                                                                            \
    VekStatus vek_fft_fwd_complex_##col(const std::int16_t* s, std::int16_t* d, const FftSpec* p, std::int32_t sf, \
                                        std::uint8_t* w)                                                         \
    {                                                                                                            \
        return fft16_complex(kColumns[C], s, d, p, sf, w, false);                                                \
    }                                                                                                            \
    VekStatus vek_fft_inv_complex_##col(const std::int16_t* s, std::int16_t* d, const FftSpec* p, std::int32_t sf, \
                                        std::uint8_t* w)                                                         \
    {                                                                                                            \
        return fft16_complex(kColumns[C], s, d, p, sf, w, true);                                                 \
    }                                                                                                            \
    VekStatus vek_fft_fwd_split_##col(const std::int16_t* sr, const std::int16_t* si, std::int16_t* dr,          \
                                      std::int16_t* di, const FftSpec* p, std::int32_t sf, std::uint8_t* w)      \
    {                                                                                                            \
        return fft16_split(kColumns[C], sr, si, dr, di, p, sf, w, false);                                        \
    }                                                                                                            \
    VekStatus vek_fft_inv_split_##col(const std::int16_t* sr, const std::int16_t* si, std::int16_t* dr,          \
                                      std::int16_t* di, const FftSpec* p, std::int32_t sf, std::uint8_t* w)      \
    {                                                                                                            \
        return fft16_split(kColumns[C], sr, si, dr, di, p, sf, w, true);                                         \
    }                                                                                                            \
    VEK_FFT16_REAL_MEMBER(col, C, fwd, 1)                                                                        \
    VEK_FFT16_REAL_MEMBER(col, C, fwd, 2)                                                                        \
    VEK_FFT16_REAL_MEMBER(col, C, fwd, 3)                                                                        \
    VEK_FFT16_REAL_MEMBER(col, C, inv, 1)                                                                        \
    VEK_FFT16_REAL_MEMBER(col, C, inv, 2)                                                                        \
    VEK_FFT16_REAL_MEMBER(col, C, inv, 3)

#define VEK_FFT16_REAL_MEMBER(col, C, dir, layout)                                                               \
    VekStatus vek_fft_##dir##_real_pack##layout##_##col(const std::int16_t* s, std::int16_t* d, const FftSpec* p, \
                                                        std::int32_t sf, std::uint8_t* w)                        \
    {                                                                                                            \
        return fft16_real_##dir(kColumns[C], s, d, p, sf, w, layout);                                            \
    }

VEK_FFT16_MEMBERS(gen, 0)
VEK_FFT16_MEMBERS(mm, 1)
VEK_FFT16_MEMBERS(ss, 2)
VEK_FFT16_MEMBERS(wd, 3)
#undef VEK_FFT16_MEMBERS
#undef VEK_FFT16_REAL_MEMBER
