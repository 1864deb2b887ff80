// The modulation family bit of a connection in the DSP link's option words: set by the connect step, one bit
// per family, cleared by the end of the hang-up.
#include <gtest/gtest.h>

#include "call_fixture.h"
#include "data_exchange_fixture.h"
#include "layer2/corecode/cmd/conn_control.h"

namespace {

TEST(ConnFamily, EachModulationFamilyHasItsOwnBit)
{
    const struct {
        uint8_t modulation;
        uint8_t b;  // option word B after the mark
        uint8_t c;  // option word C
    } cases[] = {
        {0, 0, 0},    {1, 0, 0},    {2, 0x10, 0}, {3, 0, 0},    {4, 0x08, 0},  {5, 0x08, 0},
        {6, 0x20, 0}, {7, 0x40, 0}, {8, 0, 0},    {11, 0, 0},   {12, 0x04, 0}, {13, 0x04, 0},
        {14, 0, 0},   {16, 0x04, 0}, {17, 0, 0},  {18, 0, 0x40}, {22, 0, 0x40}, {23, 0, 0x40},
        {24, 0, 0},   {255, 0, 0},
    };
    for (const auto& c : cases) {
        calltest::CallRig r;
        DspLineControl* lc = &r.dev->line;
        const uint8_t a = lc->optionA;
        const uint8_t b = lc->optionB;
        const uint8_t cc = lc->optionC;
        conn_mark_modulation_family(r.A(), c.modulation, true);
        EXPECT_EQ(lc->optionB, b | c.b) << int(c.modulation);
        EXPECT_EQ(lc->optionC, cc | c.c) << int(c.modulation);
        EXPECT_EQ(lc->optionA, a) << int(c.modulation);
        conn_mark_modulation_family(r.A(), c.modulation, false);
        EXPECT_EQ(lc->optionB, b & ~c.b) << int(c.modulation);
        EXPECT_EQ(lc->optionC, cc & ~c.c) << int(c.modulation);
    }
}

// On the exchange: a V.22bis call sets the V.22bis bit on both modems; the hang-up clears it on both.
TEST(ConnFamily, AV22bisCallSetsItsBitUntilTheHangUp)
{
    calltest::ExchangeModems x;
    ASSERT_TRUE(datatest::ConnectV22bis(x));
    EXPECT_EQ(x.A().Ext()->dsp.line.optionB & 0x40, 0x40);
    EXPECT_EQ(x.B().Ext()->dsp.line.optionB & 0x40, 0x40);
    EXPECT_EQ(x.A().Ext()->dsp.line.optionB & 0x3C, 0) << "no other family";
    x.Run(1200);
    x.Type(x.A(), "+++");
    ASSERT_TRUE(x.RunUntil([&] { return x.OutA().find("OK\r\n") != std::string::npos; }, 3000));
    x.Type(x.A(), "ATH\r");
    ASSERT_TRUE(x.RunUntil([&] { return x.OutB().find("NO CARRIER") != std::string::npos; }, 20000));
    x.Run(1000);
    EXPECT_EQ(x.A().Ext()->dsp.line.optionB & 0x40, 0);
    EXPECT_EQ(x.B().Ext()->dsp.line.optionB & 0x40, 0);
}

}  // namespace
