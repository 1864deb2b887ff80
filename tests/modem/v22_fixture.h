// Two data pumps (or one pump and an independent peer) joined by the line model: each direction resampled to
// the 8000 Hz line and back, with noise, frequency offset, sample-clock skew and each side's hybrid echo. The
// test plays the controller's side of each pump's data chunks, block by block.
#pragma once

#include <algorithm>
#include <cmath>
#include <deque>
#include <memory>
#include <vector>

#include "layer1/dsp/framer.h"
#include "layer1/dsp/mode_entries.h"
#include "layer1/dsp/register_window.h"
#include "layer1/dsp_fixture.h"
#include "layer1/fsk_fixture.h"
#include "layer1/modem/v32/v32_mode.h"
#include "line/line_model.h"
#include "line/resampler.h"

namespace v22test {

// The controller's side of one pump's data chunks.
struct ChunkLink {
    explicit ChunkLink(DspInterfaceBlock* b) : block(b) {}
    DspInterfaceBlock* block;
    std::deque<uint8_t> toSend;
    std::vector<uint8_t> received;
    std::vector<uint8_t> flags;

    void Serve()
    {
        if (!toSend.empty() && WindowLoadPair(block, kRegTxCount) == 0) {
            const size_t n = std::min<size_t>(32, toSend.size());
            for (size_t i = 0; i < n; ++i) {
                WindowStore(block, kRegTxData + static_cast<int>(i), toSend.front());
                toSend.pop_front();
            }
            WindowStorePair(block, kRegTxCount, static_cast<uint16_t>(n));
        }
        const uint16_t pair = WindowLoadPair(block, kRegRxCount);
        if (pair == 0)
            return;
        for (int i = 0; i < (pair & 0xFF); ++i)
            received.push_back(WindowLoad(block, kRegRxData + i));
        if ((pair >> 8) != 0)
            flags.push_back(static_cast<uint8_t>(pair >> 8));
        WindowStorePair(block, kRegRxCount, 0);
    }
};

// One pump without a sample stream: each block takes received samples, runs both sequencers as the idle
// block handler does and hands back what the pump sent.
struct Pump {
    dsptest::DspBench bench;
    DspContext* ctx = bench.context.get();
    ChunkLink link{bench.block.get()};
    std::vector<uint8_t> statusLog;   // register 54 after each change

    // The V.32bis pump takes over the block handler at 7200 samples a second: while it runs, the 9600 Hz
    // blocks are resampled to it and back, and its modem runs on them.
    Resampler down7200;
    Resampler up9600;
    std::deque<int16_t> in7200;
    std::deque<int16_t> out9600;
    bool v32 = false;

    std::vector<int16_t> V32Blocks(const int16_t* rx)
    {
        if (!v32) {
            down7200.ConfigureRates(9600, 7200);
            up9600.ConfigureRates(7200, 9600);
            out9600.assign(96, 0);
            v32 = true;
        }
        std::vector<double> x(96);
        for (int i = 0; i < 96; ++i)
            x[i] = rx ? rx[i] : 0;
        down7200.Push(x.data(), x.size());
        std::vector<double> y(200);
        const size_t n = down7200.Pull(y.data(), y.size());
        for (size_t i = 0; i < n; ++i)
            in7200.push_back(LineSaturate(y[i]));
        while (in7200.size() >= static_cast<size_t>(kV32BlockSamples) && ctx->blockHandler == V32bisBlockHandler) {
            int16_t a[kV32BlockSamples], b[kV32BlockSamples];
            for (int i = 0; i < kV32BlockSamples; ++i) {
                a[i] = in7200.front();
                in7200.pop_front();
            }
            V32Block(&ctx->v32.modem, a, b, kV32BlockSamples);
            FramerPostRxBytes(ctx);
            std::vector<double> d(b, b + kV32BlockSamples);
            up9600.Push(d.data(), d.size());
            std::vector<double> u(200);
            const size_t k = up9600.Pull(u.data(), u.size());
            for (size_t i = 0; i < k; ++i)
                out9600.push_back(LineSaturate(u[i]));
        }
        std::vector<int16_t> out(96, 0);
        for (int i = 0; i < 96 && !out9600.empty(); ++i) {
            out[i] = out9600.front();
            out9600.pop_front();
        }
        return out;
    }

    std::vector<int16_t> Block(const int16_t* rx)
    {
        link.Serve();
        LockDsp(bench.block.get());
        if (ctx->blockHandler == V32bisBlockHandler) {
            std::vector<int16_t> out = V32Blocks(rx);
            UnlockDsp(bench.block.get());
            link.Serve();
            const uint8_t s = Status();
            if (statusLog.empty() || statusLog.back() != s)
                statusLog.push_back(s);
            return out;
        }
        v32 = false;
        for (int i = 0; i < 96; ++i)
            ctx->rxWork[i] = rx ? rx[i] : 0;
        RunStep(ctx, &ctx->seqB);
        RunStep(ctx, &ctx->seqA);
        FramerPostRxBytes(ctx);
        std::vector<int16_t> out(ctx->txWork, ctx->txWork + 96);
        std::fill(std::begin(ctx->txWork), std::end(ctx->txWork), int16_t{0});
        UnlockDsp(bench.block.get());
        link.Serve();
        const uint8_t s = Status();
        if (statusLog.empty() || statusLog.back() != s)
            statusLog.push_back(s);
        return out;
    }
    uint8_t Status() { return bench.Reg(kRegStatus); }
    bool Connected() { return (Status() & kStatusPumpStateMask) == kPumpStateData && (Status() & kStatusConnected) != 0; }

