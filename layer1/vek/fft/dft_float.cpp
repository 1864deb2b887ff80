// The float DFT records of every column: creation by length (small, power of two, direct, chirp-z), release,
// size query and the forward and inverse transforms. Sizes are formed in 64 bits; a length whose tables or
// work buffer cannot be sized in 32 bits is refused with -9.
#include <cmath>
#include <cstring>

#include "layer1/vek/core/vek_memory.h"
#include "layer1/vek/fft/dft.h"
#include "layer1/vek/fft/engine/dft_kernels.h"
#include "layer1/vek/fft/engine/fft_column.h"
#include "layer1/vek/fft/fft32f.h"
#include "layer1/vek/fft/small_kernels.h"

using namespace vekfft;

namespace {

constexpr std::int32_t kDirectLimit = 150;

float* chirp_table(std::int32_t len, bool withIndex)
{
    const std::int64_t bytes = std::int64_t{len} * (withIndex ? 16 : 8);
    if (len < 1 || bytes > INT32_MAX) {
        return nullptr;
    }
    auto* t = static_cast<float*>(vek_alloc_8(static_cast<std::int32_t>(bytes)));
    if (t == nullptr) {
        return nullptr;
    }
    const long double step = 6.283185307179586L / static_cast<long double>(len);
    for (std::int64_t m = 0; m <= len / 2; ++m) {
        const long double a = static_cast<long double>(m) * step;
        t[2 * m] = static_cast<float>(cosl(a));
        t[2 * m + 1] = static_cast<float>(-sinl(a));
    }
    for (std::int64_t m = len / 2 + 1; m < len; ++m) {
        t[2 * m] = t[2 * (len - m)];
        t[2 * m + 1] = -t[2 * (len - m) + 1];
    }
    if (withIndex) {
        auto* idx = reinterpret_cast<std::int32_t*>(t + 2 * std::int64_t{len});
        for (std::int32_t e = 0; e < len; ++e) {
            idx[e] = 2 * e;
            idx[len + e] = 2 * e;
        }
    }
    return t;
}

const SmallKernelTable<float>* const kSmallDft[4] = {&vek_dft32f_small_kernels_gen, &vek_dft32f_small_kernels_mm,
                                                     &vek_dft32f_small_kernels_ss, &vek_dft32f_small_kernels_wd};

template <int C>
struct Dft {
    static const SmallKernelTable<float>& small_kernels() { return *kSmallDft[C]; }
    // The column's array kernels of the chirp-z transform.
    static void mul(const float* a, const float* b, float* dst, std::int32_t n)
    {
        (Tr::vector ? vek_k_mul_c32f_wd : vek_k_mul_c32f)(a, b, dst, n);
    }
    static void zero(float* dst, std::int32_t n)
    {
        (C == kWd ? vek_k_zero_c32f_wd : (C == kSs ? vek_k_zero_c32f_ss : vek_k_zero_c32f))(dst, n);
    }
    using Tr = ColumnTraits<C>;
    using Acc = typename Tr::Acc;
    static const Fft32fOps& ops() { return vek_fft32f_ops(C); }

    static void release(DftSpec32f* s)
    {
        if (s == nullptr) {
            return;
        }
        vek_free(s->directTable);
        vek_free(s->chirp);
        vek_free(s->chirpSpectrum);
        if (s->chirpFft != nullptr) {
            ops().free[0](s->chirpFft);
        }
        s->kind = 0;
        vek_free(s);
    }

    static VekStatus chirp_setup(DftSpec32f* s)
    {
        const std::int64_t n = s->length;
        std::int64_t m = 1;
        std::int32_t order = 0;
        while (m < 2 * n - 1) {
            m *= 2;
            ++order;
        }
        if (order > 27 || 8 * m + 16 > INT32_MAX) {
            return VEK_ERR_NO_MEMORY;
        }
        s->chirpSize = static_cast<std::int32_t>(m);
        s->chirp = static_cast<float*>(vek_alloc_8(static_cast<std::int32_t>(8 * n)));
        s->chirpSpectrum = static_cast<float*>(vek_alloc_8(static_cast<std::int32_t>(8 * m)));
        float* t2 = (s->chirp && s->chirpSpectrum) ? chirp_table(static_cast<std::int32_t>(2 * n), Tr::vector) : nullptr;
        if (t2 == nullptr) {
            return VEK_ERR_NO_MEMORY;
        }
        std::int64_t d = 0;
        for (std::int64_t i = 0; i < n; ++i) {
            s->chirp[2 * i] = t2[2 * d];
            s->chirp[2 * i + 1] = t2[2 * d + 1];
            d += 2 * i + 1;
            if (d >= 2 * n) {
                d -= 2 * n;
            }
        }
        vek_free(t2);
        float* b = s->chirpSpectrum;
        (C == kWd ? vek_k_conj_c32f_wd : (C == kSs ? vek_k_conj_c32f_ss : vek_k_conj_c32f))(
            s->chirp, b, static_cast<std::int32_t>(n));
        if (n < m) {
            zero(b + 2 * n, static_cast<std::int32_t>(m - n));
        }
        for (std::int64_t j = 1; j < n; ++j) {
            b[2 * (m - j)] = b[2 * j];
            b[2 * (m - j) + 1] = b[2 * j + 1];
        }
        VekStatus st = ops().init[0](&s->chirpFft, order, VEK_FFT_NORM_NONE, 0);
        if (st == VEK_OK) {
            st = ops().complex[0](b, b, s->chirpFft, nullptr);
        }
        if (st != VEK_OK) {
            return st;
        }
        ops().scale(1.0f / static_cast<float>(m), b, static_cast<std::int32_t>(2 * m));
        std::int32_t w = 0;
        ops().size[0](s->chirpFft, &w);
        if (8 * m + 16 + w > INT32_MAX) {
            return VEK_ERR_NO_MEMORY;
        }
        s->workBytes = static_cast<std::int32_t>(8 * m + 16 + w);
        return VEK_OK;
    }

