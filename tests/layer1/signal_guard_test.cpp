// Fixed results of the signal paths: each case runs a fixed input through one path and compares a hash of
// everything it produced (samples, decided bits, detector state and reports) with the value recorded when
// the path was first measured. Faster versions of these paths must give the same numbers, bit for bit; a
// mismatch here means a result changed, not only the speed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "layer1/dsp/detector_state.h"
#include "layer1/dsp/dsp_context.h"
#include "layer1/dsp/framer.h"
#include "layer1/dsp/nco.h"
#include "layer1/dsp/register_window.h"
#include "layer1/dsp/tone_dual.h"
#include "layer1/modem/fsk/fsk_state.h"
#include "support/result_hash.h"

namespace {

using Hash = testsupport::ResultHash;

// A deterministic noise source (uniform, +-amplitude).
struct Noise {
    uint32_t v = 12345u;
    int32_t Next(int32_t amplitude)
    {
        v = v * 1664525u + 1013904223u;
        return static_cast<int32_t>((v >> 8) % static_cast<uint32_t>(2 * amplitude + 1)) - amplitude;
    }
};

TEST(SignalGuard, OscillatorOverEveryPhase)
{
    Hash h;
    for (uint32_t p = 0; p < 65536; ++p) {
        int16_t s, c;
        NcoSinCos(p, &s, &c);
        h.Add(s);
        h.Add(c);
    }
    EXPECT_EQ(h.h, 16635343756024753894ull);
}

TEST(SignalGuard, DtmfBlocksOfEveryDigit)
{
    Hash h;
    for (int digit = 0; digit < 16; ++digit) {
        DualToneGenerator g{};
        g.level1 = static_cast<int16_t>(20675 + digit * 700);
        g.level2 = static_cast<int16_t>(16423 + digit * 900);
        SetDtmfDigit(&g, digit);
        int16_t block[96];
        for (int b = 0; b < 7; ++b) {
            DualToneFillBlock(&g, block, 96);
            h.AddAll(block, 96);
        }
    }
    EXPECT_EQ(h.h, 2370815513742630944ull);
}

struct FskLog {
    uint32_t lfsr = 0xACE1u;
    Hash* hash;
    int bits = 0;
    static int32_t Get(void* owner)
    {
        FskLog* l = static_cast<FskLog*>(owner);
        l->lfsr = (l->lfsr >> 1) ^ (-(l->lfsr & 1u) & 0xB400u);
        return static_cast<int32_t>(l->lfsr & 1u);
    }
    static void Put(void* owner, int32_t bit)
    {
        FskLog* l = static_cast<FskLog*>(owner);
        l->hash->Add(0x100 + bit);
        l->bits += 1;
    }
    static void Status(void* owner, uint8_t value, int set)
    {
        static_cast<FskLog*>(owner)->hash->Add(value * 2 + set);
    }
};

// Each channel modulates 1.5 s of pseudo-random bits; the signal, at three levels with noise, is demodulated.
TEST(SignalGuard, FskModulatorAndDemodulatorOfEveryChannel)
{
    struct Case {
        int32_t id;
        uint64_t modulated;
        uint64_t demodulated;
    };
    const Case cases[] = {
        {FSK_V21_CH1, 9970030719563276894ull, 4937380079233958285ull},
        {FSK_V21_CH2, 2305781892754059156ull, 17141376724197515662ull},
        {FSK_BELL103_ORIGINATE, 17599147421249436263ull, 14234084940902160854ull},
        {FSK_BELL103_ANSWER, 8786069650851230041ull, 2698835966697221752ull},
        {FSK_V23_BACKWARD, 12752885695387894645ull, 16794620227890075709ull},
        {FSK_V23_600, 13165699839969139346ull, 1251162481072555968ull},
        {FSK_V23_1200, 8256316107086128563ull, 5820451722019062883ull},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        Hash tx, rx;
        FskLog txLog{0xACE1u, &tx};
        FskLog rxLog{0x1234u, &rx};
        auto mod = std::make_unique<FskState>();
        auto demod = std::make_unique<FskState>();
        *mod = FskState{};
        *demod = FskState{};
        FskSelectChannels(mod.get(), c.id, c.id);
        FskSelectChannels(demod.get(), c.id, c.id);
        mod->mod.gain = 14289;
        mod->port = FskPort{&txLog, FskLog::Get, FskLog::Put, nullptr, nullptr, FskLog::Status};
        demod->port = FskPort{&rxLog, FskLog::Get, FskLog::Put, nullptr, nullptr, FskLog::Status};
        FskResetModulator(mod.get());
        FskResetReceiver(demod.get());
        Noise noise;
        int16_t block[96];
        for (int b = 0; b < 150; ++b) {
            FskModulate(mod.get(), block, 96);
            tx.AddAll(block, 96);
            // Full level, then 20 dB down, then near the loss of carrier.
            const int32_t scale = b < 50 ? 32767 : (b < 100 ? 3277 : 700);
            for (int16_t& s : block)
                s = static_cast<int16_t>(((s * scale) >> 15) + noise.Next(40));
            FskDemodulate(demod.get(), block, 96);
            const FskDemodulatorState& d = demod->demod;
            rx.Add(d.discriminator);
            rx.Add(d.agc.exponent);
            rx.Add(d.agc.mantissa);
            rx.Add(d.agc.level);
            rx.Add(d.iCur);
            rx.Add(d.qCur);
            rx.Add(d.carrierOn);
        }
        EXPECT_GT(rxLog.bits, 0);  // the carrier was found and bits decided
        EXPECT_EQ(tx.h, c.modulated);
        EXPECT_EQ(rx.h, c.demodulated);
    }
}

// The modems work through runs of up to 128 samples: blocks of any size, longer runs included, give the same
// samples and the same decided bits as 10 ms blocks.
TEST(SignalGuard, FskResultsDoNotDependOnTheBlockSize)
{
    for (int32_t id : {FSK_V21_CH1, FSK_V23_BACKWARD, FSK_V23_1200}) {
        SCOPED_TRACE(id);
        auto run = [id](bool odd, std::vector<int16_t>* signal) {
            Hash rx;
            FskLog txLog{0xACE1u, &rx};
            FskLog rxLog{0x1234u, &rx};
            auto mod = std::make_unique<FskState>();
            auto demod = std::make_unique<FskState>();
            *mod = FskState{};
            *demod = FskState{};
            FskSelectChannels(mod.get(), id, id);
            FskSelectChannels(demod.get(), id, id);
            mod->mod.gain = 14289;
            mod->port = FskPort{&txLog, FskLog::Get, FskLog::Put, nullptr, nullptr, FskLog::Status};
            demod->port = FskPort{&rxLog, FskLog::Get, FskLog::Put, nullptr, nullptr, FskLog::Status};
            FskResetModulator(mod.get());
            FskResetReceiver(demod.get());
            signal->assign(9600, 0);
            for (int32_t i = 0, b = 0; i < 9600; ++b) {
                const int32_t want = odd ? 1 + (b * 37) % 300 : 96;
                const int32_t n = want < 9600 - i ? want : 9600 - i;
                FskModulate(mod.get(), signal->data() + i, n);
                FskDemodulate(demod.get(), signal->data() + i, n);
                i += n;
            }
            EXPECT_GT(rxLog.bits, 0);
            return rx.h;
        };
        std::vector<int16_t> whole, cut;
        const uint64_t wholeBits = run(false, &whole);
        const uint64_t cutBits = run(true, &cut);
        EXPECT_EQ(whole, cut);
        EXPECT_EQ(wholeBits, cutBits);
    }
}

// The filters add their products in 32 bits: that is exact only while every channel's taps keep the sums in
// range, which this holds for every table.
TEST(SignalGuard, FskFilterSumsFitThirtyTwoBits)
{
    for (int32_t id = 0; id < FSK_CHANNEL_COUNT; ++id) {
        EXPECT_TRUE(FskTapsFitSums(FskTxChannelOf(id)->taps)) << id;
        EXPECT_TRUE(FskTapsFitSums(FskRxChannelOf(id)->taps)) << id;
    }
    int16_t wide[kFskTaps];
    for (int16_t& t : wide)
        t = 1100;  // 64 x 1100 x 32767 is beyond 32 bits
    EXPECT_FALSE(FskTapsFitSums(wide));
}

void HashDetector(Hash* h, DspContext* ctx)
{
    const DetectorState& d = ctx->detector;
    h->AddAll(d.input, kDetectorBlockSamples);
    for (const DetectorSection& s : d.bank.section) {
        h->AddAll(s.x1, 2);
        h->AddAll(s.x2, 2);
        h->AddAll(s.y1, 2);
        h->AddAll(s.y2, 2);
        h->Add(s.energy);
        h->Add(s.on);
    }
    h->Add(d.bank.result);
    h->Add(d.bank.levelGain);
    for (const NotchToneDetector* n : {&d.callingTone, &d.callProgress}) {
        h->AddAll(&n->state[0][0], kMaxNotchStages * 4);
        h->Add(n->total);
        h->Add(n->residual);
        h->Add(n->runCount);
    }
    h->Add(d.callProgressTone);
    h->Add(d.callProgressLevelOn);
    h->Add(d.cadenceReport);
    h->Add(d.energyOn);
    h->Add(static_cast<int64_t>(d.energyDetections));
    h->Add(WindowLoad(ctx->interfaceBlock, kRegReplyCode));
}

// Detector mode 1 (call progress with a bank section) on busy tone and noise, mode 0 (calling tone, ring
// energy) on the fax calling tone. The pauses carry faint noise, or are exact silence (quiet 0: the detectors
// settle and the stages may skip their arithmetic, with the same results; the pre-filtered block is hashed too).
TEST(SignalGuard, DetectorModesOnTonesAndNoise)
{
    struct Case {
        int32_t mode;
        double hz1, hz2;
        int32_t quiet;  // noise amplitude of the pauses before block 200
        uint64_t expected;
    };
    const Case cases[] = {
        {1, 480, 620, 30, 2573863363432826359ull},
        {0, 1100, 0, 30, 10984198407819953646ull},
        {1, 440, 350, 30, 16923864401287989866ull},
        {1, 480, 620, 0, 3380616767714948602ull},
        {0, 1100, 0, 0, 3399412177447427778ull},
        {2, 1100, 0, 0, 14407835910687776563ull},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.mode << " quiet " << c.quiet);
        auto ctx = std::make_unique<DspContext>();
        auto blk = std::make_unique<DspInterfaceBlock>();
        std::memset(ctx.get(), 0, sizeof(DspContext));
        std::memset(blk.get(), 0, sizeof(DspInterfaceBlock));
        LowerAudioInterface audio{};
        ctx->interfaceBlock = blk.get();
        audio.format.blockLength = 96;
        ctx->lowerAudio = &audio;
        for (int i = 0; i < 96; ++i)
            audio.gainTable[i] = kGainTable[i];
        ResetBank(&ctx->detector.bank);
        InitDetectorState(ctx.get());
        ConfigureSection(&ctx->detector.bank, 0, kCallProgressBandSection);
        SetDetectorMode(ctx.get(), c.mode);
        ctx->detector.energyReportFlag = 1;
        Noise noise;
        Hash h;
        const double pi = std::acos(-1.0);
        for (int b = 0; b < 300; ++b) {
            const bool on = (b / 25) % 2 == 0;
            for (int i = 0; i < 96; ++i) {
                const double t = (b * 96 + i) / 9600.0;
                const double v =
                    on ? 3000 * std::sin(2 * pi * c.hz1 * t) + (c.hz2 > 0 ? 3000 * std::sin(2 * pi * c.hz2 * t) : 0) : 0;
                const int32_t amplitude = b > 200 ? 3000 : (on ? 30 : c.quiet);
                ctx->rxWork[i] = static_cast<int16_t>(std::lround(v) + (amplitude > 0 ? noise.Next(amplitude) : 0));
            }
            DetectorBlockStep(ctx.get());
            HashDetector(&h, ctx.get());
            if (c.quiet == 0)
                h.AddAll(ctx->detector.preFiltered, kDetectorBlockSamples);
            WindowStore(blk.get(), kRegReplyCode, 0);
        }
        EXPECT_EQ(h.h, c.expected);
    }
}

}  // namespace

