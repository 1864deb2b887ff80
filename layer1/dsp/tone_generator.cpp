// Tone and DTMF generation: stand-in entries until the generators are built; the commands are acknowledged.
#include "layer1/dsp/command_dispatcher.h"
#include "layer1/dsp/mode_entries.h"

void StartTone(DspContext* ctx, int32_t type) { (void)ctx; (void)type; }
void CmdSetDtmfTiming(DspContext* ctx) { AckCommand(ctx, 0x66); }
void CmdStartDigit(DspContext* ctx) { AckCommand(ctx, 0x67); }
void CmdPlayTonePair(DspContext* ctx) { AckCommand(ctx, 0x7C); }
void CmdSetDualToneLevels(DspContext* ctx) { AckCommand(ctx, 0x88); }
