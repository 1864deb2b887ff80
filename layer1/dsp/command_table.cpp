// The 68-slot command table (codes 0x60-0xA3) and the handlers that only set, store or report.
#include "layer1/dsp/command_dispatcher.h"

#include "layer1/dsp/mode_entries.h"
#include "layer1/dsp/register_window.h"
#include "platform/byte_order.h"
#include "window/icd_packet.h"

int16_t TxLevelOfGainWord(uint16_t word) { return IcdTxLevelOfWord(word); }

uint16_t RateLimitOfRateCode(int32_t rateCode)
{
    if (rateCode >= 4 && rateCode <= 11)
        return static_cast<uint16_t>(rateCode - 3);
    if (rateCode >= 16 && rateCode <= 21)
        return static_cast<uint16_t>(rateCode - 7);
    return 0;
}

void CmdResetDsp(DspContext* ctx)
{
    ResetDsp(ctx);
    AckCommand(ctx, IcdReset);
}

// Framer type of both directions; the character format and HDLC option bytes are accepted with no effect.
void CmdSetFraming(DspContext* ctx)
{
    const int32_t type = ctx->command.payload[0];
    InitRxFramer(ctx, type);
    InitTxFramer(ctx, type);
    AckCommand(ctx, IcdSetFraming);
}

// Echoed.
void CmdSetPumpOptions(DspContext* ctx)
{
    const CommandRecord& r = ctx->command;
    V34Link& v = ctx->v34;
    ctx->pumpOption = r.payload[0];
    v.optionWord = ReadLe16(r.payload);
    if (r.length == 2)
        v.extendedOptions = 0;
    if (r.length == 4 || r.length == 8) {
        v.extendedOptions = 1;
        v.optionWord = static_cast<uint16_t>(v.optionWord | ReadLe16(r.payload + 2));
    }
    v.singleOptionFlag = v.optionWord == 1 ? 1 : 0;
    ctx->phase2.only2400 = static_cast<uint16_t>(v.singleOptionFlag);
    if (r.length == 8) {
        v.optionValue32 = static_cast<uint32_t>(r.payload[4]) | (static_cast<uint32_t>(r.payload[5]) << 8) |
                          (static_cast<uint32_t>(r.payload[6]) << 16) | (static_cast<uint32_t>(r.payload[7]) << 24);
        v.optionWordHalf = static_cast<uint16_t>(v.optionWord >> 1);
    }
}

void CmdQueryMode(DspContext* ctx)
{
    const uint8_t mode = ctx->v34.v34Active ? 18 : static_cast<uint8_t>(ctx->modeNumber);
    SetReply(ctx, IcdModeReport, 1, &mode);
}

void CmdStartFaxPump(DspContext* ctx)
{
    const CommandRecord& r = ctx->command;
    ctx->faxRate = r.payload[0] & 0x0F;
    ctx->faxModulation = r.payload[0] >> 4;
    ctx->faxFlags[0] = (r.payload[1] >> 2) & 1;
    ctx->faxFlags[1] = (r.payload[1] >> 7) & 1;
    if (ctx->faxModulation == 3) {
        StartLowSpeedMode(ctx, ctx->faxFlags[0] ? 3 : 2);
        InitRxFramer(ctx, kFramerHdlc);
        InitTxFramer(ctx, kFramerHdlc);
    } else {
        StartFaxPump(ctx);
    }
    AckCommand(ctx, IcdStartFaxPump);
}

void CmdReleaseHold(DspContext* ctx)
{
    ReleaseHold(ctx);
    AckCommand(ctx, IcdReleaseHold);
}

void CmdSetHold(DspContext* ctx)
{
    SetHold(ctx);
    AckCommand(ctx, IcdSetHold);
}

void CmdSetTxLevel(DspContext* ctx)
{
    const CommandRecord& r = ctx->command;
    ctx->txLevelDb = TxLevelOfGainWord(ReadLe16(r.payload));
    ctx->txLevelFlag = r.payload[2] & 1;
    AckCommand(ctx, IcdSetTxLevel);
}

void CmdNop7D(DspContext* ctx)
{
    AckCommand(ctx, IcdNop7D);
}

void CmdSetLowerOption(DspContext* ctx)
{
    SetLowerOption8(ctx->lowerAudio, ctx->command.payload[0] & 3u);
    AckCommand(ctx, IcdSetLowerOption);
}

// A 32-bit link status word, then two 16-bit fields with their low bits cleared (bit 0; bits 0-1).
void CmdQueryLinkStatus(DspContext* ctx)
{
    const V34Link& v = ctx->v34;
    const uint16_t a = static_cast<uint16_t>(v.statusField[0] & ~1u);
    const uint16_t b = static_cast<uint16_t>(v.statusField[1] & ~3u);
    const uint8_t reply[8] = {
        static_cast<uint8_t>(v.linkStatus),       static_cast<uint8_t>(v.linkStatus >> 8),
        static_cast<uint8_t>(v.linkStatus >> 16), static_cast<uint8_t>(v.linkStatus >> 24),
        static_cast<uint8_t>(a),                  static_cast<uint8_t>(a >> 8),
        static_cast<uint8_t>(b),                  static_cast<uint8_t>(b >> 8),
    };
    SetReply(ctx, IcdStatusReport, sizeof(reply), reply);
}

