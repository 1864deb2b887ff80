#include "layer2/corecode/cmd/at_collector.h"

#include <cstring>

#include "layer2/corecode/cmd/at_output.h"
#include "layer2/corecode/cmd/at_parser.h"
#include "layer2/corecode/cmd/at_debug.h"
#include "layer2/corecode/cmd/at_tables.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/cmd/conn_control.h"
#include "layer2/corecode/cmd/fax_commands.h"
#include "layer2/corecode/dte/dte.h"

namespace {

constexpr uint8_t CAN = 24;
constexpr unsigned kEscapeLineMax = 39;

bool echo_on(const AcuContext* acu) { return (acu->sreg[S_OPTIONS] & S14_ECHO) != 0 && acu->echo_hold == 0; }

void detect_parity(AcuContext* acu)
{
    uint8_t cls = dte_get_parity_mode(acu->dte, nullptr, &acu->set.dte_format[0], &acu->set.dte_format[1]);
    if (cls == 3 || cls == 4)
        cls = 0;
    uint8_t bits;
    if (cls == 0)
        bits = 1;
    else if (cls == 1)
        bits = 2;
    else if (cls == 2)
        bits = 0;
    else
        return;
    acu->sreg[S_DTE_FORMAT] = static_cast<uint8_t>((acu->sreg[S_DTE_FORMAT] & ~S23_PARITY) | (bits << 4));
}

void collect_prefix(AcuContext* acu)
{
    if (acu->ring_timer == 0 && acu->sreg[S_RING_COUNT] != 0)
        acu->sreg[S_RING_COUNT] = 0;
    if (dte_cmd_in_count(acu->dte) != 0) {
        uint8_t raw = dte_cmd_in_get(acu->dte);
        uint8_t c = static_cast<uint8_t>(raw & 0x7F);
        at_echo(acu, raw);
        if (c == 'A' || c == 'a') {
            acu->prefix_letter = c;
        } else if ((c == 'T' && acu->prefix_letter == 'A') || (c == 't' && acu->prefix_letter == 'a')) {
            detect_parity(acu);
            acu->line_length = 0;
            acu->line[0] = 0;
            acu->collector = COLLECT_LINE;
        } else if (c == '/' && (acu->prefix_letter == 'A' || acu->prefix_letter == 'a')) {
            acu->post_line_delay = 0;
            acu->command_error = 0;
            acu->report_ok = 1;
            acu->collector = COLLECT_COMPLETE;
        } else {
            if (!acu->set.fixed_rate)
                dte_cmd_flag_set(acu->dte);
            PostCallEvent(acu, EV_TO_IDLE, 0);
        }
    }
    at_update_dte_rate(acu);
}

void collect_line(AcuContext* acu)
{
    while (dte_cmd_in_count(acu->dte) != 0) {
        uint8_t raw = dte_cmd_in_get(acu->dte);
        at_echo(acu, raw);
        uint8_t c = static_cast<uint8_t>(raw & 0x7F);
        if (c == acu->sreg[S_BS_CHAR] && acu->sreg[S_BS_CHAR] != acu->sreg[S_CR_CHAR]) {
            if (echo_on(acu)) {
                if (acu->line_length == 0) {
                    at_write_char(acu, acu->prefix_letter == 'a' ? 't' : 'T');
                } else {
                    --acu->line_length;
                    at_write_char(acu, ' ');
                    at_write_char(acu, acu->sreg[S_BS_CHAR]);
                }
            } else if (acu->line_length != 0) {
                --acu->line_length;
            }
            acu->line[acu->line_length] = 0;
            dte_wait_output_drained(acu);
        } else if (c == CAN) {
            PostCallEvent(acu, EV_TO_IDLE, 0);
            PostCallEvent(acu, EV_RESULT, RC_OK);
            acu->collector = COLLECT_WAIT_PREFIX;
            return;
        } else if (c == acu->sreg[S_CR_CHAR]) {
            acu->line[acu->line_length] = 0;
            acu->command_error = 0;
            acu->post_line_delay = acu->fax_class == 1 ? POST_LINE_DELAY_FAX : acu->post_line_start;
            acu->report_ok = 1;
            acu->collector = COLLECT_COMPLETE;
            return;
        } else if (c >= 32 && c <= 126) {
            acu->line[acu->line_length++] = static_cast<char>(c);
            acu->line[acu->line_length] = 0;
            if (acu->line_length > AT_LINE_MAX) {
                PostCallEvent(acu, EV_TO_IDLE, 0);
                PostCallEvent(acu, EV_RESULT, RC_ERROR);
                acu->line_length = 0;
                acu->line[0] = 0;
                acu->collector = COLLECT_WAIT_PREFIX;
                return;
            }
        }
    }
}

void execute(AcuContext* acu)
{
    if (acu->post_line_delay != 0 && !acu->validation_active) {
        dte_cmd_in_clear(acu->dte);
        return;
    }
    int r = at_execute_step(acu);
    if (r != 0 || acu->command_error)
        acu->collector = COLLECT_REPORT;
}

void report(AcuContext* acu)
{
    if (acu->command_error) {
        acu->end_with_online = 0;
        PostCallEvent(acu, EV_RESULT, RC_ERROR);
    } else if (acu->reset_pending != 0) {
        acu_start_reset(acu, static_cast<uint8_t>(acu->reset_pending - 4));
    } else if (acu->report_ok) {
        PostCallEvent(acu, EV_RESULT, RC_OK);
    }
    acu->reset_pending = 0;
    if (acu->return_wait && !acu->command_error) {
        // O1/O3: the line returns once the retrain or renegotiation is over.
        acu->return_wait = 0;
        acu->collector = COLLECT_RETURN_ONLINE;
        return;
    }
    acu->return_wait = 0;
    if (acu->end_with_online && !acu->command_error) {
        acu->end_with_online = 0;
        PostCallEvent(acu, EV_RESULT, RC_CONNECT_REPORT);
        PostCallEvent(acu, EV_CONNECTED, 2);
        acu->seq.release_dte_pending = 1;
    } else if (acu->end_with_event2) {
        acu->end_with_event2 = 0;
        PostCallEvent(acu, EV_ORIGINATE, 0);
    } else {
        PostCallEvent(acu, EV_TO_IDLE, 0);
    }
    acu->collector = COLLECT_WAIT_PREFIX;
}

void return_online(AcuContext* acu)
{
    if (conn_line_ready(acu)) {
        // Back on line: the line ends with CONNECT and data resumes.
        acu->end_with_online = 0;
        PostCallEvent(acu, EV_RESULT, RC_CONNECT_REPORT);
        PostCallEvent(acu, EV_CONNECTED, 2);
        acu->seq.release_dte_pending = 1;
        acu->collector = COLLECT_WAIT_PREFIX;
        return;
    }
    if (acu->return_countdown == 0) {
        acu->end_with_online = 0;
        PostCallEvent(acu, EV_HANGUP, RC_NO_CARRIER);
        acu->collector = COLLECT_WAIT_PREFIX;
    }
}

}  // namespace

