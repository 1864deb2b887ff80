// The application queue pair: bytes the application wrote (transmit) and bytes it will read
// (receive), with the receive-side filtering and flow control of a serial port.
#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/dte/dte_lock.h"
#include "layer2/corecode/mt/port_ops.h"
#include "layer2/corecode/mt/port_record.h"

int dte_app_tx_put(DteContext* d, uint8_t c)
{
    DteLockHold hold(&d->app_tx_lock);
    AppQueue* q = &d->app;
    if (q->tx_buffer == nullptr || q->tx_count >= q->tx_size)
        return 1;
    q->tx_buffer[q->tx_write] = c;
    q->tx_write = (q->tx_write + 1 >= q->tx_size) ? 0 : q->tx_write + 1;
    q->tx_count++;
    return 0;
}

uint32_t dte_app_tx_count(DteContext* d)
{
    DteLockHold hold(&d->app_tx_lock);
    return d->app.tx_count;
}

uint8_t dte_app_tx_peek(DteContext* d)
{
    DteLockHold hold(&d->app_tx_lock);
    if (d->app.tx_count == 0)
        return 0;
    return d->app.tx_buffer[d->app.tx_read];
}

uint8_t dte_app_tx_get(DteContext* d)
{
    DteLockHold hold(&d->app_tx_lock);
    AppQueue* q = &d->app;
    if (q->tx_count == 0)
        return 0;
    uint8_t c = q->tx_buffer[q->tx_read];
    q->tx_read = (q->tx_read + 1 >= q->tx_size) ? 0 : q->tx_read + 1;
    q->tx_count--;
    q->stats[1]++;
    return c;
}

uint8_t dte_app_rx_get(DteContext* d)
{
    DteLockHold hold(&d->app_rx_lock);
    AppQueue* q = &d->app;
    if (q->rx_count == 0)
        return 0;
    uint8_t c = q->rx_buffer[q->rx_read];
    q->rx_read = (q->rx_read + 1 >= q->rx_size) ? 0 : q->rx_read + 1;
    q->rx_count--;
    return c;
}

uint8_t dte_app_rx_peek(DteContext* d)
{
    DteLockHold hold(&d->app_rx_lock);
    if (d->app.rx_count == 0)
        return 0;
    return d->app.rx_buffer[d->app.rx_read];
}

uint32_t dte_app_rx_count(DteContext* d)
{
    DteLockHold hold(&d->app_rx_lock);
    return d->app.rx_count;
}

uint32_t dte_app_rx_free(DteContext* d)
{
    DteLockHold hold(&d->app_rx_lock);
    return d->app.rx_size - d->app.rx_count;
}

void dte_app_queues_reset(DteContext* d, uint8_t type)
{
    DteLockHold tx(&d->app_tx_lock);  // transmit lock first
    DteLockHold rx(&d->app_rx_lock);
    if (type == 0 || type == 2) {
        d->app.tx_count = 0;
        d->app.tx_read = 0;
        d->app.tx_write = 0;
    }
    if (type == 1 || type == 2) {
        d->app.rx_count = 0;
        d->app.rx_read = 0;
        d->app.rx_write = 0;
    }
}

void dte_app_queues_clear_all(DteContext* d)
{
    dte_app_queues_reset(d, 2);
    DteLockHold tx(&d->app_tx_lock);
    DteLockHold rx(&d->app_rx_lock);
    for (uint32_t& s : d->app.stats)
        s = 0;
}

namespace {

// The receive filter: true when the byte is kept for the application.
bool rx_filter_keeps(PortRecord* p, uint8_t c)
{
    uint32_t hs = p->state.handshake;
    if (c == 0 && (hs & PCS_NULL_DISCARD))
        return false;
    if (c == p->state.eof_char && !(hs & PCS_BINARY)) {
        p->eof_seen = 1;
        return false;
    }
    if (hs & PCS_XON_XOFF_OUT) {
        if (c == p->state.xoff_char) {
            p->hold |= PORT_HOLD_XOFF_RECEIVED;
            return false;
        }
        if (c == p->state.xon_char) {
            p->hold &= ~PORT_HOLD_XOFF_RECEIVED;
            return false;
        }
    }
    return true;
}

// Stop the sender when the receive queue reaches the XOFF threshold.
void rx_flow_check(DteContext* d, PortRecord* p, uint32_t count)
{
    if (count < p->rx_flow_limit)
        return;
    uint8_t hs = p->rx_handshake.load();
    if ((hs & 1) && !(p->rx_flow_asserted & PORT_RXFLOW_DTR)) {
        p->rx_flow_asserted |= PORT_RXFLOW_DTR;
        dte_clear_dtr(d);
    }
    if ((hs & 2) && !(p->rx_flow_asserted & PORT_RXFLOW_RTS)) {
        p->rx_flow_asserted |= PORT_RXFLOW_RTS;
        dte_clear_rts(d);
    }
    if ((p->state.handshake & PCS_XON_XOFF_IN) &&
        !(p->rx_flow_asserted & (PORT_RXFLOW_XOFF_SENT | PORT_RXFLOW_XOFF_PENDING))) {
        if (dte_route_char(d, p->state.xoff_char) != 0)
            p->rx_flow_asserted |= PORT_RXFLOW_XOFF_PENDING;
        else
            p->rx_flow_asserted |= PORT_RXFLOW_XOFF_SENT;
        p->hold |= PORT_HOLD_XOFF_SENT;
    }
}

void rx_notify_check(PortRecord* p, uint32_t count)
{
    if (count < p->rx_threshold) {
        p->notify_flags &= static_cast<uint8_t>(~PORT_NOTIFIED_RX);
        return;
    }
    if (p->rx_threshold == PORT_MAXDWORD)
        return;
    if (p->notify_flags & PORT_NOTIFIED_RX)
        p->notify_flags &= static_cast<uint8_t>(~PORT_NOTIFIED_RX);
    else
        port_notify(p, 1);
}

}  // namespace

int dte_app_rx_put(DteContext* d, uint8_t c)
{
    PortRecord* p = d->port;
    bool full;
    {
        DteLockHold hold(&d->app_rx_lock);
        full = d->app.rx_buffer == nullptr || d->app.rx_count >= d->app.rx_size;
    }
    if (full) {
        p->error_word |= COMM_ERROR_OVERRUN;
        rx_filter_keeps(p, c);
        port_post_events(p, SERIAL_EV_ERR);
        port_notify(p, 4);
        return 1;
    }
    p->last_rx_ms = port_now_ms(p);
    p->notify_flags &= static_cast<uint8_t>(~PORT_OPEN_HOLD);
    if (!p->rx_disabled.load()) {
        port_post_events(p, SERIAL_EV_RXCHAR);
        if (p->eof_seen.load() && !(p->state.handshake & PCS_BINARY)) {
            p->error_word |= COMM_ERROR_OVERRUN;
        } else if (rx_filter_keeps(p, c)) {
            if (c == p->state.event_char1)
                port_post_events(p, SERIAL_EV_RXFLAG);
            uint32_t count;
            {
                DteLockHold hold(&d->app_rx_lock);
                AppQueue* q = &d->app;
                q->rx_buffer[q->rx_write] = c;
                q->rx_write = (q->rx_write + 1 >= q->rx_size) ? 0 : q->rx_write + 1;
                q->rx_count++;
                q->stats[0]++;
                count = q->rx_count;
            }
            if (count == p->rx_flow_threshold)
                port_post_events(p, SERIAL_EV_RX80FULL);
            rx_flow_check(d, p, count);
            rx_notify_check(p, count);
        }
    }
    port_notify(p, 4);
    return 0;
}
