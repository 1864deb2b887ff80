// Creation, size query and release of 16-bit FFT records. Checks: out -8, order -15, record -9, flag -16,
// then the tables or the inner float record.
#include "layer1/vek/core/vek_memory.h"
#include "layer1/vek/fft/fft16_column.h"

namespace {

// Fixed path: bit reversal and quads of the complex order, and for real data the recombination quads of
// the order, all read from one temporary Q14 sine table (freed on every path).
VekStatus fixed_tables(const Fft16Column& c, FftSpec* spec, std::int32_t kind)
{
    const std::int32_t order = spec->order;
    const std::int32_t complexOrder = kind == VEK_KIND_FFT16_REAL ? order - 1 : order;
    std::int16_t* sine = c.sine(order);
    if (sine == nullptr) {
        return VEK_ERR_NO_MEMORY;
    }
    VekStatus st = VEK_ERR_NO_MEMORY;
    spec->bitrev = c.pairs(complexOrder);
    if (spec->bitrev != nullptr) {
        spec->twiddles = c.quads(complexOrder, sine, order);
        if (spec->twiddles != nullptr) {
            if (kind == VEK_KIND_FFT16_REAL) {
                spec->recomb = c.quads(order, sine, order);
            }
            if (kind != VEK_KIND_FFT16_REAL || spec->recomb != nullptr) {
                st = VEK_OK;
            }
        }
    }
    vek_free(sine);
    const std::int64_t n = std::int64_t{1} << order;
    spec->workBytes = static_cast<std::int32_t>(kind == VEK_KIND_FFT16_REAL ? 4 * n + 24 : 12 * n + 16);
    return st;
}

VekStatus float_inner(const Fft16Column& c, FftSpec* spec, std::int32_t flag, std::int32_t kind)
{
    const Fft32fOps& ops = vek_fft32f_ops(c.column);
    const int k = kind - VEK_KIND_FFT16_COMPLEX;
    const VekStatus st = ops.init[k](&spec->inner, spec->order, flag, 0);
    if (st != VEK_OK) {
        return st;
    }
    std::int32_t w = 0;
    ops.size[k](spec->inner, &w);
    const std::int64_t n = std::int64_t{1} << spec->order;
    const std::int64_t bytes = (kind == VEK_KIND_FFT16_REAL ? 4 * n + 24 : 8 * n + 16) + w;
    if (bytes > INT32_MAX) {
        return VEK_ERR_NO_MEMORY;
    }
    spec->workBytes = static_cast<std::int32_t>(bytes);
    return VEK_OK;
}

}  // namespace

void vek_k_fft16_spec_release(FftSpec* spec)
{
    if (spec == nullptr) {
        return;
    }
    vek_free(spec->bitrev);
    vek_free(spec->twiddles);
    vek_free(spec->recomb);
    spec->kind = 0;
    vek_free(spec);
}

VekStatus fft16_init(const Fft16Column& c, FftSpec** out, std::int32_t order, std::int32_t flag, std::int32_t hint,
                     std::int32_t kind)
{
    if (out == nullptr) {
        return VEK_ERR_NULL_POINTER;
    }
    if (order < 0 || order > 30) {
        return VEK_ERR_FFT_ORDER;
    }
    auto* spec = static_cast<FftSpec*>(vek_alloc_8(sizeof(FftSpec)));
    if (spec == nullptr) {
        return VEK_ERR_NO_MEMORY;
    }
    *spec = FftSpec{};
    spec->kind = kind;
    spec->order = order;
    spec->hint = hint;
    switch (flag) {
    case VEK_FFT_NORM_FWD: spec->fwdShift = order; break;
    case VEK_FFT_NORM_INV: spec->invShift = order; break;
    case VEK_FFT_NORM_SQRT:
        spec->fwdShift = spec->invShift = order >> 1;
        spec->oddFlag = order & 1;
        break;
    case VEK_FFT_NORM_NONE: break;
    default: vek_k_fft16_spec_release(spec); return VEK_ERR_FFT_FLAG;
    }
    VekStatus st = VEK_OK;
    if (order > 0) {
        const bool fixed = (hint == 0 && order <= 8) || (hint == 1 && order <= c.fixedLimitHint1);
        spec->fixed = fixed ? 1 : 0;
        st = fixed ? fixed_tables(c, spec, kind) : float_inner(c, spec, flag, kind);
    }
    if (st != VEK_OK) {
        if (spec->inner != nullptr) {
            vek_fft32f_ops(c.column).free[kind - VEK_KIND_FFT16_COMPLEX](spec->inner);
        }
        vek_k_fft16_spec_release(spec);
        return st;
    }
    *out = spec;
    return VEK_OK;
}

VekStatus fft16_free(const Fft16Column& c, FftSpec* spec, std::int32_t kind)
{
    if (spec == nullptr) {
        return VEK_ERR_NULL_POINTER;
    }
    if (spec->kind != kind) {
        return VEK_ERR_CONTEXT_MISMATCH;
    }
    if (spec->inner != nullptr) {
        vek_fft32f_ops(c.column).free[kind - VEK_KIND_FFT16_COMPLEX](spec->inner);
    }
    vek_k_fft16_spec_release(spec);
    return VEK_OK;
}

VekStatus fft16_size(const FftSpec* spec, std::int32_t* size, std::int32_t kind)
{
    if (spec == nullptr || size == nullptr) {
        return VEK_ERR_NULL_POINTER;
    }
    if (spec->kind != kind) {
        return VEK_ERR_CONTEXT_MISMATCH;
    }
    *size = spec->workBytes;
    return VEK_OK;
}
