// The call-restriction handler (class 7) driven directly through the message router on virtual
// milliseconds: verdicts for new, delayed and restricted numbers, the delay table and its index, release of
// restricted numbers, the disabled flag, digit extraction, successes, the 12-entry table, and a random run
// that checks the entries never leave the three lists and no timer is left on a free entry.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "layer2/corecode/cmd/country_block.h"
#include "layer2/corecode/cmd/country_builtin.h"
#include "layer2/corecode/mt/dsp_device.h"
#include "layer2/corecode/mt/dsp_line_handlers.h"

namespace {

struct Rules {
    uint8_t max_attempts;
    uint8_t max_index;
    uint8_t flags;
    uint16_t restriction_s;
    std::vector<uint16_t> delays;  // the last value fills the rest of the table
};

class Restrictions {
public:
    explicit Restrictions(const Rules& rules)
    {
        block = country_builtin_block(0);
        cb_put_u8(block, CB_BLACKLIST, rules.max_attempts);
        cb_put_u8(block, CB_BLACKLIST + 1, rules.max_index);
        cb_put_u8(block, CB_BLACKLIST + 2, rules.flags);
        cb_put_u16(block, CB_BLACKLIST + 4, rules.restriction_s);
        for (unsigned k = 0; k < CB_BL_DELAY_MAX; ++k) {
            uint16_t d = rules.delays.empty() ? 0 : rules.delays[std::min<size_t>(k, rules.delays.size() - 1)];
            cb_put_u16(block, CB_BL_DELAYS + 2 * k, d);
        }
        DspLinkHooks hooks{};
        dsp_device_init(dev.get(), &hooks);
        DspLinkContextHooks h{};
        h.ctx = this;
        h.restriction_verdict = [](void* c, uint8_t v) { static_cast<Restrictions*>(c)->verdicts.push_back(v); };
        DspHandlerRequest handlers[kDspLineHandlerCount];
        const int n = dsp_line_handlers(dev.get(), handlers);
        DspInterfaceSetup(&dev->context, &dev->queue, nullptr, &optionA, &block, handlers, n, &h);
        // Class 3 is watched for the profile re-selection.
        DspHandlerRequest hook{kMsgHook, [](DspMessageNode* node, void* u) {
                                   static_cast<Restrictions*>(u)->hookTypes.push_back(node->type);
                               },
                               this};
        dsp_msg_register_handler(&dev->queue, &hook);
        Pump();
    }

    DspLinkContext* Ctx() { return &dev->context; }
    DspRestrictionState& State() { return dev->context.restriction; }

    void Pump()
    {
        dsp_msg_pump(Ctx());
        dsp_msg_pump(Ctx());  // messages posted by handlers
    }
    void Post(uint8_t type, const void* payload = nullptr, int length = 0)
    {
        ASSERT_TRUE(dsp_msg_send(&dev->queue, kMsgCountry, type, false, static_cast<const uint8_t*>(payload),
                                 length));
        Pump();
    }
    // A check of the dial string; returns the verdict (0 when none came).
    int Check(std::string dial)
    {
        verdicts.clear();
        const char* p = dial.c_str();
        Post(3, &p, sizeof p);
        dial.assign(dial.size(), 'x');  // the handler must not read the buffer afterwards
        return verdicts.size() == 1 ? verdicts[0] : 0;
    }
    void Wait(uint32_t ms)
    {
        dsp_msg_add_ms(&dev->queue, ms);
        Pump();
    }

