// Division of a 16-bit vector by a constant: each column against the exact quotient rounded by its own rule.
#include <gtest/gtest.h>

#include <cmath>

#include "layer1/vek/arith/arith.h"
#include "vekutil_support.h"

namespace {

using namespace vekutil_test;

using DivFn = VekStatus (*)(const int16_t*, int16_t, int16_t*, int32_t, int32_t);
using DivInplace = VekStatus (*)(int16_t, int16_t*, int32_t, int32_t);
const DivFn kDiv[4] = {vek_div_const_16_scaled_gen, vek_div_const_16_scaled_mm, vek_div_const_16_scaled_ss,
                       vek_div_const_16_scaled_wd};
const DivInplace kDivIn[4] = {vek_div_const_16_inplace_scaled_gen, vek_div_const_16_inplace_scaled_mm,
                              vek_div_const_16_inplace_scaled_ss, vek_div_const_16_inplace_scaled_wd};

enum class Tie { kAway, kEven };

int16_t sat(__int128 q) {
    return static_cast<int16_t>(q > 32767 ? 32767 : (q < -32768 ? -32768 : q));
}

// x / d * 2^-sf as the exact rational N / D (D > 0).
void rational(int16_t x, int16_t d, int sf, __int128& N, __int128& D) {
    N = static_cast<__int128>(x) * (sf < 0 ? (static_cast<__int128>(1) << -sf) : 1);
    D = static_cast<__int128>(d) * (sf > 0 ? (static_cast<__int128>(1) << sf) : 1);
    if (D < 0) {
        N = -N;
        D = -D;
    }
}

int16_t exact_div(int16_t x, int16_t d, int sf, Tie tie) {
    if (sf > 64) sf = 64;  // every quotient is 0 by then
    if (sf < -64) return x == 0 ? 0 : ((x > 0) == (d > 0) ? 32767 : -32768);
    __int128 N, D;
    rational(x, d, sf, N, D);
    __int128 fl = N >= 0 ? N / D : -((-N + D - 1) / D);
    const __int128 rem2 = (N - fl * D) * 2;
    if (rem2 > D || (rem2 == D && (tie == Tie::kAway ? fl >= 0 : (fl & 1) != 0))) ++fl;
    return sat(fl);
}

// Whether the exact quotient lies so close to a half that a single-precision reciprocal may round it either way.
// The reciprocal of a power of two is exact, and so is every quotient by one.
bool near_half(int16_t x, int16_t d, int sf) {
    const int32_t m = d < 0 ? -int32_t{d} : d;
    if ((m & (m - 1)) == 0) return false;
    if (sf > 64 || sf < -64) return false;
    __int128 N, D;
    rational(x, d, sf, N, D);
    const long double v = static_cast<long double>(N) / static_cast<long double>(D);
    return std::fabs(v - std::floor(v) - 0.5L) <= (std::fabs(v) + 1) * 0x1p-20L;
}

// Which elements the split sends to the aligned block routine (ss, wd and mm).
std::vector<bool> block_positions(const int16_t* src, const int16_t* dst, int n) {
    std::vector<bool> in(n, false);
    const uintptr_t as = reinterpret_cast<uintptr_t>(src) % 32, ad = reinterpret_cast<uintptr_t>(dst) % 32;
    if (n < 32 || (as & 1) || as != ad) return in;
    const int h = as == 0 ? 0 : static_cast<int>((32 - as) / 2);
    if (n < h) return in;
    const int m = (n - h) / 16 * 16;
    for (int i = h; i < h + m; ++i) in[i] = true;
    return in;
}

// Expected results of a column: gen ties away, mm ties to even everywhere, ss/wd ties to even in the block and
// away elsewhere, with either neighbour accepted for ss/wd where the quotient is within 2^-20 of a half.
void expect_column(int col, const std::vector<int16_t>& x, int16_t d, int sf, const Guarded<int16_t>& out,
                   const std::vector<bool>& block) {
    for (size_t i = 0; i < x.size(); ++i) {
        const Tie tie = col == 0 ? Tie::kAway : col == 1 ? Tie::kEven : (block[i] ? Tie::kEven : Tie::kAway);
        const int16_t want = exact_div(x[i], d, sf, tie), got = out.get(i);
        if (got == want) continue;
        const bool ok = col >= 2 && near_half(x[i], d, sf) &&
                        (got == exact_div(x[i], d, sf, Tie::kAway) || got == exact_div(x[i], d, sf, Tie::kEven) ||
                         std::abs(int{got} - int{want}) == 1);
        ASSERT_TRUE(ok) << kColumnNames[col] << " x=" << x[i] << " d=" << d << " sf=" << sf << " i=" << i
                        << " got=" << got << " want=" << want;
    }
}

// x with x / d * 2^-sf exactly k + 1/2, or 0 when no 16-bit x gives that quotient.
int16_t tie_for(int16_t d, int sf, int k) {
    int64_t t = (2 * int64_t{k} + 1) * d;
    if (sf >= 1) {
        if (sf > 20) return 0;
        t *= int64_t{1} << (sf - 1);
    } else {
        if (sf < 0 || t % 2 != 0) return 0;
        t /= 2;
    }
    return t >= -32768 && t <= 32767 ? static_cast<int16_t>(t) : 0;
}

// Every sf from -70 to 70, lengths 1..64 and a few longer ones, source and destination at matching and
// mismatching offsets (so that the block routine runs on head, middle and tail splits), random data with exact
// ties planted.
TEST(VekDiv, EveryColumnFollowsItsRoundingRule) {
    std::mt19937 rng(77);
    std::uniform_int_distribution<int> anyd(-32768, 32767);
    const int16_t divisors[] = {1, -1, 2, -2, 3, 6, 7, 128, -32768, 32767, 10, 0};
    const size_t offsets[][2] = {{0, 0}, {2, 2}, {6, 6}, {30, 30}, {2, 4}, {1, 1}, {3, 0}, {0, 16}, {14, 14}, {16, 16}};
    std::vector<int> lengths;
    for (int n = 1; n <= 64; ++n) lengths.push_back(n);
    lengths.insert(lengths.end(), {96, 130});
    int turn = 0;
    for (int col = 0; col < 4; ++col) {
        for (int sf = -70; sf <= 70; ++sf) {
            for (int n : lengths) {
                ++turn;
                const int16_t d0 = divisors[turn % 12];
                const int16_t d = d0 != 0 ? d0 : static_cast<int16_t>(anyd(rng) | 1);
                const auto& off = offsets[(turn / 12) % 10];
                auto x = samples16(rng, n);
                for (int i = 0; i < n; i += 3) {
                    const int16_t t = tie_for(d, sf, (i % 9) - 4);
                    if (t != 0) x[i] = t;
                }
                Guarded<int16_t> s(n, off[0]), dst(n, off[1]);
                s.fill(x);
                ASSERT_EQ(kDiv[col](s.data(), d, dst.data(), n, sf), VEK_OK);
                expect_column(col, x, d, sf, dst, block_positions(s.data(), dst.data(), n));
                ASSERT_TRUE(dst.guards_intact());
                ASSERT_EQ(s.values(), x);
            }
        }
    }
}

// In place at a 2-byte offset: 15 head elements, 112 block elements, 1 tail element. 5 / 2 = 2.5 rounds away
// from zero in gen and in the head and tail of ss/wd, to even in mm and in the aligned middle of ss/wd.
TEST(VekDiv, TiesSplitBetweenHeadBlockAndTail) {
    const int16_t want_block[4] = {3, 2, 2, 2}, want_edge[4] = {3, 2, 3, 3};
    for (int col = 0; col < 4; ++col) {
        Guarded<int16_t> v(128, 2);
        for (int i = 0; i < 128; ++i) v.set(i, 5);
        ASSERT_EQ(kDivIn[col](2, v.data(), 128, 0), VEK_OK);
        for (int i = 0; i < 128; ++i) {
            const bool block = i >= 15 && i < 127;
            ASSERT_EQ(v.get(i), block ? want_block[col] : want_edge[col]) << kColumnNames[col] << " i=" << i;
        }
        ASSERT_TRUE(v.guards_intact());
    }
}

TEST(VekDiv, DocumentedValues) {
    const struct {
        int16_t x;
        int16_t d;
        int sf;
        int16_t want;
    } cases[] = {
        {100, 128, -14, 12800},
        {3, 2, 0, 2},
        {-32768, -1, 0, 32767},
        {20000, 1, -1, 32767},
        {-20000, 1, -1, -32768},
        // quotients just under one unit stay 1 in every column (32767 / 32768, -32768 / -32768)
        {32767, 1, 15, 1},
        {-32768, -32768, 0, 1},
        // exact powers of two for any scale factor
        {1, 1, -40, 32767},
        {-1, 1, -100, -32768},
        {0, 3, -2000000000, 0},
        {32767, 1, 2000000000, 0},
        {-32768, 1, 15, -1},
        {16384, 1, 31, 0},
    };
    for (int col = 0; col < 4; ++col) {
        for (const auto& e : cases) {
            for (int n : {1, 64}) {  // element routine alone, and the aligned block routine
                alignas(32) int16_t v[64];
                for (int i = 0; i < n; ++i) v[i] = e.x;
                ASSERT_EQ(kDivIn[col](e.d, v, n, e.sf), VEK_OK);
                for (int i = 0; i < n; ++i)
                    ASSERT_EQ(v[i], e.want)
                        << kColumnNames[col] << " x=" << e.x << " d=" << e.d << " sf=" << e.sf << " n=" << n;
            }
        }
    }
}

TEST(VekDiv, ArgumentErrorsInOrderAndNothingWritten) {
    for (int col = 0; col < 4; ++col) {
        int16_t v[3] = {1, 2, 3}, d[3] = {9, 9, 9};
        EXPECT_EQ(kDivIn[col](0, v, 3, 0), VEK_ERR_DIV_BY_ZERO);
        EXPECT_EQ(kDivIn[col](0, nullptr, 3, 0), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(kDivIn[col](0, v, 0, 0), VEK_ERR_SIZE);
        EXPECT_EQ(kDiv[col](nullptr, 2, d, 3, 0), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(kDiv[col](v, 2, nullptr, 3, 0), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(kDiv[col](v, 0, d, -1, 0), VEK_ERR_SIZE);
        EXPECT_EQ(v[0] * 100 + v[1] * 10 + v[2], 123);
        EXPECT_EQ(d[0] * 100 + d[1] * 10 + d[2], 999);
    }
}

// mm rounds to nearest whatever the caller's x87 mode, and gives the caller's control word back; no column
// changes the x87 control word or the MXCSR control bits.
TEST(VekDiv, FloatingPointControlRestored) {
    const FpState before = FpState::now();
    const uint16_t truncating = static_cast<uint16_t>(before.x87 | 0x0C00);
    __asm__ __volatile__("fldcw %0" : : "m"(truncating));
    alignas(32) int16_t v[64];
    for (int16_t& x : v) x = 5;
    EXPECT_EQ(vek_div_const_16_inplace_scaled_mm(2, v, 64, 0), VEK_OK);
    uint16_t after;
    __asm__ __volatile__("fnstcw %0" : "=m"(after));
    __asm__ __volatile__("fldcw %0" : : "m"(before.x87));
    EXPECT_EQ(after, truncating);
    for (int16_t x : v) EXPECT_EQ(x, 2);
    for (int col = 0; col < 4; ++col) {
        for (int16_t& x : v) x = 7;
        kDivIn[col](3, v, 64, -3);
        EXPECT_TRUE(FpState::now() == before) << kColumnNames[col];
    }
}

}  // namespace
