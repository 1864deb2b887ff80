// Class 3: hook changes, pulse dialling, hook flash and the line-interface profile.
#include "layer2/corecode/mt/dsp_hook_handler.h"

#include "layer2/corecode/mt/dsp_device.h"
#include "layer2/corecode/mt/dsp_line_handlers.h"

void dsp_on_hook_msg(DspMessageNode* node, void* user)
{
    (void)node;
    (void)user;
}
