// Two modems in one process on one clock, connected through the line: each pump keeps its own state, the
// line keeps both in step, and the harness logs and captures what happens.
#include <gtest/gtest.h>

#include "line/wav_file.h"
#include "support/line_signal.h"
#include "support/pump_harness.h"

using pumptest::ModemOptions;
using pumptest::PumpModem;
using pumptest::RunFor;

namespace {

TEST(PumpPair, TwoIdlePumpsRunInStepWithCaptures)
{
    platform::Clock clock;
    platform::ClockThread self(clock);
    LineNetwork* network = LineNetworkCreate();
    {
        ModemOptions a;
        a.name = "caller";
        ModemOptions b;
        b.name = "answerer";
        PumpModem caller(clock, network, a);
        PumpModem answerer(clock, network, b);
        LineConnectionParams params;
        params.aToB.snrDb = 30;
        params.bToA.snrDb = 30;
        params.echoA = {12.0, 2.0};
        LineConnect(network, &caller.Port()->endpoint, &answerer.Port()->endpoint, params);
        const std::string dir = linetest::TempPrefix();
        std::string error;
        ASSERT_TRUE(caller.Capture(dir + "pair_tx.wav", dir + "pair_rx.wav", &error)) << error;
        ASSERT_EQ(caller.Start(), STATUS_SUCCESS);
        ASSERT_EQ(answerer.Start(), STATUS_SUCCESS);
        EXPECT_NE(caller.Context(), answerer.Context());
        EXPECT_NE(caller.Context()->interfaceBlock, answerer.Context()->interfaceBlock);

        // Notifications reach each modem's own event routine, stamped with the block time.
        caller.SetRegister(247, 0x02);
        caller.SetRegister(242, 0x04);
        RunFor(2000);
        const auto events = caller.Events();
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].time % 100000, 0);  // on a block boundary
        EXPECT_TRUE(answerer.Events().empty());
        caller.SendCommand(0x63, {});
        // Taking the command and posting the reply each call the event routine (after the device lock is
        // released, so the first call already finds the reply).
        ASSERT_EQ(caller.Events().size(), 3u);
        EXPECT_EQ(caller.Events()[1].bytes, std::vector<uint8_t>({0xC0, 0x00, 0x01, 0x00, 0x63}));
        EXPECT_FALSE(caller.Events()[2].packet);

        for (PumpModem* m : {&caller, &answerer}) {
            const LinePortStats s = LinePortGetStats(m->Port());
            EXPECT_GE(s.blocks, 200u);
            EXPECT_EQ(s.rxUnderruns, 0u);
            EXPECT_EQ(s.txUnderruns, 0u);
            EXPECT_EQ(s.txMissing, 0u);
            // The idle pumps hear the line's noise.
            EXPECT_GT(m->Context()->rxLevel, -87);
        }
        ASSERT_EQ(caller.Remove(), STATUS_SUCCESS);
        ASSERT_EQ(answerer.Remove(), STATUS_SUCCESS);
        LinePortCloseCaptures(caller.Port());
        SampleFileReader r;
        ASSERT_TRUE(SampleFileOpenRead(&r, dir + "pair_rx.wav", LINE_FILE_WAV, &error)) << error;
        EXPECT_GE(r.remaining, 16000u);
        SampleFileCloseRead(&r);
    }
    LineNetworkDestroy(network);
}

}  // namespace
