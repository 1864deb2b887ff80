// The ring-cadence detector against the built-in countries' ringing cadences: ring kinds by mode, the
// delayed valid-ring report, the ring indicator, the hold timer, and segments that fit no cadence.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "layer2/corecode/cmd/country_builtin.h"
#include "layer2/corecode/mt/dsp_link_context.h"

namespace {

struct Seg {
    bool on;
    uint16_t ms;
};

class Cadence : public ::testing::Test {
protected:
    void Setup(unsigned country)
    {
        block = country_builtin_block(country);
        DspLinkContextHooks h{};
        h.ctx = this;
        h.raise_ri = [](void* c) { static_cast<Cadence*>(c)->ri = true; };
        h.drop_ri = [](void* c) { static_cast<Cadence*>(c)->ri = false; };
        h.ring_event = [](void* c, const uint8_t p[3]) {
            static_cast<Cadence*>(c)->rings.push_back(std::to_string(p[0]) + "/" + std::to_string(p[1]));
        };
        DspInterfaceSetup(&ctx, &queue, nullptr, &optionA, &block, nullptr, 0, &h);
        dsp_msg_dispatch(&queue);
    }
    void Config(uint8_t enable, uint8_t delay)
    {
        dsp_cadence_config(&ctx, enable, delay);
        dsp_msg_dispatch(&queue);
    }
    // One segment as the receive path reports it at its end; time runs on by its duration.
    void Feed(const Seg& s)
    {
        stamp = static_cast<uint16_t>((stamp + s.ms) % 6827);
        dsp_cadence_sample(&ctx, s.on ? 1500 : 0, s.ms, stamp ? stamp : 1);
        dsp_msg_dispatch(&queue);
    }
    void Run(uint32_t ms)
    {
        dsp_timer_advance(&queue.timers, ms);
        dsp_msg_dispatch(&queue);
    }

    CountryBlock block;
    DspMessageQueue queue;
    DspLinkContext ctx;
    uint8_t optionA = 0;
    uint16_t stamp = 100;
    bool ri = false;
    std::vector<std::string> rings;  // kind/duration in 100 ms
};

TEST_F(Cadence, RingKindsByMode)
{
    struct Case {
        const char* name;
        uint8_t enable, delay;
        std::vector<std::string> rings;
    };
    // North America: 2 s on, 4 s off.
    const Case cases[] = {
        {"valid rings only", 0, 0, {"3/20", "3/19"}},
        {"ring on and off only", 1, 0, {"1/20", "2/40", "1/19", "2/41"}},
        // Both: on and off at once, each valid ring once its report delay has run.
        {"both", 1, 5, {"1/20", "2/40", "3/20", "1/19", "2/41", "3/19"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        rings.clear();
        Setup(0);
        Config(c.enable, c.delay);
        for (const Seg& s : {Seg{true, 2000}, Seg{false, 4000}, Seg{true, 1900}, Seg{false, 4100}}) {
            Feed(s);
            if (!s.on)
                Run(500);
        }
        EXPECT_EQ(rings, c.rings);
    }
}

TEST_F(Cadence, DelayedValidRingArrivesByTimerAndRiFollowsTheBursts)
{
    Setup(0);
    Config(1, 5);  // mode 2, 500 ms report delay
    Feed({true, 2000});
    EXPECT_TRUE(ri);
    EXPECT_EQ(optionA & kOptionRingBit, kOptionRingBit);
    EXPECT_EQ(rings, (std::vector<std::string>{"1/20"}));
    Run(499);
    EXPECT_EQ(rings.size(), 1u);
    Run(1);
    EXPECT_EQ(rings, (std::vector<std::string>{"1/20", "3/20"}));
    Feed({false, 4000});
    EXPECT_FALSE(ri);
    EXPECT_EQ(optionA & kOptionRingBit, 0);
    EXPECT_EQ(ctx.cadence.count, 1);
}

TEST_F(Cadence, DoubleRingIsOneValidRing)
{
    Setup(1);  // United Kingdom: 0.4 on, 0.2 off, 0.4 on, 2 s off
    Config(0, 0);
    for (const Seg& s : {Seg{true, 400}, Seg{false, 200}, Seg{true, 400}})
        Feed(s);
    EXPECT_EQ(rings, (std::vector<std::string>{"3/4"}));
    for (const Seg& s : {Seg{false, 2000}, Seg{true, 400}, Seg{false, 200}})
        Feed(s);
    EXPECT_EQ(rings.size(), 1u);
    Feed({true, 400});
    EXPECT_EQ(rings, (std::vector<std::string>{"3/4", "3/4"}));
    EXPECT_EQ(ctx.cadence.count, 2);
}

TEST_F(Cadence, SegmentOutsideEveryCadenceResetsAndPostsKindZero)
{
    Setup(0);
    Config(1, 0);
    Feed({true, 2000});
    Feed({false, 1000});  // far too short a pause
    EXPECT_EQ(rings, (std::vector<std::string>{"1/20", "0/0"}));
    EXPECT_FALSE(ri);
    EXPECT_EQ(ctx.cadence.state, 1);
    EXPECT_EQ(ctx.cadence.resultIndex, 255);
    // After the reset the next ring is recognised afresh.
    Feed({true, 2000});
    EXPECT_EQ(rings.back(), "1/20");
}

TEST_F(Cadence, HoldTimerExpiryResetsTheDetector)
{
    Setup(0);
    Config(0, 0);
    Feed({true, 2000});
    EXPECT_TRUE(ri);
    Run(cb_cadence_hold_ms(block));
    EXPECT_FALSE(ri);
    EXPECT_EQ(ctx.cadence.count, 0);
    EXPECT_EQ(ctx.cadence.reevaluate, 1);
    // Cadence messages of types 0-2 reset it as well and cancel the hold timer.
    Feed({true, 2000});
    EXPECT_TRUE(ri);
    dsp_msg_send(&queue, kMsgCadence, 2, false, nullptr, 0);
    dsp_msg_dispatch(&queue);
    EXPECT_FALSE(ri);
    EXPECT_EQ(ctx.cadence.holdTimer, 0);
}

TEST_F(Cadence, NoCountryBlockMeansNoEvaluation)
{
    Setup(0);
    ctx.country = nullptr;
    Feed({true, 2000});
    EXPECT_TRUE(rings.empty());
    EXPECT_EQ(ctx.cadence.history[kCadenceHistory - 1].duration, 0);
}

}  // namespace
