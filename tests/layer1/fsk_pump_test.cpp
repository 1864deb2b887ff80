// The FSK modes in the data pump: the start types, the gain rule, two pumps carrying data through their
// register windows over the simulated line, HDLC frames of the fax channel, carrier reports, and the caller-ID
// receiver decoding an independent caller-ID transmitter.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <vector>

#include "dsp_fixture.h"
#include "pump_chunks.h"
#include "fsk_fixture.h"
#include "layer1/dsp/mode_entries.h"
#include "layer1/dsp/register_window.h"
#include "support/line_signal.h"
#include "support/pump_harness.h"

#ifdef HAVE_SPANDSP
#include <spandsp.h>
#endif

using dsptest::Bytes;
using dsptest::DspBench;
using dsptest::ChunkLink;
using dsptest::BlockRunner;
using pumptest::ModemOptions;
using pumptest::PumpModem;
using pumptest::RunFor;

namespace {

void StartType(DspContext* ctx, int32_t type, int32_t originate)
{
    LockDsp(ctx->interfaceBlock);
    ctx->connection.originate = originate;
    StartLowSpeedMode(ctx, type);
    UnlockDsp(ctx->interfaceBlock);
}

TEST(FskMode, StartTypesChooseChannelsModeAndRate)
{
    struct Case {
        int32_t type;
        int32_t originate;
        int32_t tx;
        int32_t rx;
        int32_t mode;   // -1: unchanged
        int32_t rate;
        int32_t hold;
    };
    const Case cases[] = {
        {0, 1, FSK_V21_CH1, FSK_V21_CH2, 2, 2, 1},
        {0, 0, FSK_V21_CH2, FSK_V21_CH1, 2, 2, 1},
        {2, 0, FSK_V21_CH2, FSK_V21_CH2, 3, 2, 0},
        {4, 1, FSK_BELL103_ORIGINATE, FSK_BELL103_ANSWER, 0, -1, 1},
        {5, 0, FSK_BELL103_ANSWER, FSK_BELL103_ORIGINATE, 0, -1, 1},
        {6, 1, FSK_V23_BACKWARD, FSK_V23_1200, 4, 0, 1},
        {7, 0, FSK_V23_1200, FSK_V23_BACKWARD, 4, 1, 1},
        {11, 1, FSK_V21_CH1, FSK_V21_CH2, -1, -1, 0},
        {13, 0, FSK_V21_CH2, FSK_V23_1200, 4, 3, 0},
        {15, 1, FSK_V21_CH1, FSK_V21_CH1, 2, 2, 1},
        {15, 0, FSK_V21_CH2, FSK_V21_CH2, 2, 2, 1},
        // Types outside the table run V.21 channel 2 both ways and change nothing else.
        {16, 1, FSK_V21_CH2, FSK_V21_CH2, -1, -1, 0},
        {-3, 1, FSK_V21_CH2, FSK_V21_CH2, -1, -1, 0},
    };
    for (const Case& c : cases) {
        DspBench bench;
        DspContext* ctx = bench.context.get();
        ctx->modeNumber = 31;
        ctx->connection.rateCode = 63;
        StartType(ctx, c.type, c.originate);
        EXPECT_EQ(ctx->fsk.tx, FskTxChannelOf(c.tx)) << c.type;
        EXPECT_EQ(ctx->fsk.rx, FskRxChannelOf(c.rx)) << c.type;
        EXPECT_EQ(ctx->modeNumber, c.mode < 0 ? 31 : c.mode) << c.type;
        EXPECT_EQ(ctx->connection.rateCode, c.rate < 0 ? 63 : c.rate) << c.type;
        EXPECT_EQ(ctx->command.hold, c.hold) << c.type;
    }
}

TEST(FskMode, GainFollowsTheTransmitLevel)
{
    struct Case {
        uint16_t word;  // 0x7B gain word
        int32_t gainDb;
    };
    // 0 dB and -1 dB give the -9 dB gain; lower levels send one dB louder than asked.
    const Case cases[] = {{25399, -9}, {22637, -9}, {20175, -1}, {12730, -5}, {4027, -15}};
    for (const Case& c : cases) {
        DspBench bench;
        bench.Send(0x7B, {static_cast<uint8_t>(c.word), static_cast<uint8_t>(c.word >> 8), 0, 0});
        StartType(bench.context.get(), 0, 1);
        EXPECT_EQ(bench.context->fsk.mod.gain, kGainTable[-c.gainDb]) << c.word;
    }
}

// Two pumps on one line, each with the controller's side of its data chunks played by the test.
struct PumpPair {
    platform::Clock clock;
    platform::ClockThread self{clock};
    LineNetwork* network = LineNetworkCreate();
    std::unique_ptr<PumpModem> a;
    std::unique_ptr<PumpModem> b;

