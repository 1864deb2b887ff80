// The extended commands through the serial device: every "=?" text, the set/query case tables and the
// identification answers; and random extended command lines on a bare command side (no crash, every setting
// stays inside what its command accepts, a refused command changes nothing).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "acu_side.h"
#include "at_fixture.h"
#include "core_fixture.h"
#include "layer2/corecode/cmd/at_ext.h"
#include "layer2/corecode/cmd/at_parser.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/cmd/core_settings.h"
#include "layer2/corecode/cmd/country.h"
#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/dte/dte_context.h"

using attest::AtStack;
using attest::Visible;

namespace {

std::string Answer(const std::string& sent, const std::string& text)
{
    return sent + "\r\n" + text + "\r\n\r\nOK\r\n";
}

TEST(AtExtTest, RangeTextsExactly)
{
    coretest::TempRegistry reg;
    AtStack s(reg.Path());
    const char* cases[][2] = {
        {"+MS=?", "+MS: (BELL103,BELL212,V21,V22,V22B,V23C,V32,V32B,V34,V90),(0,1),(0,75-33600),(0,75-33600),"
                  "(0,75-56000),(0,75-56000)"},
        {"+ES=?", "+ES: (1-4,6),(0,2-4),(1,2,4-6,8)"},
        {"+DS=?", "+DS: (0-3),(0,1),(512-2048),(6-250)"},
        {"+DS44=?", "+DS44: (0-3),(0,1),(0),(256-65535),(256-65535),(32-255),(32-255),(512-65535),(512-65535)"},
        {"+EB=?", "+EB: (0-3),(0,1),(0-254)"},
        {"+ETBM=?", "+ETBM: (0-2),(0-2),(0-30)"},
        {"+IFC=?", "+IFC: (0-3),(0-2)"},
        {"+IPR=?", "+IPR: (0,300,600,1200,2400,4800,9600,14400,19200,38400,57600,115200)"},
        {"+ESA=?", "+ESA: (0),(0-1),(0-1),,(0),(0),(0-255),"},
        {"+A8E=?", "+A8E: (0,1,6),(0,1,5),(21,C1),(0),,"},
        {"+ITF=?", "+ITF: (614-819),(204-409),(000)"},
        {"+DR=?", "+DR: (0,1)"},
        {"+ER=?", "+ER: (0,1)"},
        {"+MR=?", "+MR: (0,1)"},
        {"+ILRR=?", "+ILRR: (0,1)"},
        {"+ESR=?", "+ESR: (0)"},
        {"+EFCS=?", "+EFCS: (0)"},
        {"+VNH=?", "0-2"},
        {"+VCID=?", "0,1,2"},
        {"+FLO=?", "(0-2)"},
        {"+VDR=?", "(0,1), (0-255)"},
        {"+MA=?", "+MA: V34, V32B, V32, V22B, V22, BELL212, V23C, V21, BELL103"},
        {"+GCAP", "+GCAP: +FCLASS,+MS,+ES,+DS"},
        {"+GMR", "Qiv Release 4.40CT1  - May 24 2002"},
        {"+GMR?", "Qiv Release 4.40CT1  - May 24 2002"},
        {"+GMI", "Morva Systems"},
        {"+GMM", "Morva(R) Qiv Data Fax Voice V.90 Modem\r\n\r\nH.324 video-ready rev. 1.0"},
        {"+GSN", "+GSN: PCI\\VEN_1FA7&DEV_0440&SUBSYS_04401FA7"},
        {"*NP?", "Hook Flash Method: 000"},
    };
    for (const auto& c : cases) {
        std::string sent = std::string("AT") + c[0] + "\r";
        EXPECT_EQ(Visible(s.Dialogue(sent)), Visible(Answer(sent, c[1]))) << c[0];
    }
}

// Each step: a line, "OK" or "ERROR", then a query and its expected answer.
struct Step {
    const char* line;
    const char* result;
    const char* query;
    const char* answer;
};

void RunSteps(AtStack& s, const Step* steps, unsigned count)
{
    for (unsigned k = 0; k < count; ++k) {
        const Step& st = steps[k];
        std::string sent = std::string(st.line) + "\r";
        EXPECT_EQ(Visible(s.Dialogue(sent)), Visible(sent + "\r\n" + st.result + "\r\n")) << st.line;
        std::string q = std::string(st.query) + "\r";
        EXPECT_EQ(Visible(s.Dialogue(q)), Visible(Answer(q, st.answer))) << st.line << " then " << st.query;
    }
}

TEST(AtExtTest, ModulationAndList)
{
    coretest::TempRegistry reg;
    AtStack s(reg.Path());
    const Step steps[] = {
        {"AT", "OK", "AT+MS?", "+MS: V90,1,0,0,0,0"},
        {"AT+MS=V3", "OK", "AT+MS?", "+MS: V32,1,0,0"},              // first row starting "V3"
        {"AT+MS=V34,1,0,0", "OK", "AT+MS?", "+MS: V34,1,0,0"},
        {"AT+MS=V32,1,7200,7200", "ERROR", "AT+MS?", "+MS: V34,1,0,0"},  // 7200 is no V32 maximum
        {"AT+MS=V32,1,4800,9600", "OK", "AT+MS?", "+MS: V32,1,4800,9600"},
        {"AT+MS=V32,1,9600,4800", "ERROR", "AT+MS?", "+MS: V32,1,4800,9600"},  // maximum below minimum
        {"AT+MS=V32,1,4800,14400", "ERROR", "AT+MS?", "+MS: V32,1,4800,9600"},
        {"AT+MS=V32,1,4801", "ERROR", "AT+MS?", "+MS: V32,1,4800,9600"},
        {"AT+MS=V32,2", "ERROR", "AT+MS?", "+MS: V32,1,4800,9600"},
        {"AT+MS=V32,1,48a0", "ERROR", "AT+MS?", "+MS: V32,1,4800,9600"},
        {"AT+MS=V32B1234", "ERROR", "AT+MS?", "+MS: V32,1,4800,9600"},   // eight characters
        {"AT+MS=X25", "ERROR", "AT+MS?", "+MS: V32,1,4800,9600"},
        {"AT+MS=V32,1,4800,9600,0,0,1", "ERROR", "AT+MS?", "+MS: V32,1,4800,9600"},  // seventh field
        {"AT+MS=,0", "OK", "AT+MS?", "+MS: V32,0,4800,9600"},        // empty name keeps the row
        {"AT", "OK", "AT+MA=?", "+MA: "},                            // automode off: nothing below
        {"AT", "OK", "AT+MA?", "+MA: V32"},
        {"AT+MS=v90,1,0,0,28000,57333", "OK", "AT+MS?", "+MS: V90,1,0,0,28000,57333"},
        {"AT+MS=V90,1,0,0,75,56000", "OK", "AT+MS?", "+MS: V90,1,0,0,75,56000"},
        {"AT+MS=V90,1,0,0,0,1200", "ERROR", "AT+MS?", "+MS: V90,1,0,0,75,56000"},  // below the row's receive range
        {"AT+MS=V23C,1,75,1200,75,300", "ERROR", "AT+MS?", "+MS: V90,1,0,0,75,56000"},
        {"AT+MS=V23C,1,75,1200,75,1200", "OK", "AT+MS?", "+MS: V23C,1,75,1200,75,1200"},
        {"AT+MS=V34,1,9600,0,0,0", "OK", "AT+MA=?", "+MA: V32B, V32"},  // rows reaching 9600
        {"AT+MA=V32B,V32", "OK", "AT+MA?", "+MA: V34, V32B, V32"},
        {"AT+MA=V22", "ERROR", "AT+MA?", "+MA: V34, V32B, V32"},     // cannot carry 9600
        {"AT+MA=V90", "ERROR", "AT+MA?", "+MA: V34, V32B, V32"},     // not below V34
        {"AT+MA=V32,,V32B", "ERROR", "AT+MA?", "+MA: V34, V32B, V32"},
        {"AT+MA=V32", "OK", "AT+MA?", "+MA: V34, V32"},
    };
    RunSteps(s, steps, sizeof steps / sizeof steps[0]);
}

TEST(AtExtTest, ListSettings)
{
    coretest::TempRegistry reg;
    AtStack s(reg.Path());
    const Step steps[] = {
        {"AT", "OK", "AT+ES?", "+ES: 003,000,002"},
        {"AT+ES=6,,8", "OK", "AT+ES?", "+ES: 006,000,008"},
        {"AT+ES=5", "ERROR", "AT+ES?", "+ES: 006,000,008"},
        {"AT+ES=1,1", "ERROR", "AT+ES?", "+ES: 006,000,008"},
        {"AT+ES=1,0,3", "ERROR", "AT+ES?", "+ES: 006,000,008"},
        {"AT+ES=4,4,4,4", "ERROR", "AT+ES?", "+ES: 006,000,008"},
        {"AT+ES=4,4,4", "OK", "AT+ES?", "+ES: 004,004,004"},
        {"AT", "OK", "AT+DS?", "+DS: 003,000,2048,032"},
        {"AT+DS=,,511", "ERROR", "AT+DS?", "+DS: 003,000,2048,032"},
        {"AT+DS=,,2049", "ERROR", "AT+DS?", "+DS: 003,000,2048,032"},
        {"AT+DS=0,1,512,5", "ERROR", "AT+DS?", "+DS: 003,000,2048,032"},
        {"AT+DS=0,1,512,6", "OK", "AT+DS?", "+DS: 000,001,512,006"},
        {"AT+DS=4", "ERROR", "AT+DS?", "+DS: 000,001,512,006"},
        {"AT&F", "OK", "AT+EB?", "+EB: 001,000,030"},
        {"AT+EB=1", "OK", "AT+EB?", "+EB: 001,000,030"},
        {"AT+EB=3,1,254", "OK", "AT+EB?", "+EB: 003,001,254"},
        {"AT+EB=2,1,255", "ERROR", "AT+EB?", "+EB: 003,001,254"},
        {"AT+EB=4", "ERROR", "AT+EB?", "+EB: 003,001,254"},
        {"AT+EB=0,2", "ERROR", "AT+EB?", "+EB: 003,001,254"},
        {"AT+EB=0", "OK", "AT+EB?", "+EB: 000,001,254"},
        {"AT", "OK", "AT+ETBM?", "+ETBM: 000,000,020"},
        {"AT+ETBM=2,1,30", "OK", "AT+ETBM?", "+ETBM: 002,001,030"},
        {"AT+ETBM=,,31", "ERROR", "AT+ETBM?", "+ETBM: 002,001,030"},
        {"AT", "OK", "AT+IFC?", "+IFC: 002,002"},
        {"AT+IFC=3,1", "OK", "AT+IFC?", "+IFC: 003,001"},
        {"AT+IFC=4", "ERROR", "AT+IFC?", "+IFC: 003,001"},
        {"AT+IFC=,3", "ERROR", "AT+IFC?", "+IFC: 003,001"},
        {"AT&F", "OK", "AT+ITF?", "+ITF: 320,192,000"},
        {"AT+ITF=700,300,0", "OK", "AT+ITF?", "+ITF: 700,300,000"},
        {"AT+ITF=613", "ERROR", "AT+ITF?", "+ITF: 700,300,000"},
        {"AT+ITF=,410", "ERROR", "AT+ITF?", "+ITF: 700,300,000"},
        {"AT+ITF=700,300,1", "ERROR", "AT+ITF?", "+ITF: 700,300,000"},
        {"AT+ITF=700,300,0,0", "ERROR", "AT+ITF?", "+ITF: 700,300,000"},
        {"AT+ITF=614,409", "OK", "AT+ITF?", "+ITF: 614,409,000"},
        {"AT", "OK", "AT+A8E?", "+A8E: 001,001,C1,000,,"},
        {"AT+A8E=6,5,21,0", "OK", "AT+A8E?", "+A8E: 006,005,21,000,,"},
        {"AT+A8E=2", "ERROR", "AT+A8E?", "+A8E: 006,005,21,000,,"},
        {"AT+A8E=,,22", "ERROR", "AT+A8E?", "+A8E: 006,005,21,000,,"},
        {"AT+A8E=,,,1", "ERROR", "AT+A8E?", "+A8E: 006,005,21,000,,"},
        {"AT+A8E=,,,,1", "ERROR", "AT+A8E?", "+A8E: 006,005,21,000,,"},
        {"AT+A8E=0,,,,,,7", "OK", "AT+A8E?", "+A8E: 000,005,21,000,,"},  // later positions ignored
        {"AT+A8E=,1", "OK", "AT+A8E?", "+A8E: 000,001,C1,000,,"},        // answer 0/1 resets the call function
        {"AT", "OK", "AT+ESA?", "+ESA: 000,000,001,,000,000,126,"},
        {"AT+ESA=0,1,0,,0,0,5,6", "OK", "AT+ESA?", "+ESA: 000,001,000,,000,000,005,"},
        {"AT+ESA=,,,1", "ERROR", "AT+ESA?", "+ESA: 000,001,000,,000,000,005,"},
        {"AT+ESA=1", "ERROR", "AT+ESA?", "+ESA: 000,001,000,,000,000,005,"},
        {"AT+VDR=1,20", "OK", "AT+VDR?", "001,020"},
        {"AT+VDR=2,30", "ERROR", "AT+VDR?", "001,020"},
        {"AT+VDR=", "OK", "AT+VDR?", "000,000"},
        {"AT+VCID=2", "OK", "AT+VCID?", "002"},
        {"AT+VCID=3", "ERROR", "AT+VCID?", "002"},
        {"AT+DR=1;+ER=1", "OK", "AT+ER?", "+ER: 001"},
        {"AT+EFCS=1", "ERROR", "AT+EFCS?", "+EFCS: 000"},
        {"AT+ESR=2", "OK", "AT+ESR?", "+ESR: 002"},
        {"AT*NP2", "OK", "AT*NP?", "Hook Flash Method: 002"},
        {"AT*NP3", "ERROR", "AT*NP?", "Hook Flash Method: 002"},
    };
    RunSteps(s, steps, sizeof steps / sizeof steps[0]);
    // +A8E=…,21 set -C to 2.
    EXPECT_EQ(s.Acu()->set.dash_c, 2);
    // &F brings the factory extended settings back.
    EXPECT_EQ(Visible(s.Dialogue("AT&F\r")), Visible("AT&F\r\r\nOK\r\n"));
    EXPECT_EQ(Visible(s.Dialogue("AT+EB?;+ES?\r")),
              Visible("AT+EB?;+ES?\r\r\n+EB: 001,000,030\r\n\r\n+ES: 003,000,002\r\n\r\nOK\r\n"));
}

TEST(AtExtTest, RateAndCountry)
{
    coretest::TempRegistry reg;
    AtStack s(reg.Path());
    EXPECT_EQ(Visible(s.Dialogue("AT+IPR=7200\r")), Visible("AT+IPR=7200\r\r\nERROR\r\n"));
    EXPECT_EQ(Visible(s.Dialogue("AT+IPR=115201\r")), Visible("AT+IPR=115201\r\r\nERROR\r\n"));
    EXPECT_EQ(Visible(s.Dialogue("AT+IPR=0\r")), Visible("AT+IPR=0\r\r\nOK\r\n"));
    EXPECT_EQ(Visible(s.Dialogue("AT+IPR=115200;+IPR?\r")), Visible("AT+IPR=115200;+IPR?\r\r\n+IPR: 115200\r\nOK\r\n"));
    // +GCI: the list's codes, selection by code, an unknown code refused.
    const CoreSettings* st = s.Acu()->settings;
    ASSERT_GE(country_list_count(st->list), 2u);
    CountryListEntry second;
    ASSERT_TRUE(country_list_entry(st->list, 1, &second));
    char code[8];
    std::snprintf(code, sizeof code, "%02X", second.t35);
    std::string range = s.Dialogue("AT+GCI=?\r");
    EXPECT_EQ(range.find("AT+GCI=?\r\r\n+GCI: ("), 0u) << Visible(range);
    EXPECT_NE(range.find(std::string(",") + code), std::string::npos) << Visible(range);
    std::string sent = std::string("AT+GCI=") + code + "\r";
    EXPECT_EQ(Visible(s.Dialogue(sent)), Visible(sent + "\r\nOK\r\n"));
    EXPECT_EQ(Visible(s.Dialogue("AT+GCI?\r")), Visible(Answer("AT+GCI?\r", std::string("+GCI: ") + code)));
    bool unknown_found = false;
    for (unsigned t = 1; t < 256 && !unknown_found; ++t) {
        if (country_find_t35(st, static_cast<uint8_t>(t)) >= 0)
            continue;
        unknown_found = true;
        std::snprintf(code, sizeof code, "%02X", t);
        sent = std::string("AT+GCI=") + code + "\r";
        EXPECT_EQ(Visible(s.Dialogue(sent)), Visible(sent + "\r\nERROR\r\n"));
    }
    EXPECT_EQ(Visible(s.Dialogue("AT+GCI=123\r")), Visible("AT+GCI=123\r\r\nERROR\r\n"));
}

// ---- random extended lines on a bare command side ----

struct Side : attest::AcuSide {
    Side() : attest::AcuSide(true) {}
};

bool OneOf(uint32_t v, std::initializer_list<uint32_t> set)
{
    for (uint32_t x : set)
        if (x == v)
            return true;
    return false;
}

// Every extended setting inside what its command accepts (or its factory value).
std::string Violation(const AcuContext* a, const DteContext* d)
{
    const AtSettings& s = a->set;
    const AtExtSettings& e = a->ext;
    if (s.dr > 1 || s.er > 1 || s.mr > 1 || s.ilrr > 1 || e.esr > 2 || e.efcs != 0)
        return "report options";
    if (s.break_type > 3 || s.break_timed > 1 || s.break_length > 254)
        return "+EB";
    if (e.etbm[0] > 2 || e.etbm[1] > 2 || e.etbm[2] > 3000 || e.etbm[2] % 100 != 0)
        return "+ETBM";
    if (s.ifc[0] > 3 || s.ifc[1] > 2)
        return "+IFC";
    if (!OneOf(s.es[0], {1, 2, 3, 4, 6}) || !OneOf(s.es[1], {0, 2, 3, 4}) || !OneOf(s.es[2], {1, 2, 4, 5, 6, 8}))
        return "+ES";
    if (s.ds[0] > 3 || s.ds[1] > 1 || s.ds[2] < 512 || s.ds[2] > 2048 || s.ds[3] < 6 || s.ds[3] > 250)
        return "+DS";
    if (e.ms_row >= MS_ROWS || e.ms_automode > 1)
        return "+MS row";
    const MsModulationRow& row = MsModulation[e.ms_row];
    if (e.ms_rate[0] > row.tx_max || (e.ms_rate[1] != 0 && (e.ms_rate[1] < e.ms_rate[0] || e.ms_rate[1] > row.tx_max ||
                                                             e.ms_rate[1] < row.tx_min)))
        return "+MS rates";
    if (e.vnh > 2 || e.vcid > 2 || e.flo > 2 || e.vdr[0] > 1)
        return "V.253";
    if (e.esa[0] != 0 || e.esa[1] > 1 || e.esa[2] > 1 || e.esa[3] != 0 || e.esa[4] != 0 || e.esa[5] != 0)
        return "+ESA";
    if (!OneOf(e.a8e[0], {0, 1, 6}) || !OneOf(e.a8e[1], {0, 1, 5}) || !OneOf(e.a8e[2], {0x21, 0xC1}) || e.a8e[3] != 0)
        return "+A8E";
    const uint16_t off = d->flow.flow_off_mark;
    const uint16_t on = d->flow.flow_on_mark;
    if (!((off == 320 && on == 192) || (off >= 614 && off <= 819 && on >= 192 && on <= 409 && on < off)))
        return "+ITF";
    if (!OneOf(s.dte_rate, {300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 57600, 115200}))
        return "+IPR";
    return "";
}

TEST(AtExtTest, RandomExtendedLines)
{
    Side side;
    AcuContext* a = side.acu.get();
    std::mt19937 rng(91);
    static const char* const kNames[] = {
        "+DR",  "+ER",   "+MR",  "+ILRR", "+ESR", "+EFCS", "+EB",  "+ETBM", "+IFC", "+IPR", "+GCI", "+MA",
        "+MS",  "+DS",   "+ES",  "+DS44", "+VNH", "+VCID", "+VDR", "+FLO",  "+ESA", "+ITF", "+A8E", "*NP",
        "+A8M", "+GCAP", "+GSN", "+GMI",  "+GMM", "+GMR",  "+VIP", "&Z",    "&V",   "&W",   "&Y",   "S7"};
    static const char* const kPieces[] = {"0",   "1",     "2",    "3",    "5",     "6",    "8",    "21",  "C1",
                                          "255", "256",   "511",  "2048", "65536", "7200", "9600", "V3",  "V90",
                                          "v32", "V32B1", "BELL", ",",    ",",     ",",    ";",    "?",   "=",
                                          "A",   "-",     "\"",   "99999999999", "33600", "28000", "4800"};
#ifdef MODEM_UNDER_SANITIZER
    const int kLines = 800;
#else
    const int kLines = 4000;
#endif
    for (int n = 0; n < kLines; ++n) {
        std::string text = kNames[rng() % (sizeof kNames / sizeof kNames[0])];
        const unsigned form = rng() % 4;
        text += form == 0 ? "=" : form == 1 ? "?" : form == 2 ? "=?" : "";
        const unsigned pieces = rng() % 12;
        for (unsigned k = 0; k < pieces && text.size() < AT_LINE_MAX; ++k)
            text += kPieces[rng() % (sizeof kPieces / sizeof kPieces[0])];
        if (text.size() > AT_LINE_MAX)
            text.resize(AT_LINE_MAX);
        const AtSettings set_before = a->set;
        const AtExtSettings ext_before = a->ext;
        const uint16_t flow_before[2] = {side.dte->flow.flow_off_mark, side.dte->flow.flow_on_mark};
        std::strcpy(a->line, text.c_str());
        a->command_error = 0;
        at_begin_line(a, a->line);
        int steps = 0;
        bool failed = false;
        for (;;) {
            int r = at_execute_step(a);
            dte_cmd_out_clear(side.dte.get());
            a->collector = 0;
            ASSERT_LT(++steps, 100) << text;
            if (r != 0 || a->command_error) {
                failed = r == 1 || a->command_error;
                break;
            }
        }
        EventQueueInit(&a->queue);
        const std::string why = Violation(a, side.dte.get());
        ASSERT_EQ(why, "") << text;
        // A line whose first command was refused changes nothing.
        if (failed && steps == 1) {
            EXPECT_EQ(std::memcmp(&set_before, &a->set, sizeof set_before), 0) << text;
            EXPECT_EQ(std::memcmp(&ext_before, &a->ext, sizeof ext_before), 0) << text;
            EXPECT_EQ(flow_before[0], side.dte->flow.flow_off_mark) << text;
            EXPECT_EQ(flow_before[1], side.dte->flow.flow_on_mark) << text;
        }
        a->sreg[3] = 13;
    }
}

TEST(AtExtTest, V8IndicationsFollowTheA8eOptions)
{
    Side side;
    AcuContext* a = side.acu.get();
    DteContext* d = side.dte.get();
    auto take = [d] {
        std::string out;
        while (dte_cmd_out_pending(d) != 0)
            out += static_cast<char>(ring_get(&d->cmd_out));
        return out;
    };
    const uint8_t byte[1] = {0xC1};
    const uint8_t menu[4] = {0xE0, 0x13, 0x45, 0};
    struct Case {
        uint8_t origination, answer;
        uint8_t kind;
        bool answering;
        const uint8_t* data;
        const char* printed;
    };
    const Case cases[] = {
        {1, 5, A8_I, true, byte, "\r\n+A8I: C1\r\n"},
        {1, 5, A8_C, true, byte, "\r\n+A8C: 193\r\n"},
        {1, 1, A8_I, true, byte, ""},
        {6, 1, A8_A, false, byte, "\r\n+A8A: C1\r\n"},
        {1, 1, A8_A, false, byte, ""},
        {1, 5, A8_M, true, menu, "\r\n+A8M: E01345\r\n"},
        {6, 1, A8_M, true, menu, ""},
        {6, 1, A8_M, false, menu, "\r\n+A8M: E01345\r\n"},
        {6, 1, A8_J, false, byte, "\r\n+A8J: 193\r\n"},
        {1, 1, A8_J, false, byte, ""},
    };
    for (const Case& c : cases) {
        a->ext.a8e[0] = c.origination;
        a->ext.a8e[1] = c.answer;
        a->ext.a8j_mark = 0;
        take();
        at_report_a8(a, c.kind, c.data, c.answering);
        EXPECT_EQ(Visible(take()), Visible(c.printed)) << int(c.kind) << " " << int(c.origination) << int(c.answer);
        if (c.kind == A8_J) {
            EXPECT_EQ(a->ext.a8j_mark, 1) << "+A8J marks V.8 even when it is not printed";
        }
    }
    // Numeric results print nothing.
    a->sreg[14] &= static_cast<uint8_t>(~0x08);
    a->ext.a8e[1] = 5;
    at_report_a8(a, A8_I, byte, true);
    EXPECT_EQ(take(), "");
}

}  // namespace
