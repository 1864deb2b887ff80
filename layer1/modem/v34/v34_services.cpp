// The V.34 and PCM pumps' entries as the data-pump runtime calls them, beyond phase 2. Until those pumps are
// built these keep only the bookkeeping the runtime's commands and reports rely on.
#include "layer1/modem/v34/v34_services.h"

#include <cstring>

#include "layer1/dsp/command_dispatcher.h"
#include "layer1/dsp/dsp_context.h"
#include "layer1/dsp/mode_entries.h"

// The stand-ins count the hand-over and leave the pump idle.
void StartV34Phase3(DspContext* ctx)
{
    ctx->v34.phase3Starts += 1;
    ReturnToIdle(ctx);
}

void StartPcmMode(DspContext* ctx)
{
    ctx->pcm.modeStarts += 1;
    ReturnToIdle(ctx);
}

void ResetV34Pump(DspContext* ctx)
{
    V34Link& v = ctx->v34;
    v.v34State = 0;
    v.v34Active = 0;
    v.retrainInPlace = 0;
}

void InstallV34BlockHandler(DspContext* ctx)
{
    (void)ctx;
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
