// Tables of the float FFT (sine, twiddles, bit reversal, recombination) against the values they are defined
// by, and the float FFT records: work sizes, argument checks, flags and clean failure under memory exhaustion.
#include <cmath>

#include "layer1/vek/core/vek_memory.h"
#include "layer1/vek/fft/fft32f.h"
#include "vek_harness.h"

namespace {

std::uint32_t rev(std::uint32_t v, int bits)
{
    std::uint32_t r = 0;
    for (int b = 0; b < bits; ++b) {
        r = (r << 1) | ((v >> b) & 1u);
    }
    return r;
}

TEST(Fft32fTables, SineTableOfSmallOrdersAndEveryEntryWithinOneUlp)
{
    const std::vector<std::vector<float>> small = {{0.0f}, {0.0f}, {0.0f, 1.0f}, {0.0f, 0.70710677f, 1.0f}};
    for (std::uint32_t t = 0; t < small.size(); ++t) {
        float* s = vek_k_fft_sin_table_gen(t);
        for (std::size_t i = 0; i < small[t].size(); ++i) {
            EXPECT_EQ(s[i], small[t][i]) << "order " << t << " entry " << i;
        }
        vek_free(s);
    }
    for (std::uint32_t t : {4u, 9u, 16u}) {
        float* s = vek_k_fft_sin_table_wd(t);
        const std::int64_t n = std::int64_t{1} << t;
        for (std::int64_t i = 0; i <= n / 4; ++i) {
            const long double exact = sinl(2.0L * 3.14159265358979323846264338327950288L * i / n);
            EXPECT_LE(std::fabs(s[i] - exact), std::nextafter(1.0f, 2.0f) - 1.0f) << t << " " << i;
        }
        EXPECT_EQ(s[n / 4], 1.0f);
        vek_free(s);
    }
}

TEST(Fft32fTables, BitReversalListsAndIndexTables)
{
    const std::vector<std::pair<int, std::vector<std::int32_t>>> pairs = {
        {2, {0, 0}}, {3, {0, 4, 0}}, {4, {4, 8, 0, 12, 0}}};
    for (const auto& [order, want] : pairs) {
        std::int32_t* t = vek_fft_bitrev_table(order);
        EXPECT_EQ(std::vector<std::int32_t>(t, t + want.size()), want) << order;
        vek_free(t);
    }
    std::int32_t* idx = vek_bitrev_index(4);
    EXPECT_EQ(std::vector<std::int32_t>(idx, idx + 5), (std::vector<std::int32_t>{0, 4, 2, 6, 0}));
    vek_free(idx);
}

// dst[rev(n)] = src[n] for 4- and 8-byte elements, in place and copying, at every misalignment.
TEST(Fft32fTables, PermutationsPutDataIntoBitReversedOrder)
{
    for (int order = 0; order <= 14; ++order) {
        const std::int32_t n = 1 << order;
        std::int32_t* pairs = vek_k_fft_bitrev_pairs(order);
        for (std::size_t offset : {0u, 4u, 8u, 12u}) {
            vektest::GuardedBuffer a(static_cast<std::size_t>(n) * 8, offset);
            vektest::GuardedBuffer b(static_cast<std::size_t>(n) * 8, offset);
            auto* s = a.as<std::uint64_t>();
            auto* d = b.as<std::uint64_t>();
            for (std::int32_t i = 0; i < n; ++i) {
                std::uint64_t v = 0x1000000000ull + i;
                std::memcpy(&s[i], &v, 8);
            }
            vek_permute_copy(s, d, n, pairs);
            vek_k_fft_permute_inplace_wd(s, n, pairs);
            auto* s4 = b.as<std::uint32_t>();
            for (std::int32_t i = 0; i < n; ++i) {
                std::uint64_t x, y;
                std::memcpy(&x, &s[rev(static_cast<std::uint32_t>(i), order)], 8);
                std::memcpy(&y, &d[rev(static_cast<std::uint32_t>(i), order)], 8);
                ASSERT_EQ(x, 0x1000000000ull + i) << order;
                ASSERT_EQ(y, 0x1000000000ull + i) << order;
            }
            for (std::int32_t i = 0; i < n; ++i) {
                std::uint32_t v = static_cast<std::uint32_t>(i);
                std::memcpy(&s4[i], &v, 4);
            }
            vek_k_fft_permute_split_inplace_ss(s4, n, pairs);
            for (std::int32_t i = 0; i < n; ++i) {
                std::uint32_t x;
                std::memcpy(&x, &s4[rev(static_cast<std::uint32_t>(i), order)], 4);
                ASSERT_EQ(x, static_cast<std::uint32_t>(i)) << order;
            }
            EXPECT_TRUE(a.intact() && b.intact());
        }
        vek_free(pairs);
    }
}

TEST(Fft32fTables, TwiddleTablesHoldTheFoldedValuesWhateverTheSineTableStride)
{
    float* s4 = vek_k_fft_sin_table_gen(4);
    float* s6 = vek_k_fft_sin_table_gen(6);
    float* e = vek_k_fft_twiddle_table(4, s4, 4);
    const float first[6] = {1.0f, -0.0f, 1.0f, -0.0f, 1.0f, -0.0f};
    const float last[6] = {0.0f, -1.0f, -1.0f, -0.0f, -0.0f, 1.0f};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(std::signbit(e[i]), std::signbit(first[i]));
        EXPECT_EQ(e[i], first[i]);
        EXPECT_EQ(e[24 + i], last[i]);
        EXPECT_EQ(std::signbit(e[24 + i]), std::signbit(last[i]));
    }
    float* e2 = vek_k_fft_twiddle_table(4, s6, 6);
    EXPECT_EQ(std::memcmp(e, e2, 5 * 24), 0);
    // Stage blocks: order 6 holds the 16-point stage (24 floats) then the 64-point stage.
    float* b6 = vek_k_fft_twiddle_table_wd(6, s6, 6);
    EXPECT_EQ(vek_k_fft_stage_block_offset(6, 6), 24);
    EXPECT_FLOAT_EQ(b6[24 + 1], std::cos(2 * M_PI / 64));   // cos of w^1, lane 1
    EXPECT_FLOAT_EQ(b6[24 + 5], -std::sin(2 * M_PI / 64));  // -sin of w^1, lane 1
    EXPECT_FLOAT_EQ(b6[24 + 8 + 3], std::cos(2 * M_PI * 6 / 64));
    for (float* p : {s4, s6, e, e2, b6}) {
        vek_free(p);
    }
}

