// A small stand-in for the data pump below the controller in tests: a lower filter that answers the
// start request with a DspContext whose interface block holds a register window, remembers the
// controller's event routine, and completes or passes on everything else.
#pragma once

#include "layer1/dsp/dsp_context.h"
#include "platform/kernel.h"

struct FakePumpExtension {
    PDEVICE_OBJECT device;
    PDEVICE_OBJECT lower;
    DspContext context;
    DspInterfaceBlock block;
    ControllerCallback controller_callback;  // handed down at start
    bool answer_null_context;                // start completes with no DspContext
    bool answer_null_block;                  // the DspContext has no interface block
    int creates;
    int closes;
};

NTSTATUS FakePumpDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path);
FakePumpExtension* FakePumpOf(PDEVICE_OBJECT pump_device);
