// V.32bis pump: stand-in start, retrain and renegotiation entries until the pump is built.
#include "layer1/dsp/dsp_context.h"
#include "layer1/dsp/mode_entries.h"

void StartV32bis(DspContext* ctx, int32_t type) { (void)ctx; (void)type; }
bool V32bisAvailable() { return false; }
void V32Retrain(DspContext* ctx) { (void)ctx; }
void V32Renegotiate(DspContext* ctx) { (void)ctx; }
