// The line block's service routine: takes the receive chunk and fills the transmit chunk of the register
// window, each by the path the mode switch selected, under one runner at a time.
#include "layer2/corecode/dce/line_block.h"

#include <cstring>

#include "window/register_map.h"
#include "window/window_access.h"

namespace {

// Receive statuses each path accepts: bit s set for status s. Anything else is refused and counted.
constexpr uint16_t kPlainStatuses = (1u << 0) | (1u << kRxBreak) | (1u << kRxBreakEnd) | (1u << kRxOverrun);
constexpr uint16_t kFramedStatuses =
    (1u << 0) | (1u << kRxGoodFrame) | (1u << kRxBadFrame) | (1u << kRxAbort) | (1u << kRxOverrun);

uint16_t accepted_statuses(const LineBlock* lb)
{
    if (lb->fax.path.load())
        return lb_fax_statuses(lb);
    if (lb->mode.load() == LINE_MODE_SYNC)
        return kFramedStatuses;
    return lb->framed.load() ? kFramedStatuses : kPlainStatuses;
}

void clear_rx_registers(DspInterfaceBlock* w) { WindowStorePair(w, kRegRxCount, 0); }

void receive_service(LineBlock* lb, DspInterfaceBlock* w)
{
    const uint16_t pair = WindowLoadPair(w, kRegRxCount);
    if (pair == 0)
        return;
    const uint8_t count = static_cast<uint8_t>(pair & 0xFFu);
    const uint8_t status = static_cast<uint8_t>(pair >> 8);
    // A count beyond the chunk or a status this path does not know: nothing is copied.
    if (count > kMailboxBytes || status > 15 || ((accepted_statuses(lb) >> status) & 1u) == 0) {
        lb->counters.bad_chunks++;
        clear_rx_registers(w);
        return;
    }
    uint8_t bytes[kMailboxBytes];
    WindowLoadBytes(w, kRegRxData, bytes, count);
    clear_rx_registers(w);
    lb->counters.chunks_in++;
    if (lb->fax.path.load())
        lb_fax_receive(lb, bytes, count, status);
    else if (lb->mode.load() == LINE_MODE_SYNC)
        v80_line_receive(lb, bytes, count, status);
    else if (lb->framed.load())
        lb_framed_receive(lb, bytes, count, status);
    else if (lb_detect_active(lb))
        lb_detect_receive(lb, bytes, count, status);
    else if (lb->mode.load() == LINE_MODE_STARTUP)
        lb_startup_receive(lb, bytes, count);
    else if (lb->mode.load() == LINE_MODE_MNP_OCTET)
        lb_octet_receive(lb, bytes, count, status);
    else
        lb_plain_receive(lb, bytes, count, status);
}

void transmit_service(LineBlock* lb, DspInterfaceBlock* w)
{
    if (WindowLoadPair(w, kRegTxCount) != 0)
        return;  // the data pump has not taken the last chunk yet
    if (lb->fax.path.load())
        lb_fax_transmit(lb);
    else if (lb->mode.load() == LINE_MODE_SYNC)
        v80_line_transmit(lb);
    else if (lb->framed.load())
        lb_framed_transmit(lb);
    else if (lb_detect_active(lb))
        lb_detect_transmit(lb);
    else if (lb->mode.load() == LINE_MODE_STARTUP)
        lb_startup_transmit(lb);
    else if (lb->mode.load() == LINE_MODE_MNP_OCTET)
        lb_octet_transmit(lb);
    else
        lb_plain_transmit(lb);
}

void service_once(LineBlock* lb)
{
    if (!lb->active.load())
        return;
    DspInterfaceBlock* w = lb->window.load(std::memory_order_acquire);
    if (w == nullptr)
        return;
    receive_service(lb, w);
    transmit_service(lb, w);
}

}  // namespace

void lb_init(LineBlock* lb, const LineBlockHost* host)
{
    lb->window.store(nullptr);
    lb->host = host != nullptr ? *host : LineBlockHost{};
    lb->frames = LineFrameOps{};
    lb->ec = LineEcReports{};
    lb->plain = LinePlainOptions{};
    lb->fallback_request = 0;
    lb->active = 0;
    lb->mode = LINE_MODE_PLAIN;
    lb->framed = 0;
    KeInitializeSpinLock(&lb->rx_lock);
    KeInitializeSpinLock(&lb->tx_lock);
    KeInitializeSpinLock(&lb->detect.lock);
    lb->detect.active = 0;
    lb->detect.result_ready = 0;
    ring_clear(&lb->rx);
    ring_clear(&lb->tx);
    lb->tx_kicked = 0;
    lb->rx_held = 0;
    lb->break_pending = 0;
    lb->flow_enable = 0;
    lb->flow_pass_through = 0;
    lb->flow_xon = 0x11;
    lb->flow_xoff = 0x13;
    lb_reset_frame_state(lb);
    lb->max_frame = 0;
    lb->frame_check_in_data = 0;
    lb->octet_rx.lost_frames = 0;
    lb->startup = LineStartup{};
    lb->running = 0;
    lb->again = 0;
    lb->counters.sent = 0;
    lb->counters.received = 0;
    lb->counters.tx_discards = 0;
    lb->counters.rx_discards = 0;
    lb->counters.bad_chunks = 0;
    lb->counters.bad_frames = 0;
    lb->counters.chunks_in = 0;
    lb->counters.chunks_out = 0;
    lb->counters.breaks = 0;
    lb->counters.bogus_frames = 0;
    lb_fax_init(&lb->fax);
    v80_init(&lb->v80);
}

void lb_bind_window(LineBlock* lb, DspInterfaceBlock* window) { lb->window.store(window, std::memory_order_release); }

void lb_set_frame_ops(LineBlock* lb, const LineFrameOps* ops) { lb->frames = ops != nullptr ? *ops : LineFrameOps{}; }

void lb_set_ec_reports(LineBlock* lb, const LineEcReports* reports)
{
    lb->ec = reports != nullptr ? *reports : LineEcReports{};
}

// One runner at a time: a call that finds the service running leaves a request for one more pass, which the
// runner serves before it lets go, so no event is missed and no chunk is taken twice.
void lb_service(LineBlock* lb)
{
    lb->again.store(1, std::memory_order_release);
    for (;;) {
        if (lb->running.exchange(1, std::memory_order_acquire) != 0)
            return;
        while (lb->again.exchange(0, std::memory_order_acq_rel) != 0)
            service_once(lb);
        lb->running.store(0, std::memory_order_release);
        if (lb->again.load(std::memory_order_acquire) == 0)
            return;
    }
}

// The start-up path runs through the whole set-up of a connection, whatever else stops meanwhile.
void lb_service_stop(LineBlock* lb)
{
    if (lb->mode.load() != LINE_MODE_STARTUP)
        lb->active = 0;
}

void lb_tx_chunk_forget(LineBlock* lb)
{
    DspInterfaceBlock* w = lb->window.load(std::memory_order_acquire);
    if (w != nullptr)
        WindowStorePair(w, kRegTxCount, 0);
}

void lb_write_chunk(LineBlock* lb, const uint8_t* bytes, uint8_t count, uint8_t flags)
{
    DspInterfaceBlock* w = lb->window.load(std::memory_order_acquire);
    if (w == nullptr)
        return;
    // Bytes first, then flags and count together: the data pump never sees one without the other.
    WindowStoreBytes(w, kRegTxData, bytes, count);
    WindowStorePair(w, kRegTxCount, static_cast<uint16_t>(count | (flags << 8)));
    lb->counters.chunks_out++;
}
