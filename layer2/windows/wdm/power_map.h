// The system-to-device power state map.
#pragma once

#include "platform/kernel.h"

DEVICE_POWER_STATE ModemSystemToDeviceState(const DEVICE_CAPABILITIES* caps, int system_state);
