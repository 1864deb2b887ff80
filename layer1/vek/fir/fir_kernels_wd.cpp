// SSE2 column kernels for real single-rate filters on the wide layout: four shifted copies of the taps, P
// halves each, so that one load of eight samples feeds four outputs (copy c gives output c). A block that
// fits a stack window (history, inputs, zeros; up to 64 taps) is computed from it by tap pairs in groups of
// eight throughout; other blocks take the delay line and then the input in place.
#include <emmintrin.h>

#include <algorithm>

#include "layer1/vek/fir/fir_elements.h"
#include "layer1/vek/fir/fir_generic.h"
#include "layer1/vek/fir/fir_kernels.h"
#include "layer1/vek/fir/fir_simd.h"

namespace fir {

namespace {

using Bytes = const unsigned char*;

inline __m128i loadu(Bytes p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// Sum over len taps of x[i] * taps[i] for one output, the samples on unaligned loads: sixteen taps a step
// when asked (one-sample form), then eight, four, two and one.
inline std::uint32_t single_dot(Bytes x, const std::int16_t* taps, std::int64_t len, bool sixteen) {
    __m128i acc = _mm_setzero_si128();
    std::int64_t i = 0;
    if (sixteen)
        for (; i + 16 <= len; i += 16) {
            acc = _mm_add_epi32(acc, _mm_madd_epi16(loadu(x + 2 * i), _mm_loadu_si128(reinterpret_cast<const __m128i*>(taps + i))));
            acc = _mm_add_epi32(acc, _mm_madd_epi16(loadu(x + 2 * i + 16),
                                                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(taps + i + 8))));
        }
    for (; i + 8 <= len; i += 8)
        acc = _mm_add_epi32(acc, _mm_madd_epi16(loadu(x + 2 * i), _mm_loadu_si128(reinterpret_cast<const __m128i*>(taps + i))));
    for (; i + 4 <= len; i += 4) {
        std::int64_t xs, ts;
        std::memcpy(&xs, x + 2 * i, 8);
        std::memcpy(&ts, taps + i, 8);
        acc = _mm_add_epi32(acc, _mm_madd_epi16(_mm_cvtsi64_si128(xs), _mm_cvtsi64_si128(ts)));
    }
    for (; i + 2 <= len; i += 2) {
        std::int32_t xs, ts;
        std::memcpy(&xs, x + 2 * i, 4);
        std::memcpy(&ts, taps + i, 4);
        acc = _mm_add_epi32(acc, _mm_madd_epi16(_mm_cvtsi32_si128(xs), _mm_cvtsi32_si128(ts)));
    }
    std::uint32_t s = sum_lanes(acc);
    if (i < len) s = mac(s, load16(x, i), taps[i]);
    return s;
}

// Lane sums of four accumulators, in order.
inline __m128i transpose_sum(__m128i a0, __m128i a1, __m128i a2, __m128i a3) {
    const __m128i s01 = _mm_add_epi32(_mm_unpacklo_epi32(a0, a1), _mm_unpackhi_epi32(a0, a1));
    const __m128i s23 = _mm_add_epi32(_mm_unpacklo_epi32(a2, a3), _mm_unpackhi_epi32(a2, a3));
    return _mm_add_epi32(_mm_unpacklo_epi64(s01, s23), _mm_unpackhi_epi64(s01, s23));
}

// Eight outputs: the four tap copies against the P samples from x (outputs 0-3) and from x + 8 bytes
// (outputs 4-7). The reads past the valid samples meet zero taps.
inline void eight(Bytes x, const std::int16_t* taps16, std::int64_t P, int c, unsigned char* out) {
    __m128i a[8];
    for (auto& v : a) v = _mm_setzero_si128();
    for (std::int64_t m = 0; m < P; m += 8) {
        const __m128i lo = loadu(x + 2 * m);
        const __m128i hi = loadu(x + 2 * m + 8);
        for (int cp = 0; cp < 4; ++cp) {
            const __m128i t = _mm_load_si128(reinterpret_cast<const __m128i*>(taps16 + cp * P + m));
            a[cp] = _mm_add_epi32(a[cp], _mm_madd_epi16(lo, t));
            a[4 + cp] = _mm_add_epi32(a[4 + cp], _mm_madd_epi16(hi, t));
        }
    }
    const __m128i first = scale_lanes(transpose_sum(a[0], a[1], a[2], a[3]), c);
    const __m128i second = scale_lanes(transpose_sum(a[4], a[5], a[6], a[7]), c);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packs_epi32(first, second));
}

}  // namespace

std::int16_t wd_one_real(FirState* st, std::int16_t in, std::int32_t sf) {
    if (!has_wide_layout(st)) return GenericLoops<RealElements, 3>::one(st, in, sf);
    const std::int64_t len = st->tapsLength, P = st->paddedLength;
    auto* d = static_cast<std::int16_t*>(st->delay);
    std::int64_t pos = st->position;
    d[pos] = in;
    d[pos + len] = in;
    pos = pos + 1 == len ? 0 : pos + 1;
    st->position = static_cast<std::int32_t>(pos);
    // The fourth copy, read from its first tap.
    const std::uint32_t s = single_dot(reinterpret_cast<Bytes>(d + pos), st->taps16 + 3 * P + 4, len, true);
    return scale_output(s, net_shift(st->scale, sf));
}

