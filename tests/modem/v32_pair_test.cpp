// Two V.32bis modems on the duplex line (near echo 10 dB, far echo 16 dB after the round trip, 30 dB
// signal-to-noise ratio, the far clock 50 ppm away): handshake, rates, data and retrain.
#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <climits>
#include <cstdio>

#include "modem/v32_fixture.h"

namespace {

using v32test::EchoLine;
using v32test::Pair;
using v32test::PairOptions;

#if defined(MODEM_UNDER_SANITIZER)
constexpr double kDataSeconds = 30.0;           // about 54 KB at 14400
constexpr double kRateSeconds = 4.0;
#else
constexpr double kDataSeconds = 8.0 * 1048576 / 14400 + 2.0;  // 1 MiB at 14400
constexpr double kRateSeconds = 30.0;           // at each rate: 11 samples of drift at 50 ppm
#endif

// Both ends report data with the same rate, and each sent the status sequence 0x10, 2.
void ExpectData(Pair& pair, int32_t rate)
{
    for (int s = 0; s < 2; ++s) {
        const v32test::End& e = pair.Side(s);
        EXPECT_TRUE(e.modem.dataRunning) << s << " " << pair.Describe();
        EXPECT_EQ(e.modem.rateCode, rate) << s << " " << pair.Describe();
        ASSERT_GE(e.statuses.size(), 2u) << s;
        EXPECT_EQ(e.statuses[e.statuses.size() - 2], 0x10);
        EXPECT_EQ(e.statuses.back(), 2);
    }
}

TEST(V32Pair, EveryRateConnectsAndCarriesDataOnAnEchoingLineWithClockOffset)
{
    const struct {
        uint8_t caller, answerer;
        double farMs, ppm;
        int32_t rate;
    } cases[] = {
        {0x02, 0x3E, 0.0, 50.0, 5},    // 4800: the caller offers it alone
        {0x3E, 0x06, 40.0, -50.0, 6},  // 7200: the highest the answerer has
        {0x0E, 0x3E, 20.0, 50.0, 7},   // 9600 trellis
        {0x1E, 0x1E, 10.0, -50.0, 8},  // 12000
        {0x3E, 0x3E, 40.0, 50.0, 9},   // 14400
        {0x3E, 0x3E, 0.0, -50.0, 9},
    };
#if defined(MODEM_UNDER_SANITIZER)
    const size_t count = 3;  // 4800, 7200 and 9600 under the sanitizers; the last two are slow there
#else
    const size_t count = sizeof(cases) / sizeof(cases[0]);
#endif
    for (size_t k = 0; k < count; ++k) {
        const auto& c = cases[k];
        PairOptions o;
        o.callerRates = c.caller;
        o.answererRates = c.answerer;
        o.line = EchoLine(c.farMs, c.ppm);
        Pair pair(o);
        ASSERT_TRUE(pair.RunUntilData(16.0)) << pair.Describe();
        ExpectData(pair, c.rate);
        // Then data both ways for long enough that the far clock drifts by several samples.
        const size_t bits = static_cast<size_t>(kRateSeconds * 2400.0 * (c.rate - 3));
        for (int s = 0; s < 2; ++s) {
            pair.Side(s).random = true;
            pair.Side(s).limit = bits;
        }
        pair.Run(kRateSeconds + 1.0);
        for (int s = 0; s < 2; ++s) {
            size_t n = 0;
            EXPECT_EQ(pair.Errors(s, &n), 0) << k << " " << s;
            EXPECT_EQ(n, bits) << k << " " << s;
        }
    }
}

// A far echo 5-6 ms behind the near one (between the near canceller's span and where the far one would
// sit), and near echoes louder than the usual 10 dB down (the caller's own AA or CC then pulls the
// answerer's alternation towards a tone in its detectors): still 14400 and error-free data.
TEST(V32Pair, LoudNearEchoesAndShortFarEchoesKeep14400)
{
    const struct {
        double nearLoss, farMs;
    } cases[] = {{10.0, 5.0}, {10.0, 6.0}, {6.0, 20.0}, {3.0, 40.0}, {4.0, 10.0}};
#if defined(MODEM_UNDER_SANITIZER)
    const size_t count = 2;
#else
    const size_t count = sizeof(cases) / sizeof(cases[0]);
#endif
    for (size_t k = 0; k < count; ++k) {
        PairOptions o;
        o.line = EchoLine(cases[k].farMs, 50.0);
        for (int s = 0; s < 2; ++s)
            o.line.side[s].nearLossDb = cases[k].nearLoss;
        Pair pair(o);
        ASSERT_TRUE(pair.RunUntilData(16.0)) << k << " " << pair.Describe();
        ExpectData(pair, 9);
        for (int s = 0; s < 2; ++s) {
            pair.Side(s).random = true;
            pair.Side(s).limit = 28800;
        }
        pair.Run(3.0);
        for (int s = 0; s < 2; ++s) {
            size_t n = 0;
            EXPECT_EQ(pair.Errors(s, &n), 0) << k << " " << s;
            EXPECT_EQ(n, 28800u) << k << " " << s;
        }
    }
}

// The error measure grades the line, not the rate: on one line it reads alike at 4800, 7200, 9600 (coded and
// uncoded) and 14400, so a pair that renegotiated down can see a clean line again and climb back.
TEST(V32Pair, TheErrorMeasureIsTheSameAtEveryRate)
{
    const struct {
        uint8_t rates;
        uint16_t callerWord, answererWord;
        int32_t rate;
    } cases[] = {{0x02, 0, 0, 5}, {0x06, 0, 0, 6}, {0x0E, 0, 0, 7}, {0x3E, 0x88C0, 0x88E0, 7}, {0x3E, 0, 0, 9}};
#if defined(MODEM_UNDER_SANITIZER)
    const size_t count = 2;
#else
    const size_t count = sizeof(cases) / sizeof(cases[0]);
#endif
    int32_t low = INT32_MAX, high = 0;
    for (size_t k = 0; k < count; ++k) {
        PairOptions o;
        o.callerRates = cases[k].rates;
        o.callerWord = cases[k].callerWord;
        o.answererWord = cases[k].answererWord;
        o.line = EchoLine(20.0, 50.0, 25.0, 7);
        Pair pair(o);
        ASSERT_TRUE(pair.RunUntilData(16.0)) << k << " " << pair.Describe();
        ASSERT_EQ(pair.Caller().modem.rateCode, cases[k].rate) << k;
        pair.Run(3.0);
        for (int s = 0; s < 2; ++s) {
            const int32_t m = pair.Side(s).modem.rx.errorMeasure >> 16;
            low = std::min(low, m);
            high = std::max(high, m);
        }
    }
    EXPECT_LT(high, low * 5 / 4) << low << " " << high;
    EXPECT_LT(high, 600) << "25 dB allows 14400";
}

TEST(V32Pair, UncodedNineSixHundredBetweenTwoV32Words)
{
    PairOptions o;
    o.callerWord = 0x88C0;    // V.32: 9600 without the trellis bit
    o.answererWord = 0x88E0;  // and 4800
    o.line = EchoLine(20.0, 50.0);
    Pair pair(o);
    ASSERT_TRUE(pair.RunUntilData(16.0)) << pair.Describe();
    ExpectData(pair, 7);
    EXPECT_EQ(pair.Caller().modem.rx.trellis, 0);
    EXPECT_EQ(pair.Caller().modem.rx.wordType, 2);
    for (int s = 0; s < 2; ++s) {
        pair.Side(s).random = true;
        pair.Side(s).limit = 20000;
    }
    pair.Run(3.0);
    for (int s = 0; s < 2; ++s) {
        size_t n = 0;
        EXPECT_EQ(pair.Errors(s, &n), 0) << s;
        EXPECT_EQ(n, 20000u) << s;
    }
}

TEST(V32Pair, NoCommonRateEndsBothSidesWithStatus4)
{
    PairOptions o;
    o.callerRates = 0x20;    // 14400 only
    o.answererRates = 0x02;  // 4800 only
    o.line = EchoLine(20.0, 50.0);
    Pair pair(o);
    pair.Run(16.0);
    for (int s = 0; s < 2; ++s) {
        const v32test::End& e = pair.Side(s);
        EXPECT_FALSE(e.modem.dataRunning) << s;
        EXPECT_TRUE(e.modem.gaveUp) << s << " " << pair.Describe();
        ASSERT_FALSE(e.statuses.empty()) << s;
        EXPECT_EQ(e.statuses.back(), 4) << s;
    }
}

// 1 MiB each way with the far clock 50 ppm fast: about ten minutes of line, over which the far end's
// samples drift by four thousand symbols. (The line model's skew needs a delay in hand for the whole run,
// which it adds to one direction only; the far echo comes back with the near one here, since the round trip
// the modems measure at the start holds that extra delay.)
TEST(V32Pair, RandomDataAt14400IsErrorFreeBothWaysWithClockOffset)
{
    PairOptions o;
    o.line = EchoLine(0.0, 50.0);
    o.line.skewAllowanceSeconds = kDataSeconds + 20.0;
    Pair pair(o);
    ASSERT_TRUE(pair.RunUntilData(16.0)) << pair.Describe();
    ExpectData(pair, 9);
    const size_t bits = static_cast<size_t>((kDataSeconds - 2.0) * 14400);
    for (int s = 0; s < 2; ++s) {
        pair.Side(s).random = true;
        pair.Side(s).limit = bits;
    }
    pair.Run(kDataSeconds);
    for (int s = 0; s < 2; ++s) {
        // The first 128 symbols of data carry ones, whatever the framer has (the receiver's first four
        // symbols may still be settling, and the descrambler carries an error 23 bits on).
        const std::vector<uint8_t>& got = pair.Side(s).received;
        ASSERT_GE(got.size(), 128u * 6u);
        EXPECT_EQ(std::count(got.begin() + 8 * 6, got.begin() + 120 * 6, 1), 112 * 6) << s;
        size_t n = 0;
        EXPECT_EQ(pair.Errors(s, &n), 0) << s << " " << pair.Describe();
        EXPECT_EQ(n, bits) << s;
        EXPECT_EQ(pair.LineGlitches(), 0u);
    }
}

// Bit error rate at 14400 against the line's signal-to-noise ratio with the far clock 50 ppm away, reported as
// test properties: 600,000 bits each way (the run stays within the minute of drift the line model holds), so the
// aim, below 1e-5 from 25 dB, allows at most five errors a side.
TEST(V32Pair, BitErrorRateAgainstNoise)
{
#if defined(MODEM_UNDER_SANITIZER)
    const double snrs[] = {28.0};
    const size_t bits = 100000;
#else
    const double snrs[] = {21.0, 22.0, 25.0, 28.0};
    const size_t bits = 600000;
#endif
    for (double snr : snrs) {
        PairOptions o;
        o.line = EchoLine(20.0, 50.0, snr, 7);
        Pair pair(o);
        ASSERT_TRUE(pair.RunUntilData(16.0)) << snr << " " << pair.Describe();
        // Below about 24 dB the pair agrees on 12000: its error rate is measured there.
        const int32_t rate = pair.Caller().modem.rateCode;
        const double bitRate = 2400.0 * (rate - 3);
        for (int s = 0; s < 2; ++s) {
            pair.Side(s).random = true;
            pair.Side(s).limit = bits;
        }
        pair.Run(bits / bitRate + 1.0);
        for (int s = 0; s < 2; ++s) {
            size_t n = 0;
            const long errors = pair.Errors(s, &n);
            const double ber = n ? static_cast<double>(errors) / static_cast<double>(n) : 1.0;
            std::printf("SNR %.0f dB, %s: %ld errors in %zu bits at %.0f (BER %.2e)\n", snr,
                        s ? "answerer" : "caller", errors, n, bitRate, ber);
            RecordProperty("ber_at_" + std::to_string(static_cast<int>(snr)) + "dB_" + (s ? "answerer" : "caller"),
                           std::to_string(ber) + " at " + std::to_string(static_cast<int>(bitRate)));
            if (snr >= 25.0) {
                EXPECT_EQ(rate, 9) << snr;
                EXPECT_EQ(n, bits) << snr << " " << s;
                EXPECT_LT(ber, 1e-5) << snr << " " << s;
                EXPECT_EQ(pair.LineGlitches(), 0u);
            }
        }
    }
}

TEST(V32Pair, RetrainReportsState3AndComesBackToData)
{
    PairOptions o;
    o.line = EchoLine(20.0, -50.0);
    Pair pair(o);
    ASSERT_TRUE(pair.RunUntilData(16.0)) << pair.Describe();
    pair.Run(0.5);
    V32ModemRetrain(&pair.Caller().modem);
    EXPECT_FALSE(pair.Caller().modem.dataRunning);
    pair.Run(0.5);
    // The far end hears the caller's AA in place of data and retrains too.
    EXPECT_FALSE(pair.Answerer().modem.dataRunning) << pair.Describe();
    ASSERT_TRUE(pair.RunUntilData(16.0)) << pair.Describe();
    for (int s = 0; s < 2; ++s) {
        const std::vector<uint8_t>& st = pair.Side(s).statuses;
        const auto three = std::find(st.begin(), st.end(), 3);
        ASSERT_NE(three, st.end()) << s;
        EXPECT_NE(std::find(three, st.end(), 2), st.end()) << s;
        EXPECT_EQ(pair.Side(s).modem.retrains, 1) << s;
    }
    ExpectData(pair, 9);
}

// Rate renegotiation from data, started by either end: the other hears the signal in place of data and
// answers with its own, both send their words and E, and data goes on at the best rate both words offer.
// Here the starting end has dropped 14400 from its options first, so the pair moves down to 12000; then the
// other end, with all rates, asks again and the pair stays at 12000 only if the first end still lacks 14400.
TEST(V32Pair, RenegotiationFromEitherEndAgreesOnTheRateBothOffer)
{
    for (int starter = 0; starter < 2; ++starter) {
        PairOptions o;
        o.line = EchoLine(20.0, starter ? 50.0 : -50.0);
        Pair pair(o);
        ASSERT_TRUE(pair.RunUntilData(16.0)) << pair.Describe();
        ExpectData(pair, 9);
        pair.Run(0.5);
        V32Modem& first = pair.Side(starter).modem;
        V32Modem& other = pair.Side(1 - starter).modem;
        first.capability = V32CapabilityWord(0x1E, 16);  // up to 12000
        ASSERT_TRUE(V32ModemRenegotiate(&first));
        EXPECT_FALSE(V32ModemRenegotiate(&first));  // already under way
        const size_t reports = other.port.owner ? pair.Side(1 - starter).statuses.size() : 0;
        pair.Run(0.05);
        EXPECT_FALSE(first.dataRunning);
        pair.Run(0.3);
        ASSERT_TRUE(pair.RunUntilData(4.0)) << starter << " " << pair.Describe();
        ExpectData(pair, 8);
        EXPECT_EQ(pair.Side(1 - starter).statuses.size(), reports + 2);  // 0x10 and 2 once more
        EXPECT_EQ(first.retrains + other.retrains, 0) << starter;
        for (int s = 0; s < 2; ++s) {
            pair.Side(s).random = true;
            pair.Side(s).limit = pair.Side(s).sent.size() + 60000;
        }
        pair.Run(6.0);
        for (int s = 0; s < 2; ++s) {
            size_t n = 0;
            EXPECT_EQ(pair.Errors(s, &n), 0) << starter << " " << s;
            EXPECT_EQ(n, 60000u) << starter << " " << s;
        }
        // The other end asks: the first still offers no 14400.
        ASSERT_TRUE(V32ModemRenegotiate(&other));
        pair.Run(0.3);
        ASSERT_TRUE(pair.RunUntilData(4.0)) << starter << " " << pair.Describe();
        ExpectData(pair, 8);
        // With 14400 back in the first end's options, its next request returns the pair to 14400 (once the
        // error measure has settled on data again).
        pair.Run(1.0);
        first.capability = V32CapabilityWord(0x3E, 16);
        ASSERT_TRUE(V32ModemRenegotiate(&first));
        pair.Run(0.3);
        ASSERT_TRUE(pair.RunUntilData(4.0)) << starter << " " << pair.Describe();
        ExpectData(pair, 9);
        EXPECT_EQ(first.retrains + other.retrains, 0) << starter;
    }
}

// The line-quality grade (register 55 holds it times 8) from the error measure of data: at 12000, 0 on a
// clean line and 1 on a noisy one; 1 outside data.
TEST(V32Pair, LineQualityGradeFollowsTheNoise)
{
    const struct {
        double snr;
        int32_t grade;
    } cases[] = {{35.0, 0}, {21.0, 1}};
    for (const auto& c : cases) {
        PairOptions o;
        o.callerRates = 0x1E;  // up to 12000
        o.line = EchoLine(20.0, 50.0, c.snr, 3);
        Pair pair(o);
        EXPECT_EQ(V32ModemGrade(&pair.Caller().modem), 1);
        ASSERT_TRUE(pair.RunUntilData(16.0)) << pair.Describe();
        ExpectData(pair, 8);
        pair.Run(1.0);
        for (int s = 0; s < 2; ++s)
            EXPECT_EQ(V32ModemGrade(&pair.Side(s).modem), c.grade) << c.snr << " " << s << " " << pair.Describe();
    }
}

// The direct start (command 0x6E): both ends, set to the same rate, train at once on a line without echo,
// each by its role (the scramblers differ), and report data with 0x10 and 5.
// Both ends started directly, with equal or different rate options: each sends its best rate, and both take
// the best rate the two have in common in both directions.
TEST(V32Pair, DirectStartTrainsBothEndsAtOnce)
{
    const struct {
        uint8_t caller, answerer;
        int32_t rate;
    } cases[] = {{0x1E, 0x1E, 8}, {0x3E, 0x1E, 8}, {0x0E, 0x3E, 7}};
    for (const auto& c : cases) {
        PairOptions o;
        o.direct = true;
        o.callerRates = c.caller;
        o.answererRates = c.answerer;
        o.line = EchoLine(0.0, 50.0);
        for (int s = 0; s < 2; ++s)
            o.line.side[s].nearLossDb = o.line.side[s].farLossDb = INFINITY;
        Pair pair(o);
        ASSERT_TRUE(pair.RunUntilData(8.0)) << pair.Describe();
        for (int s = 0; s < 2; ++s) {
            const v32test::End& e = pair.Side(s);
            EXPECT_EQ(e.modem.rateCode, c.rate) << s;
            EXPECT_EQ(e.modem.tx.bitsPerSymbol, c.rate - 3) << s;
            ASSERT_GE(e.statuses.size(), 2u) << s;
            EXPECT_EQ(e.statuses[e.statuses.size() - 2], 0x10) << s;
            EXPECT_EQ(e.statuses.back(), 5) << s;
            pair.Side(s).random = true;
            pair.Side(s).limit = 24000;
        }
        pair.Run(3.0);
        for (int s = 0; s < 2; ++s) {
            size_t n = 0;
            EXPECT_EQ(pair.Errors(s, &n), 0) << s;
            EXPECT_EQ(n, 24000u) << s;
        }
    }
}

}  // namespace
