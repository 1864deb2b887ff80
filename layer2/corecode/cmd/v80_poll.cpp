// Synchronous access in call control's task: the start at the connection (instead of error control), and the
// poll on each pass that moves received bytes to the application, decodes the application's stream into the
// line transmit ring, acts on its control codes and reports the link's changes in band.
#include "layer2/corecode/cmd/v80_poll.h"

#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/cmd/conn_control.h"
#include "layer2/corecode/dce/line_block.h"
#include "layer2/corecode/dce/v80.h"
#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/dte/dte_lock.h"
#include "window/icd_codes.h"

namespace {

constexpr uint8_t kLinkUp = 5;          // what ec_poll answers for a link without error control
constexpr uint8_t kLinkNegotiating = 1;
constexpr uint16_t kPace = 100;         // framed pacing: bytes that make the poll wait for more

LineBlock* line(AcuContext* acu) { return acu->dte != nullptr ? acu->dte->line_block : nullptr; }

void to_dte_pair(DteContext* d, uint8_t code)
{
    dte_to_put(d, V80_EM);
    dte_to_put(d, code);
}

void restart_framer(LineBlock* lb, uint8_t receive)
{
    const uint8_t payload[2] = {receive, 0};
    if (lb->host.send_packet != nullptr)
        lb->host.send_packet(lb->host.ctx, IcdRestartFramer, payload, 2);
}

// The transmitter runs again at the end of a turn, except while an underrun waits for the resume.
void kick(LineBlock* lb)
{
    if (lb->v80.underrun.load() == 0)
        lb_kick(lb);
}

void to_framed(LineBlock* lb)
{
    V80State* v = &lb->v80;
    lb_rx_reset(lb);
    v->frames_to_app = 0;
    v->rx_held = 0;
    v->rx_damaged = 0;
    v->framed = 1;
    v80_send_framing(lb);
    kick(lb);
}

void to_transparent(AcuContext* acu, LineBlock* lb)
{
    V80State* v = &lb->v80;
    v->framed = 0;
    v->frame_open = 0;
    v80_send_framing(lb);
    to_dte_pair(acu->dte, V80_UNDERRUN);
    kick(lb);
}

void hunt(LineBlock* lb)
{
    lb_rx_reset(lb);
    lb->v80.frames_to_app = 0;
    lb->v80.rx_held = 0;
    lb->v80.rx_damaged = 0;
    restart_framer(lb, 1);
}

// Codes that change the framing or end the call wait until what is before them has gone to the line: out of
// the line transmit ring, and out of the data pump too (a framing change or a hang-up would cut the chunk it
// still sends).
bool deferred_code(uint8_t code, bool framed)
{
    return code == V80_EOT || (framed ? (code == V80_MARK || code == V80_HUNT) : code == V80_FLAG);
}

void act(AcuContext* acu, LineBlock* lb, uint8_t code)
{
    V80State* v = &lb->v80;
    const bool framed = v->framed.load() != 0;
    switch (code) {
    case V80_FLAG:
        if (!framed)
            to_framed(lb);
        break;
    case V80_MARK:
        if (framed)
            to_transparent(acu, lb);
        break;
    case V80_HUNT:
        if (framed)
            hunt(lb);
        break;
    case V80_EOT:
        v->active = 0;
        acu_hang_up_no_carrier(acu);
        break;
    default:
        break;
    }
}

void rate_limit(LineBlock* lb, uint8_t a, uint8_t b)
{
    const uint8_t n = static_cast<uint8_t>((a < b ? a : b) & 0x0F);
    const uint32_t mask = n >= 32 ? 0xFFFFFFFFu : (1u << n) - 1u;
    const uint8_t payload[8] = {static_cast<uint8_t>(mask), static_cast<uint8_t>(mask >> 8),
                                static_cast<uint8_t>(mask), static_cast<uint8_t>(mask >> 8),
                                static_cast<uint8_t>(mask), static_cast<uint8_t>(mask >> 8),
                                static_cast<uint8_t>(mask >> 16), static_cast<uint8_t>(mask >> 24)};
    if (lb->host.send_packet != nullptr)
        lb->host.send_packet(lb->host.ctx, IcdSetPumpOptions, payload, 8);
}

// One code from the application's stream; false ends this transmission turn.
bool code_from_application(AcuContext* acu, LineBlock* lb, uint8_t code)
{
    V80State* v = &lb->v80;
    const bool framed = v->framed.load() != 0;
    uint8_t octets[2];
    const uint8_t pair[2] = {V80_EM, code};
    if (v80_code_octets(code, octets) > 0) {
        lb_tx_write(lb, pair, 2);
        return true;
    }
    if (deferred_code(code, framed) && !lb_tx_drained(lb)) {
        v->deferred = code;
        return false;
    }
    switch (code) {
    case V80_FLAG:
        if (!framed)
            break;
        lb_tx_write(lb, pair, 2);
        if (v->frames_from_app.load() != 0)
            v->frames_from_app--;
        return false;  // a turn ends with its frame
    case V80_ERR:
        if (framed)
            lb_tx_write(lb, pair, 2);
        return true;
    case V80_RESUME:
        v->tx_restart = 1;
        return true;
    case V80_ESCAPE:
        acu->dte->escape_event = 1;  // to the on-line command state, as the escape sequence does
        return false;
    case V80_RENEGOTIATE:
        v->request_pending = 1;
        conn_request_renegotiation(acu, acu->line_rate);
        return true;
    case V80_RETRAIN:
        v->request_pending = 1;
        conn_request_retrain(acu);
        return true;
    case V80_RATE:
        v->rate_args = 2;
        return true;
    default:
        break;
    }
    act(acu, lb, code);
    return true;
}

void application_to_line(AcuContext* acu, LineBlock* lb)
{
    V80State* v = &lb->v80;
    DteContext* d = acu->dte;
    if (v->deferred != 0) {
        if (!lb_tx_drained(lb)) {
            kick(lb);
            return;
        }
        const uint8_t code = v->deferred;
        v->deferred = 0;
        act(acu, lb, code);
        return;
    }
    if (v->framed.load() && v->frames_from_app.load() == 0 && dte_from_count(d) < kPace && lb_tx_count(lb) > kPace)
        return;  // wait for a whole frame or more of it
    while (lb_tx_free(lb) >= 3 && dte_from_count(d) != 0 && v->active.load()) {
        const uint8_t c = dte_from_char(d);
        if (v->rate_args != 0) {
            if (--v->rate_args == 1)
                v->rate_first = c;
            else
                rate_limit(lb, v->rate_first, c);
            continue;
        }
        if (v->poll_escape) {
            v->poll_escape = 0;
            if (!code_from_application(acu, lb, c))
                break;
            continue;
        }
        if (c == V80_EM || c == V80_EM_HIGH) {
            v->poll_escape = 1;
            continue;
        }
        lb_tx_write(lb, &c, 1);
    }
    kick(lb);
}

void line_to_application(LineBlock* lb, DteContext* d)
{
    V80State* v = &lb->v80;
    if (v->framed.load() && v->frames_to_app.load() == 0 && lb_rx_count(lb) < kPace && dte_to_count(d) > kPace)
        return;
    bool moved = false;
    while (dte_to_free(d) >= 3 && lb_rx_count(lb) != 0) {
        const uint8_t c = lb_rx_get(lb);
        dte_to_put(d, c);
        moved = true;
        if (c != V80_EM || lb_rx_count(lb) == 0)
            continue;
        const uint8_t code = lb_rx_get(lb);  // a pair moves whole (the line side stores it whole)
        dte_to_put(d, code);
        if (code == V80_FLAG && v->framed.load()) {
            if (v->frames_to_app.load() != 0)
                v->frames_to_app--;
            break;
        }
    }
    if (moved)
        dte_to_drain(d);
}

// The link's state as the data pump reports it: the remote's retrain or renegotiation in band, and the rates
// once it is over.
void track_connection(AcuContext* acu, LineBlock* lb)
{
    V80State* v = &lb->v80;
    uint8_t s = acu_pump_state(acu);
    if (s != 2 && s != 3 && s != 13)
        s = 0;
    if (s == v->conn_state)
        return;
    if (s == 2 && (v->conn_state == 3 || v->conn_state == 13))
        v->rate_report = 1;
    if (s == 0)
        v->rate_report = 0;
    if (s == 2) {
        v->request_pending = 0;
        v->reported = 0;
    }
    v->conn_state = s;
}

void reports(AcuContext* acu, LineBlock* lb)
{
    V80State* v = &lb->v80;
    DteContext* d = acu->dte;
    if (v->rate_report) {
        if (dte_to_free(d) >= 4) {
            to_dte_pair(d, V80_RATE);
            dte_to_put(d, v80_rate_char(acu->connect_rate));
            dte_to_put(d, v80_rate_char(acu->line_rate));
            v->rate_report = 0;
            dte_to_drain(d);
        } else {
            lb->counters.rx_discards++;
        }
    }
    if ((v->conn_state == 3 || v->conn_state == 13) && !v->request_pending && !v->reported &&
        dte_to_free(d) >= 2) {
        to_dte_pair(d, v->conn_state == 3 ? V80_RETRAIN : V80_RENEGOTIATE);
        v->reported = 1;
        dte_to_drain(d);
    }
}

}  // namespace

