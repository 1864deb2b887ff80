// Register access through the data pump's window, the general-purpose pins and the line-interface relays.
#include <atomic>
#include <cstring>

#include "layer2/corecode/mt/dsp_link.h"
#include "window/window_access.h"

namespace {

// Drives one output of register 242 (or 244 for pins 8-15): enable bit set, second bit cleared, data bit
// cleared for "on" (the outputs are active low).
void drive_low_active(DspLink* link, uint8_t mask, bool on)
{
    dsp_reg_write(link, kRegGpioEnable0, dsp_reg_read(link, kRegGpioEnable0) | mask);
    dsp_reg_write(link, kRegGpioClear0, dsp_reg_read(link, kRegGpioClear0) & ~mask);
    uint8_t data = dsp_reg_read(link, kRegGpioData0);
    data = on ? (data & ~mask) : (data | mask);
    dsp_reg_write(link, kRegGpioData0, data);
}

bool pin_ok(DspLink* link, int pin)
{
    if (pin >= 0 && pin <= 14)
        return true;
    if (link->hooks.command_error)
        link->hooks.command_error(link->hooks.ctx);
    return false;
}

}  // namespace

void dsp_link_init(DspLink* link, const DspLinkHooks* hooks)
{
    link->block.store(nullptr);
    link->pumpContext = nullptr;
    link->portReady.store(0);
    std::memset(&link->icd, 0, sizeof link->icd);
    link->icdFree = 1;
    link->replyReceived.store(0);
    link->inFlightCode.store(0);
    std::memset(&link->received, 0, sizeof link->received);
    std::memset(link->replyData, 0, sizeof link->replyData);
    link->replyCode = 0;
    link->ackedCode = 0;
    std::memset(link->failedPacket, 0, sizeof link->failedPacket);
    link->failedLength = 0;
    link->suppressFailedSave = 0;
    link->icdFlags[0] = link->icdFlags[1] = link->icdFlags[2] = 0;
    link->lastFailureLine = 0;
    KeInitializeSpinLock(&link->callbackLock.lock);
    link->callbackLock.owner.store(std::thread::id());
    link->callbackLock.depth = 0;
    link->callbackLock.oldIrql = PASSIVE_LEVEL;
    link->events.lastEventChar.store(0);
    link->events.charWrite.store(0);
    link->events.charRead.store(0);
    link->events.charDropped.store(0);
    link->events.kindMask.store(0);
    link->events.kind0Value.store(0);
    link->events.kind6Value.store(0);
    link->events.connectionEvents.store(0);
    link->events.eventFlags.store(0);
    link->events.detectorReportPending.store(0);
    link->lastCadenceStamp = 0;
    std::memset(&link->cadence, 0, sizeof link->cadence);
    link->interruptRoutine = nullptr;
    link->interruptArg = nullptr;
    link->dspInterruptFlag.store(0);
    std::memset(link->traceRing, 0, sizeof link->traceRing);
    link->traceRead = 0;
    link->traceWrite = 0;
    link->traceDropped = 0;
    link->builtinPatch = DspPatchTable{};
    link->uploadPatch = DspPatchTable{};
    link->patchLoaded = 0;
    link->hooks = hooks ? *hooks : DspLinkHooks{};
}

void dsp_set_register_window(DspLink* link, DspInterfaceBlock* block, DspContext* pump_context)
{
    link->pumpContext = pump_context;
    link->block.store(block, std::memory_order_release);
}

void dsp_set_port_ready(DspLink* link, bool ready)
{
    link->portReady.store(ready ? 1 : 0, std::memory_order_release);
}

void dsp_reg_write(DspLink* link, int reg, uint8_t value)
{
    DspInterfaceBlock* block = link->block.load(std::memory_order_acquire);
    if (!block)
        return;
    reg &= 0xFF;
    WindowStore(block, reg, value);
    if ((reg == kRegDoorbell || reg == kRegHostControl) && link->portReady.load(std::memory_order_acquire) &&
        block->commandEntry && link->pumpContext)
        block->commandEntry(link->pumpContext);
}

uint8_t dsp_reg_read(DspLink* link, int reg)
{
    DspInterfaceBlock* block = link->block.load(std::memory_order_acquire);
    if (!block)
        return 0;
    return WindowLoad(block, reg);
}

bool dsp_notify_enabled(DspLink* link)
{
    return (dsp_reg_read(link, kRegHostControl) & kNotifyEnable) != 0;
}

void dsp_notify_enable(DspLink* link)
{
    dsp_reg_write(link, kRegHostControl, kNotifyEnable);
}

