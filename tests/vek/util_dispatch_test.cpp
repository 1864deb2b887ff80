// The pump entry points of the util and arith families reach the installed column's functions.
#include <gtest/gtest.h>

#include "layer1/vek/arith/arith.h"
#include "layer1/vek/util/util.h"
#include "vek_harness.h"

namespace {

TEST(VekUtilDispatch, EntryPointsRunTheInstalledColumn) {
    vektest::DispatchTableGuard restore;
    for (int col : vektest::kColumns) {
        ASSERT_EQ(vek_install_column(col), 1);
        EXPECT_EQ(vek_dispatched<VekSlot::vek_phase_complex_16>(), vek_variant<VekSlot::vek_phase_complex_16>(col));
        EXPECT_EQ(vek_dispatched<VekSlot::vek_div_const_16_inplace_scaled>(),
                  vek_variant<VekSlot::vek_div_const_16_inplace_scaled>(col));

        int16_t v[3] = {3, 5, -3};
        ASSERT_EQ(vek_mul_const_16_inplace_scaled(1, v, 3, 1), VEK_OK);
        EXPECT_EQ(v[0] * 100 + v[1] * 10 + v[2], 218);  // 2, 2, -2
        const int16_t a[1] = {1}, b[1] = {5};
        int16_t d[1] = {0};
        ASSERT_EQ(vek_sub_vec_16(a, b, d, 1), VEK_OK);
        EXPECT_EQ(d[0], 4);
        const uint16_t table[3] = {0, 10, 20};
        uint16_t e = 0;
        int32_t i = -1;
        ASSERT_EQ(vek_find_nearest_one(15, &e, &i, table, 3), VEK_OK);
        EXPECT_EQ(i, 1);
        const VekC16 z[1] = {{0, 100}};
        int16_t ph = 0;
        ASSERT_EQ(vek_phase_complex_16(z, &ph, 1, -12), VEK_OK);
        EXPECT_EQ(ph, 6434);
        int16_t q[1] = {100};
        ASSERT_EQ(vek_div_const_16_inplace_scaled(128, q, 1, -14), VEK_OK);
        EXPECT_EQ(q[0], 12800);
        const int16_t s[4] = {5, -3, 7, -3};
        int16_t m = 0;
        int32_t at = -1;
        ASSERT_EQ(vek_min_index_16(s, 4, &m, &at), VEK_OK);
        EXPECT_EQ(at, 1);
    }
}

}  // namespace
