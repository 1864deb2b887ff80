// Binds a ModemCore to the driver frame's device extension: the core's services are the frame's port
// layer, request queues, DTE side and DSP link; the data pump's event routine runs the device's DSP link.
#include "layer2/windows/wdm/modem_core_link.h"

#include <new>

#include "layer2/corecode/cmd/at_context.h"
#include "layer2/corecode/cmd/at_output.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/cmd/conn_control.h"
#include "layer2/corecode/dce/data_link.h"
#include "layer2/corecode/dce/line_block.h"
#include "layer2/corecode/dte/data_link_stubs.h"
#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/mt/dsp_control.h"
#include "layer2/corecode/mt/dsp_line_handlers.h"
#include "layer2/corecode/mt/port_ops.h"
#include "layer2/windows/wdm/device_extension.h"
#include "layer2/windows/wdm/modem_core.h"
#include "layer2/windows/wdm/port_irql.h"
#include "layer2/windows/wdm/serial_queue.h"

namespace {

const ULONG kTag = POOL_TAG('W', 'd', 'm', ' ');

ModemDeviceExtension* X(void* ctx)
{
    return static_cast<ModemDeviceExtension*>(ctx);
}

PortRecord* svc_port_setup(void* ctx)
{
    PortRecord* port = ModemPortSetup(X(ctx));
    // The port record exists: from now on the doorbell reaches the data pump and the event routine runs.
    if (port != nullptr)
        dsp_set_port_ready(&X(ctx)->dsp.link, true);
    return port;
}

// The data pump reset to idle (its detector bank set up, the line on hook), the idle detectors with
// ring-energy reports on (as at power-up), the DSP restart sequence, then the read of the notification
// register. Without the reset no call-progress tone is ever detected; without the reports an incoming call
// never reaches the controller.
void svc_dsp_start(void* ctx)
{
    DspDevice* dsp = &X(ctx)->dsp;
    dsp_reset_to_idle(dsp);
    dsp_detector_reset(dsp);
    dsp_link_start(dsp);
    (void)dsp_read_notify(&dsp->link);
}

void svc_dsp_msg_add_ms(void* ctx, ULONG ms)
{
    dsp_msg_add_ms(&X(ctx)->dsp.queue, ms);
}

// Hooks of the DSP link into the rest of the controller.
bool dsp_hook_restarting(void* ctx)
{
    ModemCore* core = X(ctx)->core;
    return core != nullptr && core->task.restart.load() != 0;
}

void dsp_hook_print(void* ctx, const char* text)
{
    if (X(ctx)->acu != nullptr)
        PrintToDte(X(ctx)->acu, text, PRINT_TEXT);
}

void dsp_hook_command_error(void* ctx)
{
    if (X(ctx)->acu != nullptr)
        at_set_error(X(ctx)->acu);
}

// Ring indications and caller-ID bytes go to call control.
void ctx_ring_event(void* ctx, const uint8_t payload[3])
{
    if (X(ctx)->acu != nullptr)
        acu_ring_event(X(ctx)->acu, payload);
}

void ctx_caller_id_byte(void* ctx, uint8_t byte)
{
    if (X(ctx)->acu != nullptr)
        acu_cid_byte(X(ctx)->acu, byte);
}

// Hooks of the link context (ring indicator, ring permission, call control's S-registers, state and events).
const DspLinkContextHooks kContextHooks = [] {
    DspLinkContextHooks h{};
    h.raise_ri = [](void* ctx) { dte_raise_ri(&X(ctx)->dte); };
    h.drop_ri = [](void* ctx) { dte_drop_ri(&X(ctx)->dte); };
    h.ring_allowed = [](void* ctx) { return voice_ring_allowed(&X(ctx)->dte) != 0; };
    h.ring_event = ctx_ring_event;
    h.caller_id_byte = ctx_caller_id_byte;
    return h;
}();

uint8_t ctx_carrier_wait_seconds(void* ctx)
{
    AcuContext* acu = X(ctx)->acu;
    return acu != nullptr ? acu->sreg[S_CARRIER_WAIT] : 0;
}

uint8_t ctx_call_state(void* ctx)
{
    return X(ctx)->acu != nullptr ? X(ctx)->acu->call_state : 0;
}

bool ctx_fax_mode(void* ctx)
{
    return X(ctx)->acu != nullptr && X(ctx)->acu->fax_class != 0;
}

void ctx_post_event(void* ctx, uint8_t event, uint8_t parameter)
{
    if (X(ctx)->acu != nullptr)
        PostCallEvent(X(ctx)->acu, event, parameter);
}

void ctx_step_done(void* ctx)
{
    if (X(ctx)->acu != nullptr)
        acu_dsp_step_done(X(ctx)->acu);
}

void ctx_restriction_verdict(void* ctx, uint8_t verdict)
{
    if (X(ctx)->acu != nullptr)
        acu_restriction_verdict(X(ctx)->acu, verdict);
}

void ctx_call_waiting_step(void* ctx)
{
    if (X(ctx)->acu != nullptr)
        acu_cw_step(X(ctx)->acu);
}

// The line block's reach into the DSP link and connection control.
const LineBlockHost kLineHost = [] {
    LineBlockHost h{};
    h.kick = [](void* ctx) { dsp_run_interrupt_now(&X(ctx)->dsp.link); };
    h.send_packet = [](void* ctx, uint8_t code, const uint8_t* payload, int length) {
        return dsp_send_command(&X(ctx)->dsp.link, code, payload, length, kReplyAck, nullptr) == kIcdSent;
    };
    h.reg_read = [](void* ctx, int reg) { return dsp_reg_read(&X(ctx)->dsp.link, reg); };
    h.reg_write = [](void* ctx, int reg, uint8_t value) { dsp_reg_write(&X(ctx)->dsp.link, reg, value); };
    h.count_rx_frame = [](void* ctx) {
        if (X(ctx)->acu != nullptr)
            conn_count_rx_frame(X(ctx)->acu);
    };
    h.retraining = [](void* ctx) { return X(ctx)->acu != nullptr && X(ctx)->acu->conn.pump_state == PUMP_RETRAINING; };
    return h;
}();

// The line block on this device's register window, run as the DSP interrupt routine after every event of
// the data pump and on every producer's kick.
void bind_line_block(ModemDeviceExtension* ext)
{
    LineBlockHost host = kLineHost;
    host.ctx = ext;
    lb_init(&ext->line, &host);
    lb_bind_window(&ext->line, ext->dsp_block);
    ext->dte.line_block = &ext->line;
    data_link_bind(&ext->data_link, &ext->dte, &ext->line);
    dsp_set_interrupt_routine(&ext->dsp.link, [](void* arg) { lb_service(static_cast<LineBlock*>(arg)); }, &ext->line);
}

void unbind_line_block(ModemDeviceExtension* ext)
{
    dsp_set_interrupt_routine(&ext->dsp.link, nullptr, nullptr);
    data_link_unbind(&ext->data_link);
    lb_service_stop(&ext->line);
    lb_bind_window(&ext->line, nullptr);
    ext->dte.line_block = nullptr;
}

void svc_port_shutdown(void* ctx)
{
    ModemDeviceExtension* ext = X(ctx);
    if (ext->port_record.open_marker.load() == PORT_OPEN_MARKER)
        port_close(&ext->port_record);
    port_irql_reset(ext);
}

BOOLEAN svc_read_pass(void* ctx) { return ModemServeNextRead(X(ctx)); }
BOOLEAN svc_write_pass(void* ctx) { return ModemServeNextWrite(X(ctx)); }
void svc_event_mask_pass(void* ctx, BOOLEAN abort) { ModemServeWaitMask(X(ctx), abort); }
void svc_dte_tick(void* ctx) { dte_periodic_tick(&X(ctx)->dte); }

BOOLEAN svc_port_is_open(void* ctx)
{
    return X(ctx)->port_record.open_marker.load() == PORT_OPEN_MARKER ? TRUE : FALSE;
}

BOOLEAN svc_online(void* ctx)
{
    uint8_t mode = X(ctx)->dte.mode.load();
    return mode != DTE_MODE_COMMAND && mode != 0 ? TRUE : FALSE;
}

void svc_mc_rx_int(void* ctx) { mc_rx_int(&X(ctx)->dte); }
void svc_mc_tx_notify_check(void* ctx) { mc_tx_notify_check(&X(ctx)->dte); }

void svc_ring_service(void* ctx)
{
    DteContext* d = &X(ctx)->dte;
    // Results printed while on line (a ring of a waiting call) reach the application as well as the data.
    dte_cmd_out_flush(d);
    if (d->mode.load() != DTE_MODE_COMMAND)
        dte_to_drain(d);
}

void svc_task_restart(void* ctx)
{
    DteContext* d = &X(ctx)->dte;
    dte_from_clear(d);
    dte_to_clear(d);
    dte_clamp_on(d);
    dte_set_dtr(d);
    dte_set_rts(d);
}

void svc_dte_port_reset(void* ctx) { dte_port_state_reset(&X(ctx)->dte); }
UCHAR svc_app_state(void* ctx) { return X(ctx)->app_state.load(); }

void svc_command_step(void* ctx)
{
    if (X(ctx)->acu != nullptr)
        CallControlCommandStep(X(ctx)->acu);
}

void svc_call_control_tick(void* ctx)
{
    if (X(ctx)->acu != nullptr)
        CallControlTick(X(ctx)->acu);
}

const ModemCoreServices kServices = [] {
    ModemCoreServices s{};
    s.port_setup = svc_port_setup;
    s.dsp_start = svc_dsp_start;
    s.dsp_msg_add_ms = svc_dsp_msg_add_ms;
    s.port_shutdown = svc_port_shutdown;
    s.read_pass = svc_read_pass;
    s.write_pass = svc_write_pass;
    s.event_mask_pass = svc_event_mask_pass;
    s.dte_periodic_tick = svc_dte_tick;
    s.port_is_open = svc_port_is_open;
    s.online_data_mode = svc_online;
    s.mc_rx_int = svc_mc_rx_int;
    s.mc_tx_notify_check = svc_mc_tx_notify_check;
    s.dte_ring_service = svc_ring_service;
    s.task_restart = svc_task_restart;
    s.dte_port_reset = svc_dte_port_reset;
    s.app_state = svc_app_state;
    s.command_step = svc_command_step;
    s.call_control_tick = svc_call_control_tick;
    return s;
}();

// The driver's registry path as ANSI text (characters above 0x7F become "?").
void registry_path_text(const UNICODE_STRING& path, char* out, std::size_t size)
{
    std::size_t n = path.Buffer != nullptr ? path.Length / sizeof(WCHAR) : 0;
    std::size_t k = 0;
    for (; k < n && k + 1 < size; ++k)
        out[k] = path.Buffer[k] < 0x80 ? static_cast<char>(path.Buffer[k]) : '?';
    out[k] = 0;
}

void free_core(ModemDeviceExtension* ext)
{
    if (ext->acu != nullptr) {
        ExFreePoolWithTag(ext->acu, kTag);
        ext->acu = nullptr;
    }
    ModemCore* core = ext->core;
    ext->core = nullptr;
    if (core == nullptr)
        return;
    core->~ModemCore();
    ExFreePoolWithTag(core, kTag);
}

PortRecord* link_core_start(ModemDeviceExtension* ext)
{
    void* memory = ExAllocatePoolWithTag(NonPagedPool, sizeof(ModemCore), kTag);
    if (memory == nullptr)
        return nullptr;
    ModemCore* core = new (memory) ModemCore();
    void* acu_memory = ExAllocatePoolWithTag(NonPagedPool, sizeof(AcuContext), kTag);
    if (acu_memory == nullptr) {
        core->~ModemCore();
        ExFreePoolWithTag(core, kTag);
        return nullptr;
    }
    char path[512];
    registry_path_text(ext->registry_path, path, sizeof path);
    ModemCoreInit(core, &kServices, ext, ext->device, path, ext->service_key_mode);
    core->settings.property_device = ext->pdo;
    ModemCoreSetWakeEvents(core, &ext->read_queue.work_event, &ext->read_queue.abort_event,
                           &ext->write_queue.work_event, &ext->write_queue.abort_event, &ext->wait_check_event,
                           &ext->wait_abort_event);
    ext->core = core;
    ext->acu = static_cast<AcuContext*>(acu_memory);
    AcuInit(ext->acu, &ext->dte, &core->settings, core);
    DspLinkHooks hooks{};
    hooks.ctx = ext;
    hooks.restarting = dsp_hook_restarting;
    hooks.print = dsp_hook_print;
    hooks.command_error = dsp_hook_command_error;
    hooks.set_slice = [](void* ctx, uint8_t setting) {
        if (X(ctx)->core != nullptr)
            task_set_slice(X(ctx)->core, setting);
    };
    dsp_device_init(&ext->dsp, &hooks);
    dsp_device_bind(&ext->dsp, ext->dsp_block, ext->dsp_context);
    DspLinkContextHooks context_hooks = kContextHooks;
    context_hooks.ctx = ext;
    context_hooks.carrier_wait_seconds = ctx_carrier_wait_seconds;
    context_hooks.call_state = ctx_call_state;
    context_hooks.fax_mode = ctx_fax_mode;
    context_hooks.post_event = ctx_post_event;
    context_hooks.step_done = ctx_step_done;
    context_hooks.restriction_verdict = ctx_restriction_verdict;
    context_hooks.call_waiting_step = ctx_call_waiting_step;
    DspHandlerRequest handlers[kDspLineHandlerCount];
    const int handler_count = dsp_line_handlers(&ext->dsp, handlers);
    DspInterfaceSetup(&ext->dsp.context, &ext->dsp.queue, &ext->dsp.link, &ext->dsp.line.optionA,
                      &core->settings.block, handlers, handler_count, &context_hooks);
    ext->dsp.context.lpohd = &core->settings.gpio_lpohd;
    ext->dsp.line.dte = &ext->dte;
    ext->acu->dsp = &ext->dsp;
    table_dialogue_attach(ext->acu);
    bind_line_block(ext);
    PortRecord* port = ModemCoreStart(core);
    if (port == nullptr) {
        unbind_line_block(ext);
        dsp_device_unbind(&ext->dsp);
        free_core(ext);
    }
    return port;
}

void link_core_stop(ModemDeviceExtension* ext)
{
    if (ext->core == nullptr)
        return;
    ModemCoreStop(ext->core);
    Cancel_Timers(ext->core);
    unbind_line_block(ext);
    dsp_device_unbind(&ext->dsp);
    free_core(ext);
}

int link_task_start(ModemDeviceExtension* ext)
{
    if (ext->core == nullptr)
        return 0;
    task_start(ext->core);
    return 1;
}

void link_timers_start(ModemDeviceExtension* ext)
{
    if (ext->core != nullptr)
        tmr_start(ext->core);
}

void link_timers_stop(ModemDeviceExtension* ext)
{
    if (ext->core != nullptr)
        tmr_stop(ext->core);
}

}  // namespace

const ModemCoreHooks* ModemCoreHooksForCore()
{
    static const ModemCoreHooks hooks = {
        link_core_start, link_core_stop,    link_task_start,
        link_timers_start, link_timers_stop, dsp_event_routine,
    };
    return &hooks;
}
