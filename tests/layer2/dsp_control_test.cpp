// DSP control requests and the connection status screen against the stand-in data pump: packets on the
// wire, the detector mode kept without resends, the reset to idle, the power steps and the screen's texts
// for each data-pump state.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core_fixture.h"
#include "layer2/corecode/mt/dsp_control.h"
#include "layer2/corecode/mt/dsp_options.h"
#include "support/pump_stand_in.h"

using namespace coretest;

namespace {

using Bytes = std::vector<uint8_t>;

class DspControl : public ::testing::Test {
protected:
    void SetUp() override
    {
        pump = std::make_unique<DspIcdPump>();
        dev = std::make_unique<DspDevice>();
        DspIcdPumpBindDevice(pump.get(), dev.get(), nullptr);
    }
    std::vector<Bytes> Wire()
    {
        std::vector<Bytes> out;
        for (const IcdLogEntry& e : DspIcdPumpLog(pump.get()))
            out.push_back(IcdWireBytes(e));
        return out;
    }
    void ClearLog()
    {
        std::lock_guard<std::mutex> g(pump->logLock);
        pump->log.clear();
    }
    uint8_t& Reg(int r) { return pump->block.window.reg[r]; }
    // What the hook relay's task hooks saw.
    struct Seen {
        int slice = -1;
        uint8_t mode = 0;
    } seen;

