// Call-progress tone detection (DSP message class 4) against the stand-in data pump: the cadence match, the
// arming of filters and slots, the filter programming on the wire, the energy flags of register 57 timed on
// the router's millisecond counter, the results call control reads, and the end of detection (no message
// node or timer left behind).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core_fixture.h"
#include "layer2/corecode/cmd/country_builtin.h"
#include "layer2/corecode/mt/dsp_control.h"
#include "layer2/corecode/mt/dsp_line_handlers.h"
#include "support/pump_stand_in.h"
#include "support/exchange_country.h"

using namespace coretest;

namespace {

using Bytes = std::vector<uint8_t>;

DspToneInterval On(uint16_t ms) { return DspToneInterval{1, ms}; }
DspToneInterval Off(uint16_t ms) { return DspToneInterval{0, ms}; }
CountryCadenceElement E(uint8_t on, uint16_t lo, uint16_t hi) { return CountryCadenceElement{on, lo, hi}; }

struct MatchCase {
    const char* name;
    std::vector<DspToneInterval> intervals;
    std::vector<CountryCadenceElement> elements;
    bool match;
};

TEST(ToneCadence, MatchTable)
{
    const std::vector<CountryCadenceElement> busy = {E(1, 400, 600), E(0, 400, 600), E(1, 400, 600),
                                                      E(0, 400, 600)};
    const std::vector<CountryCadenceElement> ringback = {E(1, 1600, 2400), E(0, 3200, 4800)};
    const std::vector<CountryCadenceElement> steady = {E(1, 1000, 65535)};
    const MatchCase cases[] = {
        {"two busy cycles", {On(500), Off(500), On(500), Off(500)}, busy, true},
        {"busy after other intervals", {Off(80), On(3000), On(500), Off(450), On(550), Off(420)}, busy, true},
        {"busy run broken in the middle", {On(500), Off(500), On(900), Off(500)}, busy, false},
        {"one cycle is not enough", {On(500), Off(500), On(500)}, busy, false},
        {"flags swapped", {Off(500), On(500), Off(500), On(500)}, busy, false},
        {"bounds are inclusive", {On(400), Off(600), On(600), Off(400)}, busy, true},
        {"one below the minimum", {On(399), Off(500), On(500), Off(500)}, busy, false},
        {"one above the maximum", {On(500), Off(601), On(500), Off(500)}, busy, false},
        {"a failed start still finds a later run",
         {On(500), On(500), Off(500), On(500), Off(500)}, busy, true},
        {"ringback", {Off(300), On(2000), Off(3300)}, ringback, true},
        {"ringback off too short", {On(2000), Off(3000)}, ringback, false},
        {"steady tone has lasted its time", {Off(20), On(1000)}, steady, true},
        {"steady tone not yet", {Off(20), On(999)}, steady, false},
        {"steady tone held at the counter's ceiling", {On(65535)}, steady, true},
        {"no intervals", {}, steady, false},
        {"no elements never matches", {On(500)}, {}, false},
    };
    for (const MatchCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(dsp_tone_cadence_match(c.intervals.data(), static_cast<int>(c.intervals.size()),
                                         c.elements.data(), static_cast<int>(c.elements.size())),
                  c.match);
    }
}

// The controller's class 4 handler over the stand-in data pump; register 57 and the millisecond counter are
// the test's.
class ToneDetect : public ::testing::Test {
protected:
    void SetUp() override { Bind(linetest::BuiltinCountryBlock("USA")); }
    void Bind(const CountryBlock& block)
    {
        country = block;
        pump = std::make_unique<DspIcdPump>();
        dev = std::make_unique<DspDevice>();
        DspIcdPumpBindDevice(pump.get(), dev.get(), nullptr);
        const DspHandlerRequest handler{kMsgToneDetect, dsp_on_tone_detect_msg, dev.get()};
        DspInterfaceSetup(Ctx(), &dev->queue, &dev->link, &optionA, &country, &handler, 1, nullptr);
        dsp_msg_dispatch(&dev->queue);
        ClearLog();
    }
    DspLinkContext* Ctx() { return &dev->context; }
    std::vector<IcdLogEntry> Log() { return DspIcdPumpLog(pump.get()); }
    void ClearLog()
    {
        std::lock_guard<std::mutex> g(pump->logLock);
        pump->log.clear();
    }
    void Detector(uint8_t bits) { pump->block.window.reg[kRegDetector] = bits; }
    // Passes of the message pump, 10 ms apart; the results read on the way, one per pass at most.
    std::vector<uint8_t> Run(int ms)
    {
        std::vector<uint8_t> codes;
        for (int t = 0; t < ms; t += 10) {
            dsp_msg_add_ms(&dev->queue, 10);
            dsp_msg_pump(Ctx());
            if (uint8_t c = dsp_take_tone_result(Ctx()))
                codes.push_back(c);
        }
        return codes;
    }
    // Plays on/off times on bit 0 of register 57.
    std::vector<uint8_t> Play(const std::vector<std::pair<uint8_t, int>>& steps)
    {
        std::vector<uint8_t> codes;
        for (auto [bits, ms] : steps) {
            Detector(bits);
            std::vector<uint8_t> c = Run(ms);
            codes.insert(codes.end(), c.begin(), c.end());
        }
        return codes;
    }
    int FreeNodes()
    {
        int n = 0;
        for (DspMessageNode* m = dev->queue.freeHead; m != nullptr; m = m->next)
            ++n;
        return n;
    }
    bool TimersIdle() { return dev->queue.timers.active == nullptr; }
    int FiltersInUse()
    {
        int n = 0;
        for (const DspToneFilter& f : Ctx()->toneDetect.filters)
            n += f.inUse;
        return n;
    }

