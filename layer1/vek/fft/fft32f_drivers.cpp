// Forward and inverse float FFT drivers of every column: complex, split, and real data in packed layouts
// 1 (R0, R(N/2), R1, I1, ...), 2 (R0, R1, I1, ..., R(N/2)) and 3 (R0, 0, R1, I1, ..., R(N/2), 0).
// Checks: record null -8, wrong kind -17, data null -8, work allocation -9.
#include "layer1/vek/fft/engine/fft64f.h"
#include "layer1/vek/fft/engine/fft_recomb.h"
#include "layer1/vek/fft/fft32f.h"
#include "layer1/vek/fft/fft32f_route.h"
#include "layer1/vek/fft/small_kernels.h"

using namespace vekfft;

namespace {

VekStatus check(const FftSpec32f* spec, std::int32_t kind, bool dataOk)
{
    if (spec == nullptr) {
        return VEK_ERR_NULL_POINTER;
    }
    if (spec->kind != kind) {
        return VEK_ERR_CONTEXT_MISMATCH;
    }
    return dataOk ? VEK_OK : VEK_ERR_NULL_POINTER;
}

const SmallKernelTable<float>* const kSmallFft[4] = {&vek_fft32f_small_kernels_gen, &vek_fft32f_small_kernels_mm,
                                                     &vek_fft32f_small_kernels_ss, &vek_fft32f_small_kernels_wd};

// Orders 0 to 3: one kernel of the column's table, scaled when the direction's flag is set.
template <class Group>
void small_call(const Group& g, std::int32_t order, bool scale, float factor, const Interleaved& src,
                const Interleaved& dst)
{
    if (scale) {
        g.scaled[order](src.d, dst.d, factor);
    } else {
        g.plain[order](src.d, dst.d);
    }
}

template <class Group>
void small_call(const Group& g, std::int32_t order, bool scale, float factor, const Split& src, const Split& dst)
{
    if (scale) {
        g.scaled[order](src.re, src.im, dst.re, dst.im, factor);
    } else {
        g.plain[order](src.re, src.im, dst.re, dst.im);
    }
}

template <class Tr, bool Inv, class D>
VekStatus run_complex(const D& src, const D& dst, const FftSpec32f* spec, std::uint8_t* given, int indexLimit)
{
    const bool scale = (Inv ? spec->invScale : spec->fwdScale) != 0;
    if (spec->order <= 3) {
        const SmallKernelTable<float>& t = *kSmallFft[Tr::column];
        if constexpr (D::kInterleaved) {
            small_call(Inv ? t.complexInv : t.complexFwd, spec->order, scale, spec->factor, src, dst);
        } else {
            small_call(Inv ? t.splitInv : t.splitFwd, spec->order, scale, spec->factor, src, dst);
        }
        return VEK_OK;
    }
    float* work;
    std::uint8_t* owned;
    if (!take_work(spec, given, &work, &owned)) {
        return VEK_ERR_NO_MEMORY;
    }
    complex_route<Tr, Inv>(spec, spec->order, src, dst, work, indexLimit);
    vek_free(owned);
    return VEK_OK;
}

template <class Tr, bool Inv>
VekStatus complex_driver(const float* src, float* dst, const FftSpec32f* spec, std::uint8_t* work)
{
    const VekStatus st = check(spec, VEK_KIND_FFT32F_COMPLEX, src != nullptr && dst != nullptr);
    if (st != VEK_OK) {
        return st;
    }
    return run_complex<Tr, Inv>(Interleaved{const_cast<float*>(src)}, Interleaved{dst}, spec, work,
                                Tr::indexLimitComplex);
}

template <class Tr, bool Inv>
VekStatus split_driver(const float* sr, const float* si, float* dr, float* di, const FftSpec32f* spec,
                       std::uint8_t* work)
{
    const VekStatus st =
        check(spec, VEK_KIND_FFT32F_SPLIT, sr != nullptr && si != nullptr && dr != nullptr && di != nullptr);
    if (st != VEK_OK) {
        return st;
    }
    return run_complex<Tr, Inv>(Split{const_cast<float*>(sr), const_cast<float*>(si)}, Split{dr, di}, spec, work,
                                Tr::indexLimitSplit);
}

void to_layout(float* dst, std::int64_t n, int layout)
{
    if (layout == 2 && n > 2) {
        const float nyq = dst[1];
        std::memmove(dst + 1, dst + 2, static_cast<std::size_t>(n - 2) * 4);
        dst[n - 1] = nyq;
    } else if (layout == 3) {
        if (n != 1) {
            dst[n] = dst[1];
            dst[n + 1] = 0.0f;
        }
        dst[1] = 0.0f;
    }
}

template <class Tr, int Layout>
VekStatus real_fwd(const float* src, float* dst, const FftSpec32f* spec, std::uint8_t* given)
{
    const VekStatus st = check(spec, VEK_KIND_FFT32F_REAL, src != nullptr && dst != nullptr);
    if (st != VEK_OK) {
        return st;
    }
    const std::int32_t order = spec->order;
    const std::int64_t n = std::int64_t{1} << order;
    if (order <= 3) {
        small_call(kSmallFft[Tr::column]->realFwd, order, spec->fwdScale != 0, spec->factor,
                   Interleaved{const_cast<float*>(src)}, Interleaved{dst});
        to_layout(dst, n, Layout);
        return VEK_OK;
    }
    float* work;
    std::uint8_t* owned;
    if (!take_work(spec, given, &work, &owned)) {
        return VEK_ERR_NO_MEMORY;
    }
    complex_route<Tr, false>(spec, order - 1, Interleaved{const_cast<float*>(src)}, Interleaved{dst}, work,
                             Tr::indexLimitComplex);
    const float a = dst[0];
    const float b = dst[1];
    dst[0] = a + b;
    dst[1] = a - b;
    recomb_fwd<typename Tr::Acc, Tr::vector>(dst, n / 2, spec->recombFwd);
    to_layout(dst, n, Layout);
    vek_free(owned);
    return VEK_OK;
}

template <class Tr, int Layout>
VekStatus real_inv(const float* src, float* dst, const FftSpec32f* spec, std::uint8_t* given)
{
    const VekStatus st = check(spec, VEK_KIND_FFT32F_REAL, src != nullptr && dst != nullptr);
    if (st != VEK_OK) {
        return st;
    }
    const std::int32_t order = spec->order;
    const std::int64_t n = std::int64_t{1} << order;
    const float r0 = src[0];
    const float rn = n == 1 ? 0.0f : (Layout == 1 ? src[1] : (Layout == 2 ? src[n - 1] : src[n]));
    if (order <= 3) {
        if (Layout == 2 && n > 2) {
            std::memmove(dst + 2, src + 1, static_cast<std::size_t>(n - 2) * 4);
        } else if (Layout != 2 && n > 2 && src != dst) {
            std::memcpy(dst + 2, src + 2, static_cast<std::size_t>(n - 2) * 4);
        }
        dst[0] = r0;
        if (n != 1) {
            dst[1] = rn;
        }
        small_call(kSmallFft[Tr::column]->realInv, order, spec->invScale != 0, spec->factor, Interleaved{dst},
                   Interleaved{dst});
        return VEK_OK;
    }
    float* work;
    std::uint8_t* owned;
    if (!take_work(spec, given, &work, &owned)) {
        return VEK_ERR_NO_MEMORY;
    }
    const float* from = src;
    if (Layout == 2) {
        std::memmove(dst + 2, src + 1, static_cast<std::size_t>(n - 2) * 4);
        from = dst;
    }
    dst[0] = r0 + rn;
    dst[1] = r0 - rn;
    recomb_inv<typename Tr::Acc, Tr::vector>(from, dst, n / 2, spec->recombInv);
    complex_route<Tr, true>(spec, order - 1, Interleaved{dst}, Interleaved{dst}, work, Tr::indexLimitComplex);
    vek_free(owned);
    return VEK_OK;
}

// The packed-spectrum multiply: DC and Nyquist (layout 2) multiply as reals, the pairs between as
// src * conj(srcDst) through the given pair kernel (null: in the arithmetic type Acc).
template <class Acc>
VekStatus mul_packed(const float* src, float* sd, std::int32_t n,
                     void (*pairKernel)(const float*, float*, std::int32_t) = nullptr)
{
    if (src == nullptr || sd == nullptr) {
        return VEK_ERR_NULL_POINTER;
    }
    if (n < 1) {
        return VEK_ERR_SIZE;
    }
    sd[0] = static_cast<float>(Acc(sd[0]) * Acc(src[0]));
    std::int32_t pairs = (n - 1) / 2;
    if (n % 2 == 0) {
        sd[n - 1] = static_cast<float>(Acc(sd[n - 1]) * Acc(src[n - 1]));
        pairs = (n - 2) / 2;
    }
    if (pairKernel != nullptr) {
        pairKernel(src + 1, sd + 1, pairs);
        return VEK_OK;
    }
    for (std::int32_t p = 1; p <= pairs; ++p) {
        const Acc a = src[2 * p - 1], b = src[2 * p];
        const Acc c = sd[2 * p - 1], d = sd[2 * p];
        sd[2 * p - 1] = static_cast<float>(a * c + b * d);
        sd[2 * p] = static_cast<float>(b * c - a * d);
    }
    return VEK_OK;
}

}  // namespace