    CountryBlock block;
    std::unique_ptr<DspDevice> dev = std::make_unique<DspDevice>();
    uint8_t optionA = 0;
    std::vector<uint8_t> verdicts;
    std::vector<uint8_t> hookTypes;
};

// Runs a script of space-separated steps: "C<dial>=<verdict>" checks a number, "L<n>=<verdict>" checks n
// digits, "F" the call failed, "S" it succeeded, "X" clears the pending check, "A" applies the country
// again, "W<ms>" lets time pass. Returns the first step whose verdict differs, or "".
std::string RunScript(Restrictions& r, const std::string& script)
{
    std::istringstream in(script);
    std::string step;
    while (in >> step) {
        const char op = step[0];
        const std::string arg = step.substr(1);
        if (op == 'C' || op == 'L') {
            const size_t eq = arg.rfind('=');
            std::string dial = arg.substr(0, eq);
            if (op == 'L')
                dial = std::string(std::stoul(dial), '7');
            const int got = r.Check(dial);
            if (got != std::stoi(arg.substr(eq + 1)))
                return step + " gave " + std::to_string(got);
        } else if (op == 'F') {
            r.Post(4);
        } else if (op == 'S') {
            r.Post(5);
        } else if (op == 'X') {
            r.Post(6);
        } else if (op == 'A') {
            r.Post(1);
        } else if (op == 'W') {
            r.Wait(static_cast<uint32_t>(std::stoul(arg)));
        } else {
            return "bad step " + step;
        }
    }
    return "";
}

// 4 attempts (restricted after the third failure), index up to 2, delays 0, 5, 10 s, released after 60 s.
const Rules kReleasing{4, 3, 1, 60, {0, 5, 10}};
const Rules kForGood{4, 3, 0, 60, {0, 5, 10}};
const Rules kDelaysOnly{0, 3, 0, 0, {0, 5, 10}};

std::string Repeat(const std::string& s, int n)
{
    std::string out;
    for (int k = 0; k < n; ++k)
        out += s;
    return out;
}

TEST(DspRestrictions, Verdicts)
{
    struct Case {
        const char* name;
        Rules rules;
        std::string script;
    };
    const Case cases[] = {
        {"a new number is allowed", kReleasing, "C0123456=1 C0123456=1"},
        {"the first failure has no delay, the second delays 5 s", kReleasing,
         "C123=1 F C123=1 F C123=2 W4999 C123=2 W1 C123=1"},
        {"the third consecutive failure delays 10 s", kDelaysOnly,
         "C123=1 F C123=1 F W5000 C123=1 F C123=2 W9999 C123=2 W1 C123=1"},
        {"the index is capped at the country's maximum - 1", Rules{0, 3, 0, 0, {0, 5, 10, 40}},
         "C1=1 F C1=1 F W5000 C1=1 F W10000 C1=1 F C1=2 W9999 C1=2 W1 C1=1 F W9999 C1=2 W1 C1=1"},
        {"a maximum index of 0 keeps the index at 0", Rules{0, 0, 0, 0, {3, 50}},
         "C1=1 F C1=2 W3000 C1=1 F W2999 C1=2 W1 C1=1"},
        {"an index beyond the delay table uses its last entry",
         Rules{0, 255, 0, 0, {0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 9}},
         Repeat("C1=1 F W1000 ", 15) + "C1=1 F C1=2 W8999 C1=2 W1 C1=1 F W8999 C1=2 W1 C1=1 F W8999 C1=2 W1 C1=1"},
        {"failures of other numbers in between restart the index", kDelaysOnly,
         "C1=1 F C2=1 F C1=1 F C1=1 F C1=2"},
        {"restricted after maximum - 1 failures", kReleasing,
         "C55=1 F C55=1 F W5000 C55=1 F C55=3 C56=1 C55=3"},
        {"released after the restriction time since the last failure", kReleasing,
         "C55=1 F C55=1 F W5000 C55=1 F W59999 C55=3 W1 C55=1 F C55=1"},
        {"never released when the country keeps restricted numbers", kForGood,
         "C55=1 F C55=1 F W5000 C55=1 F W60000 C55=3 W36000000 C55=3"},
        {"restriction disabled: only the delays apply", Rules{4, 3, 3, 60, {0, 5, 10}},
         "C55=1 F C55=1 F W5000 C55=1 F C55=2 W10000 C55=1 F W10000 C55=1 F W10000 C55=1 F W10000 C55=1"},
        {"a maximum of 0 attempts restricts nothing", Rules{0, 3, 0, 60, {0}},
         "C55=1 F C55=1 F C55=1 F C55=1 F C55=1"},
        {"a maximum of 1 attempt restricts after the first failure", Rules{1, 3, 0, 60, {0}}, "C55=1 F C55=3"},
        {"only the digits count", kReleasing,
         "C(012)-34,5W6=1 F C012P3456=1 F C0123456=2 C01234567=1 C#0*1;23456!=2"},
        {"39 digits are allowed, 40 refused", kReleasing, "L39=1 L40=3 L200=3"},
        {"a string without digits is allowed and not noted", kReleasing,
         "C123=1 F C=1 F CW,;=1 F C123=1 F C123=2"},
        {"a success clears the counts", kReleasing,
         "C77=1 F C77=1 F W5000 C77=1 S C77=1 F C77=1 F C77=2 W5000 C77=1 F C77=3"},
        {"a cleared check notes nothing", kReleasing, "C77=1 F C77=1 X F C77=1 F C77=2"},
        {"one call is noted once", kReleasing, "C77=1 F F F C77=1 F C77=2"},
        {"applying the country starts afresh", kForGood,
         "C55=1 F C55=1 F W5000 C55=1 F C55=3 A C55=1 F C55=1"},
        {"a number forgotten during its delay is not delayed", Rules{0, 3, 0, 3, {10}},
         "C9=1 F C9=2 W2999 C9=2 W1 C9=1"},
        {"after its delay the number is kept until the restriction time", Rules{0, 3, 0, 8, {0, 5}},
         "C1=1 F C1=1 F C1=2 W5000 C1=1 W2999 C1=1 F C1=2"},
        {"and forgotten at the restriction time", Rules{0, 3, 0, 8, {0, 5}},
         "C1=1 F C1=1 F C1=2 W5000 C1=1 W3000 C1=1 F C1=1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Restrictions r(c.rules);
        EXPECT_EQ(RunScript(r, c.script), "");
    }
}

TEST(DspRestrictions, ApplyingTheCountryReselectsTheLineProfile)
{
    Restrictions r(kReleasing);
    EXPECT_EQ(r.hookTypes, std::vector<uint8_t>{9});
    r.Post(1);
    EXPECT_EQ(r.hookTypes, (std::vector<uint8_t>{9, 9}));
}

// Twelve numbers that failed fill the table: a thirteenth waits until an entry is free again, while the
// noted numbers go on being checked as before.
TEST(DspRestrictions, TwelveEntries)
{
    Restrictions r(Rules{4, 3, 1, 60, {0, 5}});
    for (int k = 0; k < 12; ++k)
        ASSERT_EQ(RunScript(r, "C10" + std::to_string(k) + "=1 F W1000"), "") << k;
    EXPECT_EQ(RunScript(r, "C999=2 C100=1 C1011=1"), "");
    EXPECT_EQ(r.State().lists[kRestrictFree].count, 0);
    // The first number's restriction time runs out first: its entry takes the new number.
    EXPECT_EQ(RunScript(r, "W47999 C999=2 W1 C999=1 F C999=1 F C999=2 C101=1 W5000 C999=1 F C999=3"), "");
}

// The entries stay on the three lists, the counts match the links, free entries hold no number and no timer,
// restricted ones no delay, and every timer id an entry holds belongs to a running timer of that entry.
void ExpectSound(Restrictions& r, const std::string& where)
{
    DspRestrictionState& st = r.State();
    int total = 0;
    for (uint8_t l = 0; l < 3; ++l) {
        int n = 0;
        DspRestrictionEntry* prev = nullptr;
        for (DspRestrictionEntry* e = st.lists[l].head; e; e = e->next) {
            ASSERT_EQ(e->list, l) << where;
            ASSERT_EQ(e->prev, prev) << where;
            ASSERT_LE(e->digitCount, kRestrictionDigits - 1) << where;
            ASSERT_EQ(e->timer != 0, e->timerKind != kRestrictNoTimer) << where;
            if (e->timerKind != kRestrictDelay) {
                ASSERT_EQ(e->releaseMs, 0u) << where;
            }
            if (l == kRestrictFree) {
                ASSERT_EQ(e->digitCount, 0) << where;
                ASSERT_EQ(e->timer, 0) << where;
            } else {
                ASSERT_NE(e->digitCount, 0) << where;
            }
            if (l == kRestrictRestricted) {
                ASSERT_TRUE(e->timerKind == kRestrictNoTimer || e->timerKind == kRestrictRelease) << where;
            }
            prev = e;
            ++n;
            ASSERT_LE(n, kRestrictionEntries) << where;
        }
        ASSERT_EQ(st.lists[l].tail, prev) << where;
        ASSERT_EQ(st.lists[l].count, n) << where;
        total += n;
    }
    ASSERT_EQ(total, kRestrictionEntries) << where;
    for (DspRestrictionEntry& e : st.entries) {
        if (e.timer == 0)
            continue;
        bool running = false;
        for (DspTimerEntry* t = r.dev->queue.timers.active; t; t = t->next)
            running = running || (t->id == e.timer && t->owner == &e.timer && t->arg2 == &e);
        ASSERT_TRUE(running) << where;
    }
}

TEST(DspRestrictions, RandomRunsKeepTheTableSound)
{
#if defined(MODEM_UNDER_SANITIZER) || defined(MODEM_UNDER_TSAN)
    const int kSteps = 1500;
#else
    const int kSteps = 6000;
#endif
    const Rules rules[] = {{4, 3, 1, 20, {0, 5, 10}}, {3, 255, 0, 7, {2, 30}}, {0, 0, 2, 0, {1}},
                           {255, 2, 1, 65535, {0, 65535}},
                           {0, 3, 0, 3, {4, 10}}};
    std::mt19937 rng(145);
    for (const Rules& rule : rules) {
        Restrictions r(rule);
        for (int step = 0; step < kSteps; ++step) {
            const unsigned op = rng() % 16;
            std::string where = "step " + std::to_string(step) + " op " + std::to_string(op);
            if (op < 6) {
                const int v = r.Check(std::to_string(rng() % 18) + (rng() % 4 == 0 ? "-9" : ""));
                ASSERT_GE(v, 1) << where;
                ASSERT_LE(v, 3) << where;
            } else if (op < 11) {
                r.Post(4);
            } else if (op == 11) {
                r.Post(5);
            } else if (op == 12) {
                r.Post(6);
            } else if (op == 13 && rng() % 20 == 0) {
                r.Post(1);
            } else {
                r.Wait(rng() % 4 == 0 ? 60000 : rng() % 3000);
            }
            ExpectSound(r, where);
            if (::testing::Test::HasFatalFailure())
                return;
        }
    }
}

}  // namespace
