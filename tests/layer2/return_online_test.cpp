// "O1" and "O3" on a held connection: a retrain or a rate renegotiation first, then the return to data with
// the connection report once the data pump is connected again; refused where the modulation has neither.
#include <gtest/gtest.h>

#include <string>

#include "data_exchange_fixture.h"
#include "layer1/dsp/dsp_context.h"
#include "layer2/corecode/cmd/at_context.h"
#include "layer2/corecode/cmd/nvram.h"
#include "layer2/corecode/cmd/nvram_image.h"

namespace {

using calltest::ExchangeModems;

// Factory settings: the modems land on V.32bis at 14400 (with error control).
bool ConnectV32bis(ExchangeModems& x)
{
    x.Type(x.B(), "ATS0=1\r");
    x.Type(x.A(), "ATX4DT202\r");
    const bool ok = x.RunUntil([&] {
        return x.OutA().find("CONNECT 14400") != std::string::npos &&
               x.OutB().find("CONNECT 14400") != std::string::npos;
    }, 30000);
    EXPECT_TRUE(ok) << x.OutA() << "\n---\n" << x.OutB();
    x.Run(2000);  // the error-control link comes up
    x.TakeA();
    x.TakeB();
    return ok;
}

bool EscapeA(ExchangeModems& x)
{
    x.Run(1200);
    x.Type(x.A(), "+++");
    const bool ok = x.RunUntil([&] { return x.OutA().find("OK\r\n") != std::string::npos; }, 3000);
    x.TakeA();
    return ok;
}

TEST(ReturnOnline, RetrainOrRenegotiateThenDataResumes)
{
    const struct {
        const char* line;
        bool retrain;
    } cases[] = {{"ATO1\r", true}, {"ATO3\r", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        ExchangeModems x;
        ASSERT_TRUE(ConnectV32bis(x));
        ASSERT_TRUE(EscapeA(x));
        x.Type(x.A(), c.line);
        ASSERT_TRUE(x.RunUntil([&] { return x.OutA().find("CONNECT") != std::string::npos; }, 20000))
            << attest::Visible(x.OutA());
        x.Run(300);
        EXPECT_EQ(x.TakeA(), std::string(c.line) + "\r\nCONNECT 14400\r\n");
        const ConnControl& a = x.A().Ext()->acu->conn;
        const ConnControl& b = x.B().Ext()->acu->conn;
        if (c.retrain) {
            EXPECT_EQ(a.retrains_own, 1u);
            EXPECT_EQ(b.retrains, 1u) << "B saw the retrain";
        } else {
            // The V.32bis pump renegotiates without leaving its connected state: the request is what counts.
            EXPECT_EQ(a.renegotiations_own, 1u);
            EXPECT_EQ(a.renegotiations, 1u);
            EXPECT_EQ(a.retrains, 0u);
        }
        // Data goes through again.
        const std::string data = "after the change";
        x.A().Send(data);
        ASSERT_TRUE(x.RunUntil([&] { return x.OutB().find(data) != std::string::npos; }, 10000))
            << attest::Visible(x.OutB());
    }
}

// V.22bis has no renegotiation, and the data pump does not retrain it: the line is refused and the
// connection stays held.
TEST(ReturnOnline, RefusedWhereTheModulationHasNoSuchChange)
{
    const struct {
        const char* ms;
        const char* line;
    } cases[] = {{"+MS=V22B", "ATO3\r"}, {"+MS=V22B", "ATO1\r"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        ExchangeModems x;
        x.Type(x.B(), std::string("ATS0=1") + c.ms + "\r");
        x.Type(x.A(), std::string("ATX4") + c.ms + ";DT202\r");
        ASSERT_TRUE(x.RunUntil([&] {
            return x.OutA().find("CONNECT") != std::string::npos && x.OutB().find("CONNECT") != std::string::npos;
        }, 30000));
        x.Run(2000);
        x.TakeA();
        ASSERT_TRUE(EscapeA(x));
        x.Type(x.A(), c.line);
        x.Run(500);
        EXPECT_EQ(x.TakeA(), std::string(c.line) + "\r\nERROR\r\n");
        x.Type(x.A(), "ATO\r");
        ASSERT_TRUE(x.RunUntil([&] { return x.OutA().find("CONNECT") != std::string::npos; }, 3000))
            << attest::Visible(x.OutA());
    }
}

}  // namespace

namespace {

// The data pump's timing offset at the clear-down goes into the settings image (bytes 130-131, checksum
// kept valid) and shows in I99; the next call's set-up writes it back to the data pump.
TEST(ConnTiming, TheTimingOffsetIsCarriedToTheNextCall)
{
    ExchangeModems x;
    ASSERT_TRUE(datatest::ConnectV22bis(x));
    DspContext* pumpA = x.A().Ext()->dsp_context;
    pumpA->parameters.pcmParam32 = 0x00001234;
    ASSERT_TRUE(EscapeA(x));
    x.Type(x.A(), "ATH\r");
    ASSERT_TRUE(x.RunUntil([&] { return x.OutB().find("NO CARRIER") != std::string::npos; }, 20000));
    x.Run(1000);
    AcuContext* acu = x.A().Ext()->acu;
    uint8_t kept[2] = {};
    ASSERT_EQ(nv_read(acu->settings, NV_TIMING_OFFSET, 2, kept), NV_OK);
    EXPECT_EQ(kept[0], 0x34);
    EXPECT_EQ(kept[1], 0x12);
    EXPECT_TRUE(nv_image_valid(acu->settings)) << "the checksum follows";
    x.TakeA();
    x.Type(x.A(), "ATI99\r");
    x.Run(300);
    EXPECT_NE(x.TakeA().find("TIM OFFS = 1234"), std::string::npos);

    pumpA->parameters.pcmParam16 = 0;
    x.TakeB();
    x.Type(x.A(), "ATX4+MS=V22B;DT202\r");
    ASSERT_TRUE(x.RunUntil([&] { return x.OutA().find("CONNECT 2400") != std::string::npos; }, 30000))
        << attest::Visible(x.OutA());
    EXPECT_EQ(pumpA->parameters.pcmParam16, 0x1234) << "written back at the set-up";
}

}  // namespace
