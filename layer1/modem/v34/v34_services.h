// What the data-pump runtime uses of the V.34 and PCM pumps: their start, restart and reset entries, the
// command handlers they own, and the fields that the query commands read. Until those pumps exist the entries
// are stand-ins that keep the runtime's side working (v34_services.cpp); the fields are the pumps' own.
#pragma once

#include <cstdint>

#include "layer1/modem/v34/phase2_state.h"

struct DspContext;
struct FirState;

// V.34 pump fields that the runtime's commands read and write.
struct V34Link {
    // Rate-limit record (memory parameter 193): six 16-bit fields. Fields 0 and 1 are the limits of the two
    // directions (codes 1-14, 0 = no limit), indexed like rateIndex; fields 2-5 are the pump's.
    uint16_t rateLimit[6];
    uint8_t rateIndex[2];        // negotiated rate indices (4 bits each): [0] transmit, [1] receive
    int32_t directionFlag;       // 1 originating, 0 answering: selects the direction of the limit commands
    int32_t retrainInPlace;      // the pump's state asks for its own block handler on a retrain
    int32_t v34Flag;             // "the V.34 flag": the connection is a V.34 one
    int32_t v34Active;           // set by the V.34 pump once it runs; cleared by every option parse
    int32_t v34ModeFlag;         // set by a mode-18 start
    int32_t v34State;            // 1 renegotiate, 5 ...: the pump's own states
    int32_t optionBits;          // the 2-bit option of payload[1] x 8 (modes 17, 18), bit 0 in mode 18
    int32_t connectionFlags[3];  // option byte bits 4, 0 and 1 of a 6-byte start
    uint16_t optionWord;         // CmdSetPumpOptions
    int32_t extendedOptions;     // length-4 option command
    int32_t singleOptionFlag;    // option word exactly 1
    uint32_t optionValue32;      // length-8 option command
    uint16_t optionWordHalf;     // option word >> 1 (length 8)
    uint16_t phase2Words[4];     // CmdSetPhase2Params
    uint32_t linkStatus;         // CmdQueryLinkStatus
    uint16_t statusField[2];
    uint32_t pumpWord116;        // memory parameter 116 reads its high half
    uint32_t counter65603;       // memory parameter 65603 reads it / 4875
    int32_t equaliserTaps[2][40][2];  // two equalisers: 40 complex 32-bit taps (real, imaginary)
    uint32_t connectionOptionWord;  // bit 0 rates limited; bits 1 and 3 keep parts of keptWord1 at a phase-2 start
    int32_t fallenBackToV34;     // a PCM candidate's phase 2 fell back to V.34 (cleared by ResetPhase2State)
    int32_t txRateCode;          // transmit data-rate code for phase 3 (14 = 33600 bit/s)
    int32_t phase3Starts;        // StartV34Phase3 calls
};

// PCM pump fields.
struct PcmLink {
    int32_t skipTones;           // 0xA1 sub-code 2: CmdStartConnection skips the tone procedures
    int32_t renegotiation;       // set by 0x6B in mode 23 without the V.34-active flag
    uint8_t fields[6];           // the six bytes of the PCM link-parameter report
    uint16_t words[7];           // memory parameters 67576-67582 (67578 read live)
    uint16_t liveWord;           // what 67578 reads
    int32_t objectsCreated;
    int32_t rateFilterCreated;
    uint16_t defaults[2];        // 13 and 42 after a reset
    int32_t modeStarts;          // StartPcmMode calls (stand-in bookkeeping)
};

// Where phase 2 hands over: V.34 phase 3 (phase3_start.cpp) and PCM mode (a stand-in until that pump exists).
void StartV34Phase3(DspContext* context);
void StartPcmMode(DspContext* context);
void ResetV34Pump(DspContext* context);
void InstallV34BlockHandler(DspContext* context);
void CreatePcmRateFilter(DspContext* context);
void FreePcmRateFilter(DspContext* context);
void CreatePcmObjects(DspContext* context);
void FreePcmObjects(DspContext* context);
void ResetPcmState(DspContext* context);

// Command slots 0xA0, 0xA1 and 0xA3: the record is left as fetched (echo).
void CmdPhase2Control(DspContext* context);
void CmdPcmControl(DspContext* context);
void CmdEndDownload(DspContext* context);