    static VekStatus init(DftSpec32f** out, std::int32_t len, std::int32_t flag, std::int32_t hint)
    {
        if (out == nullptr) {
            return VEK_ERR_NULL_POINTER;
        }
        if (len < 1) {
            return VEK_ERR_SIZE;
        }
        auto* s = static_cast<DftSpec32f*>(vek_alloc_8(sizeof(DftSpec32f)));
        if (s == nullptr) {
            return VEK_ERR_NO_MEMORY;
        }
        *s = DftSpec32f{};
        s->kind = VEK_KIND_DFT32F;
        s->length = len;
        s->hint = hint;
        const bool sqrtNorm = flag == VEK_FFT_NORM_SQRT;
        if (flag == VEK_FFT_NORM_FWD || flag == VEK_FFT_NORM_INV || sqrtNorm) {
            s->fwdScale = flag != VEK_FFT_NORM_INV;
            s->invScale = flag != VEK_FFT_NORM_FWD;
            if constexpr (Tr::vector) {
                s->factor = sqrtNorm ? 1.0f / std::sqrt(static_cast<float>(len)) : 1.0f / static_cast<float>(len);
            } else {
                s->factor = static_cast<float>(sqrtNorm ? 1.0L / sqrtl(len) : 1.0L / len);
            }
        } else if (flag != VEK_FFT_NORM_NONE) {
            release(s);
            return VEK_ERR_FFT_FLAG;
        }
        VekStatus st = VEK_OK;
        if (len <= 4) {
        } else if ((len & (len - 1)) == 0) {
            s->isPow2 = 1;
            std::int32_t order = 0;
            while ((1 << order) < len) {
                ++order;
            }
            st = ops().init[0](&s->powerFft, order, flag, hint);
            if (st == VEK_OK) {
                ops().size[0](s->powerFft, &s->workBytes);
            }
        } else if (len > kDirectLimit) {
            st = chirp_setup(s);
        } else {
            s->directTable = chirp_table(len, Tr::vector);
            st = s->directTable == nullptr ? VEK_ERR_NO_MEMORY : VEK_OK;
            s->workBytes = 8 * len + 16;
        }
        if (st != VEK_OK) {
            if (s->powerFft != nullptr) {
                ops().free[0](s->powerFft);
            }
            release(s);
            return st;
        }
        *out = s;
        return VEK_OK;
    }

    static VekStatus free(DftSpec32f* s)
    {
        if (s == nullptr) {
            return VEK_ERR_NULL_POINTER;
        }
        if (s->kind != VEK_KIND_DFT32F) {
            return VEK_ERR_CONTEXT_MISMATCH;
        }
        if (s->powerFft != nullptr) {
            ops().free[0](s->powerFft);
        }
        release(s);
        return VEK_OK;
    }

    static VekStatus chirp_transform(const DftSpec32f* s, const float* src, float* dst, bool inv, float* work)
    {
        const std::int64_t n = s->length;
        const std::int64_t m = s->chirpSize;
        mul(s->chirp, src, work, static_cast<std::int32_t>(n));
        if (n < m) {
            zero(work + 2 * n, static_cast<std::int32_t>(m - n));
        }
        auto* inner = reinterpret_cast<std::uint8_t*>(work + 2 * m);
        VekStatus st = ops().complex[0](work, work, s->chirpFft, inner);
        if (st != VEK_OK) {
            return st;
        }
        mul(s->chirpSpectrum, work, work, static_cast<std::int32_t>(m));
        st = ops().complex[1](work, work, s->chirpFft, inner);
        if (st != VEK_OK) {
            return st;
        }
        mul(s->chirp, work, dst, static_cast<std::int32_t>(n));
        if (inv) {
            for (std::int64_t k = 1; k < n - k; ++k) {
                for (int h = 0; h < 2; ++h) {
                    const float t = dst[2 * k + h];
                    dst[2 * k + h] = dst[2 * (n - k) + h];
                    dst[2 * (n - k) + h] = t;
                }
            }
        }
        return VEK_OK;
    }

