// Fax class 1 end to end: two modems on the simulated exchange in +FCLASS=1. A dials B; B answers with the
// answer tone and sends the control frames (+FTH=3) that A receives (+FRH=3), then the training check and a
// page of data (+FTM) that A receives (+FRM); then A sends a frame back. Frames arrive byte-exact with their two
// frame-check octets; page data arrives bit-exact (class 1 page data has no byte alignment: the receiver's
// bytes start wherever its receiver starts, so the sent bits are looked for in the received ones).
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "bit_search.h"
#include "exchange_modems.h"

namespace {

using attest::Visible;
using bitsearch::Bits;
using bitsearch::FindBits;
using calltest::ExchangeModems;

constexpr char kDle = 0x10;
constexpr char kEtx = 0x03;

std::string Shield(const std::string& data)
{
    std::string out;
    for (char c : data) {
        out += c;
        if (c == kDle)
            out += kDle;
    }
    return out + kDle + kEtx;
}

// The data before the first DLE ETX with the DLE doubling undone; *rest gets what follows it.
bool Unshield(const std::string& in, std::string* data, std::string* rest)
{
    data->clear();
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != kDle) {
            *data += in[i];
            continue;
        }
        if (i + 1 >= in.size())
            return false;
        ++i;
        if (in[i] == kEtx) {
            *rest = in.substr(i + 1);
            return true;
        }
        if (in[i] == kDle)
            *data += kDle;
    }
    return false;
}

// The HDLC frame-check sequence: CRC-16 (x^16 + x^12 + x^5 + 1, reflected, preset to ones), complemented,
// low octet first.
std::string WithFcs(const std::string& frame)
{
    uint16_t crc = 0xFFFF;
    for (unsigned char c : frame) {
        crc ^= c;
        for (int k = 0; k < 8; ++k)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0x8408) : static_cast<uint16_t>(crc >> 1);
    }
    crc = static_cast<uint16_t>(~crc);
    return frame + static_cast<char>(crc & 0xFF) + static_cast<char>(crc >> 8);
}

std::string Page(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::string out(n, 0);
    for (char& c : out)
        c = static_cast<char>(rng() & 0xFF);
    out[10] = kDle;  // shielded data
    out[11] = kDle;
    out[12] = kEtx;
    return out;
}

class FaxExchange : public ::testing::Test {
protected:
    bool Wait(dsptest::RealPumpModem& m, const std::string& what, int ms)
    {
        const std::string& out = &m == &x.A() ? x.OutA() : x.OutB();
        return x.RunUntil([&] { return out.find(what) != std::string::npos; }, ms);
    }
    std::string Take(dsptest::RealPumpModem& m) { return &m == &x.A() ? x.TakeA() : x.TakeB(); }
    // Writes all of the bytes from a modem's port as its flow control lets them in.
    void Write(dsptest::RealPumpModem& m, const std::string& bytes)
    {
        size_t at = 0;
        for (int guard = 0; at < bytes.size() && guard < 20000; ++guard) {
            at += m.SendSome(reinterpret_cast<const uint8_t*>(bytes.data()) + at, bytes.size() - at, 10);
            x.Run(0);
        }
        ASSERT_EQ(at, bytes.size());
    }
    void Command(dsptest::RealPumpModem& m, const std::string& line, const std::string& answer)
    {
        Take(m);
        x.Type(m, line + "\r");
        ASSERT_TRUE(Wait(m, answer, 3000)) << line << ": " << Visible(&m == &x.A() ? x.OutA() : x.OutB());
        Take(m);
    }
    // A calls B (`dial` is the dialling command); both end in data mode with CONNECT: B to send frames, A to
    // receive them.
    void Connect(const std::string& dial = "ATDT202")
    {
        Command(x.A(), "AT+FCLASS=1", "OK\r\n");
        Command(x.B(), "AT+FCLASS=1", "OK\r\n");
        Command(x.B(), "ATS0=1", "OK\r\n");
        x.Type(x.A(), dial + "\r");
        ASSERT_TRUE(x.RunUntil([&] {
            return x.OutA().find("CONNECT\r\n") != std::string::npos && x.OutB().find("CONNECT\r\n") != std::string::npos;
        }, 40000)) << Visible(x.OutA()) << "\n---\n" << Visible(x.OutB());
        answered = x.OutB();
        x.TakeA();
        x.TakeB();
    }
    // B sends one frame; the next CONNECT (or OK after the final frame) follows.
    void SendFrame(dsptest::RealPumpModem& m, const std::string& frame, bool final)
    {
        Write(m, Shield(frame));
        ASSERT_TRUE(Wait(m, final ? "OK\r\n" : "CONNECT\r\n", 10000)) << Visible(Take(m));
        Take(m);
    }
    // A frame with its check octets, then DLE ETX and OK.
    void ReceiveFrame(dsptest::RealPumpModem& m, const std::string& frame)
    {
        ASSERT_TRUE(Wait(m, "OK\r\n", 10000)) << Visible(&m == &x.A() ? x.OutA() : x.OutB());
        std::string data, rest;
        std::string got = Take(m);
        const size_t connect = got.find("CONNECT\r\n");
        if (connect != std::string::npos && connect <= 2)
            got = got.substr(connect + 9);
        ASSERT_TRUE(Unshield(got, &data, &rest)) << Visible(got);
        EXPECT_EQ(Visible(data), Visible(WithFcs(frame)));
        EXPECT_EQ(Visible(rest), "\\r\\nOK\\r\\n");
    }
    // B sends page data at one modulation while A receives it.
    void Page(int modulation, const std::string& page)
    {
        const std::string m = std::to_string(modulation);
        Take(x.A());
        x.Type(x.A(), "AT+FRM=" + m + "\r");
        x.Run(200);
        Command(x.B(), "AT+FTM=" + m, "CONNECT\r\n");
        // The application sends its data at once: the modem sends what it has when the training ends.
        Write(x.B(), Shield(page));
        ASSERT_TRUE(Wait(x.B(), "OK\r\n", 20000)) << Visible(x.OutB());
        ASSERT_TRUE(Wait(x.A(), "NO CARRIER\r\n", 5000)) << x.OutA().size();
        const std::string got = Take(x.A());
        const size_t start = got.find("CONNECT\r\n");
        ASSERT_NE(start, std::string::npos);
        std::string data, rest;
        ASSERT_TRUE(Unshield(got.substr(start + 9), &data, &rest));
        EXPECT_EQ(Visible(rest), "\\r\\nNO CARRIER\\r\\n");
        const long at = FindBits(Bits(data), Bits(page));
        EXPECT_GE(at, 0) << "the page's bits are not in the " << data.size() << " bytes received at " << m;
    }

