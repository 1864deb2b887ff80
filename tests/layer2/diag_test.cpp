// The diagnostic record: "#UD" after start-up, after the commands that set the termination cause and after a
// connection; the "DIAG" line format; the level helper against 10 log10(x) and the figures computed with it;
// the "I34" screen; the identification answers I99 and I201-I210.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "at_fixture.h"
#include "call_fixture.h"
#include "layer2/corecode/cmd/at_output.h"
#include "layer2/corecode/cmd/diag_record.h"
#include "layer2/corecode/cmd/conn_state.h"
#include "layer2/corecode/mt/dsp_router.h"
#include "window/icd_codes.h"
#include "window/parameter_ids.h"

using attest::AtStack;
using attest::Visible;
using calltest::CallRig;

namespace {

const char kStartUpDiag[] =
    "\r\n"
    "DIAG <2A4D3263 00 = 10>\r\n"
    "DIAG <2A4D3263 01 = 00>\r\n"
    "DIAG <2A4D3263 02 = 00>\r\n"
    "DIAG <2A4D3263 03 = 00>\r\n"
    "DIAG <2A4D3263 50 = 02>\r\n"
    "DIAG <2A4D3263 51 = 02>\r\n"
    "DIAG <2A4D3263 60 = 01>\r\n"
    "DIAG <2A4D3263 FF = Morva>\r\n"
    "\r\nOK\r\n";

TEST(DiagRecord, UnimodemLinesAfterStartUp)
{
    AtStack s("");
    std::string expected = kStartUpDiag;
    expected.insert(0, "AT#UD\r");
    EXPECT_EQ(Visible(s.Dialogue("AT#UD\r")), Visible(expected));
}

// Key 60 records why the last call ended: the commands that set it, each after a fresh reset.
TEST(DiagRecord, TerminationCauseByCommand)
{
    const struct {
        std::vector<const char*> lines;
        const char* key60;
    } cases[] = {
        {{"ATZ\r"}, "52"},              // reset
        {{"ATH0\r"}, "51"},             // hang-up
        {{"ATDS2\r"}, "28"},            // a stored number that is empty
        {{"ATH0\r", "AT&F\r"}, "01"},   // factory values start a new record
        {{"ATZ\r", "ATH\r"}, "51"},
    };
    for (const auto& c : cases) {
        AtStack s("");
        for (const char* line : c.lines)
            s.Dialogue(line, 1500);
        const std::string out = s.Dialogue("AT#UD\r");
        EXPECT_NE(out.find(std::string("DIAG <2A4D3263 60 = ") + c.key60 + ">\r\n"), std::string::npos)
            << c.lines.back() << Visible(out);
    }
}

TEST(DiagRecord, LineFormatByKind)
{
    CallRig r;
    const struct {
        uint8_t kind, key;
        uint32_t value;
        const char* text;
        const char* line;
    } cases[] = {
        {2, 0x0A, 0xAB, nullptr, "DIAG <2A4D3263 0A = AB>\r\n"},
        {2, 0x10, 0x1234, nullptr, "DIAG <2A4D3263 10 = 34>\r\n"},
        {3, 0x22, 0x0D65, nullptr, "DIAG <2A4D3263 22 = 0D65>\r\n"},
        {4, 0x18, 0x00C0FFEE, nullptr, "DIAG <2A4D3263 18 = 00C0FFEE>\r\n"},
        {1, 0xFF, 0, "Morva", "DIAG <2A4D3263 FF = Morva>\r\n"},
    };
    for (const auto& c : cases) {
        r.Output();
        at_diag_line(r.A(), c.kind, c.key, c.value, c.text);
        EXPECT_EQ(Visible(r.Output()), Visible(c.line));
    }
}

// After a V.22bis call at 2400 bit/s that the far end ends, the record shows the connection's entries.
TEST(DiagRecord, UnimodemLinesAfterAConnection)
{
    CallRig r;
    r.A()->sreg[22] &= static_cast<uint8_t>(~0x10);  // blind dialling
    r.pump->modeByte = 7;
    r.pump->rateByte = 4;
    r.Type("ATD5\r");
    for (int t = 0; t < 5000 && r.IcdCount(IcdStartConnection) == 0; t += 10)
        r.Run(10);
    r.PumpState(2);
    r.Run(300);
    ASSERT_EQ(r.A()->call_state, CALL_ONLINE);
    r.PumpState(0);
    r.Run(1500);
    r.Output();
    r.Type("AT#UD\r");
    r.Run(500);
    const std::string out = r.Output();
    const char* expected[] = {
        "DIAG <2A4D3263 00 = 10>", "DIAG <2A4D3263 10 = 00>", "DIAG <2A4D3263 12 = 07>",
        "DIAG <2A4D3263 13 = 07>", "DIAG <2A4D3263 17 = 0000>", "DIAG <2A4D3263 18 = 00000000>",
        "DIAG <2A4D3263 26 = 0960>", "DIAG <2A4D3263 27 = 0960>", "DIAG <2A4D3263 34 = 0960>",
        "DIAG <2A4D3263 35 = 0960>", "DIAG <2A4D3263 40 = 00>", "DIAG <2A4D3263 52 = 00000000>",
        "DIAG <2A4D3263 60 = 01>", "DIAG <2A4D3263 FF = Morva>",
    };
    for (const char* line : expected)
        EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << Visible(out);
    // Without error control the data-link entries stay silent.
    EXPECT_EQ(out.find("DIAG <2A4D3263 41"), std::string::npos) << Visible(out);
    EXPECT_EQ(out.find("DIAG <2A4D3263 45"), std::string::npos) << Visible(out);
    // The entries come in key order.
    EXPECT_LT(out.find(" 12 = "), out.find(" 26 = "));
    EXPECT_LT(out.find(" 35 = "), out.find(" 60 = "));
}

TEST(DiagRecord, ErrorControlShowsTheDataLinkEntries)
{
    CallRig r;
    at_diag_set_protocol(r.A(), 6, 1);  // LAPM with compression
    EXPECT_EQ(at_diag_get(r.A(), DIAG_EC_PROTOCOL), 1u);
    EXPECT_EQ(at_diag_get(r.A(), DIAG_COMPRESSION), 1u);
    r.A()->diag.status |= kDiagStatusConnected;
    r.Output();
    BuildUnimodemDiagnostic(r.A());
    const std::string out = r.Output();
    EXPECT_NE(out.find("DIAG <2A4D3263 45 = 0800>"), std::string::npos) << Visible(out);
    EXPECT_NE(out.find("DIAG <2A4D3263 58 = 0002>"), std::string::npos) << Visible(out);
    EXPECT_NE(out.find("DIAG <2A4D3263 59 = 0002>"), std::string::npos) << Visible(out);
    at_diag_set_protocol(r.A(), 3, 0);  // MNP without compression
    EXPECT_EQ(at_diag_get(r.A(), DIAG_EC_PROTOCOL), 128u);
    EXPECT_EQ(at_diag_get(r.A(), DIAG_COMPRESSION), 0u);
    at_diag_set_protocol(r.A(), 5, 1);  // none
    EXPECT_EQ(at_diag_get(r.A(), DIAG_EC_PROTOCOL), 0u);
    EXPECT_EQ(r.A()->diag.status & kDiagStatusErrorControl, 0u);
}

// The helper against 10 log10(x) x 256: powers of two come out exactly as the truncated product, every other
// value within two units (the squaring keeps eleven bits of the logarithm).
TEST(DiagLevels, Db256AgainstItsFormula)
{
    EXPECT_EQ(at_db256(0), 0);
    EXPECT_EQ(at_db256(1), 0);
    EXPECT_EQ(at_db256(1024), 7706);
    for (uint32_t e = 0; e < 32; ++e)
        EXPECT_EQ(at_db256(1u << e), static_cast<int32_t>((uint64_t{e} * 2048u * 49321u) >> 17)) << e;
    uint32_t x = 3;
    for (int i = 0; i < 4000; ++i) {
        const double exact = 2560.0 * std::log10(static_cast<double>(x));
        EXPECT_NEAR(at_db256(x), exact, 2.0) << x;
        x = x * 1103515245u + 12345u;
        if (x == 0)
            x = 7;
    }
    EXPECT_NEAR(at_db256(0xFFFFFFFFu), 2560.0 * std::log10(4294967295.0), 2.0);
}

TEST(DiagLevels, FiguresFromTheReadings)
{
    const uint32_t p = 1u << 20;  // 80 x ... : at_db256 = 15412 exactly
    ASSERT_EQ(at_db256(p), 15412);
    EXPECT_EQ(diag_tx_level(p), (25544 - 2 * 15412) >> 8);
    EXPECT_EQ(diag_tx_level(p), -21);  // arithmetic shift: rounds towards minus infinity
    EXPECT_EQ(diag_near_echo_loss(p, 1024), (2 * 15412 - 7706 - 3659 + 128) >> 8);
    EXPECT_EQ(diag_round_trip_delay(96), 96 * 6827 / 65536);
    EXPECT_EQ(diag_round_trip_delay(65535), static_cast<int32_t>(65535u * 6827u / 65536u));
    EXPECT_EQ(diag_v34_snr(p, 1024), 2 * 15412 - 7706 - 2436);
    EXPECT_EQ(diag_v90_rx_level(-10, 1024), (256 * -10 - 7706 + 14055) >> 8);
    EXPECT_EQ(diag_v90_snr(128, 1024), at_db256(1024) - at_db256(1024) + 1);
    EXPECT_EQ(diag_v90_snr(0xFFFFFFFFu, 1), at_db256(0xFFFFFFFFu) + 1);  // 8 x power saturates, never wraps
}

TEST(DiagLevels, SymbolRatesAndCarriers)
{
    const struct {
        uint8_t index;
        uint16_t baud, low, high;
    } cases[] = {{0, 2400, 1600, 1800}, {1, 2743, 1646, 1829}, {2, 2800, 1680, 1867},
                 {3, 3000, 1800, 2000}, {4, 3200, 1829, 1920}, {5, 3429, 1959, 1959}, {6, 0, 0, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(diag_symbol_rate(c.index), c.baud);
        EXPECT_EQ(diag_carrier(c.index, false), c.low);
        EXPECT_EQ(diag_carrier(c.index, true), c.high);
    }
}

TEST(DiagScreen, LinkScreenLayout)
{
    CallRig r;
    AcuContext* a = r.A();
    a->diag.tx_symbol_index = 5;
    a->diag.rx_symbol_index = 4;
    a->diag.rx_carrier_high = 1;
    at_diag_set_protocol(a, 5, 0);
    at_diag_set(a, DIAG_TX_START_RATE, 33600);
    at_diag_set(a, DIAG_RX_START_RATE, 31200);
    at_diag_set(a, DIAG_TX_FINAL_RATE, 28800);
    at_diag_set(a, DIAG_RX_FINAL_RATE, 26400);
    at_diag_set(a, DIAG_TX_LEVEL, 11);
    at_diag_set(a, DIAG_RX_LEVEL, 23);
    at_diag_set(a, DIAG_DELAY, 42);
    at_diag_set(a, DIAG_NEAR_ECHO, 30);
    at_diag_set(a, DIAG_FAR_ECHO, 0);
    a->diag.link.tx_option = 0x0400 | 0x2000;  // 32 states, nonlinear coding, minimum constellation
    a->diag.link.rx_option = 0x0C00 | 0x4000;  // code 3 prints 0; expanded constellation
    a->diag.link.tx_snr = 12000;
    a->diag.link.rx_snr = 38 * 256 + 100;
    a->diag.link.offset = 3000;
    a->diag.link.frequency = 9;
    a->diag.link.timing_offset = 1090;
    a->diag.link.timing = 15180;
    r.Output();
    // The screen alone: without a data pump its four reads keep the record's values.
    DspDevice* dsp = a->dsp;
    a->dsp = nullptr;
    ShowLinkDiagnostic(a);
    a->dsp = dsp;
    const std::string expected =
        "\r\nMorva Software Modem Physycal Link Diagnostic\r\n\r\n"
        "Modulation  V34       :    TX/P2       RX/P4\r\n"
        "Baud rate, baud       :    3429          3200\r\n"
        "Carrier, Hz           :    1959          1920\r\n"
        "Start bit rate, bps   :    33600         31200\r\n"
        "Final bit rate, bps   :    28800         26400\r\n"
        "Trellis codec         :    32            0\r\n"
        "Nonlinear codec       :    YES           NO \r\n"
        "Constellation type    :    Min           Exp\r\n"
        "Signal level, -dBm    :    11            23\r\n"
        "SNR, -dBm             :    35            38\r\n"
        "Frequency offset,.01Hz:    0001         8000\r\n"
        "Timing offset, ppm    :    0010         0010\r\n"
        "Round trip delay, ms  :    42\r\n"
        "Near echo loss, -dBm  :    30\r\n"
        "Far echo loss, -dBm   :    0\r\n";
    EXPECT_EQ(Visible(r.Output()), Visible(expected));
}

// The memory reads a test's stand-in pump answered, by address.
std::vector<uint32_t> MemoryReads(CallRig& r)
{
    std::vector<uint32_t> out;
    for (const IcdLogEntry& e : DspIcdPumpLog(r.pump.get()))
        if (e.code == IcdReadMemory && e.payload.size() >= 2)
            out.push_back(e.payload[0] | (e.payload[1] << 8));
    return out;
}

// "I34" reads the transmit and receive option words and the two offsets itself: every read answers 0x2400
// (32 states, nonlinear coding, minimum constellation; offsets of 9216).
TEST(DiagScreen, LinkScreenReadsItsFourValues)
{
    CallRig r;
    AcuContext* a = r.A();
    r.Output();
    DspIcdPumpInit(r.pump.get(), r.pump->notify, r.pump->notifyArg);
    r.pump->memoryValue = 0x2400;
    ShowLinkDiagnostic(a);
    const std::string out = r.Output();
    for (const char* line : {"Trellis codec         :    32            32\r\n",
                             "Nonlinear codec       :    YES           YES\r\n",
                             "Constellation type    :    Min           Min\r\n",
                             "Frequency offset,.01Hz:    0004", "Timing offset, ppm    :    0084"})
        EXPECT_NE(out.find(line), std::string::npos) << line << Visible(out);
    EXPECT_EQ(MemoryReads(r), (std::vector<uint32_t>{kMemStatTxOptions, kMemStatRxOptions, kMemStatFarOffset,
                                                     kMemStatTimingOffset}));
}

// The statistics chain by modulation: V.22bis reads the six line statistics; V.34 and V.90 go on through
// the receivers' readings and the rate indexes and option words, and take their own formulas. Every read
// answers 69 (0x45: transmit symbol-rate index 5, receive index 4, both low carriers).
TEST(DiagStatistics, ChainAndFormulasByModulation)
{
    const int32_t db69 = at_db256(69);
    struct Case {
        uint8_t modulation;
        size_t reads;
        uint32_t rxLevel;
        int32_t snr;
    };
    const Case cases[] = {
        {MOD_V22BIS, 6, static_cast<uint32_t>(diag_tx_level(69)), 0},
        {MOD_V34, 15, 69 - 5, db69 - 2436},
        {MOD_V90, 15, static_cast<uint32_t>((256 * 69 - db69 + 14055) >> 8), at_db256(8 * 69) - db69 + 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.modulation));
        CallRig r;
        AcuContext* a = r.A();
        DspIcdPumpInit(r.pump.get(), r.pump->notify, r.pump->notifyArg);
        r.pump->memoryValue = 69;
        a->conn.modulation = c.modulation;
        a->conn.pump_state = 2;
        a->diag.statistics_on = 1;
        for (size_t k = 0; k < c.reads; ++k)
            at_diag_statistics(a);
        const std::vector<uint32_t> reads = MemoryReads(r);
        ASSERT_EQ(reads.size(), c.reads);
        EXPECT_EQ(reads[0], kMemStatTxLevel);
        EXPECT_EQ(a->diag.read_step, 0) << "the chain starts again";
        EXPECT_EQ(at_diag_get(a, DIAG_RX_LEVEL), c.rxLevel);
        EXPECT_EQ(at_diag_get(a, DIAG_TX_LEVEL), static_cast<uint32_t>(diag_tx_level(69)));
        EXPECT_EQ(a->diag.link.rx_snr, c.snr);
        if (c.modulation == MOD_V22BIS)
            continue;
        EXPECT_EQ(reads.back(), kMemStatRxOptions);
        EXPECT_EQ(at_diag_get(a, DIAG_FAR_ECHO), c.modulation == MOD_V90 ? 0u : at_diag_get(a, DIAG_NEAR_ECHO));
        EXPECT_EQ(at_diag_get(a, DIAG_TX_SYMBOL_RATE), 3429u);
        EXPECT_EQ(at_diag_get(a, DIAG_RX_SYMBOL_RATE), 3200u);
        EXPECT_EQ(at_diag_get(a, DIAG_TX_CARRIER), 1959u);
        EXPECT_EQ(at_diag_get(a, DIAG_RX_CARRIER), 1829u);
        EXPECT_EQ(at_diag_get(a, DIAG_V34_OPTIONS), 0x04050000u);
        EXPECT_EQ(a->diag.link.timing, 69);
        EXPECT_EQ(a->diag.link.frequency, 69);
        EXPECT_EQ(a->diag.link.tx_snr, 69);
    }
}

TEST(Identification, PatchVersionAndInformationPages)
{
    AtStack s("");
    s.Acu()->timing_offset[0] = 0x34;
    s.Acu()->timing_offset[1] = 0x12;
    EXPECT_EQ(Visible(s.Dialogue("ATI99\r")),
              Visible("ATI99\r\r\nDSP PATCH VERS #0.00\r\nTIM OFFS = 1234\r\nOK\r\n"));
    EXPECT_EQ(Visible(s.Dialogue("ATI200\r")), Visible("ATI200\r\r\nERROR\r\n"));
    EXPECT_EQ(Visible(s.Dialogue("ATI211\r")), Visible("ATI211\r\r\nERROR\r\n"));
    // I209 hands table 9 (92 bytes) out: its title and six lines of bytes, then OK.
    const std::string out = s.Dialogue("ATI209\r", 2000);
    EXPECT_NE(out.find("\n\rS-Resister table <\n\r"), std::string::npos) << Visible(out);
    EXPECT_NE(out.find("\r\n>\r\n"), std::string::npos) << Visible(out);
}

}  // namespace
