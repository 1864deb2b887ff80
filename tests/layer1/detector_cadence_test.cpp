// Call-progress cadences in detector mode 1: the countries' busy, congestion and ringback signals with the
// country's filter programmed as the controller programs it; every cadence limit from inside and just outside;
// no events on noise or DTMF; and the busy and ringback tones of an independent tone generator.
#include <gtest/gtest.h>

#include <string>

#include "line/resampler.h"
#include "tests/layer1/detector_fixture.h"

#ifdef HAVE_SPANDSP
#include <spandsp.h>
#endif

namespace {

using namespace dettest;

#ifdef MODEM_UNDER_SANITIZER
constexpr size_t kNoiseSeconds = 15;
#else
constexpr size_t kNoiseSeconds = 60;
#endif

// A bench in mode 1 with the country's call-progress filter in section 0.
struct CallProgress {
    explicit CallProgress(unsigned country = 0)
    {
        uint16_t w[15];
        CountryFilter(country, 0x0100, w);
        bench.LoadSet(0, w);
        bench.Mode(1);
    }
    DetectorBench bench;
};

// The country's signal k of its TONE table, played `cycles` times after one off time of silence.
std::vector<int16_t> CountrySignal(unsigned country, unsigned k, int cycles)
{
    const CountryBlock& b = country_builtin_block(country);
    const size_t at = CB_SIGNALS + k * CB_SIGNAL_SIZE;
    const uint16_t f1 = cb_u16(b, at), f2 = cb_u16(b, at + 2);
    const double a = Amplitude(-static_cast<double>(cb_u8(b, at + 5)));
    const unsigned pairs = cb_u8(b, at + 6);
    ToneMix mix{{{static_cast<double>(f1), a}}};
    if (f2 != 0)
        mix.tones.push_back({static_cast<double>(f2), a});
    std::vector<int16_t> out;
    const size_t lastOff = cb_u16(b, at + 8 + 4 * (pairs - 1) + 2) * 96u / 10u;
    mix.Add(out, lastOff, false);
    for (int c = 0; c < cycles; ++c) {
        for (unsigned p = 0; p < pairs; ++p) {
            mix.Add(out, cb_u16(b, at + 8 + 4 * p) * 96u / 10u, true);
            mix.Add(out, cb_u16(b, at + 8 + 4 * p + 2) * 96u / 10u, false);
        }
    }
    return out;
}

struct CountryCase {
    const char* name;
    unsigned country;
    unsigned signal;  // CS_BUSY, CS_CONGESTION, CS_RINGBACK
    int cycles;
    uint8_t event;    // 'b', 'r' or 0
};

class CountryCadence : public ::testing::TestWithParam<CountryCase> {};

TEST_P(CountryCadence, ReportsTheCadenceOnce)
{
    const CountryCase& c = GetParam();
    CallProgress cp(c.country);
    Observed o = cp.bench.Run(CountrySignal(c.country, c.signal, c.cycles));
    const std::vector<uint8_t> chars = o.Chars();
    if (c.event == 0) {
        EXPECT_TRUE(chars.empty());
        for (auto& [block, v] : o.reg56)
            EXPECT_EQ(v, 0) << block;
        return;
    }
    ASSERT_EQ(chars.size(), 1u);
    EXPECT_EQ(chars[0], c.event);
    const uint8_t code = c.event == 'b' ? 3 : 5;
    bool seen = false;
    for (auto& [block, v] : o.reg56)
        seen = seen || v == code;
    EXPECT_TRUE(seen);
}

INSTANTIATE_TEST_SUITE_P(
    Countries, CountryCadence,
    ::testing::Values(CountryCase{"NorthAmericaBusy", 0, CS_BUSY, 5, 'b'},
                      CountryCase{"NorthAmericaFastBusy", 0, CS_CONGESTION, 12, 'b'},
                      CountryCase{"NorthAmericaRingback", 0, CS_RINGBACK, 3, 'r'},
                      CountryCase{"UnitedKingdomBusy", 1, CS_BUSY, 12, 'b'},  // 375/375 ms: fast busy
                      CountryCase{"UnitedKingdomRingback", 1, CS_RINGBACK, 3, 0},  // double ring
                      CountryCase{"GermanyBusy", 2, CS_BUSY, 5, 'b'},
                      CountryCase{"GermanyCongestion", 2, CS_CONGESTION, 12, 'b'},
                      CountryCase{"GermanyRingback", 2, CS_RINGBACK, 3, 'r'},
                      CountryCase{"FranceRingback", 3, CS_RINGBACK, 3, 0}),  // 3.5 s off: too short
    [](const auto& info) { return std::string(info.param.name); });

struct LimitCase {
    const char* name;
    int on, off;  // blocks
    int cycles;
    uint8_t event;
};

class CadenceLimits : public ::testing::TestWithParam<LimitCase> {};

// 480 + 620 Hz in exact blocks of on and off time, after one off time of silence.
TEST_P(CadenceLimits, MatchInsideOnly)
{
    const LimitCase& c = GetParam();
    CallProgress cp;
    ToneMix mix{{{480, Amplitude(-20)}, {620, Amplitude(-20)}}};
    std::vector<int16_t> x;
    mix.Add(x, static_cast<size_t>(c.off) * kBlock, false);
    for (int k = 0; k < c.cycles; ++k) {
        mix.Add(x, static_cast<size_t>(c.on) * kBlock, true);
        mix.Add(x, static_cast<size_t>(c.off) * kBlock, false);
    }
    Observed o = cp.bench.Run(x);
    const std::vector<uint8_t> chars = o.Chars();
    if (c.event == 0) {
        EXPECT_TRUE(chars.empty()) << std::string(chars.begin(), chars.end());
    } else {
        ASSERT_EQ(chars.size(), 1u);
        EXPECT_EQ(chars[0], c.event);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Limits, CadenceLimits,
    ::testing::Values(LimitCase{"BusyShortest", 40, 40, 4, 'b'}, LimitCase{"BusyLongest", 60, 60, 4, 'b'},
                      LimitCase{"BusyOnTooShort", 39, 50, 4, 0}, LimitCase{"BusyOnTooLong", 61, 50, 4, 0},
                      LimitCase{"BusyOffTooShort", 50, 39, 4, 0}, LimitCase{"BusyOffTooLong", 50, 61, 4, 0},
                      LimitCase{"BusyTwoCycles", 50, 50, 2, 0},
                      LimitCase{"FastBusyShortest", 21, 21, 11, 'b'}, LimitCase{"FastBusyLongest", 45, 45, 11, 'b'},
                      LimitCase{"FastBusyOnTooShort", 20, 30, 11, 0}, LimitCase{"FastBusyOffTooShort", 30, 20, 11, 0},
                      LimitCase{"FastBusyNineCycles", 30, 30, 9, 0},
                      LimitCase{"RingbackShortest", 90, 380, 3, 'r'}, LimitCase{"RingbackLongest", 210, 420, 3, 'r'},
                      LimitCase{"RingbackOnTooShort", 89, 400, 3, 0}, LimitCase{"RingbackOnTooLong", 211, 400, 3, 0},
                      LimitCase{"RingbackOffTooShort", 150, 379, 3, 0},
                      LimitCase{"RingbackOffTooLong", 150, 421, 3, 0}),
    [](const auto& info) { return std::string(info.param.name); });

std::vector<int16_t> Dtmf(size_t seconds, size_t onMs, size_t offMs)
{
    static const double rows[4] = {697, 770, 852, 941}, cols[4] = {1209, 1336, 1477, 1633};
    std::vector<int16_t> out;
    for (int d = 0; out.size() < seconds * 9600; d = (d + 1) % 16) {
        ToneMix mix{{{rows[d / 4], Amplitude(-8)}, {cols[d % 4], Amplitude(-6)}}};
        mix.Add(out, onMs * 96 / 10, true);
        mix.Add(out, offMs * 96 / 10, false);
    }
    out.resize(seconds * 9600);
    return out;
}

struct NoiseCase {
    const char* name;
    std::vector<int16_t> (*make)();
};

class NoFalseEvents : public ::testing::TestWithParam<NoiseCase> {};

// A minute of each signal gives no event character in call-progress mode (1) or calling-tone mode (2).
TEST_P(NoFalseEvents, InCallProgressAndCallingToneModes)
{
    const std::vector<int16_t> x = GetParam().make();
    for (uint8_t mode : {1, 2}) {
        CallProgress cp;
        cp.bench.Mode(mode);
        Observed o = cp.bench.Run(x);
        const std::vector<uint8_t> chars = o.Chars();
        EXPECT_TRUE(chars.empty()) << int(mode) << ": " << std::string(chars.begin(), chars.end());
        for (auto& [block, v] : o.reg56)
            EXPECT_EQ(v, 0) << block;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Signals, NoFalseEvents,
    ::testing::Values(
        NoiseCase{"WhiteNoise", [] { return WhiteNoise(kNoiseSeconds * 9600, Amplitude(-10) / 1.414, 11); }},
        NoiseCase{"QuietWhiteNoise", [] { return WhiteNoise(kNoiseSeconds * 9600, Amplitude(-45) / 1.414, 12); }},
        NoiseCase{"SpeechBandNoise",
                  [] { return SpeechBandNoise(kNoiseSeconds * 9600, Amplitude(-10) / 1.414, 13); }},
        NoiseCase{"DtmfDialling", [] { return Dtmf(kNoiseSeconds, 100, 100); }},
        NoiseCase{"DtmfAtBusyCadence", [] { return Dtmf(kNoiseSeconds, 500, 500); }},
        NoiseCase{"DtmfAtRingbackCadence", [] { return Dtmf(kNoiseSeconds, 1500, 4000); }}),
    [](const auto& info) { return std::string(info.param.name); });

#ifdef HAVE_SPANDSP
// An independent generator's tone at 8000 samples/s, converted to the pump's 9600.
std::vector<int16_t> IndependentTone(int f1, int l1, int f2, int l2, int on, int off, double seconds)
{
    tone_gen_descriptor_t* desc = tone_gen_descriptor_init(nullptr, f1, l1, f2, l2, on, off, 0, 0, 1);
    tone_gen_state_t* gen = tone_gen_init(nullptr, desc);
    const size_t n8 = static_cast<size_t>(seconds * 8000);
    std::vector<int16_t> s8(n8);
    for (size_t at = 0; at < n8;) {
        const int got = tone_gen(gen, s8.data() + at, static_cast<int>(std::min<size_t>(160, n8 - at)));
        if (got <= 0)
            break;
        at += static_cast<size_t>(got);
    }
    tone_gen_free(gen);
    tone_gen_descriptor_free(desc);
    Resampler r;
    r.ConfigureRates(8000, 9600);
    std::vector<double> in(s8.begin(), s8.end()), out(n8 * 6 / 5);
    r.Push(in.data(), in.size());
    out.resize(r.Pull(out.data(), out.size()));
    std::vector<int16_t> x;
    for (double v : out)
        x.push_back(Clip(v));
    return x;
}

TEST(IndependentTones, BusyAndRingbackAreRecognised)
{
    struct Case {
        int f1, l1, f2, l2, on, off;
        double seconds;
        uint8_t event;
    } cases[] = {
        {480, -24, 620, -24, 500, 500, 5.0, 'b'},
        {480, -24, 620, -24, 250, 250, 6.0, 'b'},
        {440, -19, 480, -19, 2000, 4000, 18.0, 'r'},
    };
    for (const Case& c : cases) {
        CallProgress cp;
        Observed o = cp.bench.Run(IndependentTone(c.f1, c.l1, c.f2, c.l2, c.on, c.off, c.seconds));
        const std::vector<uint8_t> chars = o.Chars();
        ASSERT_EQ(chars.size(), 1u) << c.on;
        EXPECT_EQ(chars[0], c.event);
    }
}
#endif

}  // namespace
