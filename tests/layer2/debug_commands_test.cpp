// The debug command set through the serial port over the stand-in pump: hidden until "*DEBUGON", gone after
// "*DEBUGOFF" and "&F"; the help screens; the memory dumps; the raw packet bounded to 16 payload bytes and
// its printed reply; GPIO and relays; the country-set commands and the table download trigger. Then the
// switch to the voice command set and back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "at_fixture.h"
#include "call_fixture.h"
#include "layer2/corecode/cmd/at_parser.h"
#include "layer2/corecode/cmd/at_tables.h"
#include "layer2/corecode/cmd/command_sets.h"
#include "layer2/corecode/mt/dsp_device.h"
#include "support/pump_stand_in.h"
#include "window/icd_codes.h"
#include "window/icd_packet.h"
#include "window/register_map.h"
#include "window/window_access.h"

using attest::AtStack;
using attest::Visible;
using calltest::CallRig;

namespace {

const char kHelp[] =
    "\r\n"
    "DSP Debug AT Commands\r\n"
    "-------------------------------------------------\r\n"
    "at*acpi=n  - Set ACPI state (n=0 or 3)\r\n"
    "at*d?n     - Display Data RAM at n\r\n"
    "at*p?n     - Display Program RAM at n\r\n"
    "at*d=a,n   - Set Data RAM address a to value n\r\n"
    "at*p=a,n   - Set Program RAM address a to value n\r\n"
    "at*i?      - Display V.92 quick-connect data\r\n"
    "at*SDn     - Set num DSP bytes to display for AT*p and AT*d\r\n"
    "at*GPOSETn - Set GPIO n as an output with data value of 1\r\n"
    "at*GPOCLRn - Set GPIO n as an output with data value of 0\r\n"
    "at*GPIn    - Set GPIO n as an input and read its value\r\n"
    "at*rh      - Set hook relay (0 or 1)\r\n"
    "at*rv      - Set voice relay (0 or 1)\r\n"
    "at*rc      - Set CID relay (0 or 1)\r\n"
    "at*rs      - Set SPK/HS relay (0=SPKR or 1=HS)\r\n"
    "at*ra      - Set all relays (0 or 1)\r\n"
    "at*r?      - Get all relays state\r\n"
    "at*c=      - Read comma delimited ICD packet -> COMRAM\r\n"
    "at*tt      - Signal Level Test Command ... (Type AT*TT? for Help)\r\n"
    "\r\nOK\r\n";

const char kSignalHelp[] =
    "\r\n"
    "DSP AT*TTxx Command  ...  xx is a Hexidecimal Value\r\n"
    "---------------------------------------------------------\r\n"
    "DTMF Tests:\r\n"
    "  00-09: DTMF Digits         0A-0F: DTMF * # A B C D\r\n"
    "V.21, V.22, V.22bis, & V.23 Tests:\r\n"
    "  10-13: V.21 & V23 Marks    15-18: V.22 & V.22bis ALB\r\n"
    "  19-1C: V.21 & V.23 Spaces  20-21: V.32 & V.32bis ALB\r\n"
    "General Tone Tests:\r\n"
    "  30: Silance                31&33: V.25 Ans & Call Tones\r\n"
    "  32: Guard Tone             34: Fax Calling Tone\r\n"
    "Fax Configuration Tests:\r\n"
    "  40-43: V.21    300, V.27  2400,  V.27  4800,  V.29 7200\r\n"
    "  44-47: V.29   9600, V.17  7200L, V.17  7200S, V.17 9600L\r\n"
    "  48-4A: V.17  9600S, V.17 12000L, V.17 12000S\r\n"
    "  4B-4C: V.17 14400L, V.17 14400S\r\n"
    "V.34 Analog Loopback Tests:\r\n"
    "  60-66:  2400,  4800,  7200,  9600, 12000, 14400, 16800\r\n"
    "  67-6D: 19200, 21600, 24000, 26400, 28800, 31200, 33600\r\n"
    "\r\nOK\r\n";

// The answer after the echoed line.
std::string Answer(AtStack& s, const std::string& line, int ms = 400)
{
    const std::string out = s.Dialogue(line, ms);
    return out.compare(0, line.size(), line) == 0 ? out.substr(line.size()) : out;
}

FakePumpExtension* Pump(AtStack& s);

// A stack whose stand-in pump takes and answers commands.
struct DebugStack : AtStack {
    DebugStack() : AtStack("")
    {
        // The commands of the start-up were never taken: the mailbox is freed and the pump starts taking.
        FakePumpExtension* pump = Pump(*this);
        pump->neverTake = false;
        WindowStore(&pump->block, kRegCommandCode, 0);
    }
};

TEST(DebugCommands, HiddenUntilEnabledAndGoneAfterOffAndFactoryReset)
{
    DebugStack s;
    EXPECT_EQ(Visible(Answer(s, "AT*?\r")), "\\r\\nERROR\\r\\n");
    EXPECT_EQ(Visible(Answer(s, "AT*DEBUGON\r")), "\\r\\nOK\\r\\n");
    EXPECT_EQ(Visible(Answer(s, "AT*?\r")), Visible(kHelp));
    EXPECT_EQ(Visible(Answer(s, "AT*TT?\r")), Visible(kSignalHelp));
    EXPECT_EQ(Visible(Answer(s, "AT*DEBUGOFF\r")), "\\r\\nOK\\r\\n");
    EXPECT_EQ(Visible(Answer(s, "AT*?\r")), "\\r\\nERROR\\r\\n");
    Answer(s, "AT*DEBUGON\r");
    EXPECT_EQ(Visible(Answer(s, "AT&F\r")), "\\r\\nOK\\r\\n");
    EXPECT_EQ(Visible(Answer(s, "AT*?\r")), "\\r\\nERROR\\r\\n");
}

TEST(DebugCommands, CommandsAndTheirAnswers)
{
    DebugStack s;
    Answer(s, "AT*DEBUGON\r");
    const struct {
        const char* line;
        const char* answer;
    } cases[] = {
        {"AT*GPI16\r", "\r\nERROR\r\n"},
        {"AT*GPOSET3\r", "\r\nOK\r\n"},
        {"AT*GPI3\r", "\r\n1\r\n\r\nOK\r\n"},
        {"AT*GPOCLR3\r", "\r\nOK\r\n"},
        {"AT*GPI3\r", "\r\n0\r\n\r\nOK\r\n"},
        {"AT*RA1\r", "\r\nOK\r\n"},
        {"AT*R?\r", "\r\nHook: ON  Voice: ON  CID: ON  SPK_HS: ON  LPOHD: ON\r\n\r\nOK\r\n"},
        {"AT*RA0\r", "\r\nOK\r\n"},
        {"AT*RV1\r", "\r\nOK\r\n"},
        {"AT*R?\r", "\r\nHook: OFF  Voice: ON  CID: OFF  SPK_HS: OFF  LPOHD: ON\r\n\r\nOK\r\n"},
        {"AT*RV0\r", "\r\nOK\r\n"},
        {"AT*I?\r", "\r\nOK\r\n"},
        {"AT*NC?\r", "\r\nCountry Set Index: 000\r\n\r\nOK\r\n"},
        {"AT*NC1\r", "\r\nOK\r\n"},
        {"AT*NC?\r", "\r\nCountry Set Index: 001\r\n\r\nOK\r\n"},
        {"AT*NC0\r", "\r\nOK\r\n"},
        {"AT*NC99\r", "\r\nERROR\r\n"},
        {"AT*TT99\r", "\r\nERROR\r\n"},
        {"AT*V\r", "\r\nDSP Software Version : 1.4.4.67\r\nOK\r\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Visible(Answer(s, c.line)), Visible(c.answer)) << c.line;
}

// *C= carries a header and at most 16 payload bytes; the awaited reply is printed as code, its header bytes
// and its payload.
TEST(DebugCommands, RawPacketIsBoundedAndItsReplyPrinted)
{
    DebugStack s;
    Answer(s, "AT*DEBUGON\r");
    std::string sixteen = "AT*C=0D,00,10,00";
    std::string seventeen = "AT*C=0D,00,10,00";
    for (int k = 0; k < 16; ++k)
        sixteen += ",AA";
    for (int k = 0; k < 17; ++k)
        seventeen += ",AA";
    const struct {
        std::string line;
        const char* answer;
    } cases[] = {
        {"AT*C=09,00,00\r", "\r\nERROR\r\n"},                       // fewer than four bytes
        {"AT*C=94,00,00,00\r", "\r\nCB,00,08,00,01,00,04,00,04,00,43,00\r\n\r\nOK\r\n"},
        {"AT*C=0D,00,11,00\r", "\r\nERROR\r\n"},                    // a length byte above 16
        {seventeen + "\r", "\r\nERROR\r\n"},                          // 17 payload bytes
        {sixteen + "\r", "\r\nOK\r\n"},                               // a write awaits nothing
        {"AT*C=94,00,00,00X\r", "\r\nERROR\r\n"},                   // extended syntax: nothing may follow
    };
    for (const auto& c : cases)
        EXPECT_EQ(Visible(Answer(s, c.line)), Visible(c.answer)) << c.line;
    // The sixteen-byte write went to the data pump whole; nothing longer ever did.
    const std::vector<IcdLogEntry> log = DspIcdPumpLog(Pump(s));
    bool seen = false;
    for (const IcdLogEntry& e : log) {
        EXPECT_LE(e.length, 16);
        if (e.code == 0x0D) {
            seen = true;
            EXPECT_EQ(e.length, 16);
            EXPECT_EQ(e.payload, std::vector<uint8_t>(16, 0xAA));
        }
    }
    EXPECT_TRUE(seen);
}

TEST(DebugCommands, MemoryDumpLines)
{
    DebugStack s;
    Pump(s)->memoryValue = 0x12AB;
    Answer(s, "AT*DEBUGON\r");
    EXPECT_EQ(Visible(Answer(s, "AT*SD10\r")), "\\r\\nOK\\r\\n");
    const std::string words = "12AB 0000 0000 0000 0000 0000 0000 0000 ";
    EXPECT_EQ(Visible(Answer(s, "AT*D?1F0\r")),
              Visible("\r\n000001F0:  " + words + "\r\n000001F8:  " + words + "\x1A\r\nOK\r\n"));
    EXPECT_EQ(Visible(Answer(s, "AT*P?10000\r")),
              Visible("\r\n00010000:  " + words + "\r\n00010008:  " + words + "\x1A\r\nOK\r\n"));
    EXPECT_EQ(Visible(Answer(s, "AT*D=1F0,BEEF\r")), "\\r\\nOK\\r\\n");
    const std::vector<IcdLogEntry> log = DspIcdPumpLog(Pump(s));
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().code, IcdWriteMemory);
    // Address 0x1F0 and the word, little-endian.
    EXPECT_EQ(log.back().payload[log.back().payload.size() - 2], 0xEF);
    EXPECT_EQ(log.back().payload[log.back().payload.size() - 1], 0xBE);
}

// The analog loop-back tests start the modulation's data pump directly in the analog loop, at the test's
// rate and channel, and a character ends them with the pump sent idle.
TEST(DebugCommands, LoopBackTestsStartTheAnalogLoop)
{
    const struct {
        const char* code;
        uint8_t mode;
        uint8_t rateCode;  // of the start packet: 1200 3, 2400 4, 4800 5, 9600 7, 14400 9, 33600 21
        uint8_t originate;
    } cases[] = {
        {"15", 6, 3, 1},  {"16", 6, 3, 0},  {"17", 7, 4, 1},  {"18", 7, 4, 0},  {"20", 12, 7, 1},
        {"21", 16, 9, 1}, {"60", 18, 4, 1}, {"61", 18, 5, 1}, {"6D", 18, 21, 1}, {"71", 18, 5, 1},
        {"7D", 18, 21, 1},
    };
    DebugStack s;
    Answer(s, "AT*DEBUGON\r");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        const size_t before = DspIcdPumpLog(Pump(s)).size();
        EXPECT_EQ(Visible(Answer(s, std::string("AT*TT") + c.code + "\r")), "\\r\\nOK\\r\\n");
        s.Dialogue("x", 300);
        const std::vector<IcdLogEntry> log = DspIcdPumpLog(Pump(s));
        const IcdLogEntry* start = nullptr;
        bool idle = false;
        for (size_t k = before; k < log.size(); ++k) {
            if (log[k].code == IcdStartDataPump && start == nullptr)
                start = &log[k];
            idle = idle || (start != nullptr && log[k].code == IcdGoIdle);
        }
        ASSERT_NE(start, nullptr);
        const IcdConnectionPayload p = IcdDecodeConnection(start->payload.data());
        EXPECT_EQ(p.mode, c.mode);
        EXPECT_EQ(p.rateCode, c.rateCode);
        EXPECT_EQ(p.originate, c.originate);
        EXPECT_EQ(p.procedureKind, 1);  // the analog loop
        EXPECT_TRUE(idle);
    }
    for (const char* refused : {"14", "22", "6E", "7E"})
        EXPECT_EQ(Visible(Answer(s, std::string("AT*TT") + refused + "\r")), "\\r\\nERROR\\r\\n") << refused;
}

TEST(DebugCommands, CountryDumpAndTheDownloadTrigger)
{
    DebugStack s;
    Answer(s, "AT*DEBUGON\r");
    const std::string dump = Answer(s, "AT*NCRO\r", 3000);
    EXPECT_EQ(dump.substr(0, 13), "\r\nKVZ Debug\r\n");
    EXPECT_NE(dump.find("\r\n0300"), std::string::npos) << Visible(dump.substr(0, 80));
    // 1649 bytes: 103 lines of 16 and one of 1.
    size_t lines = 0;
    for (size_t at = 0; (at = dump.find("\r\n", at)) != std::string::npos; at += 2)
        ++lines;
    EXPECT_EQ(lines, 2u + 104u + 2u);
    const std::string start = Answer(s, "AT*TD\r", 600);
    EXPECT_NE(start.find("\n\r> "), std::string::npos) << Visible(start);
    s.Send("<\r{\r:3:\r:11:1,2\r}#\r");
    const std::string end = s.Read(800);
    EXPECT_NE(end.find("voice dtmf level\n\r> end\n\r\n\rOK\n\r"), std::string::npos) << Visible(end);
    // The interpreter has the input again.
    EXPECT_EQ(Visible(Answer(s, "AT\r")), "\\r\\nOK\\r\\n");
}

FakePumpExtension* Pump(AtStack& s)
{
    return reinterpret_cast<FakePumpExtension*>(s.Acu()->dsp->link.pumpContext);
}

// ---- command sets ----

int g_voice_calls = 0;
void voice_probe(AcuContext*, uint8_t*) { ++g_voice_calls; }
const AtCommandEntry kVoiceTable[] = {
    {"+VPROBE", voice_probe, 0, AT_FLAG_EXTENDED, {}},
    {"", nullptr, 0, 0, {}},
};

TEST(CommandSets, VoiceSetAndBack)
{
    CallRig r;
    r.A()->voice_table = kVoiceTable;
    auto line = [&](const char* text) {
        r.Output();
        r.Type(text);
        r.Run(400);
        return r.Output();
    };
    EXPECT_NE(line("AT+VPROBE\r").find("ERROR"), std::string::npos);
    const uint8_t tables_before = r.A()->table_count;
    at_select_voice_commands(r.A(), 1);
    EXPECT_EQ(r.A()->voice_mode, 1);
    EXPECT_EQ(r.A()->post_line_start, 5);
    EXPECT_EQ(r.A()->table_count, tables_before - 1);
    EXPECT_NE(line("ATE0\r").find("ERROR"), std::string::npos);       // basic commands are gone
    EXPECT_NE(line("AT+VPROBE\r").find("OK"), std::string::npos);      // the voice table is searched
    EXPECT_EQ(g_voice_calls, 1);
    EXPECT_NE(line("AT+VNH?\r").find("OK"), std::string::npos);        // the common V.253 table stays
    EXPECT_NE(line("AT+GCI?\r").find("OK"), std::string::npos);
    at_select_voice_commands(r.A(), 0);
    EXPECT_EQ(r.A()->voice_mode, 0);
    EXPECT_EQ(r.A()->post_line_start, 13);
    EXPECT_EQ(r.A()->table_count, tables_before);
    EXPECT_NE(line("ATE0\r").find("OK"), std::string::npos);
    EXPECT_NE(line("ATI3\r").find("Qiv"), std::string::npos);
    EXPECT_NE(line("AT+VPROBE\r").find("ERROR"), std::string::npos);
    // Q and W are in both basic tables: the second table's still wins.
    int second = -1, first = -1;
    for (int k = 0; k < r.A()->table_count; ++k) {
        if (r.A()->tables[k] == BasicCommands2)
            second = k;
        if (r.A()->tables[k] == BasicCommands)
            first = k;
    }
    EXPECT_LT(second, first);
}

}  // namespace