    TempRegistry reg;
    CoreMachine m{reg.Path(), 100000};
    CountryBlock country{};
    uint8_t optionA = 0;
    std::unique_ptr<DspIcdPump> pump;
    std::unique_ptr<DspDevice> dev;
};

// Arming dial tone writes the country's filter set into filter 0 (p2-p8, p9-p13 with the mode word and p14,
// p15, then the two level words), and selects detector mode 2 because the detectors were reset (mode 0).
TEST_F(ToneDetect, ArmingProgramsFilterZeroAndSelectsDetectorModeTwo)
{
    ASSERT_TRUE(dsp_detect_tone(Ctx(), 1));
    dsp_msg_dispatch(&dev->queue);
    uint16_t p[16];
    ASSERT_TRUE(cb_filter_set(country, 1, p));
    CountryToneDef def{};
    ASSERT_TRUE(cb_tone_def(country, 0, &def));
    auto words = [](uint16_t address, std::vector<uint16_t> w) {
        Bytes b{static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8)};
        for (uint16_t v : w) {
            b.push_back(static_cast<uint8_t>(v));
            b.push_back(static_cast<uint8_t>(v >> 8));
        }
        return b;
    };
    const std::vector<std::pair<uint8_t, Bytes>> expected = {
        {IcdWriteMemoryHigh, words(0x01D8, {p[2], p[3], p[4], p[5], p[6], p[7], p[8]})},
        {IcdWriteMemoryHigh, words(0x01DF, {p[9], p[10], p[11], p[12], p[13], 256, p[14]})},
        {IcdWriteMemoryHigh, words(0x01E6, {p[15]})},
        {IcdWriteMemory, words(0x0092, {def.level_a, def.level_b})},
        {IcdConfigDetectors, Bytes{2, 1}},
    };
    const std::vector<IcdLogEntry> log = Log();
    ASSERT_EQ(log.size(), expected.size());
    for (size_t i = 0; i < log.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(log[i].code, expected[i].first);
        EXPECT_EQ(log[i].payload, expected[i].second);
    }
    EXPECT_EQ(dev->line.detectorMode, 2);
    // A second arming of the same tone on the running filter writes nothing.
    ClearLog();
    ASSERT_TRUE(dsp_detect_tone(Ctx(), 1));
    dsp_msg_dispatch(&dev->queue);
    EXPECT_TRUE(Log().empty());
}

