// Every add, subtract and multiply slot of the family (126-209) in every column against the exact oracle: all scale
// factors from -70 to 70 and the extremes, the lengths around every kernel's minimum and lane width, every byte
// offset 0-15 of each pointer, exact aliasing of destination and source, untouched guard bytes and sources, and the
// floating-point state (x87 control and tag words, MXCSR) unchanged by each call.
#include <gtest/gtest.h>

#include "arith_harness.h"

namespace {

using namespace arith_test;

#ifdef MODEM_UNDER_SANITIZER
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

enum class Alias { None, DstIsX, DstIsY };

struct Case {
    int32_t n, sf;
    size_t ox, oy, od;
    Alias alias = Alias::None;
    int constant = -1;  // index into the constant choices, -1 random
};

// Runs one call of slot s in one column and compares everything; returns false (after one reported failure) on a
// mismatch.
bool check(const SlotEntry& e, int col, const Case& k, std::mt19937_64& rng) {
    const SlotInfo& s = e.info;
    const int64_t halves = int64_t{k.n} * s.halves;
    vektest::GuardedBuffer bx(static_cast<size_t>(halves * s.in.bytes), k.ox);
    vektest::GuardedBuffer by(static_cast<size_t>(halves * s.in.bytes), k.oy);
    vektest::GuardedBuffer bd(static_cast<size_t>(halves * s.out.bytes), k.od);
    std::vector<int64_t> x(halves), y(halves);
    for (auto& v : x) v = sample(rng, s.in);
    Call c;
    c.n = k.n;
    c.sf = k.sf;
    if (s.isConst) {
        const int64_t choices[] = {0, 1, -1, s.in.lo, s.in.hi, 2, 3};
        const auto pick = [&](int i) {
            const int64_t v = i < 0 ? sample(rng, s.in) : choices[i % 7];
            return v < s.in.lo ? v & s.in.hi : v;
        };
        c.cre = pick(k.constant);
        c.cim = pick(k.constant < 0 ? -1 : k.constant + 3);
        for (int64_t i = 0; i < halves; ++i) y[i] = (i & 1) && s.halves == 2 ? c.cim : c.cre;
    } else {
        for (auto& v : y) v = sample(rng, s.in);
    }
    for (int64_t i = 0; i < halves; ++i) {
        put(bx.data(), i, s.in, x[i]);
        put(by.data(), i, s.in, y[i]);
    }
    c.x = bx.data();
    c.y = s.isConst ? nullptr : by.data();
    c.d = s.inplace ? nullptr : (k.alias == Alias::DstIsX ? bx.data() : k.alias == Alias::DstIsY ? by.data() : bd.data());

    const std::vector<int64_t> want = expect_arith(s, x, y, k.sf);
    const FpControl before = FpControl::now();
    const VekStatus st = e.invoke(col, c);
    const FpControl after = FpControl::now();

    const uint8_t* out = s.inplace ? bx.data() : c.d;
    const auto where = [&] {
        return s.name + " " + vektest::column_name(col) + " n=" + std::to_string(k.n) + " sf=" + std::to_string(k.sf) +
               " offsets=" + std::to_string(k.ox) + "/" + std::to_string(k.oy) + "/" + std::to_string(k.od) +
               " alias=" + std::to_string(static_cast<int>(k.alias));
    };
    if (st != VEK_OK) {
        ADD_FAILURE() << where() << " status " << st;
        return false;
    }
    for (int64_t i = 0; i < halves; ++i) {
        const int64_t got = get(out, i, s.out);
        if (got != want[i]) {
            ADD_FAILURE() << where() << " half " << i << ": got " << got << " want " << want[i] << " (x " << x[i]
                          << ", y " << y[i] << ")";
            return false;
        }
    }
    // Sources that are not the destination keep their values.
    if (!s.inplace && k.alias != Alias::DstIsX)
        for (int64_t i = 0; i < halves; ++i)
            if (get(bx.data(), i, s.in) != x[i]) {
                ADD_FAILURE() << where() << " source changed at " << i;
                return false;
            }
    if (!s.isConst && k.alias != Alias::DstIsY)
        for (int64_t i = 0; i < halves; ++i)
            if (get(by.data(), i, s.in) != y[i]) {
                ADD_FAILURE() << where() << " second source changed at " << i;
                return false;
            }
    if (!bx.intact() || !by.intact() || !bd.intact()) {
        ADD_FAILURE() << where() << " wrote outside its vectors";
        return false;
    }
    if (!(before == after)) {
        ADD_FAILURE() << where() << " floating-point state changed";
        return false;
    }
    return true;
}

std::vector<const SlotEntry*> arith_slots() {
    std::vector<const SlotEntry*> v;
    for (const auto& e : family())
        if (!is_division(e.info)) v.push_back(&e);
    return v;
}

TEST(VekArithConformance, TheFamilyHasEverySlotOfItsRange) {
    EXPECT_EQ(family().size(), 98u);
    EXPECT_EQ(arith_slots().size(), 84u);
}

// Slots 126, 127, 171, 188, 191, 192 and 193 hold one entry in both MMX columns; every other slot its own.
TEST(VekArithConformance, SharedMmxEntries) {
    const int shared[] = {126, 127, 171, 188, 191, 192, 193};
    for (const auto& e : family()) {
        const auto& row = vek_variant_table()[e.info.slot];
        const bool same = row.variant[VEK_CPU_MM] == row.variant[VEK_CPU_SS];
        EXPECT_EQ(same, std::find(std::begin(shared), std::end(shared), e.info.slot) != std::end(shared)) << e.info.name;
    }
}

// Every scale factor in -70..70 and the extremes, at a length that runs head, lanes and tail, with every constant
// choice, in every column.
TEST(VekArithConformance, EveryScaleFactorInEveryColumn) {
    std::vector<int32_t> sfs = {INT32_MIN, INT32_MIN + 1, -1000, 1000, INT32_MAX};
    for (int32_t sf = -70; sf <= 70; ++sf) sfs.push_back(sf);
    std::mt19937_64 rng(1);
    for (const SlotEntry* e : arith_slots()) {
        if (!e->info.scaled && e->info.op != Op::Mul && e->info.slot != 203) {
            // Unscaled slots: sf is not an argument.
        }
        for (int col : vektest::kColumns) {
            for (size_t i = 0; i < sfs.size(); ++i) {
                if (!e->info.scaled && i > 0) break;
                const Case k{kSanitized ? 21 : 45, sfs[i], i % 16, (i * 7) % 16, (i * 3 + 5) % 16, Alias::None,
                             static_cast<int>(i % 8) - 1};
                if (!check(*e, col, k, rng)) break;
            }
        }
    }
}

// Lengths around every lane width and minimum length, each pointer at every byte offset 0..15.
TEST(VekArithConformance, EveryLengthAndOffset) {
    std::vector<int32_t> lengths = {1, 2, 3, 4, 5, 7, 8, 9, 11, 15, 16, 17, 19, 23, 24, 31, 32, 33, 39, 40, 47, 48, 64, 65, 100, 257};
    if (kSanitized) lengths = {1, 3, 8, 17, 33, 65};
    const int32_t sfs[] = {0, 1, 3, -2, -9, 40, -40, 9, 17, 2, -17, 31};
    std::mt19937_64 rng(2);
    for (const SlotEntry* e : arith_slots())
        for (int col : vektest::kColumns)
            for (size_t li = 0; li < lengths.size(); ++li)
                for (size_t o = 0; o < 16; ++o) {
                    const Case k{lengths[li], sfs[(li + o) % 12], o, (o * 5 + 3) % 16, (o * 11 + 7) % 16};
                    if (!check(*e, col, k, rng)) return;
                }
}

// The destination may be exactly a source.
TEST(VekArithConformance, DestinationAliasingASource) {
    std::mt19937_64 rng(3);
    for (const SlotEntry* e : arith_slots()) {
        if (e->info.inplace || e->info.in.bytes != e->info.out.bytes) continue;
        for (int col : vektest::kColumns)
            for (int32_t sf : {0, 1, 4, -3, -20})
                for (Alias a : {Alias::DstIsX, Alias::DstIsY}) {
                    if (a == Alias::DstIsY && e->info.isConst) continue;
                    ASSERT_TRUE(check(*e, col, Case{77, sf, 6, 6, 0, a}, rng));
                }
    }
}

// All pairs of 8-bit values at the scale factors around every case bound.
TEST(VekArithConformance, Exhaustive8BitPairs) {
    std::vector<int32_t> sfs;
    for (int32_t sf = -12; sf <= 20; ++sf) sfs.push_back(sf);
    if (kSanitized) sfs = {-1, 9};
    for (const SlotEntry* e : arith_slots()) {
        const SlotInfo& s = e->info;
        if (s.in.bytes != 1) continue;
        for (int col : vektest::kColumns)
            for (int32_t sf : s.scaled ? sfs : std::vector<int32_t>{0})
                for (int other = 0; other < 256; ++other) {
                    std::vector<int64_t> x(256), y(256, other);
                    for (int i = 0; i < 256; ++i) x[i] = i;
                    vektest::GuardedBuffer bx(256, 0), by(256, 0), bd(256 * s.out.bytes, 0);
                    for (int i = 0; i < 256; ++i) {
                        put(bx.data(), i, s.in, x[i]);
                        put(by.data(), i, s.in, other);
                    }
                    Call c{bx.data(), s.isConst ? nullptr : by.data(), s.inplace ? nullptr : bd.data(), other, 0, 256,
                           sf};
                    ASSERT_EQ(e->invoke(col, c), VEK_OK);
                    const auto want = expect_arith(s, x, y, sf);
                    const uint8_t* out = s.inplace ? bx.data() : bd.data();
                    for (int i = 0; i < 256; ++i)
                        ASSERT_EQ(get(out, i, s.out), want[i]) << s.name << " " << vektest::column_name(col) << " sf "
                                                               << sf << ": " << i << " with " << other;
                }
    }
}

// Null pointers give -8 and lengths of 0 or less -6, with nothing written; the complex vector add and subtract
// test the length first.
TEST(VekArithConformance, ErrorsWriteNothing) {
    for (const SlotEntry* e : arith_slots()) {
        const SlotInfo& s = e->info;
        const bool lengthFirst = !s.isConst && s.halves == 2 && (s.op == Op::Add || s.op == Op::Sub);
        for (int col : vektest::kColumns) {
            vektest::GuardedBuffer bx(64, 1), by(64, 2), bd(64, 3);
            std::vector<uint8_t> keep(bx.data(), bx.data() + 64), keepD(bd.data(), bd.data() + 64);
            const int pointers = s.isConst ? (s.inplace ? 1 : 2) : (s.inplace ? 2 : 3);
            for (int32_t n : {-1, 0, 1}) {
                for (int nullAt = -1; nullAt < pointers; ++nullAt) {
                    Call c{bx.data(), s.isConst ? nullptr : by.data(), s.inplace ? nullptr : bd.data(), 1, 1, n, 0};
                    // Pointer order: x, then y (vector forms), then d (out of place).
                    uint8_t** ptrs[3] = {&c.x, s.isConst ? &c.d : &c.y, &c.d};
                    if (nullAt >= 0) *ptrs[nullAt] = nullptr;
                    if (n == 1 && nullAt < 0) continue;
                    const VekStatus want = (nullAt >= 0 && !(lengthFirst && n <= 0)) ? VEK_ERR_NULL_POINTER
                                                                                      : VEK_ERR_SIZE;
                    ASSERT_EQ(e->invoke(col, c), want) << s.name << " " << vektest::column_name(col) << " n " << n
                                                       << " null " << nullAt;
                    ASSERT_TRUE(std::equal(keep.begin(), keep.end(), bx.data()));
                    ASSERT_TRUE(std::equal(keepD.begin(), keepD.end(), bd.data()));
                }
            }
        }
    }
}

}  // namespace
