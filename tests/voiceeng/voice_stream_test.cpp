// The voice byte streams on byte tables: the application's DLE-shielded play bytes into one line byte per
// sample with the DLE commands they carry, and the line's sample bytes into the application's coding with DLE
// doubled, for every packing (bytes, 4-bit ADPCM nibbles low first, 3-bit codes, 16-bit linear).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "layer2/corecode/voice/voice_codecs.h"
#include "layer2/corecode/voice/voice_engine.h"
#include "layer2/corecode/voice/voice_stream.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct PlayResult {
    Bytes line;
    std::vector<uint8_t> commands;  // in order, VOICE_PLAY_NONE left out
};

PlayResult Play(uint8_t packing, const Bytes& in)
{
    VoicePlayStream s;
    voice_play_stream_init(&s, packing);
    PlayResult r;
    for (uint8_t c : in) {
        uint8_t out[kVoicePlayMaxOut];
        int n = -1;
        const uint8_t command = voice_play_byte(&s, c, out, &n);
        EXPECT_GE(n, 0);
        EXPECT_LE(n, kVoicePlayMaxOut);
        r.line.insert(r.line.end(), out, out + n);
        if (command != VOICE_PLAY_NONE)
            r.commands.push_back(command);
    }
    return r;
}

Bytes Record(uint8_t packing, const Bytes& in)
{
    VoiceRecordStream s;
    voice_record_stream_init(&s, packing);
    Bytes app;
    for (uint8_t c : in) {
        uint8_t out[kVoiceRecordMaxOut];
        const int n = voice_record_byte(&s, c, out);
        EXPECT_LE(n, kVoiceRecordMaxOut);
        app.insert(app.end(), out, out + n);
    }
    return app;
}

