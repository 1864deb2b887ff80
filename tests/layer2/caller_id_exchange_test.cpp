// Caller ID end to end: modem A calls modem B on the simulated exchange, which sends B's line the caller's
// message between the first and second ring. B's controller reports it in the form +VCID asks for and, with
// caller ID on, answers no sooner than the second ring. The caller-ID signal comes from the exchange's own
// sender or from the independent peer library's ADSI transmitter.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "exchange_modems.h"
#include "layer2/corecode/mt/dsp_device.h"
#include "layer2/corecode/mt/dsp_line_check.h"
#include "line/exchange_caller_id.h"
#include "window/window_access.h"

#ifdef HAVE_SPANDSP
#include <spandsp.h>
#endif

namespace {

using attest::Visible;
using calltest::Count;
using calltest::ExchangeModems;
using calltest::kLineA;
using calltest::kLineB;

constexpr const char* kDateTime = "12110322";

std::string Hex(const std::vector<uint8_t>& bytes)
{
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// A renders the caller-ID signal of a message: the exchange's own V.23 sender, after `corrupt` flipped a
// bit of one message byte when it is at least 0.
struct CorruptingRenderer {
    int corrupt = -1;
    static void Render(void* ctx, const std::vector<uint8_t>& message, bool duringCall, std::vector<int16_t>* out)
    {
        auto* self = static_cast<CorruptingRenderer*>(ctx);
        std::vector<uint8_t> m = message;
        if (self->corrupt >= 0 && static_cast<size_t>(self->corrupt) < m.size())
            m[static_cast<size_t>(self->corrupt)] ^= 0x01;
        CallerIdFskOptions o;
        if (duringCall) {
            o.seizureBits = 0;
            o.markBits = 120;
        }
        CallerIdFskRender(m, o, out);
    }
};

// B subscribes to caller ID; A's line shows the name "MODEM A". B is set with `setup`; A dials B and nobody
// touches B until its second ring has been reported. Returns B's output up to and including that ring.
std::string CallAndCollect(ExchangeModems& x, const std::string& setup)
{
    ExchangeSubscriber b;
    b.callerId = true;
    ExchangeSetSubscriber(x.Ex(), kLineB, b);
    ExchangeSubscriber a;
    a.name = "MODEM A";
    ExchangeSetSubscriber(x.Ex(), kLineA, a);
    ExchangeSetDateTime(x.Ex(), kDateTime, x.Clock().Now());
    x.Type(x.B(), setup);
    x.Run(300);
    x.TakeB();
    x.Type(x.A(), "ATS7=30DT202\r");
    const bool two = x.RunUntil([&] { return Count(x.OutB(), "RING") >= 2; }, 20000);
    EXPECT_TRUE(two) << Visible(x.OutB()) << "\n" << x.EventText();
    const std::string out = x.OutB();
    const size_t second = out.find("RING", out.find("RING") + 1);
    return second == std::string::npos ? out : out.substr(0, second + 6);
}

const std::string kRing = "\r\nRING\r\n";
const std::string kFormatted = "DATE = 1211\r\nTIME = 0322\r\nNMBR = 201\r\nNAME = MODEM A\r\n";

std::string Unformatted()
{
    return "\r\nMESG = " + Hex(CallerIdMultipleMessage(CallerIdFields{kDateTime, "201", "MODEM A"})) + "\r\n";
}

// Formatted and unformatted reports between the two rings; with S0=1 and caller ID on the modem answers on
// the second ring (S1 = 2), without caller ID on the first. With caller ID off nothing is reported.
TEST(CallerIdExchange, CalledModemReportsTheCallerBetweenTheRingsAndAnswersOnTheSecond)
{
    const struct {
        const char* name;
        const char* setup;
        std::string between;  // B's output between the two rings
        uint8_t answerRing;   // S1 when the line was answered
    } cases[] = {
        {"formatted", "ATS0=1+VCID=1\r", kFormatted, 2},
        {"unformatted", "ATS0=1+VCID=2\r", Unformatted(), 2},
        {"off, no answer", "AT+VCID=0\r", "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ExchangeModems x;
        const std::string out = CallAndCollect(x, c.setup);
        if (c.answerRing == 0) {
            EXPECT_EQ(out, kRing + kRing);
            continue;
        }
        EXPECT_EQ(out, kRing + c.between + kRing) << Visible(out);
        ASSERT_TRUE(x.RunUntil([&] { return x.State(kLineB) == EXL_CONNECTED; }, 3000)) << x.EventText();
        EXPECT_EQ(x.B().Ext()->acu->sreg[1], c.answerRing);
        EXPECT_TRUE(x.HasEvent(kLineB, "caller ID of 201"));
    }
    // Without caller ID, S0=1 answers the first ring.
    ExchangeModems x;
    x.Type(x.B(), "ATS0=1\r");
    x.Run(300);
    x.Type(x.A(), "ATS7=30DT202\r");
    ASSERT_TRUE(x.RunUntil([&] { return x.State(kLineB) == EXL_CONNECTED; }, 15000)) << x.EventText();
    EXPECT_EQ(x.B().Ext()->acu->sreg[1], 1);
    EXPECT_FALSE(x.HasEvent(kLineB, "caller ID of 201"));
}

// A message whose bits were changed on the way (a flipped bit in the date, the number or the checksum)
// prints nothing in formatted mode; unformatted mode shows the bytes as they came.
TEST(CallerIdExchange, CorruptedMessagePrintsNothingWhenFormatted)
{
    const std::vector<uint8_t> message = CallerIdMultipleMessage(CallerIdFields{kDateTime, "201", "MODEM A"});
#if defined(MODEM_UNDER_SANITIZER) || defined(MODEM_UNDER_TSAN)
    const int positions[] = {static_cast<int>(message.size()) - 1};  // a whole call each: one under the sanitizers
#else
    const int positions[] = {5, 13, static_cast<int>(message.size()) - 1};
#endif
    for (int corrupt : positions) {
        SCOPED_TRACE(corrupt);
        ExchangeModems x;
        CorruptingRenderer r{corrupt};
        ExchangeSetCallerIdRenderer(x.Ex(), CorruptingRenderer::Render, &r);
        EXPECT_EQ(CallAndCollect(x, "ATE0+VCID=1\r"), kRing + kRing);
    }
    ExchangeModems x;
    CorruptingRenderer r{13};
    ExchangeSetCallerIdRenderer(x.Ex(), CorruptingRenderer::Render, &r);
    std::vector<uint8_t> changed = message;
    changed[13] ^= 0x01;
    EXPECT_EQ(CallAndCollect(x, "ATE0+VCID=2\r"), kRing + "\r\nMESG = " + Hex(changed) + "\r\n" + kRing);
}

// The single data message format: date, time and number.
TEST(CallerIdExchange, SingleDataMessageFormat)
{
    ExchangeModems x;
    ExchangeSetCallerIdSingleFormat(x.Ex(), true);
    EXPECT_EQ(CallAndCollect(x, "ATE0+VCID=1\r"), kRing + "DATE = 1211\r\nTIME = 0322\r\nNMBR = 201\r\n" + kRing);
}

// +VDR=1 reports the ring bursts and the pauses between them with their lengths in 100 ms ("DRON=",
// "DROF="); with a report delay "RING" follows as well, without one only the durations are reported.
TEST(CallerIdExchange, RingOnAndOffDurationsPerVdr)
{
    const struct {
        const char* setup;
        bool rings;
    } cases[] = {
        {"ATE0+VDR=1,0\r", false},
        {"ATE0+VDR=1,1\r", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setup);
        ExchangeModems x;
        x.Type(x.B(), c.setup);
        x.Run(300);
        x.TakeB();
        x.Type(x.A(), "ATS7=30DT202\r");
        x.Run(16000);
        const std::string out = x.TakeB();
        // The country's ringing: 2 s on, 4 s off, measured to within a block (and cut to 100 ms).
        std::vector<std::string> lines;
        for (size_t at = 0, end; (end = out.find("\r\n", at)) != std::string::npos; at = end + 2)
            if (end > at)
                lines.push_back(out.substr(at, end - at));
        std::vector<std::string> expect;
        for (int ring = 0; ring < 2; ++ring) {
            expect.push_back("DRON=19");
            if (c.rings)
                expect.push_back("RING");
            expect.push_back("DROF=40");
        }
        EXPECT_EQ(lines, expect) << Visible(out);
        EXPECT_EQ(x.State(kLineB), EXL_RINGING) << "no answer";
    }
}

// Answering by hand after the first ring ends the caller-ID capture: the receiver is switched off again and
// nothing is reported, the call goes on.
TEST(CallerIdExchange, AnswerAfterTheFirstRingEndsTheCapture)
{
    ExchangeModems x;
    ExchangeSubscriber b;
    b.callerId = true;
    ExchangeSetSubscriber(x.Ex(), kLineB, b);
    x.Type(x.B(), "ATE0+VCID=1\r");
    x.Run(300);
    x.TakeB();
    x.B().ClearLog();
    x.Type(x.A(), "ATS7=30DT202\r");
    ASSERT_TRUE(x.RunUntil([&] { return Count(x.OutB(), "RING") == 1; }, 15000)) << x.EventText();
    x.Type(x.B(), "ATA\r");
    ASSERT_TRUE(x.RunUntil([&] { return x.State(kLineB) == EXL_CONNECTED; }, 3000)) << x.EventText();
    x.Run(3000);
    EXPECT_EQ(x.OutB().find("DATE"), std::string::npos) << Visible(x.OutB());
    std::vector<std::vector<uint8_t>> modes;
    for (const auto& c : x.B().Log())
        if (c.code == IcdSetCallerIdMode)
            modes.push_back(c.payload);
    ASSERT_EQ(modes.size(), 2u);
    EXPECT_EQ(modes[0][0], 1) << "the receiver on after the first ring";
    EXPECT_EQ(modes[1][0], 0) << "and off when the line was taken";
    EXPECT_EQ(x.B().Ext()->acu->ext.cid_capture, CID_CAPTURE_IDLE);
}

// Once two modems are connected the call-waiting sequence watches (stepped by the message pump). A 300 ms
// burst of the call-waiting tone flag (set here in B's register window, as the data pump would) gives
// "RING" twice, without caller ID in between, and the hold request to the pump (0x69 with the V.22bis
// code × 4 + 1), after which both modems go on in data. When the connection ends the sequence stops.
TEST(CallerIdExchange, CallWaitingSequenceWatchesDuringAConnection)
{
    ExchangeModems x;
    x.Type(x.B(), "ATS0=1+MS=V22B\r");
    x.Type(x.A(), "AT&D2+MS=V22B;DT202\r");
    ASSERT_TRUE(x.RunUntil([&] {
        return x.OutA().find("CONNECT 2400") != std::string::npos && x.OutB().find("CONNECT 2400") != std::string::npos;
    }, 30000)) << x.OutA() << "\n---\n" << x.OutB();
    const DspDevice* dsp = x.B().Ext()->acu->dsp;
    const uint32_t steps = dsp->context.lineCheck.steps;
    x.Run(1000);
    EXPECT_EQ(x.B().Ext()->acu->cw.step, CW_WATCH);
    EXPECT_GE(dsp->context.lineCheck.steps, steps + 50) << "stepped about once per pass";
    EXPECT_NE(dsp->link.events.eventFlags.load() & kEventFlagCallWaiting, 0);
    x.TakeB();
    x.B().ClearLog();
    WindowStore(x.B().Block(), kRegCallWaitingTone, 1);
    x.Run(300);
    WindowStore(x.B().Block(), kRegCallWaitingTone, 0);
    x.Run(2000);
    EXPECT_EQ(x.TakeB(), "\r\nRING\r\n\r\nRING\r\n");
    EXPECT_EQ(x.B().Ext()->acu->cw.announced, 1u);
    std::vector<std::vector<uint8_t>> holds;
    for (const auto& c : x.B().Log())
        if (c.code == IcdRetrain)
            holds.push_back(c.payload);
    // One byte, sent with the packet's length rounded up to even.
    EXPECT_EQ(holds, (std::vector<std::vector<uint8_t>>{{MOD_V22BIS * 4 + 1, 0}}));
    x.Run(3000);
    EXPECT_EQ(x.OutA().find("NO CARRIER"), std::string::npos) << Visible(x.OutA());
    EXPECT_EQ(x.OutB().find("NO CARRIER"), std::string::npos) << Visible(x.OutB());
    EXPECT_EQ(x.A().Control(IOCTL_SERIAL_CLR_DTR), STATUS_SUCCESS);
    ASSERT_TRUE(x.RunUntil([&] { return x.OutB().find("NO CARRIER") != std::string::npos; }, 20000));
    x.Run(500);
    EXPECT_EQ(x.B().Ext()->acu->cw.step, CW_OFF);
    EXPECT_EQ(dsp->link.events.eventFlags.load() & kEventFlagCallWaiting, 0);
    EXPECT_EQ(x.B().Ext()->acu->cw.announced, 1u);
}

#ifdef HAVE_SPANDSP

// The peer library's ADSI transmitter in its V.23 caller-ID form sends the same fields: channel seizure and
// marks on hook, marks alone during a call.
void PeerRender(void*, const std::vector<uint8_t>& message, bool duringCall, std::vector<int16_t>* out)
{
    adsi_tx_state_t* tx = adsi_tx_init(nullptr, ADSI_STANDARD_CLIP);
    ASSERT_NE(tx, nullptr);
    adsi_tx_set_preamble(tx, duringCall ? 0 : 300, duringCall ? 120 : 180, 5, 1);
    uint8_t msg[256];
    int len = adsi_add_field(tx, msg, -1, message[0], nullptr, 0);
    // The parameters {type, length, data} between the length byte and the checksum.
    for (size_t at = 2; at + 2 <= message.size() - 1;) {
        const uint8_t n = message[at + 1];
        len = adsi_add_field(tx, msg, len, message[at], &message[at + 2], n);
        at += 2u + n;
    }
    ASSERT_GT(adsi_tx_put_message(tx, msg, len), 0);
    int16_t block[80];
    for (int k = 0; k < 400; ++k) {
        const int n = adsi_tx(tx, block, 80);
        if (n <= 0)
            break;
        out->insert(out->end(), block, block + n);
    }
    adsi_tx_free(tx);
}

TEST(CallerIdExchange, IndependentAdsiTransmitterGivesTheSameReports)
{
    const struct {
        const char* setup;
        std::string between;
    } cases[] = {
        {"ATE0+VCID=1\r", kFormatted},
        {"ATE0+VCID=2\r", Unformatted()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setup);
        ExchangeModems x;
        ExchangeSetCallerIdRenderer(x.Ex(), PeerRender, nullptr);
        EXPECT_EQ(CallAndCollect(x, c.setup), kRing + c.between + kRing);
    }
}

#endif  // HAVE_SPANDSP

}  // namespace