// Selecting the voice set restores the voice engine's defaults and hands it the voice mark, the speaker
// volume (L), +FLO and +VCID; back in the data set the engine sees the mark cleared. +VIP restores the defaults.
TEST(CommandSets, VoiceSettingsHandedToTheEngine)
{
    CallRig r;
    auto line = [&](const char* text) {
        r.Output();
        r.Type(text);
        r.Run(400);
        return r.Output();
    };
    for (const char* command : {"ATL2\r", "AT+FLO=1\r", "AT+VCID=1\r"})
        ASSERT_NE(line(command).find("OK"), std::string::npos) << command;
    VoiceEngine& v = r.A()->voice;
    v.vra = 7;
    v.silence_duration = 9;
    v.gain_rx = 125;
    at_select_voice_commands(r.A(), 1);
    EXPECT_EQ(v.voice_mark, 1);
    EXPECT_EQ(v.speaker_bits, 2);
    EXPECT_EQ(v.flo, 1);
    EXPECT_EQ(v.vcid, 1);
    EXPECT_EQ(v.vra, 0);
    EXPECT_EQ(v.silence_duration, 50);
    EXPECT_EQ(v.gain_rx, 131);
    at_select_voice_commands(r.A(), 0);
    EXPECT_EQ(v.voice_mark, 0);
    EXPECT_EQ(v.speaker_bits, 2);
    v.tone_duration = 3;
    ASSERT_NE(line("AT+VIP\r").find("OK"), std::string::npos);
    EXPECT_EQ(v.tone_duration, 35);
    EXPECT_EQ(v.flo, 0);
    EXPECT_EQ(v.vcid, 0);
}
