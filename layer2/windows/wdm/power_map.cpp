#include "layer2/windows/wdm/power_map.h"

// Below 0: D0; unspecified and S0: the capabilities' table; S1 to S5: the table but at least D2;
// anything above: D0.
DEVICE_POWER_STATE ModemSystemToDeviceState(const DEVICE_CAPABILITIES* caps, int system_state)
{
    if (system_state < 0 || system_state >= PowerSystemMaximum)
        return PowerDeviceD0;
    DEVICE_POWER_STATE table = caps->DeviceState[system_state];
    if (system_state <= PowerSystemWorking)
        return table == PowerDeviceUnspecified ? PowerDeviceD0 : table;
    return table < PowerDeviceD2 ? PowerDeviceD2 : table;
}
