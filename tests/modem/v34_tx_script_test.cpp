// The transmit scripts symbol by symbol: the length of every segment of the caller's, the answerer's, the
// renegotiation and the preset script, with the receiver's state codes set by the test where the scripts
// wait for them, and the points of S, S-bar, PP, TRN, J', MP and E.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <vector>

#include "layer1/modem/v34/mp_frame.h"
#include "layer1/modem/v34/v34_pump.h"
#include "layer1/modem/v34/v34_tx_steps.h"

namespace {

// Which entry of the list runs at the next tick.
int NextPosition(const Sequencer& s)
{
    if (s.remaining != 0)
        return s.position;
    int q = s.position + 1;
    while (s.list[q].count == 0)
        ++q;
    return q;
}

struct Symbol {
    int position;  // the script entry that made it
    PackedComplex point;
};

struct Runner {
    V34Pump p{};
    std::vector<Symbol> trace;

    Runner(int caller, int rateIndex, int script)
    {
        p.caller = caller;
        p.rateIndex = rateIndex;
        p.symbolRate = V34SymbolRate(rateIndex);
        p.shared.rxCode = kV34RxIdle;
        p.shared.echoMark = -1;
        p.shared.farEchoFlag = 1;
        p.shared.echoTrainingSymbols = 100;
        p.tx.polynomial = caller;
        p.tx.jPattern = kV34J16Point;
        p.tx.framePosition = 8;
        p.rateCodes[0] = p.rateCodes[1] = 14;
        StartV34TransmitScript(&p, script);
    }
    // Ticks until n symbols came out, or until stop says so after a symbol.
    void Run(int n, const std::function<void(Runner&)>& after = nullptr)
    {
        for (int made = 0; made < n;) {
            const int position = NextPosition(p.tx.sequencer);
            p.tx.count = 0;
            RunStep(&p, &p.tx.sequencer);
            if (p.tx.count == 0)
                continue;
            trace.push_back({position, p.tx.symbols[0]});
            ++made;
            if (after)
                after(*this);
        }
    }
    // Symbols made by each script entry, in order of appearance (runs of the same entry merged).
    std::vector<std::pair<int, int>> Segments() const
    {
        std::vector<std::pair<int, int>> v;
        for (const Symbol& s : trace) {
            if (v.empty() || v.back().first != s.position)
                v.push_back({s.position, 0});
            v.back().second += 1;
        }
        return v;
    }
    int Count(int position) const
    {
        int n = 0;
        for (const Symbol& s : trace)
            n += s.position == position;
        return n;
    }
    const StepEntry* Script() const { return p.tx.sequencer.list; }
};

int Re(PackedComplex z) { return RealPart(z); }
int Im(PackedComplex z) { return ImagPart(z); }

// Positions of the caller's script entries.
enum CallerStep {
    kCZero = 1, kCS = 2, kCSNext = 3, kCSBar = 4, kCSBarNext = 5, kCEcho = 6, kCEchoRun = 7, kCS2 = 8,
    kCPp = 12, kCPpNext = 13, kCTrn = 14, kCTrn511 = 15, kCTrnMore = 16, kCJ = 18, kCJRun = 19,
    kCJPrime = 20, kCJPrimeRun = 21, kCTrn4 = 23, kCTrn4Run = 24, kCTrn4More = 25, kCMp = 26, kCMpRun = 27,
    kCMpPrime = 28, kCMpPrimeRun = 29, kCE = 30, kCE5 = 31, kCE4 = 32, kCDataStart = 33, kCFirstFrame = 34,
    kCData = 35,
};

// Runs the caller's script through phases 3 and 4 into data mode; returns the runner.
Runner RunCaller(int fourPoint, int mpSymbols)
{
    Runner r(1, 5, kV34ScriptCaller);
    r.p.tx.fourPoint = fourPoint;
    r.Run(20);
    r.p.shared.rxCode = kV34RxSSeen;  // the silence ends with its next symbol
    r.Run(1 + 128 + 16 + 1 + 100 + 128 + 16 + 288 + 512 + 40);
    r.p.shared.rxCode = kV34RxStepDone;  // TRN ends with its next symbol
    r.Run(1 + 27);
    r.p.shared.rxCode = kV34RxSSeen;  // J ends at the end of its pattern
    r.Run(5 + 8 + 512);
    r.p.shared.rxCode = kV34RxStepDone;
    r.Run(1 + mpSymbols);  // one MP frame; the far end's MP has not come: again
    r.p.shared.rxCode = kV34RxGoodMp;
    r.Run(mpSymbols + mpSymbols - 1);
    r.p.shared.rxCode = kV34RxMpDone;
    r.Run(1 + (fourPoint ? 10 : 5) + 1 + 119 + 8);
    return r;
}

TEST(V34TxScripts, CallerSegmentsHaveTheirLengths)
{
    for (int fourPoint = 0; fourPoint < 2; ++fourPoint) {
        const int mpSymbols = fourPoint ? 94 : 47;
        const Runner r = RunCaller(fourPoint, mpSymbols);
        SCOPED_TRACE(fourPoint ? "four-point" : "sixteen-point");
        EXPECT_EQ(r.Count(kCZero), 21);
        EXPECT_EQ(r.Count(kCS) + r.Count(kCSNext), 128);
        EXPECT_EQ(r.Count(kCSBar) + r.Count(kCSBarNext), 16);
        EXPECT_EQ(r.Count(kCS2) + r.Count(kCS2 + 1), 128) << "S again after the echo training";
        EXPECT_EQ(r.Count(kCS2 + 2) + r.Count(kCS2 + 3), 16);
        EXPECT_EQ(r.Count(kCEcho), 1);
        EXPECT_EQ(r.Count(kCEchoRun), 100);
        EXPECT_EQ(r.Count(kCPp) + r.Count(kCPpNext), 288);
        EXPECT_EQ(r.Count(kCTrn) + r.Count(kCTrn511), 512);
        EXPECT_EQ(r.Count(kCTrnMore), 41);
        EXPECT_EQ(r.Count(kCJ) + r.Count(kCJRun), 32);
        EXPECT_EQ(r.Count(kCJPrime) + r.Count(kCJPrimeRun), 8);
        EXPECT_EQ(r.Count(kCTrn4) + r.Count(kCTrn4Run), 512);
        EXPECT_EQ(r.Count(kCTrn4More), 1);
        EXPECT_EQ(r.Count(kCMp) + r.Count(kCMpRun), 2 * mpSymbols) << "two MP frames";
        EXPECT_EQ(r.Count(kCMpPrime) + r.Count(kCMpPrimeRun), mpSymbols);
        EXPECT_EQ(r.Count(kCE) + r.Count(kCE5) + r.Count(kCE4), fourPoint ? 10 : 5);
        EXPECT_EQ(r.Count(kCE5), fourPoint ? 5 : 0);
        EXPECT_EQ(r.Count(kCDataStart), 1);
        EXPECT_EQ(r.Count(kCFirstFrame), 119) << "the first data frame: 15 mapping frames of 8 symbols";
        EXPECT_EQ(r.Count(kCData), 8);

        // S ends on (-, -) and S-bar starts there: the one break in the alternation.
        std::vector<PackedComplex> s;
        for (const Symbol& x : r.trace)
            if (x.position >= kCS && x.position <= kCSBarNext)
                s.push_back(x.point);
        ASSERT_EQ(s.size(), 144u);
        EXPECT_GT(Re(s[0]), 0);
        EXPECT_GT(Im(s[0]), 0);
        EXPECT_LT(Re(s[127]), 0);
        EXPECT_LT(Im(s[127]), 0);
        EXPECT_EQ(s[128], s[127]);
        for (int i = 1; i < 144; ++i) {
            if (i != 128) {
                EXPECT_NE(Re(s[i]) > 0, Re(s[i - 1]) > 0) << i;
            }
        }
        // Phase-3 TRN has four points; phase-4 TRN and MP have 16 unless the four-point flag is set.
        std::set<PackedComplex> trn3, trn4;
        for (const Symbol& x : r.trace) {
            if (x.position >= kCTrn && x.position <= kCTrnMore)
                trn3.insert(x.point);
            if (x.position >= kCTrn4 && x.position <= kCTrn4More)
                trn4.insert(x.point);
        }
        EXPECT_EQ(trn3.size(), 4u);
        EXPECT_EQ(trn4.size(), fourPoint ? 4u : 16u);
    }
}

TEST(V34TxScripts, AnswererOpensWith47MsOfSilence)
{
    for (int rate : {0, 5}) {
        Runner r(0, rate, kV34ScriptAnswerer);
        r.Run(V34SymbolRate(rate) * 47 / 1000 + 128);
        EXPECT_EQ(r.Count(0), V34SymbolRate(rate) * 47 / 1000);
        EXPECT_EQ(r.Count(1) + r.Count(2), 128);
    }
    EXPECT_EQ(V34SymbolRate(5) * 47 / 1000, 161);
}

TEST(V34TxScripts, AnswererWithoutEchoTrainingGoesFromSBarToPp)
{
    Runner r(0, 5, kV34ScriptAnswerer);
    r.p.shared.echoNoTraining = 1;
    r.Run(161 + 144 + 1 + 288);
    EXPECT_EQ(r.Count(5), 1);  // the echo-training start sends one symbol and jumps
    EXPECT_EQ(r.Count(6), 0);
    EXPECT_EQ(r.Count(11) + r.Count(12), 288);
}

TEST(V34TxScripts, PpKeepsItsIdealPeriodicAutocorrelation)
{
    Runner r(1, 5, kV34ScriptCaller);
    r.p.shared.rxCode = kV34RxSSeen;
    r.p.shared.echoNoTraining = 1;
    r.Run(1 + 144 + 1 + 288);
    std::vector<std::pair<double, double>> pp;
    for (const Symbol& x : r.trace)
        if (x.position == kCPp || x.position == kCPpNext)
            pp.emplace_back(Re(x.point), Im(x.point));
    ASSERT_EQ(pp.size(), 288u);
    double peak = 0;
    for (int i = 0; i < 48; ++i)
        peak += pp[i].first * pp[i].first + pp[i].second * pp[i].second;
    for (int lag = 1; lag < 48; ++lag) {
        double re = 0, im = 0;
        for (int i = 0; i < 48; ++i) {
            const auto& a = pp[i];
            const auto& b = pp[(i + lag) % 48];
            re += a.first * b.first + a.second * b.second;
            im += a.second * b.first - a.first * b.second;
        }
        EXPECT_LT(std::hypot(re, im), 0.02 * peak) << "lag " << lag;
    }
    for (size_t i = 48; i < pp.size(); ++i)
        EXPECT_EQ(pp[i], pp[i - 48]);
}

TEST(V34TxScripts, RenegotiationRunsFourPointAndPresetStartsWithSilence)
{
    Runner r(1, 3, kV34ScriptRenegotiation);
    EXPECT_EQ(r.p.tx.fourPoint, 1);
    r.Run(144 + 30);
    r.p.shared.rxCode = kV34RxStepDone;
    r.Run(1 + 94);
    EXPECT_EQ(r.Count(1) + r.Count(2), 128);
    EXPECT_EQ(r.Count(3) + r.Count(4), 16);
    EXPECT_EQ(r.Count(5) + r.Count(6), 31);
    EXPECT_EQ(r.Count(7) + r.Count(8), 94) << "MP at two bits per symbol";

    Runner preset(1, 5, kV34ScriptPreset);
    preset.Run(1004 + 144 + 288 + 512 + 1001 + 8);
    int zeros = 0;
    for (int i = 0; i <= 5; ++i)
        zeros += preset.Count(i);
    EXPECT_EQ(zeros, 1004);
    EXPECT_EQ(preset.Count(14) + preset.Count(15), 1001);
    EXPECT_EQ(preset.Count(16) + preset.Count(17), 8);
}

}  // namespace
