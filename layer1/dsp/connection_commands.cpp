// Connection commands: the option bytes of 0x68 and 0x6E, the start of a connection and of a data pump,
// retrain and renegotiation, rate limits and the rate and link-parameter reports.
#include "layer1/dsp/command_dispatcher.h"

#include "layer1/dsp/mode_entries.h"
#include "layer1/dsp/register_window.h"
#include "window/icd_packet.h"

namespace {

constexpr int32_t kOtherDirectionLimit = 14;

bool V34Mode(const DspContext* ctx)
{
    return ctx->modeNumber == 17 || ctx->modeNumber == 18 || ctx->v34.v34Flag != 0;
}

bool PcmMode(const DspContext* ctx)
{
    return (ctx->modeNumber == 23 && ctx->v34.v34Active == 0) || ctx->modeNumber == 24;
}

}  // namespace

void ParseConnectionOptions(DspContext* ctx)
{
    const IcdConnectionPayload p = IcdDecodeConnection(ctx->command.payload);
    ConnectionOptions& c = ctx->connection;
    V34Link& v = ctx->v34;
    c.rateCode = p.rateCode;
    c.rateOption = p.rateOption;
    ctx->modeNumber = p.mode;
    c.modeOption = p.modeOption;
    c.lineOption = p.lineOption;
    c.originate = p.originate;
    c.procedureKind = p.procedureKind;
    c.singleTone = p.singleTone;
    c.flag6 = p.flag6;
    c.phase2Kind = p.phase2Kind;
    c.phase2Flags[0] = p.phase2Flags[0];
    c.phase2Flags[1] = p.phase2Flags[1];
    const int32_t mode = ctx->modeNumber;
    if (mode == 1 || (mode >= 3 && mode <= 7) || c.phase2Kind != 0)
        c.procedureKind = 0;
    if (mode == 17 || mode == 18) {
        v.optionBits = c.modeOption * 8;
        const uint16_t limit = RateLimitOfRateCode(c.rateCode);
        if (limit != 0) {
            v.rateLimit[c.originate] = limit;
            v.rateLimit[1 - c.originate] = kOtherDirectionLimit;
        } else {
            v.rateLimit[0] = 0;
            v.rateLimit[1] = 0;
        }
        if (mode == 18) {
            v.optionBits |= 1;
            v.v34ModeFlag = 1;
        }
    }
    v.v34Active = 0;
}

void CmdStartConnection(DspContext* ctx)
{
    const CommandRecord& r = ctx->command;
    ConnectionOptions& c = ctx->connection;
    c.optionByte = r.length == 6 ? static_cast<uint8_t>(r.payload[4] & ~0x08u) : 0;
    ctx->v34.connectionFlags[0] = (c.optionByte >> 4) & 1;
    ctx->v34.connectionFlags[1] = c.optionByte & 1;
    ctx->v34.connectionFlags[2] = (c.optionByte >> 1) & 1;
    if (ctx->command.voiceActive)
        StopVoice(ctx);
    ParseConnectionOptions(ctx);
    DspInterfaceBlock* block = ctx->interfaceBlock;
    if (ctx->pcm.skipTones == 0) {
        ResetCallProgressLevels(ctx);
        if (c.phase2Kind == 0) {
            if (c.singleTone) {
                ctx->blockHandler = IdleBlockHandler;
                if (c.originate) {
                    StartTone(ctx, 1);  // 1100 Hz calling tone; the procedure listens for the answer
                    StartSingleToneProcedure(ctx);
                } else {
                    StartTone(ctx, 4);  // 2100 Hz answer tone
                    ControlSequencer(&ctx->seqB, SEQ_START_AT, kIdleListB, 0);
                }
                UpdateStatusRegister(block, 7, 1);
            } else {
                switch (c.procedureKind) {
                case 0: StartBasicProcedure(ctx); break;
                case 1: StartAutomodeProcedure(ctx); break;
                default: StartV8Procedure(ctx); break;
                }
                UpdateStatusRegister(block, 1, 1);
            }
        } else if (c.originate) {
            Phase2OriginateContinue(ctx);
        } else {
            Phase2AnswerContinue(ctx);
        }
    } else if (c.phase2Kind != 0) {
        Phase2SetOption(ctx, 2, (c.optionByte >> 2) & 1);
        Phase2SetOption(ctx, 3, 30);
        StartPhase2(ctx);
    }
    AckCommand(ctx, IcdStartConnection);
}

