// Synchronous access: the in-band code tables, the rate characters and the lost count; and two modems on the
// simulated exchange at V.22bis with +ES asking for it, carrying the application's stream in transparent
// sub-mode and its frames in framed sub-mode, with payloads that collide with the codes (0x11, 0x13, 0x19,
// 0x99) both ways.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "bit_search.h"
#include "layer2/corecode/dce/line_block.h"
#include "layer2/corecode/dce/v80.h"
#include "v80_fixture.h"

namespace {

using attest::Visible;
using bitsearch::Bits;
using bitsearch::FindBits;
using calltest::ExchangeModems;
using v80test::Code;
using v80test::Decode;
using v80test::Payload;
using v80test::V80Exchange;

TEST(V80Codes, TransparencyCodesGiveTheirOctets)
{
    const struct {
        uint8_t code;
        std::vector<uint8_t> octets;
    } cases[] = {
        {0x5C, {0x19}},       {0x5D, {0x19, 0x19}}, {0x76, {0x99}},       {0x77, {0x99, 0x99}},
        {0xA0, {0x11}},       {0xA1, {0x13}},       {0xA2, {0x11, 0x11}}, {0xA3, {0x13, 0x13}},
        {0xA4, {0x19, 0x99}}, {0xA5, {0x19, 0x11}}, {0xA6, {0x19, 0x13}}, {0xA7, {0x99, 0x19}},
        {0xA8, {0x99, 0x11}}, {0xA9, {0x99, 0x13}}, {0xAA, {0x11, 0x19}}, {0xAB, {0x11, 0x99}},
        {0xAC, {0x11, 0x13}}, {0xAD, {0x13, 0x19}}, {0xAE, {0x13, 0x99}}, {0xAF, {0x13, 0x11}},
        {0x5E, {}},           {0x75, {}},           {0xB0, {}},           {0xB1, {}},
        {0xBE, {}},           {0x00, {}},
    };
    for (const auto& c : cases) {
        uint8_t out[2] = {};
        const int n = v80_code_octets(c.code, out);
        EXPECT_EQ(std::vector<uint8_t>(out, out + n), c.octets) << std::hex << int(c.code);
    }
    // Received octets that collide with the codes are shielded, all others go as they are.
    for (int o = 0; o < 256; ++o) {
        const uint8_t code = v80_receive_code(static_cast<uint8_t>(o));
        if (o == 0x11 || o == 0x13 || o == 0x19 || o == 0x99) {
            uint8_t out[2];
            ASSERT_EQ(v80_code_octets(code, out), 1) << o;
            EXPECT_EQ(out[0], o);
        } else {
            EXPECT_EQ(code, 0) << o;
        }
    }
}

TEST(V80Codes, RateCharactersAndLostCount)
{
    const struct {
        uint32_t rate;
        uint8_t c;
    } rates[] = {
        {75, 0x20},    {300, 0x20},   {1200, 0x20},  {2400, 0x21},  {4800, 0x22},  {7200, 0x23},
        {9600, 0x24},  {12000, 0x25}, {14400, 0x26}, {16800, 0x27}, {19200, 0x28}, {21600, 0x29},
        {24000, 0x2A}, {26400, 0x2B}, {28800, 0x2C}, {31200, 0x2D}, {33600, 0x2E}, {28000, 0x30},
        {29333, 0x30}, {36000, 0x30}, {48000, 0x30}, {56000, 0x30}, {57333, 0x30}, {600, 0x26},
        {0, 0x26},     {38400, 0x26},
    };
    for (const auto& r : rates)
        EXPECT_EQ(v80_rate_char(r.rate), r.c) << r.rate;
    const struct {
        uint32_t count;
        uint8_t a, b;
    } lost[] = {{0, 0, 0}, {5, 0x0A, 0}, {127, 0xFE, 0}, {128, 0, 2}, {200, 0x90, 2}, {16383, 0xFE, 0xFE}};
    for (const auto& l : lost) {
        uint8_t out[2];
        v80_lost_bytes(l.count, out);
        EXPECT_EQ(out[0], l.a) << l.count;
        EXPECT_EQ(out[1], l.b) << l.count;
    }
}

// Transparent sub-mode: the octets leave as a bit stream; the receiver's octets start wherever its framer
// started, so the sent bits are looked for in the received ones (idle marks around them).
TEST_F(V80Exchange, TransparentStreamBothWays)
{
    Connect();
    const std::string ab = Payload(600, 1);
    const std::string ba = Payload(600, 2);
    Write(x.A(), Code(ab));
    Write(x.B(), Code(ba));
    x.Run(4000);
    std::string codesA, codesB;
    const std::string atB = Decode(x.TakeB(), &codesB);
    const std::string atA = Decode(x.TakeA(), &codesA);
    EXPECT_GE(FindBits(Bits(atB), Bits(ab)), 0) << atB.size() << " bytes at B " << codesB;
    EXPECT_GE(FindBits(Bits(atA), Bits(ba)), 0) << atA.size() << " bytes at A " << codesA;
    EXPECT_EQ(codesA, "");
    EXPECT_EQ(codesB, "");
}

// Framed sub-mode (EM B1 in transparent sub-mode switches to it): each frame arrives whole with EM B1 after it.
TEST_F(V80Exchange, FramedFramesBothWays)
{
    Connect();
    const std::string flag = std::string(1, static_cast<char>(V80_EM)) + static_cast<char>(V80_FLAG);
    Write(x.A(), flag);
    Write(x.B(), flag);
    x.Run(500);
    x.TakeA();
    x.TakeB();
    std::vector<std::string> frames = {Payload(40, 3), Payload(1, 4), Payload(120, 5), std::string("\x19\x99\x11\x13", 4)};
    std::string stream;
    for (const std::string& f : frames)
        stream += Code(f) + flag;
    Write(x.A(), stream);
    Write(x.B(), stream);
    x.Run(4000);
    std::string expected;
    for (const std::string& f : frames)
        expected += Code(f) + flag;
    EXPECT_EQ(Visible(x.TakeB()), Visible(expected));
    EXPECT_EQ(Visible(x.TakeA()), Visible(expected));
}

}  // namespace
