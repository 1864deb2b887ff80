// V.22 / V.22bis pump: stand-in start entries until the pump is built.
#include "layer1/dsp/dsp_context.h"
#include "layer1/dsp/mode_entries.h"

void StartV22(DspContext* ctx) { (void)ctx; }
void StartV22Quick(DspContext* ctx) { (void)ctx; }
