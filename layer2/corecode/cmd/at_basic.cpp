// BasicCommands: answer, dial, echo, hang-up, identification, S-register access, result options, reset,
// pause and the "&" options of the first basic table.
#include <cstring>

#include "layer2/corecode/cmd/at_basic_util.h"
#include "layer2/corecode/cmd/at_collector.h"
#include "layer2/corecode/cmd/at_ident.h"
#include "layer2/corecode/cmd/at_output.h"
#include "layer2/corecode/cmd/at_parser.h"
#include "layer2/corecode/cmd/at_profile_cmds.h"
#include "layer2/corecode/cmd/at_scan.h"
#include "layer2/corecode/cmd/at_sreg.h"
#include "layer2/corecode/cmd/at_tables.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/cmd/core_settings.h"
#include "layer2/corecode/cmd/profile.h"

namespace {

constexpr uint8_t kTerminationHangup = 81;
constexpr uint8_t kTerminationReset = 82;
constexpr uint8_t kTerminationNoNumber = 40;

// Refusal rules shared by A and D.
bool call_refused(const AcuContext* acu)
{
    if (acu_fax8(acu) && acu_voice(acu))
        return true;
    uint8_t line_mode = acu->sreg[S_LINE_OPTIONS] & S27_LINE_MODE;
    return line_mode >= 2 || acu->test_state != 0 || acu->online;
}

void at_A(AcuContext* acu, uint8_t* args)
{
    (void)args;
    if (call_refused(acu)) {
        at_set_error(acu);
        return;
    }
    at_diag_reset(acu);
    at_sreg_bit(acu, 14, 7, false);
    acu->report_ok = 0;
    PostCallEvent(acu, EV_ANSWER, 0);
}

// The dial-string check; returns 0 accepted (stored number or ordinary dial), 1 refused.
bool stored_number_empty(const AcuContext* acu, unsigned n)
{
    return acu->settings == nullptr || acu->settings->nv.bytes[nv_number_offset(n)] == 0;
}

int dial_check(AcuContext* acu, const char* s)
{
    const char* p = std::strchr(s, 'S');
    if (p != nullptr) {
        const char* q = p + 1;
        bool equals = *q == '=';
        if (equals)
            ++q;
        bool end = *q == 0 || *q == ';';
        if (*q >= '0' && *q <= '3') {
            unsigned n = static_cast<unsigned>(*q - '0');
            if (stored_number_empty(acu, n)) {
                acu->termination_cause = kTerminationNoNumber;
                return 1;
            }
            acu->dial_stored = 1;
            return 0;
        }
        if (!equals) {
            if (!end)
                return 0;  // "S" followed by anything else: accepted without further checks
            if (stored_number_empty(acu, 0)) {
                acu->termination_cause = kTerminationNoNumber;
                return 1;
            }
            acu->dial_stored = 1;
            return 0;
        }
        if (!end && static_cast<unsigned char>(*q) < '0')
            return 0;  // "S=" and a control or punctuation character: accepted without further checks
        acu->termination_cause = kTerminationNoNumber;
        return 1;  // "S=" with nothing after it, or a character above "3"
    }
    if (acu->settings == nullptr)
        return 1;
    bool pulse = s[0] == 'P' || (s[0] != 'T' && (acu->sreg[S_OPTIONS] & S14_PULSE) != 0);
    const CountryBlock& b = acu->settings->block;
    return (pulse ? cb_pulse_allowed(b) : cb_tone_allowed(b)) ? 0 : 1;
}

void at_D(AcuContext* acu, uint8_t* args)
{
    at_diag_reset(acu);
    if (acu->settings == nullptr ||
        (!cb_pulse_allowed(acu->settings->block) && !cb_tone_allowed(acu->settings->block)) || call_refused(acu)) {
        at_set_error(acu);
        return;
    }
    std::strncpy(acu->dial_string, reinterpret_cast<const char*>(args), sizeof acu->dial_string - 1);
    acu->dial_string[sizeof acu->dial_string - 1] = 0;
    acu->dial_stored = 0;
    acu->report_ok = 0;
    // The dial string names its stored number itself ("S", "S=n"); the executor reads it from there.
    if (dial_check(acu, acu->dial_string) == 0)
        PostCallEvent(acu, EV_ORIGINATE, 0);
    else
        PostCallEvent(acu, EV_HANGUP, RC_ERROR);
}

void at_E(AcuContext* acu, uint8_t* args)
{
    if (!at_refuse_above(acu, args, 1))
        at_sreg_bit(acu, 14, 1, args[0] == 1);
}

void at_H(AcuContext* acu, uint8_t* args)
{
    uint8_t v = args[0];
    if (v == 0) {
        // In the command state (with or without a connection held on line) the command line goes on after
        // the hang-up and ends with its own result.
        if (acu->call_state == CALL_COMMAND)
            acu->return_to_command = 1;
        PostCallEvent(acu, EV_HANGUP, RC_NONE);
        acu->hangup_pending = 1;
        acu->termination_cause = kTerminationHangup;
    } else if (v == 1) {
        if (acu_fax8(acu) && acu_voice(acu)) {
            at_set_error(acu);
            return;
        }
        // Off hook, unless a data or fax connection holds the line already.
        const uint8_t state = acu_pump_state(acu);
        if (state != 2 && state != 8)
            acu_go_off_hook(acu, false);
    } else if (v == 99) {
        acu->report_ok = 0;
        // The call-control H99 action comes with the hang-up sequences; until then it only confirms.
        PostCallEvent(acu, EV_RESULT, RC_OK);
    } else {
        at_set_error(acu);
    }
}

void at_I(AcuContext* acu, uint8_t* args)
{
    if (acu_voice(acu)) {
        at_set_error(acu);
        return;
    }
    at_identify(acu, args[0]);
}

void at_P(AcuContext* acu, uint8_t* args) { (void)args; at_sreg_bit(acu, 14, 5, true); }
void at_T(AcuContext* acu, uint8_t* args) { (void)args; at_sreg_bit(acu, 14, 5, false); }

}  // namespace

