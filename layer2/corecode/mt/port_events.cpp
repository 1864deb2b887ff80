// Serial events, notifications, the modem-status byte and the application callbacks.
#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/mt/port_ops.h"
#include "layer2/corecode/mt/port_table.h"
#include "layer2/corecode/mt/port_device.h"

namespace {

class SpinHold {
public:
    explicit SpinHold(KSPIN_LOCK* lock) : lock_(lock) { KeAcquireSpinLock(lock_, &old_); }
    ~SpinHold() { KeReleaseSpinLock(lock_, old_); }

private:
    KSPIN_LOCK* lock_;
    KIRQL old_;
};

uint32_t pending_enabled(PortRecord* p)
{
    SpinHold hold(port_event_mask_lock(p->ext));
    return *p->event_word & p->event_mask;
}

void arm_read_check(PortRecord* p)
{
    bool want = p->rx_threshold != PORT_MAXDWORD && !p->rx_timer_disabled.load() &&
                p->open_marker.load() == PORT_OPEN_MARKER;
    if (want) {
        if (p->read_check_armed.exchange(1) == 0) {
            LARGE_INTEGER due;
            due.QuadPart = -100LL * 10000;
            KeSetTimerEx(&p->read_check_timer, due, 100, &p->read_check_dpc);
        }
    } else if (p->read_check_armed.exchange(0) != 0) {
        KeCancelTimer(&p->read_check_timer);
    }
}

}  // namespace

void port_empty_callback(PortRecord* port, void* data, uint32_t code, uint32_t events)
{
    (void)port;
    (void)data;
    (void)code;
    (void)events;
}

void port_post_events(PortRecord* p, uint32_t events)
{
    if (p == nullptr || p->ext == nullptr)
        return;
    SpinHold hold(port_event_mask_lock(p->ext));
    *p->event_word |= events;
}

void port_notify(PortRecord* p, uint32_t code)
{
    if (p == nullptr || p->ext == nullptr)
        return;
    switch (code) {
    case 1: {
        uint32_t ev = pending_enabled(p);
        SpinHold hold(port_rx_callback_lock(p->ext));
        p->rx_callback(p, p->rx_callback_data, 1, ev);
        p->notify_flags |= PORT_NOTIFIED_RX;
        break;
    }
    case 2: {
        uint32_t ev = pending_enabled(p);
        SpinHold hold(port_tx_callback_lock(p->ext));
        p->tx_callback(p, p->tx_callback_data, 2, ev);
        p->notify_flags |= PORT_NOTIFIED_TX;
        break;
    }
    case 4: {
        uint32_t ev = pending_enabled(p);
        if (ev == 0)
            break;
        p->notify_flags |= PORT_NOTIFIED_EVENT;
        SpinHold hold(port_event_mask_lock(p->ext));
        if (p->notification_enabled.load() && p->notify_routine != nullptr)
            p->notify_routine(p, p->notify_data, 4, ev);
        break;
    }
    default:
        break;
    }
}

void port_rebuild_msr(PortRecord* p)
{
    if (p == nullptr || p->dte == nullptr)
        return;
    DteLineState* l = &p->dte->line;
    uint8_t status = 0;
    if (l->cts.load())
        status |= MSR_CTS;
    if (l->dsr.load())
        status |= MSR_DSR;
    if (l->dcd.load())
        status |= MSR_DCD;
    if (l->ri.load())
        status |= MSR_RI;
    uint8_t old = p->msr.load();
    p->msr = static_cast<uint8_t>((old & 0x0F) | status);
    if (p->msr_shadow != nullptr)
        *p->msr_shadow = p->msr.load();
}

void port_eval_output_hold(PortRecord* p)
{
    uint8_t missing = static_cast<uint8_t>(p->hold_required & ~p->msr.load());
    uint32_t hold = 0;
    if (missing & MSR_CTS)
        hold |= PORT_HOLD_CTS;
    if (missing & MSR_DSR)
        hold |= PORT_HOLD_DSR;
    if (missing & MSR_DCD)
        hold |= PORT_HOLD_DCD;
    uint32_t old = p->hold.load();
    p->hold = (old & ~(PORT_HOLD_CTS | PORT_HOLD_DSR | PORT_HOLD_DCD)) | hold;
    if (hold == 0 && (old & (PORT_HOLD_CTS | PORT_HOLD_DSR | PORT_HOLD_DCD)))
        mc_rx_int(p->dte);
}

