// The V.34 receiver's symbol path open loop: the transmitter's modulator through a line with delay, tilt, a
// frequency offset and a sample-clock offset into the receiver, trained on a known-symbol schedule the way
// the training steps drive it (AGC, then the equaliser, feedback filter, jitter predictor, carrier and timing
// loops with their gains). The mean-square error, measured as the rate choice measures it (256 squared errors
// >> 4, then >> 4), must fall below a high rate's limit at 3429 baud on a clean line; the loops must lock on
// the impaired lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "layer1/modem/v34/v34_rx_readings.h"
#include "tests/modem/v34_rx_open_loop.h"

namespace {

using v34test::LineCase;
using v34test::OpenLoop;
using v34test::Options;

struct Result {
    int32_t mse = 0;
    int32_t lag = 0;
    int32_t timingSteps = 0;
    V34ReceiverReadings readings{};
};

// The training schedule: acquisition (from PP or from a spike), then the gains of the first and second TRN
// stages, then the MP stage and the MSE over 256 symbols as the rate choice takes it.
Result Train(const LineCase& c, int32_t symbols, Options options, bool fromPp = false)
{
    OpenLoop loop(c, 1234);
    V34Receiver& rx = loop.rx();
    Result r;
    r.lag = fromPp ? v34test::StartTrainingFromPp(loop, options) : v34test::StartTraining(loop, options);
    for (int i = 0; i < symbols; ++i) {
        v34test::TrainingStage(rx, i);
        loop.Symbol(r.lag);
        r.timingSteps += rx.timingStep != 0 ? 1 : 0;
    }
    r.mse = v34test::MeasureMse(loop, r.lag);
    static V34Pump pump;
    pump.receiver = rx;
    ReadV34Receiver(&pump, &r.readings);
    return r;
}

// The feedback filter is left out here: it raises the error on these lines (see the note).

// From PP, as the training steps start: the initial equaliser from three PP captures and the carrier offset
// between them, then 1000 symbols of 4-point TRN at the training gains, then the MP stage and the MSE over 256
// symbols of 16-point TRN. On a clean line and through delay, tilt, +-5 Hz and +-100 ppm the MSE is below the
// limit of 33600 bit/s at 3429 baud.
TEST(V34Receiver, FromPpTheMseFallsBelowTheTopRatesLimitAt3429)
{
#if defined(MODEM_UNDER_SANITIZER)
    const LineCase cases[] = {{"clean", 0, 0, 0, 0}, {"+5 Hz, +100 ppm, tilt", 5.0, 100.0, 0.35, 37.3}};
#else
    const LineCase cases[] = {
        {"clean", 0, 0, 0, 0},
        {"+5 Hz, +100 ppm, tilt", 5.0, 100.0, 0.35, 37.3},
        {"-5 Hz, -100 ppm, tilt", -5.0, -100.0, 0.35, 11.7},
        {"tilt", 0, 0, 0.35, 0},
    };
#endif
    constexpr int32_t kTopRateLimit = 70618;
    for (const LineCase& c : cases) {
        Options o;
        o.feedback = false;
        const Result r = Train(c, 1000, o, true);
        std::printf("from PP, %s: MSE %d, %d timing steps\n", c.name, r.mse, r.timingSteps);
        EXPECT_LT(r.mse, kTopRateLimit) << c.name;
    }
}

// The diagnostic readings after training from PP: the SNR the controller computes from the signal and error
// powers agrees with the MSE against the 16-point signal's power; the carrier offset (degrees per symbol) is
// the line's, with its sign.
TEST(V34Receiver, ReadingsShowTheSnrTheCarrierAndTheClockOffset)
{
    struct Case {
        LineCase line;
        int32_t degrees;
    };
    const Case cases[] = {
        {{"+7 Hz, +10 ppm", 7.0, 10.0, 0, 0}, 1},
        {{"-7 Hz, -10 ppm", -7.0, -10.0, 0, 0}, -1},
        {{"clean", 0, 0, 0, 0}, 0},
    };
    // Mean power of the 16-point signal at the MP scale: 2 x (128^2 + 384^2) / 2 x (13315 / 512)^2.
    const double signal = 163840.0 * (13315.0 / 512.0) * (13315.0 / 512.0);
    for (const Case& k : cases) {
        Options o;
        o.feedback = false;
        const Result r = Train(k.line, 1000, o, true);
        const V34ReceiverReadings& g = r.readings;
        ASSERT_GT(g.error, 0u);
        const double snr = 20.0 * std::log10(g.signal) - 10.0 * std::log10(g.error) - 2436.0 / 256.0;
        const double fromMse = 10.0 * std::log10(signal / r.mse);
        std::printf("%s: SNR %.1f dB (MSE %.1f dB), %d degrees/symbol, timing %d\n", k.line.name, snr, fromMse,
                    g.frequency, g.timing);
        EXPECT_NEAR(snr, fromMse, 2.0) << k.line.name;
        EXPECT_EQ(g.frequency, k.degrees) << k.line.name;
        EXPECT_EQ(g.options, 0) << "no data mode";
    }
}

// The clock reading is the timing loop's turn per symbol through its integrator (one sample is 1518500249 and
// a symbol three samples) in ppm x 1518, held to 16 bits; the frequency reading the carrier loop's, negated.
TEST(V34Receiver, ReadingsFollowTheLoopsIntegrators)
{
    static V34Pump pump;
    pump = V34Pump{};
    V34Receiver& rx = pump.receiver;
    struct Case {
        int32_t timing, carrier;
        int16_t ppm1518, degrees;
    };
    const Case cases[] = {
        {45555, 0, 15180, 0},               // 1e-5 of a sample per sample: 10 ppm
        {-22778, 4294967 / 4, -7590, -0},   // a quarter of 1/1000 turn: 0.09 degrees
        {1000000, -11930465, 32767, 1},     // 333 ppm held; 1/360 turn a symbol backwards
    };
    for (const Case& k : cases) {
        rx.timing.integrator = k.timing;
        rx.timing.output = 0x7FFFFFFF;
        rx.carrier.integrator = k.carrier;
        rx.carrier.output = 0x7FFFFFFF;
        V34ReceiverReadings g{};
        ReadV34Receiver(&pump, &g);
        EXPECT_NEAR(g.timing, k.ppm1518, 2) << k.timing;
        EXPECT_EQ(g.frequency, k.degrees) << k.carrier;
        EXPECT_EQ(g.signal, 0u) << "nothing measured";
    }
}

// A spike start (the equaliser a delay, the level and carrier from the soft points) converges too, slowly.
TEST(V34Receiver, CleanLineTrainsToAHighRateAt3429)
{
    Options o;
    o.feedback = false;
    const Result r = Train(LineCase{"clean", 0, 0, 0, 0}, 3000, o);
    std::printf("clean line: MSE %d\n", r.mse);
    EXPECT_LT(r.mse, 170384) << "lag " << r.lag;  // the limit of 26400 bit/s
}

TEST(V34Receiver, LoopsLockThroughDelayTiltOffsetAndClock)
{
#if defined(MODEM_UNDER_SANITIZER)
    const LineCase cases[] = {{"+5 Hz, +100 ppm, tilt", 5.0, 100.0, 0.35, 37.3}};
#else
    const LineCase cases[] = {
        {"+5 Hz, +100 ppm, tilt", 5.0, 100.0, 0.35, 37.3},
        {"-5 Hz, -100 ppm, tilt", -5.0, -100.0, 0.35, 11.7},
    };
#endif
    for (const LineCase& c : cases) {
        Options o;
        o.feedback = false;
        const Result r = Train(c, 6000, o);
        std::printf("%s: MSE %d, %d timing steps\n", c.name, r.mse, r.timingSteps);
        EXPECT_LT(r.mse, 729228) << c.name;  // the limit of 21600 bit/s
        EXPECT_GT(r.timingSteps, 0) << c.name;
    }
}

}  // namespace

