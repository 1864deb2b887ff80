// The command entry of the emulated DSP and the 68-slot command table behind it.
#pragma once

#include <cstdint>

#include "layer1/dsp/dsp_context.h"
#include "window/icd_codes.h"

typedef void (*CommandHandler)(DspContext* context);

// Framer types used by the command handlers.
constexpr int32_t kFramerAsync = 0;
constexpr int32_t kFramerHdlc = 2;

extern const CommandHandler CommandTable[kCommandTableSlots];

// Runs a command the controller left in the window while a block held the device lock (lock held).
void RunPendingCommand(DspContext* context);

// The reply left in the command record: code, length, payload (at most 16 bytes).
void SetReply(DspContext* context, uint8_t code, uint8_t length, const uint8_t* payload);
void AckCommand(DspContext* context, uint8_t code);
void DefaultCommand(DspContext* context);

// Command handlers of the table owned by the emulated DSP itself.
void CmdSetFraming(DspContext* context);
void CmdSetPumpOptions(DspContext* context);
void CmdStartConnection(DspContext* context);
void CmdRetrain(DspContext* context);
void CmdRenegotiate(DspContext* context);
void CmdStartDataPump(DspContext* context);
void CmdQueryRate(DspContext* context);
void CmdQueryMode(DspContext* context);
void CmdStartFaxPump(DspContext* context);
void CmdReleaseHold(DspContext* context);
void CmdSetHold(DspContext* context);
void CmdSetTxLevel(DspContext* context);
void CmdNop7D(DspContext* context);
void CmdSetLowerOption(DspContext* context);
void CmdQueryLinkStatus(DspContext* context);
void CmdSetRateLimit(DspContext* context);
void CmdRestartFramer(DspContext* context);
void CmdSetPhase2Params(DspContext* context);
void CmdQueryLinkParams(DspContext* context);
void CmdSetCallerIdMode(DspContext* context);
void CmdVersion(DspContext* context);
void CmdStartVoice(DspContext* context);
void CmdGoIdle(DspContext* context);
void CmdSetLineByte(DspContext* context);
void CmdResetDsp(DspContext* context);

void ParseConnectionOptions(DspContext* context);
// Transmit level (dB) of a 0x7B gain word.
int16_t TxLevelOfGainWord(uint16_t word);
// Rate limit code of a rate code: 4-11 give code - 3, 16-21 code - 7, others 0.
uint16_t RateLimitOfRateCode(int32_t rateCode);
