// AT dialogues through the serial device: the collector, the parser, result codes and the basic commands
// working together over the real modem core, the DTE rings and the read and write requests.
#include <gtest/gtest.h>

#include <string>

#include "at_fixture.h"

using attest::AtStack;
using attest::Visible;

namespace {

TEST(AtDialogueTest, BasicDialogue)
{
    coretest::TempRegistry reg;
    AtStack s(reg.Path());
    struct Step {
        const char* send;
        const char* expect;
    };
    const Step steps[] = {
        {"AT\r", "AT\r\r\nOK\r\n"},
        {"at\r", "at\r\r\nOK\r\n"},
        {"ATE1 V1\r", "ATE1 V1\r\r\nOK\r\n"},
        {"ATE1V1\r", "ATE1V1\r\r\nOK\r\n"},
        {"AT+DR=1X\r", "AT+DR=1X\r\r\nERROR\r\n"},
        {"AT+DR=1;X1\r", "AT+DR=1;X1\r\r\nOK\r\n"},
        {"AT+DR?\r", "AT+DR?\r\r\n+DR: 001\r\n\r\nOK\r\n"},
        {"ATY9\r", "ATY9\r\r\nERROR\r\n"},
        {"ATFOO\r", "ATFOO\r\r\nERROR\r\n"},
        {"ATS3?\r", "ATS3?\r\r\n013\r\n\r\nOK\r\n"},
        {"ATS2?\r", "ATS2?\r\r\n043\r\n\r\nOK\r\n"},
        {"ATS7?\r", "ATS7?\r\r\n060\r\n\r\nOK\r\n"},
        {"ATS11=10S11?\r", "ATS11=10S11?\r\r\n050\r\n\r\nOK\r\n"},
        {"ATS32=99S32?\r", "ATS32=99S32?\r\r\n032\r\n\r\nOK\r\n"},
        {"ATS30=255\r", "ATS30=255\r\r\nOK\r\n"},
        {"ATS30=256\r", "ATS30=256\r\r\nERROR\r\n"},
        {"ATS13=5\r", "ATS13=5\r\r\nERROR\r\n"},
        {"ATS13?\r", "ATS13?\r\r\n000\r\n\r\nOK\r\n"},
        {"ATS7=300S7?\r", "ATS7=300S7?\r\r\n255\r\n\r\nOK\r\n"},
        {"ATI0\r", "ATI0\r\r\nOK\r\n"},
        {"ATI1\r", "ATI1\r\r\nMorva(R) Qiv Data Fax Voice V.90 Modem\r\n\r\nOK\r\n"},
        {"ATI2\r", "ATI2\r\r\nMorva Systems\r\n\r\nOK\r\n"},
        {"ATI3\r", "ATI3\r\r\nQiv\r\n\r\nOK\r\n"},
        {"ATI4\r", "ATI4\r\r\nQiv Release 4.40CT1  - May 24 2002 - 17:28:30\r\n\r\nOK\r\n"},
        {"ATI5\r",
         "ATI5\r\r\nCP Code Location: Host PC\r\nDSP Code Location: Host PC\r\nHost Interface: PCI\r\nOK\r\n"},
        {"ATI13\r", "ATI13\r\r\nERROR\r\n"},
        {"ATO\r", "ATO\r\r\nERROR\r\n"},
        {"AT\\B\r", "AT\\B\r\r\nNO CARRIER\r\n"},
        {"ATH0\r", "ATH0\r\r\nOK\r\n"},
        {"ATZ\r", "ATZ\r\r\nOK\r\n"},
        {"ATS7?\r", "ATS7?\r\r\n060\r\n\r\nOK\r\n"},
    };
    for (const Step& step : steps)
        EXPECT_EQ(Visible(s.Dialogue(step.send, 500)), Visible(step.expect)) << "sent " << Visible(step.send);
}

TEST(AtDialogueTest, EchoVerbalAndQuietOptions)
{
    coretest::TempRegistry reg;
    AtStack s(reg.Path());
    EXPECT_EQ(Visible(s.Dialogue("ATE0\r")), Visible("ATE0\r\r\nOK\r\n"));
    EXPECT_EQ(Visible(s.Dialogue("AT\r")), Visible("\r\nOK\r\n"));
    EXPECT_EQ(Visible(s.Dialogue("ATE1\r")), Visible("\r\nOK\r\n"));
    EXPECT_EQ(Visible(s.Dialogue("ATV0\r")), Visible("ATV0\r0\r"));
    EXPECT_EQ(Visible(s.Dialogue("ATY9\r")), Visible("ATY9\r4\r"));
    EXPECT_EQ(Visible(s.Dialogue("ATS3?\r")), Visible("ATS3?\r013\r\n0\r"));
    EXPECT_EQ(Visible(s.Dialogue("ATV1Q1\r")), Visible("ATV1Q1\r"));
    EXPECT_EQ(Visible(s.Dialogue("ATY9\r")), Visible("ATY9\r"));
    EXPECT_EQ(Visible(s.Dialogue("ATQ0\r")), Visible("ATQ0\r\r\nOK\r\n"));
    // S3 and S4 shape every response.
    EXPECT_EQ(Visible(s.Dialogue("ATS4=0\r")), Visible("ATS4=0\r\rOK\r"));
    EXPECT_EQ(Visible(s.Dialogue("ATS4=10\r")), Visible("ATS4=10\r\r\nOK\r\n"));
}

TEST(AtDialogueTest, LineEditingRepeatAndAbandon)
{
    coretest::TempRegistry reg;
    AtStack s(reg.Path());
    // "At" is not a prefix: nothing happens until a real one.
    EXPECT_EQ(Visible(s.Dialogue("At\r")), Visible("At\r"));
    // Backspace removes the last character (echoed as BS, space, BS); on an empty line the "T" is redrawn.
    EXPECT_EQ(Visible(s.Dialogue("ATI3X\b\r")), Visible("ATI3X\b \b\r\r\nQiv\r\n\r\nOK\r\n"));
    EXPECT_EQ(Visible(s.Dialogue("AT\bT\r")), Visible("AT\bTT\r\r\nOK\r\n"));
    // "A/" repeats the previous line.
    EXPECT_EQ(Visible(s.Dialogue("ATI3\r")), Visible("ATI3\r\r\nQiv\r\n\r\nOK\r\n"));
    EXPECT_EQ(Visible(s.Dialogue("A/")), Visible("A/\r\nQiv\r\n\r\nOK\r\n"));
    // CAN abandons the line with OK.
    EXPECT_EQ(Visible(s.Dialogue("ATI3\x18")), Visible("ATI3\x18\r\nOK\r\n"));
    // Spaces inside quotes survive and the text keeps its case (checked on the line buffer).
    s.Dialogue("AT\"o k\"\r");
    EXPECT_STREQ(s.Acu()->line, "\"o k\"");
}

TEST(AtDialogueTest, EightyCharactersAreALineTheEightyFirstIsAnError)
{
    coretest::TempRegistry reg;
    AtStack s(reg.Path());
    s.Dialogue("ATE0\r");
    // 80 characters after "AT": S0=0 repeated, then padding with spaces that the preparation removes.
    std::string line80;
    while (line80.size() + 4 <= 80)
        line80 += "S0=0";
    line80.resize(80, ' ');
    ASSERT_EQ(line80.size(), 80u);
    EXPECT_EQ(Visible(s.Dialogue("AT" + line80 + "\r", 1000)), Visible("\r\nOK\r\n"));
    // One more character: ERROR as soon as it arrives, before any end of line.
    EXPECT_EQ(Visible(s.Dialogue("AT" + line80 + "S")), Visible("\r\nERROR\r\n"));
    // The modem is back in Idle and answers the next line.
    EXPECT_EQ(Visible(s.Dialogue("AT\r")), Visible("\r\nOK\r\n"));
}

TEST(AtDialogueTest, ResultComesAfterThePostLineDelay)
{
    coretest::TempRegistry reg;
    AtStack s(reg.Path());
    s.Send("AT\r");
    std::string early = s.Read(100);
    EXPECT_EQ(Visible(early), Visible("AT\r")) << "no result within 100 ms of the end of the line";
    EXPECT_EQ(Visible(s.Read(300)), Visible("\r\nOK\r\n"));
}

}  // namespace
