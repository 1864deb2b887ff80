// Caller-ID messages in the controller: the checksum, the on-hook reports (formatted and unformatted), the
// call-waiting parse and report, the call-waiting tone match, and random messages that must never read or
// write outside their buffers.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "layer2/corecode/cmd/caller_id.h"
#include "layer2/corecode/cmd/country_block.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The printer with S3 = CR and S4 = LF: modes 0-3 of the response printer.
struct Screen {
    std::string text;
    static void Print(void* ctx, const char* t, uint8_t mode)
    {
        std::string& s = static_cast<Screen*>(ctx)->text;
        if (mode == 1 || mode == 2)
            s += "\r\n";
        s += t;
        if (mode == 0 || mode == 1)
            s += "\r\n";
    }
    CidPrinter Printer() { return CidPrinter{this, Print}; }
};

CidMessage Message(const Bytes& bytes)
{
    CidMessage m;
    cid_message_clear(&m);
    for (uint8_t b : bytes)
        cid_message_put(&m, b);
    return m;
}

// {type, length, body..., checksum} with the length and checksum filled in.
Bytes Framed(uint8_t type, const Bytes& body)
{
    Bytes m{type, static_cast<uint8_t>(body.size())};
    m.insert(m.end(), body.begin(), body.end());
    unsigned sum = 0;
    for (uint8_t b : m)
        sum += b;
    m.push_back(static_cast<uint8_t>(-sum & 0xFF));
    return m;
}

Bytes Param(uint8_t type, const std::string& data)
{
    Bytes p{type, static_cast<uint8_t>(data.size())};
    p.insert(p.end(), data.begin(), data.end());
    return p;
}

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

std::string Report(const Bytes& bytes, uint8_t mode, bool voice = false)
{
    Screen s;
    cid_report_idle(Message(bytes), mode, voice, s.Printer());
    return s.text;
}

TEST(CallerId, ChecksumCoversTypeLengthMessageAndChecksum)
{
    const Bytes good = Framed(0x80, Param(2, "123"));
    EXPECT_TRUE(cid_checksum_ok(Message(good)));
    Bytes bad = good;
    bad.back() ^= 1;
    EXPECT_FALSE(cid_checksum_ok(Message(bad)));
    Bytes cut(good.begin(), good.end() - 1);  // no checksum byte
    EXPECT_FALSE(cid_checksum_ok(Message(cut)));
    // A length that asks for more than 100 bytes is refused whatever the sum.
    Bytes longer{0x80, 98};
    longer.resize(100, 0);
    EXPECT_FALSE(cid_checksum_ok(Message(longer)));
    Bytes longest{0x80, 97};
    longest.resize(99, 0);
    longest.push_back(static_cast<uint8_t>(-(0x80 + 97) & 0xFF));
    EXPECT_TRUE(cid_checksum_ok(Message(longest)));
}

TEST(CallerId, FormattedReportsOfBothMessageFormats)
{
    const struct {
        const char* name;
        Bytes message;
        std::string expected;
    } cases[] = {
        {"multiple: date, number, name",
         Framed(0x80, Cat({Param(1, "12101630"), Param(2, "0123456789"), Param(7, "JOHN DOE")})),
         "DATE = 1210\r\nTIME = 1630\r\nNMBR = 0123456789\r\nNAME = JOHN DOE\r\n"},
        {"multiple: empty number", Framed(0x80, Param(2, "")), "NMBR = \r\n"},
        {"multiple: number withheld, name out of area",
         Framed(0x80, Cat({Param(4, "P"), Param(8, "O")})), "NMBR = P\r\nNAME = O\r\n"},
        {"multiple: other reason letters print nothing", Framed(0x80, Cat({Param(4, "X"), Param(8, "Q")})), ""},
        {"multiple: other parameter is a message", Framed(0x80, Param(0x11, "HELLO")), "MESG = HELLO\r\n"},
        {"multiple: date of the wrong length is passed over",
         Framed(0x80, Cat({Param(1, "1210163"), Param(2, "55")})), "NMBR = 55\r\n"},
        {"multiple: 21-digit number and 51-letter name are passed over",
         Framed(0x80, Cat({Param(2, std::string(21, '7')), Param(7, std::string(51, 'N')), Param(2, "20")})),
         "NMBR = 20\r\n"},
        {"multiple: 20 digits and 50 letters are kept",
         Framed(0x80, Cat({Param(2, std::string(20, '7')), Param(7, std::string(50, 'N'))})),
         "NMBR = " + std::string(20, '7') + "\r\nNAME = " + std::string(50, 'N') + "\r\n"},
        {"single: number", Framed(0x04, Bytes{'0', '1', '0', '2', '0', '3', '0', '4', '5', '5', '5', '1', '2'}),
         "DATE = 0102\r\nTIME = 0304\r\nNMBR = 55512\r\n"},
        {"single: out of area", Framed(0x04, Bytes{'0', '1', '0', '2', '0', '3', '0', '4', 'O'}),
         "DATE = 0102\r\nTIME = 0304\r\nNMBR = O\r\n"},
        {"single: no number", Framed(0x04, Bytes{'0', '1', '0', '2', '0', '3', '0', '4'}),
         "DATE = 0102\r\nTIME = 0304\r\nNMBR = \r\n"},
        {"single: too short for the date and time", Framed(0x04, Bytes{'0', '1', '0'}), ""},
        {"unknown message type", Framed(0x82, Param(2, "1")), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Report(c.message, CID_FORMATTED), c.expected);
    }
}

