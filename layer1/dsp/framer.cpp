// Data framer: stand-in entries until the framer is built.
#include "layer1/dsp/dsp_context.h"
#include "layer1/dsp/mode_entries.h"

void InitRxFramer(DspContext* ctx, int32_t type) { ctx->rxFramerType = type; }
void InitTxFramer(DspContext* ctx, int32_t type) { ctx->txFramerType = type; }
void RestartRxFramer(DspContext* ctx) { (void)ctx; }
void RestartTxFramer(DspContext* ctx) { (void)ctx; }
