// The fir family's rows of the variant table. Until a slot is registered here it holds the placeholder that
// returns VEK_ERR_MODE_NOT_SUPPORTED (see layer1/vek/README.md).
#include "layer1/vek/core/vek_dispatch.h"

void vek_register_fir(VekRowWriter& rows)
{
    (void)rows;
}