namespace {

// Blocks whose history, inputs and zero padding fit here run from one window on the stack.
constexpr std::int64_t kWindowHalves = 1024;

constexpr std::int64_t kMaxPairs = 32;   // the window form takes up to 64 taps

// Eight outputs from the window (output j + q reads halves j + q + 1 .. j + q + len) by tap pairs: one load
// at half j + 1 + i holds the pairs (x, x') that taps i and i + 1 meet for outputs j, j + 2, j + 4 and j + 6,
// one at j + 2 + i those of the odd outputs, so each pair costs two loads and two pairwise multiply-adds.
inline void eight_by_pairs(const std::int16_t* w, const __m128i* pairs, std::int64_t count, int c, unsigned char* out) {
    __m128i even = _mm_setzero_si128(), odd = _mm_setzero_si128();
    for (std::int64_t k = 0; k < count; ++k) {
        even = _mm_add_epi32(even, _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(w + 1 + 2 * k)), pairs[k]));
        odd = _mm_add_epi32(odd, _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(w + 2 + 2 * k)), pairs[k]));
    }
    const __m128i e = scale_lanes(even, c), o = scale_lanes(odd, c);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi16(_mm_packs_epi32(e, e), _mm_packs_epi32(o, o)));
}

// Every output from one contiguous window: the len history halves, the count inputs, then zeros for the
// reads past them. Groups of eight, then the rest one at a time. single: the taps in order, zero after them.
void block_from_window(const std::int16_t* d, const std::int16_t* src, std::int64_t count, std::int64_t len,
                       const std::int16_t* single, int c, unsigned char* out) {
    alignas(16) std::int16_t window[kWindowHalves];
    std::memcpy(window, d, static_cast<std::size_t>(len) * 2);
    std::memcpy(window + len, src, static_cast<std::size_t>(count) * 2);
    std::memset(window + len + count, 0, 16 * 2);
    const std::int64_t npairs = (len + 1) / 2;
    __m128i pairs[kMaxPairs];
    for (std::int64_t k = 0; k < npairs; ++k) {
        std::int32_t two;
        std::memcpy(&two, single + 2 * k, 4);
        pairs[k] = _mm_set1_epi32(two);
    }
    std::int64_t j = 0;
    for (; j + 8 <= count; j += 8) eight_by_pairs(window + j, pairs, npairs, c, out + 2 * j);
    const auto* w = reinterpret_cast<Bytes>(window);
    for (; j < count; ++j) store16(out, j, scale_output(single_dot(w + 2 * (j + 1), single, len, false), c));
}

}  // namespace

void wd_block_real(FirState* st, const std::int16_t* src, std::int16_t* dst, std::int64_t count,
                   std::int32_t sf) {
    if (!has_wide_layout(st)) return GenericLoops<RealElements, 3>::block(st, src, dst, count, sf);
    const std::int64_t len = st->tapsLength, P = st->paddedLength;
    const int c = net_shift(st->scale, sf);
    auto* d = static_cast<std::int16_t*>(st->delay);
    const std::int16_t* taps16 = st->taps16;
    const std::int16_t* single = taps16 + 3 * P + 4;
    auto* out = reinterpret_cast<unsigned char*>(dst);
    const auto* srcBytes = reinterpret_cast<Bytes>(src);
    // The history (oldest first, the oldest about to be dropped) moves to the start of the delay line.
    if (st->position != 0) {
        std::memmove(d, d + st->position, static_cast<std::size_t>(len) * 2);
        st->position = 0;
    }
    if (len <= 2 * kMaxPairs && len + count + 16 <= kWindowHalves) {
        block_from_window(d, src, count, len, single, c, out);
        // The delay line as the two-part form below leaves it.
        for (std::int64_t k = 0; k < std::min(count, P); ++k) d[len + k] = load16(src, k);
        if (count >= len)
            for (std::int64_t k = 0; k < len; ++k) d[k] = load16(src, count - len + k);
        else
            std::memmove(d, d + count, static_cast<std::size_t>(len) * 2);
        return;
    }
    // Output j reads delay elements j + 1 .. j + len.
    const auto* window = reinterpret_cast<Bytes>(d);
    auto from_delay = [&](std::int64_t j) { store16(out, j, scale_output(single_dot(window + 2 * (j + 1), single, len, false), c)); };
    if (count <= P) {
        for (std::int64_t k = 0; k < count; ++k) d[len + k] = load16(src, k);
        const std::int64_t grouped = count < 8 ? 0 : count - 8 - count % 8;
        std::int64_t j = 0;
        for (; j < grouped; j += 8) eight(window + 2 * j, taps16, P, c, out + 2 * j);
        for (; j < count; ++j) from_delay(j);
    } else {
        for (std::int64_t k = 0; k < P; ++k) d[len + k] = load16(src, k);
        for (std::int64_t j = 0; j < P; j += 8) eight(window + 2 * j, taps16, P, c, out + 2 * j);
        // From the input: output j reads inputs j - len + 1 .. j; a group of eight starting at output j
        // loads from input j - len. Singles until that load is 16-byte aligned, when it can be.
        auto from_input = [&](std::int64_t jj) {
            store16(out, jj, scale_output(single_dot(srcBytes + 2 * (jj - len + 1), single, len, false), c));
        };
        std::int64_t j = P;
        const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(srcBytes + 2 * (j - len));
        std::int64_t lead = (at & 1) ? 0 : static_cast<std::int64_t>(((16 - (at & 15)) & 15) / 2);
        lead = std::min(lead, count - j);
        for (std::int64_t e = j + lead; j < e; ++j) from_input(j);
        const std::int64_t rest = count - j;
        const std::int64_t grouped = rest < 8 ? 0 : rest - 8 - rest % 8;
        for (const std::int64_t e = j + grouped; j < e; j += 8) eight(srcBytes + 2 * (j - len), taps16, P, c, out + 2 * j);
        for (; j < count; ++j) from_input(j);
    }
    if (count >= len)
        for (std::int64_t k = 0; k < len; ++k) d[k] = load16(src, count - len + k);
    else
        std::memmove(d, d + count, static_cast<std::size_t>(len) * 2);
}

}  // namespace fir
