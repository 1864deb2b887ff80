// Registration of the line-side message handlers of a device.
#include "layer2/corecode/mt/dsp_line_handlers.h"

#include "layer2/corecode/mt/dsp_device.h"

int dsp_line_handlers(DspDevice* dev, DspHandlerRequest* out)
{
    out[0] = DspHandlerRequest{kMsgHook, dsp_on_hook_msg, dev};
    out[1] = DspHandlerRequest{kMsgToneDetect, dsp_on_tone_detect_msg, dev};
    out[2] = DspHandlerRequest{kMsgToneGen, dsp_on_tone_gen_msg, dev};
    out[3] = DspHandlerRequest{kMsgCountry, dsp_on_country_msg, dev};
    out[4] = DspHandlerRequest{kMsgLineInterface, dsp_on_line_check_msg, dev};
    return kDspLineHandlerCount;
}
