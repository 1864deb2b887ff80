// The exchange's DTMF receiver at the limits exchanges apply: digits from an independent generator and from
// reference tone pairs just inside the accept limits are recognised; frequency deviation, twist, duration and
// level outside the reject limits are not; short interruptions are bridged and real pauses separate digits.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "line/exchange_dtmf.h"
#include "line/g711.h"
#include "line/line_model.h"

#ifdef HAVE_SPANDSP
#include <spandsp.h>
#endif

namespace {

constexpr double kRate = 8000.0;

struct KeyTones {
    char key;
    double low, high;
};
constexpr KeyTones kKeys[] = {{'1', 697, 1209}, {'2', 697, 1336}, {'3', 697, 1477}, {'A', 697, 1633},
                              {'4', 770, 1209}, {'5', 770, 1336}, {'6', 770, 1477}, {'B', 770, 1633},
                              {'7', 852, 1209}, {'8', 852, 1336}, {'9', 852, 1477}, {'C', 852, 1633},
                              {'*', 941, 1209}, {'0', 941, 1336}, {'#', 941, 1477}, {'D', 941, 1633}};

double Amplitude(double dbm0)
{
    return std::sqrt(2.0 * LinePowerOfDbm0(dbm0));
}

// A reference tone pair: each tone at its own level (dBm0), for ms milliseconds.
void AppendPair(std::vector<int16_t>* x, double low, double high, double lowDb, double highDb, double ms)
{
    const size_t n = static_cast<size_t>(std::lround(ms * kRate / 1000.0));
    const double a = Amplitude(lowDb), b = Amplitude(highDb);
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        x->push_back(LineSaturate(a * std::sin(2 * M_PI * low * t) + b * std::sin(2 * M_PI * high * t + 1.0)));
    }
}

void AppendSilence(std::vector<int16_t>* x, double ms)
{
    x->insert(x->end(), static_cast<size_t>(std::lround(ms * kRate / 1000.0)), 0);
}

// Runs the receiver in 10 ms frames over x followed by 100 ms of silence; returns the verdicts.
std::vector<DtmfVerdict> Receive(const std::vector<int16_t>& signal)
{
    std::vector<int16_t> x = signal;
    AppendSilence(&x, 100);
    while (x.size() % 80 != 0)
        x.push_back(0);
    DtmfReceiver r;
    DtmfReceiverInit(&r);
    std::vector<DtmfVerdict> out;
    for (size_t i = 0; i < x.size(); i += 80) {
        DtmfReceiverRun(&r, x.data() + i, 80);
        for (int k = 0; k < r.verdictCount; ++k)
            out.push_back(r.verdicts[k]);
        r.verdictCount = 0;
    }
    return out;
}

std::string Digits(const std::vector<DtmfVerdict>& v)
{
    std::string s;
    for (const auto& d : v)
        if (d.digit != 0)
            s += d.digit;
    return s;
}

TEST(ExchangeDtmfTest, EveryKeyFromReferenceTonesWithItsMeasuredFrequencies)
{
    for (const KeyTones& k : kKeys) {
        std::vector<int16_t> x;
        AppendSilence(&x, 13);
        AppendPair(&x, k.low, k.high, -10, -8, 60);
        const auto v = Receive(x);
        ASSERT_EQ(v.size(), 1u) << k.key;
        EXPECT_EQ(v[0].digit, k.key);
        EXPECT_NEAR(v[0].lowHz, k.low, 0.5);
        EXPECT_NEAR(v[0].highHz, k.high, 0.5);
        EXPECT_NEAR(v[0].lowDbm0, -10, 0.3);
        EXPECT_NEAR(v[0].highDbm0, -8, 0.3);
        EXPECT_NEAR(v[0].durationMs, 60, 2.0);
    }
}

struct LimitCase {
    const char* what;
    double lowFactor, highFactor;  // frequency multipliers
    double lowDb, highDb;
    double ms;
    bool accepted;
};

TEST(ExchangeDtmfTest, AcceptAndRejectLimits)
{
    const LimitCase cases[] = {
        {"nominal", 1, 1, -10, -10, 50, true},
        {"low +1.5%", 1.015, 1, -10, -10, 50, true},
        {"low -1.5%", 0.985, 1, -10, -10, 50, true},
        {"high +1.5%", 1, 1.015, -10, -10, 50, true},
        {"high -1.5%", 1, 0.985, -10, -10, 50, true},
        {"both +1.5%", 1.015, 1.015, -10, -10, 50, true},
        {"low +3.5%", 1.035, 1, -10, -10, 50, false},
        {"low -3.5%", 0.965, 1, -10, -10, 50, false},
        {"high +3.5%", 1, 1.035, -10, -10, 50, false},
        {"high -3.5%", 1, 0.965, -10, -10, 50, false},
        {"forward twist 4 dB", 1, 1, -12, -8, 50, true},
        {"forward twist 6 dB", 1, 1, -14, -8, 50, false},
        {"reverse twist 8 dB", 1, 1, -8, -16, 50, true},
        {"reverse twist 10 dB", 1, 1, -8, -18, 50, false},
        {"weakest accepted level", 1, 1, -25, -25, 50, true},
        {"loud", 1, 1, -3, -3, 50, true},
        {"40 ms", 1, 1, -10, -10, 40, true},
        {"23 ms", 1, 1, -10, -10, 23, false},
        {"23 ms loud", 1, 1, -3, -3, 23, false},
        {"40 ms weak", 1, 1, -25, -25, 40, true},
    };
    // Every key's pair, started at several offsets from the receiver's decision steps (under the sanitizers,
    // one offset and the keys of the diagonal, which still use every frequency).
#ifdef MODEM_UNDER_SANITIZER
    const std::vector<double> leads = {3.375};
    const std::string keys = "159D";
#else
    const std::vector<double> leads = {0.0, 3.375, 7.5};
    const std::string keys = "123A456B789C*0#D";
#endif
    for (const LimitCase& c : cases) {
        for (const KeyTones& k : kKeys) {
            if (keys.find(k.key) == std::string::npos)
                continue;
            for (double lead : leads) {
                std::vector<int16_t> x;
                AppendSilence(&x, 10 + lead);
                AppendPair(&x, k.low * c.lowFactor, k.high * c.highFactor, c.lowDb, c.highDb, c.ms);
                const std::string got = Digits(Receive(x));
                EXPECT_EQ(got, c.accepted ? std::string(1, k.key) : std::string())
                    << c.what << ", key " << k.key << ", lead " << lead;
            }
        }
    }
}

