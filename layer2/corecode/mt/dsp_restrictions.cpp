// Class 7: country parameters and the call-restriction bookkeeping.
#include "layer2/corecode/mt/dsp_restrictions.h"

#include "layer2/corecode/mt/dsp_device.h"
#include "layer2/corecode/mt/dsp_line_handlers.h"

void dsp_on_country_msg(DspMessageNode* node, void* user)
{
    (void)node;
    (void)user;
}