TEST(CallerId, WrongChecksumOrCaptureOffPrintsNothingWhenFormatted)
{
    Bytes m = Framed(0x80, Param(2, "123"));
    EXPECT_EQ(Report(m, CID_OFF), "");
    m[3] ^= 0x40;
    EXPECT_EQ(Report(m, CID_FORMATTED), "");
    EXPECT_EQ(Report(m, CID_UNFORMATTED), "\r\nMESG = 80050243313233E0\r\n")
        << "unformatted mode shows the bytes as they came";
}

TEST(CallerId, UnformattedReportIsEveryByteInHexadecimal)
{
    // Length 3: type, length, three bytes and the checksum: 12 hexadecimal digits.
    EXPECT_EQ(Report(Framed(0x04, Bytes{0x31, 0x32, 0x33}), CID_UNFORMATTED), "\r\nMESG = 040331323363\r\n");
    EXPECT_EQ(Report(Framed(0x80, Param(2, "9")), CID_UNFORMATTED), "\r\nMESG = 800302013941\r\n");
    // In voice mode the report is framed by DLE X and DLE ".".
    EXPECT_EQ(Report(Framed(0x80, Param(2, "9")), CID_FORMATTED, true), "\r\n\x10XNMBR = 9\r\n\x10.\r\n");
}

