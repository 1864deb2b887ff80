// The debug set's help screens and signal tests, and the small tables the raw-packet command reads.
#include <cstring>

#include "layer2/corecode/cmd/at_context.h"
#include "layer2/corecode/cmd/at_debug.h"
#include "layer2/corecode/cmd/at_output.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/cmd/conn_control.h"
#include "layer2/corecode/cmd/country_block.h"
#include "layer2/corecode/cmd/core_settings.h"
#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/mt/dsp_commands.h"
#include "layer2/corecode/mt/dsp_control.h"
#include "layer2/corecode/mt/dsp_device.h"
#include "layer2/corecode/mt/dsp_tone_gen_handler.h"
#include "window/icd_packet.h"

namespace {

// clang-format off
const char* const kDebugHelp[] = {
    "DSP Debug AT Commands",
    "-------------------------------------------------",
    "at*acpi=n  - Set ACPI state (n=0 or 3)",
    "at*d?n     - Display Data RAM at n",
    "at*p?n     - Display Program RAM at n",
    "at*d=a,n   - Set Data RAM address a to value n",
    "at*p=a,n   - Set Program RAM address a to value n",
    "at*i?      - Display V.92 quick-connect data",
    "at*SDn     - Set num DSP bytes to display for AT*p and AT*d",
    "at*GPOSETn - Set GPIO n as an output with data value of 1",
    "at*GPOCLRn - Set GPIO n as an output with data value of 0",
    "at*GPIn    - Set GPIO n as an input and read its value",
    "at*rh      - Set hook relay (0 or 1)",
    "at*rv      - Set voice relay (0 or 1)",
    "at*rc      - Set CID relay (0 or 1)",
    "at*rs      - Set SPK/HS relay (0=SPKR or 1=HS)",
    "at*ra      - Set all relays (0 or 1)",
    "at*r?      - Get all relays state",
    "at*c=      - Read comma delimited ICD packet -> COMRAM",
    "at*tt      - Signal Level Test Command ... (Type AT*TT? for Help)",
};

const char* const kSignalTestHelp[] = {
    "DSP AT*TTxx Command  ...  xx is a Hexidecimal Value",
    "---------------------------------------------------------",
    "DTMF Tests:",
    "  00-09: DTMF Digits         0A-0F: DTMF * # A B C D",
    "V.21, V.22, V.22bis, & V.23 Tests:",
    "  10-13: V.21 & V23 Marks    15-18: V.22 & V.22bis ALB",
    "  19-1C: V.21 & V.23 Spaces  20-21: V.32 & V.32bis ALB",
    "General Tone Tests:",
    "  30: Silance                31&33: V.25 Ans & Call Tones",
    "  32: Guard Tone             34: Fax Calling Tone",
    "Fax Configuration Tests:",
    "  40-43: V.21    300, V.27  2400,  V.27  4800,  V.29 7200",
    "  44-47: V.29   9600, V.17  7200L, V.17  7200S, V.17 9600L",
    "  48-4A: V.17  9600S, V.17 12000L, V.17 12000S",
    "  4B-4C: V.17 14400L, V.17 14400S",
    "V.34 Analog Loopback Tests:",
    "  60-66:  2400,  4800,  7200,  9600, 12000, 14400, 16800",
    "  67-6D: 19200, 21600, 24000, 26400, 28800, 31200, 33600",
};

// The test tones: the 16 DTMF pairs (0-9, *, #, A-D), the V.21 and V.23 marks and spaces (channel 1, channel
// 2, forward, backward), silence, the V.25 answer tone, the guard tone, the calling tone and the fax calling
// tone. Sent as the data pump's phase steps.
struct TestTone {
    uint16_t f1;
    uint16_t f2;
};
constexpr TestTone kTestTones[] = {
    {941, 1336}, {697, 1209}, {697, 1336}, {697, 1477}, {770, 1209}, {770, 1336}, {770, 1477}, {852, 1209},
    {852, 1336}, {852, 1477}, {941, 1209}, {941, 1477}, {697, 1633}, {770, 1633}, {852, 1633}, {941, 1633},
    {980, 0}, {1650, 0}, {1300, 0}, {390, 0},
    {1180, 0}, {1850, 0}, {2100, 0}, {450, 0},
    {0, 0}, {2100, 0}, {1800, 0}, {1300, 0}, {1100, 0},
};
// clang-format on
constexpr int kDtmfTones = 16;
constexpr int kMarkEntry = 16;
constexpr int kSpaceEntry = 20;
constexpr int kGeneralEntry = 24;
constexpr uint8_t kDtmfControl = 5;
constexpr uint8_t kToneControl = 1;
constexpr uint8_t kTxLevelMode = 1;  // the transmit level word (0x7B)

// The fax configuration tests 40-4C by the class 1 modulation they set up: V.21 channel 2, V.27ter 2400 and
// 4800, V.29 7200 and 9600, V.17 7200-14400 with long and short training. The data pump takes them as the
// modulation byte of a class 1 transmission (packet 0x73, transmit direction).
constexpr uint8_t kFaxTestCodes[] = {3, 24, 48, 72, 96, 73, 74, 97, 98, 121, 122, 145, 146};
// The connection start that precedes them: 9600 (rate code 7), V.29 (mode 11), the single-tone procedure.
constexpr uint8_t kFaxTestStart[] = {7, 11, 32};

// The analog loop-back tests: V.22 1200 and V.22bis 2400 each in the low (originating) and high (answering)
// channel, V.32 9600, V.32bis 14400, and V.34 from 2400 to 33600 in steps of 2400 (codes 60-6D, and again
// 70-7D).
struct LoopTest {
    uint8_t modulation;  // connection code
    uint32_t rate;
    bool originate;
};
constexpr LoopTest kModemLoops[] = {
    {6, 1200, true}, {6, 1200, false}, {7, 2400, true}, {7, 2400, false},  // 15-18
};
constexpr LoopTest kV32Loops[] = {{12, 9600, true}, {16, 14400, true}};  // 20, 21
constexpr uint8_t kV34Modulation = 18;
constexpr uint32_t kV34RateStep = 2400;

// What a test code asks for.
enum SignalTestKind : uint8_t { TEST_REFUSED = 0, TEST_TONE = 1, TEST_LOOPBACK = 2, TEST_FAX = 3 };

SignalTestKind test_kind(uint8_t code, int* entry)
{
    if (code < 0x10) {
        *entry = code;
        return TEST_TONE;
    }
    if (code <= 0x13) {
        *entry = kMarkEntry + (code - 0x10);
        return TEST_TONE;
    }
    if (code >= 0x19 && code <= 0x1C) {
        *entry = kSpaceEntry + (code - 0x19);
        return TEST_TONE;
    }
    if (code >= 0x30 && code <= 0x34) {
        *entry = kGeneralEntry + (code - 0x30);
        return TEST_TONE;
    }
    if (code >= 0x15 && code <= 0x18) {
        *entry = code - 0x15;
        return TEST_LOOPBACK;
    }
    if (code == 0x20 || code == 0x21) {
        *entry = 4 + (code - 0x20);
        return TEST_LOOPBACK;
    }
    if ((code >= 0x60 && code <= 0x6D) || (code >= 0x70 && code <= 0x7D)) {
        *entry = 6 + (code & 0x0F);
        return TEST_LOOPBACK;
    }
    if (code >= 0x40 && code <= 0x4C) {
        *entry = code - 0x40;
        return TEST_FAX;
    }
    return TEST_REFUSED;
}

void print_screen(AcuContext* acu, const char* const* lines, unsigned count)
{
    at_print_line_end(acu);
    for (unsigned k = 0; k < count; ++k)
        PrintToDte(acu, lines[k], PRINT_TEXT_END);
}

int play(AcuContext* acu, const TestTone& tone, uint8_t control)
{
    uint8_t payload[kIcdTonePairLength];
    const int length = IcdEncode(
        IcdTonePairPayload{dsp_tone_phase_step(tone.f1), dsp_tone_phase_step(tone.f2), control}, payload);
    return dsp_send_command(&acu->dsp->link, IcdPlayTonePair, payload, length, kReplyAck, nullptr);
}

// A loop-back test of entry 0-19 (V.22 and V.22bis, V.32 and V.32bis, V.34 by rate).
LoopTest loop_test(int entry)
{
    if (entry < 4)
        return kModemLoops[entry];
    if (entry < 6)
        return kV32Loops[entry - 4];
    return LoopTest{kV34Modulation, kV34RateStep * static_cast<uint32_t>(entry - 6 + 1), true};
}

// A fax test: the connection start, then the modulation's transmitter.
void start_fax(AcuContext* acu, int entry)
{
    DspLink* link = &acu->dsp->link;
    dsp_send_command(link, IcdStartConnection, kFaxTestStart, sizeof kFaxTestStart, kReplyAck, nullptr);
    const uint8_t config[2] = {conn_fax_modulation_byte(kFaxTestCodes[entry]), 0};
    dsp_send_command(link, IcdStartFaxPump, config, sizeof config, kReplyAck, nullptr);
}

// Off hook, and the levels of the country's DTMF: the pair's levels, and the transmit level that the first
// tone of a DTMF test takes, at the low group's level (left at its default the first tone would sit some
// 8 dB above the second, a twist no DTMF receiver accepts).
void prepare_line(AcuContext* acu)
{
    DspDevice* dev = acu->dsp;
    dsp_set_hook(&dev->line, true);
    dsp_msg_dispatch(&dev->queue);
    if (dev->context.country != nullptr) {
        const CountryDtmf d = cb_dtmf(*dev->context.country);
        dsp_set_tx_level(dev, 0, static_cast<uint16_t>(d.level_low | (d.level_high << 8)));
        dsp_set_tx_level(dev, kTxLevelMode, IcdTxLevelWordOf(-(d.level_low + 5) / 10));
    }
}

}  // namespace