// Definitions on other filter sets or with other level words take filters 1 and 2, each at its own
// coefficient set with its own mode word and threshold words; a fourth kind finds no filter.
TEST_F(ToneDetect, OtherSetsTakeFiltersOneAndTwo)
{
    uint16_t p[16];
    ASSERT_TRUE(cb_filter_set(country, 1, p));
    cb_put_u16(country, CB_FILTER, 2);
    for (int k = 0; k < 16; ++k)
        cb_put_u16(country, CB_FILTER_SETS + CB_FILTER_SET_SIZE + 2 * k, static_cast<uint16_t>(1000 + k));
    // Ids 20 (set 2), 21 (set 1 with other level words), 22 (set 2 with yet other words).
    const uint8_t sets[3] = {2, 1, 2};
    const uint16_t levels[3] = {40, 30, 20};
    cb_put_u16(country, CB_TONE, 7);
    for (unsigned i = 0; i < 3; ++i) {
        const std::size_t at = CB_TONE_DEFS + (4 + i) * CB_TONE_DEF_SIZE;
        cb_put_u8(country, at, static_cast<uint8_t>(20 + i));
        cb_put_u8(country, at + 1, sets[i]);
        cb_put_u16(country, at + 2, levels[i]);
        cb_put_u16(country, at + 4, levels[i]);
        cb_put_u8(country, at + 10, 1);
        cb_put_u8(country, at + 12, 1);
        cb_put_u16(country, at + 13, 1000);
        cb_put_u16(country, at + 15, 2000);
    }
    const uint8_t request[5] = {4, 20, 21, 22, 1};
    ASSERT_TRUE(dsp_msg_send(&dev->queue, kMsgToneDetect, kToneMsgArm, false, request, 5));
    dsp_msg_dispatch(&dev->queue);
    EXPECT_EQ(FiltersInUse(), 3);
    // Dial tone (set 1, words 40/45) matches none of the three filters.
    for (const DspToneFilter& f : Ctx()->toneDetect.filters)
        EXPECT_NE(f.slots[0].toneId, 1);
    struct Expect {
        uint16_t address;  // low 16 bits of A
        uint16_t first;    // first coefficient word written at A
        uint16_t mode;
        uint16_t threshold;
        uint16_t level;
    };
    const Expect expected[3] = {{0x01D8, 1002, 256, 0x92, 40}, {0x01E7, p[2], 512, 0x94, 30},
                                {0x01F6, 1002, 1024, 0x96, 20}};
    const std::vector<IcdLogEntry> log = Log();
    ASSERT_EQ(log.size(), 13u);  // three filters of four writes, then the detector mode
    for (int f = 0; f < 3; ++f) {
        SCOPED_TRACE(f);
        const Expect& e = expected[f];
        auto word = [](const IcdLogEntry& l, int k) { return l.payload[2 + 2 * k] | (l.payload[3 + 2 * k] << 8); };
        auto address = [](const IcdLogEntry& l) { return l.payload[0] | (l.payload[1] << 8); };
        EXPECT_EQ(address(log[4 * f]), e.address);
        EXPECT_EQ(word(log[4 * f], 0), e.first);
        EXPECT_EQ(address(log[4 * f + 1]), e.address + 7);
        EXPECT_EQ(word(log[4 * f + 1], 5), e.mode);
        EXPECT_EQ(address(log[4 * f + 2]), e.address + 14);
        EXPECT_EQ(log[4 * f + 3].code, IcdWriteMemory);
        EXPECT_EQ(address(log[4 * f + 3]), e.threshold);
        EXPECT_EQ(word(log[4 * f + 3], 0), e.level);
    }
    EXPECT_EQ(log[12].code, IcdConfigDetectors);
}

// The progress-tone request binds the four definitions, which share one filter set and level words, to the
// four slots of filter 0; the filter is programmed once.
TEST_F(ToneDetect, ProgressTonesShareFilterZero)
{
    ASSERT_TRUE(dsp_detect_progress_tones(Ctx()));
    dsp_msg_dispatch(&dev->queue);
    const DspToneFilter& f = Ctx()->toneDetect.filters[0];
    EXPECT_EQ(FiltersInUse(), 1);
    const uint8_t ids[4] = {1, 3, 15, 5};
    for (int s = 0; s < kToneFilterSlots; ++s) {
        EXPECT_EQ(f.slots[s].toneId, ids[s]) << s;
        EXPECT_EQ(f.slots[s].state, kSlotActive) << s;
    }
    int writes = 0;
    for (const IcdLogEntry& e : Log())
        writes += e.code == IcdWriteMemoryHigh;
    EXPECT_EQ(writes, 3);
}

