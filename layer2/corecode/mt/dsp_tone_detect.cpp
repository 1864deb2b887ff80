// Class 4: call-progress tone detection on the data pump's detector filters.
#include "layer2/corecode/mt/dsp_tone_detect.h"

#include "layer2/corecode/mt/dsp_device.h"
#include "layer2/corecode/mt/dsp_line_handlers.h"

void dsp_on_tone_detect_msg(DspMessageNode* node, void* user)
{
    (void)node;
    (void)user;
}
