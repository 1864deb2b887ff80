// Error control end to end: two modems on the simulated exchange at V.22bis negotiate the link through the
// V.42 detection phase and XID, report it, and carry the applications' bytes through LAPM and compression.
#include <gtest/gtest.h>

#include <string>

#include "data_exchange_fixture.h"
#include "layer2/corecode/dce/data_link.h"

namespace {

using calltest::ExchangeModems;
using datatest::AllByteValues;
using datatest::Flow;
using datatest::WriteSome;

using datatest::AsString;
using datatest::FirstDifference;
using datatest::RunTransfer;

#ifdef MODEM_UNDER_SANITIZER
constexpr size_t kTransferBytes = 8 * 1024;
#else
constexpr size_t kTransferBytes = 24 * 1024;
#endif

// Connects A (dialling) and B (answering) at V.22bis with the given settings on each side; the two reports
// (everything each modem printed up to its CONNECT line) in `outA` and `outB`.
bool Connect(ExchangeModems& x, const std::string& setA, const std::string& setB, std::string* outA = nullptr,
             std::string* outB = nullptr)
{
    x.Type(x.B(), "ATS0=1+MS=V22B" + setB + "\r");
    x.Run(300);
    x.Type(x.A(), "ATX4+MS=V22B" + setA + "\r");
    x.Run(300);
    x.Type(x.A(), "ATDT202\r");
    const bool ok = x.RunUntil([&] {
        return x.OutA().find("CONNECT 2400") != std::string::npos && x.OutB().find("CONNECT 2400") != std::string::npos;
    }, 40000);
    EXPECT_TRUE(ok) << attest::Visible(x.OutA()) << "\n---\n" << attest::Visible(x.OutB());
    x.Run(300);
    if (outA != nullptr)
        *outA = x.OutA();
    if (outB != nullptr)
        *outB = x.OutB();
    x.TakeA();
    x.TakeB();
    return ok;
}

const uint8_t* LinkStatus(dsptest::RealPumpModem& m, uint8_t s[EC_LINK_STATUS_SIZE])
{
    ec_get_link_status(&m.Ext()->data_link.ec, s);
    return s;
}

TEST(EcExchange, FactorySettingsConnectWithLapmAndReportIt)
{
    ExchangeModems x;
    std::string a, b;
    ASSERT_TRUE(Connect(x, ";W4", ";W4", &a, &b));
    EXPECT_NE(a.find("+ER: LAPM\r\n"), std::string::npos) << attest::Visible(a);
    EXPECT_NE(b.find("+ER: LAPM\r\n"), std::string::npos) << attest::Visible(b);
    uint8_t s[EC_LINK_STATUS_SIZE];
    EXPECT_EQ(LinkStatus(x.A(), s)[11], EC_LAPM);
    EXPECT_EQ(LinkStatus(x.B(), s)[11], EC_LAPM) << attest::Visible(a) << "\n---\n" << attest::Visible(b)
        << " lapm " << int(x.B().Ext()->data_link.ec.lapm.status) << " dc "
        << int(x.B().Ext()->data_link.ec.lapm.disconnect_code) << " r " << int(x.B().Ext()->data_link.ec.lapm.reason)
        << " st " << int(x.B().Ext()->data_link.ec.lapm.state) << " started " << int(x.B().Ext()->data_link.started);
    EXPECT_EQ(x.A().Ext()->data_link.ec.lapm.status, LAPM_TRANSFER);
}

// Both ways at once with readers that pause: LAPM and the compressor deliver every byte once, in order.
TEST(EcExchange, LapmCarriesDataBothWaysByteExact)
{
    ExchangeModems x;
    ASSERT_TRUE(Connect(x, "", ""));
    Flow ab{AllByteValues(kTransferBytes, 1)};
    Flow ba{AllByteValues(kTransferBytes, 7)};
    const int lineMs = static_cast<int>(kTransferBytes * 10 * 1000 / 2400);
    RunTransfer(x, ab, ba, 5000, lineMs + 40000);
    ASSERT_EQ(ab.received.size(), ab.data.size());
    ASSERT_EQ(ba.received.size(), ba.data.size());
    EXPECT_EQ(FirstDifference(ab.received, AsString(ab.data)), std::string::npos) << "A to B";
    EXPECT_EQ(FirstDifference(ba.received, AsString(ba.data)), std::string::npos) << "B to A";
}

}  // namespace