uint8_t dsp_read_notify(DspLink* link)
{
    return dsp_reg_read(link, kRegNotify);
}

void dsp_read_rx_chunk(DspLink* link, uint8_t* destination, int count)
{
    if (count < 0)
        count = 0;
    if (count > kMailboxBytes)
        count = kMailboxBytes;
    for (int i = 0; i < count; ++i)
        destination[i] = dsp_reg_read(link, kRegRxData + i);
}

int dsp_take_rx_chunk(DspLink* link, uint8_t* destination)
{
    DspInterfaceBlock* block = link->block.load(std::memory_order_acquire);
    if (!block)
        return 0;
    const uint16_t pair = WindowLoadPair(block, kRegRxCount);
    if (pair == 0)
        return 0;
    int count = pair & 0xFF;
    if (count > kMailboxBytes)
        count = kMailboxBytes;
    for (int i = 0; i < count; ++i)
        destination[i] = WindowLoad(block, kRegRxData + i);
    WindowStorePair(block, kRegRxCount, 0);  // the mailbox is free again
    return count;
}

void dsp_gpio_clear(DspLink* link, int pin)
{
    if (!pin_ok(link, pin))
        return;
    const int hi = pin >= 8;
    const uint8_t bit = static_cast<uint8_t>(1u << (pin & 7));
    const int en = hi ? kRegGpioEnable1 : kRegGpioEnable0;
    const int second = hi ? kRegGpioClear1 : kRegGpioClear0;
    const int data = hi ? kRegGpioData1 : kRegGpioData0;
    dsp_reg_write(link, en, dsp_reg_read(link, en) | bit);
    dsp_reg_write(link, second, dsp_reg_read(link, second) & ~bit);
    dsp_reg_write(link, data, dsp_reg_read(link, data) & ~bit);
}

void dsp_gpio_set(DspLink* link, int pin)
{
    if (!pin_ok(link, pin))
        return;
    const int hi = pin >= 8;
    const uint8_t bit = static_cast<uint8_t>(1u << (pin & 7));
    const int en = hi ? kRegGpioEnable1 : kRegGpioEnable0;
    const int second = hi ? kRegGpioClear1 : kRegGpioClear0;
    const int data = hi ? kRegGpioData1 : kRegGpioData0;
    dsp_reg_write(link, en, dsp_reg_read(link, en) | bit);
    dsp_reg_write(link, second, dsp_reg_read(link, second) & ~bit);
    dsp_reg_write(link, data, dsp_reg_read(link, data) | bit);
}

int dsp_gpio_read(DspLink* link, int pin)
{
    if (!pin_ok(link, pin))
        return 0;
    const int hi = pin >= 8;
    const uint8_t bit = static_cast<uint8_t>(1u << (pin & 7));
    const int en = hi ? kRegGpioEnable1 : kRegGpioEnable0;
    const int data = hi ? kRegGpioData1 : kRegGpioData0;
    dsp_reg_write(link, en, dsp_reg_read(link, en) & ~bit);
    return (dsp_reg_read(link, data) & bit) ? 1 : 0;
}

void dsp_relay_voice(DspLink* link, bool on)
{
    drive_low_active(link, kRelayVoice, on);
}

void dsp_relay_caller_id(DspLink* link, bool on)
{
    drive_low_active(link, kRelayCallerId, on);
}

void dsp_relay_speaker_handset(DspLink* link, bool on)
{
    drive_low_active(link, kRelaySpeakerHandset, on);
}

void dsp_relay_hook_output(DspLink* link, bool off_hook)
{
    drive_low_active(link, kRelayHook, off_hook);
}

bool dsp_voice_relay_on(DspLink* link)
{
    return (dsp_reg_read(link, kRegGpioData0) & kRelayVoice) == 0;
}

bool dsp_caller_id_relay_on(DspLink* link)
{
    return (dsp_reg_read(link, kRegGpioData0) & kRelayCallerId) == 0;
}

bool dsp_speaker_relay_on(DspLink* link)
{
    return (dsp_reg_read(link, kRegGpioData0) & kRelaySpeakerHandset) == 0;
}

bool dsp_local_phone_input_low(DspLink* link)
{
    return (dsp_reg_read(link, kRegGpioData0) & kInputLocalPhone) == 0;
}

uint16_t dsp_gpio_pins_inverted(DspLink* link)
{
    const uint16_t pins =
        static_cast<uint16_t>((dsp_reg_read(link, kRegGpioData1) << 8) | dsp_reg_read(link, kRegGpioData0));
    return static_cast<uint16_t>(~pins);
}