void CmdRetrain(DspContext* ctx)
{
    switch (ctx->modeNumber) {
    case 6:
    case 7:
        break;
    case 12:
    case 16:
        V32Retrain(ctx);
        break;
    case 23:
        RestartPhase2(ctx, ctx->v34.v34Active ? 9 : 8);
        break;
    default:
        if (ctx->v34.retrainInPlace)
            InstallV34BlockHandler(ctx);
        else
            RestartPhase2(ctx, 7);
        break;
    }
    UpdateStatusRegister(ctx->interfaceBlock, 3, 1);
    WriteRegister(ctx->interfaceBlock, kRegNotify, 1);
    RestartTxFramer(ctx);
    RestartRxFramer(ctx);
    AckCommand(ctx, IcdRetrain);
}

// Echoed.
void CmdRenegotiate(DspContext* ctx)
{
    const int32_t rate = ctx->command.payload[0] & 0x3F;
    V34Link& v = ctx->v34;
    if (ctx->modeNumber == 16)
        V32Renegotiate(ctx);
    if (V34Mode(ctx)) {
        v.rateLimit[v.directionFlag & 1] = RateLimitOfRateCode(rate);
        if (v.v34State != 5)
            v.v34State = 1;
    }
    if (ctx->modeNumber == 23 && v.v34Active == 0)
        ctx->pcm.renegotiation = 1;
}

void CmdStartDataPump(DspContext* ctx)
{
    ParseConnectionOptions(ctx);
    switch (ctx->modeNumber) {
    case 2:
    case 3:
        StartLowSpeedMode(ctx, 15);
        break;
    case 6:
    case 7:
        StartV22Quick(ctx);
        break;
    case 12:
        ctx->v32OptionWord = 0x8880;
        StartV32bis(ctx, 0);
        break;
    case 16:
        ctx->v32OptionWord = 0x8990;
        StartV32bis(ctx, 0);
        break;
    case 17:
    case 18:
        InstallV34BlockHandler(ctx);
        break;
    default:
        break;
    }
    AckCommand(ctx, IcdStartDataPump);
}

void CmdQueryRate(DspContext* ctx)
{
    uint8_t rate;
    const V34Link& v = ctx->v34;
    if (V34Mode(ctx)) {
        const uint8_t index = v.rateIndex[0] & 0x0F;  // transmit
        rate = static_cast<uint8_t>(index > 11 ? index + 7 : index + 3);
    } else if (ctx->modeNumber == 23 && v.v34Active == 0) {
        rate = 13;
    } else {
        rate = static_cast<uint8_t>(ctx->connection.rateCode);
    }
    SetReply(ctx, IcdRateReport, 1, &rate);
}

// Echoed.
void CmdSetRateLimit(DspContext* ctx)
{
    if (!V34Mode(ctx))
        return;
    V34Link& v = ctx->v34;
    v.rateLimit[v.directionFlag & 1] = RateLimitOfRateCode(ctx->command.payload[0] & 0x3F);
}

// ((first x 16) | second) x 4, the two rate indices ordered by direction: the receive index first when
// originating, the transmit index first when answering.
void CmdQueryLinkParams(DspContext* ctx)
{
    const V34Link& v = ctx->v34;
    const uint32_t first = v.rateIndex[v.directionFlag ? 1 : 0] & 0x0Fu;
    const uint32_t second = v.rateIndex[v.directionFlag ? 0 : 1] & 0x0Fu;
    const uint16_t word = static_cast<uint16_t>(((first << 4) | second) << 2);
    if (PcmMode(ctx)) {
        uint8_t reply[8] = {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8)};
        for (int i = 0; i < 6; ++i)
            reply[2 + i] = ctx->pcm.fields[i];
        SetReply(ctx, IcdLinkParamsReport, sizeof(reply), reply);
        return;
    }
    const uint8_t reply[6] = {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8), 0, 11, 0, 0};
    SetReply(ctx, IcdLinkParamsReport, sizeof(reply), reply);
}