    ExchangeModems x;
    std::string answered;  // what the answerer printed up to its CONNECT
};

// Dialled without waiting for the dial tone (X3, as fax programs do), the caller arms its busy detection only
// once its start packet is out; that must not end the listening for the answer tone (it left the caller
// deaf to the answerer until NO CARRIER).
TEST_F(FaxExchange, BlindDialHearsTheAnswerTone)
{
    Connect("ATX3DT202");
    EXPECT_EQ(answered.find("FAX"), std::string::npos) << Visible(answered);  // adaptive answer is off
    const std::string dis = std::string("\xFF\x13\x80\x00\xEE\xF8\x80", 7);
    SendFrame(x.B(), dis, true);
    ReceiveFrame(x.A(), dis);
}

// Adaptive answer: the answerer listens for the caller's calling tone before it answers, reports "FAX" when it
// heard it, and the fax call goes on as usual.
TEST_F(FaxExchange, AdaptiveAnswerReportsAFaxCaller)
{
    Command(x.B(), "AT+FAA=1", "OK\r\n");
    Connect();
    const std::string dis = std::string("\xFF\x13\x80\x00\xEE\xF8\x80", 7);
    EXPECT_NE(answered.find("\r\nFAX\r\n"), std::string::npos) << Visible(answered);
    EXPECT_LT(answered.find("FAX"), answered.find("CONNECT")) << Visible(answered);
    SendFrame(x.B(), dis, true);
    ReceiveFrame(x.A(), dis);
}

// +FRS waits for silence on the line: while the far end sends its flags the count starts again, and the OK
// comes only once its carrier has ended.
TEST_F(FaxExchange, ReceiveSilenceWaitsForTheFarCarrierToEnd)
{
    Connect();
    Write(x.A(), "x");  // ends the frame reception the call started, with OK
    ASSERT_TRUE(Wait(x.A(), "OK\r\n", 1000)) << Visible(x.OutA());
    Take(x.A());
    x.Type(x.A(), "AT+FRS=20\r");
    x.Run(600);  // three times the wait, while B sends its flags
    EXPECT_EQ(x.OutA().find("OK"), std::string::npos) << Visible(x.OutA());
    const std::string dis = std::string("\xFF\x13\x80\x00\xEE\xF8\x80", 7);
    SendFrame(x.B(), dis, true);
    ASSERT_TRUE(Wait(x.A(), "OK\r\n", 1500)) << Visible(x.OutA());
}

