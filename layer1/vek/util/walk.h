// The element walk of the utility kernels: a scalar head until the destination is aligned for the lane set, whole
// lane vectors, a scalar tail. A kernel supplies scalar(i), which computes and stores element i, and vec(i), which
// does the same for the lane vector starting at element i; both read their sources at any address, so the results
// never depend on the alignment or on the length.
#pragma once

#include <cstdint>

namespace vek::walk {

// Elements of size `elem` from dst to the next `align`-byte boundary; 0 when dst is not element-aligned (it can
// never reach the boundary, and the body then runs on unaligned addresses).
inline int64_t head_elems(const void* dst, uintptr_t align, uintptr_t elem) {
    const uintptr_t a = reinterpret_cast<uintptr_t>(dst);
    if (a % elem) return 0;
    return static_cast<int64_t>(((align - (a & (align - 1))) & (align - 1)) / elem);
}

// Runs f over n elements of kElem bytes at dst, kLanes elements per vector step.
template <class L, int kLanes, int kElem, class F>
inline void elements(const void* dst, int64_t n, F&& f) {
    int64_t h = head_elems(dst, L::kAlign, kElem);
    if (h > n) h = n;
    int64_t i = 0;
    for (; i < h; ++i) f.scalar(i);
    for (; n - i >= kLanes; i += kLanes) f.vec(i);
    L::done();
    for (; i < n; ++i) f.scalar(i);
}

}  // namespace vek::walk
