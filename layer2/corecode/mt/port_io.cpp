// Port reads and writes with the serial time-out rules and flow control.
#include "layer2/corecode/dte/data_link_stubs.h"
#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/mt/port_ops.h"

namespace {

void sleep_1ms()
{
    LARGE_INTEGER delay;
    delay.QuadPart = -10000;  // 1 ms
    KeDelayExecutionThread(KernelMode, FALSE, &delay);
}

uint32_t clamp_limit(uint64_t v)
{
    return v >= PORT_MAXDWORD ? PORT_MAXDWORD - 1 : static_cast<uint32_t>(v);
}

bool abort_on_error_pending(PortRecord* p)
{
    return (p->state.handshake & PCS_ABORT_ON_ERROR) && p->error_word.load() != 0;
}

// Release receive flow control once the application has read the queue down.
void release_rx_flow(PortRecord* p)
{
    DteContext* d = p->dte;
    uint8_t asserted = p->rx_flow_asserted.load();
    if (asserted == 0)
        return;
    uint32_t count = dte_app_rx_count(d);
    if (count != 0 && count > p->rx_flow_threshold)
        return;
    if (asserted & (PORT_RXFLOW_XOFF_SENT | PORT_RXFLOW_XOFF_PENDING)) {
        p->rx_flow_asserted &= static_cast<uint8_t>(~(PORT_RXFLOW_XOFF_SENT | PORT_RXFLOW_XOFF_PENDING));
        p->hold &= ~PORT_HOLD_XOFF_SENT;
        if (dte_route_char(d, p->state.xon_char) != 0)
            p->rx_flow_asserted |= PORT_RXFLOW_XON_PENDING;
    }
    if (asserted & PORT_RXFLOW_RTS) {
        p->rx_flow_asserted &= static_cast<uint8_t>(~PORT_RXFLOW_RTS);
        dte_set_rts(d);
    }
    if (asserted & PORT_RXFLOW_DTR) {
        p->rx_flow_asserted &= static_cast<uint8_t>(~PORT_RXFLOW_DTR);
        dte_set_dtr(d);
    }
    mc_rx_int(d);
}

}  // namespace

int port_read(PortRecord* p, uint8_t* buffer, uint32_t length, uint32_t* count)
{
    if (p == nullptr || buffer == nullptr || count == nullptr) {
        if (p)
            p->last_error = PORT_ERR_BAD_ARG;
        return 0;
    }
    *count = 0;
    if (abort_on_error_pending(p))
        return 0;
    DteContext* d = p->dte;

    const uint32_t interval = p->read_interval;
    const uint32_t multiplier = p->read_multiplier;
    const uint32_t constant = p->read_constant;
    const bool interval_active = interval != 0 && interval != PORT_MAXDWORD;
    bool total_active = true;
    uint32_t limit = 0;
    if (constant == PORT_MAXDWORD) {
        total_active = false;
    } else if (constant == 0 && multiplier == 0) {
        total_active = interval == PORT_MAXDWORD;  // return at once with what is there
        limit = 0;
    } else if (multiplier == PORT_MAXDWORD) {
        limit = constant;
    } else if (length < dte_app_rx_count(d)) {
        limit = 0;
    } else {
        limit = clamp_limit(static_cast<uint64_t>(length) * multiplier + constant);
    }
    p->read_total_limit = limit;
    p->read_interval_elapsed = 0;
    p->read_total_elapsed = 0;

    uint32_t got = 0;
    bool byte_came = false;
    while (got < length) {
        if (dte_app_rx_count(d) != 0) {
            buffer[got++] = dte_app_rx_get(d);
            p->read_interval_elapsed = 0;
            byte_came = true;
            continue;
        }
        // Wait step.
        if (p->read_abort.load())
            break;
        if (total_active && p->read_total_elapsed.load() >= p->read_total_limit.load())
            break;
        if (interval_active && byte_came && p->read_interval_elapsed.load() >= interval)
            break;
        sleep_1ms();
    }
    p->read_abort = 0;
    release_rx_flow(p);
    *count = got;
    if (got != 0)
        p->notify_flags &= static_cast<uint8_t>(~PORT_NOTIFIED_RX);
    trace_data(buffer, got, 0);
    return 1;
}

int port_write(PortRecord* p, const uint8_t* data, uint32_t length, uint32_t* count)
{
    if (p == nullptr || data == nullptr || count == nullptr) {
        if (p)
            p->last_error = PORT_ERR_BAD_ARG;
        return 0;
    }
    *count = 0;
    if (abort_on_error_pending(p)) {
        uint32_t word = p->error_word.load();
        p->last_error = static_cast<int32_t>(word);
        return word == PORT_ERROR_TX_INCOMPLETE;
    }
    DteContext* d = p->dte;

    // Output hold: wait while a required line is off.
    for (uint32_t steps = 0;; steps++) {
        uint8_t msr = p->msr.load();
        uint8_t missing = static_cast<uint8_t>(p->hold_required & ~msr & (MSR_CTS | MSR_DSR | MSR_DCD));
        if (missing == 0)
            break;
        uint32_t err = 0;
        if ((missing & MSR_CTS) && !(p->hold_infinite & MSR_CTS) && p->state.cts_timeout != 0 &&
            steps >= p->state.cts_timeout)
            err |= PORT_ERROR_CTS_TIMEOUT;
        if ((missing & MSR_DSR) && !(p->hold_infinite & MSR_DSR) && p->state.dsr_timeout != 0 &&
            steps >= p->state.dsr_timeout)
            err |= PORT_ERROR_DSR_TIMEOUT;
        if ((missing & MSR_DCD) && !(p->hold_infinite & MSR_DCD) && p->state.dcd_timeout != 0 &&
            steps >= p->state.dcd_timeout)
            err |= PORT_ERROR_DCD_TIMEOUT;
        if (err != 0) {
            p->error_word |= err;
            return 1;
        }
        if (steps >= 5000 || p->write_abort.load()) {
            p->write_abort = 0;
            return 1;
        }
        sleep_1ms();
    }

    const bool timed = p->write_multiplier != 0 || p->write_constant != 0;
    p->write_total_limit =
        timed ? clamp_limit(static_cast<uint64_t>(length) * p->write_multiplier + p->write_constant) : 0;
    p->write_total_elapsed = 0;

    uint32_t put = 0;
    while (put < length) {
        // A cancelled write stops whether or not it has a time-out.
        if (p->write_abort.load() || (timed && p->write_total_limit.load() == 0))
            break;
        if (dte_app_tx_put(d, data[put]) == 0) {
            put++;
            continue;
        }
        if (timed && p->write_total_elapsed.load() >= p->write_total_limit.load())
            break;
        sleep_1ms();
    }
    if (timed) {
        while (dte_app_tx_count(d) != 0 && p->write_total_elapsed.load() < p->write_total_limit.load() &&
               !p->write_abort.load())
            sleep_1ms();
    }
    p->write_abort = 0;
    if (dte_app_tx_count(d) >= p->tx_threshold)
        p->notify_flags &= static_cast<uint8_t>(~PORT_NOTIFIED_TX);
    *count = put;
    if (put < length)
        p->error_word |= PORT_ERROR_TX_INCOMPLETE;
    trace_data(data, put, 1);
    return 1;
}

void port_abort_read(PortRecord* p)
{
    p->read_abort = 1;
    p->read_total_limit = 0;
}

void port_abort_write(PortRecord* p)
{
    p->write_abort = 1;
    p->write_total_limit = 0;
}
