// The V.34 receiver end to end: the transmitter sends training points and then data (random bytes,
// scrambled, framed, shell mapped, trellis coded, at the data rate's transmit scale) through the modulator and
// the line model; the receiver trains on the known schedule, starts data mode at the first data symbol and
// its trellis decoder, demapper and descrambler give back the bytes that were sent.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "layer1/modem/v34/v34_power.h"
#include "layer1/dsp/dsp_context.h"
#include "layer1/dsp/line_statistics.h"
#include "layer1/modem/v34/v34_rx_data.h"
#include "layer1/modem/v34/v34_rx_steps.h"
#include "tests/modem/v34_rx_chain.h"
#include "platform/byte_order.h"
#include "tests/modem/v34_rx_open_loop.h"
#include "window/parameter_ids.h"

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
    std::vector<uint8_t> received;
    uint32_t erasures = 0;
    int32_t mse = 0;
};

// The open loop with its stream: training points, then data from the encoder at the rate's transmit scale.
// Prepare trains the receiver up to the first data symbol.
class DataRun {
public:
    DataRun(const DataCase& c, int32_t trainingSymbols, int32_t dataSymbols, const LineCase& line)
        : c_(c), loop_(line, 77, c.pair.symbolRateIndex), chain_(c.pair, c.shaping, c.states, false, kCallerPolynomial, 5),
          training_(trainingSymbols), data_(dataSymbols)
    {
    }
    OpenLoop& loop() { return loop_; }
    const std::vector<uint8_t>& sent() const { return chain_.sent(); }

    // Training and the MSE stage; returns the MSE. The data follow the MSE stage's training.
    int32_t Prepare()
    {
        V34Receiver& rx = loop_.rx();
        v34test::Options options;
        options.feedback = false;
        const int32_t lag = v34test::StartTrainingFromPp(loop_, options);
        for (int i = 0; i < training_; ++i) {
            v34test::TrainingStage(rx, i);
            loop_.Symbol(lag);
        }
        const int16_t none[6] = {};
        int32_t transmitScale = 0, receiveGain = 0;
        V34PowerScale(c_.pair.symbolRateIndex, c_.pair.rate, c_.shaping, chain_.encoder().frame.b, none,
                      &transmitScale, &receiveGain);
        std::vector<PackedComplex> data;
        while (data.size() < static_cast<size_t>(data_) + 400) {
            PackedComplex received[8], ideal[8];
            chain_.NextFrame(0.0, received, ideal);
            for (const PackedComplex p : ideal)
                data.push_back(ScaleTransmitPoint(0, transmitScale, 0x7FFF, p));
        }
        const int32_t mse = v34test::MeasureMse(loop_, lag, data);
        // The 16-point training ran on to the data; the receiver follows it to the first data symbol.
        const size_t dataStart = loop_.known().points.size();
        while (static_cast<size_t>(rx.symbolCount) - lag < dataStart)
            loop_.Symbol(lag);
        return mse;
    }

    V34RxDataParams Params() const
    {
        V34RxDataParams params{};
        params.symbolRateIndex = c_.pair.symbolRateIndex;
        params.rateIndex = c_.pair.rate;
        params.shaping = c_.shaping;
        params.trellisStates = c_.states;
        params.polynomial = kCallerPolynomial;
        params.trainedScale = kTrnScale;
        return params;
    }
    int32_t DataSymbols() const { return data_; }

private:
    DataCase c_;
    OpenLoop loop_;
    v34test::TxChain chain_;
    int32_t training_;
    int32_t data_;
};

// The receiver on its own: the data-mode start, the equaliser adapting again after 7 symbols, the bytes read
// after every symbol.
DataResult RunData(DataRun& run)
{
    DataResult r;
    r.mse = run.Prepare();
    V34Receiver& rx = run.loop().rx();
    static V34DataDecisions d;
    d.descrambler = 0;
    const V34RxDataParams params = run.Params();
    EXPECT_EQ(StartV34DataReceive(&rx, &d, &params), 0);
    for (int i = 0; i < run.DataSymbols(); ++i) {
        if (i == 7)
            vek_lms_set_mu_complex(rx.equaliser, -768);
        uint8_t bytes[16];
        int32_t n;
        while ((n = ReceiveDataBytes(&rx, &d, bytes, 16)) < 0)
            run.loop().FeedBlock();
        r.received.insert(r.received.end(), bytes, bytes + n);
    }
    r.erasures = d.demapper.erasures;
    return r;
}

