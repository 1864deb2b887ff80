// Synchronous access between two modems on the simulated exchange: the in-band reports of overruns and
// underruns (EM B5 once until EM B7, EM B9 with the bytes lost meanwhile, EM B4, EM B6 once per overrun), the
// rate limit of EM BE, and the codes that wait until what the application sent before them has gone to the line
// (EM BA, EM B0, EM B1).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bit_search.h"
#include "layer2/corecode/dce/line_block.h"
#include "layer2/corecode/dte/dte.h"
#include "layer2/windows/wdm/device_extension.h"
#include "layer2/windows/wdm/serial_ioctl.h"
#include "v80_fixture.h"
#include "window/icd_codes.h"

namespace {

using attest::Visible;
using bitsearch::Bits;
using bitsearch::FindBits;
using dsptest::RealPumpModem;
using v80test::Code;
using v80test::Decode;
using v80test::Em;
using v80test::Payload;
using v80test::PlainPayload;
using v80test::V80Exchange;

LineBlock& Line(RealPumpModem& m) { return m.Ext()->line; }

size_t Count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// The two bytes after the first EM B9 in what the application received, or "" when there is none.
std::string LostReport(const std::string& received)
{
    const size_t at = received.find(Em(V80_LOST));
    return at == std::string::npos || at + 4 > received.size() ? "" : received.substr(at + 2, 2);
}

// The octets of a transparent stream as received (the shielding undone, other codes left out).
std::string Octets(const std::string& in)
{
    std::string codes;
    return Decode(in, &codes);
}

std::string LostBytes(uint32_t count)
{
    uint8_t b[2];
    v80_lost_bytes(count, b);
    return std::string(reinterpret_cast<const char*>(b), 2);
}

// The frames in what the application received: the octets of each and the code that ended it (EM B1 good,
// EM B0 aborted); other codes are left out.
struct Received {
    std::string data;
    uint8_t end;
};
std::vector<Received> Frames(const std::string& in)
{
    std::vector<Received> out;
    std::string frame;
    for (size_t i = 0; i < in.size(); ++i) {
        if (static_cast<uint8_t>(in[i]) != V80_EM || i + 1 >= in.size()) {
            frame += in[i];
            continue;
        }
        const uint8_t code = static_cast<uint8_t>(in[++i]);
        uint8_t octets[2];
        const int n = v80_code_octets(code, octets);
        frame.append(reinterpret_cast<const char*>(octets), static_cast<size_t>(n));
        if (code == V80_FLAG || code == V80_MARK) {
            out.push_back({frame, code});
            frame.clear();
        }
    }
    return out;
}

class V80Reports : public V80Exchange {
protected:
    // Runs until the modem has sent everything the application gave it (nothing waits in its rings).
    void Drain(RealPumpModem& m, int ms = 30000)
    {
        ASSERT_TRUE(x.RunUntil([&] {
            return dte_from_count(&m.Ext()->dte) == 0 && lb_tx_count(&Line(m)) == 0;
        }, ms));
        x.Run(500);
    }
    void BothFramed()
    {
        Write(x.A(), Em(V80_FLAG));
        Write(x.B(), Em(V80_FLAG));
        x.Run(500);
        x.TakeA();
        x.TakeB();
    }
};

// A's application holds the modem's output (RTS off) while B sends frames: the modem's rings fill, EM B6 is
// reported once, and no frame that lost octets reaches the application as a good frame (EM B1).
TEST_F(V80Reports, ReceiveOverrunIsReportedOnceAndDamagedFramesAreNotGood)
{
    Connect();
    BothFramed();
    ASSERT_EQ(x.A().Control(IOCTL_SERIAL_CLR_RTS), STATUS_SUCCESS);
    std::vector<std::string> frames;
    std::string held, flowing;
    for (uint32_t k = 0; k < 40; ++k) {
        frames.push_back(Payload(100, 100 + k));
        (k < 25 ? held : flowing) += Code(frames.back()) + Em(V80_FLAG);
    }
    Write(x.B(), held);
    Drain(x.B());
    // The application takes its data again while more frames arrive.
    ASSERT_EQ(x.A().Control(IOCTL_SERIAL_SET_RTS), STATUS_SUCCESS);
    Write(x.B(), flowing);
    Drain(x.B());
    x.Run(1000);
    const std::string got = x.TakeA();
    EXPECT_EQ(Count(got, Em(V80_RX_OVERRUN)), 1u) << Visible(got);
    // Every frame that arrives as good is one of B's, in B's order.
    size_t next = 0;
    size_t good = 0;
    for (const Received& r : Frames(got)) {
        if (r.end != V80_FLAG)
            continue;
        while (next < frames.size() && frames[next] != r.data)
            ++next;
        EXPECT_LT(next, frames.size()) << "a frame that is none of B's arrived as good: " << Visible(r.data);
        ++good;
        ++next;
    }
    EXPECT_GE(good, 25u);  // the frames before the overrun and those after it
    EXPECT_LT(good, frames.size());
}

// Framed: the application stops inside a frame; the line runs dry, the frame is aborted (B sees EM B0) and A
// gets EM B4; what A writes then is lost until EM B7, which brings the count; the next frame goes through.
TEST_F(V80Reports, UnderrunAbortsTheFrameAndResumeCountsTheLostBytes)
{
    Connect();
    BothFramed();
    Write(x.A(), Code(Payload(60, 21)));
    x.Run(1500);
    std::string codes;
    Decode(x.TakeA(), &codes);
    EXPECT_EQ(codes, "<B4>");
    const std::vector<Received> aborted = Frames(x.TakeB());
    ASSERT_FALSE(aborted.empty());
    for (const Received& r : aborted)
        EXPECT_EQ(r.end, V80_MARK) << Visible(r.data);
    Write(x.A(), PlainPayload(20, 22) + Em(V80_FLAG));  // 22 bytes lost
    x.Run(300);
    Write(x.A(), Em(V80_RESUME));
    x.Run(300);
    EXPECT_EQ(Visible(LostReport(x.TakeA())), Visible(LostBytes(22)));
    const std::string frame = Payload(80, 23);
    Write(x.A(), Code(frame) + Em(V80_FLAG));
    x.Run(1500);
    const std::vector<Received> after = Frames(x.TakeB());
    ASSERT_FALSE(after.empty());
    EXPECT_EQ(Visible(after.back().data), Visible(frame));
    EXPECT_EQ(after.back().end, V80_FLAG);
}

// EM BE with two bytes: the smaller one's low four bits n allow the n lowest rates (mask 2^n - 1), handed to
// the data pump; the two bytes are no data.
TEST_F(V80Reports, RateLimitAllowsTheLowestRates)
{
    Connect();
    const struct {
        uint8_t a, b;
        uint8_t mask;
    } cases[] = {{0x23, 0x25, 0x07}, {0x2C, 0x24, 0x0F}, {0x20, 0x2E, 0x00}};
    for (const auto& c : cases) {
        x.A().ClearLog();
        const uint64_t sent = Line(x.A()).counters.sent.load();
        Write(x.A(), Em(V80_RATE) + static_cast<char>(c.a) + static_cast<char>(c.b) + "ab");
        x.Run(300);
        std::vector<std::vector<uint8_t>> options;
        for (const dsptest::WireCommand& w : x.A().Log())
            if (w.code == IcdSetPumpOptions)
                options.push_back(w.payload);
        const std::vector<uint8_t> want = {c.mask, 0, c.mask, 0, c.mask, 0, 0, 0};
        EXPECT_EQ(options, std::vector<std::vector<uint8_t>>{want}) << std::hex << int(c.a) << " " << int(c.b);
        EXPECT_EQ(Line(x.A()).counters.sent.load(), sent + 2);
    }
}

// Codes that change the framing or end the call act only once what was written before them has gone: the data
// before EM BA, before EM B1 (to framed) and the frame before EM B0 (to transparent) all arrive.
TEST_F(V80Reports, FramingAndHangUpCodesWaitForTheDataBeforeThem)
{
    Connect();
    // Transparent, then framed: the data before the switch arrives as the bit stream it was.
    const std::string before = PlainPayload(400, 31);
    Write(x.A(), before + Em(V80_FLAG));
    x.Run(3000);
    EXPECT_GE(FindBits(Bits(Octets(x.TakeB())), Bits(before)), 0) << "data before EM B1 was cut";
    // Framed (B too), then transparent: the frame before the switch arrives whole, and the switch is
    // reported (EM B4) once it is made.
    Write(x.B(), Em(V80_FLAG));
    x.Run(500);
    x.TakeA();
    x.TakeB();
    const std::string frame = Payload(300, 32);
    Write(x.A(), Code(frame) + Em(V80_FLAG) + Em(V80_MARK));
    x.Run(3000);
    const std::vector<Received> frames = Frames(x.TakeB());  // the switch may end in an abort
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(Visible(frames[0].data), Visible(frame));
    EXPECT_EQ(frames[0].end, V80_FLAG);
    std::string codes;
    Decode(x.TakeA(), &codes);
    EXPECT_EQ(codes, "<B4>");
    // Transparent again (B too): the data before EM BA arrives before A hangs up.
    Write(x.B(), Em(V80_MARK));
    x.Run(500);
    x.TakeB();
    const std::string last = PlainPayload(400, 33);
    Write(x.A(), last + Em(V80_EOT));
    ASSERT_TRUE(x.RunUntil([&] { return x.State(calltest::kLineA) == EXL_IDLE; }, 10000)) << "A never hung up";
    EXPECT_GE(FindBits(Bits(Octets(x.TakeB())), Bits(last)), 0) << "data before EM BA was cut";
}

}  // namespace

namespace {

// Transparent sub-mode: EM B7 from the application is taken as the resume code and answered with the lost count
// (none lost here); the data around it goes to the line.
TEST_F(V80Reports, TransparentResumeReportsTheLostCount)
{
    Connect();
    Write(x.A(), "abc" + Em(V80_RESUME) + "def");
    x.Run(1000);
    EXPECT_EQ(Visible(LostReport(x.TakeA())), Visible(LostBytes(0)));
}

// EM BA ends the call: in synchronous access the result comes as "NO", line end, " CARRIER", line end.
TEST_F(V80Reports, HangUpCodeEndsTheCallWithItsResult)
{
    Connect();
    Write(x.A(), "abc" + Em(V80_EOT));
    ASSERT_TRUE(x.RunUntil([&] { return x.OutA().find("NO\r\n CARRIER\r\n") != std::string::npos; }, 10000))
        << Visible(x.OutA());
    EXPECT_TRUE(x.RunUntil([&] { return x.State(calltest::kLineA) == EXL_IDLE; }, 10000));
}

}  // namespace
