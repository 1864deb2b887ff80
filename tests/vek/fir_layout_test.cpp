// Record words and tables of each column's layouts, worked out by hand for small filters.
#include <gtest/gtest.h>

#include "tests/vek/fir_support.h"

namespace {

using namespace firtest;

TEST(FirLayout, SingleRateWords) {
    const std::int32_t taps[] = {3, 5, 7};
    FirState *gen = nullptr, *wd = nullptr, *cplx = nullptr;
    ASSERT_EQ(column(VEK_CPU_GEN).initReal(&gen, taps, 3, 0, nullptr), VEK_OK);
    ASSERT_EQ(column(VEK_CPU_WD).initReal(&wd, taps, 3, 0, nullptr), VEK_OK);
    const VekC32 ctaps[] = {{1, 2}, {3, -4}, {5, 6}};
    ASSERT_EQ(vek_fir_init_complex_all(&cplx, ctaps, 3, 0, nullptr), VEK_OK);

    EXPECT_EQ(gen->kind, 0x46493039u);
    EXPECT_EQ(gen->blockLength, 5);  // 3 rounded up to 4, plus 1
    EXPECT_EQ(gen->paddedLength, 0);
    EXPECT_EQ(std::vector<std::int16_t>(gen->taps16, gen->taps16 + 3), (std::vector<std::int16_t>{7, 5, 3}));

    // Wide layout: P = 3 + 4 rounded up to 8; copy c holds the reversed taps from place c + 1.
    EXPECT_EQ(wd->paddedLength, 8);
    EXPECT_EQ(wd->blockLength, 8);
    const std::vector<std::int16_t> copies(wd->taps16, wd->taps16 + 32);
    EXPECT_EQ(copies, (std::vector<std::int16_t>{0, 7, 5, 3, 0, 0, 0, 0,  //
                                                 0, 0, 7, 5, 3, 0, 0, 0,  //
                                                 0, 0, 0, 7, 5, 3, 0, 0,  //
                                                 0, 0, 0, 0, 7, 5, 3, 0}));

    // Complex: (re, -im) of every reversed tap, then (im, re); block word (2 * 3 rounded up to 8) + 2.
    EXPECT_EQ(cplx->kind, 0x46493130u);
    EXPECT_EQ(cplx->blockLength, 10);
    EXPECT_EQ(std::vector<std::int16_t>(cplx->taps16, cplx->taps16 + 12),
              (std::vector<std::int16_t>{5, -6, 3, 4, 1, -2, 6, 5, -4, 3, 2, 1}));
    vek_fir_free_real_all(gen);
    vek_fir_free_real_all(wd);
    vek_fir_free_complex_all(cplx);
}

// U = 2, pu = 1, D = 1, pd = 0, two taps: one tap per branch (n = 1), T = 4. Lane l of group g starts at
// window offset 2g + (l + 1) / 2 and alternates between the two reversed taps; after both groups the
// window moves on by 4 (four inputs).
TEST(FirLayout, MultirateTablesOfTheUpByTwoExample) {
    const std::int32_t taps[] = {3, 5};
    FirState *gen = nullptr, *ss = nullptr;
    ASSERT_EQ(column(VEK_CPU_GEN).initRealMultirate(&gen, taps, 2, 0, 2, 1, 1, 0, nullptr), VEK_OK);
    ASSERT_EQ(column(VEK_CPU_SS).initRealMultirate(&ss, taps, 2, 0, 2, 1, 1, 0, nullptr), VEK_OK);

    EXPECT_EQ(gen->kind, 0x46493131u);
    EXPECT_EQ(gen->upFactor, 2);
    EXPECT_EQ(gen->downFactor, 1);
    EXPECT_EQ(gen->blockLength, 5);    // T + 1
    EXPECT_EQ(gen->multirateWord, 2);  // U * C
    EXPECT_EQ(gen->position, 1);       // n
    EXPECT_EQ(gen->paddedLength, 0);
    EXPECT_EQ(std::vector<std::int32_t>(gen->phaseTable, gen->phaseTable + 9),
              (std::vector<std::int32_t>{0, 1, 1, 2, 2, 3, 3, 4, 4}));
    EXPECT_EQ(std::vector<std::int16_t>(gen->taps16, gen->taps16 + 8),
              (std::vector<std::int16_t>{5, 3, 5, 3, 5, 3, 5, 3}));

    // Padded: lanes of npad = 4 taps each, U * C rounded up to 4, byte steps in the phase table.
    EXPECT_EQ(ss->paddedLength, 8);
    EXPECT_EQ(ss->multirateWord, 4);
    EXPECT_EQ(std::vector<std::int32_t>(ss->phaseTable, ss->phaseTable + 9),
              (std::vector<std::int32_t>{0, 2, 0, 2, 0, 2, 0, 2, 0}));
    EXPECT_EQ(std::vector<std::int16_t>(ss->taps16, ss->taps16 + 12),
              (std::vector<std::int16_t>{5, 0, 0, 0, 3, 0, 0, 0, 5, 0, 0, 0}));
    vek_fir_free_real_all(gen);
    vek_fir_free_real_all(ss);
}

TEST(FirLayout, ComplexMultirateWordsCountHalves) {
    const VekC32 taps[] = {{1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}};
    FirState* st = nullptr;
    // len 5, U 2: n = 3; D 3: T = 12, C = 1.
    ASSERT_EQ(vek_fir_init_complex_multirate_gen(&st, taps, 5, 0, 2, 1, 3, 2, nullptr), VEK_OK);
    EXPECT_EQ(st->kind, 0x46493132u);
    EXPECT_EQ(st->blockLength, 26);
    EXPECT_EQ(st->multirateWord, 4);
    EXPECT_EQ(st->position, 6);
    vek_fir_free_complex_all(st);
}

}  // namespace
