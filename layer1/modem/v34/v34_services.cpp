// The PCM pump's entries as the data-pump runtime calls them, and the command slots of both pumps. Until the
// PCM pump is built these keep only the bookkeeping the runtime's commands and reports rely on. The V.34
// entries from phase 3 on are in phase3_start.cpp.
#include "layer1/modem/v34/v34_services.h"

#include <cstring>

#include "layer1/dsp/command_dispatcher.h"
#include "layer1/dsp/dsp_context.h"
#include "layer1/dsp/mode_entries.h"

// The stand-in counts the hand-over and leaves the pump idle.
void StartPcmMode(DspContext* ctx)
{
    ctx->pcm.modeStarts += 1;
    ReturnToIdle(ctx);
}

void CreatePcmRateFilter(DspContext* ctx)
{
    ctx->pcm.rateFilterCreated = 1;
}

void FreePcmRateFilter(DspContext* ctx)
{
    ctx->pcm.rateFilterCreated = 0;
}

void CreatePcmObjects(DspContext* ctx)
{
    ctx->pcm.objectsCreated = 1;
}

void FreePcmObjects(DspContext* ctx)
{
    ctx->pcm.objectsCreated = 0;
}

void ResetPcmState(DspContext* ctx)
{
    PcmLink& p = ctx->pcm;
    p.renegotiation = 0;
    p.defaults[0] = 13;
    p.defaults[1] = 42;
}

void CmdPhase2Control(DspContext* ctx)
{
    (void)ctx;
}

// Sub-code 0 starts the silence tone, 2 makes the next connection start skip the tone procedures, 8
// restarts phase 2 with type 8. The record is left as fetched.
void CmdPcmControl(DspContext* ctx)
{
    switch (ctx->command.payload[0]) {
    case 0: StartTone(ctx, 7); break;
    case 2: ctx->pcm.skipTones = 1; break;
    case 8: RestartPhase2(ctx, 8); break;
    default: break;
    }
}

void CmdEndDownload(DspContext* ctx)
{
    if (ctx->command.payload[0] == 0)
        ctx->parameters.downloadCounter = 0;
}
