// The V.34 receiver end to end: the transmitter sends training points and then data (random bytes,
// scrambled, framed, shell mapped, trellis coded, at the data rate's transmit scale) through the modulator and
// the line model; the receiver trains on the known schedule, starts data mode at the first data symbol and
// its trellis decoder, demapper and descrambler give back the bytes that were sent.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "layer1/modem/v34/v34_power.h"
#include "layer1/modem/v34/v34_rx_data.h"
#include "tests/modem/v34_rx_chain.h"
#include "tests/modem/v34_rx_open_loop.h"

namespace {

using v34test::LineCase;
using v34test::OpenLoop;
using v34test::RatePair;

constexpr int32_t kCallerPolynomial = 1;   // the transmitter is the calling modem
constexpr int16_t kTrnScale = 13848;       // the 16-point TRN's transmit scale

struct DataCase {
    RatePair pair;
    int states;
    int shaping;
};

struct DataResult {
    std::vector<uint8_t> sent;
    std::vector<uint8_t> received;
    uint32_t erasures = 0;
    int32_t mse = 0;
};

DataResult RunData(const DataCase& c, int32_t trainingSymbols, int32_t dataSymbols, const LineCase& line)
{
    OpenLoop loop(line, 77, c.pair.symbolRateIndex);
    V34Receiver& rx = loop.rx();
    v34test::Options options;
    options.feedback = false;
    const int32_t lag = v34test::StartTraining(loop, options);
    // The training stream ends after trainingSymbols of the receiver's count; the data follow.
    const size_t dataStart =
        static_cast<size_t>(rx.symbolCount) - lag + trainingSymbols + v34test::kMeasureSymbols + 256;
    loop.Cut(dataStart);
    v34test::TxChain chain(c.pair, c.shaping, c.states, false, kCallerPolynomial, 5);
    const int16_t none[6] = {};
    int32_t transmitScale = 0, receiveGain = 0;
    V34PowerScale(c.pair.symbolRateIndex, c.pair.rate, c.shaping, chain.encoder().frame.b, none, &transmitScale,
                  &receiveGain);
    while (loop.Sent() < dataStart + dataSymbols + 400) {
        PackedComplex received[8], ideal[8];
        chain.NextFrame(0.0, received, ideal);
        for (const PackedComplex p : ideal)
            loop.Append(ScaleTransmitPoint(0, transmitScale, 0x7FFF, p));
    }
    for (int i = 0; i < trainingSymbols; ++i) {
        v34test::TrainingStage(rx, i);
        loop.Symbol(lag);
    }
    const int32_t mse = v34test::MeasureMse(loop, lag);
    static V34DataDecisions d;
    V34RxDataParams params{};
    params.symbolRateIndex = c.pair.symbolRateIndex;
    params.rateIndex = c.pair.rate;
    params.shaping = c.shaping;
    params.trellisStates = c.states;
    params.polynomial = kCallerPolynomial;
    params.trainedScale = kTrnScale;
    d.descrambler = 0;
    EXPECT_EQ(StartV34DataReceive(&rx, &d, &params), 0);
    DataResult r;
    for (int i = 0; i < dataSymbols; ++i) {
        if (i == 7)
            vek_lms_set_mu_complex(rx.equaliser, -768);
        uint8_t bytes[16];
        int32_t n;
        while ((n = ReceiveDataBytes(&rx, &d, bytes, 16)) < 0)
            loop.FeedBlock();
        r.received.insert(r.received.end(), bytes, bytes + n);
    }
    r.sent = chain.sent();
    r.erasures = d.demapper.erasures;
    r.mse = mse;
    return r;
}

// The set-up refuses a rate outside the symbol rate's range and changes nothing then.
TEST(V34RxData, StartRefusesARateOutsideTheSymbolRatesRange)
{
    struct Case {
        int s, rate, expected;
    };
    const Case cases[] = {{0, 9, 0}, {0, 10, -1}, {5, 14, 0}, {5, 15, -1}, {5, 1, -1}, {1, 1, -1}, {6, 5, -1}, {-1, 5, -1}};
    for (const Case& k : cases) {
        v34test::RxBench b(10);
        static V34DataDecisions d;
        V34RxDataParams params{};
        params.symbolRateIndex = k.s;
        params.rateIndex = k.rate;
        params.trellisStates = 16;
        b.rx.symbolCount = 5;
        EXPECT_EQ(StartV34DataReceive(&b.rx, &d, &params), k.expected) << k.s << "/" << k.rate;
        EXPECT_EQ(b.rx.symbolCount, k.expected == 0 ? 0u : 5u);
        EXPECT_EQ(b.rx.monitorOn, k.expected == 0 ? 1 : 0);
    }
}

TEST(V34RxData, BytesComeBackThroughModulatorLineAndReceiver)
{
    const DataCase cases[] = {
        {{5, 9}, 16, 1},
        {{3, 7}, 32, 0},
        {{0, 5}, 64, 1},
    };
    for (const DataCase& c : cases) {
        const DataResult r = RunData(c, 3000, 3000, LineCase{"clean", 0, 0, 0, 0});
        std::printf("%d/%d: MSE %d, %zu bytes back, %u erasures\n", c.pair.symbolRateIndex, c.pair.rate, r.mse,
                    r.received.size(), r.erasures);
        ASSERT_GT(r.received.size(), 100u);
        ASSERT_LE(r.received.size(), r.sent.size());
        int errors = 0;
        for (size_t i = 0; i < r.received.size(); ++i)
            errors += r.received[i] != r.sent[i] ? 1 : 0;
        EXPECT_EQ(errors, 0) << c.pair.symbolRateIndex << "/" << c.pair.rate;
    }
}

}  // namespace
