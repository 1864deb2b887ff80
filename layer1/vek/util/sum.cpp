// Sum of a 16-bit vector scaled by 2^-sf. The exact sum is formed in blocks of 65536 samples (a block always fits
// in 32 bits) accumulated in 64 bits, then rounded half to even and saturated. The SSE2 column carries the total
// in double precision (exact at these sizes) and rounds it in the current SSE rounding mode, which equals the
// integer result in the default mode.
#include <cmath>

#include "layer1/vek/arith/lanes.h"
#include "layer1/vek/arith/scale.h"
#include "layer1/vek/util/util.h"

namespace {

using vek::lanes::ld16;
using vek::lanes::Mmx;
using vek::lanes::Sse2;

constexpr int64_t kBlock = 65536;

int64_t sum_scalar(const int16_t* s, int64_t from, int64_t to) {
    int64_t t = 0;
    for (int64_t i = from; i < to; ++i) t += ld16(s, i);
    return t;
}

// Multiply-add of sample pairs with ones into 32-bit lanes, one block at a time; the lanes of each block are added
// into the 64-bit total. Scalar head until the source is aligned.
template <class L>
int64_t sum_simd(const int16_t* s, int64_t n) {
    int64_t h = vek::lanes::align_head16<L>(s);
    if (h > n) h = n;
    int64_t total = sum_scalar(s, 0, h);
    const typename L::V ones = L::set1_16(1);
    int64_t i = h;
    while (n - i >= L::kLanes16) {
        const int64_t end = i + std::min(kBlock, (n - i) / L::kLanes16 * L::kLanes16);
        typename L::V acc = L::zero();
        for (; i < end; i += L::kLanes16) acc = L::add32(acc, L::madd16(L::load(s + i), ones));
        int32_t lanes[L::kLanes16 / 2];
        L::store(lanes, acc);
        for (int32_t x : lanes) total += x;
    }
    L::done();
    return total + sum_scalar(s, i, n);
}

VekStatus check(const int16_t* s, int32_t n, const int32_t* out) {
    if (s == nullptr || out == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    return VEK_OK;
}

int32_t scale_sum(int64_t t, int32_t sf) {
    if (sf > 48) return 0;
    if (sf > 0) return vek::scale::sat32(vek::scale::round_shift(t, sf));
    if (sf == 0) return vek::scale::sat32(t);
    return vek::scale::shl_sat32(vek::scale::sat32(t), sf < -40 ? 40 : -sf);
}

}  // namespace

void vek_k_sum_16_block_mm(const int16_t* s, int32_t n, int64_t* out) {
    *out = sum_simd<Mmx>(s, n);
}
void vek_k_sum_16_block_ss(const int16_t* s, int32_t n, int64_t* out) {
    *out = sum_simd<Mmx>(s, n);
}
double vek_k_sum_16_block_wd(const int16_t* s, int32_t n) {
    return static_cast<double>(sum_simd<Sse2>(s, n));
}

VekStatus vek_sum_16_gen(const int16_t* s, int32_t n, int32_t* sum, int32_t sf) {
    if (VekStatus st = check(s, n, sum); st != VEK_OK) return st;
    int64_t total = 0;
    for (int64_t i = 0; i < n; i += kBlock) {
        const int64_t end = std::min<int64_t>(n, i + kBlock);
        uint32_t block = 0;  // a block of 65536 samples fits in 32 bits
        for (int64_t k = i; k < end; ++k) block += static_cast<uint32_t>(int32_t{ld16(s, k)});
        total += static_cast<int32_t>(block);
    }
    *sum = scale_sum(total, sf);
    return VEK_OK;
}

VekStatus vek_sum_16_mm(const int16_t* s, int32_t n, int32_t* sum, int32_t sf) {
    if (VekStatus st = check(s, n, sum); st != VEK_OK) return st;
    int64_t total;
    vek_k_sum_16_block_mm(s, n, &total);
    *sum = scale_sum(total, sf);
    return VEK_OK;
}

VekStatus vek_sum_16_ss(const int16_t* s, int32_t n, int32_t* sum, int32_t sf) {
    if (VekStatus st = check(s, n, sum); st != VEK_OK) return st;
    int64_t total;
    vek_k_sum_16_block_ss(s, n, &total);
    *sum = scale_sum(total, sf);
    return VEK_OK;
}

// Halving or doubling a double is exact; past 1100 steps every total is 0 or infinite already.
VekStatus vek_sum_16_wd(const int16_t* s, int32_t n, int32_t* sum, int32_t sf) {
    if (VekStatus st = check(s, n, sum); st != VEK_OK) return st;
    double t = vek_k_sum_16_block_wd(s, n);
    if (sf > 0) {
        for (int32_t k = 0; k < sf && k < 1100; ++k) t *= 0.5;
    } else {
        for (int32_t k = 0; k > sf && k > -1100; --k) t *= 2.0;
    }
    if (t > 2147483647.0) t = 2147483647.0;
    *sum = _mm_cvtsd_si32(_mm_set_sd(t));  // current rounding mode; below the range gives -2147483648
    return VEK_OK;
}