// Twelve tone ids fit the tracking table; a thirteenth in the same request, and every id after it, is not
// armed.
TEST_F(ToneDetect, TrackingTableHoldsTwelveIds)
{
    // Tone definitions with ids 20-27 on filter set 1.
    cb_put_u16(country, CB_TONE, 8);
    for (unsigned i = 0; i < 8; ++i) {
        cb_put_u8(country, CB_TONE_DEFS + i * CB_TONE_DEF_SIZE, static_cast<uint8_t>(20 + i));
        cb_put_u8(country, CB_TONE_DEFS + i * CB_TONE_DEF_SIZE + 10, 1);
        cb_put_u8(country, CB_TONE_DEFS + i * CB_TONE_DEF_SIZE + 12, 1);
        cb_put_u16(country, CB_TONE_DEFS + i * CB_TONE_DEF_SIZE + 13, 1000);
        cb_put_u16(country, CB_TONE_DEFS + i * CB_TONE_DEF_SIZE + 15, 2000);
    }
    // Ids 30-41 fill the table (no definitions), then 20 and 21 find it full.
    uint8_t payload[16] = {14};
    for (int k = 0; k < 12; ++k)
        payload[1 + k] = static_cast<uint8_t>(30 + k);
    payload[13] = 20;
    payload[14] = 21;
    ASSERT_TRUE(dsp_msg_send(&dev->queue, kMsgToneDetect, kToneMsgArm, false, payload, 15));
    dsp_msg_dispatch(&dev->queue);
    for (int k = 0; k < 12; ++k)
        EXPECT_EQ(Ctx()->toneResults[k][0], 30 + k);
    EXPECT_EQ(FiltersInUse(), 0);
    EXPECT_TRUE(Log().empty());
    // After the end of detection the table is free again and the same ids arm.
    ASSERT_TRUE(dsp_stop_tone_detect(Ctx()));
    dsp_msg_dispatch(&dev->queue);
    payload[0] = 2;
    payload[1] = 20;
    payload[2] = 21;
    ASSERT_TRUE(dsp_msg_send(&dev->queue, kMsgToneDetect, kToneMsgArm, false, payload, 3));
    dsp_msg_dispatch(&dev->queue);
    EXPECT_EQ(Ctx()->toneDetect.filters[0].slots[0].toneId, 20);
    EXPECT_EQ(Ctx()->toneDetect.filters[0].slots[1].toneId, 21);
}