void CmdRestartFramer(DspContext* ctx)
{
    if (ctx->command.payload[0] != 0)
        RestartRxFramer(ctx);
    else
        RestartTxFramer(ctx);
    AckCommand(ctx, IcdRestartFramer);
}

void CmdSetPhase2Params(DspContext* ctx)
{
    const uint8_t* p = ctx->command.payload;
    uint16_t* w = ctx->v34.phase2Words;
    w[0] = ReadLe16(p);
    w[1] = static_cast<uint16_t>(p[4] * 257);
    w[2] = ReadLe16(p + 2);
    w[3] = static_cast<uint16_t>(p[6] * 256 + (p[5] & 1));
    AckCommand(ctx, IcdSetPhase2Params);
}

void CmdSetCallerIdMode(DspContext* ctx)
{
    switch (ctx->command.payload[0]) {
    case 0:
        ctx->callerIdFlag = 0;
        SetLowerCallerId(ctx->lowerAudio, 0);
        break;
    case 1:
        ctx->callerIdFlag = 1;
        SetLowerCallerId(ctx->lowerAudio, 1);
        StartLowSpeedMode(ctx, 13);
        break;
    case 3: {
        ctx->modeState = 5;
        ctx->callerIdFlag = 1;
        const int32_t mode = ctx->modeNumber;
        StartLowSpeedMode(ctx, 13);
        ctx->modeNumber = mode;
        SetCallerIdReceiver(ctx);
        ctx->detectorMode = 4;
        break;
    }
    default:
        break;
    }
    ClearFskRxStatus(ctx);
    AckCommand(ctx, IcdSetCallerIdMode);
}

void CmdVersion(DspContext* ctx)
{
    uint8_t version[kIcdVersionLength];
    const int length = IcdEncode(IcdVersionPayload{{1, 4, 4, 67}}, version);
    SetReply(ctx, IcdVersionReport, static_cast<uint8_t>(length), version);
}

void CmdStartVoice(DspContext* ctx)
{
    StartVoiceMode(ctx);
    AckCommand(ctx, IcdStartVoice);
}

void CmdGoIdle(DspContext* ctx)
{
    UpdateStatusRegister(ctx->interfaceBlock, 0, 1);
    EnterIdleMode(ctx);
    AckCommand(ctx, IcdGoIdle);
}

void CmdSetLineByte(DspContext* ctx)
{
    ctx->lineStateByte = ctx->command.payload[0];
    VoiceLineHook(ctx, ctx->lineStateByte);
    VoiceLineHook(ctx, ctx->lineStateByte);
    AckCommand(ctx, IcdSetLineByte);
}

#define D DefaultCommand
const CommandHandler CommandTable[kCommandTableSlots] = {
    /* 0x60 */ CmdResetDsp,        CmdSetFraming,       D,                   D,
    /* 0x64 */ CmdSetPumpOptions,  CmdConfigDetectors,  CmdSetDtmfTiming,    CmdStartDigit,
    /* 0x68 */ CmdStartConnection, CmdRetrain,          D,                   CmdRenegotiate,
    /* 0x6C */ D,                  D,                   CmdStartDataPump,    D,
    /* 0x70 */ CmdQueryRate,       D,                   CmdQueryMode,        CmdStartFaxPump,
    /* 0x74 */ CmdReleaseHold,     CmdSetHold,          D,                   D,
    /* 0x78 */ D,                  D,                   D,                   CmdSetTxLevel,
    /* 0x7C */ CmdPlayTonePair,    CmdNop7D,            D,                   D,
    /* 0x80 */ D,                  CmdSetLowerOption,   CmdQueryLinkStatus,  D,
    /* 0x84 */ D,                  CmdSetRateLimit,     D,                   D,
    /* 0x88 */ CmdSetDualToneLevels, D,                 D,                   CmdRestartFramer,
    /* 0x8C */ D,                  D,                   D,                   D,
    /* 0x90 */ CmdSetPhase2Params, CmdQueryLinkParams,  D,                   CmdSetCallerIdMode,
    /* 0x94 */ CmdVersion,         CmdVoiceMode,        CmdSetVoiceParams,   CmdStartVoice,
    /* 0x98 */ CmdGoIdle,          D,                   D,                   D,
    /* 0x9C */ CmdSetLineControl,  D,                   D,                   D,
    /* 0xA0 */ CmdPhase2Control,   CmdPcmControl,       CmdSetLineByte,      CmdEndDownload,
};
#undef D
