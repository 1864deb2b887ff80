// The data path end to end: two modems on the simulated exchange at V.22bis in buffered mode carry the
// applications' bytes both ways, byte-exact, with the writers held by flow control and the readers slowed.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "data_exchange_fixture.h"
#include "layer2/corecode/dce/line_block.h"

namespace {

// These calls run buffered mode (\N0): no error control, the bytes straight through the plain line path.
bool ConnectBuffered(calltest::ExchangeModems& x)
{
    x.Type(x.A(), "AT\\N0\r");
    x.Type(x.B(), "AT\\N0\r");
    x.Run(300);
    EXPECT_EQ(x.TakeA(), "AT\\N0\r\r\nOK\r\n");
    EXPECT_EQ(x.TakeB(), "AT\\N0\r\r\nOK\r\n");
    return datatest::ConnectV22bis(x);
}

using calltest::ExchangeModems;
using datatest::AllByteValues;
using datatest::AsString;
using datatest::ExpectDelivered;
using datatest::ConnectV22bis;
using datatest::FirstDifference;
using datatest::Flow;
using datatest::FlowSeen;
using datatest::RunTransfer;
using datatest::WriteSome;

#ifdef MODEM_UNDER_SANITIZER
constexpr size_t kTransferBytes = 6 * 1024;  // more than the application queue holds
#else
constexpr size_t kTransferBytes = 12 * 1024;
#endif

TEST(DataExchange, BothWaysByteExactWithSlowReaders)
{
    ExchangeModems x;
    ASSERT_TRUE(ConnectBuffered(x));
    Flow ab{AllByteValues(kTransferBytes, 1)};
    Flow ba{AllByteValues(kTransferBytes, 7)};
    // Readers that pause 18 s at a time (4320 bytes at the line's 240 bytes a second): the application queue
    // fills and the to-DTE ring holds the rest; the writers write far faster than the line and are held by
    // their modems' flow control.
    const int lineMs = static_cast<int>(kTransferBytes * 10 * 1000 / 2400);
    const FlowSeen seen = RunTransfer(x, ab, ba, 18000, lineMs + 40000);
    EXPECT_GT(seen.writerHeldA, 0);
    EXPECT_GT(seen.writerHeldB, 0);
    EXPECT_GT(seen.fullestToDteB, 0u) << "B's to-DTE ring never had to hold bytes";
    ExpectDelivered(ab, ba);
    EXPECT_EQ(x.A().Ext()->line.counters.rx_discards.load(), 0u);
    EXPECT_EQ(x.B().Ext()->line.counters.rx_discards.load(), 0u);
    EXPECT_EQ(x.A().Ext()->line.counters.bad_chunks.load(), 0u);
}


// The full mebibyte each way (about 73 simulated minutes, eight minutes of wall time): run by hand with
// --gtest_also_run_disabled_tests. CI runs the smaller transfer above.
TEST(DataExchange, DISABLED_OneMebibyteEachWayByteExact)
{
    constexpr size_t kBytes = 1024 * 1024;
    ExchangeModems x;
    ASSERT_TRUE(ConnectBuffered(x));
    Flow ab{AllByteValues(kBytes, 1)};
    Flow ba{AllByteValues(kBytes, 7)};
    const int lineMs = static_cast<int>(kBytes * 10 * 1000 / 2400);
    const FlowSeen seen = RunTransfer(x, ab, ba, 18000, lineMs + 120000);
    EXPECT_GT(seen.writerHeldA, 0);
    ExpectDelivered(ab, ba);
}

}  // namespace

namespace {

// Writes all of `data` from A while B's received bytes are collected (through the exchange's collector).
void WriteAll(ExchangeModems& x, const std::string& data)
{
    size_t at = 0;
    for (int guard = 0; at < data.size() && guard < 100000; ++guard) {
        at += x.A().SendSome(reinterpret_cast<const uint8_t*>(data.data()) + at, data.size() - at, 10);
        x.Run(0);
    }
    ASSERT_EQ(at, data.size());
}

// "+++" with a second of quiet on either side takes A back to the command state on line with "OK", while
// the bytes written before it are still on their way; "O" returns to data with "CONNECT 2400" and nothing
// written before or after the escape is lost. A second escape and "H" hang up: B hears the carrier go.
TEST(DataExchange, EscapeGivesOkAndOResumesWithNothingLost)
{
    ExchangeModems x;
    ASSERT_TRUE(ConnectBuffered(x));
    const std::vector<uint8_t> first = AllByteValues(1500, 3);
    const std::vector<uint8_t> second = AllByteValues(1500, 5);
    WriteAll(x, AsString(first));
    x.Run(1200);
    x.Type(x.A(), "+++");
    ASSERT_TRUE(x.RunUntil([&] { return x.OutA().find("OK\r\n") != std::string::npos; }, 3000))
        << attest::Visible(x.OutA());
    EXPECT_EQ(x.OutA().find("OK"), x.OutA().rfind("OK"));
    EXPECT_LT(x.OutB().size(), first.size()) << "the escape came while the first bytes were still on their way";
    x.TakeA();
    x.Type(x.A(), "ATO\r");
    ASSERT_TRUE(x.RunUntil([&] { return x.OutA().find("CONNECT 2400\r\n") != std::string::npos; }, 3000))
        << attest::Visible(x.OutA());
    x.Run(300);
    x.TakeA();
    WriteAll(x, AsString(second));
    const std::string expected = AsString(first) + "+++" + AsString(second);
    ASSERT_TRUE(x.RunUntil([&] { return x.OutB().size() >= expected.size(); }, 30000)) << x.OutB().size();
    EXPECT_EQ(FirstDifference(x.OutB(), expected), std::string::npos);
    EXPECT_EQ(x.OutA(), "") << "nothing came back from B";

    // Escape again, then hang up from the command state: A answers OK, B loses the carrier.
    x.TakeB();
    x.Run(1200);
    x.Type(x.A(), "+++");
    ASSERT_TRUE(x.RunUntil([&] { return x.OutA().find("OK\r\n") != std::string::npos; }, 3000));
    x.TakeA();
    x.Type(x.A(), "ATH\r");
    ASSERT_TRUE(x.RunUntil([&] { return x.OutB().find("NO CARRIER") != std::string::npos; }, 20000))
        << attest::Visible(x.OutB());
    x.Run(1000);
    EXPECT_NE(x.OutA().find("OK\r\n"), std::string::npos) << attest::Visible(x.OutA());
    EXPECT_EQ(x.State(calltest::kLineA), EXL_IDLE);
    // Back in the command state, A answers commands again.
    x.TakeA();
    x.Type(x.A(), "AT\r");
    x.Run(300);
    EXPECT_EQ(x.TakeA(), "AT\r\r\nOK\r\n");
    // And it calls again.
    x.TakeB();
    x.Type(x.A(), "ATDT202\r");
    EXPECT_TRUE(x.RunUntil([&] { return x.OutA().find("CONNECT 2400") != std::string::npos; }, 30000))
        << attest::Visible(x.OutA());
}

// Without the quiet before it, "+++" is data: the call stays in data mode and B receives it.
TEST(DataExchange, EscapeWithoutTheLeadingGuardIsData)
{
    ExchangeModems x;
    ASSERT_TRUE(ConnectBuffered(x));
    const std::string text = "abc+++def";
    WriteAll(x, text);
    x.Run(3000);
    EXPECT_EQ(x.OutB(), text);
    EXPECT_EQ(x.OutA(), "");
}

}  // namespace
