// BasicCommands2: speaker, return on line, call-progress set, the "\", "%", "-", quote and ")" options, flow
// control and the loop-back test commands.
#include "layer2/corecode/cmd/at_basic_util.h"
#include "layer2/corecode/cmd/at_output.h"
#include "layer2/corecode/cmd/at_scan.h"
#include "layer2/corecode/cmd/at_tables.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/cmd/conn_control.h"
#include "layer2/corecode/cmd/modem_hold.h"

void at_apply_ifc(AcuContext* acu, uint8_t a, uint8_t b)
{
    acu->set.ifc[0] = a;
    acu->set.ifc[1] = b;
}

namespace {

// Stores a byte setting after a range check.
void store(AcuContext* acu, const uint8_t* args, uint8_t max, uint8_t* field)
{
    if (!at_refuse_above(acu, args, max))
        *field = args[0];
}

void at_L(AcuContext* acu, uint8_t* args)
{
    if (acu_voice(acu) || at_refuse_above(acu, args, 3)) {
        at_set_error(acu);
        return;
    }
    at_sreg_field(acu, 22, 0x03, args[0]);
    // The speaker volume goes to the DSP link when it exists.
}

void at_M(AcuContext* acu, uint8_t* args)
{
    if (acu_voice(acu) || at_refuse_above(acu, args, 3)) {
        at_set_error(acu);
        return;
    }
    at_sreg_field(acu, 22, 0x0C, static_cast<uint8_t>(args[0] << 2));
}

// How long "O1" and "O3" wait for the line to be ready again, in ticks. The V.34 and PCM waits would follow the
// connection's timing byte, which the data pump does not report: their defaults apply.
uint16_t return_ticks(uint8_t modulation)
{
    if (modulation == 18)
        return 3000;
    if (modulation == 23)
        return 9000;
    return 1500;
}

// O1 asks for a retrain, O3 for a renegotiation at the current rate (modulation 16 and above). The data pump
// retrains nothing below V.32 (it would report a retrain without end for V.22bis and the call would be lost),
// so O1 needs a modulation above 7.
bool request_line_change(AcuContext* acu, uint8_t v)
{
    const uint8_t modulation = acu->conn.modulation;
    if (v == 1)
        return modulation > 7 && conn_request_retrain(acu);
    return modulation >= 16 && conn_request_renegotiation(acu, acu->conn.tx_rate);
}

void at_O(AcuContext* acu, uint8_t* args)
{
    uint8_t v = args[0];
    if (acu_voice(acu) || (v != 0 && v != 1 && v != 3)) {
        at_set_error(acu);
        return;
    }
    // Off line with the line idle on hook there is nothing to return to.
    if (!acu->online) {
        at_set_error(acu);
        return;
    }
    // The return is marked for modem on hold too: a granted hold waits for it to reconnect.
    if (v == 0)
        moh_set_flags(acu, kHoldReturnAsked);
    if (acu->state_variant[CALL_IDLE] == 1) {
        // The connection is held after an escape: the line ends with CONNECT and data resumes; O1 and O3
        // first retrain or renegotiate and the line waits until the data pump is connected again.
        if (v != 0) {
            if (!request_line_change(acu, v)) {
                at_set_error(acu);
                return;
            }
            acu->return_countdown = return_ticks(acu->conn.modulation);
            acu->return_wait = 1;
        }
        acu->end_with_online = 1;
        acu->report_ok = 0;
        return;
    }
    PostCallEvent(acu, EV_ORIGINATE, 2);
}

void at_X(AcuContext* acu, uint8_t* args)
{
    static const uint8_t kBits[5] = {0, 4, 5, 6, 7};
    if (at_refuse_above(acu, args, 4))
        return;
    at_sreg_field(acu, 22, 0x70, static_cast<uint8_t>(kBits[args[0]] << 4));
    acu->set.x = args[0];
}

void at_Y(AcuContext* acu, uint8_t* args)
{
    if (!at_refuse_above(acu, args, 1))
        at_sreg_bit(acu, 21, 7, args[0] == 1);
}

void at_bs_I(AcuContext* acu, uint8_t* args) { at_refuse_above(acu, args, 0); }

void at_bs_G(AcuContext* acu, uint8_t* args)
{
    store(acu, args, 1, &acu->set.bs_g);
    acu->set.ec_changed = 1;
}

void at_bs_J(AcuContext* acu, uint8_t* args) { store(acu, args, 1, &acu->set.bs_j); }

void flow_as_k4(AcuContext* acu)
{
    if (acu->set.bs_x == 1)
        at_apply_ifc(acu, 3, 1);
    else
        at_apply_ifc(acu, 1, 1);
}

void at_amp_K(AcuContext* acu, uint8_t* args)
{
    switch (args[0]) {
    case 0: at_apply_ifc(acu, 0, 0); break;
    case 3: at_apply_ifc(acu, 2, 2); break;
    case 4: flow_as_k4(acu); break;
    default: at_set_error(acu); return;
    }
    acu->set.amp_k = args[0];
}

void at_bs_Q(AcuContext* acu, uint8_t* args)
{
    switch (args[0]) {
    case 0: at_apply_ifc(acu, 0, 0); break;
    case 1: flow_as_k4(acu); break;
    case 2: at_apply_ifc(acu, 2, 0); break;
    case 3: at_apply_ifc(acu, 2, 2); break;
    default: at_set_error(acu); break;
    }
}

void at_bs_V(AcuContext* acu, uint8_t* args) { store(acu, args, 1, &acu->set.bs_v); }

void at_bs_X(AcuContext* acu, uint8_t* args)
{
    if (at_refuse_above(acu, args, 1))
        return;
    acu->set.bs_x = args[0];
    if (args[0] == 0 && acu->set.ifc[0] == 3)
        at_apply_ifc(acu, 1, 1);
    else if (args[0] == 1 && acu->set.ifc[0] == 1)
        at_apply_ifc(acu, 3, 1);
}

void at_dash_C(AcuContext* acu, uint8_t* args)
{
    if (at_refuse_above(acu, args, 2) || acu_fax8(acu))
        return;
    acu->set.dash_c = args[0];
    if (args[0] != 0)
        acu->set.line_options |= 0x08;
    else
        acu->set.line_options &= static_cast<uint8_t>(~0x08);
}

// Loop-back tests come with the test sequences; until then a test cannot be started.
void at_test_start(AcuContext* acu, uint8_t* args)
{
    (void)args;
    at_set_error(acu);
}

namespace {

constexpr uint8_t kS16LocalDigital = 0x04;
constexpr uint8_t kS16Remote = 0x08;
constexpr uint8_t kS16RemoteSelf = 0x20;

// &T3: the local digital loop on the held connection; the command's "OK" comes from the result event.
void start_digital_loop(AcuContext* acu)
{
    if (!acu_digital_loop_possible(acu)) {
        at_set_error(acu);
        return;
    }
    acu->sreg[16] |= kS16LocalDigital;
    acu->seq.test_kind = TEST_DIGITAL;
    acu->test_state = TEST_DIGITAL;
    acu->report_ok = 0;
    PostCallEvent(acu, EV_RESULT, RC_OK);
    PostCallEvent(acu, EV_TEST, 0);
}

// &T6 and &T7: the remote digital loop on the held connection, above 300 bit/s.
void start_remote_loop(AcuContext* acu, uint8_t kind)
{
    if (!acu_digital_loop_possible(acu) || acu->conn.tx_rate <= 300) {
        at_set_error(acu);
        return;
    }
    if (kind == TEST_REMOTE)
        acu->sreg[16] |= kS16Remote;
    else
        acu->sreg[16] = static_cast<uint8_t>((acu->sreg[16] & ~(kS16Remote | 0x10)) | kS16RemoteSelf);
    acu->seq.test_kind = kind;
    acu->test_state = kind;
    acu->report_ok = 0;
    PostCallEvent(acu, EV_TEST, 0);
}

}  // namespace

void at_amp_T(AcuContext* acu, uint8_t* args)
{
    switch (args[0]) {
    case 0:
        if (acu->seq.digital_loop)
            acu_digital_loop_stop(acu);  // the loop of a held connection ends here; the call stays held
        else if (acu->test_state != 0)
            PostCallEvent(acu, EV_HANGUP, 0);
        break;
    case 1:
    case 8:
        // Analog loop (8: with the self-test pattern); the end of the test reports the result.
        if (acu->online || acu->test_state != 0) {
            at_set_error(acu);
            break;
        }
        acu->report_ok = 0;
        acu_request_test(acu, args[0]);
        break;
    case 3: start_digital_loop(acu); break;
    case 4: at_sreg_bit(acu, 23, 0, true); break;
    case 5: at_sreg_bit(acu, 23, 0, false); break;
    case 6:
    case 7: start_remote_loop(acu, args[0]); break;
    default: at_set_error(acu); break;
    }
}

void at_C(AcuContext* acu, uint8_t* args)
{
    if (args[0] != 1)
        at_set_error(acu);
}

void at_amp_G(AcuContext* acu, uint8_t* args)
{
    if (at_refuse_above(acu, args, 2))
        return;
    uint8_t bits = args[0] == 1 ? 0x40 : args[0] == 2 ? 0x80 : 0;
    at_sreg_field(acu, 23, 0xC0, bits);
}

void at_amp_U(AcuContext* acu, uint8_t* args)
{
    if (at_refuse_above(acu, args, 1))
        return;
    acu->set.amp_u = args[0];
    if (args[0])
        acu->set.line_options |= 0x02;
    else
        acu->set.line_options &= static_cast<uint8_t>(~0x02);
}

void at_bs_A(AcuContext* acu, uint8_t* args)
{
    store(acu, args, 4, &acu->set.bs_a);
    acu->set.ec_changed = 1;
}

void at_bs_B(AcuContext* acu, uint8_t* args)
{
    if (at_refuse_above(acu, args, 9))
        return;
    if (!acu->online) {
        PostCallEvent(acu, EV_TO_IDLE, 0);
        PostCallEvent(acu, EV_RESULT, RC_NO_CARRIER);
        return;
    }
    // Sending the break on line comes with the data link.
    if (args[0] != 0)
        acu->set.break_length = static_cast<uint8_t>(args[0] * 10);
    else if (acu->set.break_length == 0)
        acu->set.break_length = 30;
    acu->set.break_timed = 1;
}

void at_bs_K(AcuContext* acu, uint8_t* args)
{
    if (at_refuse_above(acu, args, 5))
        return;
    static const uint8_t kType[6] = {1, 1, 2, 2, 3, 3};
    acu->set.break_type = kType[args[0]];
    acu->set.break_destructive = (args[0] % 2) == 0 ? 1 : 0;
    acu->set.ec_changed = 1;
}

void at_bs_N(AcuContext* acu, uint8_t* args)
{
    uint8_t v = args[0];
    if (v > 6 || acu->online || (v == 1 && !acu->set.n1_allowed)) {
        at_set_error(acu);
        return;
    }
    uint8_t* es = acu->set.es;
    switch (v) {
    case 0: es[0] = 1; es[1] = 0; es[2] = 1; break;
    case 1: es[0] = 0; es[1] = 1; es[2] = 0; break;
    case 2: es[0] = 4; es[1] = 4; es[2] = 6; break;
    case 3: es[0] = 3; es[1] = 0; es[2] = 2; break;
    case 4: es[0] = acu->set.dash_j ? 3 : 2; es[1] = 2; es[2] = 4; break;
    case 5: es[0] = 2; es[1] = 3; es[2] = 5; break;
    default: es[0] = 6; es[2] = 8; break;  // the \N6 mode of the data link comes with it
    }
    acu->set.bs_n = v;
}

void at_bs_T(AcuContext* acu, uint8_t* args)
{
    if (at_refuse_above(acu, args, 90))
        return;
    acu->sreg[S_INACTIVITY_TIME] = args[0];
    acu->set.ec_changed = 1;
}

void at_dash_J(AcuContext* acu, uint8_t* args) { store(acu, args, 1, &acu->set.dash_j); }
void at_bs_C(AcuContext* acu, uint8_t* args) { store(acu, args, 2, &acu->set.bs_c); }

void at_bs_L(AcuContext* acu, uint8_t* args)
{
    if (!at_refuse_above(acu, args, 0))
        acu->set.bs_l = 0;
}

void at_pct_A(AcuContext* acu, uint8_t* args) { store(acu, args, 127, &acu->set.pct_a); }
void at_pct_C(AcuContext* acu, uint8_t* args) { store(acu, args, 1, &acu->set.pct_c); }

void at_pct_E(AcuContext* acu, uint8_t* args)
{
    if (at_refuse_above(acu, args, 1))
        return;
    acu->set.pct_e = args[0];
    if (args[0])
        acu->set.line_options |= 0x10;
    else
        acu->set.line_options &= static_cast<uint8_t>(~0x10);
}

void at_pct_G(AcuContext* acu, uint8_t* args)
{
    if (at_refuse_above(acu, args, 1))
        return;
    acu->set.pct_g = args[0];
    if (args[0])
        acu->set.line_options |= 0x20;
    else
        acu->set.line_options &= static_cast<uint8_t>(~0x20);
    acu->set.g_companion = (args[0] == 1 && acu->modulation > 15) ? 1 : 0;
}

void at_quote_H(AcuContext* acu, uint8_t* args)
{
    if (!at_refuse_above(acu, args, 3))
        acu->set.ds[0] = args[0];
}

void at_quote_N(AcuContext* acu, uint8_t* args)
{
    uint16_t v = at_arg_u16(args, 0);
    if (v < 512 || v > 2048)
        at_set_error(acu);
    else
        acu->set.ds[2] = v;
}

void at_quote_O(AcuContext* acu, uint8_t* args)
{
    if (args[0] < 6 || args[0] > 250)
        at_set_error(acu);
    else
        acu->set.ds[3] = args[0];
}

void at_paren_M(AcuContext* acu, uint8_t* args) { store(acu, args, 1, &acu->set.paren_m); }
void at_dash_Q(AcuContext* acu, uint8_t* args) { store(acu, args, 2, &acu->set.dash_q); }

// -B and -U send the DSP link's option command 0 or 1; a non-zero reply refuses.
void at_dash_B(AcuContext* acu, uint8_t* args)
{
    (void)args;
    if (acu->set.dsp_option_reply != 0)
        at_set_error(acu);
}

void at_dash_U(AcuContext* acu, uint8_t* args) { at_dash_B(acu, args); }

}  // namespace

