// Connection control's glue: the request from the AT settings, the packets to the data pump, the status
// poll and the connection-control step, the read-back of the connection's modulation and rates, and the
// retrain, renegotiation and clear-down requests.
#include <cstring>

#include "layer2/corecode/cmd/at_ext.h"
#include "layer2/corecode/cmd/at_output.h"
#include "layer2/corecode/cmd/at_ticks.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/cmd/conn_control.h"
#include "layer2/corecode/mt/dsp_control.h"
#include "layer2/corecode/mt/dsp_device.h"
#include "layer2/corecode/mt/dsp_line_check.h"
#include "layer2/corecode/mt/dsp_link.h"
#include "platform/dbg.h"
#include "window/icd_codes.h"
#include "window/register_map.h"

namespace {

constexpr uint16_t kRetrainTicks = 2000;
constexpr uint16_t kRetrainTicksPcm = 9000;
constexpr uint16_t kRenegTicks = 301;
constexpr uint16_t kRenegTicksPcm = 501;
constexpr uint16_t kInactivityGuard = 500;
constexpr uint16_t kRaiseTicks = 501;
constexpr uint16_t kFallTicks = 101;
constexpr uint8_t kDisconnectDropping = 18;
constexpr uint8_t kDisconnectFailedTraining = 9;

DspLink* link_of(AcuContext* acu) { return acu->dsp != nullptr ? &acu->dsp->link : nullptr; }

int send(AcuContext* acu, uint8_t code, const uint8_t* payload, int length, uint8_t reply_mode = kReplyAck,
         uint8_t* reply = nullptr)
{
    DspLink* link = link_of(acu);
    if (link == nullptr)
        return kIcdNotTaken;
    return dsp_send_command(link, code, payload, length, reply_mode, reply);
}

uint8_t pump_state(AcuContext* acu) { return acu_pump_state(acu); }

void log_entry(AcuContext* acu, const char* text, uint32_t tx = 0, uint32_t rx = 0)
{
    connlog_add(&acu->conn.log, acu_now_ms(), static_cast<uint16_t>(tx), static_cast<uint16_t>(rx), text);
}

bool modulation_allowed(const AcuContext* acu, uint8_t code)
{
    const int row = ms_row_of_code(code);
    return row >= 0 && acu->ext.ma_selected[row] != 0;
}

uint16_t retrain_ticks(uint8_t modulation) { return modulation == MOD_V90 ? kRetrainTicksPcm : kRetrainTicks; }
uint16_t reneg_ticks(uint8_t modulation) { return modulation == MOD_V90 ? kRenegTicksPcm : kRenegTicks; }

// The modulation's lowest and highest rates (its +MS row).
void modulation_limits(uint8_t modulation, uint32_t* low, uint32_t* high)
{
    const int row = ms_row_of_code(modulation);
    *low = row >= 0 ? MsModulation[row].tx_min : 0;
    *high = row >= 0 ? MsModulation[row].tx_max : 0;
}

void query_mode(AcuContext* acu)
{
    uint8_t reply[16] = {};
    if (send(acu, IcdQueryMode, nullptr, 0, kReplyExpected, reply) != kIcdSent)
        return;
    ConnControl& c = acu->conn;
    c.modulation = conn_decode_mode(reply[0], c.modulation, modulation_allowed(acu, MOD_V32BIS));
    if (c.modulation < 25)
        c.disconnect_reason = c.half_duplex ? 66 : 62;
}

void query_rates(AcuContext* acu)
{
    ConnControl& c = acu->conn;
    uint8_t reply[16] = {};
    uint32_t tx = 0;
    uint32_t rx = 0;
    if (c.modulation == MOD_V34 || c.modulation == MOD_V90) {
        if (send(acu, IcdQueryLinkParams, nullptr, 0, kReplyExpected, reply) != kIcdSent)
            return;
        if (c.modulation == MOD_V34)
            conn_decode_v34_rates(reply, c.originate != 0, &tx, &rx);
        else
            conn_decode_pcm_rates(reply, &tx, &rx, &c.v92);
    } else {
        if (send(acu, IcdQueryRate, nullptr, 0, kReplyExpected, reply) != kIcdSent)
            return;
        conn_decode_rate_byte(reply[0], &tx, &rx);
    }
    c.last_tx_rate = c.tx_rate;
    c.last_rx_rate = c.rx_rate;
    c.tx_rate = tx;
    c.rx_rate = rx;
    if (c.initial_tx_rate == 0 && c.initial_rx_rate == 0) {
        c.initial_tx_rate = tx;
        c.initial_rx_rate = rx;
    }
}

// The data pump reported a connection (state 2) while this side asked for one.
void note_connected(AcuContext* acu)
{
    ConnControl& c = acu->conn;
    c.retrain_timer = 0;
    if (!c.requested)
        return;
    c.connected = 1;
    c.disconnect_reason = 2;
    c.link_up = 1;
    if (c.modulation == MOD_V21 || c.modulation == MOD_V17)
        c.half_duplex = 1;
    const uint32_t rate = c.rx_rate != 0 ? c.rx_rate : c.tx_rate;
    if (c.first_rate == 0 || c.first_rate == rate) {
        c.first_rate = rate;
        ++c.connects_first_rate;
    } else {
        ++c.connects_other_rate;
    }
    if (c.modulation != MOD_V90)
        c.ec_mode = conn_sync_access_requested(acu) ? 9 : 0;
}

// The call-waiting watch starts while the caller-ID reception is idle or finished.
void watch_call_waiting(AcuContext* acu)
{
    const uint8_t capture = acu->ext.cid_capture;
    if (capture == CID_CAPTURE_IDLE || capture == CID_CAPTURE_DONE)
        conn_reset_call_waiting(acu, kEventFlagCallWaiting);
}

// The status poll: the data pump's connection state, once per tick.
void poll_status(AcuContext* acu)
{
    ConnControl& c = acu->conn;
    const uint8_t state = pump_state(acu);
    if (state == c.pump_state)
        return;
    if (state == PUMP_RETRAINING && !c.connection_reported)
        return;  // a retrain before any connection changes nothing
    if (state != PUMP_CONNECTED) {
        c.inactivity_guard = kInactivityGuard;
        c.rx_frames = 0;
    }
    switch (state) {
    case PUMP_IDLE:
        if (c.connection_reported)
            c.link_up = 0;
        c.connected = 0;
        break;
    case PUMP_CONNECTED:
        c.retrain_timer = 0;
        c.reneg_timer = 0;
        // Back in data (not after a renegotiation, which never stopped the watch): call waiting is watched again.
        if (c.connection_reported && c.pump_state != PUMP_RENEGOTIATING)
            watch_call_waiting(acu);
        if (c.state == CONN_RETRAINING || c.state == CONN_RENEGOTIATING) {
            // Back in data after a retrain or renegotiation: the rates may have changed.
            c.state = CONN_CONNECTED;
            c.raise_countdown = 0;
            c.fall_countdown = 0;
            query_rates(acu);
            log_entry(acu, "Connected", c.tx_rate, c.rx_rate);
            at_diag_connected(acu);
        }
        break;
    case PUMP_RETRAINING:
        ++c.retrains;
        if (c.state == CONN_RETRAINING) {
            ++c.retrains_own;
        } else {
            c.retrain_timer = retrain_ticks(c.modulation);
            c.post_retrain_countdown = kRaiseTicks;
            conn_reset_call_waiting(acu, 0);  // the far end retrains: its signals are no call-waiting tone
        }
        c.state = CONN_RETRAINING;
        log_entry(acu, "Retrain");
        break;
    case PUMP_DROPPING:
        if (c.disconnect_code == 0)
            c.disconnect_code = kDisconnectDropping;
        c.state = CONN_CLEAR_REQUESTED;
        break;
    case PUMP_RENEGOTIATING:
        // This side's own request was counted when it was sent (the V.32bis pump renegotiates without
        // leaving state 2, so the state is not always seen); here only the far end's.
        if (c.state != CONN_RENEGOTIATING) {
            ++c.renegotiations;
            c.reneg_timer = reneg_ticks(c.modulation);
            log_entry(acu, "Renegotiate");
        }
        c.state = CONN_RENEGOTIATING;
        break;
    default:
        break;
    }
    c.pump_state = state;
}

// The rate monitor: every 10 ticks while connected at V.22bis and above (not V.90).
void rate_monitor(AcuContext* acu)
{
    ConnControl& c = acu->conn;
    if (c.modulation < MOD_V22BIS || c.modulation == MOD_V90)
        return;
    if (++c.monitor_divider < 10)
        return;
    c.monitor_divider = 0;
    const uint8_t quality = c.quality = conn_line_quality(acu);
    if (!c.auto_rate && !c.second_rate_option)
        return;
    uint32_t low = 0;
    uint32_t high = 0;
    modulation_limits(c.modulation, &low, &high);
    const uint32_t rate = c.tx_rate;
    switch (quality) {
    case 0:
        c.fall_countdown = 0;
        if (c.auto_rate && rate != c.last_raised_rate && rate < high && c.modulation > MOD_V33) {
            if (c.raise_countdown == 0)
                c.raise_countdown = kRaiseTicks;
            else if (c.raise_countdown == 1) {
                c.raise_countdown = 0;
                c.last_raised_rate = rate;
                conn_request_renegotiation(acu, rate + 2400);
            }
        }
        break;
    case 1:
    case 2:
        c.raise_countdown = 0;
        c.fall_countdown = 0;
        break;
    default:
        c.raise_countdown = 0;
        if (c.fall_countdown == 0)
            c.fall_countdown = kFallTicks;
        else if (c.fall_countdown == 1 && !c.second_rate_option && low < rate) {
            c.fall_countdown = 0;
            c.last_lowered_rate = rate;
            conn_request_renegotiation(acu, rate - 2400);
        }
        break;
    }
}

// A retrain or renegotiation that does not come back to data before its timer runs out ends the call.
void training_check(AcuContext* acu, bool renegotiation)
{
    ConnControl& c = acu->conn;
    const uint8_t state = pump_state(acu);
    if (state == PUMP_CONNECTED || state == PUMP_TEST_REQUEST) {
        c.raise_countdown = 0;
        c.fall_countdown = 0;
        c.state = CONN_CONNECTED;
        return;
    }
    const uint16_t timer = renegotiation ? c.reneg_timer : c.retrain_timer;
    if (timer == 1) {
        c.disconnect_reason = renegotiation ? 63 : 61;
        c.disconnect_code = kDisconnectFailedTraining;
        c.state = CONN_CLEAR_REQUESTED;
    }
}

template <typename T>
void count_down_to_one(T* value)
{
    if (*value > 1)
        --*value;
}

}  // namespace

