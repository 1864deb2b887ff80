// The receive chain after the equaliser (the data-mode decisions): the encoder's points, noise-free and noisy,
// through the Viterbi decoder (with the superframe marker), the demapper and the byte descrambler give back
// the data bytes exactly, for every (symbol rate, data rate) pair, shaping, precoding and trellis code.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "layer1/modem/v34/v34_rx_data.h"
#include "tests/modem/v34_rx_chain.h"

namespace {

using v34test::AllRatePairs;
using v34test::RatePair;
using v34test::TxChain;

struct ChainResult {
    std::vector<uint8_t> received;
    long slicerErrors = 0;   // coordinates a hard decision would have got wrong
    uint32_t erasures = 0;
    int errors = 0;
};

int Slice(int v) { return 256 * (v >= 0 ? v / 256 : -((255 - v) / 256)) + 128; }

ChainResult RunChain(TxChain* tx, const RatePair& p, int shaping, int states, bool precoding, int polynomial,
                     int frames, double sigma)
{
    static V34DataDecisions d;
    InitV34DataDecisions(&d, p.symbolRateIndex, p.rate, shaping, states, v34test::Precoder(precoding), polynomial);
    d.descrambler = 0;
    V34MarkerSchedule marks{};
    InitV34MarkerSchedule(&marks, tx->encoder().frame.J, tx->encoder().frame.P);
    ChainResult r;
    for (int f = 0; f < frames; ++f) {
        PackedComplex rx[8], ideal[8];
        tx->NextFrame(sigma, rx, ideal);
        for (int n = 0; n < 8; ++n)
            r.slicerErrors += (Slice(RealPart(rx[n])) != RealPart(ideal[n])) + (Slice(ImagPart(rx[n])) != ImagPart(ideal[n]));
        for (int k = 0; k < 4; ++k) {
            PackedComplex tent[2];
            DecideDataPair(&d, rx + 2 * k, NextMarkerInversion(&marks), tent);
            uint8_t out[16];
            const int n = ReadDataBytes(&d, out, 16);
            r.received.insert(r.received.end(), out, out + n);
        }
    }
    r.erasures = d.demapper.erasures;
    r.errors = d.demapper.errors;
    return r;
}

void ExpectBytes(const ChainResult& r, const TxChain& tx, int frames, int states)
{
    // All but the frames still in the path memory and the bytes not yet whole.
    const size_t lost = static_cast<size_t>((states + 3) / 4 + 1) * 10 + 8;
    ASSERT_GE(r.received.size() + lost, tx.sent().size() - 4 * static_cast<size_t>(frames > 0));
    ASSERT_LE(r.received.size(), tx.sent().size());
    const auto miss = std::mismatch(r.received.begin(), r.received.end(), tx.sent().begin());
    EXPECT_TRUE(miss.first == r.received.end()) << "first wrong byte " << (miss.first - r.received.begin()) << " of "
                                                << r.received.size();
    EXPECT_EQ(r.errors, 0);
}

TEST(V34RxChain, NoiseFreeEveryPairShapingPrecodingAndCode)
{
    int cases = 0;
    [[maybe_unused]] int combination = 0;
    for (const RatePair& p : AllRatePairs()) {
        for (int shaping = 0; shaping < 2; ++shaping) {
            for (const bool precoding : {false, true}) {
                ++combination;
                for (const int states : {16, 32, 64}) {
#if defined(MODEM_UNDER_SANITIZER)
                    if (states != 16 << (combination % 3))
                        continue;   // one code per combination under the sanitizers
#endif
                    SCOPED_TRACE(testing::Message() << "rate index " << p.symbolRateIndex << " x" << p.rate << " shaping "
                                                    << shaping << " precoding " << precoding << " states " << states);
                    const int polynomial = cases & 1;
                    TxChain tx(p, shaping, states, precoding, polynomial, 500u + static_cast<uint32_t>(cases++));
                    // Past one superframe and the decision delay.
                    const int frames = 2 * tx.encoder().frame.P * tx.encoder().frame.J + states / 4 + 4;
                    const ChainResult r = RunChain(&tx, p, shaping, states, precoding, polynomial, frames, 0);
                    ExpectBytes(r, tx, frames, states);
                    EXPECT_EQ(r.erasures, 0u);
                }
            }
        }
    }
}

// Noise that makes a hard decision wrong now and then: the decoder corrects it and the bytes come back.
TEST(V34RxChain, NoisyStreamsAtEachSymbolRatesTopRate)
{
    const RatePair tops[] = {{0, 9}, {1, 11}, {2, 11}, {3, 12}, {4, 13}, {5, 14}};
#if defined(MODEM_UNDER_SANITIZER)
    constexpr int kFrames = 150;
#else
    constexpr int kFrames = 1500;
#endif
    int cases = 0;
    long slicerErrors = 0;
    for (const RatePair& p : tops) {
        for (const int states : {16, 32, 64}) {
            SCOPED_TRACE(testing::Message() << "rate index " << p.symbolRateIndex << " x" << p.rate << " states " << states);
            TxChain tx(p, 1, states, true, 0, 900u + static_cast<uint32_t>(cases++));
            const ChainResult r = RunChain(&tx, p, 1, states, true, 0, kFrames, 40.0);
            slicerErrors += r.slicerErrors;
            ExpectBytes(r, tx, kFrames, states);
        }
    }
    EXPECT_GT(slicerErrors, cases * kFrames / 100) << "the slicer alone would have made errors";
}

}  // namespace
