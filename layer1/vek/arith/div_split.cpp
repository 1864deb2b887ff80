// Split routines of division: a vector of 32 elements or more goes to the block kernel in whole 32-byte blocks
// and to the element kernel for the rest. When every pointer is on a 32-byte boundary the block kernel takes the
// front; when they share an offset within the block (and are element-aligned) the element kernel takes the head
// up to the boundary and the tail; otherwise the element kernel takes everything, in two calls, except for
// complex data, whose block kernels accept any alignment. Byte counts are formed in 64 bits.
#include "layer1/vek/arith/div_kernels.h"

namespace {

using namespace vek::div;

uintptr_t offset32(const void* p) {
    return reinterpret_cast<uintptr_t>(p) & 31;
}

template <class D>
VekStatus split(Kernel<D> block, Kernel<D> elem, typename D::A a, const typename D::E* src, typename D::E* dst,
                int32_t n, int32_t sf) {
    using E = typename D::E;
    constexpr int64_t es = sizeof(E), unit = D::kBlock;
    constexpr bool complex = std::is_same_v<E, VekC16>;
    if (n < 32) return elem(a, src, dst, n, sf);

    // The pointers of the call, the divisor vector first.
    const uintptr_t od = offset32(dst), os = offset32(src);
    uintptr_t oa = os;
    if constexpr (kVectorDivisor<D>) oa = offset32(a);
    const bool aligned = oa == 0 && os == 0 && od == 0;
    // The element alignment the shared-offset case needs: of the divisor vector for vectors (any byte for 8u),
    // of the source for constants and the reverse division.
    const uintptr_t lead = kVectorDivisor<D> ? oa : os;
    const uintptr_t need = complex ? 4 : (es == 2 ? 2 : 1);
    bool shared = oa == os && os == od && lead % need == 0;
    if constexpr (std::is_same_v<D, ConstC16>) shared = shared && os != 0;

    VekStatus st = VEK_OK;
    const auto run = [&](Kernel<D> k, int64_t from, int64_t count) {
        st |= k(advance(a, from), src + from, dst + from, static_cast<int32_t>(count), sf);
    };
    if (aligned && !std::is_same_v<D, ConstC16>) {
        const int64_t body = n - n % unit;
        run(block, 0, body);
        run(elem, body, n - body);
    } else if (shared) {
        const int64_t head = static_cast<int64_t>((32 - os) & 31) / es;
        if (n < head) {
            run(elem, 0, n);
        } else {
            const int64_t body = ((int64_t{n} * es - head * es) & ~int64_t{31}) / es;
            run(elem, 0, head);
            run(block, head, body);
            run(elem, head + body, n - head - body);
        }
    } else {
        const int64_t body = n - n % unit;
        run(complex ? block : elem, 0, body);
        run(elem, body, n - body);
    }
    return st ? VEK_WARN_DIV_BY_ZERO : VEK_OK;
}

}  // namespace

#define VEK_DIV_SPLITS(stem, D)                                                   \
    VekStatus stem##_split_wd VEK_DIV_KERNEL_PARAMS(D) {                          \
        return split<D>(stem##_block_wd, stem##_wd, a, src, dst, n, sf);          \
    }                                                                             \
    VekStatus stem##_split_ss VEK_DIV_KERNEL_PARAMS(D) {                          \
        return split<D>(stem##_block_ss, stem##_ss, a, src, dst, n, sf);          \
    }                                                                             \
    VekStatus stem##_split_mm VEK_DIV_KERNEL_PARAMS(D) {                          \
        return split<D>(stem##_block_mm, stem##_mm, a, src, dst, n, sf);          \
    }
VEK_DIV_OPERATIONS(VEK_DIV_SPLITS)
#undef VEK_DIV_SPLITS
