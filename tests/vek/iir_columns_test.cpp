// IIR filters in every column against the exact model of their arithmetic: contexts made by any column's init and
// used by any column's filters, state carried across calls of any length, one-sample and block forms, real and
// complex, arbitrary order 0-16 and cascades of 1-8 sections.
#include <gtest/gtest.h>

#include <random>

#include "iir_model.h"
#include "layer1/vek/core/vek_memory.h"
#include "layer1/vek/iir/iir.h"
#include "vek_harness.h"

namespace {

using namespace iirmodel;
using vektest::column_name;
using vektest::kColumns;

C c_of(int32_t v) {
    return C{v, 0};
}
C c_of(VekC32 v) {
    return C{v.re, v.im};
}
C c_of(VekC16 v) {
    return C{v.re, v.im};
}
bool same(C a, C b) {
    return a.re == b.re && a.im == b.im;
}

// A random filter: taps of up to `bits` bits, a0 a power of two or not; real filters have zero imaginary parts.
std::vector<C> random_taps(std::mt19937& rng, size_t count, int bits, bool complex) {
    std::uniform_int_distribution<int64_t> any(-(int64_t{1} << bits), (int64_t{1} << bits));
    std::vector<C> t(count);
    for (auto& v : t) v = C{any(rng), complex ? any(rng) : 0};
    return t;
}

struct Case {
    bool complex, biquad;
    int size;  // order or sections
    int32_t tf;
    int bits;
};

// Runs one case: init in column `made`, filter in column `used` over a signal split into calls of varying length
// (one-sample calls included), the scale factor changing between calls; outputs, delay line and (arbitrary order)
// taps and tapsFactor compared with the model after every call.
void run_case(const Case& cs, int made, int used, uint32_t seed) {
    std::mt19937 rng(seed);
    const int count = cs.biquad ? 6 * cs.size : 2 * (cs.size + 1);
    auto taps = random_taps(rng, count, cs.bits, cs.complex);
    const i128 u = unit(cs.tf);
    if (!cs.biquad && seed % 3 == 0) taps[cs.size + 1] = C{u, 0};  // the copy path
    for (int j = 0; cs.biquad && j < cs.size; ++j) {
        taps[6 * j + 3] = C{u != 0 ? u : 1, 0};  // stable-ish sections: a0 = 1 on the tap scale
        if (taps[6 * j].re == 0 && taps[6 * j].im == 0) taps[6 * j].re = 1;
    }
    if (!cs.biquad && taps[cs.size + 1].re == 0 && taps[cs.size + 1].im == 0) taps[cs.size + 1].re = 3;

    std::vector<int32_t> rt(2 * count);
    std::vector<VekC32> ct(count);
    for (int i = 0; i < count; ++i) {
        rt[i] = static_cast<int32_t>(taps[i].re);
        ct[i] = VekC32{static_cast<int32_t>(taps[i].re), static_cast<int32_t>(taps[i].im)};
    }
    IirState* st = nullptr;
    VekStatus s;
    if (!cs.complex && !cs.biquad) s = vek_variant<VekSlot::vek_iir_init_real>(made)(&st, rt.data(), cs.size, cs.tf, nullptr);
    else if (!cs.complex) s = vek_variant<VekSlot::vek_iir_init_biquad_real>(made)(&st, rt.data(), cs.size, cs.tf, nullptr);
    else if (!cs.biquad) s = vek_variant<VekSlot::vek_iir_init_complex>(made)(&st, ct.data(), cs.size, cs.tf, nullptr);
    else s = vek_variant<VekSlot::vek_iir_init_biquad_complex>(made)(&st, ct.data(), cs.size, cs.tf, nullptr);
    ASSERT_EQ(s, VEK_OK);

    Arbitrary arb = cs.biquad ? Arbitrary{} : make_arbitrary(taps, cs.size, cs.tf);
    Cascade cas = cs.biquad ? make_cascade(taps, cs.size, cs.tf) : Cascade{};
    std::uniform_int_distribution<int> sample(-32768, 32767), len(0, 9), dsf(-2, 4);
    const int delay_len = cs.biquad ? 2 * cs.size : cs.size;
    for (int call = 0; call < 12; ++call) {
        const int32_t sf = cs.tf + dsf(rng) + (cs.biquad ? 14 : 0) * (cs.tf < 0);
        const int n = call % 4 == 3 ? 0 : 1 + len(rng) + (call == 5 ? 40 : 0);  // 0 means one one-sample call
        std::vector<C> x(std::max(n, 1));
        for (auto& v : x) v = C{sample(rng) / (1 << (call % 3) * 4), cs.complex ? sample(rng) / 8 : 0};
        std::vector<C> want = n == 0 ? std::vector<C>{cs.biquad ? cas.single(x[0], sf) : arb.single(x[0], sf)}
                                     : (cs.biquad ? cas.block(x, sf) : arb.block(x, sf));
        std::vector<C> got(x.size());
        if (!cs.complex) {
            std::vector<int16_t> in(x.size()), out(x.size());
            for (size_t i = 0; i < x.size(); ++i) in[i] = static_cast<int16_t>(x[i].re);
            if (n == 0)
                ASSERT_EQ(vek_variant<VekSlot::vek_iir_one_real>(used)(in[0], out.data(), st, sf), VEK_OK);
            else if (call % 2) {
                ASSERT_EQ(vek_variant<VekSlot::vek_iir_block_real_inplace>(used)(in.data(), n, st, sf), VEK_OK);
                out = in;
            } else {
                ASSERT_EQ(vek_variant<VekSlot::vek_iir_block_real>(used)(in.data(), out.data(), n, st, sf), VEK_OK);
            }
            for (size_t i = 0; i < x.size(); ++i) got[i] = c_of(int32_t{out[i]});
        } else {
            std::vector<VekC16> in(x.size()), out(x.size());
            for (size_t i = 0; i < x.size(); ++i)
                in[i] = VekC16{static_cast<int16_t>(x[i].re), static_cast<int16_t>(x[i].im)};
            if (n == 0)
                ASSERT_EQ(vek_variant<VekSlot::vek_iir_one_complex>(used)(in[0], out.data(), st, sf), VEK_OK);
            else if (call % 2) {
                ASSERT_EQ(vek_variant<VekSlot::vek_iir_block_complex_inplace>(used)(in.data(), n, st, sf), VEK_OK);
                out = in;
            } else {
                ASSERT_EQ(vek_variant<VekSlot::vek_iir_block_complex>(used)(in.data(), out.data(), n, st, sf), VEK_OK);
            }
            for (size_t i = 0; i < x.size(); ++i) got[i] = c_of(out[i]);
        }
        const std::string where = std::string(column_name(made)) + "->" + column_name(used) + " call " +
                                  std::to_string(call) + " size " + std::to_string(cs.size) + " sf " + std::to_string(sf);
        for (size_t i = 0; i < x.size(); ++i)
            ASSERT_TRUE(same(got[i], want[i])) << where << " sample " << i << " got " << static_cast<int64_t>(got[i].re)
                                               << " want " << static_cast<int64_t>(want[i].re);
        // delay line through the column's get function
        const std::vector<C>& md = cs.biquad ? cas.d : arb.d;
        if (!cs.complex) {
            std::vector<int32_t> dl(delay_len + 1, 12345);
            ASSERT_EQ(vek_variant<VekSlot::vek_iir_get_delay_real>(used)(st, dl.data()), VEK_OK);
            for (int j = 0; j < delay_len; ++j) ASSERT_TRUE(same(c_of(dl[j]), md[j])) << where << " delay " << j;
            ASSERT_EQ(dl[delay_len], 12345);
        } else {
            std::vector<VekC32> dl(delay_len + 1, VekC32{7, 7});
            ASSERT_EQ(vek_variant<VekSlot::vek_iir_get_delay_complex>(used)(st, dl.data()), VEK_OK);
            for (int j = 0; j < delay_len; ++j) ASSERT_TRUE(same(c_of(dl[j]), md[j])) << where << " delay " << j;
        }
        if (!cs.biquad) {
            ASSERT_EQ(st->tapsFactor, arb.tf) << where;
        }
    }
    ASSERT_EQ((cs.complex ? vek_variant<VekSlot::vek_iir_free_complex>(used) : vek_variant<VekSlot::vek_iir_free_real>(used))(st),
              VEK_OK);
}

TEST(VekIir, EveryColumnPairAgainstTheModel) {
    const int64_t before = vek_pool_outstanding();
    uint32_t seed = 1;
    for (bool complex : {false, true}) {
        for (int order = 0; order <= 16; ++order) {
            const Case cs{complex, false, order, order % 2 ? -14 : -24, order % 5 == 4 ? 30 : 15};
            for (int made : kColumns)
                for (int used : kColumns) run_case(cs, made, used, seed++);
        }
        for (int sections = 1; sections <= 8; ++sections) {
            const Case cs{complex, true, sections, sections % 3 ? -14 : -28, sections == 4 ? 31 : 13};
            for (int made : kColumns)
                for (int used : kColumns) run_case(cs, made, used, seed++);
        }
    }
    EXPECT_EQ(vek_pool_outstanding(), before);
}

}  // namespace