void conn_reset(AcuContext* acu)
{
    ConnControl& c = acu->conn;
    std::memset(&c, 0, sizeof c);
    c.modulation = MOD_NONE;
    moh_reset(acu);
    qc_arm(acu, 0);
    conn_reset_call_waiting(acu, 0);
}

int conn_send_packet(AcuContext* acu, uint8_t code, const uint8_t* payload, int length)
{
    return send(acu, code, payload, length);
}

void conn_log(AcuContext* acu, const char* text, uint32_t tx_rate, uint32_t rx_rate)
{
    log_entry(acu, text, tx_rate, rx_rate);
}

bool conn_sync_access_requested(const AcuContext* acu)
{
    const bool originate = acu->conn.originate != 0;
    return originate ? acu->set.es[0] > 4 : acu->set.es[2] > 6;
}

void conn_connected(AcuContext* acu)
{
    ConnControl& c = acu->conn;
    if (c.v8_exchange)
        conn_v8_end(acu);  // the pump went on without the menus (a V.32bis caller's tone, or the fall-back)
    query_mode(acu);
    query_rates(acu);
    note_connected(acu);
    c.connection_reported = 1;
    c.pump_state = PUMP_CONNECTED;
    c.state = CONN_CONNECTED;
    qc_arm(acu, 0);
    acu->modulation = c.modulation;
    conn_mark_modulation_family(acu, c.modulation, true);
    acu->v92_marks = c.v92;
    acu->line_rate = c.rx_rate;
    acu->connect_rate = c.rx_rate;
    log_entry(acu, "Connected", c.tx_rate, c.rx_rate);
    at_diag_connected(acu);
    DbgPrint("Connected\n");
    watch_call_waiting(acu);
}

