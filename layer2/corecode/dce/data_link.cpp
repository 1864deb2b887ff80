// The data link as call control sees it (ec_start, ec_poll, ec_tick_10ms, ec_stop): the error-control
// manager over the device's DTE rings and line block. Without a manager bound to the device, a started link
// is buffered mode on the plain line path.
#include "layer2/corecode/dce/data_link.h"

#include "layer2/corecode/dce/buffered_mode.h"
#include "layer2/corecode/dce/line_block.h"
#include "layer2/corecode/dte/data_link_stubs.h"
#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/dte/dte_context.h"
#include "layer2/corecode/ec/mnp.h"

namespace {

constexpr uint8_t kLinkNegotiating = 1;
constexpr uint8_t kLinkBuffered = 5;
constexpr uint8_t kLinkDown = 0;
constexpr uint8_t kLinkDisconnecting = 4;  // LAPM disconnecting, MNP disconnecting or failed
constexpr uint8_t kTicksPerProtocolTick = 10;
constexpr uint8_t kReportNoProtocol = 5;

DataLink* of(void* ctx) { return static_cast<DataLink*>(ctx); }

// ---- LAPM's reach into the DTE rings and the line block ----

// While the DTE side is clamped (command state, or before the connection is reported) nothing moves
// between the link and the application: received information waits in the link, which holds the far end
// off when its buffers fill.
bool clamped(const DataLink* dl) { return dl->dte->flow.clamp.load() != 0; }

uint32_t host_dte_pending(void* ctx) { return clamped(of(ctx)) ? 0 : dte_from_count(of(ctx)->dte); }

uint32_t host_dte_read(void* ctx, uint8_t* out, uint32_t max)
{
    DteContext* d = of(ctx)->dte;
    uint32_t n = dte_from_count(d);
    if (n > max)
        n = max;
    for (uint32_t i = 0; i < n; ++i)
        out[i] = dte_from_char(d);
    return n;
}

uint32_t host_dte_room(void* ctx) { return clamped(of(ctx)) ? 0 : dte_to_free(of(ctx)->dte); }

void host_dte_write(void* ctx, const uint8_t* in, uint32_t count)
{
    DteContext* d = of(ctx)->dte;
    for (uint32_t i = 0; i < count; ++i)
        dte_to_put(d, in[i]);
    dte_to_drain(d);
}

void host_dte_break(void* ctx, uint8_t type, uint8_t) { dte_to_break(of(ctx)->dte, type); }

void host_dte_discard(void* ctx)
{
    dte_from_clear(of(ctx)->dte);
    dte_to_clear(of(ctx)->dte);
}

void host_kick_line(void* ctx) { lb_frame_kick(of(ctx)->lb); }
void host_line_stop(void* ctx) { lb_service_stop(of(ctx)->lb); }

FrameNode* frames_tx_next(void* ctx) { return lapm_tx_next(&of(ctx)->ec.lapm); }
FrameNode* frames_rx_done(void* ctx, FrameNode* done) { return ec_rx_frame_done(&of(ctx)->ec.lapm.rx, done); }

void host_line_start(void* ctx, uint16_t)
{
    DataLink* dl = of(ctx);
    const LineFrameOps frames = {dl, frames_tx_next, frames_rx_done};
    lb_set_frame_ops(dl->lb, &frames);
    lb_set_mode(dl->lb, LINE_MODE_LAPM);
    lb_rx_buffer_set(dl->lb, ec_rx_frame_done(&dl->ec.lapm.rx, nullptr));
}

const LapmHost kLapmHost = {nullptr,       host_dte_pending, host_dte_read,  host_dte_room,   host_dte_write,
                            host_dte_break, host_dte_discard, host_kick_line, host_line_stop, host_line_start};

// ---- the manager's line side ----

void line_detect_start(void* ctx, uint8_t request, uint8_t mode, uint16_t timeout)
{
    DataLink* dl = of(ctx);
    lb_detect_start(dl->lb, request == 0 ? 0 : 1, mode, timeout, dl->line_rate);
}

void line_detect_continue(void* ctx) { lb_background(of(ctx)->lb); }

void line_detect_stop(void* ctx, uint8_t) { lb_detect_start(of(ctx)->lb, 0xFF, 0, 0, 0); }

void line_resume(void* ctx) { lb_set_mode(of(ctx)->lb, LINE_MODE_PLAIN); }

void line_empty_rings(void* ctx)
{
    lb_rx_reset(of(ctx)->lb);
    lb_tx_reset(of(ctx)->lb);
}

void line_break_to_dte(void* ctx, uint8_t type, uint16_t) { dte_to_break(of(ctx)->dte, type); }
bool line_from_dte_pending(void* ctx) { return dte_from_count(of(ctx)->dte) != 0; }

const EcLineOps kLineOps = {nullptr,          line_detect_start, line_detect_continue,  line_detect_stop, line_resume,
                            line_empty_rings, line_break_to_dte, line_from_dte_pending};

// ---- what the line side reports (lb_background) ----

void report_detection(void* ctx, uint8_t reason, uint8_t result)
{
    DataLink* dl = of(ctx);
    if (dl->ec.state != EC_DETECTING)
        return;  // a late answerer's time-out after the decision
    ec_detection_result(&dl->ec, reason, result);
    lb_restart(dl->lb);
}

// The MNP set-up gave way to the plain path (the far end sent plain characters, or the drop time ran out).
void report_fallback(void* ctx, uint8_t reason)
{
    DataLink* dl = of(ctx);
    if (dl->ec.state != EC_MNP)
        return;
    dl->fell_back = 1;
    ec_line_abort(&dl->ec, reason);
}

// ---- the MNP engine's reach into the line block (its DTE side is LAPM's) ----

// The set-up on the octet-framed path carries the plain path's fall-back options: the option bits, the drop
// time and the fall-back character that call control composed from its settings.
void plain_options(DataLink* dl)
{
    const MnpSetup& s = dl->ec.mnp_link.setup;
    lb_plain_setup(dl->lb, static_cast<uint8_t>(s.line_bits & (LINE_PLAIN_DROP_TIMER | LINE_PLAIN_FALLBACK_CHAR)),
                   s.line_option, s.line_value, static_cast<uint8_t>(s.line_bits & EC_LINE_RAW_BUFFERING));
}


FrameNode* mnp_frames_tx_next(void* ctx) { return mnp_tx_next(&of(ctx)->ec.mnp_link); }
FrameNode* mnp_frames_rx_done(void* ctx, FrameNode* done) { return mnp_rx_done(&of(ctx)->ec.mnp_link, done); }

void mnp_line_mode(void* ctx, uint8_t mode, FrameNode* rx_buffer)
{
    DataLink* dl = of(ctx);
    if (mode == LINE_MODE_PLAIN && dl->fell_back) {
        dl->fell_back = 0;
        return;  // the line is on the plain path already, with what the far end sent during the set-up
    }
    const LineFrameOps frames = {dl, mnp_frames_tx_next, mnp_frames_rx_done};
    lb_set_frame_ops(dl->lb, &frames);
    lb_set_mode(dl->lb, mode);
    if (mode == LINE_MODE_MNP_OCTET)
        plain_options(dl);
    if (rx_buffer != nullptr)
        lb_rx_buffer_set(dl->lb, rx_buffer);
}

uint32_t mnp_line_rx_take(void* ctx, uint8_t* out, uint32_t max)
{
    return lb_rx_take(of(ctx)->lb, out, static_cast<uint16_t>(max < 0xFFFFu ? max : 0xFFFFu));
}

uint32_t mnp_line_tx_free(void* ctx) { return lb_tx_free(of(ctx)->lb); }

uint32_t mnp_line_tx_write(void* ctx, const uint8_t* in, uint32_t count)
{
    return lb_tx_write(of(ctx)->lb, in, static_cast<uint16_t>(count < 0xFFFFu ? count : 0xFFFFu));
}

bool mnp_line_break_taken(void* ctx) { return lb_take_line_break(of(ctx)->lb); }

const MnpHost kMnpHost = {nullptr,          host_dte_pending,     host_dte_read,     host_dte_room,
                          host_dte_write,   host_dte_break,       host_dte_discard,  host_kick_line,
                          mnp_line_mode,    mnp_line_rx_take,     mnp_line_tx_free,  mnp_line_tx_write,
                          mnp_line_break_taken, nullptr};

// ---- the plain path without a manager ----

void plain_start(DteContext* d)
{
    if (d->line_block != nullptr)
        lb_set_mode(d->line_block, LINE_MODE_PLAIN);
    d->ec_started = 1;
}

uint8_t plain_poll(DteContext* d)
{
    if (!d->ec_started.load())
        return kLinkNegotiating;
    buffered_mode_poll(d, d->line_block);
    return kLinkBuffered;
}

}  // namespace

