// The hand-over of LAPM frames to the line block: one frame in transmission and one waiting; a sent control
// frame (or an I-frame LAPM finished with while it was on the line) waits in a retained slot until LAPM's
// step has finished with it. When every slot is taken nothing more is sent and nothing is overwritten; the
// step that frees the slots starts the line again.
#include <gtest/gtest.h>

#include <vector>

#include "layer2/corecode/ec/lapm.h"
#include "layer2/corecode/ec/lapm_internal.h"

namespace {

class LapmHandoverTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        LapmHost host{};
        host.context = this;
        host.kick_line = [](void* ctx) { static_cast<LapmHandoverTest*>(ctx)->kicks++; };
        lapm_init(&link, &host, &call, &counters);
        controlFree = ec_frame_free_count(&link.control);
    }

    FrameNode* Control()
    {
        auto* f = static_cast<FrameNode*>(ec_frame_take_free(&link.control));
        EXPECT_NE(f, nullptr);
        EXPECT_EQ(f->owner, FRAME_OWNER_CONTROL);
        f->length = 3;
        return f;
    }

    LapmLink link{};
    LapmCallValues call{};
    EcCounters counters{};
    int kicks = 0;
    uint32_t controlFree = 0;
};

TEST_F(LapmHandoverTest, NothingToSendIsNone)
{
    EXPECT_EQ(lapm_tx_next(&link), nullptr);
    EXPECT_TRUE(lapm_handover_idle(&link));
}

// The first frame handed to an idle line kicks it; a second waits (a third is refused) and becomes current
// when the line asks for the next.
TEST_F(LapmHandoverTest, OneInTransmissionOneWaiting)
{
    FrameNode* a = Control();
    FrameNode* b = Control();
    FrameNode* c = Control();
    ASSERT_TRUE(lapm_handover(&link, a));
    EXPECT_EQ(kicks, 1);
    EXPECT_EQ(lapm_tx_next(&link), a);
    ASSERT_TRUE(lapm_handover(&link, b));
    EXPECT_EQ(kicks, 1) << "the line is busy with a: no kick";
    EXPECT_FALSE(lapm_handover(&link, c));
    EXPECT_EQ(lapm_tx_next(&link), b);
    EXPECT_EQ(link.retained[0], a);
}

// Every sent control frame is kept until the step finishes: with all slots taken the line gets nothing more
// (the frame in transmission stays current, none is overwritten or lost); the step then returns every node
// to its pool and kicks the line, which sends the waiting frame. I-frames the step still holds are not
// kept in a slot.
TEST_F(LapmHandoverTest, FullSlotsHoldTheLineUntilTheStepFreesThem)
{
    std::vector<FrameNode*> sent;
    for (int i = 0; i < LAPM_RETAINED_SLOTS + 1; ++i) {
        FrameNode* f = Control();
        ASSERT_TRUE(lapm_handover(&link, f));
        ASSERT_EQ(lapm_tx_next(&link), f);
        sent.push_back(f);
    }
    for (int i = 0; i < LAPM_RETAINED_SLOTS; ++i)
        EXPECT_EQ(link.retained[i], sent[i]);
    FrameNode* waiting = Control();
    ASSERT_TRUE(lapm_handover(&link, waiting));
    EXPECT_EQ(lapm_tx_next(&link), nullptr) << "no slot for the frame just sent";
    EXPECT_EQ(lapm_tx_next(&link), nullptr);
    const int before = kicks;
    lapm_finish_sent(&link);
    EXPECT_EQ(kicks, before + 1) << "the waiting frame would never be fetched";
    EXPECT_EQ(lapm_tx_next(&link), waiting);
    EXPECT_EQ(link.retained[0], sent.back());
    lapm_finish_sent(&link);
    EXPECT_EQ(lapm_tx_next(&link), nullptr);
    lapm_finish_sent(&link);
    EXPECT_EQ(ec_frame_free_count(&link.control), controlFree) << "a control node was lost";

    auto* iframe = static_cast<FrameNode*>(ec_frame_take_free(&link.iframes));
    ASSERT_NE(iframe, nullptr);
    iframe->length = 10;
    ASSERT_TRUE(lapm_handover(&link, iframe));
    EXPECT_EQ(lapm_tx_next(&link), iframe);
    EXPECT_EQ(lapm_tx_next(&link), nullptr);
    EXPECT_EQ(link.retained[0], nullptr) << "an I-frame waits for its acknowledgement, not in a slot";
    EXPECT_EQ(iframe->in_flight, 0);
}

}  // namespace
