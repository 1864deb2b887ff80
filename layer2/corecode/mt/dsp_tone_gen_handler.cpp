// Class 6: tone dialling, DTMF digits and tone pairs.
#include "layer2/corecode/mt/dsp_tone_gen_handler.h"

#include "layer2/corecode/mt/dsp_device.h"
#include "layer2/corecode/mt/dsp_line_handlers.h"

void dsp_on_tone_gen_msg(DspMessageNode* node, void* user)
{
    (void)node;
    (void)user;
}