void at_Q(AcuContext* acu, uint8_t* args)
{
    if (acu_voice(acu) || at_refuse_above(acu, args, 1)) {
        at_set_error(acu);
        return;
    }
    at_sreg_bit(acu, 14, 2, args[0] == 1);
}

namespace {

void at_V(AcuContext* acu, uint8_t* args)
{
    if (at_refuse_above(acu, args, 1) || acu_fax8(acu))
        return;
    at_sreg_bit(acu, 14, 3, args[0] == 1);
}

void at_S(AcuContext* acu, uint8_t* args) { acu->current_sreg = args[0]; }

void at_set_register(AcuContext* acu, uint8_t* args)
{
    if (!at_sreg_write(acu, acu->current_sreg, at_arg_u32(args, 0)))
        at_set_error(acu);
}

void at_query_register(AcuContext* acu, uint8_t* args)
{
    (void)args;
    char digits[8];
    PrintToDte(acu, at_three_digit_text(digits, at_sreg_read(acu, acu->current_sreg)), at_text_mode(acu));
}

}  // namespace

void at_W(AcuContext* acu, uint8_t* args)
{
    if (at_refuse_above(acu, args, 4))
        return;
    AtSettings* s = &acu->set;
    s->mr = s->dr = s->er = s->ilrr = 0;
    switch (args[0]) {
    case 0:
    case 1: s->ilrr = 1; break;
    case 2: s->mr = 1; break;
    case 3: s->mr = s->dr = s->er = s->ilrr = 1; break;
    default: s->mr = s->dr = s->er = 1; break;
    }
    s->w = args[0];
}

