// The 1- to 8-point kernels through their twelve tables: the wd table slot by slot as listed, the DFT
// tables' 3- and 4-point slots, every slot against a long-double DFT, in place, the SSE forms bit for bit
// alike, and the exact cases (impulses, the 1-point copy).
#include <cmath>
#include <cstring>

#include "fft_reference.h"
#include "layer1/vek/fft/small_kernels.h"
#include "vek_harness.h"

namespace {

using ffttest::CL;

TEST(SmallKernels, WdFftTableHoldsTheListedKernels)
{
    const auto& t = vek_fft32f_small_kernels_wd;
    const SmallKernelTable<float> want = {
        {{vek_k_small_c32f_n1_scaled_ss, vek_k_small_c32f_n2_scaled_ss, vek_k_small_c32f_fwd_n4_scaled_wd,
          vek_k_small_c32f_fwd_n8_scaled_wd},
         {vek_k_small_c32f_n1, vek_k_small_c32f_n2_wd, vek_k_small_c32f_fwd_n4_wd, vek_k_small_c32f_fwd_n8_wd}},
        {{vek_k_small_c32f_n1_scaled_ss, vek_k_small_c32f_n2_scaled_ss, vek_k_small_c32f_inv_n4_scaled_wd,
          vek_k_small_c32f_inv_n8_scaled_wd},
         {vek_k_small_c32f_n1, vek_k_small_c32f_n2_wd, vek_k_small_c32f_inv_n4_wd, vek_k_small_c32f_inv_n8_wd}},
        {{vek_k_small_s32f_n1_scaled_wd, vek_k_small_s32f_n2_scaled_wd, vek_k_small_s32f_fwd_n4_scaled_wd,
          vek_k_small_s32f_fwd_n8_scaled_wd},
         {vek_k_small_s32f_n1, vek_k_small_s32f_n2_wd, vek_k_small_s32f_fwd_n4_wd, vek_k_small_s32f_fwd_n8_wd}},
        {{vek_k_small_s32f_n1_scaled_wd, vek_k_small_s32f_n2_scaled_wd, vek_k_small_s32f_inv_n4_scaled_wd,
          vek_k_small_s32f_inv_n8_scaled_wd},
         {vek_k_small_s32f_n1, vek_k_small_s32f_n2_wd, vek_k_small_s32f_inv_n4_wd, vek_k_small_s32f_inv_n8_wd}},
        {{vek_k_small_r32f_n1_scaled_wd, vek_k_small_r32f_n2_scaled_wd, vek_k_small_r32f_fwd_n4_scaled_wd,
          vek_k_small_r32f_fwd_n8_scaled_wd},
         {vek_k_small_r32f_n1, vek_k_small_r32f_n2_wd, vek_k_small_r32f_fwd_n4_wd, vek_k_small_r32f_fwd_n8_wd}},
        {{vek_k_small_r32f_n1_scaled_wd, vek_k_small_r32f_n2_scaled_wd, vek_k_small_r32f_inv_n4_scaled_wd,
          vek_k_small_r32f_inv_n8_scaled_wd},
         {vek_k_small_r32f_n1, vek_k_small_r32f_n2_wd, vek_k_small_r32f_inv_n4_wd, vek_k_small_r32f_inv_n8_wd}},
    };
    EXPECT_EQ(std::memcmp(&t, &want, sizeof want), 0);
}

TEST(SmallKernels, NamedSlotsOfTheOtherTables)
{
    // DFT tables: index 2 holds 3 points, index 3 holds 4 points.
    EXPECT_EQ(vek_dft32f_small_kernels_wd.complexFwd.scaled[2], &vek_k_small_c32f_fwd_n3_scaled_wd);
    EXPECT_EQ(vek_dft32f_small_kernels_wd.complexFwd.plain[3], &vek_k_small_c32f_fwd_n4_wd);
    EXPECT_EQ(vek_dft32f_small_kernels_wd.realInv.plain[2], &vek_k_small_r32f_inv_n3_wd);
    EXPECT_EQ(vek_dft32f_small_kernels_gen.splitInv.scaled[3], &vek_k_small_s32f_inv_n4_scaled_gen);
    EXPECT_EQ(vek_fft32f_small_kernels_wd.complexFwd.plain[3], &vek_k_small_c32f_fwd_n8_wd);
    // The ss exceptions.
    for (const auto* t : {&vek_fft32f_small_kernels_ss, &vek_dft32f_small_kernels_ss}) {
        EXPECT_EQ(t->complexFwd.plain[1], &vek_k_small_c32f_n2_wd);
        EXPECT_EQ(t->complexInv.plain[1], &vek_k_small_c32f_n2_wd);
        EXPECT_EQ(t->realFwd.scaled[0], &vek_k_small_r32f_n1_scaled_wd);
        EXPECT_EQ(t->realInv.scaled[0], &vek_k_small_r32f_n1_scaled_wd);
        EXPECT_EQ(t->complexFwd.scaled[1], &vek_k_small_c32f_n2_scaled_ss);
        EXPECT_EQ(t->splitFwd.scaled[1], &vek_k_small_s32f_n2_scaled_ss);
    }
    for (const auto* t : {&vek_fft32f_small_kernels_mm, &vek_fft32f_small_kernels_gen}) {
        EXPECT_EQ(t->complexFwd.scaled[3], &vek_k_small_c32f_fwd_n8_scaled_gen);
        EXPECT_EQ(t->complexFwd.plain[0], &vek_k_small_c32f_n1);
    }
    EXPECT_EQ(vek_fft64f_small_kernels_ss.complexFwd.scaled[3], &vek_k_small_c64f_fwd_n8_scaled_gen);
    EXPECT_EQ(vek_fft64f_small_kernels_wd.realInv.plain[0], &vek_k_small_r64f_n1_wd);
    EXPECT_EQ(vek_fft64f_small_kernels_mm.splitInv.plain[0], &vek_k_small_s64f_n1_gen);
}

enum Layout { kComplex, kSplit, kReal };

// One slot of a table run on a complex input z (real layouts read the real parts, or the packed spectrum in
// the real parts of z for the inverse). Returns the outputs as complex values (real layouts: real parts).
template <class E>
struct Slot {
    const SmallKernelTable<E>* table;
    Layout layout;
    bool inv;
    bool scaled;
    int index;
    int n;  // points

