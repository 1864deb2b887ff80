// Class 9: the line-check stepping, once per pass of the message pump.
#include "layer2/corecode/mt/dsp_line_check.h"

#include "layer2/corecode/mt/dsp_device.h"
#include "layer2/corecode/mt/dsp_line_handlers.h"

void dsp_on_line_check_msg(DspMessageNode* node, void* user)
{
    (void)node;
    (void)user;
}
