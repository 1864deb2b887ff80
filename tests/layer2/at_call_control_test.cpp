// The call-control skeleton under the interpreter: the 20-node event queue, dispatch in one pass, and the
// Idle state's handling of DTE input.
#include <gtest/gtest.h>

#include <memory>

#include "core_fixture.h"
#include "layer2/corecode/cmd/at_context.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/dte/dte.h"

namespace {

struct Control {
    coretest::CoreMachine machine{""};
    std::unique_ptr<DteContext> dte = std::make_unique<DteContext>();
    std::unique_ptr<AcuContext> acu = std::make_unique<AcuContext>();
    Control()
    {
        dte_init(dte.get(), nullptr);
        AcuInit(acu.get(), dte.get(), nullptr, nullptr);
        CallControlTick(acu.get());  // initialisation pass
    }
    unsigned FreeNodes() const
    {
        unsigned n = 0;
        for (CallEventNode* p = acu->queue.free_head; p != nullptr; p = p->link)
            ++n;
        return n;
    }
};

TEST(AtCallControlTest, TheTwentyFirstEventIsDroppedCountedAndLogged)
{
    Control c;
    for (int k = 0; k < 20; ++k)
        PostCallEvent(c.acu.get(), EV_PROGRESS, static_cast<uint8_t>(k));
    EXPECT_EQ(c.FreeNodes(), 0u);
    EXPECT_EQ(c.acu->queue.dropped, 0u);
    PostCallEvent(c.acu.get(), EV_PROGRESS, 99);
    EXPECT_EQ(c.acu->queue.dropped, 1u);
    EXPECT_TRUE(c.machine.LogHas("PostCallEvent: queue full")) << c.machine.M().DebugText();
    // The queued events are handled in order (event 8 changes nothing) and every node comes back.
    DispatchCallEvents(c.acu.get());
    EXPECT_EQ(c.acu->queue.ready_head, nullptr);
    EXPECT_EQ(c.FreeNodes(), 20u);
    EXPECT_EQ(c.acu->call_state, CALL_IDLE);
}

TEST(AtCallControlTest, EventsPostedByAnActionAreHandledInTheSamePass)
{
    Control c;
    // Any character but "A"/"a" is discarded in Idle.
    dte_cmd_in_put(c.dte.get(), 'x');
    CallControlTick(c.acu.get());
    EXPECT_EQ(dte_cmd_in_count(c.dte.get()), 0u);
    EXPECT_EQ(c.acu->call_state, CALL_IDLE);
    // "a" posts the command event from its action; the same pass takes the machine to Command.
    dte_cmd_in_put(c.dte.get(), 'a');
    CallControlTick(c.acu.get());
    EXPECT_EQ(c.acu->call_state, CALL_COMMAND);
    EXPECT_EQ(c.acu->prefix_letter, 'a');
    // A character that continues no prefix ends the command state.
    dte_cmd_in_put(c.dte.get(), 'q');
    CallControlTick(c.acu.get());
    EXPECT_EQ(c.acu->call_state, CALL_IDLE);
}

TEST(AtCallControlTest, ResetEventReinitialisesOnTheNextPass)
{
    Control c;
    c.acu->sreg[3] = 5;
    c.acu->sreg[14] = 0;
    PostCallEvent(c.acu.get(), EV_RESET, 0);
    DispatchCallEvents(c.acu.get());
    EXPECT_EQ(c.acu->initialised, 0);
    CallControlTick(c.acu.get());
    EXPECT_EQ(c.acu->initialised, 1);
    EXPECT_EQ(c.acu->sreg[3], 13);
    EXPECT_EQ(c.acu->sreg[14], 138);
}

}  // namespace
