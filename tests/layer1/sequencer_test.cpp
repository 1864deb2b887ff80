// Step sequencer: counts 1 / N / -1 / 0, the control ops, and the tick a step loses when started inside a tick.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "layer1/dsp/sequencer.h"

namespace {

struct Trace {
    std::string calls;
    Sequencer* seq = nullptr;
    const StepEntry* startList = nullptr;  // a handler that starts this list from inside its tick
};

void H1(void* o) { static_cast<Trace*>(o)->calls += "1"; }
void H2(void* o) { static_cast<Trace*>(o)->calls += "2"; }
void H3(void* o) { static_cast<Trace*>(o)->calls += "3"; }
void H4(void* o) { static_cast<Trace*>(o)->calls += "4"; }
void Starter(void* o)
{
    auto* t = static_cast<Trace*>(o);
    t->calls += "S";
    ControlSequencer(t->seq, SEQ_START_AT, t->startList, 0);
}

std::string RunTicks(const StepEntry* list, int ticks, Trace& t, Sequencer& s)
{
    t.seq = &s;
    ControlSequencer(&s, SEQ_START_AT, list, 0);
    for (int i = 0; i < ticks; ++i)
        RunStep(&t, &s);
    return t.calls;
}

struct ListCase {
    const char* name;
    StepEntry list[6];
    int ticks;
    const char* expected;
};

TEST(Sequencer, CountsTable)
{
    const ListCase cases[] = {
        {"two then skip zero then forever", {{{H1}, 2}, {{H2}, 0}, {{H3}, -1}, kStepEnd}, 6, "113333"},
        {"once each", {{{H1}, 1}, {{H2}, 1}, {{H3}, -1}, kStepEnd}, 5, "12333"},
        // Starting at an entry whose count is 0 leaves remaining 0: the first tick advances past it.
        {"start on a zero entry passes it over", {{{H1}, 0}, {{H2}, 1}, {{H3}, -1}, kStepEnd}, 3, "233"},
        {"N ticks", {{{H1}, 3}, {{H2}, 2}, {{H3}, -1}, kStepEnd}, 7, "1112233"},
        {"list that runs out parks on the end marker", {{{H1}, 1}, {{H2}, 2}, kStepEnd}, 6, "122"},
    };
    for (const ListCase& c : cases) {
        Trace t;
        Sequencer s{};
        EXPECT_EQ(RunTicks(c.list, c.ticks, t, s), c.expected) << c.name;
    }
}

TEST(Sequencer, StepStartedInsideATickLosesThatTick)
{
    static const StepEntry inner[] = {{{H2}, 3}, {{H3}, -1}, kStepEnd};
    static const StepEntry outer[] = {{{Starter}, -1}, kStepEnd};
    Trace t;
    t.startList = inner;
    Sequencer s{};
    // The starting tick already takes one of the three: H2 runs on the next two ticks only.
    EXPECT_EQ(RunTicks(outer, 5, t, s), "S2233");
}

TEST(Sequencer, RestartAtIndexZero)
{
    static const StepEntry list[] = {{{H1}, 1}, {{H2}, -1}, kStepEnd};
    static const StepEntry zeroFirst[] = {{{H1}, 0}, {{H4}, 0}, {{H2}, 1}, {{H3}, -1}, kStepEnd};
    Trace t;
    Sequencer s{};
    RunTicks(list, 3, t, s);
    ControlSequencer(&s, SEQ_RESTART_AT, nullptr, 0);
    RunStep(&t, &s);
    RunStep(&t, &s);
    EXPECT_EQ(t.calls, "12212");

    Trace t2;
    Sequencer s2{};
    RunTicks(zeroFirst, 2, t2, s2);
    ControlSequencer(&s2, SEQ_RESTART_AT, nullptr, 0);
    RunStep(&t2, &s2);  // entry 0 and 1 have count 0: the first later entry with a count runs
    EXPECT_EQ(t2.calls, "232");
}

TEST(Sequencer, OpsEndStepSetRemainingTimerAndLinkedList)
{
    static const StepEntry second[] = {{{H3}, 2}, {{H4}, -1}, kStepEnd};
    static const StepEntry first[] = {{{H1}, -1}, {{H2}, -1}, kStepEnd};
    static const StepEntry link[] = {{{.list = second}, 1}, kStepEnd};
    Trace t;
    Sequencer s{};
    RunTicks(first, 2, t, s);
    ControlSequencer(&s, SEQ_END_STEP, nullptr, 0);
    RunStep(&t, &s);
    EXPECT_EQ(t.calls, "112");
    ControlSequencer(&s, SEQ_SET_REMAINING, nullptr, 1);
    RunStep(&t, &s);  // last tick of a step that now counts 1
    EXPECT_EQ(s.remaining, 0);

    ControlSequencer(&s, SEQ_START_LINKED, link, 0);
    EXPECT_EQ(s.list, second);
    EXPECT_EQ(s.position, 0);
    EXPECT_EQ(s.remaining, 2);
    RunStep(&t, &s);
    RunStep(&t, &s);
    RunStep(&t, &s);
    EXPECT_EQ(t.calls, "112" "2" "334");

    ControlSequencer(&s, SEQ_SET_TIMER, nullptr, 2);
    EXPECT_EQ(s.auxTimer, 2);
    RunStep(&t, &s);
    RunStep(&t, &s);
    RunStep(&t, &s);
    EXPECT_EQ(s.auxTimer, 0);  // counted down while positive, never below 0

    Sequencer before = s;
    ControlSequencer(&s, 9, first, 7);  // unknown op: nothing
    EXPECT_EQ(std::memcmp(&before, &s, sizeof(s)), 0);
}

}  // namespace