void port_modify_msr(PortRecord* p, int op, uint8_t bits)
{
    if (p == nullptr)
        return;
    if (op == 2)
        p->msr |= bits;
    else if (op == 1)
        p->msr &= static_cast<uint8_t>(~bits);
    if (p->msr_shadow != nullptr)
        *p->msr_shadow = p->msr.load();
}

void port_update_msr(PortRecord* p, int op, uint8_t bits)
{
    if (p == nullptr)
        return;
    port_modify_msr(p, op, bits);
    port_eval_output_hold(p);
}

void port_set_cts(PortRecord* p, int on)
{
    if (p == nullptr)
        return;
    if (on)
        dte_raise_cts(p->dte);
    else
        dte_drop_cts(p->dte);
}

uint32_t port_now_ms(PortRecord* p)
{
    (void)p;
    return static_cast<uint32_t>(KeQueryInterruptTime() / 10000);
}

int port_get_dtr(PortRecord* p) { return p != nullptr && p->dte->line.dtr.load() ? 1 : 0; }
int port_always_true(PortRecord* p)
{
    (void)p;
    return 1;
}
void port_no_op(PortRecord* p) { (void)p; }

int port_set_msr_shadow(PortRecord* p, uint8_t* shadow)
{
    if (p == nullptr)
        return 0;
    p->msr_shadow = shadow;
    if (shadow != nullptr)
        *shadow = p->msr.load();
    return 1;
}

int port_get_modem_status(PortRecord* p, uint32_t* status)
{
    if (p == nullptr || status == nullptr) {
        if (p)
            p->last_error = PORT_ERR_BAD_ARG;
        return 0;
    }
    DteLineState* l = &p->dte->line;
    uint32_t s = 0;
    if (l->cts.load())
        s |= MSR_CTS;
    if (l->dsr.load())
        s |= MSR_DSR;
    if (l->dcd.load())
        s |= MSR_DCD;
    if (l->ri.load())
        s |= MSR_RI;
    *status = s;
    return 1;
}

int port_get_queue_status(PortRecord* p, PortQueueStatus* status)
{
    if (p == nullptr || status == nullptr) {
        if (p)
            p->last_error = PORT_ERR_BAD_ARG;
        return 0;
    }
    DteLineState* l = &p->dte->line;
    uint32_t flags = 0;
    if ((p->state.handshake & PCS_CTS_OUT_FLOW) && !l->cts.load())
        flags |= PORT_HOLD_CTS;
    if ((p->state.handshake & PCS_DSR_OUT_FLOW) && !l->dsr.load())
        flags |= PORT_HOLD_DSR;
    uint32_t hold = p->hold.load();
    flags |= hold & (PORT_HOLD_EOF | PORT_HOLD_IMMEDIATE | PORT_HOLD_XOFF_RECEIVED | PORT_HOLD_XOFF_SENT);
    if (p->eof_seen.load())
        flags |= PORT_HOLD_EOF;
    status->flags = flags;
    status->rx_count = dte_app_rx_count(p->dte);
    status->tx_count = dte_app_tx_count(p->dte);
    return 1;
}

int port_clear_error(PortRecord* p, PortQueueStatus* status, uint32_t* errors)
{
    if (p == nullptr) 
        return 0;
    if (status != nullptr)
        port_get_queue_status(p, status);
    uint32_t word = p->error_word.exchange(0);
    if (errors != nullptr)
        *errors = word;
    return 1;
}

int port_transmit_char(PortRecord* p, uint8_t c)
{
    if (p == nullptr)
        return 0;
    int expected = -1;
    if (!p->immediate_char.compare_exchange_strong(expected, c)) {
        p->last_error = PORT_ERR_CHAR_WAITING;
        return 0;
    }
    if (dte_route_char(p->dte, c) == 0) {
        p->immediate_char = -1;
    } else {
        p->hold |= PORT_HOLD_IMMEDIATE;  // sent by the next service of the application bytes
    }
    return 1;
}

int port_set_event_mask(PortRecord* p, uint32_t mask, uint32_t* event_word)
{
    if (p == nullptr)
        return 0;
    SpinHold hold(port_event_mask_lock(p->ext));
    p->event_mask = mask;
    p->event_word = event_word != nullptr ? event_word : &p->event_internal;
    return 1;
}

int port_get_event_mask(PortRecord* p, uint32_t clear_mask, uint32_t* out)
{
    if (p == nullptr || out == nullptr) {
        if (p)
            p->last_error = PORT_ERR_BAD_ARG;
        return 0;
    }
    SpinHold hold(port_event_mask_lock(p->ext));
    *out = *p->event_word;
    *p->event_word &= ~clear_mask;
    return 1;
}

