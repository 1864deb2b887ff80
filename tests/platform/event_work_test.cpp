// Event work: the clock's shared worker runs each member's work when its event is set, in the order the
// members were added, with the adder's machine current, while time stands still; a removed member never runs
// again; real time has no worker.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/machine.h"

namespace {

constexpr LONGLONG kMs = 10000;

struct Member {
    explicit Member(const char* n) : name(n) {}
    const char* name;
    KEVENT event{};
    std::vector<std::string>* order = nullptr;
    std::vector<LONGLONG> at;  // clock time of each run
    LONGLONG delayMs = 0;      // work that waits this long
    LONG stateDuringWork = -1;
};

void Work(void* context)
{
    auto* m = static_cast<Member*>(context);
    m->stateDuringWork = KeReadStateEvent(&m->event);
    m->at.push_back(platform::CurrentClock()->Now());
    m->order->push_back(m->name);
    DbgPrint("work %s\n", m->name);
    if (m->delayMs > 0)
        platform::SleepMs(m->delayMs);
}

struct EventWork : ::testing::Test {
    platform::Clock clock;
    platform::ClockThread self{clock};
    platform::Machine first{Config()};
    platform::Machine second{Config()};
    std::vector<std::string> order;

    platform::MachineConfig Config()
    {
        platform::MachineConfig c;
        c.clock = &clock;
        return c;
    }
    platform::ClockEventWork* Add(platform::Machine& machine, Member* m)
    {
        platform::MachineScope scope(machine);
        m->order = &order;
        KeInitializeEvent(&m->event, NotificationEvent, FALSE);
        return clock.AddEventWork(&m->event, Work, m, m->name);
    }
};

TEST_F(EventWork, MembersSetTogetherRunInTheirOrderWithTheirMachine)
{
    Member blocker("blocker"), a("a"), b("b"), c("c");
    blocker.delayMs = 2;  // keeps the worker busy while the others are set
    platform::ClockEventWork* w0 = Add(first, &blocker);
    platform::ClockEventWork* wa = Add(first, &a);
    platform::ClockEventWork* wb = Add(second, &b);
    platform::ClockEventWork* wc = Add(first, &c);
    ASSERT_NE(wa, nullptr);
    ASSERT_NE(clock.EventWorkerThread(), nullptr);
    platform::SleepMs(1);
    const LONGLONG t0 = clock.Now();
    KeSetEvent(&blocker.event, IO_NO_INCREMENT, FALSE);
    KeSetEvent(&c.event, IO_NO_INCREMENT, FALSE);
    KeSetEvent(&a.event, IO_NO_INCREMENT, FALSE);
    KeSetEvent(&b.event, IO_NO_INCREMENT, FALSE);
    platform::SleepMs(5);
    EXPECT_EQ(order, (std::vector<std::string>{"blocker", "a", "b", "c"}));
    for (Member* m : {&a, &b, &c}) {
        ASSERT_EQ(m->at.size(), 1u) << m->name;
        EXPECT_EQ(m->at[0], t0 + 2 * kMs) << m->name;  // time stood still until every member had run
        EXPECT_EQ(m->stateDuringWork, 0) << m->name;   // reset before the work
    }
    const std::string one = first.DebugText();
    const std::string two = second.DebugText();
    EXPECT_NE(one.find("work a\n"), std::string::npos);
    EXPECT_NE(one.find("work c\n"), std::string::npos);
    EXPECT_EQ(one.find("work b\n"), std::string::npos);
    EXPECT_NE(two.find("work b\n"), std::string::npos);
    for (platform::ClockEventWork* w : {w0, wa, wb, wc})
        clock.RemoveEventWork(w);
}

TEST_F(EventWork, WorkThatWaitsHoldsTheMembersBehindIt)
{
    Member a("a"), b("b");
    a.delayMs = 5;
    platform::ClockEventWork* wa = Add(first, &a);
    platform::ClockEventWork* wb = Add(first, &b);
    platform::SleepMs(1);
    const LONGLONG t0 = clock.Now();
    KeSetEvent(&a.event, IO_NO_INCREMENT, FALSE);
    KeSetEvent(&b.event, IO_NO_INCREMENT, FALSE);
    platform::SleepMs(2);  // a still waits: b has not run
    EXPECT_TRUE(b.at.empty());
    a.delayMs = 0;
    KeSetEvent(&a.event, IO_NO_INCREMENT, FALSE);  // set while a runs: exactly one more run of a
    platform::SleepMs(20);
    EXPECT_EQ(order, (std::vector<std::string>{"a", "a", "b"}));
    ASSERT_EQ(a.at.size(), 2u);
    EXPECT_EQ(a.at[1], t0 + 5 * kMs);
    ASSERT_EQ(b.at.size(), 1u);
    EXPECT_EQ(b.at[0], t0 + 5 * kMs);
    clock.RemoveEventWork(wa);
    clock.RemoveEventWork(wb);
}

TEST_F(EventWork, RemovedMemberNeverRunsAgain)
{
    Member a("a"), b("b");
    platform::ClockEventWork* wa = Add(first, &a);
    platform::ClockEventWork* wb = Add(second, &b);
    KeSetEvent(&a.event, IO_NO_INCREMENT, FALSE);
    platform::SleepMs(1);
    clock.RemoveEventWork(wa);
    KeSetEvent(&a.event, IO_NO_INCREMENT, FALSE);
    KeSetEvent(&b.event, IO_NO_INCREMENT, FALSE);
    platform::SleepMs(1);
    EXPECT_EQ(order, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(KeReadStateEvent(&a.event), 1);  // nobody took it
    clock.RemoveEventWork(wb);
    // Members can join again after all have left.
    Member c("c");
    platform::ClockEventWork* wc = Add(first, &c);
    KeSetEvent(&c.event, IO_NO_INCREMENT, FALSE);
    platform::SleepMs(1);
    EXPECT_EQ(order.back(), "c");
    clock.RemoveEventWork(wc);
}

TEST(EventWorkRealTime, NoWorkerInRealTime)
{
    platform::ClockConfig config;
    config.mode = platform::ClockMode::Real;
    platform::Clock clock(config);
    platform::ClockThread self(clock);
    KEVENT e;
    KeInitializeEvent(&e, NotificationEvent, FALSE);
    EXPECT_EQ(clock.AddEventWork(&e, Work, nullptr, "x"), nullptr);
    EXPECT_EQ(clock.EventWorkerThread(), nullptr);
}

}  // namespace