bool v80_running(AcuContext* acu)
{
    LineBlock* lb = line(acu);
    return lb != nullptr && lb->mode.load() == LINE_MODE_SYNC && lb->v80.active.load();
}

void v80_start(AcuContext* acu)
{
    LineBlock* lb = line(acu);
    if (lb == nullptr)
        return;
    uint8_t params[12];
    acu_data_mode_params(acu, params);
    dte_v80_mode_init(acu->dte, params[3], params[6]);
    dte_clamp_on(acu->dte);  // until the connection has been reported
    acu->dte->flow.sync_remembered = 1;
    V80State* v = &lb->v80;
    v80_init(v);
    v80_set_params(lb, acu->ext.esa);
    v->active = 1;
    lb_set_mode(lb, LINE_MODE_SYNC);
    v80_reset(lb);
    v->conn_state = acu_pump_state(acu) == 2 ? 2 : 0;
}

void v80_end(AcuContext* acu)
{
    LineBlock* lb = line(acu);
    if (lb != nullptr && lb->mode.load() == LINE_MODE_SYNC)
        v80_stop(lb);
}

uint8_t v80_poll(AcuContext* acu)
{
    LineBlock* lb = line(acu);
    if (lb == nullptr || !lb->v80.active.load())
        return kLinkNegotiating;
    V80State* v = &lb->v80;
    DteContext* d = acu->dte;
    if (v->tx_restart.exchange(0) != 0)
        restart_framer(lb, 0);
    track_connection(acu, lb);
    reports(acu, lb);
    if (!d->flow.clamp.load()) {
        line_to_application(lb, d);
        v80_dte_reports(d);  // reports that wait while nothing else goes to the application
        application_to_line(acu, lb);
    }
    return kLinkUp;
}
