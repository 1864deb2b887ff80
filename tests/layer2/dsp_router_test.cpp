// The DSP message router and the delta timer list: urgent ordering, the forced dispatch of a sixth take,
// the newest handler, timers for the same moment, cancelling the head, advancing by zero, S-limits.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "layer2/corecode/mt/dsp_router.h"

namespace {

struct Seen {
    std::vector<int> order;
};

void record(DspMessageNode* n, void* user)
{
    static_cast<Seen*>(user)->order.push_back(n->type);
}

class Router : public ::testing::Test {
protected:
    void SetUp() override
    {
        q = std::make_unique<DspMessageQueue>();
        std::memset(static_cast<void*>(q.get()), 0, sizeof *q);
        dsp_msg_queue_init(q.get());
        DspHandlerRequest r{kMsgToneGen, record, &seen};
        ASSERT_EQ(dsp_msg_register_handler(q.get(), &r), 0);
    }
    std::unique_ptr<DspMessageQueue> q;
    Seen seen;
};

TEST_F(Router, UrgentGoesAfterUrgentAheadOfNormal)
{
    dsp_msg_send(q.get(), kMsgToneGen, 1, false, nullptr, 0);
    dsp_msg_send(q.get(), kMsgToneGen, 2, false, nullptr, 0);
    dsp_msg_send(q.get(), kMsgToneGen, 3, true, nullptr, 0);
    dsp_msg_send(q.get(), kMsgToneGen, 4, true, nullptr, 0);
    dsp_msg_dispatch(q.get());
    EXPECT_EQ(seen.order, (std::vector<int>{3, 4, 1, 2}));
}

TEST_F(Router, SixthTakeDispatchesFirstAndNewestHandlerWins)
{
    Seen newer;
    DspHandlerRequest r{kMsgToneGen, record, &newer};
    ASSERT_EQ(dsp_msg_register_handler(q.get(), &r), 0);
    for (int i = 1; i <= 5; ++i)
        ASSERT_TRUE(dsp_msg_send(q.get(), kMsgToneGen, static_cast<uint8_t>(i), false, nullptr, 0));
    EXPECT_TRUE(dsp_msg_send(q.get(), kMsgToneGen, 6, false, nullptr, 0));
    EXPECT_EQ(newer.order, (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_TRUE(seen.order.empty());
    // A class without a handler is released unhandled.
    dsp_msg_send(q.get(), kMsgRing, 1, false, nullptr, 0);
    dsp_msg_dispatch(q.get());
    EXPECT_EQ(dsp_msg_queued(q.get()), 0);
}

std::vector<std::string>* g_fired;
void fired(void* a)
{
    g_fired->push_back(static_cast<const char*>(a));
}

TEST_F(Router, DeltaTimers)
{
    std::vector<std::string> log;
    g_fired = &log;
    uint8_t ids[4] = {};
    auto start = [&](int i, uint32_t ms, const char* name) {
        DspTimerRequest r{&q->timers, &ids[i], ms, kTimerCall1, reinterpret_cast<void*>(&fired),
                          const_cast<char*>(name), nullptr, 0};
        return dsp_timer_start(&r);
    };
    start(0, 100, "a");
    start(1, 100, "b");
    start(2, 250, "c");
    // Cancelling the head keeps the next one's expiry.
    DspTimerRequest cancel{&q->timers, nullptr, 0, 0, nullptr, nullptr, nullptr, ids[0]};
    dsp_timer_cancel(&cancel);
    EXPECT_EQ(ids[0], 0);
    dsp_timer_advance(&q->timers, 99);
    EXPECT_TRUE(log.empty());
    dsp_timer_advance(&q->timers, 1);
    EXPECT_EQ(log, (std::vector<std::string>{"b"}));
    start(3, 150, "d");  // same moment as c: fires after it
    dsp_timer_advance(&q->timers, 150);
    EXPECT_EQ(log, (std::vector<std::string>{"b", "c", "d"}));
    start(0, 0, "z");
    dsp_timer_advance(&q->timers, 0);
    EXPECT_EQ(log.back(), "z");
    // Through the message clock: elapsed milliseconds become an urgent timer message.
    start(1, 30, "t");
    dsp_msg_add_ms(q.get(), 30);
    dsp_msg_post_elapsed(q.get());
    dsp_msg_dispatch(q.get());
    EXPECT_EQ(log.back(), "t");
    // All 24 taken: the 25th fails and its owner id stays 0.
    uint8_t many[25] = {};
    for (int i = 0; i < 24; ++i) {
        DspTimerRequest r{&q->timers, &many[i], 1000, kTimerCall1, reinterpret_cast<void*>(&fired), nullptr, nullptr, 0};
        ASSERT_EQ(dsp_timer_start(&r), 0);
    }
    DspTimerRequest r{&q->timers, &many[24], 1000, kTimerCall1, reinterpret_cast<void*>(&fired), nullptr, nullptr, 0};
    EXPECT_EQ(dsp_timer_start(&r), 1);
    EXPECT_EQ(many[24], 0);
}

TEST(SLimit, Clamping)
{
    uint8_t block[2 + 6 * 3] = {3, 0, 7, 50, 30, 60, 40, 45, 255, 1, 0, 9, 0, 0, 10, 2, 0, 100, 255, 0};
    struct Case {
        uint8_t reg, in, out;
        int matched;
    } cases[] = {{7, 10, 30, 1}, {7, 200, 60, 1}, {7, 42, 46, 1}, {7, 50, 50, 1},
                 {10, 1, 1, 1},  {10, 120, 100, 1}, {255, 5, 5, 0}, {3, 5, 5, 0}};
    for (const Case& c : cases) {
        uint8_t v = c.in;
        EXPECT_EQ(dsp_apply_s_limit(block, c.reg, &v), c.matched) << int(c.reg) << " " << int(c.in);
        EXPECT_EQ(v, c.out) << int(c.reg) << " " << int(c.in);
    }
}

}  // namespace
