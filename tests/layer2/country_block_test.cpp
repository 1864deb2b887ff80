// The country block layout, its accessor and the built-in country data.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>
#include <string>

#include "layer2/corecode/cmd/country_block.h"
#include "layer2/corecode/cmd/country_builtin.h"

namespace {

TEST(CountryBlockLayout, TablesTileTheBlockWithoutOverlap)
{
    // Tables 1-3 and 5-10 follow each other from byte 2 to byte 1502; table 4 is not in the block.
    const unsigned order[] = {1, 2, 3, 5, 6, 7, 8, 9, 10};
    std::size_t at = 2;
    for (unsigned t : order) {
        CountryTablePlace p = cb_table_place(t);
        EXPECT_EQ(p.offset, at) << "table " << t;
        at = p.offset + p.size;
    }
    EXPECT_EQ(at, CB_CW);
    EXPECT_LE(CB_CW + CB_CW_MAX * CB_CW_ENTRY_SIZE, COUNTRY_BLOCK_SIZE);
    EXPECT_EQ(cb_table_place(9).size, 92u);
    EXPECT_EQ(cb_table_place(10).offset, 1111u);
    EXPECT_EQ(cb_table_place(11).size, 0u);
    // The line profiles start at 776 and the last one ends before the black-listing table.
    EXPECT_EQ(cb_profile_offset(0), 776u);
    EXPECT_LE(cb_profile_offset(CB_PROFILE_MAX), CB_BLACKLIST);
    EXPECT_LE(CB_TONE_DEFS + CB_TONE_DEF_MAX * CB_TONE_DEF_SIZE, CB_DAA);
}

TEST(CountryBlockAccessor, WildCountsStayInsideTheBlock)
{
    CountryBlock b;
    std::memset(b.bytes, 0xFF, sizeof b.bytes);
    EXPECT_EQ(cb_filter_count(b), CB_FILTER_MAX);
    EXPECT_EQ(cb_tone_def_count(b), CB_TONE_DEF_MAX);
    EXPECT_EQ(cb_profile_count(b), CB_PROFILE_MAX);
    EXPECT_EQ(cb_s_limit_count(b), CB_S_LIMIT_MAX);
    EXPECT_EQ(cb_cadence_count(b), CB_CADENCE_MAX);
    EXPECT_EQ(cb_cw_count(b), CB_CW_MAX);
    CountryToneDef t;
    ASSERT_TRUE(cb_tone_def(b, CB_TONE_DEF_MAX - 1, &t));
    EXPECT_EQ(t.first_count, 4);
    EXPECT_FALSE(cb_tone_def(b, CB_TONE_DEF_MAX, &t));
    CountryCadence c;
    ASSERT_TRUE(cb_cadence(b, CB_CADENCE_MAX - 1, &c));
    EXPECT_EQ(c.second_count, CB_CADENCE_SEGMENTS);
    CountryCwPattern w;
    ASSERT_TRUE(cb_cw_pattern(b, CB_CW_MAX - 1, &w));
    EXPECT_EQ(w.count, 2);
    CountryLineProfile p;
    ASSERT_TRUE(cb_line_profile(b, CB_PROFILE_MAX - 1, &p));
    EXPECT_EQ(std::strlen(p.name), 24u);
    EXPECT_EQ(cb_u8(b, COUNTRY_BLOCK_SIZE), 0);
    EXPECT_EQ(cb_u16(b, COUNTRY_BLOCK_SIZE - 1), 0x00FF);
}

TEST(CountryBuiltIn, ListIsValidAndNamesEveryBlock)
{
    const CountryList& l = country_builtin_list();
    ASSERT_TRUE(country_list_valid(l));
    std::set<unsigned> blocks;
    CountryListEntry e;
    for (unsigned i = 0; country_list_entry(l, i, &e); ++i) {
        EXPECT_LT(e.block, COUNTRY_BUILTIN_BLOCKS);
        EXPECT_EQ(std::strlen(e.iso), 3u);
        blocks.insert(e.block);
    }
    EXPECT_EQ(blocks.size(), COUNTRY_BUILTIN_BLOCKS);
    ASSERT_TRUE(country_list_entry(l, 0, &e));
    EXPECT_EQ(e.dial_code, 1);
    EXPECT_EQ(e.t35, 0xB5);
    EXPECT_STREQ(e.iso, "USA");
    EXPECT_EQ(&country_builtin_block(15), &country_builtin_block(0));
}

TEST(CountryBuiltIn, EveryBlockIsCompleteAndConsistent)
{
    for (unsigned i = 0; i < COUNTRY_BUILTIN_BLOCKS; ++i) {
        SCOPED_TRACE("block " + std::to_string(i));
        const CountryBlock& b = country_builtin_block(i);
        EXPECT_TRUE(cb_format_ok(b));
        EXPECT_TRUE(cb_tone_allowed(b));
        EXPECT_EQ(cb_filter_count(b), 1u);
        EXPECT_EQ(cb_tone_def_count(b), 4u);
        EXPECT_EQ(cb_profile_count(b), 1u);
        EXPECT_EQ(cb_cadence_count(b), 1u);
        CountrySignal s;
        for (unsigned k = 0; k < CS_COUNT; ++k)
            EXPECT_TRUE(cb_signal(b, static_cast<CountrySignalKind>(k), &s)) << "signal " << k;
        // The detector definitions carry the four call-progress tone ids.
        std::set<unsigned> ids;
        for (unsigned k = 0; k < 4; ++k) {
            CountryToneDef t;
            ASSERT_TRUE(cb_tone_def(b, k, &t));
            ids.insert(t.tone_id);
            EXPECT_GE(t.first_count, 1);
            for (unsigned j = 0; j < t.first_count; ++j)
                EXPECT_LE(t.first[j].min_ms, t.first[j].max_ms);
        }
        EXPECT_EQ(ids, (std::set<unsigned>{1, 3, 5, 15}));
        // The ring detector holds longer than the longest pause of the ringing cadence.
        ASSERT_TRUE(cb_signal(b, CS_RINGING, &s));
        for (unsigned k = 0; k < s.pairs; ++k)
            EXPECT_GT(cb_cadence_hold_ms(b), s.off_ms[k]);
        CountryLineProfile p;
        ASSERT_TRUE(cb_line_profile(b, 0, &p));
        EXPECT_GT(std::strlen(p.name), 0u);
        EXPECT_EQ(p.pulse_make_ms + p.pulse_break_ms, 100) << "10 pulses per second";
        EXPECT_GT(p.flash_ms[0], 0);
    }
}

struct PublishedTones {
    unsigned block;
    uint16_t dial_f1, dial_f2;
    uint8_t dial_pairs;
    uint16_t busy_f1, busy_on, busy_off;
    uint16_t cong_on, cong_off;
    uint16_t ringback_f1, ringback_f2, ringback_on, ringback_off;
    uint16_t ring_on, ring_last_off;
    uint16_t pulse_break;
};

class CountryTones : public ::testing::TestWithParam<PublishedTones> {};

TEST_P(CountryTones, BlockCarriesThePublishedTones)
{
    const PublishedTones& e = GetParam();
    const CountryBlock& b = country_builtin_block(e.block);
    CountrySignal s;
    ASSERT_TRUE(cb_signal(b, CS_DIAL_TONE, &s));
    EXPECT_EQ(s.f1, e.dial_f1);
    EXPECT_EQ(s.f2, e.dial_f2);
    EXPECT_EQ(s.pairs, e.dial_pairs);
    ASSERT_TRUE(cb_signal(b, CS_BUSY, &s));
    EXPECT_EQ(s.f1, e.busy_f1);
    EXPECT_EQ(s.on_ms[0], e.busy_on);
    EXPECT_EQ(s.off_ms[0], e.busy_off);
    ASSERT_TRUE(cb_signal(b, CS_CONGESTION, &s));
    EXPECT_EQ(s.on_ms[0], e.cong_on);
    EXPECT_EQ(s.off_ms[0], e.cong_off);
    ASSERT_TRUE(cb_signal(b, CS_RINGBACK, &s));
    EXPECT_EQ(s.f1, e.ringback_f1);
    EXPECT_EQ(s.f2, e.ringback_f2);
    EXPECT_EQ(s.on_ms[0], e.ringback_on);
    EXPECT_EQ(s.off_ms[0], e.ringback_off);
    ASSERT_TRUE(cb_signal(b, CS_RINGING, &s));
    EXPECT_EQ(s.on_ms[0], e.ring_on);
    EXPECT_EQ(s.off_ms[s.pairs - 1], e.ring_last_off);
    CountryLineProfile p;
    ASSERT_TRUE(cb_line_profile(b, 0, &p));
    EXPECT_EQ(p.pulse_break_ms, e.pulse_break);

    // The busy detector accepts the published cadence and refuses the congestion cadence when they differ.
    CountryToneDef busy;
    ASSERT_TRUE(cb_tone_def(b, 1, &busy));
    EXPECT_EQ(busy.tone_id, 3);
    EXPECT_TRUE(busy.first[0].on);
    EXPECT_LE(busy.first[0].min_ms, e.busy_on);
    EXPECT_GE(busy.first[0].max_ms, e.busy_on);
    EXPECT_FALSE(busy.first[1].on);
    EXPECT_LE(busy.first[1].min_ms, e.busy_off);
    EXPECT_GE(busy.first[1].max_ms, e.busy_off);
    if (e.cong_on * 2 <= e.busy_on || e.cong_on >= e.busy_on * 2) {
        EXPECT_TRUE(e.cong_on < busy.first[0].min_ms || e.cong_on > busy.first[0].max_ms);
    }

    // The later ring list waits for the long pause and then accepts a full ring, which completes it.
    CountryCadence c;
    ASSERT_TRUE(cb_cadence(b, 0, &c));
    ASSERT_GE(c.second_count, 2);
    EXPECT_EQ(c.second[0].rate_high, 0);
    EXPECT_LE(c.second[0].dur_low_ms, e.ring_last_off);
    EXPECT_GE(c.second[0].dur_high_ms, e.ring_last_off);
    EXPECT_EQ(c.second[c.second_count - 1].flags & 1, 1);
    EXPECT_EQ(c.first[c.first_count - 1].flags & 1, 1);
}

// Published values (ITU-T E.180 and the national standards).
INSTANTIATE_TEST_SUITE_P(
    Published, CountryTones,
    ::testing::Values(
        //             blk dial       prs busy      on   off  cong      rb-f1 f2   on    off   ring  off   brk
        PublishedTones{0, 350, 440, 0, 480, 500, 500, 250, 250, 440, 480, 2000, 4000, 2000, 4000, 61},  // USA
        PublishedTones{1, 350, 440, 0, 400, 375, 375, 400, 350, 400, 450, 400, 200, 400, 2000, 67},     // UK
        PublishedTones{2, 425, 0, 0, 425, 480, 480, 240, 240, 425, 0, 1000, 4000, 1000, 4000, 60},      // DEU
        PublishedTones{3, 440, 0, 0, 440, 500, 500, 250, 250, 440, 0, 1500, 3500, 1500, 3500, 67},      // FRA
        PublishedTones{4, 425, 0, 2, 425, 500, 500, 200, 200, 425, 0, 1000, 4000, 1000, 4000, 60}));    // ITA

TEST(CountryBuiltIn, NorthAmericaAndEuropeDiffer)
{
    // Country selection must change what the modem listens for: North America, the United Kingdom and
    // Germany have different busy cadences and dial tones.
    CountryToneDef na, uk, de;
    ASSERT_TRUE(cb_tone_def(country_builtin_block(0), 1, &na));
    ASSERT_TRUE(cb_tone_def(country_builtin_block(1), 1, &uk));
    ASSERT_TRUE(cb_tone_def(country_builtin_block(2), 1, &de));
    EXPECT_NE(std::memcmp(&na, &uk, sizeof na), 0);
    EXPECT_NE(std::memcmp(&na, &de, sizeof na), 0);
    EXPECT_NE(std::memcmp(&uk, &de, sizeof na), 0);
    EXPECT_NE(std::memcmp(country_builtin_block(0).bytes, country_builtin_block(2).bytes, COUNTRY_BLOCK_SIZE), 0);
    EXPECT_FALSE(cb_has_restrictions(country_builtin_block(0)));
    EXPECT_TRUE(cb_has_restrictions(country_builtin_block(2)));
}

// Runs the detector section's two stages (s = c4*y1 + c3*y2 + c2*x + c1*x1 + c0*x2, y = 2s in Q15) in double
// precision over a sine and returns the output amplitude after settling.
double section_gain(const uint16_t w[16], double f)
{
    double c[10];
    for (unsigned k = 0; k < 10; ++k)
        c[k] = static_cast<int16_t>(w[2 + k]) / 16384.0;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0, u1 = 0, u2 = 0, v1 = 0, v2 = 0, peak = 0;
    for (int n = 0; n < 9600; ++n) {
        double x = std::sin(2 * 3.14159265358979 * f * n / 9600.0);
        double y = c[4] * y1 + c[3] * y2 + c[2] * x + c[1] * x1 + c[0] * x2;
        x2 = x1, x1 = x, y2 = y1, y1 = y;
        double v = c[9] * v1 + c[8] * v2 + c[7] * y + c[6] * u1 + c[5] * u2;
        u2 = u1, u1 = y, v2 = v1, v1 = v;
        if (n > 4800)
            peak = std::max(peak, std::fabs(v));
    }
    return peak;
}

TEST(CountryBuiltIn, DetectorFilterPassesTheCountryTonesOnly)
{
    for (unsigned i = 0; i < COUNTRY_BUILTIN_BLOCKS; ++i) {
        SCOPED_TRACE("block " + std::to_string(i));
        const CountryBlock& b = country_builtin_block(i);
        uint16_t w[16];
        ASSERT_TRUE(cb_filter_set(b, 1, w));
        ASSERT_TRUE(cb_filter_set(b, 0, w));  // 0 is taken as 1
        EXPECT_FALSE(cb_filter_set(b, 2, w));
        CountrySignal dial;
        ASSERT_TRUE(cb_signal(b, CS_DIAL_TONE, &dial));
        EXPECT_GE(dial.f1, w[0]);
        EXPECT_LE(dial.f1, w[1]);
        double pass = section_gain(w, dial.f1);
        EXPECT_GT(pass, 0.2);
        EXPECT_LT(pass, 2.0);
        EXPECT_LT(section_gain(w, 2100), pass / 10);  // answer tone
        EXPECT_LT(section_gain(w, 60), pass / 10);    // mains hum
    }
}

}  // namespace
