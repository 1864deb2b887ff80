// Checked entries of copy, zero and fill, one template over the variant kernels.
#include "layer1/vek/core/vek_copy.h"
#include "layer1/vek/core/vek_status.h"

namespace {

using CopyKernel = void (*)(const void*, void*, std::size_t);
using ZeroKernel = void (*)(void*, std::size_t);
using Fill8Kernel = void (*)(std::uint8_t, void*, std::size_t);
using Fill32Kernel = void (*)(std::int32_t, std::int32_t*, std::size_t);

template <class T, CopyKernel K>
VekStatus copy_entry(const T* src, T* dst, std::int32_t n)
{
    if (src == nullptr || dst == nullptr) {
        return VEK_ERR_NULL_POINTER;
    }
    if (n <= 0) {
        return VEK_ERR_SIZE;
    }
    K(src, dst, static_cast<std::size_t>(n) * sizeof(T));
    return VEK_OK;
}

template <class T, ZeroKernel K>
VekStatus zero_entry(T* dst, std::int32_t n)
{
    if (dst == nullptr) {
        return VEK_ERR_NULL_POINTER;
    }
    if (n <= 0) {
        return VEK_ERR_SIZE;
    }
    K(dst, static_cast<std::size_t>(n) * sizeof(T));
    return VEK_OK;
}

template <Fill8Kernel K>
VekStatus set8_entry(std::uint8_t value, std::uint8_t* dst, std::int32_t n)
{
    if (dst == nullptr) {
        return VEK_ERR_NULL_POINTER;
    }
    if (n <= 0) {
        return VEK_ERR_SIZE;
    }
    K(value, dst, static_cast<std::size_t>(n));
    return VEK_OK;
}

template <Fill32Kernel K>
VekStatus set32_entry(std::int32_t value, std::int32_t* dst, std::int32_t n)
{
    if (dst == nullptr) {
        return VEK_ERR_NULL_POINTER;
    }
    if (n <= 0) {
        return VEK_ERR_SIZE;
    }
    K(value, dst, static_cast<std::size_t>(n));
    return VEK_OK;
}

} // namespace

#define VEK_COPY_DEFINE_VARIANT(v)                                                                              \
    VekStatus vek_copy_8_##v(const std::uint8_t* src, std::uint8_t* dst, std::int32_t n)                        \
    {                                                                                                           \
        return copy_entry<std::uint8_t, vek_k_copy_##v>(src, dst, n);                                           \
    }                                                                                                           \
    VekStatus vek_copy_16_##v(const std::int16_t* src, std::int16_t* dst, std::int32_t n)                       \
    {                                                                                                           \
        return copy_entry<std::int16_t, vek_k_copy_##v>(src, dst, n);                                           \
    }                                                                                                           \
    VekStatus vek_copy_32_##v(const std::int32_t* src, std::int32_t* dst, std::int32_t n)                       \
    {                                                                                                           \
        return copy_entry<std::int32_t, vek_k_copy_##v>(src, dst, n);                                           \
    }                                                                                                           \
    VekStatus vek_zero_8_##v(std::uint8_t* dst, std::int32_t n) { return zero_entry<std::uint8_t, vek_k_zero_##v>(dst, n); } \
    VekStatus vek_zero_16_##v(std::int16_t* dst, std::int32_t n) { return zero_entry<std::int16_t, vek_k_zero_##v>(dst, n); } \
    VekStatus vek_zero_32_##v(std::int32_t* dst, std::int32_t n) { return zero_entry<std::int32_t, vek_k_zero_##v>(dst, n); } \
    VekStatus vek_set_8_##v(std::uint8_t value, std::uint8_t* dst, std::int32_t n)                              \
    {                                                                                                           \
        return set8_entry<vek_k_fill8_##v>(value, dst, n);                                                      \
    }                                                                                                           \
    VekStatus vek_set_32_##v(std::int32_t value, std::int32_t* dst, std::int32_t n)                             \
    {                                                                                                           \
        return set32_entry<vek_k_fill32_##v>(value, dst, n);                                                    \
    }

VEK_COPY_DEFINE_VARIANT(gen)
VEK_COPY_DEFINE_VARIANT(mm)
VEK_COPY_DEFINE_VARIANT(ss)
VEK_COPY_DEFINE_VARIANT(wd)
#undef VEK_COPY_DEFINE_VARIANT
