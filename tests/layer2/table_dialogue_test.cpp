// The table dialogue over the scripted data pump: the exact upload layout, downloads that change the country
// block or are refused whole, comments, the end of the dialogue by "}#" and by silence, and a fuzzed stream
// of overlong and malformed lines that must never write outside the line buffer or the table.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "at_fixture.h"
#include "call_fixture.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/cmd/table_dialogue.h"
#include "layer2/corecode/mt/dsp_router.h"

using attest::Visible;
using calltest::CallRig;

namespace {

class TableRig : public CallRig {
public:
    TableRig()
    {
        table_dialogue_attach(A());
        Run(50);
        Output();
    }
    // Runs call control with the router's millisecond clock advancing as the tick thread would.
    void RunClock(int ms)
    {
        for (int t = 0; t < ms; t += 10) {
            dsp_msg_add_ms(&dev->queue, 10);
            Run(10);
        }
    }
    void Upload(uint8_t table) { acu_dsp_message(A(), kMsgTable, 5, false, &table, 1); }
    void Download() { acu_dsp_message(A(), kMsgTable, 2, false, nullptr, 0); }
    const uint8_t* Block() const { return settings->block.bytes; }
};

std::string HexLines(const uint8_t* bytes, int size)
{
    std::string out;
    char hex[4];
    for (int at = 0; at < size; at += 16) {
        for (int k = 0; k < 16 && at + k < size; ++k) {
            std::snprintf(hex, sizeof hex, "%02X", bytes[at + k]);
            out += hex;
            if (k % 4 == 3)
                out += ' ';
        }
        out += "\r\n";
    }
    return out;
}

TEST(TableDialogue, UploadPrintsTheTableInLinesOfSixteenBytes)
{
    TableRig r;
    r.Upload(9);
    r.Run(200);
    const std::string out = r.Output();
    const std::string expected = "\n\rS-Resister table <\n\r" + HexLines(r.Block() + 1019, 92) + "\r\n>\r\n";
    EXPECT_EQ(Visible(out), Visible(expected));
    // Five lines of 16 bytes and one of 12.
    EXPECT_EQ(HexLines(r.Block() + 1019, 92).size(), 5u * (32 + 4 + 2) + (24 + 3 + 2));
    EXPECT_EQ(r.A()->table_dialogue.mode, TABLE_MODE_OFF);
}

TEST(TableDialogue, UnknownTableNumbersUploadNothing)
{
    for (uint8_t n : {0, 11, 255}) {
        TableRig r;
        r.Upload(n);
        r.Run(100);
        EXPECT_EQ(r.Output(), "") << int(n);
    }
}

// A download of table 3 (voice dtmf level, two bytes) in its variants.
TEST(TableDialogue, DownloadStoresOnlyATableOfTheRightSize)
{
    const struct {
        const char* text;
        bool stored;
        uint8_t b15, b16;
    } cases[] = {
        {"<\r{\r:3:\r:1:0x12\r:1:34\r}#\r", true, 0x12, 34},
        {"<\r{\r:3:\r:1:0x12,77\r:1:34,88\r}#\r", true, 0x12, 34},  // types 1-3 take one value a line
        {"<\r{\r:3:\r:11:7,8\r}#\r", true, 7, 8},
        {"<\r{\r:3:\r:2:0x1234\r}#\r", true, 0x34, 0x12},       // one 16-bit word
        {"<\r{\r:3:\r:1:5 ; ,6,7\r:1:9\r}#\r", true, 5, 9},     // values after ";" are not counted
        {"<\r{\r:3:\r:1:5\r}#\r", false, 0, 0},                 // one byte short
        {"<\r{\r:3:\r:11:5,6,7\r}#\r", false, 0, 0},            // one byte too many
        {"<\r{\r:12:\r:1:5,6\r}#\r", false, 0, 0},              // no such table
    };
    for (const auto& c : cases) {
        TableRig r;
        const uint8_t before15 = r.Block()[15];
        const uint8_t before16 = r.Block()[16];
        std::vector<uint8_t> whole(r.Block(), r.Block() + COUNTRY_BLOCK_SIZE);
        r.Download();
        r.Run(50);
        r.Type(c.text);
        r.Run(300);
        const std::string out = r.Output();
        if (c.stored) {
            EXPECT_NE(out.find("voice dtmf level\n\r> "), std::string::npos) << c.text << Visible(out);
            EXPECT_EQ(r.Block()[15], c.b15) << c.text;
            EXPECT_EQ(r.Block()[16], c.b16) << c.text;
            whole[15] = c.b15;
            whole[16] = c.b16;
        } else {
            EXPECT_NE(out.find("the received table has a wrong size\n\r"), std::string::npos) << c.text << Visible(out);
            EXPECT_EQ(r.Block()[15], before15);
            EXPECT_EQ(r.Block()[16], before16);
        }
        EXPECT_EQ(std::vector<uint8_t>(r.Block(), r.Block() + COUNTRY_BLOCK_SIZE), whole) << c.text;
        EXPECT_EQ(out.substr(0, 4), "\n\r> ");
        EXPECT_NE(out.find("end\n\r\n\rOK\n\r"), std::string::npos) << Visible(out);
        EXPECT_EQ(r.A()->table_dialogue.mode, TABLE_MODE_OFF);
    }
}

TEST(TableDialogue, DownloadOfALargeTableAndTheDialogueContinuingAfterAWrongOne)
{
    TableRig r;
    r.Download();
    r.Run(50);
    std::string text = "<\r{\r:3:\r:1:1\r}\r{\r:9:\r";
    for (int line = 0; line < 92 / 4; ++line)
        text += ":11:" + std::to_string(4 * line) + "," + std::to_string(4 * line + 1) + "," +
                std::to_string(4 * line + 2) + ",0x" + std::to_string(4 * line + 3) + "\r";
    text += "}#\r";
    // A line holds at most 179 characters: feed it in pieces the way a terminal would.
    r.Type(text);
    r.Run(500);
    const std::string out = r.Output();
    EXPECT_NE(out.find("the received table has a wrong size\n\r"), std::string::npos) << Visible(out);
    EXPECT_NE(out.find("S-Resister table\n\r> "), std::string::npos) << Visible(out);
    for (int k = 0; k < 92; ++k) {
        const int v = k % 4 == 3 ? ((k / 10) % 10) * 16 + k % 10 : k;  // "0x" takes the decimal digits as hex
        EXPECT_EQ(r.Block()[1019 + k], static_cast<uint8_t>(v)) << k;
    }
}

TEST(TableDialogue, SilenceEndsTheDownload)
{
    TableRig r;
    r.Download();
    r.RunClock(40000);
    EXPECT_EQ(r.A()->table_dialogue.mode, TABLE_MODE_DOWNLOAD);
    r.RunClock(1500);
    EXPECT_EQ(Visible(r.Output()), Visible("\n\r> end\n\r"));
    EXPECT_EQ(r.A()->table_dialogue.mode, TABLE_MODE_OFF);
    // The command input belongs to the interpreter again.
    r.Type("AT\r");
    r.Run(500);
    EXPECT_NE(r.Output().find("OK"), std::string::npos);
}

// Random lines, many far longer than the line buffer, with and without table syntax: the dialogue never
// writes outside its buffers (the sanitizer build checks), the block changes only through complete tables of
// the right size, and "}#" always ends it.
TEST(TableDialogue, FuzzedLinesAreBounded)
{
    std::mt19937 rng(1234);
    const char alphabet[] = "<{}#:;,0x123456789abcdefABCDEF- \t";
    for (int round = 0; round < 12; ++round) {
        TableRig r;
        std::vector<uint8_t> before(r.Block(), r.Block() + COUNTRY_BLOCK_SIZE);
        r.Download();
        r.Run(30);
        std::string text = "<\r{\r:" + std::to_string(1 + rng() % 10) + ":\r";
        for (int line = 0; line < 30; ++line) {
            const int length = static_cast<int>(rng() % 600);
            for (int k = 0; k < length; ++k)
                text += alphabet[rng() % (sizeof alphabet - 1)];
            text += (rng() % 2) ? '\r' : '\n';
            if (text.size() > 1500) {
                r.Type(text);
                r.Run(60);
                text.clear();
            }
        }
        text += "\r}#\r";
        r.Type(text);
        r.Run(300);
        EXPECT_EQ(r.A()->table_dialogue.mode, TABLE_MODE_OFF) << round;
        EXPECT_LE(r.A()->table_dialogue.fill, kTableLineMax);
        // Nothing outside the ten tables' places changed.
        for (size_t k = 0; k < 2; ++k)
            EXPECT_EQ(r.Block()[k], before[k]) << round;
        for (size_t k = 1503; k < COUNTRY_BLOCK_SIZE; ++k)
            ASSERT_EQ(r.Block()[k], before[k]) << round << " byte " << k;
    }
}

}  // namespace