    template <bool Inv>
    static VekStatus transform(const float* src, float* dst, const DftSpec32f* s, std::uint8_t* given)
    {
        if (s == nullptr) {
            return VEK_ERR_NULL_POINTER;
        }
        if (s->kind != VEK_KIND_DFT32F) {
            return VEK_ERR_CONTEXT_MISMATCH;
        }
        if (src == nullptr || dst == nullptr) {
            return VEK_ERR_NULL_POINTER;
        }
        const bool scale = (Inv ? s->invScale : s->fwdScale) != 0;
        if (s->length <= 4) {
            const auto& g = Inv ? small_kernels().complexInv : small_kernels().complexFwd;
            const std::int32_t i = s->length - 1;
            if (scale) {
                g.scaled[i](src, dst, s->factor);
            } else {
                g.plain[i](src, dst);
            }
            return VEK_OK;
        }
        std::uint8_t* owned = nullptr;
        std::uint8_t* p = given;
        if (s->workBytes > 0 && p == nullptr) {
            p = owned = static_cast<std::uint8_t*>(vek_alloc_8(s->workBytes));
            if (p == nullptr) {
                return VEK_ERR_NO_MEMORY;
            }
        }
        auto* work = p == nullptr ? nullptr
                                  : reinterpret_cast<float*>((reinterpret_cast<std::uintptr_t>(p) + 15) & ~std::uintptr_t{15});
        VekStatus st = VEK_OK;
        if (s->isPow2 != 0) {
            st = ops().complex[Inv ? 1 : 0](src, dst, s->powerFft, reinterpret_cast<std::uint8_t*>(work));
        } else if (s->length > kDirectLimit) {
            st = chirp_transform(s, src, dst, Inv, work);
            if (st == VEK_OK && scale) {
                ops().scale(s->factor, dst, 2 * s->length);
            }
        } else {
            dft_direct<Acc>(Interleaved{const_cast<float*>(src)}, Interleaved{dst}, s->length, Inv ? -1 : 1,
                            s->directTable, work);
            if (scale) {
                ops().scale(s->factor, dst, 2 * s->length);
            }
        }
        vek_free(owned);
        return st;
    }
};

VekStatus size_query(const DftSpec32f* s, std::int32_t* bytes)
{
    if (s == nullptr || bytes == nullptr) {
        return VEK_ERR_NULL_POINTER;
    }
    if (s->kind != VEK_KIND_DFT32F) {
        return VEK_ERR_CONTEXT_MISMATCH;
    }
    *bytes = s->workBytes;
    return VEK_OK;
}

}  // namespace

VekStatus vek_k_dft32f_buffer_size(const DftSpec32f* s, std::int32_t* b) { return size_query(s, b); }
VekStatus vek_k_dft32f_buffer_size_wd(const DftSpec32f* s, std::int32_t* b) { return size_query(s, b); }
float* vek_dft_chirp_table(std::int32_t len) { return chirp_table(len, true); }
float* vek_k_dft_chirp_table_ss(std::int32_t len) { return chirp_table(len, true); }
float* vek_k_dft_chirp_table_mm(std::int32_t len) { return chirp_table(len, false); }

#define VEK_DFT32F_COLUMN(col, C)                                                                                \
    VekStatus vek_k_dft32f_init_##col(DftSpec32f** o, std::int32_t n, std::int32_t f, std::int32_t h)           \
    {                                                                                                            \
        return Dft<C>::init(o, n, f, h);                                                                         \
    }                                                                                                            \
    VekStatus vek_k_dft32f_free_##col(DftSpec32f* s) { return Dft<C>::free(s); }                                 \
    VekStatus vek_k_dft32f_fwd_##col(const float* s, float* d, const DftSpec32f* p, std::uint8_t* w)             \
    {                                                                                                            \
        return Dft<C>::transform<false>(s, d, p, w);                                                             \
    }                                                                                                            \
    VekStatus vek_k_dft32f_inv_##col(const float* s, float* d, const DftSpec32f* p, std::uint8_t* w)             \
    {                                                                                                            \
        return Dft<C>::transform<true>(s, d, p, w);                                                              \
    }                                                                                                            \
    void vek_k_dft32f_release_##col(DftSpec32f* s) { Dft<C>::release(s); }
VEK_DFT32F_COLUMN(gen, kGen)
VEK_DFT32F_COLUMN(mm, kMm)
VEK_DFT32F_COLUMN(ss, kSs)
VEK_DFT32F_COLUMN(wd, kWd)
#undef VEK_DFT32F_COLUMN