// clang-format off
const AtCommandEntry BasicCommands2[] = {
    {"L", at_L, 1, 0, {}},
    {"M", at_M, 1, 0, {}},
    {"O", at_O, 1, 0, {}},
    {"Q", at_Q, 1, 0, {}},
    {"W", at_W, 1, 0, {}},
    {"X", at_X, 1, 0, {}},
    {"Y", at_Y, 1, 0, {}},
    {"\\I", at_bs_I, 1, 0, {}},
    {"\\G", at_bs_G, 1, 0, {}},
    {"\\J", at_bs_J, 1, 0, {}},
    {"&K", at_amp_K, 1, 0, {}},
    {"\\Q", at_bs_Q, 1, 0, {}},
    {"\\V", at_bs_V, 1, 0, {}},
    {"\\X", at_bs_X, 1, 0, {}},
    {"-C", at_dash_C, 1, 0, {}},
    {"&T1A", at_test_start, 0, 0, {}},
    {"&T1O", at_test_start, 0, 0, {}},
    {"&T8A", at_test_start, 0, 0, {}},
    {"&T8O", at_test_start, 0, 0, {}},
    {"&T", at_amp_T, 1, 0, {}},
    {"C", at_C, 1, 0, {}},
    {"&G", at_amp_G, 1, 0, {}},
    {"&U", at_amp_U, 1, 0, {}},
    {"\\A", at_bs_A, 1, 0, {}},
    {"\\B", at_bs_B, 1, 0, {}},
    {"\\K", at_bs_K, 1, 0, {}},
    {"\\N", at_bs_N, 1, 0, {}},
    {"\\T", at_bs_T, 1, 0, {}},
    {"-J", at_dash_J, 1, 0, {}},
    {"\\C", at_bs_C, 1, 0, {}},
    {"\\L", at_bs_L, 1, 0, {}},
    {"%A", at_pct_A, 1, 0, {}},
    {"%C", at_pct_C, 1, 0, {}},
    {"%E", at_pct_E, 1, 0, {}},
    {"%G", at_pct_G, 1, 0, {}},
    {"\"H", at_quote_H, 1, 0, {}},
    {"\"N", at_quote_N, 2, 0, {}},
    {"\"O", at_quote_O, 1, 0, {}},
    {")M", at_paren_M, 1, 0, {}},
    {"-Q", at_dash_Q, 1, 0, {}},
    {"-B", at_dash_B, 0, 0, {}},
    {"-U", at_dash_U, 0, 0, {}},
    {"", nullptr, 0, 0, {}},
};
// clang-format on
