// The ten 16-bit transforms. Order 0 narrows the single value; the fixed path widens by a block shift, runs
// the Q14 FFT and narrows with one rounding shift; the float path converts, runs the inner float FFT and
// converts back rounding to nearest. The block shift keeps one bit of headroom below the usual 16 - order
// for complex data and two for the real inverse, so that full-scale input cannot wrap the 32-bit sums.
#include <cstring>

#include "layer1/vek/core/vek_memory.h"
#include "layer1/vek/fft/fft16_column.h"

namespace {

VekStatus check(const FftSpec* spec, std::int32_t kind, bool dataOk)
{
    if (spec == nullptr) {
        return VEK_ERR_NULL_POINTER;
    }
    if (spec->kind != kind) {
        return VEK_ERR_CONTEXT_MISMATCH;
    }
    return dataOk ? VEK_OK : VEK_ERR_NULL_POINTER;
}

std::int32_t block_shift(std::int32_t order, std::int32_t headroom)
{
    return (order < 10 ? 16 - order : 6) - headroom;
}

// The work area: a caller's buffer from its next 16-byte boundary, or one allocated for the call.
struct Work {
    std::uint8_t* p = nullptr;
    std::uint8_t* owned = nullptr;
    bool take(const FftSpec* spec, std::uint8_t* given)
    {
        std::uint8_t* b = given;
        if (b == nullptr) {
            owned = static_cast<std::uint8_t*>(vek_alloc_8(spec->workBytes));
            if (owned == nullptr) {
                return false;
            }
            b = owned;
        }
        p = reinterpret_cast<std::uint8_t*>((reinterpret_cast<std::uintptr_t>(b) + 15) & ~std::uintptr_t{15});
        return true;
    }
    ~Work() { vek_free(owned); }
};

void narrow_one(const Fft16Column& c, const std::int16_t* src, std::int16_t* dst, std::int32_t count,
                std::int32_t sf)
{
    std::int32_t wide[2];
    for (std::int32_t i = 0; i < count; ++i) {
        wide[i] = src[i];
    }
    c.narrow(wide, dst, count, sf);
}

void odd_scale(const Fft16Column& c, const FftSpec* spec, std::int32_t* data, std::int32_t count)
{
    if (spec->oddFlag != 0) {
        c.invSqrt2(data, count);
    }
}

}  // namespace

VekStatus fft16_complex(const Fft16Column& c, const std::int16_t* src, std::int16_t* dst, const FftSpec* spec,
                        std::int32_t sf, std::uint8_t* work, bool inverse)
{
    VekStatus st = check(spec, VEK_KIND_FFT16_COMPLEX, src != nullptr && dst != nullptr);
    if (st != VEK_OK) {
        return st;
    }
    const std::int32_t n = 1 << spec->order;
    if (spec->order == 0) {
        narrow_one(c, src, dst, 2, sf);
        return VEK_OK;
    }
    Work w;
    if (!w.take(spec, work)) {
        return VEK_ERR_NO_MEMORY;
    }
    if (spec->fixed != 0) {
        const std::int32_t s = block_shift(spec->order, 1);
        auto* x = reinterpret_cast<std::int32_t*>(w.p);
        c.widen(src, x, 2 * n, s);
        c.fft(x, n, inverse ? -1 : 1, spec->twiddles);
        odd_scale(c, spec, x, 2 * n);
        c.permute(x, n, spec->bitrev);
        c.narrow(x, dst, 2 * n, sf + (inverse ? spec->invShift : spec->fwdShift) + s);
        return VEK_OK;
    }
    auto* f = reinterpret_cast<float*>(w.p);
    c.toFloat(src, f, 2 * n);
    st = vek_fft32f_ops(c.column).complex[inverse ? 1 : 0](f, f, spec->inner, w.p + 8 * n);
    if (st == VEK_OK) {
        c.toInt(f, dst, 2 * n, 1, sf);
    }
    return st;
}

VekStatus fft16_split(const Fft16Column& c, const std::int16_t* sr, const std::int16_t* si, std::int16_t* dr,
                      std::int16_t* di, const FftSpec* spec, std::int32_t sf, std::uint8_t* work, bool inverse)
{
    VekStatus st =
        check(spec, VEK_KIND_FFT16_SPLIT, sr != nullptr && si != nullptr && dr != nullptr && di != nullptr);
    if (st != VEK_OK) {
        return st;
    }
    const std::int32_t n = 1 << spec->order;
    if (spec->order == 0) {
        narrow_one(c, sr, dr, 1, sf);
        narrow_one(c, si, di, 1, sf);
        return VEK_OK;
    }
    Work w;
    if (!w.take(spec, work)) {
        return VEK_ERR_NO_MEMORY;
    }
    if (spec->fixed != 0) {
        const std::int32_t s = block_shift(spec->order, 1);
        auto* x = reinterpret_cast<std::int32_t*>(w.p);
        auto* pairs = reinterpret_cast<std::int16_t*>(w.p + 8 * n);
        c.interleave(pairs, sr, si, spec->order);
        c.widen(pairs, x, 2 * n, s);
        c.fft(x, n, inverse ? -1 : 1, spec->twiddles);
        odd_scale(c, spec, x, 2 * n);
        c.narrow(x, pairs, 2 * n, sf + (inverse ? spec->invShift : spec->fwdShift) + s);
        c.permuteSplit(pairs, n, spec->bitrev);
        c.deinterleave(pairs, dr, di, spec->order);
        return VEK_OK;
    }
    auto* f = reinterpret_cast<float*>(w.p);
    c.toFloat(sr, f, n);
    c.toFloat(si, f + n, n);
    st = vek_fft32f_ops(c.column).split[inverse ? 1 : 0](f, f + n, f, f + n, spec->inner, w.p + 8 * n);
    if (st == VEK_OK) {
        c.toInt(f, dr, n, 1, sf);
        c.toInt(f + n, di, n, 1, sf);
    }
    return st;
}

