// FSK modulations: stand-in entries until the FSK pump is built.
#include "layer1/dsp/dsp_context.h"
#include "layer1/dsp/mode_entries.h"

void StartLowSpeedMode(DspContext* ctx, int32_t type) { (void)ctx; (void)type; }
void SetCallerIdReceiver(DspContext* ctx) { (void)ctx; }
void ClearFskRxStatus(DspContext* ctx) { (void)ctx; }