    TempRegistry reg;
    CoreMachine m{reg.Path(), 100000};
    std::unique_ptr<DspIcdPump> pump;
    std::unique_ptr<DspDevice> dev;
};

TEST_F(DspControl, RequestsOnTheWire)
{
    struct Case {
        const char* name;
        int (*send)(DspDevice*);
        std::vector<Bytes> wire;
    };
    const Case cases[] = {
        {"caller-ID detector on", [](DspDevice* d) { return dsp_caller_id_detector(d, true); }, {{0x7D, 2, 128, 0}}},
        {"caller-ID detector off", [](DspDevice* d) { return dsp_caller_id_detector(d, false); }, {{0x7D, 2, 0, 0}}},
        {"DTMF timing", [](DspDevice* d) { return dsp_set_dtmf_timing(d, 70, 80, 0, 0x1234); },
         {{0x66, 6, 70, 80, 0, 0, 0x34, 0x12}}},
        {"DTMF timing, flag 1 swaps the times", [](DspDevice* d) { return dsp_set_dtmf_timing(d, 70, 80, 1, 5); },
         {{0x66, 6, 80, 70, 1, 0, 5, 0}}},
        {"digit (one byte, sent as two)", [](DspDevice* d) { return dsp_start_digit(d, 9); }, {{0x67, 2, 9, 0}}},
        {"transmit level", [](DspDevice* d) { return dsp_set_tx_level(d, 1, 0x0A0B); }, {{0x7B, 2, 0x0B, 0x0A}}},
        {"level modes 0 and 5 use the dual-tone levels",
         [](DspDevice* d) { return dsp_set_tx_level(d, 5, 0x0102) | dsp_set_tx_level(d, 0, 7); },
         {{0x88, 2, 2, 1}, {0x88, 2, 7, 0}}},
        {"light reset", [](DspDevice* d) { return dsp_light_reset(d); }, {{0x60, 2, 1, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClearLog();
        EXPECT_EQ(c.send(dev.get()), kIcdSent);
        EXPECT_EQ(Wire(), c.wire);
    }
}

TEST_F(DspControl, DetectorModeZeroIsNotResentAndHighModesAreKept)
{
    struct Step {
        uint8_t mode;
        std::vector<Bytes> wire;
    };
    const Step steps[] = {
        {0, {}}, {1, {{0x65, 2, 1, 1}}}, {1, {{0x65, 2, 1, 1}}}, {0, {{0x65, 2, 0, 1}}}, {0, {}},
        {5, {}}, {2, {{0x65, 2, 2, 1}}},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(int(s.mode));
        ClearLog();
        EXPECT_EQ(dsp_set_detector_mode(dev.get(), s.mode), kIcdSent);
        EXPECT_EQ(Wire(), s.wire);
        EXPECT_EQ(dev->line.detectorMode, s.mode);
    }
    ClearLog();
    dsp_detector_reset(dev.get());
    EXPECT_EQ(Wire(), (std::vector<Bytes>{{0x65, 2, 0, 1}}));
}

TEST_F(DspControl, ResetToIdleReleasesTheRelaysPutsTheLineOnHookAndResetsLast)
{
    int onHook = 0;
    DspHandlerRequest r{kMsgHook, [](DspMessageNode* n, void* u) { *static_cast<int*>(u) += n->type == 4; },
                        &onHook};
    dsp_msg_register_handler(&dev->queue, &r);
    dsp_relay_voice(&dev->link, true);
    dsp_relay_caller_id(&dev->link, true);
    dsp_relay_speaker_handset(&dev->link, true);
    const uint8_t trace[4] = {0x20, 1, 0x20, 2};
    dsp_trace_append(&dev->link, trace, 4);
    dsp_set_detector_mode(dev.get(), 2);
    ClearLog();
    EXPECT_EQ(dsp_reset_to_idle(dev.get()), kIcdSent);
    EXPECT_EQ(Wire(), (std::vector<Bytes>{{0x65, 2, 0, 1}, {0x60, 2, 0, 0}}));
    EXPECT_FALSE(dsp_voice_relay_on(&dev->link));
    EXPECT_FALSE(dsp_caller_id_relay_on(&dev->link));
    EXPECT_FALSE(dsp_speaker_relay_on(&dev->link));
    EXPECT_EQ(onHook, 1);
    EXPECT_EQ(dsp_msg_queued(&dev->queue), 0);
    EXPECT_EQ(dsp_trace_used(&dev->link), 0);
    EXPECT_EQ(Reg(246) & 1, 1);
    EXPECT_EQ(Reg(252), 1);
    EXPECT_EQ(Reg(66), 2);  // the reset packet's length, written after the link reset's 1
}

TEST_F(DspControl, LinkStartAndPowerSteps)
{
    Reg(247) = 2;
    EXPECT_EQ(dsp_link_start(dev.get()), 0);
    EXPECT_EQ(Reg(247), 0);
    EXPECT_EQ(Reg(246) & 1, 1);
    EXPECT_EQ(Reg(66), 1);
    EXPECT_EQ(Reg(252), 1);
    ClearLog();
    dsp_power_step(dev.get(), 9);
    EXPECT_EQ(Reg(247), 0);
    EXPECT_EQ(Wire().back(), (Bytes{0x60, 2, 0, 0}));
    ClearLog();
    dsp_power_step(dev.get(), 6);
    EXPECT_EQ(Reg(247), 2);  // notifications on again after the set-up
    EXPECT_EQ(Wire(), (std::vector<Bytes>{{0x65, 2, 0, 1}}));
    ClearLog();
    dsp_power_step(dev.get(), 7);
    EXPECT_TRUE(Wire().empty());
}

TEST_F(DspControl, StatusScreenTexts)
{
    struct Case {
        uint8_t status;
        DspConnectionFacts facts;
        const char* text;
    };
    static const uint8_t nr[6] = {0x01, 0xAB, 0x00, 0x10, 0xFF, 0x7E};
    DspConnectionFacts v32{};
    v32.modulation = 16;
    v32.txRate = 14400;
    v32.rxRate = 12000;
    v32.retrains = 2;
    v32.renegotiations = 1;
    DspConnectionFacts unnamed = v32;
    unnamed.modulation = 20;
    DspConnectionFacts v92 = v32;
    v92.modulation = 23;
    v92.v92 = 1;
    DspConnectionFacts noise{};
    noise.noiseReport = nr;
    noise.noiseLength = 2;
    const Case cases[] = {
        {0x00, {}, "Connection Status: Idle|Retrains : 0|Renegs   : 0"},
        {0x13, {}, "Connection Status: Retraining|Retrains : 0|Renegs   : 0"},  // high bits are not the state
        {0x04, {}, "Connection Status: Dropping|Retrains : 0|Renegs   : 0"},
        {0x0D, {}, "Connection Status: Renegotiating|Retrains : 0|Renegs   : 0"},
        {0x05, {}, "Connection Status: Other|Retrains : 0|Renegs   : 0"},
        {0x02, v32, "Connection Status: Connected V32BIS TX=14400 RX=12000|Retrains : 2|Renegs   : 1"},
        {0x12, unnamed, "Connection Status: Connected 20 TX=14400 RX=12000|Retrains : 2|Renegs   : 1"},
        {0x02, v92, "Connection Status: Connected V92 TX=14400 RX=12000|Retrains : 2|Renegs   : 1"},
        {0x00, noise, "Connection Status: Idle|Retrains : 0|Renegs   : 0|DSP NR: 01 AB 00 10 FF 7E"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Reg(kRegStatus) = c.status;
        std::string out;
        ShowConnectionStatus(
            dev.get(), &c.facts, 0,
            [](void* o, const char* t, uint8_t mode) {
                auto* s = static_cast<std::string*>(o);
                if (mode == 2 && !s->empty())
                    *s += "|";
                *s += t;
            },
            &out, nullptr);
        EXPECT_EQ(out, c.text);
    }
}

TEST_F(DspControl, OptionSettersEachOwnOneBit)
{
    struct Case {
        void (*set)(DspLineControl*, uint8_t);
        int word;  // 0 A, 1 B, 2 C
        uint8_t bit;
    };
    const Case cases[] = {
        {opt_set_a20, 0, 0x20}, {opt_set_a01, 0, 0x01}, {opt_set_a08, 0, 0x08}, {opt_set_a40, 0, 0x40},
        {opt_set_a80, 0, 0x80}, {opt_set_b02, 1, 0x02}, {opt_set_a10, 0, 0x10}, {opt_set_b01, 1, 0x01},
        {opt_set_hook_bit, 0, 0x04}, {opt_set_a02, 0, 0x02}, {opt_set_b04, 1, 0x04}, {opt_set_c40, 2, 0x40},
        {opt_set_c08, 2, 0x08}, {opt_set_b08, 1, 0x08}, {opt_set_b80, 1, 0x80}, {opt_set_b10, 1, 0x10},
        {opt_set_b20, 1, 0x20}, {opt_set_b40, 1, 0x40},
    };
    DspLineControl* lc = &dev->line;
    uint8_t* words[3] = {&lc->optionA, &lc->optionB, &lc->optionC};
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.bit) + 256 * c.word);
        lc->optionA = lc->optionB = lc->optionC = 0;
        c.set(lc, 7);
        for (int w = 0; w < 3; ++w)
            EXPECT_EQ(*words[w], w == c.word ? c.bit : 0);
        lc->optionA = lc->optionB = lc->optionC = 0xFF;
        c.set(lc, 0);
        for (int w = 0; w < 3; ++w)
            EXPECT_EQ(*words[w], w == c.word ? static_cast<uint8_t>(~c.bit) : 0xFF);
    }
}

TEST_F(DspControl, HookRelaySetsTheOutputTheOptionBitAndTheSlice)
{
    dev->link.hooks.ctx = &seen;
    dev->link.hooks.set_slice = [](void* c, uint8_t s) { static_cast<Seen*>(c)->slice = s; };
    dev->link.hooks.cc_mode = [](void* c) { return static_cast<Seen*>(c)->mode; };
    struct Case {
        bool offHook;
        uint8_t mode;
        int slice;
    };
    for (const Case& c : {Case{true, 0, 3}, Case{true, 1, 4}, Case{true, 8, 4}, Case{true, 2, 2}, Case{false, 1, 2}}) {
        seen.mode = c.mode;
        dsp_relay_hook(dev.get(), c.offHook);
        EXPECT_EQ(seen.slice, c.slice);
        EXPECT_EQ((Reg(242) & kRelayHook) == 0, c.offHook);  // active low
        EXPECT_EQ((dev->line.optionA & 0x04) != 0, c.offHook);
    }
}

TEST_F(DspControl, LocalPhoneNeedsTheOptionTheReadyStateAndALowInput)
{
    uint8_t lpohd = 1;
    dev->context.lpohd = &lpohd;
    dev->context.ready = 1;
    Reg(242) = 0xFF;
    EXPECT_FALSE(dsp_local_phone_off_hook(dev.get()));
    Reg(242) = static_cast<uint8_t>(~kInputLocalPhone);
    EXPECT_TRUE(dsp_local_phone_off_hook(dev.get()));
    lpohd = 0;
    EXPECT_FALSE(dsp_local_phone_off_hook(dev.get()));
    lpohd = 1;
    dev->context.ready = 0;
    EXPECT_FALSE(dsp_local_phone_off_hook(dev.get()));
}

TEST_F(DspControl, IcdFlagUpdateNeedsTheThirdFlagAndStatusBit20)
{
    struct Case {
        uint8_t third;
        uint8_t status;
        uint8_t first;
    };
    for (const Case& c : {Case{1, 0x20, 1}, Case{1, 0x22, 1}, Case{0, 0x20, 0}, Case{1, 0x02, 0}}) {
        dev->link.icdFlags[0] = 7;
        dev->link.icdFlags[2] = c.third;
        Reg(kRegStatus) = c.status;
        icd_flag_update(dev.get());
        EXPECT_EQ(icd_flag_get(dev.get()), c.first);
    }
    icd_flag_set(dev.get(), 9);
    EXPECT_EQ(dev->link.icdFlags[1], 9);
    icd_flag_clear(dev.get());
    EXPECT_EQ(dev->link.icdFlags[2], 0);
}

}  // namespace
