// The V.8 procedure on two pumps: the caller recognises ANSam by its 15 Hz modulation (ours and the
// independent peer's), asks for the call menu a second later, and the second start command on each side
// carries the call on to V.32bis; a V.8 answerer that hears no caller falls back to V.22bis after 5 s, and one
// that hears a V.32bis caller's 1800 Hz starts V.32bis; a V.8 caller that hears answer tone without the
// modulation (plain, or with phase reversals) starts V.32bis as the caller.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "v22_fixture.h"
#include "window/icd_codes.h"

#ifdef HAVE_SPANDSP
#include <spandsp.h>
#endif

using v22test::LineSettings;
using v22test::Pump;
using v22test::PumpPair;

namespace {

constexpr uint8_t kOriginate = 0x04;
constexpr uint8_t kV8 = 0x10;
constexpr uint8_t kPhase2V8 = 0x01;   // the continuation's phase-2 kind

void StartConnection(Pump& p, uint8_t rate, uint8_t mode, uint8_t flags, uint8_t phase2 = 0)
{
    p.bench.Send(IcdSetPumpOptions, {0x3E, 0, 0x3E, 0, 0, 0, 0, 0});
    p.bench.Send(IcdStartConnection, {rate, mode, flags, phase2});
}

uint8_t Progress(Pump& p) { return p.bench.Reg(kRegProgress); }

// Steps until the pump's register 56 shows the value; the blocks it took, or -1.
int StepUntilProgress(PumpPair& pair, Pump& p, uint8_t value, int limit)
{
    for (int t = 0; t < limit; ++t) {
        if (Progress(p) == value)
            return t;
        pair.Step();
    }
    return -1;
}

TEST(V8Procedure, BothEndsRecogniseEachOtherAndGoOnToV32bis)
{
    PumpPair pair(LineSettings{});
    StartConnection(pair.a, 9, 16, kOriginate | kV8);
    StartConnection(pair.b, 9, 16, kV8);
    EXPECT_EQ(Progress(pair.a), 34);
    EXPECT_EQ(Progress(pair.b), 34);
    // ANSam arms the tracker after 52 ms, its modulation shows after 15 armed blocks, then the caller waits 1 s.
    const int t = StepUntilProgress(pair, pair.a, 32, 400);
    ASSERT_GE(t, 0) << int(Progress(pair.a));
    EXPECT_GT(t, 115);
    EXPECT_LT(t, 200);
    // The controllers exchange their menus over V.21 (the caller's three zero octets end the answerer's
    // exchange), then each sends its second start command.
    pair.a.link.toSend = {0xE0, 0xC1, 0x05, 0x11, 0x10, 0x0A, 0x00, 0x00, 0x00};
    for (int k = 0; k < 10; ++k)
        pair.Step();
    StartConnection(pair.b, 9, 16, 0, kPhase2V8);
    StartConnection(pair.a, 9, 16, kOriginate, kPhase2V8);
    for (int k = 0; k < 300 && !(pair.a.ctx->blockHandler == V32bisBlockHandler &&
                                 pair.b.ctx->blockHandler == V32bisBlockHandler);
         ++k)
        pair.Step();
    EXPECT_TRUE(pair.a.ctx->blockHandler == V32bisBlockHandler)
        << "caller list " << (pair.a.ctx->seqB.list == V8OriginateSteps) << " at " << pair.a.ctx->seqB.position
        << " continue " << pair.a.ctx->procedure.v8Continue << " silent " << pair.a.ctx->fsk.mod.silent
        << " mode " << pair.a.ctx->modeNumber << " phase2 " << pair.a.ctx->connection.phase2Kind;
    EXPECT_TRUE(pair.b.ctx->blockHandler == V32bisBlockHandler)
        << "answerer at " << pair.b.ctx->seqB.position << " zeros " << pair.b.ctx->procedure.zeroOctets << " low "
        << pair.b.ctx->procedure.lowLevel << " fifo " << pair.b.ctx->signal.framer.rx.fifo.write << " got "
        << pair.b.link.received.size() << " carrier " << pair.b.ctx->fsk.demod.carrierOn << " mode " << pair.b.ctx->modeNumber;
    EXPECT_EQ(pair.a.ctx->v32.modem.answering, 0);
    EXPECT_EQ(pair.b.ctx->v32.modem.answering, 1);
    ASSERT_TRUE(pair.RunUntilConnected(2500)) << " a " << int(pair.a.Status()) << " b " << int(pair.b.Status());
    EXPECT_EQ(pair.a.ctx->connection.rateCode, 9);
    EXPECT_EQ(pair.b.ctx->connection.rateCode, 9);
}

TEST(V8Procedure, AnswererWithoutACallerFallsBackToV22bis)
{
    PumpPair pair(LineSettings{});
    StartConnection(pair.b, 9, 16, kV8);
    int t = 0;
    for (; t < 700 && pair.b.ctx->modeNumber != 7; ++t)
        pair.Step();
    EXPECT_EQ(pair.b.ctx->modeNumber, 7);
    EXPECT_EQ(pair.b.ctx->connection.procedureKind, 1);
    EXPECT_NEAR(t, 506, 3);  // 5 s of ANSam, 50 ms of silence
}

TEST(V8Procedure, AnswererStartsV32bisOnTheCallers1800Hz)
{
    PumpPair pair(LineSettings{});
    StartConnection(pair.a, 9, 16, kOriginate);
    StartConnection(pair.b, 9, 16, kV8);
    ASSERT_TRUE(pair.RunUntilConnected(2500)) << " a " << int(pair.a.Status()) << " b " << int(pair.b.Status());
    EXPECT_EQ(pair.b.ctx->procedure.seen1800, 1);
    EXPECT_EQ(pair.b.ctx->connection.rateCode, 9);
}

// A plain answer tone (a basic V.22bis answerer's) for 1.45 s: the V.8 caller reports it and starts V.32bis as
// the caller, whose wait for the answerer hears the V.22bis answerer and falls back to V.22bis.
TEST(V8Procedure, CallerHearingPlainAnswerToneStartsV32bis)
{
    PumpPair pair(LineSettings{});
    StartConnection(pair.a, 9, 16, kOriginate | kV8);
    StartConnection(pair.b, 4, 7, 0);
    ASSERT_GE(StepUntilProgress(pair, pair.a, 6, 300), 0);
    EXPECT_TRUE(pair.a.ctx->blockHandler == V32bisBlockHandler);
    ASSERT_TRUE(pair.RunUntilConnected(2500)) << " a " << int(pair.a.Status()) << " b " << int(pair.b.Status());
    EXPECT_EQ(pair.a.ctx->connection.rateCode, 4);
}

// A basic V.32bis answerer's answer tone carries a 180 degree reversal every 450 ms but no amplitude
// modulation: the V.8 caller counts 1.45 s of it across the reversals and the two connect at 14400.
TEST(V8Procedure, CallerHearingAnswerToneWithReversalsStartsV32bis)
{
    PumpPair pair(LineSettings{});
    StartConnection(pair.a, 9, 16, kOriginate | kV8);
    StartConnection(pair.b, 9, 16, 0);
    const int t = StepUntilProgress(pair, pair.a, 6, 400);
    ASSERT_GE(t, 0) << int(Progress(pair.a));
    EXPECT_GT(t, 145);
    EXPECT_LT(t, 175);
    EXPECT_TRUE(pair.a.ctx->blockHandler == V32bisBlockHandler);
    ASSERT_TRUE(pair.RunUntilConnected(2500)) << " a " << int(pair.a.Status()) << " b " << int(pair.b.Status());
    EXPECT_EQ(pair.a.ctx->connection.rateCode, 9);
}

// A continuation with no V.8 procedure running (none started, or a basic one) leaves the pump as it was.
TEST(V8Procedure, AContinuationOutsideTheProcedureDoesNothing)
{
    for (uint8_t flags : {uint8_t{0}, uint8_t{kOriginate}}) {
        Pump p;
        StartConnection(p, 9, 16, flags, kPhase2V8);
        EXPECT_EQ(p.ctx->procedure.v8Continue, 0);
        StartConnection(p, 9, 16, flags);
        const Sequencer a = p.ctx->seqA;
        const Sequencer b = p.ctx->seqB;
        StartConnection(p, 9, 16, flags, kPhase2V8);
        EXPECT_EQ(p.ctx->seqA.list, a.list) << int(flags);
        EXPECT_EQ(p.ctx->seqB.list, b.list) << int(flags);
        EXPECT_EQ(p.ctx->seqB.position, b.position) << int(flags);
        EXPECT_EQ(p.ctx->procedure.v8Continue, 0);
        p.Block(nullptr);
    }
}

// A 2100 Hz tone with a reversal every 4320 samples, at levels from -41 to -5 dBm0 and 20 dB SNR, the reversal
// anywhere in a block: each reversal only pauses the plain-tone count (its ratio stays above the off ratio),
// so the caller reports answer tone 1.45 s after arming and never takes the tone for ANSam.
TEST(V8Procedure, ReversalsPauseThePlainToneCount)
{
    std::mt19937 rng(5);
    std::normal_distribution<double> noise(0, 1);
    for (double amplitude : {300.0, 3000.0, 20000.0}) {
        for (int offset : {0, 40, 80}) {
            Pump caller;
            StartConnection(caller, 9, 16, kOriginate | kV8);
            double phase = 0.3;
            int64_t n = 0;
            int t = 0;
            int resets = 0;
            for (; t < 300 && Progress(caller) != 32 && Progress(caller) != 6; ++t) {
                std::vector<int16_t> block(96, 0);
                for (int i = 0; i < 96; ++i, ++n) {
                    if (n > 1000 && (n - offset) % 4320 == 0)
                        phase += M_PI;
                    phase += 2 * M_PI * 2100 / 9600;
                    block[i] = LineSaturate(amplitude * (std::sin(phase) + 0.0707 * noise(rng)));
                }
                const bool armed = caller.ctx->procedure.amArmed != 0;
                const int32_t before = caller.ctx->procedure.notch2100.runCount;
                caller.Block(block.data());
                if (armed && Progress(caller) == 34 && caller.ctx->procedure.notch2100.runCount < before)
                    ++resets;
            }
            EXPECT_EQ(Progress(caller), 6) << amplitude << " " << offset;
            EXPECT_EQ(resets, 0) << amplitude << " " << offset;
            EXPECT_NEAR(t, 154, 3) << amplitude << " " << offset;
        }
    }
}

#ifdef HAVE_SPANDSP
// The peer's ANSam (8000 Hz, resampled to the pump's 9600) is recognised as ANSam, not as plain answer tone;
// the peer's plain answer tone is not taken for ANSam; with phase reversals or without.
TEST(V8Procedure, CallerRecognisesThePeersAnsam)
{
    for (int tone : {MODEM_CONNECT_TONES_ANSAM, MODEM_CONNECT_TONES_ANS, MODEM_CONNECT_TONES_ANSAM_PR,
                     MODEM_CONNECT_TONES_ANS_PR}) {
        Pump caller;
        StartConnection(caller, 9, 16, kOriginate | kV8);
        modem_connect_tones_tx_state_t* tx = modem_connect_tones_tx_init(nullptr, tone);
        ASSERT_NE(tx, nullptr);
        Resampler up;
        up.ConfigureRates(8000, 9600);
        std::deque<int16_t> queue;
        int t = 0;
        for (; t < 300 && Progress(caller) != 32 && Progress(caller) != 6; ++t) {
            int16_t peer[80];
            modem_connect_tones_tx(tx, peer, 80);
            std::vector<double> x(peer, peer + 80);
            up.Push(x.data(), x.size());
            std::vector<double> y(200);
            const size_t k = up.Pull(y.data(), y.size());
            for (size_t i = 0; i < k; ++i)
                queue.push_back(LineSaturate(y[i] * 0.5));
            std::vector<int16_t> block(96, 0);
            for (int i = 0; i < 96 && !queue.empty(); ++i) {
                block[i] = queue.front();
                queue.pop_front();
            }
            caller.Block(block.data());
        }
        const bool am = tone == MODEM_CONNECT_TONES_ANSAM || tone == MODEM_CONNECT_TONES_ANSAM_PR;
        EXPECT_EQ(Progress(caller), am ? 32 : 6) << "tone " << tone << " after " << t;
        modem_connect_tones_tx_free(tx);
    }
}
#endif

}  // namespace
