// Minimum and maximum with the index of the first occurrence, plain minimum and maximum of a 16-bit vector.
//
// The indexed search walks in blocks (65536 samples in mm, 4096 in ss and wd): the block extremum comes first,
// and only a block whose extremum is strictly beyond the current one is searched for its first position.
// Blocks are visited in order, so ties keep the first position as the scalar walk does.
#include <algorithm>

#include "layer1/vek/arith/lanes.h"
#include "layer1/vek/util/util.h"
#include "layer1/vek/util/utilities.h"

namespace {

using vek::lanes::ld16;
using vek::lanes::Mmx;
using vek::lanes::MmxSse;
using vek::lanes::Sse2;

// Extremum of n >= 1 samples: packed minimum or maximum over whole lane vectors, the rest scalar.
template <class L, bool kMax>
int16_t extremum(const int16_t* s, int64_t n) {
    int16_t best = ld16(s, 0);
    int64_t i = 0;
    if (n >= L::kLanes16) {
        typename L::V acc = L::load(s);
        for (i = L::kLanes16; n - i >= L::kLanes16; i += L::kLanes16) {
            const typename L::V x = L::load(s + i);
            acc = kMax ? L::max16(acc, x) : L::min16(acc, x);
        }
        int16_t lanes[L::kLanes16];
        L::lanes16(acc, lanes);
        L::done();
        for (int16_t x : lanes) best = kMax ? std::max(best, x) : std::min(best, x);
    }
    for (; i < n; ++i) best = kMax ? std::max(best, ld16(s, i)) : std::min(best, ld16(s, i));
    return best;
}

// Generic: four samples per round into two running extrema.
template <bool kMax>
int16_t extremum_gen(const int16_t* s, int64_t n) {
    int16_t a = ld16(s, 0), b = a;
    int64_t i = 0;
    auto pick = [](int16_t x, int16_t y) { return kMax ? std::max(x, y) : std::min(x, y); };
    for (; n - i >= 4; i += 4) {
        a = pick(a, pick(ld16(s, i), ld16(s, i + 1)));
        b = pick(b, pick(ld16(s, i + 2), ld16(s, i + 3)));
    }
    for (; i < n; ++i) a = pick(a, ld16(s, i));
    return pick(a, b);
}

// First position of value among n samples, a lane vector at a time; -1 when absent.
template <class L>
int64_t find_first(const int16_t* s, int64_t n, int16_t value) {
    const typename L::V v = L::set1_16(value);
    int64_t i = 0;
    for (; n - i >= L::kLanes16; i += L::kLanes16) {
        int16_t eq[L::kLanes16];
        L::lanes16(L::cmpeq16(L::load(s + i), v), eq);
        for (int k = 0; k < L::kLanes16; ++k) {
            if (eq[k] != 0) {
                L::done();
                return i + k;
            }
        }
    }
    L::done();
    for (; i < n; ++i)
        if (ld16(s, i) == value) return i;
    return -1;
}

template <bool kMax>
void scan_scalar(const int16_t* s, int64_t from, int64_t to, int16_t& best, int64_t& at) {
    for (int64_t i = from; i < to; ++i) {
        const int16_t x = ld16(s, i);
        if (kMax ? x > best : x < best) {
            best = x;
            at = i;
        }
    }
}

// Blocked search: scalar head to 8-byte alignment, blocks of kBlock over the largest multiple of kStep, scalar rest.
template <class L, int64_t kBlock, int64_t kStep, bool kMax>
void index_blocked(const int16_t* s, int64_t n, int16_t& best, int64_t& at) {
    best = ld16(s, 0);
    at = 0;
    int64_t h = vek::lanes::align_head16<Mmx>(s);
    if (h > n) h = n;
    scan_scalar<kMax>(s, 1, h, best, at);
    const int64_t body_end = h + (n - h) / kStep * kStep;
    for (int64_t i = h; i < body_end; i += kBlock) {
        const int64_t len = std::min(kBlock, body_end - i);
        const int16_t m = extremum<L, kMax>(s + i, len);
        if (kMax ? m > best : m < best) {
            best = m;
            at = i + find_first<L>(s + i, len, m);
        }
    }
    scan_scalar<kMax>(s, body_end, n, best, at);
}

template <class L, int64_t kBlock, int64_t kStep, bool kMax>
VekStatus index_simd(const int16_t* s, int32_t n, int16_t* out, int32_t* index,
                     VekStatus (*plain)(const int16_t*, int32_t, int16_t*)) {
    if (s == nullptr || out == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    if (index == nullptr) return plain(s, n, out);
    int16_t best = ld16(s, 0);
    int64_t at = 0;
    if (n < 32) {
        scan_scalar<kMax>(s, 1, n, best, at);
    } else {
        index_blocked<L, kBlock, kStep, kMax>(s, n, best, at);
    }
    *out = best;
    *index = static_cast<int32_t>(at);
    return VEK_OK;
}

template <bool kMax>
VekStatus index_gen(const int16_t* s, int32_t n, int16_t* out, int32_t* index,
                    VekStatus (*plain)(const int16_t*, int32_t, int16_t*)) {
    if (s == nullptr || out == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    if (index == nullptr) return plain(s, n, out);
    int16_t best = ld16(s, 0);
    int64_t at = 0;
    scan_scalar<kMax>(s, 1, n, best, at);
    *out = best;
    *index = static_cast<int32_t>(at);
    return VEK_OK;
}

VekStatus check(const int16_t* s, int32_t n, const int16_t* out) {
    if (s == nullptr || out == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    return VEK_OK;
}

}  // namespace

int16_t vek_min_16_kernel(const int16_t* s, int32_t n) {
    return extremum<Mmx, false>(s, n);
}
int16_t vek_max_16_kernel(const int16_t* s, int32_t n) {
    return extremum<Mmx, true>(s, n);
}
int32_t vek_k_find_value_index_16_a(const int16_t* s, int32_t n, int16_t v) {
    return static_cast<int32_t>(find_first<Sse2>(s, n, v));
}
int32_t vek_k_find_value_index_16_b(const int16_t* s, int32_t n, int16_t v) {
    return static_cast<int32_t>(find_first<MmxSse>(s, n, v));
}

#define VEK_EXTREMUM_ENTRIES(col, MIN, MAX)                                 \
    VekStatus vek_min_16_##col(const int16_t* s, int32_t n, int16_t* out) { \
        if (VekStatus st = check(s, n, out); st != VEK_OK) return st;       \
        *out = MIN;                                                         \
        return VEK_OK;                                                      \
    }                                                                       \
    VekStatus vek_max_16_##col(const int16_t* s, int32_t n, int16_t* out) { \
        if (VekStatus st = check(s, n, out); st != VEK_OK) return st;       \
        *out = MAX;                                                         \
        return VEK_OK;                                                      \
    }
VEK_EXTREMUM_ENTRIES(gen, (extremum_gen<false>(s, n)), (extremum_gen<true>(s, n)))
VEK_EXTREMUM_ENTRIES(mm, vek_min_16_kernel(s, n), vek_max_16_kernel(s, n))
VEK_EXTREMUM_ENTRIES(ss, (extremum<MmxSse, false>(s, n)), (extremum<MmxSse, true>(s, n)))
VEK_EXTREMUM_ENTRIES(wd, (extremum<Sse2, false>(s, n)), (extremum<Sse2, true>(s, n)))
#undef VEK_EXTREMUM_ENTRIES

VekStatus vek_min_index_16_gen(const int16_t* s, int32_t n, int16_t* minimum, int32_t* index) {
    return index_gen<false>(s, n, minimum, index, vek_min_16_gen);
}
VekStatus vek_min_index_16_mm(const int16_t* s, int32_t n, int16_t* minimum, int32_t* index) {
    return index_simd<Mmx, 65536, 8, false>(s, n, minimum, index, vek_min_16_mm);
}
VekStatus vek_min_index_16_ss(const int16_t* s, int32_t n, int16_t* minimum, int32_t* index) {
    return index_simd<MmxSse, 4096, 16, false>(s, n, minimum, index, vek_min_16_ss);
}
VekStatus vek_min_index_16_wd(const int16_t* s, int32_t n, int16_t* minimum, int32_t* index) {
    return index_simd<Sse2, 4096, 16, false>(s, n, minimum, index, vek_min_16_wd);
}

// Block searches of n >= 32 elements: the maximum is returned, its first position written.
int16_t vek_k_max_index_16_wd(const int16_t* s, int32_t n, int32_t* index) {
    int16_t best;
    int64_t at;
    index_blocked<Sse2, 4096, 16, true>(s, n, best, at);
    *index = static_cast<int32_t>(at);
    return best;
}
int16_t vek_k_max_index_16_ss(const int16_t* s, int32_t n, int32_t* index) {
    int16_t best;
    int64_t at;
    index_blocked<MmxSse, 4096, 16, true>(s, n, best, at);
    *index = static_cast<int32_t>(at);
    return best;
}
int16_t vek_k_max_index_16_mm(const int16_t* s, int32_t n, int32_t* index) {
    int16_t best;
    int64_t at;
    index_blocked<Mmx, 65536, 8, true>(s, n, best, at);
    *index = static_cast<int32_t>(at);
    return best;
}

VekStatus vek_max_index_16_gen(const int16_t* s, int32_t n, int16_t* maximum, int32_t* index) {
    return index_gen<true>(s, n, maximum, index, vek_max_16_gen);
}
VekStatus vek_max_index_16_mm(const int16_t* s, int32_t n, int16_t* maximum, int32_t* index) {
    return index_simd<Mmx, 65536, 8, true>(s, n, maximum, index, vek_max_16_mm);
}
VekStatus vek_max_index_16_ss(const int16_t* s, int32_t n, int16_t* maximum, int32_t* index) {
    return index_simd<MmxSse, 4096, 16, true>(s, n, maximum, index, vek_max_16_ss);
}
VekStatus vek_max_index_16_wd(const int16_t* s, int32_t n, int16_t* maximum, int32_t* index) {
    return index_simd<Sse2, 4096, 16, true>(s, n, maximum, index, vek_max_16_wd);
}
