// Creation, size query and release of float FFT records. Checks in a fixed order: out, order, record
// allocation, flag, table allocations; a failed creation releases everything it built.
#include <cmath>

#include "layer1/vek/core/vek_memory.h"
#include "layer1/vek/fft/engine/fft_large.h"
#include "layer1/vek/fft/fft32f.h"

using namespace vekfft;

namespace {

template <class Tr>
float norm_factor(std::int32_t order, bool sqrtNorm)
{
    if constexpr (Tr::vector) {
        const float n = static_cast<float>(std::int64_t{1} << order);
        return sqrtNorm ? 1.0f / std::sqrt(n) : 1.0f / n;
    } else {
        const long double n = static_cast<long double>(std::int64_t{1} << order);
        return static_cast<float>(sqrtNorm ? 1.0L / sqrtl(n) : 1.0L / n);
    }
}

// Bit reversal, twiddles and (above the direct limit) the large-order tables of complex order L.
template <class Tr>
VekStatus tables(FftSpec32f* spec, std::int32_t order, const float* sine, std::uint32_t sineOrder, bool split)
{
    // The level twiddles of a large order take 8 bytes per point: a record whose tables cannot be sized in
    // 32 bits is refused before anything is built.
    if ((std::int64_t{8} << order) > INT32_MAX) {
        return VEK_ERR_NO_MEMORY;
    }
    const int indexLimit = split ? Tr::indexLimitSplit : Tr::indexLimitComplex;
    spec->bitrev = order <= indexLimit ? Tr::index(order) : Tr::pairs(order);
    if (spec->bitrev == nullptr) {
        return VEK_ERR_NO_MEMORY;
    }
    float* own = nullptr;
    if (sine == nullptr) {
        own = vek_k_fft_sin_table_gen(static_cast<std::uint32_t>(order));
        if (own == nullptr) {
            return VEK_ERR_NO_MEMORY;
        }
        sine = own;
        sineOrder = static_cast<std::uint32_t>(order);
    }
    VekStatus st = VEK_OK;
    if (order <= Tr::directLimit) {
        spec->twiddle = Tr::twiddles(order, sine, sineOrder);
        if (spec->twiddle == nullptr) {
            st = VEK_ERR_NO_MEMORY;
        } else {
            spec->workBytes = Tr::vector ? 8 * (1 << order) + 16 : 0;
        }
    } else {
        spec->workBytes = 0;
        st = large_tables<Tr>(spec, order, sine, sineOrder);
        if (st == VEK_OK) {
            spec->workBytes += Tr::margin;
        }
    }
    vek_free(own);  // the builder's own sine table goes on every path
    return st;
}

template <class Tr>
VekStatus init(FftSpec32f** out, std::int32_t order, std::int32_t flag, std::int32_t hint, std::int32_t kind)
{
    if (out == nullptr) {
        return VEK_ERR_NULL_POINTER;
    }
    if (order < 0 || order > 30) {
        return VEK_ERR_FFT_ORDER;
    }
    auto* spec = static_cast<FftSpec32f*>(vek_alloc_8(sizeof(FftSpec32f)));
    if (spec == nullptr) {
        return VEK_ERR_NO_MEMORY;
    }
    *spec = FftSpec32f{};
    spec->kind = kind;
    spec->order = order;
    spec->hint = hint;
    if (flag == VEK_FFT_NORM_NONE) {
    } else if (flag == VEK_FFT_NORM_SQRT) {
        spec->fwdScale = spec->invScale = 1;
        spec->factor = norm_factor<Tr>(order, true);
    } else if (flag == VEK_FFT_NORM_FWD || flag == VEK_FFT_NORM_INV) {
        (flag == VEK_FFT_NORM_FWD ? spec->fwdScale : spec->invScale) = 1;
        spec->factor = norm_factor<Tr>(order, false);
    } else {
        vek_k_fft32f_spec_release(spec);
        return VEK_ERR_FFT_FLAG;
    }
    VekStatus st = VEK_OK;
    if (order >= 4 && kind != VEK_KIND_FFT32F_REAL) {
        st = tables<Tr>(spec, order, nullptr, 0, kind == VEK_KIND_FFT32F_SPLIT);
    } else if (order >= 4 && (std::int64_t{4} << order) > INT32_MAX) {
        st = VEK_ERR_NO_MEMORY;
    } else if (order >= 4) {
        float* sine = vek_k_fft_sin_table_gen(static_cast<std::uint32_t>(order));
        if (sine == nullptr) {
            st = VEK_ERR_NO_MEMORY;
        } else {
            st = tables<Tr>(spec, order - 1, sine, static_cast<std::uint32_t>(order), false);
            if (st == VEK_OK) {
                spec->recombFwd = Tr::vector ? vek_k_fft_real_recomb_table_fwd_wd(order, sine)
                                             : vek_k_fft_real_recomb_table_fwd_gen(order, sine);
                spec->recombInv = spec->recombFwd == nullptr ? nullptr
                                  : Tr::vector ? vek_k_fft_real_recomb_table_inv_wd(order, sine)
                                               : vek_k_fft_real_recomb_table_inv_gen(order, sine);
                st = spec->recombInv == nullptr ? VEK_ERR_NO_MEMORY : VEK_OK;
            }
            vek_free(sine);
        }
    }
    if (st != VEK_OK) {
        vek_k_fft32f_spec_release(spec);
        return st;
    }
    *out = spec;
    return VEK_OK;
}

VekStatus free_kind(FftSpec32f* spec, std::int32_t kind)
{
    if (spec == nullptr) {
        return VEK_ERR_NULL_POINTER;
    }
    if (spec->kind != kind) {
        return VEK_ERR_CONTEXT_MISMATCH;
    }
    vek_k_fft32f_spec_release(spec);
    return VEK_OK;
}

VekStatus size_kind(const FftSpec32f* spec, std::int32_t* out, std::int32_t kind)
{
    if (spec == nullptr || out == nullptr) {
        return VEK_ERR_NULL_POINTER;
    }
    if (spec->kind != kind) {
        return VEK_ERR_CONTEXT_MISMATCH;
    }
    *out = spec->workBytes;
    return VEK_OK;
}

}  // namespace

