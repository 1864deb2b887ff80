// Writers, PrintToDte, result codes and the connection report.
#include "layer2/corecode/cmd/at_output.h"

#include <cstring>

#include "layer2/corecode/cmd/at_sreg.h"
#include "layer2/corecode/cmd/at_ticks.h"
#include "layer2/corecode/dte/dte.h"

// clang-format off
const char* const ResultCode[33] = {
    "OK", "CONNECT", "RING", "NO CARRIER", "ERROR", "", "NO DIALTONE", "BUSY", "NO ANSWER", "DELAYED CALL",
    "BLACKLISTED", "+FCERROR", "RINGBACK", "CPON=", "CPOF=", "DRON=", "DROF=", "", "", "", "", "",
    "+DR: NONE", "+DR: V42B RD", "+DR: V42B TD", "+DR: V42B", "+ER: NONE", "+ER: LAPM", "+ER: ALT",
    "+DR: V44 RD", "+DR: V44 TD", "+DR: V44", "+DR: ALT",
};

const char* const ModulationName[25] = {
    "BELL103", "BELL212", "V21", "V21CHAN2", "V23C", "V23S", "V22", "V22B", "V27SHORT", "V27LONG", "V27TC",
    "V29", "V32", "V32TCM", "V17", "V33", "V32B", "V34S", "V34", "", "", "", "X2", "V90", "V92",
};
// clang-format on

namespace {

// Compression state 0-7 to its report index.
const uint8_t kCompressionReport[8] = {22, 23, 24, 25, 29, 30, 31, 32};

constexpr uint16_t kDrainCountdownTicks = 500;

// Empty hook for fatal inconsistencies (kept so the call sites stay visible).
void core_error_report(const char* source, int line)
{
    (void)source;
    (void)line;
}

bool verbal(const AcuContext* acu) { return (acu->sreg[S_OPTIONS] & S14_VERBAL) != 0; }
bool quiet(const AcuContext* acu) { return (acu->sreg[S_OPTIONS] & S14_QUIET) != 0; }

// Reapplies the DTE character format before a print (the DTE side keeps it; nothing to redo here yet).
void reapply_dte_format(AcuContext* acu) { (void)acu; }

}  // namespace

void dte_wait_output_drained(AcuContext* acu)
{
    uint16_t countdown = kDrainCountdownTicks;
    uint32_t last = acu_now_ms();
    while (dte_cmd_out_pending(acu->dte) != 0) {
        if (!acu_may_wait(acu))
            return;  // the timers stopped (port closed): nobody will take the output
        acu_service_countdowns(acu);
        acu_sleep_1ms();
        uint32_t now = acu_now_ms();
        if (now - last >= 10) {
            last = now;
            if (countdown != 0)
                --countdown;
        }
        if (countdown == 0) {
            ++acu->drain_reports;
            core_error_report("at_output", __LINE__);
        }
    }
}

void at_write_char(AcuContext* acu, uint8_t c)
{
    while (dte_cmd_out_free(acu->dte) == 0) {
        if (!acu_may_wait(acu))
            break;  // port closed: the character has nowhere to go
        dte_wait_output_drained(acu);
    }
    dte_cmd_out_put(acu->dte, c);
}

void at_write_text(AcuContext* acu, const char* text)
{
    for (; *text != 0; ++text)
        at_write_char(acu, static_cast<uint8_t>(*text));
}

void at_write_translated(AcuContext* acu, const char* text)
{
    for (; *text != 0; ++text) {
        uint8_t c = static_cast<uint8_t>(*text);
        if (c == '\r' && acu->sreg[S_CR_CHAR] != 0)
            c = acu->sreg[S_CR_CHAR];
        else if (c == '\n' && acu->sreg[S_LF_CHAR] != 0)
            c = acu->sreg[S_LF_CHAR];
        at_write_char(acu, c);
    }
}

void at_print_line_end(AcuContext* acu)
{
    if (acu->sreg[S_CR_CHAR] != 0)
        at_write_char(acu, acu->sreg[S_CR_CHAR]);
    if (acu->sreg[S_LF_CHAR] != 0)
        at_write_char(acu, acu->sreg[S_LF_CHAR]);
}

void PrintToDte(AcuContext* acu, const char* text, uint8_t mode)
{
    dte_wait_output_drained(acu);
    reapply_dte_format(acu);
    acu->response_sent = 1;
    switch (mode) {
    case PRINT_TEXT_END:
        at_write_text(acu, text);
        at_print_line_end(acu);
        break;
    case PRINT_END_TEXT_END:
        at_print_line_end(acu);
        at_write_text(acu, text);
        at_print_line_end(acu);
        break;
    case PRINT_END_TEXT:
        at_print_line_end(acu);
        at_write_text(acu, text);
        break;
    case PRINT_TRANSLATE:
        at_write_translated(acu, text);
        break;
    default:
        at_write_text(acu, text);
        break;
    }
}

