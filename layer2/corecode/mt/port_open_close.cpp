// Opening and closing the port, and the application queue set-up.
#include <cstring>

#include "layer2/corecode/dte/data_link_stubs.h"
#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/dte/dte_lock.h"
#include "layer2/corecode/mt/port_ops.h"
#include "layer2/corecode/mt/port_device.h"
#include "window/register_map.h"

namespace {

constexpr ULONG kQueueTag = POOL_TAG('W', 'd', 'm', ' ');

// Restart of the DSP side at open and close: reset request, notifications off, line interface on.
void dsp_restart(PortRecord* p)
{
    volatile uint8_t* w = p->window;
    if (w == nullptr)
        return;
    w[kRegDspControl] = 2;
    w[kRegHostControl] = 0;
    w[kRegCommandLength] = 1;
    w[kRegDspControl] = 1;
}

uint8_t read_notification(PortRecord* p)
{
    return p->window != nullptr ? p->window[kRegNotify] : 0;
}

void free_queue_blocks(PortRecord* p)
{
    if (p->rx_block != nullptr) {
        ExFreePoolWithTag(p->rx_block, kQueueTag);
        p->rx_block = nullptr;
    }
    if (p->tx_block != nullptr) {
        ExFreePoolWithTag(p->tx_block, kQueueTag);
        p->tx_block = nullptr;
    }
}

}  // namespace

PortRecord* port_open(PortRecord* p, const uint8_t name[12], uint32_t value, int32_t* error)
{
    (void)value;
    if (p == nullptr)
        return nullptr;
    if (p->open_marker.load() == PORT_OPEN_MARKER) {
        p->last_error = PORT_ERR_ALREADY_OPEN;
        if (error)
            *error = PORT_ERR_ALREADY_OPEN;
        return nullptr;
    }
    port_comm_state_defaults(&p->state);
    p->rx_callback = port_empty_callback;
    p->tx_callback = port_empty_callback;
    p->notify_routine = nullptr;
    p->notification_enabled = 0;
    p->rx_threshold = PORT_MAXDWORD;
    p->tx_threshold = PORT_MAXDWORD;
    p->event_internal = 0;
    p->event_word = &p->event_internal;
    p->event_mask = 0;
    p->error_word = 0;
    p->hold = 0;
    p->rx_flow_asserted = 0;
    p->eof_seen = 0;
    p->rx_disabled = 0;
    p->break_flag = 0;
    p->enhanced_notification = 0;
    p->immediate_char = -1;
    p->notify_flags = PORT_OPEN_HOLD;
    p->rx_timer_disabled = 0;
    p->read_abort = 0;
    p->write_abort = 0;
    p->state_set = 0;
    p->last_error = PORT_ERR_NONE;
    if (name != nullptr)
        std::memcpy(p->name, name, sizeof p->name);

    port_timers_start(p->ext);
    port_irql_enter(p->ext);
    dsp_restart(p);
    (void)read_notification(p);
    port_irql_leave(p->ext);
    if (!p->task_started.load()) {
        const int ok = port_task_start(p->ext);
        if (!ok) {
            p->last_error = PORT_ERR_TASK;
            if (error)
                *error = PORT_ERR_TASK;
            port_timers_stop(p->ext);
            return nullptr;
        }
        p->task_started = 1;
        dte_clamp_begin(p->dte);
    }
    dte_set_dtr(p->dte);
    dte_set_rts(p->dte);
    p->state.xon_char = 17;
    p->state.xoff_char = 19;
    PortCommState defaults;
    port_comm_state_defaults(&defaults);
    port_set_comm_state(p, &defaults, PORT_MAXDWORD);
    dte_from_clear(p->dte);
    dte_to_clear(p->dte);
    port_rebuild_msr(p);
    p->open_marker = PORT_OPEN_MARKER;
    if (error)
        *error = PORT_ERR_NONE;
    return p;
}

