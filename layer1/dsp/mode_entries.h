// Entry points of the framer, the tone generators, the detector bank, the FSK, V.22, V.32bis and fax pumps,
// voice mode and the call procedures that the command table and the reset call. Each lives in the file of
// the component that owns it; until a component is built its entries do nothing and its command handlers
// only acknowledge, so the command table never changes when it lands.
#pragma once

#include <cstdint>

#include "layer1/dsp/sequencer.h"

struct DspContext;

// Data framer (framer.cpp).
void InitRxFramer(DspContext* context, int32_t type);
void InitTxFramer(DspContext* context, int32_t type);
void RestartRxFramer(DspContext* context);
void RestartTxFramer(DspContext* context);
// Received bits in (0 < n <= 16, first bit in bit 0); the next n transmit bits out (-1: type 5 with nothing
// to send); received bytes to the receive chunk, once per block.
void FramerPutRxBits(DspContext* context, uint32_t bits, int32_t n);
int32_t FramerGetTxBits(DspContext* context, int32_t n);
void FramerPostRxBytes(DspContext* context);

// Tones and DTMF (tone_generator.cpp).
void StartTone(DspContext* context, int32_t type);
void CmdSetDtmfTiming(DspContext* context);
void CmdStartDigit(DspContext* context);
void CmdPlayTonePair(DspContext* context);
void CmdSetDualToneLevels(DspContext* context);

// Detector bank (detector_bank.cpp).
void CmdConfigDetectors(DspContext* context);
void ResetDetectorBank(DspContext* context);
void ResetCallProgressLevels(DspContext* context);
void SetDetectorSectionLevel(DspContext* context, int32_t section, int32_t level);
void RequestSectionReload(DspContext* context, int32_t set);
// The detector bank and the call-progress cadence over a 9600 Hz block in voice mode.
void VoiceCallProgress(DspContext* context, const int16_t* block, int32_t n);

// FSK modulations (layer1/modem/fsk/fsk_mode.cpp).
void StartLowSpeedMode(DspContext* context, int32_t type);
void SetCallerIdReceiver(DspContext* context);  // caller ID during a call: level 0x4000, option 5, flag 1
void ClearFskRxStatus(DspContext* context);
// The FSK receive list (the demodulator on every block), for a procedure that hands its listening over.
const StepEntry* FskReceiveList();
// The FSK receiver over a block, as the detector handler runs it for caller ID (modes 0 and 5); its level and
// carrier flag are ctx->fsk.demod.agc.level and ctx->fsk.demod.carrierOn.
void RunFskReceiver(DspContext* context, const int16_t* samples, int32_t n);

// Voice mode (layer1/modem/voice/voice_mode.cpp).
void StopVoice(DspContext* context);
// Enters voice when a voice start waits for the detector mode (a 0x97 sent outside detector mode 2).
void EnterVoiceIfPending(DspContext* context);
void StartVoiceMode(DspContext* context);
void VoiceLineHook(DspContext* context, int32_t value);
void CmdVoiceMode(DspContext* context);
void CmdSetVoiceParams(DspContext* context);
void CmdSetLineControl(DspContext* context);

// V.22 / V.22bis (modem/v22), V.32bis (modem/v32), fax (modem/fax).
void StartV22(DspContext* context);
void StartV22Quick(DspContext* context);
void StartV32bis(DspContext* context, int32_t type);
// True once the V.32bis pump can run a call; until then the procedures do not wait for a V.32bis answerer.
bool V32bisAvailable();
void V32Retrain(DspContext* context);
void V32Renegotiate(DspContext* context);
void StartFaxPump(DspContext* context);

// Answer and originate procedures (procedures.cpp).
void StartSingleToneProcedure(DspContext* context);
void StartBasicProcedure(DspContext* context);
void StartAutomodeProcedure(DspContext* context);
void StartV8Procedure(DspContext* context);
void Phase2OriginateContinue(DspContext* context);
void Phase2AnswerContinue(DspContext* context);
