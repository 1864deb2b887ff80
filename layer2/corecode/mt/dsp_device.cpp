// Binding of the controller's DSP link to the data pump's interface block, and the event routine.
#include "layer2/corecode/mt/dsp_device.h"

void dsp_device_init(DspDevice* dev, const DspLinkHooks* hooks)
{
    dsp_link_init(&dev->link, hooks);
    dsp_msg_queue_init(&dev->queue);
    dsp_line_control_init(&dev->line, &dev->link, &dev->queue);
    dev->line.take_tone_result = [](void* ctx) { return dsp_take_tone_result(static_cast<DspLinkContext*>(ctx)); };
    dev->line.toneCtx = &dev->context;
}

void dsp_device_bind(DspDevice* dev, DspInterfaceBlock* block, DspContext* pump_context)
{
    dsp_set_register_window(&dev->link, block, pump_context);
    if (block != nullptr)
        __atomic_store_n(&block->controllerContext, static_cast<void*>(dev), __ATOMIC_RELEASE);
}

void dsp_device_unbind(DspDevice* dev)
{
    dsp_set_port_ready(&dev->link, false);
    DspInterfaceBlock* block = dev->link.block.load(std::memory_order_acquire);
    if (block != nullptr)
        __atomic_store_n(&block->controllerContext, static_cast<void*>(nullptr), __ATOMIC_RELEASE);
    // A callback already inside the receive path finishes under the lock before the window goes.
    dsp_callback_lock(&dev->link);
    dsp_set_register_window(&dev->link, nullptr, nullptr);
    dsp_callback_unlock(&dev->link);
}

void dsp_event_routine(DspInterfaceBlock* block)
{
    if (block == nullptr)
        return;
    auto* dev = static_cast<DspDevice*>(__atomic_load_n(&block->controllerContext, __ATOMIC_ACQUIRE));
    if (dev != nullptr)
        dsp_notify_callback(&dev->link);
}

int dsp_link_start(DspDevice* dev)
{
    DspLink* link = &dev->link;
    dsp_reg_write(link, kRegDspControl, 2);
    dsp_reg_write(link, kRegHostControl, 0);
    dsp_reg_write(link, kRegDspRestart, static_cast<uint8_t>(dsp_reg_read(link, kRegDspRestart) | 1));
    dsp_reg_write(link, kRegCommandLength, 1);
    dsp_reg_write(link, kRegDspControl, 1);
    return 0;
}
