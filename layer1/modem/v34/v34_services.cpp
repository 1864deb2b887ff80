// The V.34 and PCM pumps' entries as the data-pump runtime calls them. Until those pumps are built these
// keep only the bookkeeping the runtime's commands and reports rely on.
#include "layer1/modem/v34/v34_services.h"

#include <cstring>

#include "layer1/dsp/command_dispatcher.h"
#include "layer1/dsp/mode_entries.h"

void StartPhase2(DspContext* ctx)
{
    ctx->v34.phase2Started += 1;
}

void ResetPhase2State(DspContext* ctx)
{
    ctx->v34.phase2RestartType = 0;
}

void RestartPhase2(DspContext* ctx, int32_t type)
{
    ctx->v34.phase2RestartType = type;
}

void Phase2SetOption(DspContext* ctx, int32_t option, int32_t value)
{
    if (option >= 0 && option < 4)
        ctx->v34.phase2Option[option] = value;
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

void HoldStep(void* owner)
{
    (void)owner;
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
