// The division slots (210-223) in every column against the exact quotient and each column's documented rounding:
//   gen, and the element kernels of wd and ss: the exact quotient rounded half away from zero;
//   wd and ss block kernels (the aligned middle of long vectors): single precision, ties to even, either
//     neighbour accepted within a small distance of a half;
//   mm: the exact quotient rounded to nearest, ties to even; its 8u-by-constant block kernel uses a truncated
//     integer reciprocal, (x * floor(2^16 / v) + 2^15) >> 16 and the like, modelled here as written.
// Zero divisors give their fixed values and the status 6 in every column. The split of a vector between element
// and block kernels is checked from outside with exact halves (5 / 2), which the two kinds round differently.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "arith_harness.h"

namespace {

using namespace arith_test;

#ifdef MODEM_UNDER_SANITIZER
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

std::vector<const SlotEntry*> division_slots() {
    std::vector<const SlotEntry*> v;
    for (const auto& e : family())
        if (is_division(e.info) && e.info.slot != 213 && e.info.slot != 219) v.push_back(&e);
    return v;
}

// num / den * 2^-sf as an exact ratio with den > 0.
struct Ratio {
    __int128 num, den;
};
Ratio ratio(int64_t num, int64_t den, int32_t sf) {
    const int s = sf > 80 ? 80 : (sf < -80 ? -80 : static_cast<int>(sf));
    __int128 n = num, d = den;
    if (d < 0) n = -n, d = -d;
    for (int i = 0; i < s; ++i) d *= 2;
    for (int i = 0; i > s; --i) n *= 2;
    return {n, d};
}
__int128 floor_div(Ratio r) {
    const __int128 q = r.num / r.den;
    return (r.num % r.den != 0 && r.num < 0) ? q - 1 : q;
}
int64_t clampk(__int128 v, const Kind& k) {
    return v > k.hi ? k.hi : (v < k.lo ? k.lo : static_cast<int64_t>(v));
}

// What an element may come out as: any value in [a, b].
struct Accept {
    int64_t a, b;
    bool ok(int64_t v) const { return v >= a && v <= b; }
};

enum class Rule { Away, Even, Near, Truncated8 };

// Single-precision results: the nearest integer to any value within err (plus a relative 2^-17 and 2^-12) of the
// exact quotient.
Accept rounded(Ratio r, Rule rule, const Kind& k, long double err = 0) {
    const __int128 f = floor_div(r);
    const __int128 twiceRem = (r.num - f * r.den) * 2;  // 0 <= twiceRem < 2 den
    if (rule == Rule::Near) {
        const long double q = static_cast<long double>(r.num) / static_cast<long double>(r.den);
        const long double tol = err + std::fabs(q) * std::ldexp(1.0L, -17) + std::ldexp(1.0L, -12);
        const auto near = [&](long double v) {
            v = std::nearbyint(v);
            return v >= k.hi ? k.hi : (v <= k.lo ? k.lo : static_cast<int64_t>(v));
        };
        return {near(q - tol), near(q + tol)};
    }
    bool up = twiceRem > r.den;
    if (twiceRem == r.den) up = rule == Rule::Away ? f >= 0 : (f & 1) != 0;
    const int64_t v = clampk(up ? f + 1 : f, k);
    return {v, v};
}

// The MMX block kernel of 8u by a constant.
int64_t truncated8(int64_t x, int64_t v, int32_t sf) {
    if (sf >= 0) {
        uint64_t r = 65536 / v;
        if (sf > 0) r = sf >= 40 ? 0 : (r + (uint64_t{1} << (sf - 1))) >> sf;
        return static_cast<int64_t>((x * r + 32768) >> 16);
    }
    const int s = sf < -40 ? 40 : -sf;
    const unsigned __int128 q = ((static_cast<unsigned __int128>(x) * ((static_cast<unsigned __int128>(1) << (9 + s)) / v)) + 256) >> 9;
    return q > 255 ? 255 : static_cast<int64_t>(q);
}

// Which elements the block kernel of a column's split routine takes.
std::vector<bool> block_positions(const SlotInfo& s, uintptr_t oa, uintptr_t os, uintptr_t od, int32_t n) {
    std::vector<bool> blk(n, false);
    if (n < 32) return blk;
    const bool vec = !s.isConst && s.op == Op::Div;
    const bool complex = s.halves == 2;
    const int es = s.in.bytes * s.halves, unit = 32 / es;
    if (!vec) oa = os;
    const auto mark = [&](int64_t from, int64_t count) {
        for (int64_t i = from; i < from + count; ++i) blk[i] = true;
    };
    const bool aligned = oa == 0 && os == 0 && od == 0;
    const uintptr_t need = complex ? 4 : es;
    bool shared = oa == os && os == od && (vec ? oa : os) % need == 0;
    if (complex && s.isConst) shared = shared && os != 0;
    if (aligned && !(complex && s.isConst)) {
        mark(0, n - n % unit);
    } else if (shared) {
        const int64_t head = static_cast<int64_t>((32 - os) & 31) / es;
        if (n >= head) mark(head, ((int64_t{n} - head) * es & ~int64_t{31}) / es);
    } else if (complex) {
        mark(0, n - n % unit);
    }
    return blk;
}

struct DivCall {
    const SlotEntry* e;
    int col;
    int32_t n, sf;
    size_t ox, oy, od;  // byte offsets of dividend, divisor, destination
};

// One call against the model; x: dividend halves, y: divisor halves (vector or constant repeated).
void check_division(const DivCall& k, const std::vector<int64_t>& x, const std::vector<int64_t>& y) {
    const SlotInfo& s = k.e->info;
    const int64_t halves = int64_t{k.n} * s.halves;
    vektest::GuardedBuffer bx(halves * s.in.bytes, k.ox), by(halves * s.in.bytes, k.oy), bd(halves * s.out.bytes, k.od);
    for (int64_t i = 0; i < halves; ++i) {
        put(bx.data(), i, s.in, x[i]);
        put(by.data(), i, s.in, y[i]);
    }
    Call c;
    c.n = k.n;
    c.sf = s.scaled ? k.sf : 0;
    const bool reverse = s.op == Op::DivRev;
    c.x = bx.data();
    c.y = s.isConst ? nullptr : by.data();
    c.d = s.inplace ? nullptr : bd.data();
    c.cre = y[0];
    c.cim = s.halves == 2 ? y[1] : 0;
    const FpControl before = FpControl::now();
    const VekStatus st = k.e->invoke(k.col, c);
    ASSERT_TRUE(before == FpControl::now()) << s.name;
    const uint8_t* out = s.inplace ? bx.data() : bd.data();
    const std::vector<bool> blk =
        block_positions(s, reinterpret_cast<uintptr_t>(c.y ? c.y : c.x) & 31, reinterpret_cast<uintptr_t>(c.x) & 31,
                        reinterpret_cast<uintptr_t>(out) & 31, k.n);
    bool zero = false;
    for (int64_t e = 0; e < k.n; ++e) {
        for (int h = 0; h < s.halves; ++h) {
            const int64_t i = e * s.halves + h;
            int64_t fixed = 0;
            bool isZero = false;
            Ratio r{};
            long double err = 0;  // error of single-precision products and sums (complex block kernels)
            if (s.halves == 2) {
                const int64_t ar = y[2 * e], ai = y[2 * e + 1], br = x[2 * e], bi = x[2 * e + 1];
                const int64_t m = ar * ar + ai * ai;
                isZero = m == 0;
                if (!isZero)
                    err = std::ldexp(static_cast<long double>(std::llabs(br * ar) + std::llabs(bi * ai) +
                                                              std::llabs(bi * ar) + std::llabs(br * ai)) /
                                         static_cast<long double>(m),
                                     -21 - std::clamp(c.sf, -80, 80));
                r = ratio(h == 0 ? br * ar + bi * ai : bi * ar - br * ai, isZero ? 1 : m, c.sf);
            } else if (reverse) {
                isZero = x[i] == 0;
                fixed = 65535;
                r = ratio(c.cre, isZero ? 1 : x[i], 0);
            } else {
                isZero = y[i] == 0;
                fixed = x[i] == 0 ? 0 : (x[i] > 0 ? s.out.hi : s.out.lo);
                r = ratio(x[i], isZero ? 1 : y[i], c.sf);
            }
            zero |= isZero;
            Accept want{fixed, fixed};
            if (!isZero) {
                Rule rule = Rule::Away;
                if (k.col == VEK_CPU_MM) rule = (blk[e] && s.isConst && s.in.bytes == 1) ? Rule::Truncated8 : Rule::Even;
                if ((k.col == VEK_CPU_WD || k.col == VEK_CPU_SS) && blk[e]) rule = Rule::Near;
                if (rule == Rule::Truncated8) {
                    const int64_t v = truncated8(x[i], c.cre, c.sf);
                    want = {v, v};
                } else {
                    want = rounded(r, rule, s.out, err);
                }
            }
            const int64_t got = get(out, i, s.out);
            ASSERT_TRUE(want.ok(got)) << s.name << " " << vektest::column_name(k.col) << " n=" << k.n << " sf=" << c.sf
                                      << " offsets " << k.ox << "/" << k.oy << "/" << k.od << " element " << e
                                      << (blk[e] ? " (block)" : "") << ": " << x[i] << " by " << y[i] << " got " << got
                                      << " want " << want.a << " or " << want.b;
        }
    }
    ASSERT_EQ(st, zero ? VEK_WARN_DIV_BY_ZERO : VEK_OK) << s.name << " " << vektest::column_name(k.col);
    ASSERT_TRUE(bx.intact() && by.intact() && bd.intact()) << s.name;
}

// Divisors: mostly small (quotients of every size, exact halves), some of any size, a few zeros.
int64_t divisor(std::mt19937_64& rng, const Kind& k, bool zeros) {
    const uint64_t r = rng();
    if (zeros && r % 61 == 0) return 0;
    if (r % 3 == 0) {
        int64_t d = static_cast<int64_t>((r >> 8) % 9) + 1;
        if (k.lo < 0 && (r >> 20) & 1) d = -d;
        return d;
    }
    int64_t v = sample(rng, k);
    return v == 0 ? 1 : v;
}

void random_division(const SlotEntry& e, int col, int32_t n, int32_t sf, size_t ox, size_t oy, size_t od,
                     std::mt19937_64& rng) {
    const SlotInfo& s = e.info;
    const int64_t halves = int64_t{n} * s.halves;
    std::vector<int64_t> x(halves), y(halves);
    for (auto& v : x) v = sample(rng, s.in);
    if (s.isConst) {
        int64_t re = divisor(rng, s.in, false), im = s.halves == 2 ? divisor(rng, s.in, false) : 0;
        if (s.halves == 2 && rng() % 3 == 0) im = 0;
        for (int64_t i = 0; i < halves; ++i) y[i] = (i & 1) && s.halves == 2 ? im : re;
        if (s.op == Op::DivRev)  // the reverse division: x holds the divisors
            for (auto& v : x) v = divisor(rng, s.in, true);
    } else {
        for (auto& v : y) v = divisor(rng, s.in, true);
        if (s.halves == 2)
            for (int64_t i = 0; i < halves; i += 2)
                if (rng() % 4 == 0) y[i + (rng() & 1)] = 0;
    }
    check_division({&e, col, n, sf, ox, oy, od}, x, y);
}

TEST(VekDivConformance, EveryScaleFactorInEveryColumn) {
    std::vector<int32_t> sfs = {INT32_MIN, -1000, 1000, INT32_MAX};
    for (int32_t sf = -70; sf <= 70; ++sf) sfs.push_back(sf);
    std::mt19937_64 rng(11);
    for (const SlotEntry* e : division_slots())
        for (int col : vektest::kColumns)
            for (size_t i = 0; i < sfs.size(); ++i) {
                if (!e->info.scaled && i > 0) break;
                // Aligned and shared offsets, so that block kernels run too.
                const size_t o = (i % 3) * 4;
                random_division(*e, col, kSanitized ? 40 : 77, sfs[i], o, o, o, rng);
                if (HasFatalFailure()) return;
            }
}

TEST(VekDivConformance, EveryLengthAndOffset) {
    std::vector<int32_t> lengths = {1, 2, 7, 15, 16, 17, 31, 32, 33, 40, 47, 63, 64, 65, 96, 100};
    if (kSanitized) lengths = {1, 31, 33, 65};
    const int32_t sfs[] = {0, 1, -1, 3, -5, 16, -16, 7};
    std::mt19937_64 rng(12);
    for (const SlotEntry* e : division_slots())
        for (int col : vektest::kColumns)
            for (size_t li = 0; li < lengths.size(); ++li)
                for (size_t o = 0; o < 16; ++o) {
                    const size_t same = o * 2;  // shared offsets, the block path
                    const bool mixed = o % 2;
                    random_division(*e, col, lengths[li], sfs[(li + o) % 8], same, mixed ? (o * 5 + 3) % 16 : same,
                                    mixed ? (o * 11 + 7) % 16 : same, rng);
                    if (HasFatalFailure()) return;
                }
}

TEST(VekDivConformance, Exhaustive8BitPairs) {
    std::vector<int32_t> sfs = {-24, -8, -2, -1, 0, 1, 2, 7, 8, 9};
    if (kSanitized) sfs = {-1, 0, 1};
    for (const SlotEntry* e : division_slots()) {
        const SlotInfo& s = e->info;
        if (s.in.bytes != 1) continue;
        for (int col : vektest::kColumns)
            for (int32_t sf : sfs)
                for (int d = 0; d < 256; ++d) {
                    if (s.isConst && d == 0) continue;
                    std::vector<int64_t> x(256), y(256, d);
                    for (int i = 0; i < 256; ++i) x[i] = i;
                    check_division({e, col, 256, sf, 0, 0, 0}, x, y);
                    if (HasFatalFailure()) return;
                }
    }
}

}  // namespace