void at_echo(AcuContext* acu, uint8_t c)
{
    if (echo_on(acu))
        at_write_char(acu, c);
}

void at_update_dte_rate(AcuContext* acu)
{
    uint32_t rate = acu->set.fixed_rate ? acu->set.dte_rate : dte_get_baud_rate(acu->dte);
    acu->set.dte_rate = rate;
    uint8_t code;
    switch (rate) {
    case 300:
    case 600: code = 0; break;
    case 1200: code = 1; break;
    case 2400: code = 2; break;
    case 4800: code = 3; break;
    case 7200: code = 4; break;
    case 9600: code = 5; break;
    case 19200: code = 6; break;
    default: code = 7; break;
    }
    acu->sreg[S_DTE_FORMAT] = static_cast<uint8_t>((acu->sreg[S_DTE_FORMAT] & ~S23_RATE_CODE) | (code << 1));
    acu->set.high_rate = rate >= 2400 ? 1 : 0;
}

void CollectCommandLine(AcuContext* acu)
{
    // While the table dialogue runs it reads the command input; no new line is collected.
    if (acu->table_dialogue.mode != TABLE_MODE_OFF && acu->collector <= COLLECT_LINE)
        return;
    // A signal test runs until the next character, which only ends it (at_poll_dte_input takes it).
    if (acu->signal_test_running && acu->collector <= COLLECT_LINE)
        return;
    switch (acu->collector) {
    case COLLECT_WAIT_PREFIX: collect_prefix(acu); break;
    case COLLECT_LINE: collect_line(acu); break;
    case COLLECT_COMPLETE:
        at_begin_line(acu, acu->line);
        acu->collector = COLLECT_EXECUTE;
        break;
    case COLLECT_EXECUTE: execute(acu); break;
    case COLLECT_REPORT: report(acu); break;
    case COLLECT_PAUSED: break;  // the pause countdown resumes the line
    case COLLECT_RETURN_ONLINE: return_online(acu); break;
    default: acu->collector = COLLECT_WAIT_PREFIX; break;
    }
}

void at_poll_dte_input(AcuContext* acu)
{
    if (acu->table_dialogue.mode != TABLE_MODE_OFF || debug_signal_test_poll(acu))
        return;
    if (dte_cmd_in_count(acu->dte) != 0)
        PostCallEvent(acu, EV_DTE_INPUT, 0);
}

