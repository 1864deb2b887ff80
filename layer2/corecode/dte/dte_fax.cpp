// The fax DTE: data mode 3 for the class 1 commands.
#include "layer2/corecode/dte/dte_fax.h"

#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/dte/dte_lock.h"

void dte_binary_mode_start(DteContext* d, uint8_t mode, uint8_t in_options, uint8_t out_options, uint8_t escape,
                           uint8_t guard)
{
    uint8_t params[12] = {};
    params[3] = in_options;
    params[4] = 0x11;
    params[5] = 0x13;
    params[6] = out_options;
    params[7] = 0x11;
    params[8] = 0x13;
    params[10] = escape;
    params[11] = guard;
    dte_data_mode_start(d, params);
    d->flow.data_bits = 8;
    d->flow.parity = 0;
    d->flow.data_mask = 0xFF;
    d->mode = mode;
}

void fax_dte_start(DteContext* d, uint8_t in_options, uint8_t out_options)
{
    dte_binary_mode_start(d, DTE_MODE_FAX, in_options, out_options, 0, 0);
}

void fax_dte_stop(DteContext* d)
{
    d->mode = DTE_MODE_COMMAND;
    dte_clamp_on(d);
}

int fax_dte_put(DteContext* d, uint8_t c)
{
    if (d->flow.in_options & 1) {
        if (c == d->flow.in_xon) {
            d->flow.output_held = 0;
            dte_to_drain(d);
            return 0;
        }
        if (c == d->flow.in_xoff) {
            d->flow.output_held = 1;
            return 0;
        }
    }
    {
        DteLockHold hold(&d->from_lock);
        if (ring_put(&d->from_dte, c) != 0)
            return 1;
    }
    dte_flow_off_check(d);
    return 0;
}