    explicit PumpPair(double snrDb)
    {
        ModemOptions oa;
        oa.name = "caller";
        ModemOptions ob;
        ob.name = "answerer";
        a = std::make_unique<PumpModem>(clock, network, oa);
        b = std::make_unique<PumpModem>(clock, network, ob);
        LineConnectionParams params;
        params.aToB.snrDb = snrDb;
        params.bToA.snrDb = snrDb;
        // The FSK gain of a 0 dB transmit level.
        params.aToB.nominalLevelDbm0 = fsktest::SineDbm0(kGainTable[9]);
        params.bToA.nominalLevelDbm0 = params.aToB.nominalLevelDbm0;
        params.bToA.noiseSeed = 2;
        // Each side hears its own signal back 12 dB down: the receive filters keep it out.
        params.echoA = {12.0, 2.0};
        params.echoB = {12.0, 2.0};
        LineConnect(network, &a->Port()->endpoint, &b->Port()->endpoint, params);
        EXPECT_EQ(a->Start(), STATUS_SUCCESS);
        EXPECT_EQ(b->Start(), STATUS_SUCCESS);
        for (PumpModem* m : {a.get(), b.get()}) {
            m->SetRegister(kRegHostControl, kNotifyEnable);
            m->SetRegister(kRegGpioData0, 0x04);
        }
        RunFor(30);
    }
    ~PumpPair()
    {
        a->Remove();
        b->Remove();
        a.reset();
        b.reset();
        LineNetworkDestroy(network);
    }
};

bool Connected(PumpModem& m)
{
    return (m.Register(kRegStatus) & 0x0F) == 2 && (m.Register(kRegStatus) & 0x10) != 0;
}

// Bytes per 300 bit/s direction (about a minute of line time); the modem tests carry 10 kB per channel.
#if defined(MODEM_UNDER_SANITIZER)
constexpr size_t kPumpBytes = 200;
#else
constexpr size_t kPumpBytes = 2000;
#endif

TEST(FskPumpPair, EveryChannelPairCarriesAsynchronousDataBothWays)
{
    struct Case {
        const char* name;
        int32_t callerType;
        int32_t answererType;
        size_t callerBytes;    // caller to answerer
        size_t answererBytes;
    };
    const Case cases[] = {
        {"V.21", 0, 0, kPumpBytes, kPumpBytes},
        {"Bell 103", 4, 5, kPumpBytes, kPumpBytes},
        {"V.23 1200/75", 6, 7, kPumpBytes / 10, kPumpBytes},
    };
    for (const Case& c : cases) {
        PumpPair pair(20.0);
        StartType(pair.a->Context(), c.callerType, 1);
        StartType(pair.b->Context(), c.answererType, 0);
        ChunkLink la(pair.a->Context()->interfaceBlock);
        ChunkLink lb(pair.b->Context()->interfaceBlock);
        // Marks first: both report the carrier (state 2 and bit 0x10).
        for (int t = 0; t < 300 && !(Connected(*pair.a) && Connected(*pair.b)); ++t)
            RunFor(10);
        ASSERT_TRUE(Connected(*pair.a)) << c.name;
        ASSERT_TRUE(Connected(*pair.b)) << c.name;
        // The line's noise (20 dB below the signal, far above the carrier threshold) counts as carrier before
        // the far end sends: what it made of it before the marks arrived is dropped here.
        for (int t = 0; t < 100; ++t) {
            RunFor(10);
            la.Serve();
            lb.Serve();
        }
        la.received.clear();
        lb.received.clear();
        const std::vector<uint8_t> fromA = fsktest::RandomBytes(c.callerBytes, 5);
        const std::vector<uint8_t> fromB = fsktest::RandomBytes(c.answererBytes, 6);
        la.toSend.assign(fromA.begin(), fromA.end());
        lb.toSend.assign(fromB.begin(), fromB.end());
        for (int t = 0; t < 20000 && (lb.received.size() < fromA.size() || la.received.size() < fromB.size()); ++t) {
            la.Serve();
            lb.Serve();
            RunFor(10);
        }
        EXPECT_TRUE(lb.received == fromA) << c.name << fsktest::Mismatch(lb.received, fromA);
        EXPECT_TRUE(la.received == fromB) << c.name << fsktest::Mismatch(la.received, fromB);
        EXPECT_TRUE(la.flags.empty() && lb.flags.empty()) << c.name;
    }
}

TEST(FskPumpPair, CarrierOnAndOffAreReported)
{
    PumpPair pair(INFINITY);
    StartType(pair.a->Context(), 0, 1);
    StartType(pair.b->Context(), 0, 0);
    for (int t = 0; t < 100 && !Connected(*pair.b); ++t)
        RunFor(10);
    ASSERT_TRUE(Connected(*pair.b));
    // The caller stops sending: the answerer reports the carrier lost (state 0, bit 0x10 cleared) with a
    // notification, after its retries.
    pair.b->ClearEvents();
    pair.a->SendCommand(0x98, {});
    for (int t = 0; t < 500 && Connected(*pair.b); ++t)
        RunFor(10);
    EXPECT_EQ(pair.b->Register(kRegStatus) & 0x1F, 0);
    bool notified = false;
    for (const pumptest::PumpEvent& e : pair.b->Events())
        notified = notified || (!e.packet && (e.status & 0x10) == 0);
    EXPECT_TRUE(notified);
}

TEST(FskPumpPair, HdlcFramesOverV21Channel2ArriveWithGoodFcs)
{
    PumpPair pair(20.0);
    // Fax: the caller transmits (type 2), the answerer receives (type 3); both framers HDLC.
    pair.a->SendCommand(0x73, {0x30, 0x00});
    pair.b->SendCommand(0x73, {0x30, 0x04});
    ChunkLink la(pair.a->Context()->interfaceBlock);
    ChunkLink lb(pair.b->Context()->interfaceBlock);
    std::vector<Bytes> sent;
    for (int f = 0; f < 3; ++f) {
        Bytes frame = fsktest::RandomBytes(3 + 20 * static_cast<size_t>(f), 40 + static_cast<uint32_t>(f));
        frame[0] = 0xFF;
        sent.push_back(frame);
    }
    RunFor(300);  // flags before the first frame
    for (const Bytes& frame : sent) {
        la.toSend.assign(frame.begin(), frame.end());
        la.endOfFrameAfter = 1;
        const size_t before = lb.frames.size();
        for (int t = 0; t < 600 && lb.frames.size() == before; ++t) {
            la.Serve();
            lb.Serve();
            RunFor(10);
        }
    }
    EXPECT_EQ(lb.frames, sent);
    for (uint8_t f : lb.flags)
        EXPECT_EQ(f, kRxGoodFrame);
    // The fax receiver reported the carrier as state 8 with bit 0x10.
    EXPECT_EQ(pair.b->Register(kRegStatus) & 0x1F, 0x18);
}

TEST(FskMode, EmptyMailboxSendsSilenceOnlyWithMarkIdleFraming)
{
    struct Case {
        int32_t type;
        bool silent;
    };
    // Type 11 frames with mark idle (nothing to send is silence); type 0 sends marks.
    const Case cases[] = {{11, true}, {0, false}};
    for (const Case& c : cases) {
        BlockRunner r;
        StartType(r.ctx, c.type, 1);
        int peak = 0;
        for (int b = 0; b < 10; ++b) {
            for (int16_t v : r.Block(nullptr))
                peak = std::max(peak, std::abs(static_cast<int>(v)));
        }
        EXPECT_EQ(peak == 0, c.silent) << c.type << " peak " << peak;
    }
}

// The fax receiver (command 0x73 with the receive bit) waits for the flags' 1650 Hz before it demodulates.
TEST(FskMode, FaxReceiverWaitsForTheFlagTone)
{
    struct Case {
        double hz;
        bool leavesWait;
    };
    const Case cases[] = {{1650, true}, {1100, false}, {2100, false}};
    for (const Case& c : cases) {
        BlockRunner r;
        r.bench.Send(0x73, {0x30, 0x04});
        const std::vector<int16_t> tone = linetest::ToneS16(c.hz, 9600, 8000, 96 * 20);
        for (int b = 0; b < 20; ++b)
            r.Block(tone.data() + 96 * b);
        // Entry 1 of the receive list is the wait; entry 2 the demodulator.
        EXPECT_EQ(r.ctx->seqB.position == 2, c.leavesWait) << c.hz;
    }
}

#ifdef HAVE_SPANDSP

std::vector<Bytes> FaxFrames()
{
    std::vector<Bytes> frames;
    for (int f = 0; f < 3; ++f) {
        Bytes frame = fsktest::RandomBytes(4 + 25 * static_cast<size_t>(f), 60 + static_cast<uint32_t>(f));
        frame[0] = 0xFF;
        frame[1] = 0x13;
        frames.push_back(frame);
    }
    return frames;
}

void CollectFrame(void* user, const uint8_t* pkt, int len, int ok)
{
    if (len < 0 || !ok)
        return;  // status reports; bad frames are not collected
    static_cast<std::vector<Bytes>*>(user)->emplace_back(pkt, pkt + len);
}

// Fax control frames from our V.21 channel 2 transmitter (command 0x73), decoded by an independent FSK
// receiver and HDLC deframer after the 8000 Hz line.
TEST(FskFaxInterop, IndependentReceiverDecodesOurFrames)
{
    BlockRunner r;
    r.bench.Send(0x73, {0x30, 0x00});
    std::vector<Bytes> got;
    hdlc_rx_state_t* hdlc = hdlc_rx_init(nullptr, 0, 1, 5, CollectFrame, &got);
    fsk_rx_state_t* rx = fsk_rx_init(nullptr, &preset_fsk_specs[FSK_V21CH2], FSK_FRAME_MODE_SYNC,
                                     reinterpret_cast<put_bit_func_t>(hdlc_rx_put_bit), hdlc);
    fsktest::LinePath line(9600, 8000, 20.0, fsktest::SineDbm0(kGainTable[9]), 31);
    const std::vector<Bytes> sent = FaxFrames();
    size_t next = 0;
    for (int b = 0; b < 600 && got.size() < sent.size(); ++b) {
        if (b >= 100 && next < sent.size() && r.link.toSend.empty() && got.size() == next) {
            r.link.toSend.assign(sent[next].begin(), sent[next].end());
            r.link.endOfFrameAfter = 1;
            ++next;
        }
        std::vector<int16_t> tx = r.Block(nullptr);
        std::vector<int16_t> heard = line.Process(tx.data(), tx.size());
        fsk_rx(rx, heard.data(), static_cast<int>(heard.size()));
    }
    fsk_rx_free(rx);
    hdlc_rx_free(hdlc);
    EXPECT_EQ(got, sent);
}

// The peer's framer holds one frame at a time: the next is handed over as soon as it takes it.
struct PeerHdlc {
    hdlc_tx_state_t* hdlc;
    std::vector<Bytes> frames;
    size_t next = 0;
    static int GetBit(void* user)
    {
        auto* p = static_cast<PeerHdlc*>(user);
        if (p->next < p->frames.size() && hdlc_tx_frame(p->hdlc, p->frames[p->next].data(),
                                                         p->frames[p->next].size()) == 0)
            ++p->next;
        return hdlc_tx_get_bit(p->hdlc);
    }
};

// Frames from an independent HDLC framer and V.21 channel 2 transmitter, received by our fax receiver
// (command 0x73 with the receive bit): good frames with their FCS, and the fax carrier report.
TEST(FskFaxInterop, OurReceiverDecodesIndependentFrames)
{
    BlockRunner r;
    r.bench.Send(0x73, {0x30, 0x04});
    const std::vector<Bytes> sent = FaxFrames();
    PeerHdlc peer{hdlc_tx_init(nullptr, 0, 2, 0, nullptr, nullptr), sent};
    hdlc_tx_flags(peer.hdlc, 40);
    fsk_tx_state_t* tx = fsk_tx_init(nullptr, &preset_fsk_specs[FSK_V21CH2], PeerHdlc::GetBit, &peer);
    fsktest::LinePath line(8000, 9600, 20.0, preset_fsk_specs[FSK_V21CH2].tx_level, 33);
    std::vector<int16_t> pending;
    int16_t block[80];
    for (int b = 0; b < 500 && r.link.frames.size() < sent.size(); ++b) {
        fsk_tx(tx, block, 80);
        const std::vector<int16_t> heard = line.Process(block, 80);
        pending.insert(pending.end(), heard.begin(), heard.end());
        while (pending.size() >= 96) {
            r.Block(pending.data());
            pending.erase(pending.begin(), pending.begin() + 96);
        }
    }
    fsk_tx_free(tx);
    hdlc_tx_free(peer.hdlc);
    EXPECT_EQ(r.link.frames, sent);
    EXPECT_EQ(r.bench.Reg(kRegStatus) & 0x1F, 0x18);
}

// A caller-ID message from an independent transmitter (V.23 1200 bit/s) through the 8000 Hz line to the
// receiver started by command 0x93: on hook after a ring (channel seizure and 180 marks), and during a call
// (no seizure, marks only, which the receiver's start delay waits out).
TEST(FskCallerId, ReceiverDeliversTheMessageWithItsChecksum)
{
    struct Case {
        uint8_t mode;      // 0x93 payload
        int seizureBits;
        int markBits;
    };
    // During a call the carrier counts only after 96 marks have been decided beyond the threshold, and the
    // first few bits of the burst pass while the filters fill: 110 marks (92 ms) are sent.
    const Case cases[] = {{1, 300, 180}, {3, 0, 110}};
    for (const Case& c : cases) {
        DspBench bench;
        DspContext* ctx = bench.context.get();
        bench.Send(0x93, {c.mode});
        adsi_tx_state_t* tx = adsi_tx_init(nullptr, ADSI_STANDARD_CLIP);
        ASSERT_NE(tx, nullptr);
        adsi_tx_set_preamble(tx, c.seizureBits, c.markBits, 5, 1);
        uint8_t msg[256];
        int len = adsi_add_field(tx, msg, -1, CLIP_MDMF_CALLERID, nullptr, 0);
        const char* date = "12101630";
        const char* number = "0123456789";
        len = adsi_add_field(tx, msg, len, CLIP_DATETIME, reinterpret_cast<const uint8_t*>(date), 8);
        len = adsi_add_field(tx, msg, len, CLIP_CALLER_NUMBER, reinterpret_cast<const uint8_t*>(number), 10);
        ASSERT_GT(adsi_tx_put_message(tx, msg, len), 0);
        fsktest::LinePath line(8000, 9600, 30.0, -14.0, 9);
        std::vector<int16_t> pending;
        std::vector<uint8_t> received;
        int16_t block[80];
        for (int t = 0; t < 200; ++t) {
            const int n = adsi_tx(tx, block, 80);
            for (int i = n; i < 80; ++i)
                block[i] = 0;
            const std::vector<int16_t> heard = line.Process(block, 80);
            pending.insert(pending.end(), heard.begin(), heard.end());
            while (pending.size() >= 96) {
                LockDsp(bench.block.get());
                RunFskReceiver(ctx, pending.data(), 96);
                FramerPostRxBytes(ctx);
                UnlockDsp(bench.block.get());
                pending.erase(pending.begin(), pending.begin() + 96);
                const uint16_t pair = WindowLoadPair(bench.block.get(), kRegRxCount);
                for (int i = 0; i < (pair & 0xFF); ++i)
                    received.push_back(WindowLoad(bench.block.get(), kRegRxData + i));
                if (pair != 0)
                    WindowStorePair(bench.block.get(), kRegRxCount, 0);
            }
        }
        adsi_tx_free(tx);
        // Type, length, the message and the checksum, which makes the sum 0 modulo 256.
        msg[1] = static_cast<uint8_t>(len - 2);  // the transmitter fills in the length
        ASSERT_GE(received.size(), static_cast<size_t>(len) + 1) << int(c.mode);
        EXPECT_EQ(Bytes(received.begin(), received.begin() + len), Bytes(msg, msg + len)) << int(c.mode);
        uint32_t sum = 0;
        for (int i = 0; i <= len; ++i)
            sum += received[static_cast<size_t>(i)];
        EXPECT_EQ(sum & 0xFF, 0u) << int(c.mode);
    }
}

#endif  // HAVE_SPANDSP

}  // namespace
