// Voice mode: stand-in entries until voice mode is built. The sub-mode command is acknowledged while voice
// mode is active and echoed otherwise.
#include "layer1/dsp/command_dispatcher.h"
#include "layer1/dsp/mode_entries.h"

void StopVoice(DspContext* ctx) { ctx->command.voiceActive = 0; }
void StartVoiceMode(DspContext* ctx) { (void)ctx; }
void VoiceLineHook(DspContext* ctx, int32_t value) { (void)ctx; (void)value; }
void CmdVoiceMode(DspContext* ctx)
{
    if (ctx->command.voiceActive)
        AckCommand(ctx, IcdVoiceMode);
}
void CmdSetVoiceParams(DspContext* ctx) { AckCommand(ctx, IcdSetVoiceParams); }
void CmdSetLineControl(DspContext* ctx) { AckCommand(ctx, IcdSetLineControl); }