struct SizeCase {
    int column;
    int kind;  // 0 complex, 1 split, 2 real
    std::int32_t order;
    std::int32_t bytes;
};

TEST(Fft32fSpec, WorkBytesOfEveryRoute)
{
    const SizeCase cases[] = {
        {VEK_CPU_WD, 0, 13, 65552}, {VEK_CPU_WD, 0, 14, 131088}, {VEK_CPU_SS, 0, 10, 8208},
        {VEK_CPU_MM, 0, 10, 0},     {VEK_CPU_GEN, 0, 4, 0},      {VEK_CPU_WD, 2, 14, 65552},
        {VEK_CPU_WD, 0, 15, 32 * 32 + 131088}, {VEK_CPU_SS, 0, 11, 8208}, {VEK_CPU_SS, 1, 12, 8208},
        {VEK_CPU_SS, 0, 19, 32 * 1024 + 8208}, {VEK_CPU_MM, 0, 11, 16}, {VEK_CPU_GEN, 0, 12, 16},
        {VEK_CPU_GEN, 0, 13, 32 * 32 + 16}, {VEK_CPU_MM, 1, 19, 32 * 1024 + 16}, {VEK_CPU_GEN, 2, 3, 0},
        {VEK_CPU_SS, 2, 11, 8 * 1024 + 16},
    };
    for (const auto& c : cases) {
        const Fft32fOps& ops = vek_fft32f_ops(c.column);
        FftSpec32f* spec = nullptr;
        ASSERT_EQ(ops.init[c.kind](&spec, c.order, VEK_FFT_NORM_FWD, 0), VEK_OK);
        std::int32_t bytes = -1;
        EXPECT_EQ(ops.size[c.kind](spec, &bytes), VEK_OK);
        EXPECT_EQ(bytes, c.bytes) << vektest::column_name(c.column) << " kind " << c.kind << " order " << c.order;
        EXPECT_EQ(ops.free[c.kind](spec), VEK_OK);
    }
}

