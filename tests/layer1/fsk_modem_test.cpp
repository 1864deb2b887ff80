// The FSK modulator and demodulator on bit streams, through the 8000 Hz line: mark and space frequencies
// against the Recommendations' values, asynchronous data at 20 dB SNR on every channel, and an independent
// FSK modem decoding our signals and being decoded by our receiver.
#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <string>
#include <vector>

#include "fsk_fixture.h"
#include "layer1/modem/fsk/fsk_state.h"
#include "support/line_signal.h"

#ifdef HAVE_SPANDSP
#include <spandsp.h>
#endif

namespace {

using fsktest::AsyncBits;
using fsktest::AsyncReceiver;
using fsktest::LinePath;

constexpr int16_t kGainMinus9 = 12735;  // the FSK gain of a 0 dB transmit level (the gain table's -9 dB)

#if defined(MODEM_UNDER_SANITIZER)
constexpr size_t kBytes = 300;
#else
constexpr size_t kBytes = 10000;
#endif

struct Channel {
    const char* name;
    int32_t id;
    double mark;
    double space;
    double bitRate;
};

const Channel kChannels[] = {
    {"V.21 channel 1", FSK_V21_CH1, 980, 1180, 300},
    {"V.21 channel 2", FSK_V21_CH2, 1650, 1850, 300},
    {"Bell 103 originate", FSK_BELL103_ORIGINATE, 1270, 1070, 300},
    {"Bell 103 answer", FSK_BELL103_ANSWER, 2225, 2025, 300},
    {"V.23 backward", FSK_V23_BACKWARD, 390, 450, 75},
    {"V.23 600", FSK_V23_600, 1300, 1700, 600},
    {"V.23 1200", FSK_V23_1200, 1300, 2100, 1200},
};

// A modem of one channel in both directions with a bit queue to send and a character receiver.
struct TestModem {
    FskState fsk{};
    std::deque<int> txBits;
    AsyncReceiver rx;
    std::vector<int> rawBits;
    bool keepRaw = false;
    int statusChanges = 0;
    uint8_t lastState = 0xFF;