// A page receiver (+FRM) started while the far end sends the flags before its next frame (T.30 sends a
// second of them) answers "+FCERROR" within the preamble; the application's +FRH then still takes the frame.
// Verbose and numeric results, at V.29 and at V.17.
TEST_F(FaxExchange, PageReceiverHearingFramesAnswersFcerrorAndTheFrameIsTaken)
{
    Connect();
    const std::string dis = std::string("\xFF\x13\x80\x00\xEE\xF8\x80", 7);
    SendFrame(x.B(), dis, true);
    ReceiveFrame(x.A(), dis);
    const struct {
        const char* frm;
        const char* fcerror;  // what follows the echo
        const char* connect;
        bool verbose;
    } cases[] = {
        {"AT+FRM=96", "\r\n+FCERROR\r\n", "\r\nCONNECT\r\n", true},
        {"AT+FRM=146", "+F4\r", "1\r", false},
    };
    const std::string dcs = std::string("\xFF\x13\x83\x00\x46\x78", 6);
    for (const auto& c : cases) {
        Command(x.A(), c.verbose ? "ATV1" : "ATV0", c.verbose ? "OK\r\n" : "ATV0\r0\r");
        // B's frame waits for its second of flags; A's page receiver starts early in it.
        Command(x.B(), "AT+FTH=3", "CONNECT\r\n");
        Write(x.B(), Shield(dcs));
        x.Run(100);
        x.Type(x.A(), std::string(c.frm) + "\r");
        ASSERT_TRUE(Wait(x.A(), c.fcerror, 800)) << c.frm << ": " << Visible(x.OutA());
        EXPECT_EQ(Visible(Take(x.A())), Visible(std::string(c.frm) + "\r" + c.fcerror));
        x.Type(x.A(), "AT+FRH=3\r");
        ASSERT_TRUE(Wait(x.A(), c.connect, 1000)) << Visible(x.OutA());
        ASSERT_TRUE(Wait(x.A(), c.verbose ? "OK\r\n" : "0\r", 2000)) << Visible(x.OutA());
        const std::string got = Take(x.A());
        const std::string head = "AT+FRH=3\r" + std::string(c.connect);
        ASSERT_EQ(Visible(got.substr(0, head.size())), Visible(head));
        std::string data, rest;
        ASSERT_TRUE(Unshield(got.substr(head.size()), &data, &rest)) << Visible(got);
        EXPECT_EQ(Visible(data), Visible(WithFcs(dcs)));
        EXPECT_EQ(Visible(rest), c.verbose ? "\\r\\nOK\\r\\n" : "0\\r");
        ASSERT_TRUE(Wait(x.B(), "OK\r\n", 2000)) << Visible(x.OutB());
        Take(x.B());
    }
}

TEST_F(FaxExchange, FramesTrainingCheckAndPageAcrossTheExchange)
{
    Connect();
    // B: a non-final frame, then a final one; A takes the first with the CONNECT it got at the call, the
    // second with one more +FRH=3 (the receiver kept running between the two).
    const std::string csi = std::string("\xFF\x03\x40", 3) + "12345 \x10 67";
    const std::string dis = std::string("\xFF\x13\x80\x00\xEE\xF8\x80", 7);
    SendFrame(x.B(), csi, false);
    SendFrame(x.B(), dis, true);
    ReceiveFrame(x.A(), csi);
    Command(x.A(), "AT+FRH=3", "CONNECT\r\n");
    ReceiveFrame(x.A(), dis);
    x.Run(500);  // B's carrier ends after the final frame
    Command(x.A(), "AT+FRH=3", "NO CARRIER\r\n");

    // The training check (zeros) and a page at 9600 bit/s (V.29).
    Page(96, std::string(1800, '\0'));
    Page(96, ::Page(2400, 7));
    Page(48, ::Page(1200, 8));
    Page(145, ::Page(3000, 9));
    Page(72, ::Page(1000, 10));

    // A answers with a frame; B receives it.
    x.Type(x.B(), "AT+FRH=3\r");
    x.Run(200);
    Take(x.B());  // the echo: the frame comes after A's second of flags
    Command(x.A(), "AT+FTH=3", "CONNECT\r\n");
    const std::string cfr = std::string("\xFF\x13\x84", 3);
    SendFrame(x.A(), cfr, true);
    ReceiveFrame(x.B(), cfr);
}

}  // namespace