namespace {

void at_Z(AcuContext* acu, uint8_t* args)
{
    if (at_refuse_above(acu, args, 1))
        return;
    at_diag_reset(acu);
    if (acu->call_state == CALL_COMMAND && !acu->online) {
        acu->return_to_command = 1;
        acu->reset_pending = static_cast<uint8_t>(args[0] + 4);
    } else {
        acu->hangup_pending = 1;
    }
    acu->termination_cause = kTerminationReset;
    PostCallEvent(acu, EV_HANGUP, RC_NONE);
    // Reloading and reapplying the working country block comes with the DSP link.
}

void at_pause(AcuContext* acu, uint8_t* args)
{
    (void)args;
    if (acu->sreg[S_COMMA_PAUSE] == 0)
        return;
    acu->pause_countdown = static_cast<uint16_t>(acu->sreg[S_COMMA_PAUSE] * 10u);
    acu->collector = COLLECT_PAUSED;
}

void at_amp_C(AcuContext* acu, uint8_t* args)
{
    if (at_refuse_above(acu, args, 1))
        return;
    if (!acu->online)
        at_sreg_bit(acu, 21, 5, args[0] == 1);
}

void at_amp_D(AcuContext* acu, uint8_t* args)
{
    if (at_refuse_above(acu, args, 3))
        return;
    if (args[0] == 1 && acu_voice(acu)) {
        at_set_error(acu);
        return;
    }
    at_sreg_field(acu, 21, 0x18, static_cast<uint8_t>(args[0] << 3));
}

void at_amp_S(AcuContext* acu, uint8_t* args)
{
    if (at_refuse_above(acu, args, 1) || acu_fax8(acu))
        return;
    at_sreg_bit(acu, 21, 6, args[0] == 1);
}

void at_amp_F(AcuContext* acu, uint8_t* args)
{
    at_diag_reset(acu);
    if (acu->online) {
        acu->termination_cause = kTerminationHangup;
        at_set_error(acu);
        return;
    }
    // &F5 and &F6 are offered to the error-control hook, which refuses them; only &F0 loads.
    if (args[0] != 0) {
        at_set_error(acu);
        return;
    }
    at_load_factory(acu, true);
    acu->set.last_amp_f = args[0];
    // Reloading and reapplying the working country block comes with the DSP link.
}

void at_amp_J(AcuContext* acu, uint8_t* args)
{
    if (!at_refuse_above(acu, args, 1))
        at_sreg_bit(acu, 21, 0, args[0] == 1);
}

void at_amp_P(AcuContext* acu, uint8_t* args)
{
    if (at_refuse_above(acu, args, 1))
        return;
    at_sreg_bit(acu, 22, 7, args[0] == 1);
    acu->set.pulse_make = args[0] == 1 ? 33 : 39;
    acu->set.pulse_break = args[0] == 1 ? 67 : 61;
}

void at_debug_on(AcuContext* acu, uint8_t* args)
{
    (void)args;
    at_table_list_op(acu, TABLES_ADD_FRONT, DebugCommands);
    acu->debug_tables = 1;
}

void at_debug_off(AcuContext* acu, uint8_t* args)
{
    (void)args;
    at_table_list_op(acu, TABLES_REMOVE, DebugCommands);
    acu->debug_tables = 0;
}

void at_hash_UD(AcuContext* acu, uint8_t* args)
{
    (void)args;
    BuildUnimodemDiagnostic(acu);
}

void at_bang_M(AcuContext* acu, uint8_t* args) { acu->set.pending_request = args[0]; }

}  // namespace

// clang-format off
const AtCommandEntry BasicCommands[] = {
    {"A", at_A, 0, 0, {}},
    {"D", at_D, 13, 0, {}},
    {"E", at_E, 1, 0, {}},
    {"H", at_H, 1, 0, {}},
    {"I", at_I, 1, 0, {}},
    {"P", at_P, 0, 0, {}},
    {"Q", at_Q, 1, 0, {}},
    {"S", at_S, 1, 0, {}},
    {"=", at_set_register, 3, 0, {}},
    {"?", at_query_register, 0, 0, {}},
    {"T", at_T, 0, 0, {}},
    {"V", at_V, 1, 0, {}},
    {"W", at_W, 1, 0, {}},
    {"Z", at_Z, 1, 0, {}},
    {",", at_pause, 0, 0, {}},
    {"&C", at_amp_C, 1, 0, {}},
    {"&D", at_amp_D, 1, 0, {}},
    {"&S", at_amp_S, 1, 0, {}},
    {"&F", at_amp_F, 1, 0, {}},
    {"&J", at_amp_J, 1, 0, {}},
    {"&P", at_amp_P, 1, 0, {}},
    {"&W", at_amp_W, 1, 0, {}},
    {"&V", at_amp_V, 1, 0, {}},
    {"&Y", at_amp_Y, 1, 0, {}},
    {"&Z", at_amp_Z, 16, 0, {}},
    {"*DEBUGON", at_debug_on, 0, 0, {}},
    {"*DEBUGOFF", at_debug_off, 0, 0, {}},
    {"#UD", at_hash_UD, 16, 0, {}},
    {"!M=", at_bang_M, 7, 0, {}},
    {"", nullptr, 0, 0, {}},
};
// clang-format on