uint8_t at_text_mode(const AcuContext* acu) { return verbal(acu) ? PRINT_END_TEXT_END : PRINT_TEXT_END; }
uint8_t at_prefix_mode(const AcuContext* acu) { return verbal(acu) ? PRINT_END_TEXT : PRINT_TEXT; }

void PrintResultCode(AcuContext* acu, uint8_t index, uint8_t arq)
{
    if (quiet(acu) || index == RC_NONE)
        return;
    acu->response_sent = 1;
    // The voice DLE codes: DLE "R" alone, DLE "X" and DLE "." with a line end.
    if (index >= RC_DLE_RING && index <= RC_DLE_REPORT_END) {
        const char letter[] = {'R', 'X', '.'};
        at_write_char(acu, 0x10);
        at_write_char(acu, static_cast<uint8_t>(letter[index - RC_DLE_RING]));
        if (index != RC_DLE_RING)
            at_print_line_end(acu);
        return;
    }
    if (!verbal(acu) && index <= 253) {
        if (index == RC_FCERROR) {
            at_write_text(acu, "+F4");
        } else {
            unsigned v = index % 100u;
            if (v >= 10)
                at_write_char(acu, static_cast<uint8_t>('0' + v / 10));
            at_write_char(acu, static_cast<uint8_t>('0' + v % 10));
        }
        if (acu->sreg[S_CR_CHAR] != 0)
            at_write_char(acu, acu->sreg[S_CR_CHAR]);
        return;
    }
    const char* text = index < 33 ? ResultCode[index] : acu->custom_text;
    if (index == 15 || index == 16) {
        dte_wait_output_drained(acu);
        at_write_text(acu, text);
        char digits[12];
        at_write_text(acu, at_two_digit_text(digits, acu->dr_number));
        at_print_line_end(acu);
        return;
    }
    bool originate = (acu->sreg[S_OPTIONS] & S14_ORIGINATE) != 0;
    bool sync_access = originate ? acu->set.es[0] > 4 : acu->set.es[2] > 6;
    if (sync_access && (index == RC_BUSY || index == RC_NO_CARRIER)) {
        at_write_char(acu, static_cast<uint8_t>(text[0]));
        at_write_char(acu, static_cast<uint8_t>(text[1]));
        at_print_line_end(acu);
        at_write_text(acu, text + 2);
        at_print_line_end(acu);
        return;
    }
    dte_wait_output_drained(acu);
    if (index != RC_CUSTOM_BARE)
        at_print_line_end(acu);
    at_write_text(acu, text);
    if (arq == 1)
        at_write_text(acu, "/ARQ");
    if (index != RC_CUSTOM_BARE)
        at_print_line_end(acu);
}

void ReportExtendedConnect(AcuContext* acu, uint8_t index)
{
    dte_wait_output_drained(acu);
    reapply_dte_format(acu);
    if (index != RC_CONNECT_REPORT) {
        PrintResultCode(acu, index, 0);
        return;
    }
    if ((acu->sreg[S_RESULT_OPTIONS] & S22_CONNECT_REPORT) == 0) {
        PrintResultCode(acu, RC_CONNECT, 0);
        return;
    }
    if (quiet(acu))
        return;
    uint8_t mode = verbal(acu) ? PRINT_END_TEXT_END : PRINT_TEXT_END;
    char line[48];
    char digits[12];
    if (verbal(acu) && !acu->voice_data_mode) {
        if (acu->set.mr == 1) {
            const char* name = acu->modulation < 25 ? ModulationName[acu->modulation] : "";
            if (acu->modulation == 23 && acu->v92_marks)
                name = ModulationName[24];
            std::strcpy(line, "+MCR: ");
            std::strncat(line, name, sizeof line - 7);
            PrintToDte(acu, line, mode);
            std::strcpy(line, "+MRR: ");
            std::strcat(line, at_decimal_text(digits, acu->line_rate));
            PrintToDte(acu, line, mode);
        }
        if (acu->set.er == 1) {
            uint8_t r = (acu->ec_protocol == 5 || acu->ec_first_state) ? 26 : acu->ec_protocol == 6 ? 27 : 28;
            PrintToDte(acu, ResultCode[r], mode);
        }
        if (acu->set.dr == 1)
            PrintToDte(acu, ResultCode[kCompressionReport[acu->compression_state & 7]], mode);
        if (acu->set.ilrr == 1) {
            if (acu->set.dte_rate == 0)
                acu->set.dte_rate = acu->line_rate;
            std::strcpy(line, "+ILRR: ");
            std::strcat(line, at_decimal_text(digits, acu->set.dte_rate));
            PrintToDte(acu, line, mode);
        }
    }
    std::strcpy(line, "CONNECT ");
    std::strcat(line, at_decimal_text(digits, acu->connect_rate));
    PrintToDte(acu, line, mode);
}