namespace {

const SlotEntry& slot_named(const std::string& name) {
    for (const auto& e : family())
        if (e.info.name == name) return e;
    throw std::runtime_error("no slot " + name);
}

// Fills every element with an exact half (5 / 2, or 1 / 2 for the reverse division) and returns which elements
// came out rounded half away from zero (the element kernels) rather than to even (the block kernels).
std::string probe(const char* name, int col, int32_t n, size_t offset) {
    const SlotEntry& e = slot_named(name);
    const SlotInfo& s = e.info;
    const int64_t halves = int64_t{n} * s.halves;
    vektest::GuardedBuffer bx(halves * s.in.bytes, offset), by(halves * s.in.bytes, offset),
        bd(halves * s.out.bytes, offset);
    const bool rev = s.op == Op::DivRev;
    for (int64_t i = 0; i < halves; ++i) {
        const bool im = s.halves == 2 && (i & 1);
        put(bx.data(), i, s.in, im ? 0 : (rev ? 2 : 5));
        put(by.data(), i, s.in, im ? 0 : 2);
    }
    Call c{bx.data(), s.isConst ? nullptr : by.data(), bd.data(), rev ? 1 : 2, 0, n, 0};
    EXPECT_EQ(e.invoke(col, c), VEK_OK);
    std::string kinds;
    for (int32_t i = 0; i < n; ++i) {
        const int64_t v = get(bd.data(), int64_t{i} * s.halves, s.out);
        kinds += v == (rev ? 1 : 3) ? 'e' : (v == (rev ? 0 : 2) ? 'b' : '?');
    }
    return kinds;
}

std::string pieces(std::initializer_list<std::pair<char, int>> parts) {
    std::string s;
    for (const auto& [k, count] : parts) s.append(count, k);
    return s;
}

TEST(VekDivSplit, ElementAndBlockKernelsTakeTheDocumentedPieces) {
    for (int col : {VEK_CPU_SS, VEK_CPU_WD}) {
        SCOPED_TRACE(vektest::column_name(col));
        EXPECT_EQ(probe("vek_div_vec_16_scaled", col, 31, 0), pieces({{'e', 31}}));
        EXPECT_EQ(probe("vek_div_vec_16_scaled", col, 32, 0), pieces({{'b', 32}}));
        EXPECT_EQ(probe("vek_div_vec_16_scaled", col, 40, 6), pieces({{'e', 13}, {'b', 16}, {'e', 11}}));
        EXPECT_EQ(probe("vek_div_vec_16_scaled", col, 33, 2), pieces({{'e', 15}, {'b', 16}, {'e', 2}}));
        EXPECT_EQ(probe("vek_div_vec_16_scaled", col, 64, 3), pieces({{'e', 64}}));
        EXPECT_EQ(probe("vek_div_vec_8_scaled", col, 32, 2), pieces({{'e', 32}}));
        EXPECT_EQ(probe("vek_div_vec_8_scaled", col, 70, 0), pieces({{'b', 64}, {'e', 6}}));
        EXPECT_EQ(probe("vek_div_vec_8_scaled", col, 70, 30), pieces({{'e', 2}, {'b', 64}, {'e', 4}}));
        EXPECT_EQ(probe("vek_div_const_8_scaled", col, 70, 0), pieces({{'b', 64}, {'e', 6}}));
        EXPECT_EQ(probe("vek_div_vec_c16_scaled", col, 37, 0), pieces({{'b', 32}, {'e', 5}}));
        EXPECT_EQ(probe("vek_div_vec_c16_scaled", col, 37, 8), pieces({{'e', 6}, {'b', 24}, {'e', 7}}));
        EXPECT_EQ(probe("vek_div_vec_c16_scaled", col, 37, 2), pieces({{'b', 32}, {'e', 5}}));
        EXPECT_EQ(probe("vek_div_const_c16_scaled", col, 37, 0), pieces({{'b', 32}, {'e', 5}}));
        EXPECT_EQ(probe("vek_div_const_c16_scaled", col, 37, 8), pieces({{'e', 6}, {'b', 24}, {'e', 7}}));
        EXPECT_EQ(probe("vek_divrev_const_16u", col, 40, 6), pieces({{'e', 13}, {'b', 16}, {'e', 11}}));
    }
    // The generic column rounds every element half away from zero, the MMX column every one to even.
    EXPECT_EQ(probe("vek_div_vec_16_scaled", VEK_CPU_GEN, 64, 0), pieces({{'e', 64}}));
    EXPECT_EQ(probe("vek_div_vec_16_scaled", VEK_CPU_MM, 64, 0), pieces({{'b', 64}}));
}

// A zero divisor in the head, the middle or the tail: status 6, and the other pieces still computed.
TEST(VekDivSplit, ZeroDivisorInAnyPieceWarns) {
    const SlotEntry& e = slot_named("vek_div_vec_16_scaled");
    for (int col : vektest::kColumns)
        for (int at : {0, 20, 39}) {
            std::vector<int64_t> x(40, 9), y(40, 4);
            y[at] = 0;
            check_division({&e, col, 40, 0, 6, 6, 6}, x, y);
        }
}

// The MMX block kernel of 8u by a constant rounds with a truncated reciprocal; its element kernel (the first
// and last elements of a misaligned vector) to even.
TEST(VekDivSplit, MmxConstant8BlockKeepsItsTruncatedReciprocal) {
    const SlotEntry& e = slot_named("vek_div_const_8_scaled");
    const auto run = [&](int64_t x, int64_t v, int32_t sf, size_t offset) {
        vektest::GuardedBuffer b(64, offset), d(64, offset);
        for (int i = 0; i < 64; ++i) put(b.data(), i, k8u, x);
        Call c{b.data(), nullptr, d.data(), v, 0, 64, sf};
        EXPECT_EQ(e.invoke(VEK_CPU_MM, c), VEK_OK);
        return std::pair<int64_t, int64_t>{get(d.data(), 0, k8u), get(d.data(), 63, k8u)};
    };
    EXPECT_EQ(run(3, 6, 0, 0).first, 0);
    EXPECT_EQ(run(255, 9, -1, 0).first, 56);    // 56.67 truncated
    EXPECT_EQ(run(255, 9, -1, 16), std::make_pair(int64_t{57}, int64_t{57}));  // head and tail: element kernel
    EXPECT_EQ(run(69, 5, -1, 0).first, 27);     // 27.6
    EXPECT_EQ(run(255, 1, -15, 0).first, 255);
    EXPECT_EQ(run(255, 1, -24, 0).first, 255);
    EXPECT_EQ(run(1, 255, -16, 0).first, 255);
    EXPECT_EQ(run(0, 255, INT32_MIN, 0).first, 0);
    EXPECT_EQ(run(200, 3, INT32_MAX, 0).first, 0);
}

TEST(VekDivEntries, ChecksInOrderAndWriteNothingOnError) {
    for (int col : vektest::kColumns) {
        SCOPED_TRACE(vektest::column_name(col));
        const auto m = [&](const char* n) { return vek_variant_table()[slot_named(n).info.slot].variant[col]; };
        uint8_t a[40] = {9, 9, 9}, b[40] = {7, 7, 7};
        using C8 = VekStatus (*)(const uint8_t*, uint8_t, uint8_t*, int32_t, int32_t);
        const auto div8 = reinterpret_cast<C8>(m("vek_div_const_8_scaled"));
        EXPECT_EQ(div8(a, 0, b, 3, 0), VEK_ERR_DIV_BY_ZERO);
        EXPECT_EQ(div8(nullptr, 0, b, 3, 0), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(div8(a, 0, b, 0, 0), VEK_ERR_SIZE);
        EXPECT_EQ(b[0], 7);
        using Cc = VekStatus (*)(VekC16, VekC16*, int32_t, int32_t);
        VekC16 v[2] = {{4, 6}, {1, 1}};
        EXPECT_EQ(reinterpret_cast<Cc>(m("vek_div_const_c16_inplace_scaled"))({0, 0}, v, 2, 0), VEK_ERR_DIV_BY_ZERO);
        EXPECT_EQ(reinterpret_cast<Cc>(m("vek_div_const_c16_inplace_scaled"))({0, 1}, v, 1, 0), VEK_OK);
        EXPECT_EQ(v[0].re, 6);
        EXPECT_EQ(v[0].im, -4);
        // The reverse division by a zero constant clears the destination without looking at the source.
        using Rev = VekStatus (*)(const uint16_t*, uint16_t, uint16_t*, int32_t);
        const auto rev = reinterpret_cast<Rev>(m("vek_divrev_const_16u"));
        uint16_t d[5] = {1, 2, 3, 4, 5};
        EXPECT_EQ(rev(nullptr, 0, d, 4), VEK_OK);
        EXPECT_EQ(d[0] + d[1] + d[2] + d[3], 0);
        EXPECT_EQ(d[4], 5);
        EXPECT_EQ(rev(nullptr, 0, nullptr, 4), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(rev(nullptr, 0, d, 0), VEK_ERR_SIZE);
        EXPECT_EQ(rev(nullptr, 3, d, 4), VEK_ERR_NULL_POINTER);
        using V16 = VekStatus (*)(const int16_t*, int16_t*, int32_t, int32_t);
        int16_t s16[2] = {1, 1};
        EXPECT_EQ(reinterpret_cast<V16>(m("vek_div_vec_16_inplace_scaled"))(s16, nullptr, 2, 0), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(reinterpret_cast<V16>(m("vek_div_vec_16_inplace_scaled"))(s16, s16, 0, 0), VEK_ERR_SIZE);
    }
}

// The MMX entries round to nearest whatever the caller's x87 rounding control, and give it back unchanged; no
// entry changes the rest of the control word or the SSE control bits.
TEST(VekDivEntries, CallersRoundingModesSurvive) {
    const SlotEntry& e = slot_named("vek_div_vec_16_scaled");
    const uint16_t old = vek_fpu_set_control(0x0C00 | 0x0200, 0x0F00);  // truncation, 53-bit precision
    const unsigned mxcsr = _mm_getcsr();
    int16_t x[40], y[40], d[40];
    for (int i = 0; i < 40; ++i) x[i] = 5, y[i] = 2;
    for (int col : vektest::kColumns) {
        Call c{reinterpret_cast<uint8_t*>(x), reinterpret_cast<uint8_t*>(y), reinterpret_cast<uint8_t*>(d), 0, 0, 40, 0};
        ASSERT_EQ(e.invoke(col, c), VEK_OK);
        if (col == VEK_CPU_MM) {
            EXPECT_EQ(d[0], 2);
        }
        if (col == VEK_CPU_GEN) {
            EXPECT_EQ(d[0], 3);
        }
        EXPECT_EQ(vek_fpu_set_control(0, 0), 0x0C00 | 0x0200 | (old & ~0x0F00)) << vektest::column_name(col);
        EXPECT_EQ(_mm_getcsr() & ~0x3Fu, mxcsr & ~0x3Fu);
    }
    vek_fpu_load_control(old);
}

}  // namespace