TEST(ExchangeDtmfTest, TooWeakSingleToneNoiseAndSpeechBandMakeNoDigit)
{
    std::vector<int16_t> weak, single, noise, chord;
    AppendPair(&weak, 770, 1336, -45, -45, 100);
    AppendPair(&single, 770, 770, -10, -200, 100);
    std::mt19937 rng(7);
    std::normal_distribution<double> g(0, Amplitude(-12) / std::sqrt(2.0));
    for (int i = 0; i < 8000; ++i)
        noise.push_back(LineSaturate(g(rng)));
    // A tone pair drowned in a third tone of the same power (not a DTMF signal).
    for (int i = 0; i < 800; ++i) {
        const double t = i / kRate;
        chord.push_back(LineSaturate(Amplitude(-10) * (std::sin(2 * M_PI * 770 * t) + std::sin(2 * M_PI * 1336 * t) +
                                                       1.5 * std::sin(2 * M_PI * 1050 * t))));
    }
    for (const auto* x : {&weak, &single, &noise, &chord})
        EXPECT_EQ(Digits(Receive(*x)), "");
}

TEST(ExchangeDtmfTest, InterruptionsAreBridgedAndPausesSeparate)
{
    struct Case {
        double pauseMs;
        const char* expect;
    } cases[] = {{5, "5"}, {10, "5"}, {40, "55"}, {60, "55"}};
    for (const Case& c : cases) {
        std::vector<int16_t> x;
        AppendPair(&x, 770, 1336, -10, -10, 50);
        AppendSilence(&x, c.pauseMs);
        AppendPair(&x, 770, 1336, -10, -10, 50);
        EXPECT_EQ(Digits(Receive(x)), c.expect) << c.pauseMs << " ms pause";
    }
    // Two different keys back to back with a 40 ms pause.
    std::vector<int16_t> x;
    AppendPair(&x, 697, 1209, -10, -10, 45);
    AppendSilence(&x, 40);
    AppendPair(&x, 941, 1477, -10, -10, 45);
    EXPECT_EQ(Digits(Receive(x)), "1#");
}

#ifdef HAVE_SPANDSP
// Digits from an independent generator, straight and through a companded, attenuated, noisy line.
std::vector<int16_t> SpanDtmf(const char* digits, int level, int twist, int onMs, int offMs)
{
    dtmf_tx_state_t* tx = dtmf_tx_init(nullptr);
    dtmf_tx_set_level(tx, level, twist);
    dtmf_tx_set_timing(tx, onMs, offMs);
    dtmf_tx_put(tx, digits, -1);
    std::vector<int16_t> x;
    int16_t buf[160];
    int n;
    while ((n = dtmf_tx(tx, buf, 160)) > 0)
        x.insert(x.end(), buf, buf + n);
    dtmf_tx_free(tx);
    return x;
}

TEST(ExchangeDtmfTest, IndependentGeneratorAllKeysAtTheTimingAndLevelLimits)
{
    const char* all = "0123456789ABCD*#";
    struct Case {
        int level, twist, on, off;
    } cases[] = {{-10, 0, 50, 50}, {-10, 0, 40, 40}, {-25, 0, 45, 45}, {-3, 0, 40, 40}};
    for (const Case& c : cases) {
        const auto x = SpanDtmf(all, c.level, c.twist, c.on, c.off);
        EXPECT_EQ(Digits(Receive(x)), all) << c.level << " dBm0, " << c.on << "/" << c.off << " ms";
    }
    // Too short to be a digit.
    EXPECT_EQ(Digits(Receive(SpanDtmf("159#", -10, 0, 20, 50))), "");

    LineModelParams line;
    line.attenuationDb = 6;
    line.snrDb = 25;
    line.companding = LINE_COMPANDING_ULAW;
    LineDirection direction;
    direction.Configure(line);
    auto x = SpanDtmf(all, -8, 0, 45, 45);
    std::vector<int16_t> y(x.size());
    direction.Process(x.data(), y.data(), x.size());
    EXPECT_EQ(Digits(Receive(y)), all);
}
#endif

}  // namespace
