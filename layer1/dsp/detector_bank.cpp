// Tone-detector bank: stand-in entries until the bank is built; the configuration command is acknowledged.
#include "layer1/dsp/command_dispatcher.h"
#include "layer1/dsp/mode_entries.h"

void CmdConfigDetectors(DspContext* ctx) { AckCommand(ctx, 0x65); }
void ResetDetectorBank(DspContext* ctx) { (void)ctx; }
void ResetCallProgressLevels(DspContext* ctx) { (void)ctx; }
void SetDetectorSectionLevel(DspContext* ctx, int32_t section, int32_t level)
{
    (void)ctx;
    (void)section;
    (void)level;
}
void RequestSectionReload(DspContext* ctx, int32_t set) { ctx->parameters.reloadRequests |= 1u << (set & 7); }