    // inPlace: 0 separate arrays, 1 both destinations on their sources, 2 (split) only the real one.
    std::vector<CL> run(const std::vector<CL>& z, E factor, int inPlace) const
    {
        std::vector<E> a(4 * 8 + 2, E(-9)), b(4 * 8 + 2, E(-9));
        std::vector<CL> out(static_cast<std::size_t>(n));
        if (layout == kComplex) {
            const auto& g = inv ? table->complexInv : table->complexFwd;
            for (int i = 0; i < n; ++i) {
                a[2 * i] = static_cast<E>(z[i].real());
                a[2 * i + 1] = static_cast<E>(z[i].imag());
            }
            E* dst = inPlace ? a.data() : b.data();
            scaled ? g.scaled[index](a.data(), dst, factor) : g.plain[index](a.data(), dst);
            for (int i = 0; i < n; ++i) {
                out[i] = CL(dst[2 * i], dst[2 * i + 1]);
            }
            EXPECT_EQ(dst[2 * n], E(-9)) << "write past the end";
        } else if (layout == kSplit) {
            const auto& g = inv ? table->splitInv : table->splitFwd;
            for (int i = 0; i < n; ++i) {
                a[i] = static_cast<E>(z[i].real());
                a[16 + i] = static_cast<E>(z[i].imag());
            }
            E* dr = inPlace ? a.data() : b.data();
            E* di = inPlace == 1 ? a.data() + 16 : b.data() + 16;
            scaled ? g.scaled[index](a.data(), a.data() + 16, dr, di, factor)
                   : g.plain[index](a.data(), a.data() + 16, dr, di);
            for (int i = 0; i < n; ++i) {
                out[i] = CL(dr[i], di[i]);
            }
            EXPECT_EQ(dr[n], E(-9));
            EXPECT_EQ(di[n], E(-9));
        } else {
            const auto& g = inv ? table->realInv : table->realFwd;
            for (int i = 0; i < n; ++i) {
                a[i] = static_cast<E>(z[i].real());
            }
            E* dst = inPlace ? a.data() : b.data();
            scaled ? g.scaled[index](a.data(), dst, factor) : g.plain[index](a.data(), dst);
            for (int i = 0; i < n; ++i) {
                out[i] = dst[i];
            }
            EXPECT_EQ(dst[n], E(-9));
        }
        return out;
    }
};

// The reference of a slot: complex DFT, or real forward packed (R0, R(N/2), R1, I1, ...; N = 3: R0, R1, I1),
// or the real inverse of a packed spectrum.
std::vector<CL> reference(Layout layout, bool inv, const std::vector<CL>& z, long double factor)
{
    const std::size_t n = z.size();
    std::vector<CL> out(n);
    if (layout != kReal) {
        out = ffttest::reference_dft(z, inv ? 1 : -1);
    } else if (!inv) {
        std::vector<CL> x(n);
        for (std::size_t i = 0; i < n; ++i) {
            x[i] = z[i].real();
        }
        const std::vector<CL> bins = ffttest::reference_dft(x, -1);
        out[0] = bins[0].real();
        std::size_t o = 1;
        if (n % 2 == 0 && n > 1) {
            out[o++] = bins[n / 2].real();
        }
        for (std::size_t k = 1; o < n; ++k) {
            out[o++] = bins[k].real();
            out[o++] = bins[k].imag();
        }
    } else {
        // Spectrum from the packed real parts; y = its inverse DFT.
        std::vector<CL> bins(n);
        bins[0] = z[0].real();
        std::size_t o = 1;
        if (n % 2 == 0 && n > 1) {
            bins[n / 2] = z[o++].real();
        }
        for (std::size_t k = 1; o < n; ++k) {
            bins[k] = CL(z[o].real(), z[o + 1].real());
            bins[n - k] = std::conj(bins[k]);
            o += 2;
        }
        const std::vector<CL> y = ffttest::reference_dft(bins, 1);
        for (std::size_t i = 0; i < n; ++i) {
            out[i] = y[i].real();
        }
    }
    for (auto& v : out) {
        v *= factor;
    }
    return out;
}

template <class E>
std::vector<Slot<E>> every_slot(const SmallKernelTable<E>* t, bool dft)
{
    std::vector<Slot<E>> slots;
    for (Layout l : {kComplex, kSplit, kReal}) {
        for (bool inv : {false, true}) {
            for (bool scaled : {false, true}) {
                for (int i = 0; i < 4; ++i) {
                    slots.push_back({t, l, inv, scaled, i, dft ? i + 1 : 1 << i});
                }
            }
        }
    }
    return slots;
}

struct Named32 {
    const char* name;
    const SmallKernelTable<float>* table;
    bool dft;
};
const Named32 kTables32[] = {
    {"fft wd", &vek_fft32f_small_kernels_wd, false},  {"fft ss", &vek_fft32f_small_kernels_ss, false},
    {"fft mm", &vek_fft32f_small_kernels_mm, false},  {"fft gen", &vek_fft32f_small_kernels_gen, false},
    {"dft wd", &vek_dft32f_small_kernels_wd, true},   {"dft ss", &vek_dft32f_small_kernels_ss, true},
    {"dft mm", &vek_dft32f_small_kernels_mm, true},   {"dft gen", &vek_dft32f_small_kernels_gen, true},
};

template <class E>
void check_against_reference(const char* name, const SmallKernelTable<E>* table, bool dft, double bound)
{
    for (const Slot<E>& s : every_slot(table, dft)) {
        const std::vector<CL> z = ffttest::random_signal(static_cast<std::size_t>(s.n), 31u + s.n, false);
        const E factor = s.scaled ? E(0.37) : E(1);
        const std::vector<CL> want = reference(s.layout, s.inv, z, static_cast<long double>(factor));
        const std::vector<CL> got = s.run(z, factor, 0);
        EXPECT_LE(ffttest::relative_rms(got, want), bound)
            << name << " layout " << s.layout << (s.inv ? " inverse" : " forward") << (s.scaled ? " scaled" : "")
            << " n " << s.n;
        for (int inPlace : {1, 2}) {
            if (inPlace == 2 && s.layout != kSplit) {
                continue;
            }
            const std::vector<CL> again = s.run(z, factor, inPlace);
            for (int i = 0; i < s.n; ++i) {
                ASSERT_EQ(again[i], got[i]) << name << " in place " << inPlace << " layout " << s.layout << " n " << s.n;
            }
        }
    }
}

TEST(SmallKernels, EverySlotMatchesTheLongDoubleTransformInAndOutOfPlace)
{
    for (const Named32& t : kTables32) {
        check_against_reference(t.name, t.table, t.dft, 3e-7);
    }
    check_against_reference("fft64 wd", &vek_fft64f_small_kernels_wd, false, 5e-16);
    check_against_reference("fft64 ss", &vek_fft64f_small_kernels_ss, false, 5e-16);
    check_against_reference("fft64 mm", &vek_fft64f_small_kernels_mm, false, 5e-16);
    check_against_reference("fft64 gen", &vek_fft64f_small_kernels_gen, false, 5e-16);
}

TEST(SmallKernels, SseFormsAreBitIdentical)
{
    for (bool dft : {false, true}) {
        const auto* wd = dft ? &vek_dft32f_small_kernels_wd : &vek_fft32f_small_kernels_wd;
        const auto* ss = dft ? &vek_dft32f_small_kernels_ss : &vek_fft32f_small_kernels_ss;
        const std::vector<Slot<float>> a = every_slot(wd, dft), b = every_slot(ss, dft);
        for (std::size_t i = 0; i < a.size(); ++i) {
            const std::vector<CL> z = ffttest::random_signal(static_cast<std::size_t>(a[i].n), 5u, false);
            EXPECT_EQ(a[i].run(z, 0.3f, 0), b[i].run(z, 0.3f, 0)) << "slot " << i << (dft ? " dft" : " fft");
        }
    }
}

TEST(SmallKernels, ImpulsesGiveExactOnesAndTheRealPackedForms)
{
    for (const Named32& t : kTables32) {
        for (const Slot<float>& s : every_slot(t.table, t.dft)) {
            if (s.inv || s.scaled) {
                continue;
            }
            std::vector<CL> z(static_cast<std::size_t>(s.n));
            z[0] = 1;
            const std::vector<CL> got = s.run(z, 1.0f, 0);
            for (int k = 0; k < s.n; ++k) {
                // Packed real spectra of an impulse: every R = 1, every I = 0 (1, 1, 1, 0, 1, 0, 1, 0 at N = 8).
                const bool imagSlot = s.layout == kReal && ((s.n % 2 == 0 && k >= 3 && k % 2 == 1) || (s.n == 3 && k == 2));
                const CL want = s.layout == kReal ? CL(imagSlot ? 0 : 1) : CL(1);
                EXPECT_EQ(got[k], want) << t.name << " layout " << s.layout << " n " << s.n << " k " << k;
            }
        }
    }
}

TEST(SmallKernels, UnscaledForwardThenInverseGivesNTimesTheInput)
{
    for (const Named32& t : kTables32) {
        for (int i = 0; i < 4; ++i) {
            const int n = t.dft ? i + 1 : 1 << i;
            for (Layout l : {kComplex, kSplit, kReal}) {
                const Slot<float> fwd{t.table, l, false, false, i, n}, inv{t.table, l, true, false, i, n};
                const std::vector<CL> x = ffttest::random_signal(static_cast<std::size_t>(n), 9u, l == kReal);
                const std::vector<CL> back = inv.run(fwd.run(x, 1.0f, 0), 1.0f, 0);
                EXPECT_LE(ffttest::relative_rms(back, x, n), 3e-7) << t.name << " layout " << l << " n " << n;
            }
        }
    }
}

TEST(SmallKernels, OnePointCopyKeepsNanPayloads)
{
    const std::uint32_t payload[2] = {0x7FA00001u, 0xFFC12345u};
    float src[2], dst[2];
    std::memcpy(src, payload, 8);
    vek_k_small_c32f_n1(src, dst);
    EXPECT_EQ(std::memcmp(src, dst, 8), 0);
    float re = 0, im = 0;
    vek_k_small_s32f_n1(src, src + 1, &re, &im);
    EXPECT_EQ(std::memcmp(&re, &payload[0], 4), 0);
    EXPECT_EQ(std::memcmp(&im, &payload[1], 4), 0);
    vek_k_small_r32f_n1(src, dst);
    EXPECT_EQ(std::memcmp(dst, src, 4), 0);
    const float x[2] = {1.25f, -3.5f};
    vek_k_small_c32f_n1_scaled_ss(x, dst, 1.0f);
    EXPECT_EQ(dst[0], 1.25f);
    EXPECT_EQ(dst[1], -3.5f);
}

}  // namespace