int port_close(PortRecord* p)
{
    if (p == nullptr || p->open_marker.load() != PORT_OPEN_MARKER) {
        if (p)
            p->last_error = PORT_ERR_NOT_OPEN;
        return 0;
    }
    DteContext* d = p->dte;
    dte_clear_dtr(d);
    for (int i = 0; i < 20 && d->conn_state.load() != 0; i++) {
        LARGE_INTEGER delay;
        delay.QuadPart = -100LL * 10000;  // 100 ms
        KeDelayExecutionThread(KernelMode, FALSE, &delay);
    }
    p->error_word = 0;
    p->hold = 0;
    p->rx_flow_asserted = 0;
    p->rx_timer_disabled = 1;
    KeCancelTimer(&p->read_check_timer);
    p->read_check_armed = 0;
    dte_clear_dtr(d);
    dte_clear_rts(d);
    (void)read_notification(p);
    dsp_restart(p);
    dte_clamp_release(d);
    p->task_started = 0;
    port_timers_stop(p->ext);
    port_rebuild_msr(p);
    {
        DteLockHold tx(&d->app_tx_lock);
        DteLockHold rx(&d->app_rx_lock);
        d->app.rx_buffer = nullptr;
        d->app.tx_buffer = nullptr;
        d->app.rx_size = 0;
        d->app.tx_size = 0;
        d->app.rx_count = d->app.rx_read = d->app.rx_write = 0;
        d->app.tx_count = d->app.tx_read = d->app.tx_write = 0;
    }
    free_queue_blocks(p);
    v44_free_dictionaries(d);
    {
        KIRQL old;
        KeAcquireSpinLock(port_rx_callback_lock(p->ext), &old);
        p->rx_callback = port_empty_callback;
        p->rx_threshold = PORT_MAXDWORD;
        KeReleaseSpinLock(port_rx_callback_lock(p->ext), old);
        KeAcquireSpinLock(port_tx_callback_lock(p->ext), &old);
        p->tx_callback = port_empty_callback;
        p->tx_threshold = PORT_MAXDWORD;
        KeReleaseSpinLock(port_tx_callback_lock(p->ext), old);
    }
    p->open_marker = 0;
    p->msr_shadow = nullptr;
    return 1;
}

int port_setup_queues(PortRecord* p, uint8_t* rx_buffer, uint32_t rx_size, uint8_t* tx_buffer, uint32_t tx_size)
{
    if (p == nullptr)
        return 0;
    DteContext* d = p->dte;
    uint8_t* rx = rx_buffer;
    uint8_t* tx = tx_buffer;
    uint8_t* new_rx_block = nullptr;
    uint8_t* new_tx_block = nullptr;
    if (rx == nullptr) {
        if (rx_size == 0)
            rx_size = APP_BUILTIN_QUEUE_SIZE;
        if (rx_size > APP_BUILTIN_QUEUE_SIZE) {
            new_rx_block = static_cast<uint8_t*>(ExAllocatePoolWithTag(NonPagedPool, rx_size, kQueueTag));
            if (new_rx_block == nullptr) {
                p->last_error = PORT_ERR_BAD_ARG;
                return 0;
            }
            rx = new_rx_block;
        } else {
            rx = p->rx_builtin;
        }
    }
    if (tx == nullptr) {
        if (tx_size == 0)
            tx_size = APP_BUILTIN_QUEUE_SIZE;
        if (tx_size > APP_BUILTIN_QUEUE_SIZE) {
            new_tx_block = static_cast<uint8_t*>(ExAllocatePoolWithTag(NonPagedPool, tx_size, kQueueTag));
            if (new_tx_block == nullptr) {
                if (new_rx_block != nullptr)
                    ExFreePoolWithTag(new_rx_block, kQueueTag);
                p->last_error = PORT_ERR_BAD_ARG;
                return 0;
            }
            tx = new_tx_block;
        } else {
            tx = p->tx_builtin;
        }
    }
    uint8_t* old_rx_block;
    uint8_t* old_tx_block;
    {
        DteLockHold txl(&d->app_tx_lock);
        DteLockHold rxl(&d->app_rx_lock);
        d->app.rx_buffer = rx;
        d->app.rx_size = rx_size;
        d->app.tx_buffer = tx;
        d->app.tx_size = tx_size;
        d->app.rx_count = d->app.rx_read = d->app.rx_write = 0;
        d->app.tx_count = d->app.tx_read = d->app.tx_write = 0;
        // A repeated set-up gives back the block of the previous one.
        old_rx_block = p->rx_block;
        old_tx_block = p->tx_block;
        p->rx_block = new_rx_block;
        p->tx_block = new_tx_block;
    }
    if (old_rx_block != nullptr)
        ExFreePoolWithTag(old_rx_block, kQueueTag);
    if (old_tx_block != nullptr)
        ExFreePoolWithTag(old_tx_block, kQueueTag);
    p->rx_flow_threshold = rx_size / 16 + (rx_size / 4) * 3;
    p->rx_flow_limit = p->state.xoff_limit < rx_size ? rx_size - p->state.xoff_limit : rx_size;
    return 1;
}

int port_purge(PortRecord* p, uint32_t which)
{
    if (p == nullptr || which > 2) {
        if (p)
            p->last_error = PORT_ERR_BAD_ARG;
        return 0;
    }
    dte_app_queues_reset(p->dte, static_cast<uint8_t>(which));
    return 1;
}
