#include "layer2/corecode/dte/dte_stubs.h"

int acu_dte_break(DteContext* d, uint8_t length_ticks, uint16_t waiting)
{
    (void)d;
    (void)length_ticks;
    (void)waiting;
    return 0;
}
