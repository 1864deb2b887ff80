// The S-register file: the "=" write in its order (refusal, country limit, clamp, timing resend, auto-answer
// option, non-volatile copies) and "?" through the serial device, and the side effects on a bare command side.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "acu_side.h"
#include "at_fixture.h"
#include "core_fixture.h"
#include "layer2/corecode/cmd/at_sreg.h"
#include "layer2/corecode/cmd/core_settings.h"
#include "layer2/corecode/cmd/nvram.h"
#include "layer2/corecode/dte/dte.h"

using attest::AtStack;
using attest::Visible;

namespace {

TEST(AtSregTest, WriteAndReadCaseTable)
{
    coretest::TempRegistry reg;
    AtStack s(reg.Path());
    struct Case {
        const char* line;
        const char* result;  // "OK" or "ERROR"
        unsigned reg;
        const char* reads;   // three digits after the line
    };
    const Case cases[] = {
        {"ATS11=10", "OK", 11, "050"},    // below the minimum: the minimum
        {"ATS32=99", "OK", 32, "032"},    // above the maximum: the maximum
        {"ATS30=256", "ERROR", 30, "000"},
        {"ATS30=255", "OK", 30, "255"},
        {"ATS13=5", "ERROR", 13, "000"},  // S13 does not exist
        {"ATS7=300", "OK", 7, "255"},     // clamped, not refused
        {"ATS81=120", "OK", 81, "016"},
        {"ATS93=3", "OK", 93, "003"},
        {"ATS6=0", "OK", 6, "002"},
        {"ATS2=200", "OK", 2, "127"},
        {"ATS33=91", "OK", 33, "090"},
        {"ATS31=7", "OK", 31, "007"},
        {"ATS120=1", "ERROR", 120, "000"},
        {"ATS255=1", "ERROR", 255, "000"},
        {"ATS0=4294967295", "OK", 0, "255"},
        {"ATS0=4294967296", "ERROR", 0, "255"},  // does not fit the argument
    };
    for (const Case& c : cases) {
        std::string sent = std::string(c.line) + "\r";
        EXPECT_EQ(Visible(s.Dialogue(sent)), Visible(sent + "\r\n" + c.result + "\r\n")) << c.line;
        std::string query = "ATS" + std::to_string(c.reg) + "?\r";
        std::string expect = query + "\r\n" + c.reads + "\r\n\r\nOK\r\n";
        EXPECT_EQ(Visible(s.Dialogue(query)), Visible(expect)) << "after " << c.line;
    }
}

// A command side with its settings but no device: what the write does besides storing the value.
struct Side : attest::AcuSide {
    std::vector<std::vector<uint8_t>> timings;
    std::vector<uint8_t> auto_answer;
    unsigned speaker_offs = 0;
    Side()
    {
        acu->line_hooks.ctx = this;
        acu->line_hooks.send_cp_timing = [](void* c, const uint8_t t[7]) {
            static_cast<Side*>(c)->timings.emplace_back(t, t + 7);
        };
        acu->line_hooks.set_auto_answer = [](void* c, uint8_t on) { static_cast<Side*>(c)->auto_answer.push_back(on); };
        acu->line_hooks.speaker_off = [](void* c) { ++static_cast<Side*>(c)->speaker_offs; };
    }
};

TEST(AtSregTest, TimingRegistersResendTheCallProgressTiming)
{
    Side s;
    AcuContext* a = s.acu.get();
    a->set.dial_option = 2;
    a->connection_timing = 33;
    a->sreg[91] = 7;
    a->sreg[63] = 44;
    a->sreg[108] = 5;
    ASSERT_TRUE(at_sreg_write(a, 9, 12));
    ASSERT_TRUE(at_sreg_write(a, 7, 45));
    ASSERT_TRUE(at_sreg_write(a, 8, 3));  // not a timing register
    ASSERT_EQ(s.timings.size(), 2u);
    EXPECT_EQ(s.timings[1], (std::vector<uint8_t>{12, 45, 14, 2, 7, 33, 5}));
    EXPECT_EQ(s.speaker_offs, 0u);
    // S27 bit 2: 255 replaces S10, S63 replaces S91, and the speaker goes off.
    a->sreg[27] |= 0x04;
    ASSERT_TRUE(at_sreg_write(a, 10, 20));
    ASSERT_EQ(s.timings.size(), 3u);
    EXPECT_EQ(s.timings[2], (std::vector<uint8_t>{12, 45, 255, 2, 44, 33, 5}));
    EXPECT_EQ(a->sreg[10], 20);
    EXPECT_EQ(s.speaker_offs, 1u);
}

TEST(AtSregTest, S0SetsTheAutoAnswerOption)
{
    Side s;
    AcuContext* a = s.acu.get();
    ASSERT_TRUE(at_sreg_write(a, 0, 2));
    EXPECT_EQ(a->auto_answer, 1);
    ASSERT_TRUE(at_sreg_write(a, 0, 0));
    EXPECT_EQ(a->auto_answer, 0);
    EXPECT_EQ(s.auto_answer, (std::vector<uint8_t>{1, 0}));
}

TEST(AtSregTest, LevelRegistersAreWrittenToTheImageAtOnce)
{
    Side s;
    AcuContext* a = s.acu.get();
    CoreSettings* st = s.settings.get();
    const struct {
        unsigned reg;
        std::size_t offset;
    } cases[] = {{81, 135}, {82, 136}, {83, 137}, {91, 138}, {92, 139}, {93, 140}};
    uint8_t value = 3;
    for (const auto& c : cases) {
        ASSERT_TRUE(at_sreg_write(a, c.reg, value));
        EXPECT_EQ(st->nv.bytes[c.offset], value) << "S" << c.reg;
        EXPECT_EQ(st->nv.bytes[NV_CHECKSUM], nv_checksum(st)) << "S" << c.reg;
        ++value;
    }
    // Other registers leave the image alone.
    uint8_t before[NV_SIZE];
    std::memcpy(before, st->nv.bytes, NV_SIZE);
    ASSERT_TRUE(at_sreg_write(a, 7, 45));
    EXPECT_EQ(std::memcmp(before, st->nv.bytes, NV_SIZE), 0);
}

TEST(AtSregTest, ACountryLimitReplacesTheRegisterClamp)
{
    Side s;
    AcuContext* a = s.acu.get();
    uint8_t* lim = s.settings->block.bytes + CB_S_LIMITS;
    // One entry: S7 limited to 30-90 with 50-59 excluded (a value in it becomes 60).
    const uint8_t table[2 + 6] = {1, 0, 7, 45, 30, 90, 50, 59};
    std::memcpy(lim, table, sizeof table);
    const struct {
        uint32_t value;
        uint8_t stored;
    } cases[] = {{10, 30}, {45, 45}, {55, 60}, {200, 90}, {300, 90}, {0, 30}};
    for (const auto& c : cases) {
        ASSERT_TRUE(at_sreg_write(a, 7, c.value));
        EXPECT_EQ(a->sreg[7], c.stored) << c.value;
        ASSERT_FALSE(s.timings.empty());
        EXPECT_EQ(s.timings.back()[1], c.stored) << "the DSP gets the stored value";
    }
    // A register without an entry keeps its own clamp.
    ASSERT_TRUE(at_sreg_write(a, 11, 10));
    EXPECT_EQ(a->sreg[11], 50);
}

}  // namespace
