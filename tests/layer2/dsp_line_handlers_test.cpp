// The line-side message handlers of classes 3 (hook, pulse dialling, flash, line profile), 6 (DTMF digits
// and tone pairs) and 9 (line-check stepping) over the stand-in data pump: the packets they send, the hook
// relay, when they report the end of a dial step, and the message nodes they hold. Time is the router's
// millisecond counter, advanced by the test.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core_fixture.h"
#include "layer2/corecode/cmd/country_block.h"
#include "layer2/corecode/cmd/country_builtin.h"
#include "layer2/corecode/mt/dsp_line_handlers.h"
#include "layer2/corecode/mt/dsp_options.h"
#include "support/pump_stand_in.h"

using namespace coretest;

namespace {

using Bytes = std::vector<uint8_t>;

class LineHandlers : public ::testing::Test {
protected:
    void SetUp() override { Start(country_builtin_block(0)); }

    void Start(const CountryBlock& block)
    {
        country = block;
        stepsDone = 0;
        pump = std::make_unique<DspIcdPump>();
        dev = std::make_unique<DspDevice>();
        DspIcdPumpBindDevice(pump.get(), dev.get(), nullptr);
        DspHandlerRequest handlers[kDspLineHandlerCount];
        const int n = dsp_line_handlers(dev.get(), handlers);
        DspLinkContextHooks hooks{};
        hooks.ctx = this;
        hooks.step_done = [](void* c) { ++static_cast<LineHandlers*>(c)->stepsDone; };
        DspInterfaceSetup(&dev->context, &dev->queue, &dev->link, &dev->line.optionA, &country, handlers, n,
                          &hooks);
        Pump(0);
        ClearLog();
    }
    CountryLineProfile Profile()
    {
        CountryLineProfile p{};
        EXPECT_TRUE(cb_line_profile(country, dev->context.profileIndex, &p));
        return p;
    }
    void Post(uint8_t msg_class, uint8_t type, Bytes data = {}, bool urgent = false)
    {
        ASSERT_TRUE(dsp_msg_send(&dev->queue, msg_class, type, urgent, data.data(), static_cast<int>(data.size())));
    }
    // Advances the millisecond counter and pumps once per 10 ms, as the controller task does (0: one pass
    // without time).
    void Pump(uint32_t ms)
    {
        if (ms == 0)
            dsp_msg_pump(&dev->context);
        for (uint32_t t = 0; t < ms; t += 10) {
            dsp_msg_add_ms(&dev->queue, ms - t < 10 ? ms - t : 10);
            dsp_msg_pump(&dev->context);
        }
    }
    std::vector<Bytes> Wire()
    {
        std::vector<Bytes> out;
        for (const IcdLogEntry& e : DspIcdPumpLog(pump.get())) {
            Bytes b{e.code};
            b.insert(b.end(), e.payload.begin(), e.payload.begin() + e.length);
            out.push_back(b);
        }
        return out;
    }
    void ClearLog()
    {
        std::lock_guard<std::mutex> g(pump->logLock);
        pump->log.clear();
    }
    bool OffHook() { return (pump->block.window.reg[kRegGpioData0] & kRelayHook) == 0; }
    int FreeNodes()
    {
        int n = 0;
        for (DspMessageNode* m = dev->queue.freeHead; m != nullptr; m = m->next)
            ++n;
        return n;
    }
    // Takes every free timer of the router (a test of the no-timer path).
    void UseAllTimers()
    {
        for (uint8_t& id : spareTimerIds) {
            DspTimerRequest r{};
            r.list = &dev->queue.timers;
            r.owner = &id;
            r.delay = 1000000;
            r.callKind = kTimerCall0;
            r.callback = reinterpret_cast<void*>(+[] {});
            dsp_timer_start(&r);
        }
    }

