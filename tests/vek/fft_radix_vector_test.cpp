// The vector radix-4 kernels of the ss and wd columns called directly: all sixteen against a long-double DFT
// over their whole ranges, with the bit-reversed load (source equal to destination, destinations only
// 8-byte aligned) and in place (output forms 1 and 0), the quad-block layout byte for byte, round trips.
#include <cstring>

#include "fft_reference.h"
#include "layer1/vek/fft/engine/fft_engine.h"
#include "vek_harness.h"

namespace {

using ffttest::CL;
using vektest::GuardedBuffer;

using Reorder = void (*)(const float*, float*, std::int32_t, const float*, const std::int32_t*, float*);
using InPlace = void (*)(float*, std::int32_t, const float*, float*, std::int32_t);
using SplitReorder = void (*)(const float*, const float*, float*, float*, std::int32_t, const float*,
                              const std::int32_t*, float*);
using SplitInPlace = void (*)(float*, float*, std::int32_t, const float*, float*);

struct Column {
    const char* name;
    int maxOrder;
    Reorder reorder[2];
    InPlace inPlace[2];
    SplitReorder splitReorder[2];
    SplitInPlace splitInPlace[2];
    std::int32_t* (*index)(std::int32_t);
};
const Column kColumns[] = {
    {"wd", 14,
     {vek_k_fft_radix4_fwd_complex_reorder_wd, vek_k_fft_radix4_inv_complex_reorder_wd},
     {vek_k_fft_radix4_fwd_complex_wd, vek_k_fft_radix4_inv_complex_wd},
     {vek_k_fft_radix4_fwd_split_reorder_wd, vek_k_fft_radix4_inv_split_reorder_wd},
     {vek_k_fft_radix4_fwd_split_wd, vek_k_fft_radix4_inv_split_wd},
     vek_bitrev_index},
    {"ss", 10,
     {vek_k_fft_radix4_fwd_complex_reorder_ss, vek_k_fft_radix4_inv_complex_reorder_ss},
     {vek_k_fft_radix4_fwd_complex_ss, vek_k_fft_radix4_inv_complex_ss},
     {vek_k_fft_radix4_fwd_split_reorder_ss, vek_k_fft_radix4_inv_split_reorder_ss},
     {vek_k_fft_radix4_fwd_split_ss, vek_k_fft_radix4_inv_split_ss},
     vek_k_fft_bitrev_index_ss},
};

// The tables of an order, owned for the test.
struct Tables {
    float* twiddle;
    std::int32_t* index;
    Tables(const Column& c, int order)
    {
        float* sine = vek_k_fft_sin_table_wd(static_cast<std::uint32_t>(order));
        twiddle = vek_k_fft_twiddle_table_wd(order, sine, static_cast<std::uint32_t>(order));
        vek_free(sine);
        index = c.index(order);
    }
    ~Tables()
    {
        vek_free(twiddle);
        vek_free(index);
    }
};

std::int64_t rev(std::int64_t i, int bits)
{
    std::int64_t r = 0;
    for (int b = 0; b < bits; ++b) {
        r = (r << 1) | ((i >> b) & 1);
    }
    return r;
}

enum Mode { kReorderOut, kReorderSame, kInPlace, kSplitReorder, kSplitInPlace };

// One kernel on x; offset: bytes past a 64-byte boundary of the data arrays.
std::vector<CL> run(const Column& c, Mode mode, bool inv, int order, const std::vector<CL>& x, std::size_t offset)
{
    const std::int64_t n = std::int64_t{1} << order;
    Tables t(c, order);
    GuardedBuffer a(static_cast<std::size_t>(8 * n), offset), b(static_cast<std::size_t>(8 * n), offset);
    GuardedBuffer work(static_cast<std::size_t>(8 * n), 0);
    float* pa = a.as<float>();
    float* pb = b.as<float>();
    const auto n32 = static_cast<std::int32_t>(n);
    const bool bitReversedInput = mode == kInPlace || mode == kSplitInPlace;
    const bool split = mode == kSplitReorder || mode == kSplitInPlace;
    for (std::int64_t i = 0; i < n; ++i) {
        const CL v = x[static_cast<std::size_t>(bitReversedInput ? rev(i, order) : i)];
        if (split) {
            pa[i] = static_cast<float>(v.real());
            pb[i] = static_cast<float>(v.imag());
        } else {
            pa[2 * i] = static_cast<float>(v.real());
            pa[2 * i + 1] = static_cast<float>(v.imag());
        }
    }
    std::vector<float> re(static_cast<std::size_t>(n)), im(static_cast<std::size_t>(n));
    const float* out = pa;
    switch (mode) {
    case kReorderOut:
        c.reorder[inv](pa, pb, n32, t.twiddle, t.index, work.as<float>());
        out = pb;
        break;
    case kReorderSame:
        c.reorder[inv](pa, pa, n32, t.twiddle, t.index, work.as<float>());
        break;
    case kInPlace:
        c.inPlace[inv](pa, n32, t.twiddle, work.as<float>(), 1);
        break;
    case kSplitReorder:
        c.splitReorder[inv](pa, pb, re.data(), im.data(), n32, t.twiddle, t.index, work.as<float>());
        break;
    case kSplitInPlace:
        c.splitInPlace[inv](pa, pb, n32, t.twiddle, work.as<float>());
        std::memcpy(re.data(), pa, static_cast<std::size_t>(n) * 4);
        std::memcpy(im.data(), pb, static_cast<std::size_t>(n) * 4);
        break;
    }
    EXPECT_TRUE(a.intact() && b.intact() && work.intact());
    std::vector<CL> y(static_cast<std::size_t>(n));
    for (std::int64_t i = 0; i < n; ++i) {
        y[static_cast<std::size_t>(i)] = split ? CL(re[static_cast<std::size_t>(i)], im[static_cast<std::size_t>(i)])
                                               : CL(out[2 * i], out[2 * i + 1]);
    }
    return y;
}

TEST(FftRadixVector, EveryKernelMatchesTheLongDoubleDftOverItsRange)
{
    for (const Column& c : kColumns) {
        for (int order = 3; order <= c.maxOrder; ++order) {
            const std::vector<CL> x = ffttest::random_signal(std::size_t{1} << order, 40u + order, false);
            for (bool inv : {false, true}) {
                const std::vector<CL> want = ffttest::reference_dft(x, inv ? 1 : -1);
                for (Mode m : {kReorderOut, kReorderSame, kInPlace, kSplitReorder, kSplitInPlace}) {
                    // Destinations at a 16-byte boundary (the destination is the work area) and 8 bytes past one.
                    for (std::size_t offset : {std::size_t{0}, std::size_t{8}}) {
                        EXPECT_LE(ffttest::relative_rms(run(c, m, inv, order, x, offset), want), 1e-6)
                            << c.name << " mode " << m << " order " << order << (inv ? " inverse" : " forward")
                            << " offset " << offset;
                    }
                }
            }
        }
    }
}

TEST(FftRadixVector, AlignmentAndPlacementDoNotChangeTheValues)
{
    for (const Column& c : kColumns) {
        for (int order : {3, 4, 7, 10}) {
            const std::vector<CL> x = ffttest::random_signal(std::size_t{1} << order, 3u, false);
            const std::vector<CL> ref = run(c, kReorderOut, false, order, x, 0);
            for (Mode m : {kReorderSame, kInPlace, kSplitReorder, kSplitInPlace}) {
                for (std::size_t offset : {std::size_t{0}, std::size_t{4}, std::size_t{8}, std::size_t{12}}) {
                    EXPECT_EQ(run(c, m, false, order, x, offset), ref) << c.name << " mode " << m << " order " << order
                                                                       << " offset " << offset;
                }
            }
        }
    }
}

// Output form 0: the quad-block layout (four real parts, then four imaginary parts) stays in the data, the
// same bytes whether the kernel worked in the data or in the work buffer.
TEST(FftRadixVector, OutputFormZeroLeavesTheQuadBlockLayout)
{
    for (const Column& c : kColumns) {
        for (int order : {3, 4, 5, 8}) {
            const std::int64_t n = std::int64_t{1} << order;
            const std::vector<CL> want = run(c, kInPlace, true, order, ffttest::random_signal(std::size_t(n), 8u, false), 0);
            Tables t(c, order);
            for (std::size_t offset : {std::size_t{0}, std::size_t{8}, std::size_t{4}}) {
                GuardedBuffer data(static_cast<std::size_t>(8 * n), offset), work(static_cast<std::size_t>(8 * n), 0);
                const std::vector<CL> x = ffttest::random_signal(std::size_t(n), 8u, false);
                float* d = data.as<float>();
                for (std::int64_t i = 0; i < n; ++i) {
                    d[2 * i] = static_cast<float>(x[static_cast<std::size_t>(rev(i, order))].real());
                    d[2 * i + 1] = static_cast<float>(x[static_cast<std::size_t>(rev(i, order))].imag());
                }
                c.inPlace[1](d, static_cast<std::int32_t>(n), t.twiddle, work.as<float>(), 0);
                for (std::int64_t k = 0; k < n; ++k) {
                    ASSERT_EQ(d[8 * (k / 4) + k % 4], static_cast<float>(want[static_cast<std::size_t>(k)].real()))
                        << c.name << " order " << order << " offset " << offset << " bin " << k;
                    ASSERT_EQ(d[8 * (k / 4) + 4 + k % 4], static_cast<float>(want[static_cast<std::size_t>(k)].imag()));
                }
                EXPECT_TRUE(data.intact());
            }
        }
    }
}

TEST(FftRadixVector, ForwardThenInverseGivesNTimesTheInputAndImpulsesGiveOnes)
{
    for (const Column& c : kColumns) {
        for (int order = 3; order <= c.maxOrder; order += 3) {
            const std::int64_t n = std::int64_t{1} << order;
            const std::vector<CL> x = ffttest::random_signal(std::size_t(n), 12u, false);
            const std::vector<CL> back = run(c, kReorderOut, true, order, run(c, kReorderOut, false, order, x, 0), 0);
            EXPECT_LE(ffttest::relative_rms(back, x, static_cast<long double>(n)), 1e-6) << c.name << " order " << order;
            std::vector<CL> impulse(static_cast<std::size_t>(n));
            impulse[0] = 1;
            for (const CL& v : run(c, kSplitInPlace, false, order, impulse, 0)) {
                ASSERT_EQ(v, CL(1)) << c.name << " order " << order;
            }
        }
    }
}

}  // namespace