void conn_step(AcuContext* acu)
{
    ConnControl& c = acu->conn;
    if (acu->dsp == nullptr)
        return;
    poll_status(acu);
    at_diag_statistics(acu);
    switch (c.state) {
    case CONN_ORIGINATING:
    case CONN_ANSWERING:
        conn_v8_step(acu);
        break;
    case CONN_CONNECTED: {
        const uint8_t s = c.pump_state;
        if (s != PUMP_TEST_LOOP && s != PUMP_RETRAINING && s != PUMP_RENEGOTIATING)
            rate_monitor(acu);
        break;
    }
    case CONN_CLEAR_REQUESTED:
        c.connected = 0;
        c.link_up = 0;
        c.state = CONN_CLEARED;
        conn_reset_call_waiting(acu, 0);
        moh_reset(acu);
        qc_arm(acu, 0);
        break;
    case CONN_CLEARED:
    case CONN_FAX_CLEARED:
        if (c.pump_state == PUMP_IDLE)
            c.state = CONN_IDLE;
        break;
    case CONN_RETRAINING:
        training_check(acu, false);
        break;
    case CONN_RENEGOTIATING:
        training_check(acu, true);
        break;
    case CONN_FAX_ORIGINATE:
    case CONN_FAX_ANSWER:
        if (c.pump_state == PUMP_FAX_CONNECTED)
            c.state = CONN_FAX_CONNECTED;
        break;
    case CONN_FAX_CONNECTED:
        if (c.pump_state == PUMP_IDLE)
            c.state = CONN_FAX_CLEARED;
        break;
    default:
        break;
    }
    moh_step(acu);
    qc_step(acu);
}