VekStatus vek_k_mul_packed_spectra_conj_gen(const float* s, float* d, std::int32_t n)
{
    return mul_packed<long double>(s, d, n);
}
VekStatus vek_k_mul_packed_spectra_conj_ss(const float* s, float* d, std::int32_t n)
{
    return mul_packed<float>(s, d, n, vek_k_mul_packed_spectra_conj_pairs_ss);
}
VekStatus vek_k_mul_packed_spectra_conj_wd(const float* s, float* d, std::int32_t n)
{
    return mul_packed<float>(s, d, n, vek_k_mul_packed_spectra_conj_pairs_wd);
}

#define VEK_FFT32F_DRIVERS(col, C)                                                                                 \
    VekStatus vek_k_fft32f_fwd_complex_##col(const float* s, float* d, const FftSpec32f* p, std::uint8_t* w)      \
    {                                                                                                              \
        return complex_driver<ColumnTraits<C>, false>(s, d, p, w);                                                 \
    }                                                                                                              \
    VekStatus vek_k_fft32f_inv_complex_##col(const float* s, float* d, const FftSpec32f* p, std::uint8_t* w)      \
    {                                                                                                              \
        return complex_driver<ColumnTraits<C>, true>(s, d, p, w);                                                  \
    }                                                                                                              \
    VekStatus vek_k_fft32f_fwd_split_##col(const float* sr, const float* si, float* dr, float* di,                \
                                           const FftSpec32f* p, std::uint8_t* w)                                   \
    {                                                                                                              \
        return split_driver<ColumnTraits<C>, false>(sr, si, dr, di, p, w);                                         \
    }                                                                                                              \
    VekStatus vek_k_fft32f_inv_split_##col(const float* sr, const float* si, float* dr, float* di,                \
                                           const FftSpec32f* p, std::uint8_t* w)                                   \
    {                                                                                                              \
        return split_driver<ColumnTraits<C>, true>(sr, si, dr, di, p, w);                                          \
    }                                                                                                              \
    VekStatus vek_k_fft32f_fwd_real_pack1_##col(const float* s, float* d, const FftSpec32f* p, std::uint8_t* w)   \
    {                                                                                                              \
        return real_fwd<ColumnTraits<C>, 1>(s, d, p, w);                                                           \
    }                                                                                                              \
    VekStatus vek_k_fft32f_fwd_real_pack2_##col(const float* s, float* d, const FftSpec32f* p, std::uint8_t* w)   \
    {                                                                                                              \
        return real_fwd<ColumnTraits<C>, 2>(s, d, p, w);                                                           \
    }                                                                                                              \
    VekStatus vek_k_fft32f_fwd_real_pack3_##col(const float* s, float* d, const FftSpec32f* p, std::uint8_t* w)   \
    {                                                                                                              \
        return real_fwd<ColumnTraits<C>, 3>(s, d, p, w);                                                           \
    }                                                                                                              \
    VekStatus vek_k_fft32f_inv_real_pack1_##col(const float* s, float* d, const FftSpec32f* p, std::uint8_t* w)   \
    {                                                                                                              \
        return real_inv<ColumnTraits<C>, 1>(s, d, p, w);                                                           \
    }                                                                                                              \
    VekStatus vek_k_fft32f_inv_real_pack2_##col(const float* s, float* d, const FftSpec32f* p, std::uint8_t* w)   \
    {                                                                                                              \
        return real_inv<ColumnTraits<C>, 2>(s, d, p, w);                                                           \
    }                                                                                                              \
    VekStatus vek_k_fft32f_inv_real_pack3_##col(const float* s, float* d, const FftSpec32f* p, std::uint8_t* w)   \
    {                                                                                                              \
        return real_inv<ColumnTraits<C>, 3>(s, d, p, w);                                                           \
    }
VEK_FFT32F_DRIVERS(gen, kGen)
VEK_FFT32F_DRIVERS(mm, kMm)
VEK_FFT32F_DRIVERS(ss, kSs)
VEK_FFT32F_DRIVERS(wd, kWd)
#undef VEK_FFT32F_DRIVERS