int port_enable_notification(PortRecord* p, PortCallback routine, void* data)
{
    if (p == nullptr)
        return 0;
    {
        SpinHold hold(port_event_mask_lock(p->ext));
        p->notify_routine = routine;
        p->notify_data = data;
        p->notification_enabled = routine != nullptr;
    }
    if (routine != nullptr && pending_enabled(p) != 0)
        port_notify(p, 4);
    return 1;
}

int port_set_read_callback(PortRecord* p, uint32_t threshold, PortCallback routine, void* data)
{
    if (p == nullptr)
        return 0;
    {
        SpinHold hold(port_rx_callback_lock(p->ext));
        if (routine == nullptr) {
            p->rx_callback = port_empty_callback;
            p->rx_threshold = PORT_MAXDWORD;
        } else {
            uint32_t size = p->dte->app.rx_size;
            p->rx_callback = routine;
            p->rx_threshold = threshold > size ? size : threshold;
        }
        p->rx_callback_data = data;
    }
    arm_read_check(p);
    return 1;
}

int port_set_write_callback(PortRecord* p, uint32_t threshold, PortCallback routine, void* data)
{
    if (p == nullptr)
        return 0;
    SpinHold hold(port_tx_callback_lock(p->ext));
    if (routine == nullptr) {
        p->tx_callback = port_empty_callback;
        p->tx_threshold = PORT_MAXDWORD;
    } else {
        uint32_t size = p->dte->app.tx_size;
        p->tx_callback = routine;
        p->tx_threshold = (threshold != 0 && threshold > size) ? size : threshold;
    }
    p->tx_callback_data = data;
    return 1;
}

int port_get_error(PortRecord* p, int32_t* out)
{
    if (p == nullptr || out == nullptr)
        return 0;
    *out = p->last_error.load();
    return 1;
}

// Every 100 ms while the receive callback is on: data waiting and nobody told yet → tell.
void port_read_check(PortRecord* p)
{
    if (p->rx_timer_disabled.load() || p->rx_threshold == PORT_MAXDWORD)
        return;
    if (dte_app_rx_count(p->dte) == 0)
        return;
    if (p->notify_flags.load() & (PORT_NOTIFIED_RX | PORT_OPEN_HOLD))
        return;
    port_notify(p, 1);
    if (dte_app_rx_count(p->dte) != 0)
        p->notify_flags &= static_cast<uint8_t>(~PORT_NOTIFIED_RX);
}

void port_read_check_dpc(KDPC* dpc, PVOID context, PVOID arg1, PVOID arg2)
{
    (void)dpc;
    (void)arg1;
    (void)arg2;
    port_read_check(static_cast<PortRecord*>(context));
}

int port_escape(PortRecord* p, uint32_t function, uintptr_t argument, uintptr_t* out)
{
    if (p == nullptr)
        return 0;
    DteContext* d = p->dte;
    switch (function) {
    case 0:
    case 7:
    case 15:
        return 1;
    case 1:
        p->hold |= PORT_HOLD_XOFF_RECEIVED;
        return 1;
    case 2:
        p->hold &= ~PORT_HOLD_XOFF_RECEIVED;
        mc_rx_int(d);
        return 1;
    case 3:
        dte_set_rts(d);
        return 1;
    case 4:
        dte_clear_rts(d);
        return 1;
    case 5:
        dte_set_dtr(d);
        return 1;
    case 6:
        dte_clear_dtr(d);
        return 1;
    case 9:
        if (out)
            *out = 127;
        return 1;
    case 12:
        p->break_flag = 1;
        dte_set_break(d);
        return 1;
    case 13:
        p->break_flag = 0;
        dte_clear_break(d);
        return 1;
    case 14:
        if (out)
            *out = reinterpret_cast<uintptr_t>(p);
        return 1;
    case 16:
        p->rx_timer_disabled = 1;
        arm_read_check(p);
        return 1;
    case 19:
        p->rx_count_word = static_cast<uint32_t>(argument);
        return 1;
    case 20:
        p->enhanced_notification = 1;
        return 1;
    case 21:
        p->rx_timer_disabled = 0;
        arm_read_check(p);
        return 1;
    case 200:
        if (dte_app_rx_count(d) == 0)
            return 0;
        if (out)
            *out = dte_app_rx_peek(d);
        return 1;
    case 704427:
        p->last_error = PORT_ERR_ESCAPE;
        return 1;
    default:
        p->last_error = PORT_ERR_ESCAPE;
        return 0;
    }
}