    explicit TestModem(int32_t txId, int32_t rxId)
    {
        FskSelectChannels(&fsk, txId, rxId);
        fsk.mod.gain = kGainMinus9;
        fsk.demod.receiverKind = FSK_RX_DATA;
        fsk.port = FskPort{this, &GetBit, &PutBit, nullptr, nullptr, &Status};
        FskResetModulator(&fsk);
        FskResetReceiver(&fsk);
    }
    static int32_t GetBit(void* owner)
    {
        auto* m = static_cast<TestModem*>(owner);
        if (m->txBits.empty())
            return 1;
        const int b = m->txBits.front();
        m->txBits.pop_front();
        return b;
    }
    static void PutBit(void* owner, int32_t bit)
    {
        auto* m = static_cast<TestModem*>(owner);
        m->rx.Put(bit);
        if (m->keepRaw)
            m->rawBits.push_back(bit);
    }
    static void Status(void* owner, uint8_t value, int set)
    {
        auto* m = static_cast<TestModem*>(owner);
        m->statusChanges += 1;
        if (value < 16 && set)
            m->lastState = value;
    }
};

std::vector<int16_t> Modulate(TestModem& m, size_t n)
{
    std::vector<int16_t> out(n);
    for (size_t at = 0; at < n; at += 96)
        FskModulate(&m.fsk, out.data() + at, static_cast<int32_t>(std::min<size_t>(96, n - at)));
    return out;
}

std::vector<double> ResampleTo8000(const std::vector<int16_t>& x)
{
    Resampler r;
    r.ConfigureRates(9600, 8000);
    std::vector<double> d(x.begin(), x.end());
    r.Push(d.data(), d.size());
    std::vector<double> out(d.size());
    out.resize(r.Pull(out.data(), out.size()));
    return out;
}

TEST(FskModulator, MarkAndSpaceOnTheLineAreTheRecommendationsFrequencies)
{
    for (const Channel& c : kChannels) {
        for (int bit : {1, 0}) {
            TestModem m(c.id, c.id);
            m.txBits.assign(100000, bit);
            const std::vector<double> line = ResampleTo8000(Modulate(m, 9600));
            const double expected = bit ? c.mark : c.space;
            const linetest::ToneFit fit = linetest::FitTone(line, 8000, expected, 800, 7800);
            EXPECT_NEAR(fit.frequency, expected, 1.0) << c.name << " bit " << bit;
            // A steady tone at the gain of -9 dB, with nothing else on the line.
            EXPECT_NEAR(fit.amplitude, kGainMinus9, kGainMinus9 * 0.03) << c.name;
            EXPECT_LT(fit.residualDb, -40) << c.name;
        }
    }
}

// Response of a channel's receive filter to a tone, in dB against its DC gain.
double ReceiveResponseDb(int32_t id, double toneHz)
{
    const FskRxChannel* ch = FskRxChannelOf(id);
    const double offset = toneHz - ch->carrierStep * 9600.0 / 65536.0;
    double re = 0, im = 0, dc = 0;
    for (int k = 0; k < kFskTaps; ++k) {
        re += ch->taps[k] * std::cos(2 * std::acos(-1.0) * offset * k / 9600.0);
        im += ch->taps[k] * std::sin(2 * std::acos(-1.0) * offset * k / 9600.0);
        dc += ch->taps[k];
    }
    return 20 * std::log10(std::hypot(re, im) / dc);
}

TEST(FskDemodulator, ReceiveFiltersPassTheirTonesAndRejectTheOtherDirection)
{
    struct Case {
        int32_t rx;
        double own[2];     // mark and space of the channel
        double other[2];   // the tones the near end sends in a duplex call
    };
    const Case cases[] = {
        {FSK_V21_CH1, {980, 1180}, {1650, 1850}},
        {FSK_V21_CH2, {1650, 1850}, {980, 1180}},
        {FSK_BELL103_ORIGINATE, {1270, 1070}, {2225, 2025}},
        {FSK_BELL103_ANSWER, {2225, 2025}, {1270, 1070}},
        {FSK_V23_1200, {1300, 2100}, {390, 450}},
        {FSK_V23_BACKWARD, {390, 450}, {1300, 2100}},
    };
    for (const Case& c : cases) {
        for (double f : c.own)
            EXPECT_NEAR(ReceiveResponseDb(c.rx, f), 0.0, 0.2) << c.rx << " " << f;
        for (double f : c.other)
            EXPECT_LT(ReceiveResponseDb(c.rx, f), -38.0) << c.rx << " " << f;
    }
}

TEST(FskModulator, NothingToSendIsSilence)
{
    TestModem m(FSK_V21_CH2, FSK_V21_CH2);
    m.fsk.port.getTxBit = [](void*) -> int32_t { return -1; };
    const std::vector<int16_t> out = Modulate(m, 960);
    for (int16_t v : out)
        ASSERT_EQ(v, 0);
}

// Sends bytes one way through the line at the given SNR and returns what the receiver decoded.
AsyncReceiver RoundTrip(int32_t id, const std::vector<uint8_t>& bytes, double snrDb, uint32_t seed)
{
    TestModem tx(id, id);
    TestModem rx(id, id);
    tx.txBits = AsyncBits(bytes, 200, 100);
    const size_t samplesPerBit = static_cast<size_t>(tx.fsk.tx->samplesPerBit);
    const size_t total = tx.txBits.size() * samplesPerBit + 9600;
    LinePath line(9600, 9600, snrDb, fsktest::SineDbm0(kGainMinus9), seed);
    std::vector<int16_t> block(96);
    for (size_t at = 0; at < total; at += 96) {
        FskModulate(&tx.fsk, block.data(), 96);
        const std::vector<int16_t> heard = line.Process(block.data(), block.size());
        FskDemodulate(&rx.fsk, heard.data(), static_cast<int32_t>(heard.size()));
    }
    return rx.rx;
}

TEST(FskModem, EveryChannelCarriesAsynchronousDataAt20DbSnr)
{
    for (const Channel& c : kChannels) {
        const size_t n = c.bitRate < 100 ? kBytes / 8 : kBytes;
        const std::vector<uint8_t> bytes = fsktest::RandomBytes(n, 7 + static_cast<uint32_t>(c.id));
        const AsyncReceiver got = RoundTrip(c.id, bytes, 20.0, 3 + static_cast<uint32_t>(c.id));
        EXPECT_EQ(got.framingErrors, 0) << c.name;
        EXPECT_TRUE(got.bytes == bytes) << c.name << fsktest::Mismatch(got.bytes, bytes);
    }
}

#ifdef HAVE_SPANDSP

const fsk_spec_t* PeerSpec(int32_t id)
{
    static const fsk_spec_t kV23Half = {"V.23 600", 1700, 1300, -14, -30, 60000};
    switch (id) {
    case FSK_V21_CH1: return &preset_fsk_specs[FSK_V21CH1];
    case FSK_V21_CH2: return &preset_fsk_specs[FSK_V21CH2];
    // The peer numbers the Bell 103 channels the other way round: its channel 1 is the answer tones.
    case FSK_BELL103_ORIGINATE: return &preset_fsk_specs[FSK_BELL103CH2];
    case FSK_BELL103_ANSWER: return &preset_fsk_specs[FSK_BELL103CH1];
    case FSK_V23_BACKWARD: return &preset_fsk_specs[FSK_V23CH2];
    case FSK_V23_1200: return &preset_fsk_specs[FSK_V23CH1];
    default: return &kV23Half;
    }
}

struct PeerBits {
    std::deque<int> tx;
    AsyncReceiver rx;
    bool carrier = false;
    int settle = 20;  // bits after the carrier report that may still carry the receiver's start-up
};

int PeerGetBit(void* user)
{
    auto* p = static_cast<PeerBits*>(user);
    if (p->tx.empty())
        return 1;
    const int b = p->tx.front();
    p->tx.pop_front();
    return b;
}

void PeerPutBit(void* user, int bit)
{
    auto* p = static_cast<PeerBits*>(user);
    if (bit < 0) {
        // Status reports; the bits count from the report of the carrier on.
        if (bit == SIG_STATUS_CARRIER_UP)
            p->carrier = true;
        return;
    }
    if (!p->carrier)
        return;
    if (p->settle > 0) {
        p->settle -= 1;  // inside the 200 bits of marks that lead the data
        return;
    }
    p->rx.Put(bit & 1);
}

constexpr size_t kPeerBytes =
#if defined(MODEM_UNDER_SANITIZER)
    100;
#else
    1000;
#endif

TEST(FskInterop, IndependentReceiverDecodesOurTransmitter)
{
    for (const Channel& c : kChannels) {
        const size_t n = c.bitRate < 100 ? kPeerBytes / 8 : kPeerBytes;
        const std::vector<uint8_t> bytes = fsktest::RandomBytes(n, 11 + static_cast<uint32_t>(c.id));
        TestModem ours(c.id, c.id);
        ours.txBits = AsyncBits(bytes, 200, 100);
        PeerBits peer;
        fsk_rx_state_t* rx = fsk_rx_init(nullptr, PeerSpec(c.id), FSK_FRAME_MODE_ASYNC, PeerPutBit, &peer);
        ASSERT_NE(rx, nullptr);
        LinePath line(9600, 8000, 20.0, fsktest::SineDbm0(kGainMinus9), 21);
        const size_t total = ours.txBits.size() * static_cast<size_t>(ours.fsk.tx->samplesPerBit) + 9600;
        std::vector<int16_t> block(96);
        for (size_t at = 0; at < total; at += 96) {
            FskModulate(&ours.fsk, block.data(), 96);
            std::vector<int16_t> heard = line.Process(block.data(), block.size());
            fsk_rx(rx, heard.data(), static_cast<int>(heard.size()));
        }
        fsk_rx_free(rx);
        EXPECT_EQ(peer.rx.framingErrors, 0) << c.name;
        EXPECT_TRUE(peer.rx.bytes == bytes) << c.name << fsktest::Mismatch(peer.rx.bytes, bytes);
    }
}

TEST(FskInterop, OurReceiverDecodesTheIndependentTransmitter)
{
    for (const Channel& c : kChannels) {
        const size_t n = c.bitRate < 100 ? kPeerBytes / 8 : kPeerBytes;
        const std::vector<uint8_t> bytes = fsktest::RandomBytes(n, 13 + static_cast<uint32_t>(c.id));
        PeerBits peer;
        peer.tx = AsyncBits(bytes, 200, 100);
        fsk_tx_state_t* tx = fsk_tx_init(nullptr, PeerSpec(c.id), PeerGetBit, &peer);
        ASSERT_NE(tx, nullptr);
        TestModem ours(c.id, c.id);
        const double level = PeerSpec(c.id)->tx_level;
        LinePath line(8000, 9600, 20.0, level, 23);
        const size_t total = static_cast<size_t>(peer.tx.size() * 8000.0 / c.bitRate) + 8000;
        std::vector<int16_t> block(80);
        for (size_t at = 0; at < total; at += 80) {
            fsk_tx(tx, block.data(), 80);
            std::vector<int16_t> heard = line.Process(block.data(), block.size());
            FskDemodulate(&ours.fsk, heard.data(), static_cast<int32_t>(heard.size()));
        }
        fsk_tx_free(tx);
        EXPECT_EQ(ours.rx.framingErrors, 0) << c.name;
        EXPECT_TRUE(ours.rx.bytes == bytes) << c.name << fsktest::Mismatch(ours.rx.bytes, bytes);
    }
}

#endif  // HAVE_SPANDSP

}  // namespace
