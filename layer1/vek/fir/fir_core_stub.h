// Temporary stand-in for the library core while it is being built elsewhere; removed when the core lands.
#pragma once

#include <cstdint>
#include <cstdlib>

using VekStatus = std::int32_t;
struct VekC16 {
    std::int16_t re;
    std::int16_t im;
};
struct VekC32 {
    std::int32_t re;
    std::int32_t im;
};
inline constexpr VekStatus VEK_OK = 0;
inline constexpr VekStatus VEK_ERR_SIZE = -6;
inline constexpr VekStatus VEK_ERR_NULL_POINTER = -8;
inline constexpr VekStatus VEK_ERR_NO_MEMORY = -9;
inline constexpr VekStatus VEK_ERR_CONTEXT_MISMATCH = -17;
inline constexpr VekStatus VEK_ERR_FIR_LENGTH = -26;
inline constexpr VekStatus VEK_ERR_MR_PHASE = -28;
inline constexpr VekStatus VEK_ERR_MR_FACTOR = -29;

inline void* vek_alloc_bytes_stub(std::int64_t bytes) {
    if (bytes <= 0) return nullptr;
    return std::aligned_alloc(32, static_cast<std::size_t>((bytes + 31) / 32 * 32));
}
inline std::int16_t* vek_alloc_16(std::int32_t n) { return static_cast<std::int16_t*>(vek_alloc_bytes_stub(std::int64_t{n} * 2)); }
inline std::int32_t* vek_alloc_32(std::int32_t n) { return static_cast<std::int32_t*>(vek_alloc_bytes_stub(std::int64_t{n} * 4)); }
inline void* vek_alloc_8(std::int32_t n) { return vek_alloc_bytes_stub(n); }
inline void vek_free(void* p) { std::free(p); }