void conn_tick_10ms(AcuContext* acu)
{
    moh_qc_tick_10ms(acu);
    ConnControl& c = acu->conn;
    count_down_to_one(&c.raise_countdown);
    count_down_to_one(&c.fall_countdown);
    count_down_to_one(&c.post_retrain_countdown);
    count_down_to_one(&c.retrain_timer);
    count_down_to_one(&c.reneg_timer);
    if (c.v8_countdown > 0)
        --c.v8_countdown;
    if (c.inactivity_guard > 0)
        --c.inactivity_guard;
    conn_fax_tick(acu);
}

bool conn_request_retrain(AcuContext* acu)
{
    ConnControl& c = acu->conn;
    const uint8_t state = pump_state(acu);
    const bool connected = state == PUMP_CONNECTED || state == PUMP_RENEGOTIATING;
    if (!connected || c.modulation < MOD_V22BIS || c.modulation == MOD_NONE)
        return false;
    c.state = CONN_RETRAINING;
    send(acu, IcdRetrain, nullptr, 0);
    c.retrain_timer = retrain_ticks(c.modulation);
    return true;
}

bool conn_request_renegotiation(AcuContext* acu, uint32_t rate)
{
    ConnControl& c = acu->conn;
    const uint8_t state = pump_state(acu);
    if ((state != PUMP_CONNECTED && state != PUMP_RENEGOTIATING) || c.modulation <= MOD_V33 ||
        c.modulation == MOD_NONE)
        return false;
    c.state = CONN_RENEGOTIATING;
    const uint8_t payload[2] = {conn_rate_code_table(rate), 0};
    send(acu, IcdRenegotiate, payload, 2);
    c.reneg_timer = reneg_ticks(c.modulation);
    ++c.renegotiations;
    ++c.renegotiations_own;
    log_entry(acu, "Renegotiate");
    return true;
}

void conn_hangup(AcuContext* acu, int cleardown)
{
    ConnControl& c = acu->conn;
    if (acu->dsp == nullptr)
        return;
    conn_v8_end(acu);
    conn_reset_call_waiting(acu, 0);
    conn_save_timing_offset(acu);
    if (c.state != CONN_IDLE || c.connection_reported)
        log_entry(acu, "Hangup");
    if (pump_state(acu) != PUMP_IDLE && cleardown == 1 && c.connection_reported) {
        switch (c.modulation) {
        case MOD_V32:
            return;
        case MOD_V32BIS:
        case MOD_V34:
        case MOD_V90:
            c.last_tx_rate = c.tx_rate;
            c.last_rx_rate = c.rx_rate;
            return;
        default:
            break;
        }
    }
    c.state = CONN_CLEAR_REQUESTED;
}

bool conn_carrier_detect(AcuContext* acu)
{
    // A retrain or renegotiation in progress keeps the carrier while its timer runs.
    return acu_carrier_present(acu) || acu->conn.retrain_timer > 1 || acu->conn.reneg_timer > 1;
}

int conn_dsp_linked(AcuContext* acu)
{
    const uint8_t state = pump_state(acu);
    return state == PUMP_LINKED || state == PUMP_CONNECTED ? 1 : 0;
}

void conn_count_rx_frame(AcuContext* acu) { ++acu->conn.rx_frames; }

uint8_t conn_line_quality(AcuContext* acu)
{
    ConnControl& c = acu->conn;
    DspLink* link = link_of(acu);
    if (link == nullptr)
        return 0;
    uint8_t verdict;
    if (c.modulation != MOD_V34) {
        verdict = static_cast<uint8_t>((dsp_reg_read(link, kRegLineQuality) >> 3) & 3);
    } else {
        uint8_t reply[16] = {};
        if (send(acu, IcdQueryLinkParams, nullptr, 0, kReplyExpected, reply) != kIcdSent)
            return c.quality;
        c.quality_a = static_cast<uint16_t>(reply[0] | (reply[1] << 8));
        c.quality_b = static_cast<uint16_t>(reply[4] | (reply[5] << 8));
        verdict = conn_v34_quality(c.quality_a, c.quality_b, false);
    }
    if (acu->seq.last_ec_status == 6 && c.inactivity_guard == 0) {
        if (c.rx_frames >= 16) {
            verdict = 2;
        } else {
            c.rx_frames = 0;
            c.inactivity_guard = kInactivityGuard;
        }
    }
    return verdict;
}

void conn_print_log(AcuContext* acu)
{
    connlog_print(&acu->conn.log, [](void* ctx, const char* text, uint8_t mode) {
        PrintToDte(static_cast<AcuContext*>(ctx), text, mode);
    }, acu);
}

void conn_status_facts(const AcuContext* acu, DspConnectionFacts* facts)
{
    const ConnControl& c = acu->conn;
    *facts = DspConnectionFacts{};
    facts->modulation = c.modulation;
    facts->v92 = c.v92;
    facts->txRate = c.tx_rate;
    facts->rxRate = c.rx_rate;
    facts->retrains = c.retrains;
    facts->renegotiations = c.renegotiations;
}
