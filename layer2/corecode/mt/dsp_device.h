// The controller's DSP link of one device: the register window and ICD channel, the message router with its
// timers, the command senders' state and the link context call control reads. One record per device, kept
// in the device extension, so it outlives the data pump's block thread (which may still call the event
// routine until the data pump is removed).
#pragma once

#include <cstdint>

#include "layer2/corecode/mt/dsp_commands.h"
#include "layer2/corecode/mt/dsp_link.h"
#include "layer2/corecode/mt/dsp_link_context.h"
#include "layer2/corecode/mt/dsp_router.h"

struct CountryBlock;

struct DspDevice {
    DspLink link;
    DspMessageQueue queue;
    DspLineControl line;
    DspLinkContext context;
};

// Prepares the record (not bound to a data pump).
void dsp_device_init(DspDevice* dev, const DspLinkHooks* hooks);
// Binds the device to the data pump's interface block: the register window, the data pump's context for the
// command entry, and the block's controller pointer the event routine finds the device by.
void dsp_device_bind(DspDevice* dev, DspInterfaceBlock* block, DspContext* pump_context);
// Undoes the binding: the event routine and the doorbell reach nothing afterwards.
void dsp_device_unbind(DspDevice* dev);

// The controller's DSP event routine, handed to the data pump at START: runs the receive path of the device
// bound to the block (nothing while none is bound).
void dsp_event_routine(DspInterfaceBlock* block);

// The DSP restart sequence at core start, port open and close: register 252 := 2, notifications off
// (247 := 0), bit 0 of register 246 set, register 66 := 1, register 252 := 1. Returns 0.
int dsp_link_start(DspDevice* dev);
