// The line-side message handlers of the DSP link: class 3 (hook and line interface), class 4 (tone
// detection), class 6 (tone generation), class 7 (country parameters and call restrictions) and class 9 (the
// line-check stepping). Each handler takes its device as user data and carries the message out as a timed
// sequence of ICD commands and register writes on the router's millisecond timers.
#pragma once

#include "layer2/corecode/mt/dsp_router.h"

struct DspDevice;

constexpr int kDspLineHandlerCount = 5;

void dsp_on_hook_msg(DspMessageNode* node, void* user);
void dsp_on_tone_detect_msg(DspMessageNode* node, void* user);
void dsp_on_tone_gen_msg(DspMessageNode* node, void* user);
void dsp_on_country_msg(DspMessageNode* node, void* user);
void dsp_on_line_check_msg(DspMessageNode* node, void* user);

// Fills out[kDspLineHandlerCount] with the handler requests of the device, for DspInterfaceSetup.
int dsp_line_handlers(DspDevice* dev, DspHandlerRequest* out);