// Register-57 flags timed on the millisecond counter give the codes of the country's definitions; what
// matches none gives nothing.
TEST_F(ToneDetect, EnergyFlagCadencesGiveTheirCodes)
{
    struct Case {
        const char* name;
        std::vector<std::pair<uint8_t, int>> steps;
        std::vector<uint8_t> codes;
    };
    const Case cases[] = {
        {"dial tone after a second", {{0, 100}, {1, 990}}, {}},
        {"dial tone", {{0, 100}, {1, 1100}}, {1}},
        {"busy 0.5/0.5", {{0, 100}, {1, 500}, {0, 500}, {1, 500}, {0, 500}, {1, 500}, {0, 500}}, {3}},
        {"reorder 0.25/0.25",
         {{0, 100}, {1, 250}, {0, 250}, {1, 250}, {0, 250}, {1, 250}, {0, 250}, {1, 250}, {0, 250}},
         {15}},
        {"busy too slow", {{0, 100}, {1, 800}, {0, 800}, {1, 800}, {0, 800}, {1, 800}, {0, 800}}, {}},
        {"a filter bit other than the armed filter's", {{0, 100}, {2, 2000}}, {}},
        {"silence", {{0, 5000}}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bind(linetest::BuiltinCountryBlock("USA"));
        Detector(0);
        const uint8_t ids[] = {2, 3, 15};  // busy and reorder; dial tone on its own request
        ASSERT_TRUE(dsp_msg_send(&dev->queue, kMsgToneDetect, kToneMsgArm, false, ids, 3));
        ASSERT_TRUE(dsp_detect_tone(Ctx(), 1));
        EXPECT_EQ(Play(c.steps), c.codes);
    }
}

// Ringback (2 s on, 4 s off) is found once the off time has run to its minimum.
TEST_F(ToneDetect, RingbackAfterItsOffTime)
{
    ASSERT_TRUE(dsp_detect_tone(Ctx(), 5));
    EXPECT_EQ(Play({{0, 500}, {1, 2000}, {0, 3100}}), std::vector<uint8_t>{});
    EXPECT_EQ(Run(200), std::vector<uint8_t>{5});
}

// The poll goes round once per pass while detection runs; a found tone whose slot was the last one waiting
// ends detection, and a stop ends it at once: no message node, timer or filter stays taken, and a late
// poll of the earlier arming does nothing.
TEST_F(ToneDetect, EndOfDetectionLeavesNoNodeOrTimer)
{
    // Definition times so that the slot timers run: 300 ms before evaluation, 5 s to give up.
    cb_put_u16(country, CB_TONE_DEFS + 6, 300);
    cb_put_u16(country, CB_TONE_DEFS + 8, 5000);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(dsp_detect_tone(Ctx(), 1));
        Detector(1);
        Run(200);
        EXPECT_EQ(Ctx()->toneDetect.filters[0].slots[0].state, kSlotWaiting);
        EXPECT_FALSE(TimersIdle());
        EXPECT_EQ(FreeNodes(), kDspMessageNodes - 1);  // the poll
        if (round == 1) {
            ASSERT_TRUE(dsp_stop_tone_detect(Ctx()));
            Run(20);
            EXPECT_EQ(dsp_take_tone_result(Ctx()), 0);
        } else {
            EXPECT_EQ(Run(1200), std::vector<uint8_t>{1});
        }
        EXPECT_EQ(FreeNodes(), kDspMessageNodes);
        EXPECT_TRUE(TimersIdle());
        EXPECT_EQ(FiltersInUse(), 0);
        EXPECT_EQ(Ctx()->toneDetect.polling, 0);
    }
    // A slot that gives up (second time) ends detection without a result.
    Detector(0);
    ASSERT_TRUE(dsp_detect_tone(Ctx(), 1));
    EXPECT_EQ(Run(5200), std::vector<uint8_t>{});
    EXPECT_EQ(FreeNodes(), kDspMessageNodes);
    EXPECT_TRUE(TimersIdle());
    // A stop and a new arming in one pass: the first arming's poll is dropped, one poll goes round.
    ASSERT_TRUE(dsp_detect_tone(Ctx(), 1));
    Run(10);
    ASSERT_TRUE(dsp_stop_tone_detect(Ctx()));
    ASSERT_TRUE(dsp_detect_tone(Ctx(), 1));
    Run(30);
    EXPECT_EQ(FreeNodes(), kDspMessageNodes - 1);
}

// A second wait for dial tone, after the first was found and read, is a new wait: the tone is found again.
// After a reset of the data pump (detector mode 0) the running filter is programmed again.
TEST_F(ToneDetect, EveryDialToneWaitFindsTheTone)
{
    ASSERT_TRUE(dsp_detect_progress_tones(Ctx()));  // busy and the rest keep detection running
    Detector(1);
    EXPECT_EQ(Run(1100), std::vector<uint8_t>{1});
    Detector(0);
    Run(100);
    ASSERT_EQ(dsp_reset_to_idle(dev.get()), kIcdSent);
    ClearLog();
    ASSERT_TRUE(dsp_detect_tone(Ctx(), 1));
    Detector(1);
    EXPECT_EQ(Run(1100), std::vector<uint8_t>{1});
    int writes = 0, modes = 0;
    for (const IcdLogEntry& e : Log()) {
        writes += e.code == IcdWriteMemoryHigh;
        modes += e.code == IcdConfigDetectors;
    }
    EXPECT_EQ(writes, 3);
    EXPECT_EQ(modes, 1);
}

// A country without tone definitions arms nothing; a request whose count runs past the payload is bounded.
TEST_F(ToneDetect, NothingToArm)
{
    CountryBlock none = linetest::BuiltinCountryBlock("USA");
    cb_put_u16(none, CB_TONE, 0);
    Bind(none);
    ASSERT_TRUE(dsp_detect_progress_tones(Ctx()));
    Run(50);
    EXPECT_EQ(FiltersInUse(), 0);
    EXPECT_EQ(FreeNodes(), kDspMessageNodes);
    Bind(linetest::BuiltinCountryBlock("USA"));
    uint8_t payload[32];
    for (uint8_t& b : payload)
        b = 1;
    payload[0] = 255;
    ASSERT_TRUE(dsp_msg_send(&dev->queue, kMsgToneDetect, kToneMsgArm, false, payload, 32));
    Run(20);
    EXPECT_EQ(FiltersInUse(), 1);
    EXPECT_EQ(Ctx()->toneResults[1][0], 0);  // id 1 once
}

}  // namespace
