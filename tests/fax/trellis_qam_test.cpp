// The trellis code and constellations shared by V.17 and V.32bis, and the fax training generators, against
// an independent implementation's transmitter (read through its state record), plus the rules they follow.
#include <gtest/gtest.h>

#include <set>
#include <utility>
#include <vector>

#include "layer1/modem/common/scrambler23.h"
#include "layer1/modem/common/trellis_qam.h"
#include "layer1/modem/fax/fax_training.h"
#include "layer1/modem/fax/fax_tx.h"

#ifdef HAVE_SPANDSP
#include <spandsp.h>
#include <spandsp/private/logging.h>
#include <spandsp/private/v17tx.h>
#endif

namespace {

TEST(TrellisQam, EveryConstellationIsDistinctAndInvariantUnderAQuarterTurn)
{
    for (int32_t bits = 3; bits <= 6; ++bits) {
        const TrellisPoint* c = TrellisQamConstellation(bits);
        ASSERT_NE(c, nullptr);
        std::set<std::pair<int, int>> seen;
        for (int32_t label = 0; label < TrellisQamPoints(bits); ++label) {
            EXPECT_TRUE(seen.insert({c[label].re, c[label].im}).second) << bits << " " << label;
            // A quarter turn clockwise adds one to Y1 Y2 and inverts Y0.
            const int32_t turned = (label & ~7) | (((((label >> 1) & 3) + 1) & 3) << 1) | ((label & 1) ^ 1);
            EXPECT_EQ(c[turned].re, c[label].im) << bits << " " << label;
            EXPECT_EQ(c[turned].im, -c[label].re) << bits << " " << label;
        }
    }
    EXPECT_EQ(TrellisQamConstellation(2), nullptr);
    EXPECT_EQ(TrellisQamConstellation(7), nullptr);
}

TEST(TrellisQam, FromEachStateTheFourPairsLeadToFourStates)
{
    for (int32_t s = 0; s < kTrellisStates; ++s) {
        std::set<int32_t> next;
        for (int32_t pair = 0; pair < 4; ++pair)
            next.insert(TrellisNextState(s, pair));
        EXPECT_EQ(next.size(), 4u) << s;
    }
}

TEST(Scrambler23, DescramblingInvertsScramblingInAnyGroupSize)
{
    uint32_t tx = 0x12345, rx = 0x7654;  // the receiver starts out of step and catches up within 23 bits
    uint32_t lfsr = 0xACE1u;
    int errors = 0;
    for (int k = 0; k < 2000; ++k) {
        const int32_t n = 1 + k % 6;
        lfsr = lfsr * 1103515245u + 12345u;
        const uint32_t data = (lfsr >> 8) & ((1u << n) - 1u);
        const uint32_t back = Descramble23(&rx, Scramble23(&tx, data, n), n);
        if (k > 10)
            errors += back != data;
    }
    EXPECT_EQ(errors, 0);
}

TEST(FaxTraining, V29ConditioningStartsAsTheRecommendationsSequence)
{
    // From the preset: 0 1 0 1 0 1 0 1 1 1 1 1 1 1 0 0 0 0 0 0 1 0.
    const int want[] = {0, 1, 0, 1, 0, 1, 0, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 1, 0};
    uint32_t reg = kFaxV29ConditioningPreset;
    for (int w : want)
        EXPECT_EQ(FaxV29ConditioningStep(&reg), w);
}

#ifdef HAVE_SPANDSP

int PeerOnes(void*) { return 1; }

TEST(TrellisQam, ConstellationsAreThoseOfAnIndependentTransmitter)
{
    const int rates[] = {7200, 9600, 12000, 14400};
    for (int rate : rates) {
        v17_tx_state_t* s = v17_tx_init(nullptr, rate, 0, PeerOnes, nullptr);
        ASSERT_NE(s, nullptr);
        const int32_t bits = rate / 2400;
        const TrellisPoint* c = TrellisQamConstellation(bits);
        for (int32_t label = 0; label < TrellisQamPoints(bits); ++label) {
            EXPECT_EQ(c[label].re, static_cast<int>(s->constellation[label].re)) << rate << " " << label;
            EXPECT_EQ(c[label].im, static_cast<int>(s->constellation[label].im)) << rate << " " << label;
        }
        v17_tx_free(s);
    }
}

uint32_t g_lfsr = 1;
int PeerRandom(void*)
{
    g_lfsr = g_lfsr * 1103515245u + 12345u;
    return static_cast<int>((g_lfsr >> 16) & 1u);
}

// Drives the independent transmitter sample by sample and records, per data symbol, its differential pair
// and encoder state: our encoder must make the same transitions.
TEST(TrellisQam, EncoderStatesFollowAnIndependentTransmitter)
{
    v17_tx_state_t* s = v17_tx_init(nullptr, 14400, 0, PeerRandom, nullptr);
    ASSERT_NE(s, nullptr);
    int16_t sample;
    int checked = 0;
    for (int i = 0; i < 8000 * 3 && checked < 2000; ++i) {
        const int state = s->convolution;
        const uint32_t reg = s->scramble_reg;
        const int training = s->in_training;
        v17_tx(s, &sample, 1);
        if (training || s->scramble_reg == reg)
            continue;
        EXPECT_EQ(TrellisNextState(state, s->diff), s->convolution) << state << " " << s->diff;
        checked += 1;
    }
    EXPECT_GT(checked, 1000);
    v17_tx_free(s);
}

// The training sequence's first points, read from the independent transmitter's newest symbol, against ours.
TEST(FaxTraining, V17TrainingSequenceIsThatOfAnIndependentTransmitter)
{
    v17_tx_state_t* s = v17_tx_init(nullptr, 14400, 0, PeerOnes, nullptr);
    ASSERT_NE(s, nullptr);
    std::vector<std::pair<int, int>> peer;
    int16_t sample;
    int step = s->rrc_filter_step;
    for (int i = 0; i < 8000 && peer.size() < 400; ++i) {
        v17_tx(s, &sample, 1);
        if (s->rrc_filter_step == step)
            continue;
        step = s->rrc_filter_step;
        const complexf_t p = s->rrc_filter[(step + V17_TX_FILTER_STEPS - 1) % V17_TX_FILTER_STEPS];
        peer.push_back({static_cast<int>(p.re), static_cast<int>(p.im)});
    }
    v17_tx_free(s);
    // The training sequence follows the alternation's last B (2, -6).
    size_t at = 0;
    while (at + 1 < peer.size() && !(peer[at] == std::make_pair(2, -6) && peer[at + 1] != std::make_pair(-6, -2)))
        ++at;
    ASSERT_LT(at + 100, peer.size());
    uint32_t reg = kFaxV17TrainingPreset;
    for (size_t k = 1; k <= 100; ++k) {
        const FaxPoint q = FaxV17TrainingPoint(FaxV17TrainingStep(&reg));
        EXPECT_EQ(q.re / kFaxV17Unit, peer[at + k].first) << k;
        EXPECT_EQ(q.im / kFaxV17Unit, peer[at + k].second) << k;
    }
}

#endif  // HAVE_SPANDSP

}  // namespace