void debug_help(AcuContext* acu, uint8_t*) { print_screen(acu, kDebugHelp, sizeof kDebugHelp / sizeof kDebugHelp[0]); }

void signal_test_help(AcuContext* acu, uint8_t*)
{
    print_screen(acu, kSignalTestHelp, sizeof kSignalTestHelp / sizeof kSignalTestHelp[0]);
}

void signal_test(AcuContext* acu, uint8_t* args)
{
    int entry = 0;
    const SignalTestKind kind = test_kind(args[0], &entry);
    if (acu->dsp == nullptr || kind == TEST_REFUSED) {
        at_set_error(acu);
        return;
    }
    prepare_line(acu);
    if (kind == TEST_FAX) {
        start_fax(acu, entry);
    } else if (kind == TEST_LOOPBACK) {
        const LoopTest t = loop_test(entry);
        acu_start_analog_loop(acu, t.modulation, t.rate, t.originate);
    } else
        play(acu, kTestTones[entry], entry < kDtmfTones ? kDtmfControl : kToneControl);
    acu->signal_test_running = kind;
}

bool debug_signal_test_poll(AcuContext* acu)
{
    if (!acu->signal_test_running)
        return false;
    if (acu->dte == nullptr || dte_cmd_in_count(acu->dte) == 0)
        return true;
    dte_cmd_in_get(acu->dte);
    const uint8_t kind = acu->signal_test_running;
    acu->signal_test_running = 0;
    if (acu->dsp != nullptr) {
        // A fax transmitter is stopped as a class 1 transmission ends; tones by the all-zero tone packet.
        if (kind == TEST_FAX)
            conn_fax_idle(acu);
        else if (kind == TEST_LOOPBACK)
            acu_send_loop(acu, kind, false);
        else
            play(acu, TestTone{0, 0}, 0);
        dsp_set_hook(&acu->dsp->line, false);
        dsp_msg_dispatch(&acu->dsp->queue);
    }
    return true;
}

