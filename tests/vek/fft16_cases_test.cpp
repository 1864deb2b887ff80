// The 16-bit FFT records and their edges: work sizes and path choice, argument checks, exact results at
// orders 0 and 1 and on the fixed-point path, the Q14 tables, and the conversions at the transforms' edges.
#include <cmath>

#include "layer1/vek/core/vek_memory.h"
#include "layer1/vek/fft/engine/fft_q14.h"
#include "layer1/vek/fft/fft16.h"
#include "layer1/vek/fft/fft_convert.h"
#include "vek_harness.h"

namespace {

std::int32_t work_bytes(int col, int kind, std::int32_t order, std::int32_t hint)
{
    using Init = VekStatus (*)(FftSpec**, std::int32_t, std::int32_t, std::int32_t);
    const Init inits[3] = {vek_variant<VekSlot::vek_fft_init_complex>(col), vek_variant<VekSlot::vek_fft_init_split>(col),
                           vek_variant<VekSlot::vek_fft_init_real>(col)};
    using Size = VekStatus (*)(const FftSpec*, std::int32_t*);
    const Size sizes[3] = {vek_variant<VekSlot::vek_fft_buffer_size_complex>(col),
                           vek_variant<VekSlot::vek_fft_buffer_size_split>(col),
                           vek_variant<VekSlot::vek_fft_buffer_size_real>(col)};
    FftSpec* spec = nullptr;
    EXPECT_EQ(inits[kind](&spec, order, VEK_FFT_NORM_FWD, hint), VEK_OK);
    std::int32_t bytes = -1;
    EXPECT_EQ(sizes[kind](spec, &bytes), VEK_OK);
    const auto release = kind == 0 ? vek_variant<VekSlot::vek_fft_free_complex>(col)
                                   : (kind == 1 ? vek_variant<VekSlot::vek_fft_free_split>(col)
                                                : vek_variant<VekSlot::vek_fft_free_real>(col));
    EXPECT_EQ(release(spec), VEK_OK);
    return bytes;
}

TEST(Fft16Spec, WorkBytesShowThePathOfEveryColumn)
{
    for (int col : vektest::kColumns) {
        EXPECT_EQ(work_bytes(col, 0, 0, 0), 0);
        EXPECT_EQ(work_bytes(col, 0, 8, 0), 12 * 256 + 16);   // fixed
        EXPECT_EQ(work_bytes(col, 2, 8, 1), 4 * 256 + 24);    // fixed
        EXPECT_EQ(work_bytes(col, 1, 9, 0), 8 * 512 + 16 + (col >= VEK_CPU_SS ? 8 * 512 + 16 : 0));  // float
        const std::int32_t w4 = col >= VEK_CPU_SS ? 8 * 16 + 16 : 0;
        EXPECT_EQ(work_bytes(col, 0, 4, 2), 8 * 16 + 16 + w4);  // hint 2: float
        const std::int32_t fixed10 = 12 * 1024 + 16;
        EXPECT_EQ(work_bytes(col, 0, 10, 1) == fixed10, col == VEK_CPU_MM) << vektest::column_name(col);
    }
}

TEST(Fft16Spec, ArgumentChecksInTheirOrder)
{
    const std::int64_t before = vek_pool_outstanding();
    for (int col : vektest::kColumns) {
        FftSpec* spec = nullptr;
        const auto init = vek_variant<VekSlot::vek_fft_init_real>(col);
        EXPECT_EQ(init(nullptr, 31, 3, 0), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(init(&spec, 31, 3, 0), VEK_ERR_FFT_ORDER);
        EXPECT_EQ(init(&spec, 4, 3, 0), VEK_ERR_FFT_FLAG);
        EXPECT_EQ(init(&spec, 29, 1, 0), VEK_ERR_NO_MEMORY);
        ASSERT_EQ(vek_variant<VekSlot::vek_fft_init_complex>(col)(&spec, 5, 1, 0), VEK_OK);
        std::int16_t d[64] = {};
        EXPECT_EQ(vek_variant<VekSlot::vek_fft_fwd_real_pack1>(col)(d, d, spec, 0, nullptr), VEK_ERR_CONTEXT_MISMATCH);
        EXPECT_EQ(vek_variant<VekSlot::vek_fft_free_real>(col)(spec), VEK_ERR_CONTEXT_MISMATCH);
        EXPECT_EQ(vek_variant<VekSlot::vek_fft_fwd_complex>(col)(d, nullptr, spec, 0, nullptr), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(vek_variant<VekSlot::vek_fft_fwd_complex>(col)(d, d, nullptr, 0, nullptr), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(vek_variant<VekSlot::vek_fft_buffer_size_complex>(col)(spec, nullptr), VEK_ERR_NULL_POINTER);
        vek_pool_fail_at(1);
        EXPECT_EQ(vek_variant<VekSlot::vek_fft_fwd_complex>(col)(d, d, spec, 0, nullptr), VEK_ERR_NO_MEMORY);
        vek_pool_fail_at(0);
        EXPECT_EQ(vek_variant<VekSlot::vek_fft_free_complex>(col)(spec), VEK_OK);
        // Every allocation of a creation fails in turn: -9 and nothing left behind, on both paths.
        for (std::int32_t hint : {0, 2}) {
            for (int k = 1;; ++k) {
                vek_pool_fail_at(k);
                const VekStatus st = init(&spec, 6, VEK_FFT_NORM_SQRT, hint);
                vek_pool_fail_at(0);
                if (st == VEK_OK) {
                    vek_variant<VekSlot::vek_fft_free_real>(col)(spec);
                    break;
                }
                EXPECT_EQ(st, VEK_ERR_NO_MEMORY);
                EXPECT_EQ(vek_pool_outstanding(), before);
            }
        }
    }
    EXPECT_EQ(vek_pool_outstanding(), before);
}

TEST(Fft16Exact, OrderZeroAndOrderOneAndFixedPathDcAndImpulse)
{
    for (int col : vektest::kColumns) {
        FftSpec* spec = nullptr;
        ASSERT_EQ(vek_variant<VekSlot::vek_fft_init_real>(col)(&spec, 0, VEK_FFT_NORM_NONE, 0), VEK_OK);
        const std::int16_t three[1] = {3};
        std::int16_t out[4] = {9, 9, 9, 9};
        EXPECT_EQ(vek_variant<VekSlot::vek_fft_fwd_real_pack3>(col)(three, out, spec, 1, nullptr), VEK_OK);
        EXPECT_EQ(out[0], 2);  // 1.5 rounds half up
        EXPECT_EQ(out[1], 0);
        vek_variant<VekSlot::vek_fft_free_real>(col)(spec);

        ASSERT_EQ(vek_variant<VekSlot::vek_fft_init_real>(col)(&spec, 1, VEK_FFT_NORM_NONE, 0), VEK_OK);
        const std::int16_t two[2] = {5, 2};
        std::int16_t r[4] = {};
        EXPECT_EQ(vek_variant<VekSlot::vek_fft_fwd_real_pack3>(col)(two, r, spec, 0, nullptr), VEK_OK);
        EXPECT_EQ((std::vector<std::int16_t>(r, r + 4)), (std::vector<std::int16_t>{7, 0, 3, 0}));
        EXPECT_EQ(vek_variant<VekSlot::vek_fft_fwd_real_pack2>(col)(two, r, spec, 0, nullptr), VEK_OK);
        EXPECT_EQ(r[0], 7);
        EXPECT_EQ(r[1], 3);
        vek_variant<VekSlot::vek_fft_free_real>(col)(spec);

        // Fixed path: DC gives N*c in bin 0 and exact zeros elsewhere; an impulse gives equal bins.
        ASSERT_EQ(vek_variant<VekSlot::vek_fft_init_complex>(col)(&spec, 6, VEK_FFT_NORM_FWD, 0), VEK_OK);
        ASSERT_EQ(spec->fixed, 1);
        std::vector<std::int16_t> dc(128), y(128);
        for (int i = 0; i < 64; ++i) {
            dc[2 * i] = 1000;
            dc[2 * i + 1] = -500;
        }
        vek_variant<VekSlot::vek_fft_fwd_complex>(col)(dc.data(), y.data(), spec, -6, nullptr);
        EXPECT_EQ(y[0], 32767);  // 64000 saturates
        ASSERT_EQ(vek_variant<VekSlot::vek_fft_fwd_complex>(col)(dc.data(), y.data(), spec, 0, nullptr), VEK_OK);
        EXPECT_EQ(y[0], 1000);
        EXPECT_EQ(y[1], -500);
        for (int i = 2; i < 128; ++i) {
            EXPECT_EQ(y[i], 0) << i;
        }
        std::vector<std::int16_t> imp(128, 0);
        imp[0] = 12800;
        vek_variant<VekSlot::vek_fft_fwd_complex>(col)(imp.data(), y.data(), spec, -6, nullptr);
        for (int k = 0; k < 64; ++k) {
            EXPECT_EQ(y[2 * k], 12800);
            EXPECT_EQ(y[2 * k + 1], 0);
        }
        vek_variant<VekSlot::vek_fft_free_complex>(col)(spec);
    }
}

TEST(Fft16Exact, Q14TablesAndSmallTransforms)
{
    const std::vector<std::pair<int, std::vector<std::int16_t>>> sines = {
        {2, {0, 16384}}, {3, {0, 11585, 16384}}, {4, {0, 6270, 11585, 15137, 16384}}};
    for (const auto& [order, want] : sines) {
        std::int16_t* s = vek_sin_q14(order);
        EXPECT_EQ(std::vector<std::int16_t>(s, s + want.size()), want);
        std::int16_t* q = vek_k_fft_twiddle_q14(order, s, order);
        const std::int32_t n = 1 << order;
        EXPECT_EQ((std::vector<std::int16_t>(q, q + 4)), (std::vector<std::int16_t>{16384, 0, 0, 16384}));
        EXPECT_EQ((std::vector<std::int16_t>(q + n, q + n + 4)), (std::vector<std::int16_t>{0, 16384, -16384, 0}));
        vek_free(q);
        vek_free(s);
    }
    std::int16_t* s = vek_k_fft_sin_table_q14_gen(2);
    std::int16_t* q = vek_k_fft_twiddle_q14(2, s, 2);
    for (int dir : {1, -1}) {
        std::int32_t x[8] = {0, 0, 65536, 0, 0, 0, 0, 0};
        vek_k_fft_radix4_q14_gen(x, 4, dir, q);
        // bins 0, 2, 1, 3 of x = (0, 1, 0, 0): 1, -1, -i (forward) or +i (inverse), -+i.
        const std::int32_t want[8] = {65536, 0, -65536, 0, 0, -65536 * dir, 0, 65536 * dir};
        EXPECT_EQ(std::vector<std::int32_t>(x, x + 8), std::vector<std::int32_t>(want, want + 8)) << dir;
    }
    vek_free(q);
    vek_free(s);
}

TEST(FftConvert, ValueListsOfTheConversions)
{
    using ToInt = VekStatus (*)(const float*, std::int16_t*, std::int32_t, std::int32_t, std::int32_t);
    const ToInt toInt[4] = {vek_k_convert_f32_s16_scaled_gen, vek_k_convert_f32_s16_scaled_mm,
                            vek_k_convert_f32_s16_scaled_ss, vek_k_convert_f32_s16_scaled_wd};
    const float in[6] = {2.5f, 3.5f, -2.5f, 32767.4f, 40000.0f, -40000.0f};
    const std::int16_t nearest[6] = {2, 4, -2, 32767, 32767, -32768};
    const float trunc[2] = {2.9f, -2.9f};
    for (int col : vektest::kColumns) {
        const vektest::FpState before = vektest::FpState::capture();
        std::int16_t out[6];
        EXPECT_EQ(toInt[col](in, out, 6, 1, 0), VEK_OK);
        EXPECT_EQ(std::vector<std::int16_t>(out, out + 6), std::vector<std::int16_t>(nearest, nearest + 6));
        EXPECT_EQ(toInt[col](trunc, out, 2, 0, 0), VEK_OK);
        EXPECT_EQ(out[0], 2);
        EXPECT_EQ(out[1], -2);
        const float five = 5.0f;
        toInt[col](&five, out, 1, 1, 1);
        EXPECT_EQ(out[0], 2);
        const float big = 16384.0f;
        toInt[col](&big, out, 1, 1, -1);
        EXPECT_EQ(out[0], 32767);
        const float tiny[2] = {0.0f, 1.0f};
        toInt[col](tiny, out, 2, 1, INT32_MIN);  // an extreme scale factor saturates and keeps zero
        EXPECT_EQ(out[0], 0);
        EXPECT_EQ(out[1], 32767);
        EXPECT_EQ(toInt[col](in, nullptr, 0, 1, 0), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(toInt[col](in, out, 0, 1, 0), VEK_ERR_SIZE);
        EXPECT_TRUE(vektest::FpState::capture() == before);
    }
    const std::int32_t wide[5] = {6, -6, 7, 65536, INT32_MAX};
    std::int16_t n[5];
    vek_k_convert_s32_s16_scaled_mmx(wide, n, 3, 2);
    EXPECT_EQ((std::vector<std::int16_t>(n, n + 3)), (std::vector<std::int16_t>{2, -1, 2}));
    vek_k_convert_s32_s16_scaled_gen(wide + 3, n, 2, 16);
    EXPECT_EQ(n[0], 1);
    EXPECT_EQ(n[1], 32767);  // the rounding sum does not wrap
    vek_k_convert_s32_s16_scaled_mmx(wide + 3, n, 1, -16);  // a left shift saturates
    EXPECT_EQ(n[0], 32767);
    std::int32_t r[3] = {65536, 32768, -65536};
    vek_k_fft_mul_inv_sqrt2_s32_mmx(r, 3);
    EXPECT_EQ((std::vector<std::int32_t>(r, r + 3)), (std::vector<std::int32_t>{46340, 23170, -46340}));
}

}  // namespace