void data_link_bind(DataLink* dl, DteContext* dte, LineBlock* lb)
{
    dl->dte = dte;
    dl->lb = lb;
    dl->call = LapmCallValues{};
    dl->started = 0;
    dl->ending = 0;
    dl->fell_back = 0;
    dl->ticks = 0;
    dl->line_rate = 0;
    LapmHost host = kLapmHost;
    host.context = dl;
    EcLineOps line = kLineOps;
    line.context = dl;
    const EcMnpOps unbound = mnp_engine_ops(&dl->ec.mnp_link);
    ec_init(&dl->ec, &unbound, &line, &host, &dl->call);
    MnpHost mnp = kMnpHost;
    mnp.context = dl;
    ec_bind_mnp(&dl->ec, &mnp, &dl->call);
    const LineEcReports reports = {dl, report_fallback, report_detection};
    lb_set_ec_reports(lb, &reports);
    v44_supported_defaults(&dl->ec.v44);
    v44_params_default(&dl->ec.v44);
    dte->data_link = dl;
}

void data_link_unbind(DataLink* dl)
{
    if (dl->dte == nullptr)
        return;
    ec_stop(dl->dte);
    lapm_compression_stop(&dl->ec.compression);
    if (dl->lb != nullptr) {
        lb_set_frame_ops(dl->lb, nullptr);
        lb_set_ec_reports(dl->lb, nullptr);
    }
    dl->dte->data_link = nullptr;
    dl->dte = nullptr;
}