TEST(CallerId, CallWaitingParseKeepsFieldsWithinTheirLimits)
{
    const struct {
        const char* name;
        Bytes message;
        uint8_t result;
        std::string report;
    } cases[] = {
        {"multiple", Framed(0x80, Cat({Param(1, "12101630"), Param(2, "0123456789"), Param(7, "JOHN")})), 0,
         "DATE=1210\r\nTIME=1630\r\nNMBR=0123456789\r\nNAME=JOHN"},
        {"a message ends the walk", Framed(0x80, Cat({Param(2, "55"), Param(0x11, "CALL ME"), Param(7, "X")})), 0,
         "DATE=\r\nTIME=\r\nNMBR=55\r\nMESG=CALL ME"},
        {"a 16-digit number ends the walk, what came before stays",
         Framed(0x80, Cat({Param(7, "ANN"), Param(2, std::string(16, '3')), Param(7, "BOB")})), 0,
         "DATE=\r\nTIME=\r\nNMBR=\r\nNAME=ANN"},
        {"single", Framed(0x04, Bytes{'0', '1', '0', '2', '0', '3', '0', '4', '5', '5', '5'}), 0,
         "DATE=0102\r\nTIME=0304\r\nNMBR=555"},
        {"single, private", Framed(0x04, Bytes{'0', '1', '0', '2', '0', '3', '0', '4', 'P'}), 0,
         "DATE=0102\r\nTIME=0304\r\nNMBR=P"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CidCallWaiting cw{};
        EXPECT_EQ(cid_parse_call_waiting(Message(c.message), CID_FORMATTED, &cw), c.result);
        Screen s;
        cid_report(&cw, CID_FORMATTED, s.Printer());
        EXPECT_EQ(s.text, c.report);
        EXPECT_EQ(cw.fresh, 0) << "the report clears the fields";
    }
    // Unformatted mode, or a wrong checksum: refused (4), nothing to report.
    CidCallWaiting cw{};
    Bytes m = Framed(0x80, Param(2, "55"));
    EXPECT_EQ(cid_parse_call_waiting(Message(m), CID_UNFORMATTED, &cw), 4);
    m.back() ^= 1;
    EXPECT_EQ(cid_parse_call_waiting(Message(m), CID_FORMATTED, &cw), 4);
    Screen s;
    cid_report(&cw, CID_FORMATTED, s.Printer());
    EXPECT_EQ(s.text, "");
}

TEST(CallerId, CallWaitingToneMatchesTheCountryPatterns)
{
    CountryBlock b{};
    // Entry 0: kind 1, two intervals 150-250 and 450-550 ms, flag set; entry 1: kind 1, one interval
    // 250-350 ms, flag clear; entry 2: kind 2, one interval 60-100 ms, flag set.
    cb_put_u16(b, CB_CW, 3);
    const struct {
        uint8_t kind, n, flags;
        uint16_t bounds[4];
    } entries[] = {{1, 2, 1, {150, 250, 450, 550}}, {1, 1, 0, {250, 350, 0, 0}}, {2, 1, 1, {60, 100, 0, 0}}};
    for (size_t e = 0; e < 3; ++e) {
        const size_t at = CB_CW + e * CB_CW_ENTRY_SIZE;
        cb_put_u8(b, at + 2, entries[e].kind);
        cb_put_u8(b, at + 3, entries[e].n);
        cb_put_u8(b, at + 4, entries[e].flags);
        for (size_t k = 0; k < 4; ++k)
            cb_put_u16(b, at + 6 + 2 * k, entries[e].bounds[k]);
    }
    const struct {
        uint8_t kind;
        Bytes intervals;  // 10 ms units
        uint8_t result;
    } cases[] = {
        {1, {20, 50}, 1}, {1, {15, 55}, 1}, {1, {14, 50}, 0}, {1, {20, 56}, 0}, {1, {30}, 2},
        {1, {25}, 2},     {1, {36}, 0},     {2, {8}, 1},      {2, {20, 50}, 0}, {3, {8}, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(cw_tone_match(b, c.kind, c.intervals.data(), static_cast<uint8_t>(c.intervals.size())), c.result)
            << int(c.kind) << " " << int(c.intervals[0]);
    CountryBlock empty{};
    const uint8_t one = 30;
    EXPECT_EQ(cw_tone_match(empty, 1, &one, 1), 0);
}

// Random messages: any type, length and bytes, cut short or not. Nothing is read or written outside the
// buffers (the sanitizers watch), the printed fields keep their limits and a formatted report needs the
// checksum.
TEST(CallerId, RandomMessagesNeverOverrun)
{
    std::mt19937 rng(29);
    const uint8_t types[] = {0x80, 0x04, 0x82, 0x00};
    for (int iter = 0; iter < 20000; ++iter) {
        Bytes bytes(rng() % 130);
        for (auto& b : bytes)
            b = static_cast<uint8_t>(rng());
        if (!bytes.empty())
            bytes[0] = types[rng() % 4];
        if (bytes.size() > 1 && rng() % 2)
            bytes[1] = static_cast<uint8_t>(bytes.size() - 3 + rng() % 5);
        if (bytes.size() > 3 && rng() % 2) {
            bytes[1] = static_cast<uint8_t>(bytes.size() - 3);
            bytes.back() = 0;
            unsigned sum = 0;
            for (uint8_t b : bytes)
                sum += b;
            bytes.back() = static_cast<uint8_t>(-sum & 0xFF);
        }
        const CidMessage m = Message(bytes);
        ASSERT_LE(m.count, kCidMessageMax);
        for (uint8_t mode : {CID_FORMATTED, CID_UNFORMATTED}) {
            Screen s;
            cid_report_idle(m, mode, false, s.Printer());
            if (mode == CID_FORMATTED && !cid_checksum_ok(m))
                ASSERT_EQ(s.text, "");
            ASSERT_LE(s.text.size(), 2000u);
        }
        CidCallWaiting cw{};
        cid_parse_call_waiting(m, CID_FORMATTED, &cw);
        ASSERT_LT(std::char_traits<char>::length(cw.number), sizeof cw.number);
        ASSERT_LT(std::char_traits<char>::length(cw.name), sizeof cw.name);
        ASSERT_LT(std::char_traits<char>::length(cw.message), sizeof cw.message);
        Screen s;
        cid_report(&cw, CID_FORMATTED, s.Printer());
    }
}

}  // namespace