TEST(Fft32fSpec, ArgumentChecksInTheirOrder)
{
    const std::int64_t before = vek_pool_outstanding();
    for (int col : vektest::kColumns) {
        const Fft32fOps& ops = vek_fft32f_ops(col);
        FftSpec32f* spec = nullptr;
        EXPECT_EQ(ops.init[0](nullptr, 31, 3, 0), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(ops.init[0](&spec, 31, 3, 0), VEK_ERR_FFT_ORDER);
        EXPECT_EQ(ops.init[1](&spec, -1, 1, 0), VEK_ERR_FFT_ORDER);
        EXPECT_EQ(ops.init[2](&spec, 5, 3, 0), VEK_ERR_FFT_FLAG);
        EXPECT_EQ(spec, nullptr);
        ASSERT_EQ(ops.init[1](&spec, 5, VEK_FFT_NORM_NONE, 0), VEK_OK);
        EXPECT_EQ(spec->factor, 0.0f);
        EXPECT_EQ(spec->fwdScale + spec->invScale, 0);
        std::int32_t bytes = 77;
        EXPECT_EQ(ops.size[0](spec, &bytes), VEK_ERR_CONTEXT_MISMATCH);
        EXPECT_EQ(bytes, 77);
        EXPECT_EQ(ops.size[1](spec, nullptr), VEK_ERR_NULL_POINTER);
        float data[64] = {};
        EXPECT_EQ(ops.complex[0](nullptr, data, spec, nullptr), VEK_ERR_CONTEXT_MISMATCH);
        EXPECT_EQ(ops.complex[0](data, data, nullptr, nullptr), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(ops.split[1](data, nullptr, data, data, spec, nullptr), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(ops.free[0](spec), VEK_ERR_CONTEXT_MISMATCH);
        EXPECT_EQ(ops.free[1](spec), VEK_OK);
        EXPECT_EQ(ops.free[1](nullptr), VEK_ERR_NULL_POINTER);
        ASSERT_EQ(ops.init[0](&spec, 30, VEK_FFT_NORM_SQRT, 0), VEK_ERR_NO_MEMORY);  // sizes beyond 32 bits
        EXPECT_EQ(ops.init[2](&spec, 29, VEK_FFT_NORM_SQRT, 0), VEK_ERR_NO_MEMORY);
    }
    EXPECT_EQ(vek_pool_outstanding(), before);
}

// Every allocation of a creation and of a transform without a caller's buffer fails once in turn: the call
// reports -9 and leaves nothing behind.
TEST(Fft32fSpec, EveryAllocationFailureIsCleanAndReported)
{
    const std::int32_t orders[] = {4, 11, 13, 16};
    for (int col : vektest::kColumns) {
        const Fft32fOps& ops = vek_fft32f_ops(col);
        for (std::int32_t order : orders) {
            for (int kind = 0; kind < 3; ++kind) {
                const std::int64_t before = vek_pool_outstanding();
                for (int k = 1;; ++k) {
                    FftSpec32f* spec = nullptr;
                    vek_pool_fail_at(k);
                    const VekStatus st = ops.init[kind](&spec, order, VEK_FFT_NORM_INV, 0);
                    vek_pool_fail_at(0);
                    if (st == VEK_OK) {
                        std::vector<float> data(static_cast<std::size_t>(2 << order) + 2, 1.0f);
                        vek_pool_fail_at(1);
                        const VekStatus t = kind == 2 ? ops.realFwd[1](data.data(), data.data(), spec, nullptr)
                                                      : ops.complex[0](data.data(), data.data(), spec, nullptr);
                        vek_pool_fail_at(0);
                        if (kind != 1) {
                            EXPECT_EQ(t, spec->workBytes > 0 ? VEK_ERR_NO_MEMORY : VEK_OK);
                        }
                        ops.free[kind](spec);
                        break;
                    }
                    EXPECT_EQ(st, VEK_ERR_NO_MEMORY);
                    EXPECT_EQ(spec, nullptr);
                    EXPECT_EQ(vek_pool_outstanding(), before) << vektest::column_name(col) << " " << order;
                }
                EXPECT_EQ(vek_pool_outstanding(), before);
            }
        }
    }
}

TEST(Fft32fSpec, PackedSpectrumMultiply)
{
    for (int col : vektest::kColumns) {
        const Fft32fOps& ops = vek_fft32f_ops(col);
        const float a[6] = {2, 1, 2, 3, -1, 5};
        float b[6] = {3, 4, 5, 1, 1, 7};
        EXPECT_EQ(ops.mulPacked(a, b, 6), VEK_OK);
        // (1 + 2i) * conj(4 + 5i) = 14 + 3i; (3 - i) * conj(1 + i) = 2 - 4i; ends 6 and 35.
        const float want[6] = {6, 14, 3, 2, -4, 35};
        for (int i = 0; i < 6; ++i) {
            EXPECT_EQ(b[i], want[i]) << i;
        }
        float c[3] = {2, 1, 1};
        EXPECT_EQ(ops.mulPacked(a, c, 3), VEK_OK);  // odd: R0 and one pair
        EXPECT_EQ(c[0], 4.0f);
        EXPECT_EQ(ops.mulPacked(a, c, 0), VEK_ERR_SIZE);
        EXPECT_EQ(ops.mulPacked(nullptr, c, 0), VEK_ERR_NULL_POINTER);
    }
}

}  // namespace