void ec_start(DteContext* d, const DataLinkStart* s)
{
    DataLink* dl = d->data_link;
    if (dl == nullptr) {
        plain_start(d);
        return;
    }
    dl->call.tx_rate = s->tx_rate;
    dl->call.rx_rate = s->rx_rate;
    dl->call.delivery_setting = s->delivery_setting;
    dl->call.delivery_time = s->delivery_time;
    dl->call.connection_mode = s->connection_mode;
    dl->line_rate = s->tx_rate;
    dl->ticks = 0;
    v44_set_params(&dl->ec.v44, &s->v44);
    ec_set_params(&dl->ec, &s->params);
    dl->started = 1;
    dl->ending = 0;
    dl->fell_back = 0;
    d->ec_started = 1;
    if (ec_start(&dl->ec, s->request) == 1)
        dl->started = 2;  // no protocol may run: the link is down
}

uint8_t ec_poll(DteContext* d)
{
    DataLink* dl = d->data_link;
    if (dl == nullptr)
        return plain_poll(d);
    if (dl->started == 0)
        return kLinkNegotiating;
    if (dl->started == 2)
        return kLinkDown;
    lb_background(dl->lb);
    const uint8_t status = ec_poll(&dl->ec);
    if (!dl->ending || status == kLinkDisconnecting)
        return status;
    // The disconnect is done: the link ends here (MNP would otherwise go on in buffered mode).
    ec_stop(&dl->ec);
    dl->started = 2;
    return kLinkDown;
}

bool ec_disconnect(DteContext* d, uint8_t reason)
{
    DataLink* dl = d->data_link;
    if (dl == nullptr || dl->started != 1 || (dl->ec.state != EC_LAPM && dl->ec.state != EC_MNP))
        return false;
    ec_disconnect(&dl->ec, reason);
    dl->ending = 1;
    return true;
}

bool ec_disconnecting(DteContext* d)
{
    const DataLink* dl = d->data_link;
    return dl != nullptr && dl->started == 1 && dl->ending != 0;
}

void ec_tick_10ms(DteContext* d)
{
    DataLink* dl = d != nullptr ? d->data_link : nullptr;
    if (dl == nullptr || dl->started != 1)
        return;
    lb_line_tick(dl->lb);
    if (++dl->ticks >= kTicksPerProtocolTick) {
        dl->ticks = 0;
        lapm_tick(&dl->ec.lapm);
        mnp_tick(&dl->ec.mnp_link);
    }
}

void ec_stop(DteContext* d)
{
    d->ec_started = 0;
    DataLink* dl = d->data_link;
    if (dl != nullptr && dl->started != 0) {
        ec_stop(&dl->ec);
        dl->started = 0;
        lb_detect_start(dl->lb, 0xFF, 0, 0, 0);
    }
    if (d->line_block != nullptr)
        lb_service_stop(d->line_block);
}

void ec_report_values(DteContext* d, uint8_t* protocol, uint8_t* compression)
{
    *protocol = kReportNoProtocol;
    *compression = 0;
    DataLink* dl = d->data_link;
    if (dl == nullptr)
        return;
    uint8_t s[EC_LINK_STATUS_SIZE];
    ec_get_link_status(&dl->ec, s);
    if (s[8] != EC_PROTOCOL_NONE)
        *protocol = s[8];
    *compression = static_cast<uint8_t>(s[1] & 7u);
}

void v44_free_dictionaries(DteContext* d)
{
    // A running link frees them when it stops; the port's close only catches what a stopped one left.
    if (d->data_link != nullptr && d->data_link->started == 0)
        lapm_compression_stop(&d->data_link->ec.compression);
}