    TempRegistry reg;
    CoreMachine m{reg.Path(), 100000};
    CountryBlock country{};
    std::unique_ptr<DspIcdPump> pump;
    std::unique_ptr<DspDevice> dev;
    int stepsDone = 0;
    uint8_t spareTimerIds[kDspTimers] = {};
};

// Off hook and on hook (2 like 4) drive the relay, and call control is never told of them, not even after
// the profile's waits. Opening the loop sends the data pump idle; the idle detectors are set again (0x65
// {0, 1}) when the on-hook wait ends, and only after a real opening.
TEST_F(LineHandlers, HookChangesDriveTheRelayAndReportNothing)
{
    const CountryLineProfile p = Profile();
    struct Case {
        uint8_t type;
        bool offHook;
        bool detectorsAgain;
    };
    for (const Case c : {Case{3, true, false}, Case{4, false, true}, Case{4, false, false}, Case{3, true, false},
                         Case{2, false, true}}) {
        ClearLog();
        Post(kMsgHook, c.type, {}, true);
        Pump(0);
        EXPECT_EQ(OffHook(), c.offHook) << int(c.type);
        EXPECT_EQ(dsp_hook_status(dev.get()), c.offHook) << int(c.type);
        const uint32_t wait = c.offHook ? p.off_hook_wait_ms : p.on_hook_wait_ms;
        Pump(wait - 10);
        EXPECT_TRUE(Wire().empty()) << int(c.type);
        Pump(1000);
        const std::vector<Bytes> expected =
            c.detectorsAgain ? std::vector<Bytes>{{0x65, 0, 1}} : std::vector<Bytes>{};
        EXPECT_EQ(Wire(), expected) << int(c.type);
    }
    EXPECT_EQ(stepsDone, 0);
}

// A pulse digit goes to the data pump's pulse generator (0x66 with the pulse flag: break time first, then
// make time, flag 1, the inter-digit pause; then 0x67) and ends after pause + count x (make + break).
TEST_F(LineHandlers, PulseDigitTimingAndPackets)
{
    struct Case {
        unsigned country;
        uint8_t character;
        uint8_t code;
        uint32_t pulses;
    };
    const Case cases[] = {{0, '0', 0, 10}, {0, '1', 1, 1}, {0, '7', 7, 7}, {1, '0', 0, 10}, {2, '9', 9, 9}};
    for (const Case& c : cases) {
        Start(country_builtin_block(c.country));
        const CountryLineProfile p = Profile();
        const uint32_t wait = p.interdigit_ms + c.pulses * (p.pulse_make_ms + p.pulse_break_ms);
        Post(kMsgHook, 5);
        Post(kMsgHook, 6, {c.character});
        Pump(0);
        const std::vector<Bytes> expected = {
            {0x66, uint8_t(p.pulse_break_ms), uint8_t(p.pulse_make_ms), 1, 0, uint8_t(p.interdigit_ms),
             uint8_t(p.interdigit_ms >> 8)},
            {0x67, c.code, 0}};
        EXPECT_EQ(Wire(), expected) << c.character;
        Pump(wait - 10);
        EXPECT_EQ(stepsDone, 0) << c.character << " wait " << wait;
        Pump(10);
        EXPECT_EQ(stepsDone, 1) << c.character << " wait " << wait;
        Pump(2000);
        EXPECT_EQ(stepsDone, 1);
    }
}

// Characters that are no pulse digit, a full timer list, and a hook change during the digit: the step is
// not taken or not reported, and call control's own wait ends it.
TEST_F(LineHandlers, PulseDigitNotTakenOrCut)
{
    for (uint8_t c : {uint8_t('A'), uint8_t('*'), uint8_t(0), uint8_t('/'), uint8_t(':')})
        Post(kMsgHook, 6, {c});
    Pump(3000);
    EXPECT_TRUE(Wire().empty());
    Post(kMsgHook, 6, {'3'});
    Post(kMsgHook, 4, {}, false);
    Pump(5000);
    EXPECT_EQ(stepsDone, 0);
    ClearLog();
    UseAllTimers();
    Post(kMsgHook, 6, {'3'});
    Pump(5000);
    EXPECT_TRUE(Wire().empty());
    EXPECT_EQ(stepsDone, 0);
}

// A flash opens the loop for the profile's flash time, closes it again and then reports.
TEST_F(LineHandlers, HookFlash)
{
    const CountryLineProfile p = Profile();
    Post(kMsgHook, 3, {}, true);
    Pump(1000);
    ASSERT_TRUE(OffHook());
    Post(kMsgHook, 8);
    Pump(0);
    Pump(p.flash_ms[0] - 10u);
    EXPECT_FALSE(OffHook());
    EXPECT_EQ(stepsDone, 0);
    Pump(10);
    EXPECT_TRUE(OffHook());
    EXPECT_EQ(stepsDone, 1);
}

// Type 9: the profile whose id is the setting, else the first, and the setting cleared.
TEST_F(LineHandlers, ProfileReselect)
{
    CountryBlock two = country_builtin_block(0);
    cb_put_u16(two, CB_PROFILE_COUNT, 2);
    for (std::size_t i = 0; i < CB_PROFILE_SIZE; ++i)
        cb_put_u8(two, cb_profile_offset(1) + i, cb_u8(two, cb_profile_offset(0) + i));
    cb_put_u8(two, cb_profile_offset(1), 7);
    cb_put_u16(two, cb_profile_offset(1) + 34, 50);  // its own break time
    Start(two);
    struct Case {
        uint8_t setting;
        uint8_t index;
        uint8_t settingAfter;
    };
    for (const Case c : {Case{7, 1, 7}, Case{0, 0, 0}, Case{9, 0, 0}, Case{7, 1, 7}}) {
        dev->context.hookState.profileSetting = c.setting;
        Post(kMsgHook, 9);
        Pump(0);
        EXPECT_EQ(dev->context.profileIndex, c.index) << int(c.setting);
        EXPECT_EQ(dev->context.hookState.profileSetting, c.settingAfter) << int(c.setting);
    }
    // The pulse generator gets the selected profile's times.
    Post(kMsgHook, 6, {'1'});
    Pump(0);
    ASSERT_FALSE(Wire().empty());
    EXPECT_EQ(Wire()[0][1], 50);
}

// Without line profiles, or before set-up, class 3 does nothing.
TEST_F(LineHandlers, NoProfilesNoHookAction)
{
    CountryBlock none = country_builtin_block(0);
    cb_put_u16(none, CB_PROFILE_COUNT, 0);
    Start(none);
    const uint8_t relays = pump->block.window.reg[kRegGpioData0];
    Post(kMsgHook, 3, {}, true);
    Post(kMsgHook, 6, {'5'});
    Post(kMsgHook, 4, {}, true);
    Pump(3000);
    EXPECT_EQ(pump->block.window.reg[kRegGpioData0], relays);
    EXPECT_TRUE(Wire().empty());
    EXPECT_EQ(stepsDone, 0);
}

// Every DTMF character: the country's levels (0x88 {low, high}), its on and off times (0x66, flag 0), the
// digit's code (0x67); the end reported after on + off time. Other characters send nothing.
TEST_F(LineHandlers, DtmfDigitCodesTimingAndLevels)
{
    const CountryDtmf d = cb_dtmf(country);
    const std::string keys = "0123456789ABCD*#";
    for (size_t i = 0; i < keys.size(); ++i) {
        ClearLog();
        Post(kMsgToneGen, 7, {uint8_t(keys[i])});
        Pump(0);
        const std::vector<Bytes> expected = {{0x88, d.level_low, d.level_high},
                                             {0x66, d.on_ms, d.off_ms, 0, 0, 0, 0},
                                             {0x67, uint8_t(i), 0}};
        EXPECT_EQ(Wire(), expected) << keys[i];
        Pump(d.on_ms + d.off_ms - 10u);
        EXPECT_EQ(stepsDone, static_cast<int>(i)) << keys[i];
        Pump(10);
        EXPECT_EQ(stepsDone, static_cast<int>(i + 1)) << keys[i];
    }
    ClearLog();
    for (uint8_t c : {uint8_t('a'), uint8_t('E'), uint8_t(','), uint8_t('W'), uint8_t(0)})
        Post(kMsgToneGen, 7, {c});
    Pump(1000);
    EXPECT_TRUE(Wire().empty());
    EXPECT_EQ(stepsDone, 16);
    // The link context's sender with its own times (16-bit, above a byte: the longest the pump takes).
    ASSERT_TRUE(dsp_generate_dtmf(&dev->context, '#', 100, 300));
    Pump(0);
    EXPECT_EQ(Wire()[1], (Bytes{0x66, 100, 255, 0, 0, 0, 0}));
    EXPECT_EQ(Wire()[2], (Bytes{0x67, 15, 0}));
    Pump(354);
    EXPECT_EQ(stepsDone, 16);
    Pump(1);
    EXPECT_EQ(stepsDone, 17);
}

// A tone pair: levels, then 0x7C with the frequencies as the pump's phase steps per sample at 9600 Hz, and
// after its on time 0x7C with everything cleared. It reports nothing. Out-of-band frequencies play nothing.
TEST_F(LineHandlers, TonePairPacketsAndStop)
{
    const CountryDtmf d = cb_dtmf(country);
    EXPECT_EQ(dsp_tone_phase_step(350), 2389);   // 350 x 65536 / 9600 = 2389.3
    EXPECT_EQ(dsp_tone_phase_step(440), 3004);   // 3003.7
    EXPECT_EQ(dsp_tone_phase_step(2100), 14336);
    ASSERT_EQ(dsp_generate_tone_pair(&dev->context, 350, 440, 500), 1);
    Pump(0);
    const std::vector<Bytes> start = {{0x88, d.level_low, d.level_high}, {0x7C, 0x55, 0x09, 0xBC, 0x0B, 1, 0}};
    EXPECT_EQ(Wire(), start);
    Pump(490);
    EXPECT_EQ(Wire().size(), 2u);
    Pump(10);
    ASSERT_EQ(Wire().size(), 3u);
    EXPECT_EQ(Wire()[2], (Bytes{0x7C, 0, 0, 0, 0, 0, 0}));
    Pump(1000);
    EXPECT_EQ(Wire().size(), 3u);
    EXPECT_EQ(stepsDone, 0);
    ClearLog();
    ASSERT_EQ(dsp_generate_tone_pair(&dev->context, 350, 5000, 500), 1);
    ASSERT_EQ(dsp_generate_tone_pair(&dev->context, 350, 440, 0), 1);
    Pump(1000);
    EXPECT_TRUE(Wire().empty());
}

// A digit during a tone pair stops the pair first; the reset (restart) stops a playing pair and drops the
// pending report.
TEST_F(LineHandlers, ToneGeneratorStepsDoNotOverlap)
{
    ASSERT_EQ(dsp_generate_tone_pair(&dev->context, 350, 440, 5000), 1);
    Pump(100);
    ClearLog();
    Post(kMsgToneGen, 7, {'5'});
    Pump(0);
    ASSERT_GE(Wire().size(), 1u);
    EXPECT_EQ(Wire()[0], (Bytes{0x7C, 0, 0, 0, 0, 0, 0}));
    ASSERT_EQ(dsp_generate_tone_pair(&dev->context, 350, 440, 5000), 1);
    Pump(100);
    ClearLog();
    Post(kMsgToneGen, 1, {}, true);
    Pump(6000);
    EXPECT_EQ(Wire(), (std::vector<Bytes>{{0x7C, 0, 0, 0, 0, 0, 0}}));
    EXPECT_EQ(stepsDone, 0);
}

// The line check of every call: without the call-waiting bit its node is back in the pool after two passes,
// so a thousand calls leave all five nodes free. With the bit set one node steps once per pass, however
// many checks are posted, until the bit clears.
TEST_F(LineHandlers, LineCheckNeverLeaksNodes)
{
    for (int call = 0; call < 1000; ++call) {
        ASSERT_TRUE(dsp_line_check(&dev->context)) << call;
        Pump(10);
    }
    Pump(20);
    EXPECT_EQ(FreeNodes(), kDspMessageNodes);
    EXPECT_EQ(dev->context.lineCheck.steps, 0u);

    dev->link.events.eventFlags.fetch_or(kEventFlagCallWaiting);
    ASSERT_TRUE(dsp_line_check(&dev->context));
    ASSERT_TRUE(dsp_line_check(&dev->context));
    Pump(0);  // both become the stepping message; the second adds none
    Pump(100);
    EXPECT_EQ(dev->context.lineCheck.steps, 10u);
    EXPECT_EQ(FreeNodes(), kDspMessageNodes - 1);
    // A stray step message is not a second stepper.
    Post(kMsgLineInterface, 5);
    Pump(50);
    EXPECT_EQ(dev->context.lineCheck.steps, 15u);
    EXPECT_EQ(FreeNodes(), kDspMessageNodes - 1);
    dev->link.events.eventFlags.fetch_and(static_cast<uint16_t>(~kEventFlagCallWaiting));
    Pump(20);
    EXPECT_EQ(FreeNodes(), kDspMessageNodes);
    EXPECT_EQ(dev->context.lineCheck.stepper, nullptr);
}

}  // namespace
