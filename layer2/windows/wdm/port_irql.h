// The nestable IRQL section that the port layer and the modem core use as their device lock (declared with
// the rest of what the port layer asks of the device).
#pragma once

#include "layer2/corecode/mt/port_device.h"