int CountErrors(const std::vector<uint8_t>& received, const std::vector<uint8_t>& sent)
{
    int errors = 0;
    for (size_t i = 0; i < received.size() && i < sent.size(); ++i)
        errors += received[i] != sent[i] ? 1 : 0;
    return errors;
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
    struct Case {
        DataCase data;
        LineCase line;
    };
#if defined(MODEM_UNDER_SANITIZER)
    const Case cases[] = {
        {{{5, 14}, 16, 1}, {"clean", 0, 0, 0, 0}},
        {{{1, 9}, 64, 1}, {"-5 Hz, -100 ppm, tilt", -5.0, -100.0, 0.35, 11.7}},
    };
#else
    const Case cases[] = {
        {{{5, 14}, 16, 1}, {"clean", 0, 0, 0, 0}},
        {{{5, 10}, 64, 0}, {"+5 Hz, +100 ppm, tilt", 5.0, 100.0, 0.35, 37.3}},
        {{{3, 10}, 32, 0}, {"clean", 0, 0, 0, 0}},
        {{{1, 9}, 64, 1}, {"-5 Hz, -100 ppm, tilt", -5.0, -100.0, 0.35, 11.7}},
        {{{0, 6}, 16, 1}, {"clean", 0, 0, 0, 0}},
    };
#endif
    for (const Case& k : cases) {
        const DataCase& c = k.data;
        DataRun run(c, 1000, 3000, k.line);
        const DataResult r = RunData(run);
        std::printf("%d/%d, %s: MSE %d, %zu bytes back, %u erasures\n", c.pair.symbolRateIndex, c.pair.rate,
                    k.line.name, r.mse, r.received.size(), r.erasures);
        ASSERT_GT(r.received.size(), 100u);
        ASSERT_LE(r.received.size(), run.sent().size());
        EXPECT_EQ(CountErrors(r.received, run.sent()), 0) << c.pair.symbolRateIndex << "/" << c.pair.rate;
    }
}

// The pump's receive script: the data set-up starts the data steps, which the block intake ticks once per
// symbol; every byte reaches the framer (synchronous bytes).
TEST(V34RxData, ReceiveScriptHandsTheBytesToTheFramer)
{
    DataRun run(DataCase{{5, 13}, 64, 1}, 1000, 3000, LineCase{"clean", 0, 0, 0, 0});
    run.Prepare();
    auto ctx = std::make_unique<DspContext>();
    InitRxFramer(&ctx->signal.framer, 1);
    V34Pump& p = ctx->v34pump;
    p.context = ctx.get();
    p.receiver = run.loop().rx();   // the trained receiver, its library objects with it
    p.rxData.descrambler = 0;
    const V34RxDataParams params = run.Params();
    ASSERT_EQ(StartV34RxData(&p, &params), 0);
    EXPECT_EQ(p.watch.dataMode, 1);
    std::vector<uint8_t> received;
    FramerFifo& fifo = ctx->signal.framer.rx.fifo;
    const int32_t blocks = run.DataSymbols() / kV34BlockSymbols;
    for (int32_t b = 0; b < blocks; ++b) {
        // First the rest of the block the training left, then new ones.
        RunV34ReceiveScript(&p);
        int16_t block[kV34BlockSamples];
        run.loop().NextBlock(block);
        TakeReceiveBlock(&p.receiver, block);
        while (fifo.count > 0) {
            received.push_back(static_cast<uint8_t>(fifo.entry[fifo.read]));
            fifo.read = (fifo.read + 1) % kFramerFifoEntries;
            fifo.count -= 1;
        }
    }
    EXPECT_EQ(p.rxScript.list[p.rxScript.position].handler, StepData) << "past the data start";
    ASSERT_GT(received.size(), 1000u);
    EXPECT_EQ(CountErrors(received, run.sent()), 0);
    // The statistics the controller reads: the receive option word (64 states, shaping) and the SNR's powers.
    ctx->blockHandler = V34BlockHandler;
    uint8_t value[4] = {};
    ReadLineStatistic(ctx.get(), kMemStatRxOptions, value);
    EXPECT_EQ(ReadLe16(value), (2u << kDiagOptionTrellisShift) | kDiagOptionExpanded);
    ReadLineStatistic(ctx.get(), kMemStatErrorPower, value);
    const uint32_t error = ReadLe32(value);
    ReadLineStatistic(ctx.get(), kMemStatSignalPower, value);
    const uint32_t signal = ReadLe32(value);
    ASSERT_GT(error, 0u);
    EXPECT_GT(20.0 * std::log10(signal) - 10.0 * std::log10(error) - 2436.0 / 256.0, 30.0) << "SNR, dB";
    // The far end's S ends data mode: its renegotiation.
    RunV34ReceiveScript(&p);
    p.receiver.detector.sCount = 60;
    int16_t block[kV34BlockSamples];
    run.loop().NextBlock(block);
    TakeReceiveBlock(&p.receiver, block);
    RunV34ReceiveScript(&p);
    EXPECT_EQ(p.receiver.retrainReason, 2);
    EXPECT_EQ(p.txState, kV34TxRenegotiate);
    EXPECT_EQ(p.watch.dataMode, 0);
}

}  // namespace
