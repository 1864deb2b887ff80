// The modem core as the driver frame's core: hooks that create the device's ModemCore at START, run its
// threads, timers and background task, and free it at REMOVE.
#pragma once

#include "layer2/windows/wdm/core_link.h"

const ModemCoreHooks* ModemCoreHooksForCore();