TEST(VoicePlayStream, DleCodesOnByteTables)
{
    struct Case {
        const char* what;
        uint8_t packing;
        Bytes in;
        Bytes line;
        std::vector<uint8_t> commands;
    };
    const Case cases[] = {
        {"plain samples", VOICE_PACK_BYTE, {0x01, 0x7F, 0xFF}, {0x01, 0x7F, 0xFF}, {}},
        {"DLE DLE is one 0x10 sample", VOICE_PACK_BYTE, {0x10, 0x10, 0x22}, {0x10, 0x22}, {}},
        {"DLE SUB is two 0x10 samples", VOICE_PACK_BYTE, {0x05, 0x10, 0x1A, 0x06}, {0x05, 0x10, 0x10, 0x06}, {}},
        {"DLE ETX ends the play", VOICE_PACK_BYTE, {0x41, 0x10, 0x03}, {0x41}, {VOICE_PLAY_END}},
        {"DLE CAN flushes", VOICE_PACK_BYTE, {0x10, 0x18}, {}, {VOICE_PLAY_FLUSH}},
        {"DLE NUL restarts the timer", VOICE_PACK_BYTE, {0x10, 0x00, 0x00}, {0x00}, {VOICE_PLAY_TIMER}},
        {"DLE ? asks for the room", VOICE_PACK_BYTE, {0x10, '?'}, {}, {VOICE_PLAY_QUERY}},
        {"DLE d and DLE u step the gain", VOICE_PACK_BYTE, {0x10, 'd', 0x10, 'u'}, {},
         {VOICE_PLAY_GAIN_DOWN, VOICE_PLAY_GAIN_UP}},
        {"other DLE codes are passed over", VOICE_PACK_BYTE, {0x10, 'x', 0x33}, {0x33}, {}},
        {"ADPCM: low nibble first", VOICE_PACK_NIBBLE, {0x21, 0xF0}, {0x01, 0x02, 0x00, 0x0F}, {}},
        {"ADPCM: DLE DLE is the byte 0x10", VOICE_PACK_NIBBLE, {0x10, 0x10}, {0x00, 0x01}, {}},
        {"ADPCM: DLE SUB is two 0x10 bytes", VOICE_PACK_NIBBLE, {0x10, 0x1A}, {0x00, 0x01, 0x00, 0x01}, {}},
        // codes 1 6 2 5 2 7 4 3, three bits each, the first code in the lowest bits of the first byte.
        {"3-bit codes, least significant first", VOICE_PACK_3BIT, {0xB1, 0xAA, 0x73}, {1, 6, 2, 5, 2, 7, 4, 3}, {}},
        {"16-bit little-endian to offset binary", VOICE_PACK_LINEAR16, {0x00, 0x80, 0xFF, 0x7F, 0x00, 0x00, 0x34, 0xF2},
         {0x00, 0xFF, 0x80, 0x72}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const PlayResult r = Play(c.packing, c.in);
        EXPECT_EQ(r.line, c.line);
        EXPECT_EQ(r.commands, c.commands);
    }
}

TEST(VoiceRecordStream, PackingAndShieldingOnByteTables)
{
    struct Case {
        const char* what;
        uint8_t packing;
        Bytes line;
        Bytes app;
    };
    const Case cases[] = {
        {"bytes with 0x10 doubled", VOICE_PACK_BYTE, {0x00, 0x10, 0xD5}, {0x00, 0x10, 0x10, 0xD5}},
        {"ADPCM: first code in the low nibble", VOICE_PACK_NIBBLE, {0x01, 0x02, 0x0F, 0x00, 0x03}, {0x21, 0x0F}},
        {"ADPCM: a packed 0x10 is doubled", VOICE_PACK_NIBBLE, {0x00, 0x01}, {0x10, 0x10}},
        {"3-bit codes, least significant first", VOICE_PACK_3BIT, {1, 6, 2, 5, 2, 7, 4, 3}, {0xB1, 0xAA, 0x73}},
        {"offset binary to 16-bit little-endian", VOICE_PACK_LINEAR16, {0x00, 0xFF, 0x80, 0x90},
         {0x00, 0x80, 0x00, 0x7F, 0x00, 0x00, 0x00, 0x10, 0x10}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Record(c.packing, c.line), c.app);
    }
}

// What the application plays comes back from the record side unchanged for every packing, across all byte
// values (the line carries one code per byte, as the data pump's coders do).
TEST(VoiceStreams, PlayThenRecordGivesTheSameBytes)
{
    const uint8_t packings[] = {VOICE_PACK_BYTE, VOICE_PACK_NIBBLE, VOICE_PACK_3BIT};
    Bytes raw;
    for (int i = 0; i < 3 * 256; ++i)
        raw.push_back(static_cast<uint8_t>(i * 37 + 11));
    Bytes shielded;
    for (uint8_t b : raw) {
        shielded.push_back(b);
        if (b == 0x10)
            shielded.push_back(0x10);
    }
    for (uint8_t packing : packings) {
        SCOPED_TRACE(static_cast<int>(packing));
        const PlayResult p = Play(packing, shielded);
        EXPECT_TRUE(p.commands.empty());
        EXPECT_EQ(Record(packing, p.line), shielded);
    }
}

TEST(VoicePlayStream, RoomReplyOnByteTables)
{
    struct Case {
        uint16_t room;
        Bytes reply;
    };
    const Case cases[] = {
        {1000, {0x10, 0x58, 0x41, 0x53, 0x54, 0x42, 0x3D, 0x31, 0x30, 0x30, 0x30, 0x10, 0x2E}},
        {0, {0x10, 'X', 'A', 'S', 'T', 'B', '=', '0', 0x10, '.'}},
        {65535, {0x10, 'X', 'A', 'S', 'T', 'B', '=', '6', '5', '5', '3', '5', 0x10, '.'}},
    };
    for (const Case& c : cases) {
        uint8_t out[kVoiceRoomReplyMax];
        const int n = voice_room_reply(c.room, out);
        EXPECT_EQ(Bytes(out, out + n), c.reply) << c.room;
    }
}

TEST(VoiceText, HelpersPrintDecimalAndUpperCaseHex)
{
    char t[32] = "";
    txt_append_dec(t, sizeof t, 0);
    txt_append(t, sizeof t, ",");
    txt_append_dec(t, sizeof t, 7);
    txt_append(t, sizeof t, ",");
    txt_append_dec(t, sizeof t, 255);
    txt_append(t, sizeof t, ",");
    txt_append_dec(t, sizeof t, 1000);
    txt_append(t, sizeof t, ",");
    txt_append_hex2(t, sizeof t, 0xAB);
    txt_append(t, sizeof t, ",");
    txt_append_hex8(t, sizeof t, 0x0B800160);
    EXPECT_STREQ(t, "0,7,255,1000,AB,0B800160");
    char small[6] = "";
    txt_append(small, sizeof small, "toolong");
    EXPECT_STREQ(small, "toolo");
}

TEST(VoiceCodecs, TableAndPumpCodings)
{
    VoiceCodecEntry table[kVoiceCodecCount];
    voice_codecs_fill(table);
    const uint8_t methods[kVoiceCodecCount] = {0, 1, 2, 128, 129, 132, 140, 141};
    const uint8_t bits[kVoiceCodecCount] = {8, 16, 4, 8, 16, 4, 8, 3};
    for (int i = 0; i < kVoiceCodecCount; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(table[i].method, methods[i]);
        EXPECT_EQ(table[i].bits[0], bits[i]);
        EXPECT_STREQ(table[i].vendor, "Morva");
        EXPECT_EQ(table[i].play_mask, 0x0B800160u);
        EXPECT_EQ(table[i].record_mask, 0x0FE01860u);
        EXPECT_EQ(table[i].idle_mask, 0x9B803860u);
        EXPECT_EQ(voice_codec_by_method(table, methods[i]), i);
    }
    EXPECT_EQ(voice_codec_by_method(table, 3), -1);
    // CL1 is the data pump's A-law, the ADPCM codecs its 4-bit and 3-bit ADPCM, the linear ones offset binary.
    EXPECT_EQ(voice_codec_pump_format(6), 0);
    EXPECT_EQ(voice_codec_pump_format(2), 6);
    EXPECT_EQ(voice_codec_pump_format(7), 5);
    EXPECT_EQ(voice_codec_pump_format(0), 2);
    EXPECT_EQ(voice_codec_pump_format(4), 2);
    const uint16_t rates[] = {4800, 7200, 8000, 9600, 11025};
    for (uint8_t k = 0; k < 5; ++k)
        EXPECT_EQ(voice_rate_code(rates[k]), k);
}

}  // namespace