namespace {

// HDLC both ways: chunks of varied bytes (runs of ones that need stuffing among them) framed, cut into bit
// groups of every size, some bits flipped, and received; every transmitted bit group and every posted chunk
// with its flags goes into the hash.
struct HdlcMailbox {
    Hash* hash;
    uint8_t chunk = 0;
    int frameEnds = 0;
    static int Post(void* owner, uint8_t flags, uint8_t count, const uint8_t* bytes)
    {
        static_cast<HdlcMailbox*>(owner)->frameEnds += flags != 0;
        Hash* h = static_cast<HdlcMailbox*>(owner)->hash;
        h->Add(flags);
        h->Add(count);
        h->AddAll(bytes, count);
        return 1;
    }
    static int Free(void*) { return 1; }
    static int Waiting(void*) { return kMailboxBytes; }
    static int Fetch(void* owner, uint8_t* flags, uint8_t* count, uint8_t* bytes)
    {
        HdlcMailbox* m = static_cast<HdlcMailbox*>(owner);
        const int n = 1 + (m->chunk * 7) % kMailboxBytes;
        for (int i = 0; i < n; ++i)
            bytes[i] = static_cast<uint8_t>(i % 5 == 0 ? 0xFF : (i % 3 == 0 ? 0x7E : m->chunk * 13 + i * 37));
        *count = static_cast<uint8_t>(n);
        *flags = (++m->chunk % 3) == 0 ? kTxEndOfFrame : 0;
        return 1;
    }
    static void Wanted(void*, int) {}
};

TEST(SignalGuard, HdlcFramingBothWays)
{
    Hash h;
    HdlcMailbox mailbox{&h};
    auto framer = std::make_unique<BitStreamFramer>();
    *framer = BitStreamFramer{};
    framer->port = FramerPort{&mailbox, HdlcMailbox::Post, HdlcMailbox::Free, HdlcMailbox::Waiting,
                              HdlcMailbox::Fetch, HdlcMailbox::Wanted};
    InitTxFramer(framer.get(), 2);
    InitRxFramer(framer.get(), 2);
    for (int i = 0; i < 6000; ++i) {
        const int32_t n = 1 + i % 16;
        uint32_t bits = static_cast<uint32_t>(FramerGetTxBits(framer.get(), n));
        h.Add(bits);
        if (i % 997 == 500)
            bits ^= 1u;  // a damaged frame
        FramerPutRxBits(framer.get(), bits, n);
        if (i % 50 == 0)
            FramerPostRxBytes(framer.get());
    }
    h.Add(framer->counters.flagsReceived);
    h.Add(framer->counters.badFrames);
    EXPECT_GT(mailbox.frameEnds, 100);
    EXPECT_GT(framer->counters.badFrames, 2u);
    EXPECT_EQ(h.h, 13693010066493483106ull);
}

}  // namespace
