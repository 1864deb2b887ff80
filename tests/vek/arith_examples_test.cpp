// The worked examples of the arithmetic family, slot by slot, in every column (or the columns a row names where
// division rounds differently). Rows of add, subtract and multiply are repeated to a length that runs the lane
// walks as well as the scalar code.
#include <gtest/gtest.h>

#include "arith_harness.h"

namespace {

using namespace arith_test;

struct Row {
    const char* slot;
    std::vector<int64_t> x;  // element operand halves (srcdst, src or src2)
    std::vector<int64_t> y;  // other vector's halves, or the constant {re[, im]}
    int32_t sf;
    std::vector<int64_t> want;
    const char* columns = "gmsw";
    VekStatus status = VEK_OK;
};

constexpr int64_t kMin32 = INT32_MIN, kMax32 = INT32_MAX;

const Row kRows[] = {
    // Add.
    {"vek_add_vec_16_scaled", {-32768, -32768, -32768, -32768}, {-32768, -32768, -32768, -32768}, 0, {-32768, -32768, -32768, -32768}},
    {"vek_add_vec_16_scaled", {-32768}, {-32768}, 1, {-32768}},
    {"vek_add_vec_16_scaled", {-32768}, {-32768}, 16, {-1}},
    {"vek_add_vec_16_scaled", {-32768}, {-32768}, 17, {0}},
    {"vek_add_vec_16_scaled", {-32768}, {-32768}, -16, {-32768}},
    {"vek_add_vec_16_scaled", {32767, 32767, 1}, {32767, 32767, 1}, -15, {32767, 32767, 32767}},
    {"vek_add_vec_16_scaled", {32767}, {32767}, -1, {32767}},
    {"vek_add_vec_8_scaled", {255}, {255}, 9, {1}},
    {"vek_add_vec_8_scaled", {255}, {255}, 10, {0}},
    {"vek_add_vec_8_scaled", {128, 255}, {128, 129}, 9, {0, 1}},
    {"vek_add_vec_8_scaled", {1}, {1}, -7, {255}},
    {"vek_add_const_8_scaled", {0, 1, 200}, {3}, -8, {255, 255, 255}},
    {"vek_add_const_8_scaled", {0, 1, 200}, {0}, -8, {0, 255, 255}},
    {"vek_add_vec_32_scaled", {kMin32}, {kMin32}, 0, {kMin32}},
    {"vek_add_vec_32_scaled", {kMin32}, {kMin32}, 32, {-1}},
    {"vek_add_vec_32_scaled", {kMin32}, {kMin32}, 33, {0}},
    {"vek_add_vec_32_scaled", {kMin32, kMin32}, {kMin32, kMin32}, -30, {kMin32, kMin32}},
    {"vek_add_vec_32_scaled", {kMin32}, {kMin32}, -31, {kMin32}},
    {"vek_add_vec_32_scaled", {1, 1, 5, kMax32}, {2, 0, -7, kMax32}, 1, {2, 0, -1, kMax32}},
    {"vek_add_vec_32_scaled", {5}, {-7}, 0, {-2}},
    {"vek_add_vec_32_scaled", {2, 6, 10}, {0, 0, 0}, 2, {0, 2, 2}},
    {"vek_add_const_32_scaled", {1, -2}, {0}, -30, {0x40000000, kMin32}},
    {"vek_add_const_32_scaled", {5}, {-5}, -31, {0}},
    {"vek_add_const_32_scaled", {1, -1}, {0}, -31, {kMax32, kMin32}},
    {"vek_add_const_32_scaled", {1}, {0}, -30, {1073741824}},
    {"vek_add_const_32_scaled", {2}, {0}, -30, {kMax32}},
    {"vek_add_vec_32_scaled", {1 << 30, kMax32}, {1 << 30, kMax32}, 32, {0, 1}},
    {"vek_add_const_16_scaled", {16383, 16384}, {0}, -1, {32766, 32767}},
    {"vek_add_const_c16_scaled", {1, -1}, {32767, -32768}, 0, {32767, -32768}},
    {"vek_add_const_c32_inplace_scaled", {5, -5}, {7, 7}, 33, {0, 0}},
    {"vek_add_const_c16_inplace_scaled", {5, -5}, {7, 7}, 17, {0, 0}},
    {"vek_add_vec_8_to16u", {255}, {255}, 0, {510}},
    {"vek_add_vec_16u_sat", {65535, 400}, {1, 200}, 0, {65535, 600}},
    {"vek_add_vec_32u_sat", {4294967295, 1u << 31}, {1, 1u << 30}, 0, {4294967295, 3u << 30}},
    // Subtract: src2 - src1, element - constant, constant - element.
    {"vek_sub_vec_16_scaled", {32767, 32767, 32767, 32767, 32767}, {-32768, -32768, -32768, -32768, -32768}, 0, {32767, 32767, 32767, 32767, 32767}},
    {"vek_sub_vec_16_scaled", {32767}, {-32768}, 1, {32767}},
    {"vek_sub_vec_16_scaled", {32767}, {-32768}, 2, {16384}},
    {"vek_sub_vec_16_scaled", {32767, -32768}, {-32768, 32767}, 16, {1, -1}},
    {"vek_sub_vec_16_scaled", {32767}, {-32768}, 17, {0}},
    {"vek_sub_vec_16_scaled", {-32768}, {32767}, 1, {-32768}},
    {"vek_sub_vec_16_scaled", {2, 6, -2, -6}, {0, 0, 0, 0}, 2, {0, 2, 0, -2}},
    {"vek_subrev_const_16_scaled", {-32768, 5}, {0}, 0, {32767, -5}},
    {"vek_sub_vec_32_scaled", {kMax32}, {kMin32}, 1, {kMax32}},
    {"vek_sub_vec_32_scaled", {kMax32}, {kMin32}, 2, {1073741824}},
    {"vek_sub_vec_32_scaled", {kMax32, kMax32, kMax32, kMin32, kMin32}, {kMin32, -1, -2, 0, 1}, 32, {1, 0, 1, 0, -1}},
    {"vek_sub_vec_32_scaled", {kMax32}, {kMin32}, 33, {0}},
    {"vek_sub_vec_32_scaled", {kMax32}, {kMin32}, -31, {kMax32}},
    {"vek_sub_vec_32_scaled", {3, -3, 1, -1}, {0, 0, 0, 0}, 2, {1, -1, 0, 0}},
    {"vek_sub_vec_32_scaled", {4, 12, -4, -12, 20}, {0, 0, 0, 0, 0}, 3, {0, 2, 0, -2, 2}},
    {"vek_sub_vec_32_scaled", {(1 << 30) - 1, 1 << 30}, {0, 0}, -1, {2147483646, kMax32}},
    {"vek_sub_vec_32_scaled", {kMin32}, {kMax32}, 32, {-1}},
    {"vek_sub_const_32_scaled", {1}, {3}, 2, {0}},
    {"vek_subrev_const_32_scaled", {kMin32, kMin32}, {0}, 0, {kMax32, kMax32}},
    {"vek_subrev_const_32_scaled", {kMin32}, {0}, 1, {1073741824}},
    {"vek_sub_vec_8_scaled", {3, 3, 3}, {5, 5, 5}, -8, {0, 0, 0}},
    {"vek_sub_vec_8_scaled", {3}, {5}, 5, {0}},
    {"vek_sub_vec_8_scaled", {5, 5}, {3, 3}, -7, {255, 255}},
    {"vek_sub_vec_8_scaled", {5}, {3}, -8, {255}},
    {"vek_sub_vec_8_scaled", {255, 128, 129, 127}, {0, 0, 0, 0}, 8, {1, 0, 1, 0}},
    {"vek_sub_vec_8_scaled", {255}, {0}, 9, {0}},
    {"vek_sub_const_8_scaled", {0, 1, 255}, {0}, -8, {0, 255, 255}},
    {"vek_sub_const_8_scaled", {3, 5, 6}, {5}, -8, {0, 0, 255}},
    {"vek_subrev_const_8_scaled", {200}, {10}, 0, {0}},
    {"vek_subrev_const_8_scaled", {3}, {10}, -7, {255}},
    {"vek_subrev_const_8_scaled", {0}, {255}, 8, {1}},
    {"vek_subrev_const_8_scaled", {0}, {255}, 9, {0}},
    {"vek_subrev_const_8_scaled", {0, 7, 255}, {0}, -3, {0, 0, 0}},
    {"vek_sub_const_c16_scaled", {32767, -32768}, {-1, 1}, 0, {32767, -32768}},
    {"vek_sub_vec_c16_scaled", {6, -6, 10, -10}, {0, 0, 0, 0}, 2, {2, -2, 2, -2}},
    {"vek_sub_vec_c16_scaled", {0, 0}, {1, -1}, 0, {-1, 1}},
    // Multiply.
    {"vek_mul_vec_16_scaled", {-32768, -32768, -32768}, {-32768, -32768, -32768}, 0, {32767, 32767, 32767}},
    {"vek_mul_vec_16_scaled", {-32768, 32767}, {-32768, 32767}, 15, {32767, 32766}},
    {"vek_mul_vec_16_scaled", {-32768}, {-32768}, 16, {16384}},
    {"vek_mul_vec_16_scaled", {-32768}, {-32768}, 30, {1}},
    {"vek_mul_vec_16_scaled", {-32768}, {-32768}, 31, {0}},
    {"vek_mul_vec_16_scaled", {-32768, -5}, {-1, 7}, -16, {32767, -32768}},
    {"vek_mul_vec_16_to32_scaled", {-32768}, {-32768}, 0, {1073741824}},
    {"vek_mul_vec_16_to32_scaled", {-32768}, {-32768}, -1, {kMax32}},
    {"vek_mul_vec_16_to32_scaled", {-32768}, {-32768}, -31, {kMax32}},
    {"vek_mul_vec_16_to32_scaled", {-32768}, {-32768}, 30, {1}},
    {"vek_mul_vec_16_to32_scaled", {-32768}, {-32768}, 31, {0}},
    {"vek_mul_vec_16_to32_scaled", {1, -1, -32768}, {1, 2, 32767}, -30, {1073741824, kMin32, kMin32}},
    {"vek_mul_vec_16_to32_scaled", {-1}, {1}, -31, {kMin32}},
    {"vek_mul_vec_c16_scaled", {-32768, -32768}, {-32768, -32768}, 0, {0, 32767}},
    {"vek_mul_vec_c16_scaled", {-32768, -32768}, {-32768, -32768}, 17, {0, 16384}},
    {"vek_mul_vec_c16_scaled", {-32768, -32768}, {-32768, -32768}, 31, {0, 1}},
    {"vek_mul_vec_c16_scaled", {-32768, -32768}, {-32768, -32768}, 32, {0, 0}},
    {"vek_mul_vec_c16_scaled", {3, 4}, {0, 1}, 0, {-4, 3}},
    {"vek_mul_vec_c16_scaled", {1, 0}, {0, 1}, -15, {0, 32767}},
    {"vek_mul_vec_c16_scaled", {-32768, -32768}, {32767, -32768}, 0, {-32768, 32767}},
    {"vek_mul_vec_32_scaled", {kMax32}, {kMax32}, 0, {kMax32}},
    {"vek_mul_vec_32_scaled", {kMax32}, {kMax32}, 31, {2147483646}},
    {"vek_mul_vec_32_scaled", {kMin32}, {kMin32}, 32, {1073741824}},
    {"vek_mul_vec_32_scaled", {kMin32}, {kMin32}, 62, {1}},
    {"vek_mul_vec_32_scaled", {kMin32}, {kMin32}, 63, {0}},
    {"vek_mul_vec_c32_scaled", {kMin32, kMin32}, {kMin32, kMin32}, 0, {0, kMax32}},
    {"vek_mul_vec_c32_scaled", {kMin32, kMin32}, {kMin32, kMin32}, 32, {0, kMax32}},
    {"vek_mul_vec_c32_scaled", {kMin32, kMin32}, {kMin32, kMin32}, 33, {0, 1073741824}},
    {"vek_mul_vec_c32_scaled", {kMin32, kMin32}, {kMin32, kMin32}, 63, {0, 1}},
    {"vek_mul_vec_c32_scaled", {kMin32, kMin32}, {kMin32, kMin32}, 64, {0, 0}},
    {"vek_mul_const_32_scaled", {kMin32}, {kMin32}, 0, {kMax32}},
    {"vek_mul_const_32_scaled", {kMin32}, {kMin32}, 31, {kMax32}},
    {"vek_mul_const_32_scaled", {kMin32}, {kMin32}, 32, {1073741824}},
    {"vek_mul_const_32_scaled", {kMin32}, {kMin32}, 62, {1}},
    {"vek_mul_const_32_scaled", {kMin32}, {kMin32}, 63, {0}},
    {"vek_mul_vec_8_scaled", {255, 255}, {255, 255}, 0, {255, 255}},
    {"vek_mul_vec_8_scaled", {255}, {255}, 1, {255}},
    {"vek_mul_vec_8_scaled", {255}, {255}, 8, {254}},
    {"vek_mul_vec_8_scaled", {255}, {255}, 16, {1}},
    {"vek_mul_vec_8_scaled", {255}, {255}, 17, {0}},
    {"vek_mul_vec_8_scaled", {3, 1, 1}, {5, 3, 5}, 2, {4, 1, 1}},
    {"vek_mul_vec_8_scaled", {1, 1}, {3, 5}, 1, {2, 2}},
    {"vek_mul_vec_8_scaled", {200, 100}, {1, 1}, -1, {255, 200}},
    {"vek_mul_const_8_scaled", {0, 1, 200}, {3}, -8, {0, 255, 255}},
    {"vek_mul_const_8_scaled", {1, 2}, {3}, -7, {255, 255}},
    {"vek_mul_const_8_scaled", {1}, {1}, -7, {128}},
    {"vek_mul_const_16_scaled", {1, -1}, {3}, 1, {2, -2}},
    {"vek_mul_const_c16_inplace_scaled", {-32768, -32768}, {0, -32768}, 0, {-32768, 32767}},
    {"vek_mul_const_c16_scaled", {-32768, -32768}, {-32768, -32768}, 0, {0, 32767}},
    {"vek_mul_const_c16_scaled", {-32768, -32768}, {-32768, -32768}, 1, {0, 32767}},
    {"vek_mul_const_c16_scaled", {-32768, -32768}, {-32768, -32768}, 31, {0, 1}},
    {"vek_mul_const_c16_scaled", {-32768, -32768}, {-32768, -32768}, 32, {0, 0}},
    // Division: the dividend is x, the divisor y (for the reverse division the constant is divided by x).
    {"vek_div_vec_16_scaled", {7, -7, 1, 1, 32767, -32768}, {2, 2, 3, 3, -1, -1}, 0, {4, -4, 0, 0, -32767, 32767}},
    {"vek_div_vec_16_scaled", {7, 3, -3}, {1, 1, 1}, 1, {4, 2, -2}},
    {"vek_div_vec_16_scaled", {100, 32767, 16384, 16383, -16384}, {3, 1, 1, 1, 1}, -1, {67, 32767, 32767, 32766, -32768}},
    {"vek_div_vec_16_scaled", {5, -5, 1, -1}, {2, 2, 2, 2}, 0, {3, -3, 1, -1}, "gsw"},
    {"vek_div_vec_16_scaled", {5, -5, 1, -1}, {2, 2, 2, 2}, 0, {2, -2, 0, 0}, "m"},
    {"vek_div_vec_16_scaled", {5, -5, 0, 9}, {0, 0, 0, 4}, 0, {32767, -32768, 0, 2}, "gmsw", VEK_WARN_DIV_BY_ZERO},
    {"vek_div_vec_16_scaled", {1, -1, 0}, {0, 0, 0}, -20, {32767, -32768, 0}, "gmsw", VEK_WARN_DIV_BY_ZERO},
    {"vek_div_vec_8_scaled", {255, 0, 7}, {0, 0, 0}, 0, {255, 0, 255}, "gmsw", VEK_WARN_DIV_BY_ZERO},
    {"vek_div_vec_8_scaled", {5, 1}, {2, 2}, 0, {3, 1}, "gsw"},
    {"vek_div_vec_8_scaled", {5, 1}, {2, 2}, 0, {2, 0}, "m"},
    {"vek_div_vec_8_scaled", {200, 255}, {1, 1}, -1, {255, 255}},
    {"vek_div_const_8_scaled", {255, 7, 255}, {2}, 0, {128, 4, 128}},
    {"vek_div_const_8_scaled", {127, 128, 1}, {1}, -1, {254, 255, 2}},
    {"vek_div_const_c16_scaled", {4, 6, -32768, 32767, 2, 2}, {0, 1}, 0, {6, -4, 32767, 32767, 2, -2}},
    {"vek_div_const_c16_scaled", {2, 2}, {2, 0}, 0, {1, 1}},
    {"vek_div_vec_c16_scaled", {3, 4, 32767, 32767, 4, 2, 1, 0}, {3, 4, -32768, -32768, 1, 1, 0, 1}, 0, {1, 0, -1, 0, 3, -1, 0, -1}},
    {"vek_div_vec_c16_scaled", {32767, 0}, {1, 0}, -1, {32767, 0}},
    {"vek_div_vec_c16_scaled", {5, 7, 3, 4}, {0, 0, 3, 4}, 0, {0, 0, 1, 0}, "gmsw", VEK_WARN_DIV_BY_ZERO},
    {"vek_div_vec_c16_scaled", {7, 0}, {7, 7}, 0, {1, -1}, "gsw"},
    {"vek_div_vec_c16_scaled", {41, 0}, {1, 9}, 0, {1, -5}, "gsw"},
    {"vek_divrev_const_16u", {3, 1, 2}, {1000}, 0, {333, 1000, 500}},
    {"vek_divrev_const_16u", {1, 3}, {65535}, 0, {65535, 21845}},
    {"vek_divrev_const_16u", {0, 2}, {7}, 0, {65535, 4}, "gmsw", VEK_WARN_DIV_BY_ZERO},
    {"vek_divrev_const_16u", {2, 3}, {1}, 0, {1, 0}, "gsw"},
    {"vek_divrev_const_16u", {2, 3, 3}, {2}, 0, {1, 1, 1}, "gsw"},
    {"vek_divrev_const_16u", {2}, {1}, 0, {0}, "m"},
};

const SlotEntry& slot_named(const std::string& name) {
    for (const auto& e : family())
        if (e.info.name == name) return e;
    throw std::runtime_error("no slot " + name);
}

TEST(VekArithExamples, EveryRowInItsColumns) {
    for (const Row& row : kRows) {
        const SlotEntry& e = slot_named(row.slot);
        const SlotInfo& s = e.info;
        // Repeat add, subtract and multiply rows to run the lane walks too; division rows stay below the block
        // length, where every column's element kernel decides.
        const size_t reps = is_division(s) ? 1 : 17;
        std::vector<int64_t> x, y, want;
        for (size_t r = 0; r < reps; ++r) {
            x.insert(x.end(), row.x.begin(), row.x.end());
            want.insert(want.end(), row.want.begin(), row.want.end());
            if (!s.isConst) y.insert(y.end(), row.y.begin(), row.y.end());
        }
        const int32_t n = static_cast<int32_t>(x.size() / s.halves);
        for (int col : vektest::kColumns) {
            if (!std::strchr(row.columns, vektest::column_name(col)[0])) continue;
            vektest::GuardedBuffer bx(x.size() * s.in.bytes, 2), by(x.size() * s.in.bytes, 6),
                bd(x.size() * s.out.bytes, 10);
            for (size_t i = 0; i < x.size(); ++i) {
                put(bx.data(), i, s.in, x[i]);
                if (!s.isConst) put(by.data(), i, s.in, y[i]);
            }
            Call c{bx.data(), s.isConst ? nullptr : by.data(), s.inplace ? nullptr : bd.data(), row.y[0],
                   row.y.size() > 1 ? row.y[1] : 0, n, row.sf};
            ASSERT_EQ(e.invoke(col, c), row.status) << row.slot << " " << vektest::column_name(col) << " sf " << row.sf;
            const uint8_t* out = s.inplace ? bx.data() : bd.data();
            for (size_t i = 0; i < want.size(); ++i)
                ASSERT_EQ(get(out, i, s.out), want[i])
                    << row.slot << " " << vektest::column_name(col) << " sf " << row.sf << " half " << i;
        }
    }
}

}  // namespace
