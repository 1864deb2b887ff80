// Connection control's start packets: the request built from the AT settings, the first packet of a call (the
// call's procedure, with the V.8 exchange made ready when it runs) and the second one that carries a V.8 call
// on to the modulation the menus chose.
#include "layer2/corecode/cmd/at_ext.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/cmd/conn_control.h"
#include "window/icd_codes.h"

ConnRequest conn_request_from_settings(const AcuContext* acu, bool originate)
{
    ConnRequest r{};
    const AtExtSettings& e = acu->ext;
    r.modulation = MsModulation[e.ms_row < MS_ROWS ? e.ms_row : 0].code;
    for (unsigned k = 0; k < MS_ROWS; ++k)
        if (e.ma_selected[k])
            r.allowed |= 1u << MsModulation[k].code;
    r.allowed |= 1u << r.modulation;
    r.tx_min = e.ms_limit[0];
    r.tx_max = e.ms_limit[1];
    r.rx_min = e.ms_limit[2];
    r.rx_max = e.ms_limit[3];
    r.first_rate_value = e.ms_rate[0];
    r.second_rate_value = e.ms_rate[1];
    r.fax_or_voice = acu->fax_class != 0 ? 1 : 0;
    // A fax call runs the single-tone procedure: the calling tone out and the answer tone in (originating),
    // the answer tone out (answering); the data pump reports the fax connection when the tone has ended.
    r.single_tone = acu->fax_class != 0 && acu->fax_class != 8 ? 1 : 0;
    r.line_options = acu->set.line_options;
    r.calling_tone = acu->set.dash_c != 0 ? 1 : 0;
    r.originate = originate ? 1 : 0;
    r.automode = e.ms_automode != 0 ? 1 : 0;
    r.percent_e = acu->set.pct_e != 0 ? 1 : 0;
    // The controller carries no V.90 capability of its own: PCM is offered only through +MS.
    r.pcm_configured = r.modulation == MOD_V90 ? 1 : 0;
    r.v8_exchange = conn_v8_wanted(acu, originate) ? 1 : 0;
    return r;
}

namespace {

// The rate masks (modulations above V.22bis) and the start packet of a request.
int send_request(AcuContext* acu, const ConnRequest& r, ConnChoice* choice)
{
    *choice = conn_choose(r);
    if (choice->modulation > MOD_V22BIS && !r.fax_or_voice) {
        uint8_t masks[kRateMaskLength];
        conn_build_rate_masks(r, masks);
        conn_send_packet(acu, IcdSetPumpOptions, masks, kRateMaskLength);
    }
    uint8_t packet[kStartPacketLength];
    conn_build_start_packet(r, *choice, packet);
    return conn_send_packet(acu, packet[0], packet + 4, packet[2]);
}

}  // namespace

int conn_send_start_packet(AcuContext* acu, bool originate)
{
    ConnControl& c = acu->conn;
    const ConnRequest r = conn_request_from_settings(acu, originate);
    conn_restore_timing_offset(acu);
    // The start-up path is ready before the data pump starts, so no octet of the far end's menu is missed; a
    // call without the V.8 procedure leaves nothing of an earlier one on it.
    if (r.v8_exchange)
        conn_v8_begin(acu, originate);
    else
        conn_v8_end(acu);
    ConnChoice choice{};
    const int result = send_request(acu, r, &choice);
    // A new connection starts with fresh statistics, timers and flags.
    c.retrain_timer = 0;
    c.reneg_timer = 0;
    c.raise_countdown = 0;
    c.fall_countdown = 0;
    c.post_retrain_countdown = 0;
    c.connected = 0;
    c.connection_reported = 0;
    c.link_up = 0;
    c.half_duplex = 0;
    c.first_rate = 0;
    c.tx_rate = c.rx_rate = c.last_tx_rate = c.last_rx_rate = 0;
    c.initial_tx_rate = c.initial_rx_rate = 0;
    c.disconnect_code = 0;
    c.disconnect_reason = 0;
    c.pump_state = PUMP_IDLE;
    c.originate = originate ? 1 : 0;
    c.requested = 1;
    c.requested_modulation = r.modulation;
    c.modulation = choice.modulation;
    c.state = originate ? CONN_ORIGINATING : CONN_ANSWERING;
    c.v8_capable = r.v8_exchange;
    connlog_reset(&c.log);
    conn_log(acu, originate ? "Originate" : "Answer");
    return result;
}

int conn_send_v8_choice(AcuContext* acu, uint8_t modulation)
{
    ConnControl& c = acu->conn;
    ConnRequest r = conn_request_from_settings(acu, c.originate != 0);
    r.modulation = modulation;
    r.allowed |= 1u << (modulation & 31u);
    r.v8_exchange = 1;
    r.v8_continue = 1;
    ConnChoice choice{};
    const int result = send_request(acu, r, &choice);
    c.modulation = choice.modulation;
    conn_log(acu, "V.8");
    return result;
}