    // Starts the mode as a connection procedure does (mode 6 or 7, rate code 3 or 4), with asynchronous
    // framing both ways.
    void StartV22Mode(int32_t mode, int32_t originate)
    {
        LockDsp(ctx->interfaceBlock);
        ctx->modeNumber = mode;
        ctx->connection.rateCode = mode == 7 ? 4 : 3;
        ctx->connection.originate = originate;
        InitRxFramer(ctx, 0);
        InitTxFramer(ctx, 0);
        StartV22(ctx);
        UnlockDsp(ctx->interfaceBlock);
    }
};

struct LineSettings {
    double snrDb = 25.0;
    double skewPpm = 0.0;        // of the b side's clock against the a side's (a to b: +, b to a: -)
    double offsetHz = 0.0;       // both directions
    double echoLossDb = INFINITY;
    double levelDbm0 = -14.0;    // nominal signal level for the noise
    double delayMs = 0.0;        // one-way bulk delay, each direction
};

// One direction of the line between two 9600 Hz sides.
class Direction {
public:
    Direction(double snrDb, double skewPpm, double offsetHz, double levelDbm0, uint32_t seed, double delayMs = 0.0)
    {
        up_.ConfigureRates(9600, kLineRate);
        // The receiving side's sample clock runs skewPpm faster: it takes 9600 (1 + skew) samples a second of
        // line signal. (The skew sits in this converter rather than in the line model, whose delay line holds
        // a minute of drift: a 64 kB transfer lasts longer.)
        const uint64_t ppm = static_cast<uint64_t>(static_cast<int64_t>(1000000 + std::lround(skewPpm)));
        down_.Configure(uint64_t{kLineRate} * 1000000, uint64_t{9600} * ppm, kLineRate, 3400.0, 4600.0);
        LineModelParams p;
        p.snrDb = snrDb;
        p.nominalLevelDbm0 = levelDbm0;
        p.noiseSeed = seed;
        p.frequencyOffsetHz = offsetHz;
        p.bulkDelayMs = delayMs;
        line_.Configure(p);
        pending_.assign(kSlack, 0);
    }
    // 96 samples in; the next 96 samples out (silence until the line has delivered that many).
    std::vector<int16_t> Process(const std::vector<int16_t>& in)
    {
        std::vector<double> x(in.begin(), in.end());
        up_.Push(x.data(), x.size());
        std::vector<double> mid(256);
        const size_t m = up_.Pull(mid.data(), mid.size());
        std::vector<int16_t> m16(m), l16(m);
        for (size_t i = 0; i < m; ++i)
            m16[i] = LineSaturate(mid[i]);
        line_.Process(m16.data(), l16.data(), m);
        std::vector<double> l(l16.begin(), l16.end());
        down_.Push(l.data(), l.size());
        std::vector<double> out(256);
        const size_t k = down_.Pull(out.data(), out.size());
        for (size_t i = 0; i < k; ++i)
            pending_.push_back(LineSaturate(out[i]));
        std::vector<int16_t> block(96, 0);
        if (pending_.size() >= 96) {
            std::copy(pending_.begin(), pending_.begin() + 96, block.begin());
            pending_.erase(pending_.begin(), pending_.begin() + 96);
        }
        return block;
    }

private:
    static constexpr size_t kSlack = 480;  // 50 ms in hand for a receiver whose clock is slower (500 s at 100 ppm)
    Resampler up_;
    Resampler down_;
    LineDirection line_;
    std::deque<int16_t> pending_;
};

// The near end's echo of a side: its own signal, delayed 2 ms and attenuated, added to what it receives.
class Echo {
public:
    explicit Echo(double lossDb)
    {
        LineEchoParams p;
        p.lossDb = lossDb;
        p.delayMs = 2.0;
        echo_.Configure(p);
    }
    void Apply(const std::vector<int16_t>& sent, std::vector<int16_t>& received)
    {
        echo_.Apply(sent.data(), received.data(), sent.size());
    }

private:
    LineEcho echo_;
};

// Two pumps a (caller) and b (answerer) on one line, run one block at a time.
struct PumpPair {
    Pump a;
    Pump b;
    Direction ab;
    Direction ba;
    Echo echoA;
    Echo echoB;
    std::vector<int16_t> toA = std::vector<int16_t>(96, 0);
    std::vector<int16_t> toB = std::vector<int16_t>(96, 0);
    std::vector<int16_t> lastFromA;   // what each pump sent in the last block
    std::vector<int16_t> lastFromB;
    int64_t blocks = 0;

    explicit PumpPair(const LineSettings& s)
        : ab(s.snrDb, s.skewPpm, s.offsetHz, s.levelDbm0, 1, s.delayMs),
          ba(s.snrDb, -s.skewPpm, s.offsetHz, s.levelDbm0, 2, s.delayMs),
          echoA(s.echoLossDb), echoB(s.echoLossDb)
    {
    }

    void Step()
    {
        std::vector<int16_t> fromA = a.Block(toA.data());
        std::vector<int16_t> fromB = b.Block(toB.data());
        toB = ab.Process(fromA);
        toA = ba.Process(fromB);
        echoA.Apply(fromA, toA);
        echoB.Apply(fromB, toB);
        lastFromA = fromA;
        lastFromB = fromB;
        blocks += 1;
    }
    // Runs until both pumps report the connection; false after maxBlocks.
    bool RunUntilConnected(int maxBlocks)
    {
        for (int i = 0; i < maxBlocks; ++i) {
            Step();
            if (a.Connected() && b.Connected())
                return true;
        }
        return false;
    }
};

}  // namespace v22test
