// The detector bank through the data pump: sections loaded from parameter memory the way the controller
// programs them, the register-57 report with one notification per change, sections that detect independently,
// the talk-off hold, and every country's call-progress filter against noise and against its own tones.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/layer1/detector_fixture.h"

namespace {

using namespace dettest;

std::vector<int16_t> Burst(std::vector<std::pair<double, double>> tones, size_t lead, size_t on, size_t tail)
{
    return Cadenced(ToneMix{std::move(tones)}, lead, on, 0, 1, tail);
}

struct Section0Case {
    const char* name;
    unsigned country;
    double hz;
    double dbm0;
};

class Section0 : public ::testing::TestWithParam<Section0Case> {};

// Only section 0 enabled (bits 1): the tone sets register 57 to 1 with one notification, and its end clears
// it with one more; register 56 is written 0 alongside.
TEST_P(Section0, ToneSetsRegister57OnceEachWay)
{
    const Section0Case& c = GetParam();
    DetectorBench b;
    uint16_t w[15];
    CountryFilter(c.country, 0x0100, w);
    b.LoadSet(0, w);
    b.Mode(1);
    Observed o = b.Run(Burst({{c.hz, Amplitude(c.dbm0)}}, 4800, 9600, 9600));
    ASSERT_EQ(o.reg57.size(), 2u);
    EXPECT_EQ(o.reg57[0].second, 1);
    EXPECT_EQ(o.reg57[1].second, 0);
    EXPECT_NEAR(static_cast<double>(o.reg57[0].first), 50, 2);   // the tone starts at block 50
    EXPECT_NEAR(static_cast<double>(o.reg57[1].first), 150, 3);  // and ends at block 150
    EXPECT_EQ(o.notifications, 2u);
    EXPECT_EQ(b.Reg(kRegProgress), 0);
}

INSTANTIATE_TEST_SUITE_P(Tones, Section0,
                         ::testing::Values(Section0Case{"NorthAmerica480", 0, 480, -20},
                                           Section0Case{"NorthAmerica480Quiet", 0, 480, -40},
                                           Section0Case{"Germany425", 2, 425, -10},
                                           Section0Case{"France440", 3, 440, -30}),
                         [](const auto& info) { return std::string(info.param.name); });

#ifdef MODEM_UNDER_SANITIZER
constexpr size_t kNoiseBlocks = 200;
#else
constexpr size_t kNoiseBlocks = 400;
#endif

// Every built-in country's call-progress filter: white noise (quiet or loud) and speech-band noise never hold
// register 57 on (at most a short flick at a noise peak or a level step, far shorter than any cadence element
// and ending off); each of the country's progress tones at its published level sets it for as long as it
// lasts. The detector input is normalised, so only the share of a signal inside the band counts.
TEST(DetectorBank, CountryFiltersHearTheirTonesButNotNoise)
{
    const std::vector<std::pair<const char*, std::vector<int16_t>>> noises = {
        {"white noise at -60 dBm0", WhiteNoise(kNoiseBlocks * kBlock, Amplitude(-60) / 1.414, 21)},
        {"white noise at -10 dBm0", WhiteNoise(kNoiseBlocks * kBlock, Amplitude(-10) / 1.414, 22)},
        {"speech-band noise at -40 dBm0", SpeechBandNoise(kNoiseBlocks * kBlock, Amplitude(-40) / 1.414, 23)},
        {"speech-band noise at -10 dBm0", SpeechBandNoise(kNoiseBlocks * kBlock, Amplitude(-10) / 1.414, 24)},
    };
    for (unsigned country = 0; country < COUNTRY_BUILTIN_BLOCKS; ++country) {
        SCOPED_TRACE(country);
        DetectorBench b;
        uint16_t w[15];
        CountryFilter(country, 0x0100, w);
        b.LoadSet(0, w);
        b.Mode(1);
        for (const auto& [name, x] : noises) {
            Observed o = b.Run(x);
            uint64_t longest = 0, onAt = 0;
            for (auto& [block, v] : o.reg57) {
                if (v != 0)
                    onAt = block;
                else
                    longest = std::max<uint64_t>(longest, block - onAt);
            }
            EXPECT_LE(o.reg57.size(), 4u) << name;
            EXPECT_LE(longest, 2u) << name;
            if (!o.reg57.empty()) {
                EXPECT_EQ(o.reg57.back().second, 0) << name;
            }
        }
        const CountryBlock& block = country_builtin_block(country);
        for (unsigned k : {CS_DIAL_TONE, CS_BUSY, CS_CONGESTION, CS_RINGBACK}) {
            SCOPED_TRACE(k);
            const size_t at = CB_SIGNALS + k * CB_SIGNAL_SIZE;
            const double f1 = cb_u16(block, at), f2 = cb_u16(block, at + 2);
            const double a = Amplitude(-static_cast<double>(cb_u8(block, at + 5)));
            ToneMix mix{{{f1, a}}};
            if (cb_u8(block, at + 4) != 0)  // f1 fully modulated by f2: the carrier and two side tones
                mix.tones = {{f1, a / 2}, {f1 - f2, a / 4}, {f1 + f2, a / 4}};
            else if (f2 != 0)
                mix.tones.push_back({f2, a});
            Observed o = b.Run(Burst(mix.tones, 0, 100 * kBlock, 50 * kBlock));
            ASSERT_EQ(o.reg57.size(), 2u);
            EXPECT_EQ(o.reg57[0].second, 1);
            EXPECT_EQ(o.reg57[1].second, 0);
            EXPECT_NEAR(static_cast<double>(o.reg57[1].first - o.reg57[0].first), 100, 3);  // on for the tone
        }
    }
}

// A tone outside the section's band leaves register 57 alone.
TEST(DetectorBank, ToneOutsideTheBandIsNotReported)
{
    DetectorBench b;
    uint16_t w[15];
    CountryFilter(0, 0x0100, w);
    b.LoadSet(0, w);
    b.Mode(1);
    for (double hz : {1400.0, 2100.0, 3000.0}) {
        Observed o = b.Run(Burst({{hz, Amplitude(-10)}}, 960, 9600, 960));
        EXPECT_TRUE(o.reg57.empty()) << hz;
        EXPECT_EQ(o.notifications, 0u) << hz;
    }
}

// Sections 0 and 1 programmed for different bands report their own bits: each sees the bank input, not what
// the other section left of it.
TEST(DetectorBank, SectionsDetectIndependently)
{
    DetectorBench b;
    uint16_t low[15], high[15];
    CountryFilter(0, 0x0100, low);
    ResonatorSet(1350, 1450, 180, 0x0200, high);
    b.LoadSet(0, low);
    b.LoadSet(1, high);
    b.Mode(2);
    struct Case {
        std::vector<std::pair<double, double>> tones;
        uint8_t bits;
    } cases[] = {
        {{{480, Amplitude(-20)}}, 1},
        {{{1400, Amplitude(-20)}}, 2},
        {{{480, Amplitude(-20)}, {1400, Amplitude(-20)}}, 3},
    };
    for (const Case& c : cases) {
        const std::vector<int16_t> x = Burst(c.tones, 0, 9600, 4800);
        b.Run(std::vector<int16_t>(x.begin(), x.begin() + 4800));
        EXPECT_EQ(b.Reg(kRegDetector), c.bits);
        b.Run(std::vector<int16_t>(x.begin() + 4800, x.end()));
        EXPECT_EQ(b.Reg(kRegDetector), 0);
    }
}

// Talk-off: while section 9 (speech band) has been active within the last 0.5 s the bank reports nothing.
TEST(DetectorBank, TalkOffHoldsResultsForHalfASecond)
{
    DetectorBench b;
    DspContext* ctx = b.context.get();
    ConfigureSection(&ctx->detector.bank, 0, kCallProgressBandSection);
    auto blocks = [](double hz, int count) {
        std::vector<int32_t> x;
        for (int i = 0; i < count * kBlock; ++i)
            x.push_back(static_cast<int32_t>(std::lround(4000 * std::sin(2 * kPi * hz * i / kRate))));
        return x;
    };
    const std::vector<int32_t> speech = blocks(2400, 20), tone = blocks(480, 100);
    int firstOnPlain = -1;
    for (int talkOff : {0, 1}) {
        for (int i = 0; i < 20; ++i)
            RunDetectorBank(ctx, speech.data() + i * kBlock, kBlock, talkOff);
        EXPECT_EQ(ctx->detector.bank.result, 0);
        int firstOn = -1;
        for (int i = 0; i < 100; ++i) {
            RunDetectorBank(ctx, tone.data() + i * kBlock, kBlock, talkOff);
            if (firstOn < 0 && ctx->detector.bank.result == 1)
                firstOn = i;
        }
        ASSERT_GE(firstOn, 0);
        if (talkOff)
            EXPECT_NEAR(firstOn - firstOnPlain, 50, 1);  // held 4800 samples after the speech band went quiet
        else
            firstOnPlain = firstOn;
        ResetDetectorBank(ctx);
        ConfigureSection(&ctx->detector.bank, 0, kCallProgressBandSection);
    }
}

// A reload request loads the set into its section with the thresholds in sixteenths; a full reset clears
// requests and disables every section.
TEST(DetectorBank, ReloadAndReset)
{
    DetectorBench b;
    uint16_t w[15];
    CountryFilter(0, 0x0400, w);
    b.LoadSet(2, w);
    b.Mode(1);
    b.Run(std::vector<int16_t>(kBlock, 0));
    const DetectorBank& bank = b.context->detector.bank;
    ASSERT_TRUE(bank.enabled[2]);
    EXPECT_EQ(bank.section[2].bits, 4);
    EXPECT_EQ(bank.section[2].onThreshold, w[13] >> 4);
    EXPECT_EQ(bank.section[2].offThreshold, w[14] >> 4);
    EXPECT_EQ(bank.chainSource[2], -1);
    b.LoadSet(0, w);
    b.Send(0x60, {0});
    b.Mode(1);
    b.Run(std::vector<int16_t>(kBlock, 0));
    for (int i = 0; i < kDetectorSections; ++i)
        EXPECT_FALSE(bank.enabled[i]) << i;
}

}  // namespace
