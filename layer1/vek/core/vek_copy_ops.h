// Small moves and stores shared by the copy, zero and fill kernels. Unaligned accesses go through memcpy,
// which the compiler turns into single moves.
#pragma once

#include <mmintrin.h>
#include <xmmintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vekcopy {

using Byte = unsigned char;

inline std::size_t misalign(const void* p, std::size_t align)
{
    return static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(p) & (align - 1));
}

// Bytes to the next multiple of align, 1..align (a full step when already aligned).
inline std::size_t step_to_align(const void* p, std::size_t align)
{
    return align - misalign(p, align);
}

// Bytes to the next multiple of align, 0 when already aligned.
inline std::size_t head_to_align(const void* p, std::size_t align)
{
    const std::size_t m = misalign(p, align);
    return m == 0 ? 0 : align - m;
}

inline void move1(const Byte* s, Byte* d) { *d = *s; }
inline void move4(const Byte* s, Byte* d) { std::memcpy(d, s, 4); }

inline __m64 load8(const Byte* s)
{
    __m64 v;
    std::memcpy(&v, s, 8);
    return v;
}
inline void store8(Byte* d, __m64 v) { std::memcpy(d, &v, 8); }
inline void move8(const Byte* s, Byte* d) { store8(d, load8(s)); }
inline void move16(const Byte* s, Byte* d)
{
    store8(d, load8(s));
    store8(d + 8, load8(s + 8));
}

// 8-byte pattern stores.
inline void put8(Byte* d, std::uint64_t pattern) { std::memcpy(d, &pattern, 8); }
inline void put4(Byte* d, std::uint64_t pattern)
{
    const std::uint32_t low = static_cast<std::uint32_t>(pattern);
    std::memcpy(d, &low, 4);
}

} // namespace vekcopy
