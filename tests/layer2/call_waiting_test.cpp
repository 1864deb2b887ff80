// The call-waiting sequence, driven step by step: tone bursts measured against the country's patterns, the
// caller's message received and reported between two "RING"s, then the hold (or clear-down) request.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "layer2/corecode/cmd/call_waiting.h"
#include "line/exchange_caller_id.h"
#include "support/exchange_country.h"

namespace {

struct Modem {
    std::string screen;
    std::vector<bool> receiver;  // each switch of the caller-ID receiver
    int answers = 0;
    static void Print(void* ctx, const char* t, uint8_t mode)
    {
        std::string& s = static_cast<Modem*>(ctx)->screen;
        if (mode == 1 || mode == 2)
            s += "\r\n";
        s += t;
        if (mode == 0 || mode == 1)
            s += "\r\n";
    }
    static void Receiver(void* ctx, bool on) { static_cast<Modem*>(ctx)->receiver.push_back(on); }
    static void Answer(void* ctx) { ++static_cast<Modem*>(ctx)->answers; }
    CwOps Ops() { return CwOps{this, Print, Receiver, Answer}; }
};

// Tone bursts {on, off} in 10 ms steps, then quiet; the message (if any) arrives 30 steps after the
// receiver was switched on, split into chunks of 7 bytes.
struct Script {
    std::vector<std::pair<int, int>> bursts;
    std::vector<uint8_t> message;
};

void Play(CwSequence* s, const CountryBlock& block, uint8_t mode, const Script& script, Modem* m, int quiet)
{
    const CwOps ops = m->Ops();
    for (const auto& [on, off] : script.bursts) {
        for (int k = 0; k < on; ++k)
            cw_step(s, block, mode, true, nullptr, 0, ops);
        for (int k = 0; k < off; ++k)
            cw_step(s, block, mode, false, nullptr, 0, ops);
    }
    size_t sent = 0;
    int inCallerId = 0;
    for (int k = 0; k < quiet; ++k) {
        const uint8_t* bytes = nullptr;
        int n = 0;
        if (s->step == CW_CALLER_ID && ++inCallerId > 30 && sent < script.message.size()) {
            n = static_cast<int>(std::min<size_t>(7, script.message.size() - sent));
            bytes = script.message.data() + sent;
            sent += static_cast<size_t>(n);
        }
        cw_step(s, block, mode, false, bytes, n, ops);
    }
}

TEST(CallWaiting, SequenceReportsTheWaitingCallerBetweenTwoRings)
{
    const std::vector<uint8_t> message = CallerIdMultipleMessage(CallerIdFields{"12110400", "3", "CAROL"});
    std::vector<uint8_t> corrupted = message;
    corrupted[6] ^= 4;
    const std::string ring = "\r\nRING\r\n";
    const std::string caller = "DATE=1211\r\nTIME=0400\r\nNMBR=3\r\nNAME=CAROL";
    const struct {
        const char* name;
        const char* iso;
        uint8_t mode;
        Script script;
        std::string screen;
        std::vector<bool> receiver;
        int answers;
    } cases[] = {
        {"one 300 ms burst, formatted", "USA", CID_FORMATTED, {{{30, 0}}, message}, ring + caller + ring, {true, false}, 1},
        {"burst at the lower bound", "USA", CID_FORMATTED, {{{25, 0}}, message}, ring + caller + ring, {true, false}, 1},
        {"burst too long", "USA", CID_FORMATTED, {{{40, 0}}, message}, "", {}, 0},
        {"two bursts where one is expected", "USA", CID_FORMATTED, {{{30, 20}, {30, 0}}, message}, "", {}, 0},
        {"unformatted: no message is waited for", "USA", CID_UNFORMATTED, {{{30, 0}}, message}, ring + ring, {}, 1},
        {"no message comes", "USA", CID_FORMATTED, {{{30, 0}}, {}}, ring + ring, {true, false}, 1},
        {"corrupted message", "USA", CID_FORMATTED, {{{30, 0}}, corrupted}, ring + ring, {true, false}, 1},
        {"two 200 ms bursts", "DEU", CID_FORMATTED, {{{20, 20}, {20, 0}}, message}, ring + caller + ring,
         {true, false}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const CountryBlock& block = linetest::BuiltinCountryBlock(c.iso);
        CwSequence s{};
        cw_reset(&s, CW_WATCH);
        Modem m;
        Play(&s, block, c.mode, c.script, &m, 400);
        EXPECT_EQ(m.screen, c.screen);
        EXPECT_EQ(m.receiver, c.receiver);
        EXPECT_EQ(m.answers, c.answers);
        EXPECT_EQ(s.announced, static_cast<uint32_t>(c.answers));
    }
}

// After a call-waiting tone has been handled the sequence pauses, then watches again; disarmed it does
// nothing.
TEST(CallWaiting, PausesAfterATurnAndDoesNothingWhenOff)
{
    const CountryBlock& block = linetest::BuiltinCountryBlock("USA");
    CwSequence s{};
    cw_reset(&s, CW_WATCH);
    Modem m;
    Play(&s, block, CID_UNFORMATTED, Script{{{30, 0}}, {}}, &m, 100);
    EXPECT_EQ(m.answers, 1);
    EXPECT_EQ(s.step, CW_PAUSE);
    Play(&s, block, CID_UNFORMATTED, Script{{{30, 0}}, {}}, &m, 100);
    EXPECT_EQ(m.answers, 1) << "a tone within the pause is not taken";
    Play(&s, block, CID_UNFORMATTED, Script{}, &m, kCwPauseTicks);
    EXPECT_EQ(s.step, CW_WATCH);
    Play(&s, block, CID_UNFORMATTED, Script{{{30, 0}}, {}}, &m, 100);
    EXPECT_EQ(m.answers, 2);
    cw_reset(&s, CW_OFF);
    Play(&s, block, CID_UNFORMATTED, Script{{{30, 0}}, {}}, &m, 100);
    EXPECT_EQ(m.answers, 2);
    EXPECT_EQ(s.announced, 2u) << "the count of turns survives a reset";
}

// Ten bursts fill the measurement: it is evaluated at once (and matches no pattern).
TEST(CallWaiting, TenBurstsEndTheMeasurement)
{
    const CountryBlock& block = linetest::BuiltinCountryBlock("USA");
    CwSequence s{};
    cw_reset(&s, CW_WATCH);
    Modem m;
    Script many;
    for (int k = 0; k < 12; ++k)
        many.bursts.push_back({30, 10});
    Play(&s, block, CID_FORMATTED, many, &m, 100);
    EXPECT_EQ(m.screen, "");
    EXPECT_EQ(s.step, CW_WATCH);
}

}  // namespace
