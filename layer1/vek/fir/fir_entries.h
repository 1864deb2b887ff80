// Entry points of the FIR family, one instance per column. The argument checks run in the family's own
// order (state, kind, data pointers, count); the column's kernels do the work. Multi-rate records run the
// loop of their own layout whichever column is called, and the single-rate kernels check the layout of
// the record too, so a record made by another column is always safe to use.
#pragma once

#include "layer1/vek/fir/fir_context.h"
#include "layer1/vek/fir/fir_internal.h"
#include "layer1/vek/fir/fir_multirate.h"

namespace fir {

// Small in-place blocks (a pump's 10 ms block) use a buffer on the stack instead of an allocation.
inline constexpr std::int64_t kInplaceStackBytes = 1024;

// K provides one_real, one_complex, block_real, block_complex for single-rate records.
template <class K>
struct Entries {
    static VekStatus one_real(std::int16_t in, std::int16_t* out, FirState* st, std::int32_t sf) {
        if (st == nullptr) return VEK_ERR_NULL_POINTER;
        if (st->kind != FIR_KIND_REAL) return VEK_ERR_CONTEXT_MISMATCH;
        if (out == nullptr) return VEK_ERR_NULL_POINTER;
        store16(out, 0, K::one_real(st, in, sf));
        return VEK_OK;
    }

    static VekStatus one_complex(VekC16 in, VekC16* out, FirState* st, std::int32_t sf) {
        if (st == nullptr) return VEK_ERR_NULL_POINTER;
        if (st->kind != FIR_KIND_COMPLEX) return VEK_ERR_CONTEXT_MISMATCH;
        if (out == nullptr) return VEK_ERR_NULL_POINTER;
        storec(out, 0, K::one_complex(st, in, sf));
        return VEK_OK;
    }

    static VekStatus block_real(const std::int16_t* src, std::int16_t* dst, std::int32_t count, FirState* st,
                                std::int32_t sf) {
        if (st == nullptr) return VEK_ERR_NULL_POINTER;
        if (st->kind != FIR_KIND_REAL && st->kind != FIR_KIND_REAL_MULTIRATE) return VEK_ERR_CONTEXT_MISMATCH;
        if (src == nullptr || dst == nullptr) return VEK_ERR_NULL_POINTER;
        if (count <= 0) return VEK_ERR_SIZE;
        if (st->kind == FIR_KIND_REAL)
            K::block_real(st, src, dst, count, sf);
        else if (has_padded_layout(st))
            multirate_block_real_padded(st, src, dst, count, sf);
        else
            multirate_block_real_generic(st, src, dst, count, sf);
        return VEK_OK;
    }

    static VekStatus block_complex(const VekC16* src, VekC16* dst, std::int32_t count, FirState* st,
                                   std::int32_t sf) {
        if (st == nullptr) return VEK_ERR_NULL_POINTER;
        if (st->kind != FIR_KIND_COMPLEX && st->kind != FIR_KIND_COMPLEX_MULTIRATE)
            return VEK_ERR_CONTEXT_MISMATCH;
        if (src == nullptr || dst == nullptr) return VEK_ERR_NULL_POINTER;
        if (count <= 0) return VEK_ERR_SIZE;
        if (st->kind == FIR_KIND_COMPLEX)
            K::block_complex(st, src, dst, count, sf);
        else if (has_padded_layout(st))
            multirate_block_complex_padded(st, src, dst, count, sf);
        else
            multirate_block_complex_generic(st, src, dst, count, sf);
        return VEK_OK;
    }

    static VekStatus block_real_inplace(std::int16_t* buf, std::int32_t count, FirState* st, std::int32_t sf) {
        return inplace<std::int16_t, FIR_KIND_REAL, FIR_KIND_REAL_MULTIRATE>(buf, count, st, sf, &block_real);
    }

    static VekStatus block_complex_inplace(VekC16* buf, std::int32_t count, FirState* st, std::int32_t sf) {
        return inplace<VekC16, FIR_KIND_COMPLEX, FIR_KIND_COMPLEX_MULTIRATE>(buf, count, st, sf, &block_complex);
    }

private:
    // The inputs are copied to a temporary and filtered into the caller's buffer. A multi-rate call reads
    // D * count inputs and writes U * count outputs over them.
    template <class Elem, std::uint32_t Single, std::uint32_t Multi>
    static VekStatus inplace(Elem* buf, std::int32_t count, FirState* st, std::int32_t sf,
                             VekStatus (*block)(const Elem*, Elem*, std::int32_t, FirState*, std::int32_t)) {
        if (st == nullptr) return VEK_ERR_NULL_POINTER;
        if (st->kind != Single && st->kind != Multi) return VEK_ERR_CONTEXT_MISMATCH;
        if (buf == nullptr) return VEK_ERR_NULL_POINTER;
        if (count <= 0) return VEK_ERR_SIZE;
        const std::int64_t inputs = st->kind == Single ? count : std::int64_t{st->downFactor} * count;
        const std::int64_t bytes = inputs * static_cast<std::int64_t>(sizeof(Elem));
        alignas(16) unsigned char local[kInplaceStackBytes];
        void* temp = local;
        if (bytes > kInplaceStackBytes) {
            temp = fits_count(bytes) ? static_cast<void*>(vek_alloc_8(static_cast<std::int32_t>(bytes))) : nullptr;
            if (temp == nullptr) return VEK_ERR_NO_MEMORY;
        }
        std::memcpy(temp, buf, static_cast<std::size_t>(bytes));
        const VekStatus status = block(static_cast<const Elem*>(temp), buf, count, st, sf);
        if (temp != local) vek_free(temp);
        return status;
    }
};

}  // namespace fir

// The six filtering entries of one column, thin named wrappers over Entries<Kernels>.
#define FIR_COLUMN_ENTRIES(col, Kernels)                                                                         \
    VekStatus vek_fir_one_real_##col(std::int16_t in, std::int16_t* out, FirState* state, std::int32_t sf)        \
    {                                                                                                            \
        return fir::Entries<Kernels>::one_real(in, out, state, sf);                                              \
    }                                                                                                            \
    VekStatus vek_fir_one_complex_##col(VekC16 in, VekC16* out, FirState* state, std::int32_t sf)                \
    {                                                                                                            \
        return fir::Entries<Kernels>::one_complex(in, out, state, sf);                                           \
    }                                                                                                            \
    VekStatus vek_fir_block_real_##col(const std::int16_t* src, std::int16_t* dst, std::int32_t count,           \
                                       FirState* state, std::int32_t sf)                                         \
    {                                                                                                            \
        return fir::Entries<Kernels>::block_real(src, dst, count, state, sf);                                    \
    }                                                                                                            \
    VekStatus vek_fir_block_complex_##col(const VekC16* src, VekC16* dst, std::int32_t count, FirState* state,   \
                                          std::int32_t sf)                                                       \
    {                                                                                                            \
        return fir::Entries<Kernels>::block_complex(src, dst, count, state, sf);                                 \
    }                                                                                                            \
    VekStatus vek_fir_block_real_inplace_##col(std::int16_t* buf, std::int32_t count, FirState* state,           \
                                               std::int32_t sf)                                                  \
    {                                                                                                            \
        return fir::Entries<Kernels>::block_real_inplace(buf, count, state, sf);                                 \
    }                                                                                                            \
    VekStatus vek_fir_block_complex_inplace_##col(VekC16* buf, std::int32_t count, FirState* state,              \
                                                  std::int32_t sf)                                               \
    {                                                                                                            \
        return fir::Entries<Kernels>::block_complex_inplace(buf, count, state, sf);                              \
    }