VekStatus fft16_real_fwd(const Fft16Column& c, const std::int16_t* src, std::int16_t* dst, const FftSpec* spec,
                         std::int32_t sf, std::uint8_t* work, int layout)
{
    VekStatus st = check(spec, VEK_KIND_FFT16_REAL, src != nullptr && dst != nullptr);
    if (st != VEK_OK) {
        return st;
    }
    const std::int32_t n = 1 << spec->order;
    if (spec->order == 0) {
        narrow_one(c, src, dst, 1, sf);
        if (layout == 3) {
            dst[1] = 0;
        }
        return VEK_OK;
    }
    Work w;
    if (!w.take(spec, work)) {
        return VEK_ERR_NO_MEMORY;
    }
    if (spec->fixed != 0) {
        const std::int32_t s = block_shift(spec->order, 0);
        auto* x = reinterpret_cast<std::int32_t*>(w.p);
        c.widen(src, x, n, s);
        if (spec->order >= 2) {
            c.fft(x, n / 2, 1, spec->twiddles);
            c.permute(x, n / 2, spec->bitrev);
            c.recombFwd(x, n / 2, 1, spec->recomb);
        }
        const std::int64_t re0 = x[0], im0 = x[1];
        x[0] = static_cast<std::int32_t>(static_cast<std::uint32_t>(re0 + im0));
        x[1] = static_cast<std::int32_t>(static_cast<std::uint32_t>(re0 - im0));
        odd_scale(c, spec, x, n);
        c.narrow(x, dst, n, sf + spec->fwdShift + s);
        if (layout == 2 && n > 2) {
            const std::int16_t nyq = dst[1];
            std::memmove(dst + 1, dst + 2, static_cast<std::size_t>(n - 2) * 2);
            dst[n - 1] = nyq;
        } else if (layout == 3) {
            dst[n] = dst[1];
            dst[n + 1] = 0;
            dst[1] = 0;
        }
        return VEK_OK;
    }
    auto* f = reinterpret_cast<float*>(w.p);
    c.toFloat(src, f, n);
    st = vek_fft32f_ops(c.column).realFwd[layout - 1](f, f, spec->inner, w.p + 4 * n + (layout == 3 ? 8 : 0));
    if (st == VEK_OK) {
        c.toInt(f, dst, layout == 3 ? n + 2 : n, 1, sf);
    }
    return st;
}

VekStatus fft16_real_inv(const Fft16Column& c, const std::int16_t* src, std::int16_t* dst, const FftSpec* spec,
                         std::int32_t sf, std::uint8_t* work, int layout)
{
    VekStatus st = check(spec, VEK_KIND_FFT16_REAL, src != nullptr && dst != nullptr);
    if (st != VEK_OK) {
        return st;
    }
    const std::int32_t n = 1 << spec->order;
    if (spec->order == 0) {
        narrow_one(c, src, dst, 1, sf);
        return VEK_OK;
    }
    Work w;
    if (!w.take(spec, work)) {
        return VEK_ERR_NO_MEMORY;
    }
    if (spec->fixed == 0) {
        auto* f = reinterpret_cast<float*>(w.p);
        c.toFloat(src, f, layout == 3 ? n + 1 : n);
        st = vek_fft32f_ops(c.column).realInv[layout - 1](f, f, spec->inner, w.p + 4 * n + (layout == 3 ? 8 : 0));
        if (st == VEK_OK) {
            c.toInt(f, dst, n, 1, sf);
        }
        return st;
    }
    if (layout == 2) {
        // Into packed layout 1 inside dst: R(N/2) saved first, bins moved up from the top, R(N/2) written last
        // (src may be dst).
        const std::int16_t nyq = src[n - 1];
        if (n > 2) {
            std::memmove(dst + 2, src + 1, static_cast<std::size_t>(n - 2) * 2);
        }
        dst[0] = src[0];
        dst[1] = nyq;
        src = dst;
    }
    const std::int32_t s = block_shift(spec->order, 2);
    auto* x = reinterpret_cast<std::int32_t*>(w.p);
    c.widen(src, x, layout == 3 ? n + 1 : n, s);
    const std::int64_t r0 = x[0];
    const std::int64_t rn = layout == 3 ? x[n] : x[1];
    x[0] = static_cast<std::int32_t>(static_cast<std::uint32_t>(r0 + rn));
    x[1] = static_cast<std::int32_t>(static_cast<std::uint32_t>(r0 - rn));
    if (spec->order >= 2) {
        c.recombInv(x, n / 2, -1, spec->recomb);
        c.fft(x, n / 2, 1, spec->twiddles);
    }
    odd_scale(c, spec, x, n);
    c.permute(x, n / 2, spec->bitrev);
    c.narrow(x, dst, n, sf + spec->invShift + s);
    return VEK_OK;
}