void vek_k_fft32f_spec_release(FftSpec32f* spec)
{
    if (spec == nullptr) {
        return;
    }
    vek_free(spec->bitrev);
    vek_free(spec->twiddle);
    vek_free(spec->large1);
    vek_free(spec->large2);
    vek_free(spec->recombFwd);
    vek_free(spec->recombInv);
    for (float* level : spec->levels) {
        vek_free(level);
    }
    spec->kind = 0;
    vek_free(spec);
}

#define VEK_FFT32F_SPEC_COLUMN(col, C)                                                                            \
    VekStatus vek_k_fft32f_init_complex_##col(FftSpec32f** o, std::int32_t n, std::int32_t f, std::int32_t h)     \
    {                                                                                                              \
        return init<ColumnTraits<C>>(o, n, f, h, VEK_KIND_FFT32F_COMPLEX);                                         \
    }                                                                                                              \
    VekStatus vek_k_fft32f_init_split_##col(FftSpec32f** o, std::int32_t n, std::int32_t f, std::int32_t h)       \
    {                                                                                                              \
        return init<ColumnTraits<C>>(o, n, f, h, VEK_KIND_FFT32F_SPLIT);                                           \
    }                                                                                                              \
    VekStatus vek_k_fft32f_init_real_##col(FftSpec32f** o, std::int32_t n, std::int32_t f, std::int32_t h)        \
    {                                                                                                              \
        return init<ColumnTraits<C>>(o, n, f, h, VEK_KIND_FFT32F_REAL);                                            \
    }                                                                                                              \
    VekStatus vek_k_fft32f_free_complex_##col(FftSpec32f* s) { return free_kind(s, VEK_KIND_FFT32F_COMPLEX); }    \
    VekStatus vek_k_fft32f_free_split_##col(FftSpec32f* s) { return free_kind(s, VEK_KIND_FFT32F_SPLIT); }        \
    VekStatus vek_k_fft32f_free_real_##col(FftSpec32f* s) { return free_kind(s, VEK_KIND_FFT32F_REAL); }
VEK_FFT32F_SPEC_COLUMN(gen, kGen)
VEK_FFT32F_SPEC_COLUMN(mm, kMm)
VEK_FFT32F_SPEC_COLUMN(ss, kSs)
VEK_FFT32F_SPEC_COLUMN(wd, kWd)
#undef VEK_FFT32F_SPEC_COLUMN

VekStatus vek_k_fft32f_buffer_size_complex(const FftSpec32f* s, std::int32_t* o)
{
    return size_kind(s, o, VEK_KIND_FFT32F_COMPLEX);
}
VekStatus vek_k_fft32f_buffer_size_split(const FftSpec32f* s, std::int32_t* o)
{
    return size_kind(s, o, VEK_KIND_FFT32F_SPLIT);
}
VekStatus vek_k_fft32f_buffer_size_real(const FftSpec32f* s, std::int32_t* o)
{
    return size_kind(s, o, VEK_KIND_FFT32F_REAL);
}
VekStatus vek_k_fft32f_buffer_size_complex_wd(const FftSpec32f* s, std::int32_t* o)
{
    return size_kind(s, o, VEK_KIND_FFT32F_COMPLEX);
}
VekStatus vek_k_fft32f_buffer_size_split_wd(const FftSpec32f* s, std::int32_t* o)
{
    return size_kind(s, o, VEK_KIND_FFT32F_SPLIT);
}
VekStatus vek_k_fft32f_buffer_size_real_wd(const FftSpec32f* s, std::int32_t* o)
{
    return size_kind(s, o, VEK_KIND_FFT32F_REAL);
}