void acu_clamp_dte(AcuContext* acu)
{
    dte_clamp_begin(acu->dte);
    dte_from_clear(acu->dte);
    dte_to_clear(acu->dte);
    dte_clamp_on(acu->dte);
}

void acu_release_dte(AcuContext* acu)
{
    if (dte_cmd_out_pending(acu->dte) != 0)
        dte_wait_output_drained(acu);
    dte_clamp_release(acu->dte);
    dte_clamp_off(acu->dte);
}

// ---- on-line command detector ----

void at_escape_arm(AcuContext* acu)
{
    acu->escape_countdown = acu->sreg[S_ESCAPE_GUARD];
    acu->escape_divider = 0;
    acu->escape_pending = 1;
    acu->escape_state = 2;
}

void at_escape_reset(AcuContext* acu)
{
    if (acu->escape_reported)
        PostCallEvent(acu, EV_RESULT, RC_CONNECT_REPORT);
    acu->escape_reported = 0;
    acu->escape_pending = 0;
    acu->escape_countdown = 0;
    acu->escape_state = 0;
    dte_sniff_clear(acu->dte);
}

void at_escape_tick(AcuContext* acu)
{
    // One S12 unit is two ticks.
    if (acu->escape_countdown == 0)
        return;
    if (++acu->escape_divider < 2)
        return;
    acu->escape_divider = 0;
    if (--acu->escape_countdown == 0 && acu->escape_pending && !acu->escape_reported) {
        PostCallEvent(acu, EV_RESULT, RC_OK);
        acu->escape_reported = 1;
    }
}

void at_escape_step(AcuContext* acu)
{
    if (acu->escape_state == 1) {
        at_escape_arm(acu);
        return;
    }
    while (acu->escape_state >= 2 && dte_sniff_count(acu->dte) != 0) {
        uint8_t c = dte_sniff_get(acu->dte);
        switch (acu->escape_state) {
        case 2:
            if (c == 'A')
                acu->escape_state = 3;
            else if (c == 'a')
                acu->escape_state = 4;
            else
                at_escape_reset(acu);
            break;
        case 3:
        case 4:
            if ((acu->escape_state == 3 && c == 'T') || (acu->escape_state == 4 && c == 't')) {
                acu->line_length = 0;
                acu->line[0] = 0;
                acu->escape_state = 5;
            } else {
                at_escape_reset(acu);
            }
            break;
        case 5:
            if (c == acu->sreg[S_CR_CHAR]) {
                acu->line[acu->line_length] = 0;
                at_validation_mode(acu, 1);
                uint8_t error = at_run_stored_line(acu);
                at_validation_mode(acu, 0);
                if (error == 0) {
                    acu->escape_pending = 0;
                    acu->escape_state = 0;
                    acu->collector = COLLECT_COMPLETE;  // run it for real in command state
                } else {
                    acu->command_error = 0;
                    at_escape_reset(acu);
                }
                return;
            }
            if (c == '\n' || c == '\r' || c == ' ')
                break;
            if (acu->line_length >= kEscapeLineMax) {
                at_escape_reset(acu);
                break;
            }
            acu->line[acu->line_length++] = static_cast<char>(c);
            break;
        default:
            at_escape_reset(acu);
            break;
        }
    }
}

void AtInterpreterInit(AcuContext* acu)
{
    std::memset(acu->line, 0, sizeof acu->line);
    std::memset(acu->args, 0, sizeof acu->args);
    acu->line_length = 0;
    acu->command_error = 0;
    acu->parser_state = 0;
    acu->cursor = acu->line;
    at_table_list_op(acu, TABLES_CLEAR, nullptr);
    at_table_list_op(acu, TABLES_ADD_FRONT, BasicCommands);
    at_table_list_op(acu, TABLES_ADD_FRONT, BasicCommands2);
    at_table_list_op(acu, TABLES_ADD_FRONT, V80AndV8Commands);
    at_table_list_op(acu, TABLES_ADD_FRONT, V253CommonCommands);
    at_table_list_op(acu, TABLES_ADD_FRONT, ExtendedCommands);
    // The service class starts as data; the modem offers class 1, so its commands are there from the start.
    acu->fax_class = 0;
    fax_engine_init(&acu->fax);
    fax_cmd_table_enable(acu, 1);
    fax_class1_cmd_table_enable(acu, 1);
    acu->saved_count = 0;
    acu->validation_active = 0;
    acu->debug_tables = 0;
    acu->collector = COLLECT_WAIT_PREFIX;
    acu->post_line_start = POST_LINE_DELAY_TICKS;
    acu->post_line_delay = 0;
    acu->sreg[S_CR_CHAR] = 13;
    acu->sreg[S_LF_CHAR] = 10;
    acu->sreg[S_BS_CHAR] = 8;
}