uint8_t debug_awaited_reply(uint8_t code)
{
    switch (code) {
    case IcdReadTable: return IcdTableParamValue;
    case IcdReadMemory:
    case IcdReadMemoryHigh: return IcdMemoryValue;
    case IcdQueryRate: return IcdRateReport;
    case IcdQueryMode: return IcdModeReport;
    case 0x83: return 0xD0;
    case 0x89: return 0xCD;
    case IcdQueryLinkParams: return IcdLinkParamsReport;
    case IcdQueryVersion: return IcdVersionReport;
    case 0x9D: return 0xC3;
    default: return 0;
    }
}

uint8_t debug_reply_mode(uint8_t code)
{
    if (code == 0x08 || (code >= IcdWriteTable && code <= 0x0F))
        return kReplyNone;
    return debug_awaited_reply(code) != 0 ? kReplyExpected : kReplyAck;
}

void debug_print_hex_block(AcuContext* acu, const char* title, const uint8_t* bytes, unsigned size)
{
    PrintToDte(acu, title, PRINT_END_TEXT_END);
    constexpr unsigned kLineBytes = 16;
    char line[kHexDumpChars(kLineBytes)];
    for (unsigned at = 0; at < size; at += kLineBytes)
        PrintToDte(acu, at_hex_dump(line, bytes + at, size - at < kLineBytes ? size - at : kLineBytes), PRINT_TEXT_END);
}
