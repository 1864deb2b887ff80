// Slots 241-244: the DFT of any length on complex 16-bit data, through the float DFT of the column.
// Length 1 narrows with one rounding shift; other lengths convert to float in the work area, run the float
// transform in place (its own work right behind the data) and convert back rounding to nearest.
#include "layer1/vek/core/vek_memory.h"
#include "layer1/vek/fft/dft.h"
#include "layer1/vek/fft/fft_convert.h"

namespace {

struct DftColumn {
    VekStatus (*init)(DftSpec32f**, std::int32_t, std::int32_t, std::int32_t);
    VekStatus (*free)(DftSpec32f*);
    VekStatus (*size)(const DftSpec32f*, std::int32_t*);
    VekStatus (*run[2])(const float*, float*, const DftSpec32f*, std::uint8_t*);
    VekStatus (*toFloat)(const std::int16_t*, float*, std::int32_t);
    VekStatus (*toInt)(const float*, std::int16_t*, std::int32_t, std::int32_t, std::int32_t);
    void (*narrow)(const std::int32_t*, std::int16_t*, std::int32_t, std::int32_t);
};

#define VEK_DFT_COLUMN(col, size, narrowFn)                                                                       \
    {vek_k_dft32f_init_##col, vek_k_dft32f_free_##col, size, {vek_k_dft32f_fwd_##col, vek_k_dft32f_inv_##col},   \
     vek_k_convert_s16_f32_##col, vek_k_convert_f32_s16_scaled_##col, narrowFn}
const DftColumn kColumns[4] = {
    VEK_DFT_COLUMN(gen, vek_k_dft32f_buffer_size, vek_k_convert_s32_s16_scaled_gen),
    VEK_DFT_COLUMN(mm, vek_k_dft32f_buffer_size, vek_k_convert_s32_s16_scaled_mmx),
    VEK_DFT_COLUMN(ss, vek_k_dft32f_buffer_size, vek_k_convert_s32_s16_scaled_mmx),
    VEK_DFT_COLUMN(wd, vek_k_dft32f_buffer_size_wd, vek_k_convert_s32_s16_scaled_mmx),
};
#undef VEK_DFT_COLUMN

VekStatus init(const DftColumn& c, DftSpec** out, std::int32_t len, std::int32_t flag, std::int32_t hint)
{
    if (out == nullptr) {
        return VEK_ERR_NULL_POINTER;
    }
    if (len < 1) {
        return VEK_ERR_SIZE;
    }
    auto* s = static_cast<DftSpec*>(vek_alloc_8(sizeof(DftSpec)));
    if (s == nullptr) {
        return VEK_ERR_NO_MEMORY;
    }
    *s = DftSpec{};
    s->kind = VEK_KIND_DFT16;
    s->length = len;
    s->hint = hint;
    if (len > 1) {
        VekStatus st = c.init(&s->inner, len, flag, 1);
        std::int32_t w = 0;
        if (st == VEK_OK) {
            c.size(s->inner, &w);
            const std::int64_t bytes = 8 * std::int64_t{len} + 16 + w;
            st = bytes > INT32_MAX ? VEK_ERR_NO_MEMORY : VEK_OK;
            s->workBytes = static_cast<std::int32_t>(bytes);
        }
        if (st != VEK_OK) {
            if (s->inner != nullptr) {
                c.free(s->inner);
            }
            s->kind = 0;
            vek_free(s);
            return st;
        }
    }
    *out = s;
    return VEK_OK;
}

VekStatus free_spec(const DftColumn& c, DftSpec* s)
{
    if (s == nullptr) {
        return VEK_ERR_NULL_POINTER;
    }
    if (s->kind != VEK_KIND_DFT16) {
        return VEK_ERR_CONTEXT_MISMATCH;
    }
    if (s->inner != nullptr) {
        c.free(s->inner);
    }
    s->kind = 0;
    vek_free(s);
    return VEK_OK;
}

VekStatus transform(const DftColumn& c, const VekC16* src, VekC16* dst, const DftSpec* s, std::int32_t sf,
                    std::uint8_t* work, int inverse)
{
    if (s == nullptr) {
        return VEK_ERR_NULL_POINTER;
    }
    if (s->kind != VEK_KIND_DFT16) {
        return VEK_ERR_CONTEXT_MISMATCH;
    }
    if (src == nullptr || dst == nullptr) {
        return VEK_ERR_NULL_POINTER;
    }
    const std::int32_t n = s->length;
    if (n == 1) {
        const std::int32_t wide[2] = {src[0].re, src[0].im};
        std::int16_t out[2];
        c.narrow(wide, out, 2, sf);
        dst[0] = VekC16{out[0], out[1]};
        return VEK_OK;
    }
    std::uint8_t* owned = nullptr;
    std::uint8_t* p = work;
    if (p == nullptr) {
        p = owned = static_cast<std::uint8_t*>(vek_alloc_8(s->workBytes));
        if (p == nullptr) {
            return VEK_ERR_NO_MEMORY;
        }
    }
    auto* f = reinterpret_cast<float*>((reinterpret_cast<std::uintptr_t>(p) + 15) & ~std::uintptr_t{15});
    c.toFloat(reinterpret_cast<const std::int16_t*>(src), f, 2 * n);
    const VekStatus st = c.run[inverse](f, f, s->inner, reinterpret_cast<std::uint8_t*>(f + 2 * std::int64_t{n}));
    if (st == VEK_OK) {
        c.toInt(f, reinterpret_cast<std::int16_t*>(dst), 2 * n, 1, sf);
    }
    vek_free(owned);
    return st;
}

}  // namespace

#define VEK_DFT_MEMBERS(col, C)                                                                                   \
    VekStatus vek_dft_init_##col(DftSpec** o, std::int32_t n, std::int32_t f, std::int32_t h)                    \
    {                                                                                                             \
        return init(kColumns[C], o, n, f, h);                                                                     \
    }                                                                                                             \
    VekStatus vek_dft_free_##col(DftSpec* s) { return free_spec(kColumns[C], s); }                                \
    VekStatus vek_dft_fwd_##col(const VekC16* s, VekC16* d, const DftSpec* p, std::int32_t sf, std::uint8_t* w)   \
    {                                                                                                             \
        return transform(kColumns[C], s, d, p, sf, w, 0);                                                         \
    }                                                                                                             \
    VekStatus vek_dft_inv_##col(const VekC16* s, VekC16* d, const DftSpec* p, std::int32_t sf, std::uint8_t* w)   \
    {                                                                                                             \
        return transform(kColumns[C], s, d, p, sf, w, 1);                                                         \
    }
VEK_DFT_MEMBERS(gen, 0)
VEK_DFT_MEMBERS(mm, 1)
VEK_DFT_MEMBERS(ss, 2)
VEK_DFT_MEMBERS(wd, 3)
#undef VEK_DFT_MEMBERS
